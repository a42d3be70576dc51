#pragma once

// The pieces of new_request_id(), exposed so that tests can reach the
// formatting and the fallback path.

#include <array>
#include <cstdint>
#include <string>

namespace qop::desktop {

using RequestIdBytes = std::array<std::uint8_t, 16>;

// Sets the version-4 and variant bits and writes the bytes as 32 lower-case
// hexadecimal digits.
std::string format_request_id(RequestIdBytes bytes);

// new_request_id() drawing from the system random source named by `token`
// (empty: the default source). When that source cannot be opened or fails,
// the bytes come from a locally seeded generator instead.
std::string new_request_id_from_source(const std::string& token);

}  // namespace qop::desktop
