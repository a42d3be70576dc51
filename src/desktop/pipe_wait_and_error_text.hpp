#pragma once

// The small rules of the pipe transport's system calls: how long a wait may
// be, and how a failure and the system's own text become the error we report.

#include <cstdint>
#include <string>

namespace qop::desktop {

struct SdkError;

// Windows waits take a DWORD in which 0xFFFFFFFF means "forever"; a
// negative or huge time must never turn into an endless wait.
std::uint32_t clamp_wait_milliseconds(std::int64_t milliseconds);

// The message, then ": " and the system's text when there is one.
std::string message_with_system_text(const std::string& message, const std::string& system_text);

// The error of every operating-system failure of the pipe transport.
SdkError make_bridge_error_with_text(const std::string& message, const std::string& system_text);

}  // namespace qop::desktop
