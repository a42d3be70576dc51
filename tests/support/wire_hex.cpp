#include "support/wire_hex.hpp"

#include <cstdlib>
#include <stdexcept>

namespace qop::test {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::vector<std::uint8_t> wire_bytes(std::string_view notation) {
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < notation.size()) {
        const char c = notation[i];
        if (c == ' ' || c == '\n' || c == '\t') {
            ++i;
            continue;
        }
        if (c == '"') {
            const std::size_t end = notation.find('"', i + 1);
            if (end == std::string_view::npos) {
                throw std::invalid_argument("unterminated quote in wire notation");
            }
            for (std::size_t j = i + 1; j < end; ++j) {
                bytes.push_back(static_cast<std::uint8_t>(notation[j]));
            }
            i = end + 1;
            continue;
        }
        if (i + 1 >= notation.size() || hex_value(c) < 0 || hex_value(notation[i + 1]) < 0) {
            throw std::invalid_argument("bad hex pair in wire notation: " + std::string(notation));
        }
        bytes.push_back(static_cast<std::uint8_t>(hex_value(c) * 16 + hex_value(notation[i + 1])));
        i += 2;
    }
    return bytes;
}

std::string wire_string(std::string_view notation) {
    const std::vector<std::uint8_t> bytes = wire_bytes(notation);
    return std::string(bytes.begin(), bytes.end());
}

std::string to_hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::string to_hex(const std::string& bytes) {
    return to_hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace qop::test
