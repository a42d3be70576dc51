#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

#include <gdextension_interface.h>
#include <godot_cpp/core/defs.hpp>
#include <godot_cpp/core/memory.hpp>
#include <godot_cpp/core/method_bind.hpp>
#include <godot_cpp/core/object.hpp>
#include <godot_cpp/core/property_info.hpp>
#include <godot_cpp/core/type_info.hpp>

namespace godot {

#define DEFVAL(m_defval) (m_defval)

struct MethodDefinition {
    StringName name;
    std::vector<StringName> args;

    MethodDefinition() = default;
    MethodDefinition(const StringName& p_name) : name(p_name) {}
};

template <typename... Args>
MethodDefinition D_METHOD(const StringName& p_name, const Args&... p_args) {
    MethodDefinition definition(p_name);
    definition.args = {StringName(p_args)...};
    return definition;
}

// Records what classes register: methods, properties, signals, constants and
// the engine virtuals they override. Refusals are printed as engine errors.
class ClassDB {
public:
    template <typename T>
    static void register_class(bool p_virtual = false) {
        static_assert(std::is_same_v<typename T::self_type, T>,
                      "Class not declared properly, please use GDCLASS.");
        using Parent = typename T::parent_type;
        std::function<Object*()> create;
        if constexpr (!std::is_abstract_v<T>) {
            create = []() -> Object* { return memnew(T); };
        }
        if (T::_get_bind_methods() == Parent::_get_bind_methods()) {
            report_missing_bind_methods(T::get_class_static());
            return;
        }
        if (!begin_class(T::get_class_static(), T::get_parent_class_static(), p_virtual,
                         std::move(create))) {
            return;
        }
        T::_bind_methods();
        Parent::template register_virtuals<T, Parent>();
    }

    template <typename N, typename M, typename... VarArgs>
    static MethodBind* bind_method(N p_method_name, M p_method, VarArgs... p_args) {
        MethodBind* bind = internal::create_method_bind(p_method);
        return bind_method_record(MethodDefinition(p_method_name), bind,
                                  std::vector<Variant>{to_variant(p_args)...},
                                  class_name_of(p_method));
    }

    static void add_property(const StringName& p_class, const PropertyInfo& p_pinfo,
                             const StringName& p_setter, const StringName& p_getter,
                             int p_index = -1);
    static void add_signal(const StringName& p_class, const MethodInfo& p_signal);
    static void bind_integer_constant(const StringName& p_class_name, const StringName& p_enum_name,
                                      const StringName& p_constant_name,
                                      GDExtensionInt p_constant_value, bool p_is_bitfield = false);
    // Records that p_class overrides the engine virtual p_method.
    static void bind_virtual_method(const StringName& p_class, const StringName& p_method);

    static MethodBind* get_method(const StringName& p_class, const StringName& p_method);

private:
    template <typename T, typename R, typename... Args>
    static StringName class_name_of(R (T::*)(Args...)) {
        return T::get_class_static();
    }
    template <typename T, typename R, typename... Args>
    static StringName class_name_of(R (T::*)(Args...) const) {
        return T::get_class_static();
    }

    static void report_missing_bind_methods(const StringName& p_class);
    static bool begin_class(const StringName& p_class, const StringName& p_parent, bool p_virtual,
                            std::function<Object*()> p_create);
    static MethodBind* bind_method_record(const MethodDefinition& p_definition, MethodBind* p_bind,
                                          std::vector<Variant> p_defaults,
                                          const StringName& p_class);
};

}  // namespace godot

#define GDREGISTER_CLASS(m_class) ::godot::ClassDB::register_class<m_class>();
#define GDREGISTER_VIRTUAL_CLASS(m_class) ::godot::ClassDB::register_class<m_class>(true);

#define BIND_CONSTANT(m_constant) \
    ::godot::ClassDB::bind_integer_constant(get_class_static(), "", #m_constant, m_constant);
#define BIND_ENUM_CONSTANT(m_constant)                                                     \
    ::godot::ClassDB::bind_integer_constant(                                               \
        get_class_static(), ::godot::_gde_constant_get_enum_name(m_constant, #m_constant), \
        #m_constant, m_constant);
