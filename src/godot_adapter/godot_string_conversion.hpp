#pragma once

// Engine Strings hold code points; everything inside the library is UTF-8 in
// byte strings. These two functions are the only crossing between them.

#include <string>

#include <godot_cpp/variant/string.hpp>

namespace qop::godot_adapter {

// The UTF-8 encoding of `text`, without a terminator.
std::string to_std_string(const godot::String& text);

// Decodes `text` as UTF-8 with its explicit length; invalid sequences become
// replacement characters.
godot::String to_godot_string(const std::string& text);

}  // namespace qop::godot_adapter
