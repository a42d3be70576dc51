#pragma once

#include <cstdint>

#include <godot_cpp/variant/string.hpp>
#include <godot_cpp/variant/string_name.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace godot {

enum PropertyHint {
    PROPERTY_HINT_NONE = 0,
};

enum PropertyUsageFlags {
    PROPERTY_USAGE_NONE = 0,
    PROPERTY_USAGE_STORAGE = 2,
    PROPERTY_USAGE_EDITOR = 4,
    PROPERTY_USAGE_DEFAULT = PROPERTY_USAGE_STORAGE | PROPERTY_USAGE_EDITOR,
};

struct PropertyInfo {
    Variant::Type type = Variant::NIL;
    StringName name;
    StringName class_name;
    uint32_t hint = PROPERTY_HINT_NONE;
    String hint_string;
    uint32_t usage = PROPERTY_USAGE_DEFAULT;

    PropertyInfo() = default;
    PropertyInfo(Variant::Type p_type, const StringName& p_name,
                 PropertyHint p_hint = PROPERTY_HINT_NONE, const String& p_hint_string = "",
                 uint32_t p_usage = PROPERTY_USAGE_DEFAULT, const StringName& p_class_name = "")
        : type(p_type),
          name(p_name),
          class_name(p_class_name),
          hint(p_hint),
          hint_string(p_hint_string),
          usage(p_usage) {}
};

}  // namespace godot
