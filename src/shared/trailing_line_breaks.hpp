#pragma once

#include <string>

namespace qop::network {

// System message texts end in a line break; it does not belong in ours.
void strip_trailing_line_breaks(std::wstring& text);

}  // namespace qop::network
