#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <godot_cpp/classes/global_constants.hpp>
#include <godot_cpp/classes/wrapped.hpp>
#include <godot_cpp/variant/callable.hpp>
#include <godot_cpp/variant/string_name.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace godot {

// The engine's base object: an instance id, signals and their connections.
class Object : public Wrapped {
    friend class ::godot::ClassDB;
    friend class ::godot::Wrapped;

protected:
    static void _bind_methods() {}
    static void (*_get_bind_methods())() { return &Object::_bind_methods; }

public:
    using self_type = Object;
    static const StringName& get_class_static();
    static const StringName& get_parent_class_static();
    virtual StringName get_class() const { return get_class_static(); }
    template <typename T, typename B>
    static void register_virtuals() {}

    Object();
    ~Object() override;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    uint64_t get_instance_id() const { return instance_id_; }
    // True when this object's class is p_class or derives from it.
    bool is_class(const String& p_class) const;

    template <typename... Args>
    Error emit_signal(const StringName& p_signal, const Args&... p_args) {
        // Built in place rather than from an initializer list: g++ 12 warns
        // (falsely) about the list's temporary Variants at -O2.
        std::vector<Variant> arguments;
        arguments.reserve(sizeof...(Args));
        (arguments.emplace_back(p_args), ...);
        return emit_signal_with(p_signal, arguments);
    }
    Error connect(const StringName& p_signal, const Callable& p_callable, uint32_t p_flags = 0);
    void disconnect(const StringName& p_signal, const Callable& p_callable);
    bool is_connected(const StringName& p_signal, const Callable& p_callable) const;

    // Emits with the arguments already gathered (the engine's side of emit_signal).
    Error emit_signal_with(const StringName& p_signal, const std::vector<Variant>& p_arguments);

private:
    struct Connection {
        StringName signal;
        Callable callable;
        uint32_t flags;
    };

    uint64_t instance_id_;
    std::vector<Connection> connections_;
};

}  // namespace godot
