#pragma once

#include <cstddef>
#include <tuple>
#include <utility>
#include <vector>

#include <godot_cpp/classes/global_constants_binds.hpp>
#include <godot_cpp/core/type_info.hpp>
#include <godot_cpp/variant/string_name.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace godot {

class Object;

// A method bound for scripts: its signature in engine types and a way to
// call it with engine values. Callers check counts and types first.
class MethodBind {
public:
    virtual ~MethodBind() = default;

    const StringName& get_name() const { return name_; }
    const std::vector<StringName>& get_argument_names() const { return argument_names_; }
    const std::vector<Variant>& get_default_arguments() const { return default_arguments_; }
    virtual int get_argument_count() const = 0;
    virtual Variant::Type get_argument_type(int p_index) const = 0;
    virtual bool has_return() const = 0;
    virtual Variant::Type get_return_type() const = 0;
    virtual bool is_const() const = 0;

    // Calls with exactly get_argument_count() values.
    virtual Variant call(Object* p_instance, const std::vector<Variant>& p_arguments) const = 0;

    void set_name(const StringName& p_name) { name_ = p_name; }
    void set_argument_names(std::vector<StringName> p_names) {
        argument_names_ = std::move(p_names);
    }
    void set_default_arguments(std::vector<Variant> p_defaults) {
        default_arguments_ = std::move(p_defaults);
    }

private:
    StringName name_;
    std::vector<StringName> argument_names_;
    std::vector<Variant> default_arguments_;
};

namespace internal {

template <typename T, bool Const, typename R, typename... Args>
class MethodBindT final : public MethodBind {
public:
    using Method = std::conditional_t<Const, R (T::*)(Args...) const, R (T::*)(Args...)>;

    explicit MethodBindT(Method p_method) : method_(p_method) {}

    int get_argument_count() const override { return static_cast<int>(sizeof...(Args)); }
    Variant::Type get_argument_type(int p_index) const override {
        static constexpr Variant::Type types[] = {variant_type_of<Args>()..., Variant::NIL};
        return (p_index >= 0 && p_index < get_argument_count()) ? types[p_index] : Variant::NIL;
    }
    bool has_return() const override { return !std::is_void_v<R>; }
    Variant::Type get_return_type() const override {
        if constexpr (std::is_void_v<R>) {
            return Variant::NIL;
        } else {
            return variant_type_of<R>();
        }
    }
    bool is_const() const override { return Const; }

    Variant call(Object* p_instance, const std::vector<Variant>& p_arguments) const override {
        return call_with(static_cast<T*>(p_instance), p_arguments,
                         std::index_sequence_for<Args...>{});
    }

private:
    template <size_t... I>
    Variant call_with(T* p_instance, const std::vector<Variant>& p_arguments,
                      std::index_sequence<I...>) const {
        if constexpr (std::is_void_v<R>) {
            (p_instance->*method_)(from_variant<Args>(p_arguments[I])...);
            return Variant();
        } else {
            return to_variant((p_instance->*method_)(from_variant<Args>(p_arguments[I])...));
        }
    }

    Method method_;
};

template <typename T, typename R, typename... Args>
MethodBind* create_method_bind(R (T::*p_method)(Args...)) {
    return new MethodBindT<T, false, R, Args...>(p_method);
}

template <typename T, typename R, typename... Args>
MethodBind* create_method_bind(R (T::*p_method)(Args...) const) {
    return new MethodBindT<T, true, R, Args...>(p_method);
}

}  // namespace internal
}  // namespace godot
