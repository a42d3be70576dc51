#pragma once

// What the engine's class database holds about each class, for tests to
// inspect: classes in registration order with their methods, properties,
// signals, constants and overridden engine virtuals, all in the order the
// class registered them.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <godot_cpp/core/method_bind.hpp>
#include <godot_cpp/core/object.hpp>
#include <godot_cpp/core/property_info.hpp>

namespace godot_standin {

struct PropertyRecord {
    godot::PropertyInfo info;
    godot::StringName setter;  // empty: read-only
    godot::StringName getter;
    int index = -1;
};

struct ConstantRecord {
    godot::StringName enum_name;  // "Class.Enum", or empty for a plain constant
    godot::StringName name;
    int64_t value = 0;
    bool is_bitfield = false;
};

struct ClassRecord {
    godot::StringName name;
    godot::StringName parent;
    bool is_extension = false;  // registered by a library (not one of the engine's own)
    bool is_virtual = false;    // scripts cannot instantiate it
    int level = 0;              // the initialization level it was registered at
    std::function<godot::Object*()> create;
    std::vector<std::unique_ptr<godot::MethodBind>> methods;
    std::vector<PropertyRecord> properties;
    std::vector<godot::MethodInfo> signals;
    std::vector<ConstantRecord> constants;
    std::vector<godot::StringName> virtuals;  // engine virtuals the class overrides

    const godot::MethodBind* method(const godot::StringName& p_name) const;
    const godot::MethodInfo* signal(const godot::StringName& p_name) const;
    const PropertyRecord* property(const godot::StringName& p_name) const;
    const ConstantRecord* constant(const godot::StringName& p_name) const;
    bool overrides(const godot::StringName& p_virtual) const;
};

// Lookups. A record stays valid until the level that registered it is
// deinitialized (the engine host's unload or destruction).
const ClassRecord* find_class(const godot::StringName& p_class);
// The classes libraries registered, in registration order.
std::vector<godot::StringName> extension_classes();
// These walk from p_class up through its parents.
bool inherits(const godot::StringName& p_class, const godot::StringName& p_ancestor);
const godot::MethodBind* find_method(const godot::StringName& p_class,
                                     const godot::StringName& p_method);
const godot::MethodInfo* find_signal(const godot::StringName& p_class,
                                     const godot::StringName& p_signal);
const PropertyRecord* find_property(const godot::StringName& p_class,
                                    const godot::StringName& p_property);
const ConstantRecord* find_constant(const godot::StringName& p_class,
                                    const godot::StringName& p_constant);
bool overrides_virtual(const godot::StringName& p_class, const godot::StringName& p_virtual);

}  // namespace godot_standin
