#pragma once

#include <godot_cpp/variant/string.hpp>

namespace godot {

// An interned name in the engine; here a plain String with its own type.
class StringName {
public:
    StringName() = default;
    StringName(const char* p_latin1) : text_(p_latin1) {}
    StringName(const String& p_text) : text_(p_text) {}

    bool is_empty() const { return text_.is_empty(); }
    bool operator==(const StringName& p_other) const { return text_ == p_other.text_; }
    bool operator!=(const StringName& p_other) const { return text_ != p_other.text_; }
    bool operator==(const char* p_latin1) const { return text_ == p_latin1; }
    bool operator!=(const char* p_latin1) const { return text_ != p_latin1; }
    bool operator<(const StringName& p_other) const { return text_ < p_other.text_; }

    const String& text() const { return text_; }

private:
    String text_;
};

inline String::String(const StringName& p_name) : String(p_name.text()) {}

}  // namespace godot
