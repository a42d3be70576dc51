#pragma once

#include <godot_cpp/variant/string.hpp>

namespace godot {
namespace internal {

// A text inside double quotes with \\, \" and the control escapes \b \f \n
// \r \t \v written out; every other code point is kept as it is.
String quote_for_json(const String& p_text);
// The same quoting, as the engine shows strings inside containers.
inline String quote_for_display(const String& p_text) {
    return quote_for_json(p_text);
}

}  // namespace internal
}  // namespace godot
