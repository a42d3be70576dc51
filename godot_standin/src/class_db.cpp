#include <godot_cpp/core/class_db.hpp>

#include <godot_standin/class_records.hpp>

#include "class_registry.hpp"
#include "engine_errors.hpp"
#include "script_calls.hpp"

namespace godot {
namespace {

using godot_standin::ClassRecord;
using godot_standin::internal::ClassRegistry;

std::string quoted(const StringName& p_name) {
    return "'" + internal::to_utf8(p_name) + "'";
}

// The record of a class a library registered, or null with an error.
ClassRecord* extension_record(const StringName& p_class, const char* p_function) {
    ClassRecord* record = ClassRegistry::get().find(p_class);
    if (record == nullptr || !record->is_extension) {
        internal::print_binding_error("Class " + quoted(p_class) + " is not registered.",
                                      p_function);
        return nullptr;
    }
    return record;
}

}  // namespace

bool ClassDB::begin_class(const StringName& p_class, const StringName& p_parent, bool p_virtual,
                          std::function<Object*()> p_create) {
    ClassRegistry& registry = ClassRegistry::get();
    if (registry.find(p_class) != nullptr) {
        internal::print_binding_error("Class " + quoted(p_class) + " is already registered.",
                                      "ClassDB::register_class");
        return false;
    }
    if (registry.find(p_parent) == nullptr) {
        internal::print_binding_error("Class " + quoted(p_class) + " inherits " + quoted(p_parent) +
                                          ", which is not registered.",
                                      "ClassDB::register_class");
        return false;
    }
    auto record = std::make_unique<ClassRecord>();
    record->name = p_class;
    record->parent = p_parent;
    record->is_extension = true;
    record->is_virtual = p_virtual;
    record->level = registry.current_level;
    record->create = std::move(p_create);
    registry.add(std::move(record));
    return true;
}

void ClassDB::report_missing_bind_methods(const StringName& p_class) {
    internal::print_binding_error(
        "Class " + quoted(p_class) + " must declare 'static void _bind_methods()'.",
        "ClassDB::register_class");
}

MethodBind* ClassDB::bind_method_record(const MethodDefinition& p_definition, MethodBind* p_bind,
                                        std::vector<Variant> p_defaults,
                                        const StringName& p_class) {
    std::unique_ptr<MethodBind> bind(p_bind);
    ClassRecord* record = extension_record(p_class, "ClassDB::bind_method");
    if (record == nullptr) {
        return nullptr;
    }
    const std::string where = quoted(p_class) + "::" + quoted(p_definition.name);
    if (record->method(p_definition.name) != nullptr) {
        internal::print_binding_error("Method " + where + " already exists.",
                                      "ClassDB::bind_method");
        return nullptr;
    }
    const size_t argument_count = static_cast<size_t>(bind->get_argument_count());
    if (p_definition.args.size() > argument_count) {
        internal::print_binding_error("Method " + where + " names more arguments than it takes.",
                                      "ClassDB::bind_method");
        return nullptr;
    }
    if (p_defaults.size() > argument_count) {
        internal::print_binding_error(
            "Method " + where + " has more default values than arguments.", "ClassDB::bind_method");
        return nullptr;
    }
    bind->set_name(p_definition.name);
    bind->set_argument_names(p_definition.args);
    bind->set_default_arguments(std::move(p_defaults));
    record->methods.push_back(std::move(bind));
    return record->methods.back().get();
}

void ClassDB::add_property(const StringName& p_class, const PropertyInfo& p_pinfo,
                           const StringName& p_setter, const StringName& p_getter, int p_index) {
    ClassRecord* record = extension_record(p_class, "ClassDB::add_property");
    if (record == nullptr) {
        return;
    }
    const std::string where = quoted(p_class) + "::" + quoted(p_pinfo.name);
    if (record->property(p_pinfo.name) != nullptr) {
        internal::print_binding_error("Property " + where + " already exists.",
                                      "ClassDB::add_property");
        return;
    }
    const MethodBind* getter = godot_standin::find_method(p_class, p_getter);
    if (getter == nullptr || getter->get_argument_count() != 0) {
        internal::print_binding_error(
            "Property " + where + " has no getter " + quoted(p_getter) + " without arguments.",
            "ClassDB::add_property");
        return;
    }
    if (!p_setter.is_empty()) {
        const MethodBind* setter = godot_standin::find_method(p_class, p_setter);
        if (setter == nullptr || setter->get_argument_count() != 1) {
            internal::print_binding_error(
                "Property " + where + " has no setter " + quoted(p_setter) + " of one argument.",
                "ClassDB::add_property");
            return;
        }
    }
    record->properties.push_back(
        godot_standin::PropertyRecord{p_pinfo, p_setter, p_getter, p_index});
}

void ClassDB::add_signal(const StringName& p_class, const MethodInfo& p_signal) {
    ClassRecord* record = extension_record(p_class, "ClassDB::add_signal");
    if (record == nullptr) {
        return;
    }
    if (godot_standin::find_signal(p_class, p_signal.name) != nullptr) {
        internal::print_binding_error(
            "Signal " + quoted(p_class) + "::" + quoted(p_signal.name) + " already exists.",
            "ClassDB::add_signal");
        return;
    }
    record->signals.push_back(p_signal);
}

void ClassDB::bind_integer_constant(const StringName& p_class_name, const StringName& p_enum_name,
                                    const StringName& p_constant_name,
                                    GDExtensionInt p_constant_value, bool p_is_bitfield) {
    ClassRecord* record = extension_record(p_class_name, "ClassDB::bind_integer_constant");
    if (record == nullptr) {
        return;
    }
    if (record->constant(p_constant_name) != nullptr) {
        internal::print_binding_error("Constant " + quoted(p_class_name) +
                                          "::" + quoted(p_constant_name) + " already exists.",
                                      "ClassDB::bind_integer_constant");
        return;
    }
    record->constants.push_back(godot_standin::ConstantRecord{
        p_enum_name, p_constant_name, static_cast<int64_t>(p_constant_value), p_is_bitfield});
}

void ClassDB::bind_virtual_method(const StringName& p_class, const StringName& p_method) {
    ClassRecord* record = extension_record(p_class, "ClassDB::bind_virtual_method");
    if (record != nullptr && !record->overrides(p_method)) {
        record->virtuals.push_back(p_method);
    }
}

MethodBind* ClassDB::get_method(const StringName& p_class, const StringName& p_method) {
    return const_cast<MethodBind*>(godot_standin::find_method(p_class, p_method));
}

}  // namespace godot
