#pragma once

#include <cstddef>
#include <string_view>

namespace google::protobuf {
class Struct;
}

namespace qop::network {

// The protobuf JSON parser slows down badly on deeply nested input, so text
// from the network is checked for depth before it is parsed.
inline constexpr std::size_t kMaxRelayJsonDepth = 64;

// True when the bracket nesting ('[' and '{' outside strings) never goes
// deeper than `max_depth`. Says nothing else about the text's validity.
bool json_nesting_within(std::string_view text, std::size_t max_depth);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Parses `text` as one JSON object into `object`, ignoring unknown fields,
// after refusing text nested deeper than kMaxRelayJsonDepth.
bool parse_untrusted_json_object(std::string_view text, google::protobuf::Struct& object);

}  // namespace qop::network
