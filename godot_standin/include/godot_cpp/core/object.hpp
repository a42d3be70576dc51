#pragma once

#include <cstdint>
#include <vector>

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/core/property_info.hpp>
#include <godot_cpp/variant/string_name.hpp>
#include <godot_cpp/variant/variant.hpp>

#define ADD_SIGNAL(m_signal) ::godot::ClassDB::add_signal(get_class_static(), m_signal)
#define ADD_PROPERTY(m_property, m_setter, m_getter) \
    ::godot::ClassDB::add_property(get_class_static(), m_property, m_setter, m_getter)

namespace godot {

enum MethodFlags {
    METHOD_FLAG_NORMAL = 1,
    METHOD_FLAGS_DEFAULT = METHOD_FLAG_NORMAL,
};

// A signal's (or method's) name with its arguments and result.
struct MethodInfo {
    StringName name;
    PropertyInfo return_val;
    uint32_t flags = METHOD_FLAGS_DEFAULT;
    std::vector<PropertyInfo> arguments;
    std::vector<Variant> default_arguments;

    MethodInfo() = default;
    explicit MethodInfo(const StringName& p_name) : name(p_name) {}
    template <typename... Args>
    MethodInfo(const StringName& p_name, const PropertyInfo& p_first, const Args&... p_rest)
        : name(p_name), arguments{p_first, p_rest...} {}
    MethodInfo(Variant::Type p_return, const StringName& p_name) : name(p_name) {
        return_val.type = p_return;
    }
    template <typename... Args>
    MethodInfo(Variant::Type p_return, const StringName& p_name, const PropertyInfo& p_first,
               const Args&... p_rest)
        : name(p_name), arguments{p_first, p_rest...} {
        return_val.type = p_return;
    }
};

// Finds live objects by instance id; null once the object is freed.
class ObjectDB {
public:
    static Object* get_instance(uint64_t p_object_id);
};

}  // namespace godot
