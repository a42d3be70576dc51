#include "shared/trailing_line_breaks.hpp"

namespace qop::network {

void strip_trailing_line_breaks(std::wstring& text) {
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) {
        text.pop_back();
    }
}

}  // namespace qop::network
