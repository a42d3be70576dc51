#pragma once

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/variant/string.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace godot {

// The engine's JSON writer and reader.
class JSON : public Object {
    GDEXTENSION_CLASS(JSON, Object)

public:
    // Compact when p_indent is empty; keys sorted by code point when asked.
    static String stringify(const Variant& p_data, const String& p_indent = "",
                            bool p_sort_keys = true, bool p_full_precision = false);
    // Every number becomes a float; any error gives nil.
    static Variant parse_string(const String& p_json_string);
};

}  // namespace godot
