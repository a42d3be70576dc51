#include "shared/untrusted_json.hpp"

#include <cstdint>

#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>

namespace qop::network {

bool json_nesting_within(std::string_view text, std::size_t max_depth) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (const char c : text) {
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                in_string = true;
                break;
            case '[':
            case '{':
                if (++depth > max_depth) {
                    return false;
                }
                break;
            case ']':
            case '}':
                // Unbalanced closers are the parser's business, not a depth.
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return true;
}

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t extra = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i - 1 < extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool parse_untrusted_json_object(std::string_view text, google::protobuf::Struct& object) {
    if (!json_nesting_within(text, kMaxRelayJsonDepth)) {
        return false;
    }
    google::protobuf::util::JsonParseOptions options;
    options.ignore_unknown_fields = true;
    const google::protobuf::StringPiece input(text.data(), text.size());
    return google::protobuf::util::JsonStringToMessage(input, &object, options).ok();
}

}  // namespace qop::network
