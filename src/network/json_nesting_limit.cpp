#include "network/json_nesting_limit.hpp"

namespace qop::network {

bool json_nesting_exceeds(std::string_view json, std::size_t max_depth) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (const char c : json) {
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
            case '{':
            case '[':
                if (++depth > max_depth) {
                    return true;
                }
                break;
            case '}':
            case ']':
                // Unbalanced closers are the parser's to reject; never wrap.
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return false;
}

}  // namespace qop::network
