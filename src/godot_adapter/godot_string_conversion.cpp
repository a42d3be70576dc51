#include "godot_adapter/godot_string_conversion.hpp"

#include <cstdint>

#include <godot_cpp/variant/char_string.hpp>

namespace qop::godot_adapter {

std::string to_std_string(const godot::String& text) {
    const godot::CharString encoded = text.utf8();
    const int64_t length = encoded.length();
    if (length <= 0) {
        return std::string();
    }
    return std::string(encoded.get_data(), static_cast<std::size_t>(length));
}

godot::String to_godot_string(const std::string& text) {
    if (text.empty()) {
        return godot::String();
    }
    return godot::String::utf8(text.data(), static_cast<int64_t>(text.size()));
}

}  // namespace qop::godot_adapter
