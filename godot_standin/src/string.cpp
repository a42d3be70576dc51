#include <godot_cpp/variant/string.hpp>

#include <cstring>

namespace godot {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_continuation(unsigned char p_byte) {
    return (p_byte & 0xC0) == 0x80;
}

// Decodes one sequence starting at p_bytes[0]; returns the bytes it used
// (1 for an invalid sequence, which yields U+FFFD).
size_t decode_one(const unsigned char* p_bytes, size_t p_available, char32_t& r_code_point) {
    const unsigned char lead = p_bytes[0];
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        r_code_point = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        r_code_point = kReplacement;
        return 1;
    }
    if (p_available < length) {
        r_code_point = kReplacement;
        return 1;
    }
    for (size_t i = 1; i < length; ++i) {
        if (!is_continuation(p_bytes[i])) {
            r_code_point = kReplacement;
            return 1;
        }
        value = (value << 6) | (p_bytes[i] & 0x3F);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (value < minimum || value > 0x10FFFF || surrogate) {
        r_code_point = kReplacement;
        return 1;
    }
    r_code_point = value;
    return length;
}

void encode_one(char32_t p_code_point, std::string& r_out) {
    char32_t c = p_code_point;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        r_out += static_cast<char>(c);
    } else if (c < 0x800) {
        r_out += static_cast<char>(0xC0 | (c >> 6));
        r_out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        r_out += static_cast<char>(0xE0 | (c >> 12));
        r_out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        r_out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        r_out += static_cast<char>(0xF0 | (c >> 18));
        r_out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        r_out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        r_out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

String::String(const char* p_latin1) {
    if (p_latin1 == nullptr) {
        return;
    }
    for (const char* c = p_latin1; *c != '\0'; ++c) {
        data_ += static_cast<char32_t>(static_cast<unsigned char>(*c));
    }
}

String::String(const char32_t* p_code_points) {
    if (p_code_points != nullptr) {
        data_ = p_code_points;
    }
}

String String::utf8(const char* p_utf8, int64_t p_len) {
    String result;
    if (p_utf8 == nullptr) {
        return result;
    }
    size_t size = p_len < 0 ? std::strlen(p_utf8) : static_cast<size_t>(p_len);
    // The engine stops at a NUL even inside the given length.
    const void* nul = std::memchr(p_utf8, 0, size);
    if (nul != nullptr) {
        size = static_cast<size_t>(static_cast<const char*>(nul) - p_utf8);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(p_utf8);
    size_t index = 0;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        index = 3;
    }
    while (index < size) {
        char32_t code_point = 0;
        index += decode_one(bytes + index, size - index, code_point);
        result.data_ += code_point;
    }
    return result;
}

CharString String::utf8() const {
    std::string bytes;
    bytes.reserve(data_.size());
    for (char32_t c : data_) {
        encode_one(c, bytes);
    }
    return CharString(std::move(bytes));
}

bool String::begins_with(const String& p_prefix) const {
    return data_.compare(0, p_prefix.data_.size(), p_prefix.data_) == 0;
}

String String::strip_edges(bool p_left, bool p_right) const {
    size_t begin = 0;
    size_t end = data_.size();
    if (p_left) {
        while (begin < end && data_[begin] <= 32) {
            ++begin;
        }
    }
    if (p_right) {
        while (end > begin && data_[end - 1] <= 32) {
            --end;
        }
    }
    return from_code_points(data_.substr(begin, end - begin));
}

String String::operator+(const String& p_other) const {
    return from_code_points(data_ + p_other.data_);
}

String& String::operator+=(const String& p_other) {
    data_ += p_other.data_;
    return *this;
}

String& String::operator+=(char32_t p_code_point) {
    data_ += p_code_point;
    return *this;
}

String String::from_code_points(std::u32string p_code_points) {
    String result;
    result.data_ = std::move(p_code_points);
    return result;
}

String operator+(const char* p_latin1, const String& p_string) {
    return String(p_latin1) + p_string;
}

}  // namespace godot
