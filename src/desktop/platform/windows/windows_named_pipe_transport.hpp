#pragma once

#ifdef _WIN32

#include <cstdint>
#include <memory>

#include "desktop/desktop_transport.hpp"

namespace qop::desktop {

// Longest wait for one overlapped read or write on the desktop session pipe.
inline constexpr std::int64_t kPipeOperationTimeoutMs = 5000;

// A client of the desktop session's named pipe, not yet connected. The
// operation time-out is a parameter so that tests need not wait 5 s.
std::unique_ptr<DesktopTransport> make_named_pipe_transport(
    std::int64_t operation_timeout_ms = kPipeOperationTimeoutMs);

}  // namespace qop::desktop

#endif
