#pragma once

#include <cstddef>
#include <string_view>

namespace qop::network {

// True when the brackets of `json` ('{' and '[' outside string literals) nest
// deeper than `max_depth`. protobuf's JSON parser becomes very slow on deeply
// nested input, so untrusted text is measured with this before it is parsed.
// Only nesting is judged here; malformed text is left to the parser.
bool json_nesting_exceeds(std::string_view json, std::size_t max_depth);

}  // namespace qop::network
