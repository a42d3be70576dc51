#pragma once

#include <godot_cpp/variant/string_name.hpp>

namespace godot {

class ClassDB;

// The root of every class that exists on both sides of the engine boundary.
class Wrapped {
public:
    virtual ~Wrapped() = default;
};

}  // namespace godot

// Declares the engine-facing identity of a class: its name (the token as
// written), its parent, and the hooks through which registration runs the
// class's _bind_methods and binds the engine virtuals it overrides.
#define GDCLASS(m_class, m_inherits)                              \
private:                                                          \
    friend class ::godot::ClassDB;                                \
    friend class ::godot::Wrapped;                                \
                                                                  \
public:                                                           \
    using self_type = m_class;                                    \
    using parent_type = m_inherits;                               \
    static const ::godot::StringName& get_class_static() {        \
        static const ::godot::StringName class_name(#m_class);    \
        return class_name;                                        \
    }                                                             \
    static const ::godot::StringName& get_parent_class_static() { \
        return m_inherits::get_class_static();                    \
    }                                                             \
    ::godot::StringName get_class() const override {              \
        return get_class_static();                                \
    }                                                             \
    template <typename T, typename B>                             \
    static void register_virtuals() {                             \
        m_inherits::template register_virtuals<T, B>();           \
    }                                                             \
                                                                  \
protected:                                                        \
    static void (*_get_bind_methods())() {                        \
        return &m_class::_bind_methods;                           \
    }                                                             \
                                                                  \
private:

// The same for the engine's own classes, whose members the engine binds.
#define GDEXTENSION_CLASS(m_class, m_inherits)                    \
private:                                                          \
    friend class ::godot::ClassDB;                                \
    friend class ::godot::Wrapped;                                \
                                                                  \
protected:                                                        \
    static void _bind_methods() {}                                \
    static void (*_get_bind_methods())() {                        \
        return &m_class::_bind_methods;                           \
    }                                                             \
                                                                  \
public:                                                           \
    using self_type = m_class;                                    \
    using parent_type = m_inherits;                               \
    static const ::godot::StringName& get_class_static() {        \
        static const ::godot::StringName class_name(#m_class);    \
        return class_name;                                        \
    }                                                             \
    static const ::godot::StringName& get_parent_class_static() { \
        return m_inherits::get_class_static();                    \
    }                                                             \
    ::godot::StringName get_class() const override {              \
        return get_class_static();                                \
    }                                                             \
                                                                  \
private:
