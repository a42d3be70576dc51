#include <charconv>
#include <cmath>
#include <string>

#include <godot_cpp/classes/json.hpp>

namespace godot {
namespace {

// Deeper nesting is refused, as the engine refuses it, so that hostile input
// cannot exhaust the stack.
constexpr int kMaxDepth = 512;

class JsonReader {
public:
    explicit JsonReader(const std::u32string& p_text) : text_(p_text) {}

    bool read_document(Variant& r_value) {
        if (!read_value(r_value, 0)) {
            return false;
        }
        skip_whitespace();
        return at_end();
    }

private:
    bool at_end() const { return pos_ >= text_.size(); }
    char32_t peek() const { return text_[pos_]; }

    void skip_whitespace() {
        while (!at_end() && peek() <= 32) {
            ++pos_;
        }
    }

    bool read_value(Variant& r_value, int p_depth) {
        if (p_depth > kMaxDepth) {
            return false;
        }
        skip_whitespace();
        if (at_end()) {
            return false;
        }
        const char32_t c = peek();
        if (c == '{') {
            return read_object(r_value, p_depth);
        }
        if (c == '[') {
            return read_array(r_value, p_depth);
        }
        if (c == '"') {
            String text;
            if (!read_string(text)) {
                return false;
            }
            r_value = text;
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            return read_number(r_value);
        }
        return read_word(r_value);
    }

    // Reads the items of an array or object, its opening bracket first, up to
    // `close`. Like the engine, a comma before the closing bracket is accepted.
    template <typename ReadItem>
    bool read_items(char32_t close, ReadItem read_item) {
        ++pos_;
        bool need_comma = false;
        while (true) {
            skip_whitespace();
            if (at_end()) {
                return false;
            }
            if (peek() == close) {
                ++pos_;
                return true;
            }
            if (need_comma) {
                if (peek() != ',') {
                    return false;
                }
                ++pos_;
                need_comma = false;
                continue;
            }
            if (!read_item()) {
                return false;
            }
            need_comma = true;
        }
    }

    bool read_array(Variant& r_value, int p_depth) {
        Array array;
        const bool read = read_items(']', [&] {
            Variant element;
            if (!read_value(element, p_depth + 1)) {
                return false;
            }
            array.push_back(element);
            return true;
        });
        if (read) {
            r_value = array;
        }
        return read;
    }

    // The last of duplicate keys wins.
    bool read_object(Variant& r_value, int p_depth) {
        Dictionary dictionary;
        const bool read = read_items('}', [&] {
            if (peek() != '"') {
                return false;
            }
            String key;
            if (!read_string(key)) {
                return false;
            }
            skip_whitespace();
            if (at_end() || peek() != ':') {
                return false;
            }
            ++pos_;
            Variant value;
            if (!read_value(value, p_depth + 1)) {
                return false;
            }
            dictionary.set(key, value);
            return true;
        });
        if (read) {
            r_value = dictionary;
        }
        return read;
    }

    bool read_hex4(char32_t& r_value) {
        if (text_.size() - pos_ < 4) {
            return false;
        }
        r_value = 0;
        for (int i = 0; i < 4; ++i) {
            const char32_t c = text_[pos_++];
            int digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<int>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<int>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<int>(c - 'A' + 10);
            } else {
                return false;
            }
            r_value = (r_value << 4) | static_cast<char32_t>(digit);
        }
        return true;
    }

    bool read_escape(std::u32string& r_out) {
        if (at_end()) {
            return false;
        }
        const char32_t c = text_[pos_++];
        switch (c) {
            case '"':
                r_out += U'"';
                return true;
            case '\\':
                r_out += U'\\';
                return true;
            case '/':
                r_out += U'/';
                return true;
            case 'b':
                r_out += U'\b';
                return true;
            case 'f':
                r_out += U'\f';
                return true;
            case 'n':
                r_out += U'\n';
                return true;
            case 'r':
                r_out += U'\r';
                return true;
            case 't':
                r_out += U'\t';
                return true;
            case 'u': {
                char32_t unit = 0;
                if (!read_hex4(unit)) {
                    return false;
                }
                if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    return false;  // a trail surrogate without its lead
                }
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    char32_t trail = 0;
                    if (text_.size() - pos_ < 2 || text_[pos_] != '\\' || text_[pos_ + 1] != 'u') {
                        return false;
                    }
                    pos_ += 2;
                    if (!read_hex4(trail) || trail < 0xDC00 || trail > 0xDFFF) {
                        return false;
                    }
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00);
                }
                r_out += unit;
                return true;
            }
            default:
                return false;
        }
    }

    bool read_string(String& r_text) {
        ++pos_;
        std::u32string out;
        while (!at_end()) {
            const char32_t c = text_[pos_++];
            if (c == '"') {
                r_text = String::from_code_points(std::move(out));
                return true;
            }
            if (c == '\\') {
                if (!read_escape(out)) {
                    return false;
                }
            } else {
                out += c;
            }
        }
        return false;
    }

    // Every number becomes a float, as in the engine.
    bool read_number(Variant& r_value) {
        std::string ascii;
        auto take_digits = [&]() {
            size_t count = 0;
            while (!at_end() && peek() >= '0' && peek() <= '9') {
                ascii += static_cast<char>(text_[pos_++]);
                ++count;
            }
            return count;
        };
        if (peek() == '-') {
            ascii += '-';
            ++pos_;
        }
        if (take_digits() == 0) {
            return false;
        }
        if (!at_end() && peek() == '.') {
            ascii += '.';
            ++pos_;
            if (take_digits() == 0) {
                return false;
            }
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            ascii += 'e';
            ++pos_;
            if (!at_end() && (peek() == '+' || peek() == '-')) {
                ascii += static_cast<char>(text_[pos_++]);
            }
            if (take_digits() == 0) {
                return false;
            }
        }
        double value = 0.0;
        const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
        if (result.ec == std::errc::result_out_of_range) {
            // Too large is infinite; too small is zero (the exponent says which).
            const size_t e = ascii.find('e');
            const bool tiny = e != std::string::npos && ascii.find('-', e) != std::string::npos;
            value = tiny ? 0.0 : HUGE_VAL;
            if (ascii[0] == '-') {
                value = -value;
            }
        } else if (result.ec != std::errc()) {
            return false;
        }
        r_value = value;
        return true;
    }

    bool read_word(Variant& r_value) {
        std::u32string word;
        while (!at_end()) {
            const char32_t c = peek();
            const bool word_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                   (c >= '0' && c <= '9') || c == '_';
            if (!word_char) {
                break;
            }
            word += c;
            ++pos_;
        }
        if (word == U"true") {
            r_value = true;
        } else if (word == U"false") {
            r_value = false;
        } else if (word == U"null") {
            r_value = Variant();
        } else {
            return false;
        }
        return true;
    }

    const std::u32string& text_;
    size_t pos_ = 0;
};

}  // namespace

Variant JSON::parse_string(const String& p_json_string) {
    Variant value;
    JsonReader reader(p_json_string.code_points());
    if (!reader.read_document(value)) {
        return Variant();
    }
    return value;
}

}  // namespace godot
