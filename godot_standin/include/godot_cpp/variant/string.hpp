#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <godot_cpp/variant/char_string.hpp>

namespace godot {

class StringName;

// The engine's text type: a sequence of Unicode code points.
class String {
public:
    String() = default;
    // Reads the bytes as Latin-1, one code point per byte, up to the NUL.
    String(const char* p_latin1);
    String(const char32_t* p_code_points);
    String(const StringName& p_name);

    // Decodes UTF-8 (up to p_len bytes, or to the NUL when p_len is negative;
    // a NUL inside the range also ends the text). A leading byte order mark is
    // skipped and every invalid sequence becomes U+FFFD.
    static String utf8(const char* p_utf8, int64_t p_len = -1);
    CharString utf8() const;

    int64_t length() const { return static_cast<int64_t>(data_.size()); }
    bool is_empty() const { return data_.empty(); }
    bool begins_with(const String& p_prefix) const;
    // Removes the code points 32 and below from the chosen ends.
    String strip_edges(bool p_left = true, bool p_right = true) const;

    char32_t operator[](int64_t p_index) const { return data_[static_cast<size_t>(p_index)]; }
    const char32_t* ptr() const { return data_.c_str(); }

    bool operator==(const String& p_other) const { return data_ == p_other.data_; }
    bool operator!=(const String& p_other) const { return data_ != p_other.data_; }
    bool operator==(const char* p_latin1) const { return *this == String(p_latin1); }
    bool operator!=(const char* p_latin1) const { return !(*this == p_latin1); }
    bool operator<(const String& p_other) const { return data_ < p_other.data_; }
    String operator+(const String& p_other) const;
    String& operator+=(const String& p_other);
    String& operator+=(char32_t p_code_point);

    // The code points themselves, for the rest of the stand-in.
    const std::u32string& code_points() const { return data_; }
    static String from_code_points(std::u32string p_code_points);

private:
    std::u32string data_;
};

String operator+(const char* p_latin1, const String& p_string);

}  // namespace godot
