#include "desktop/pipe_wait_and_error_text.hpp"

#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {

std::uint32_t clamp_wait_milliseconds(std::int64_t milliseconds) {
    constexpr std::int64_t longest_finite_wait = 0xFFFFFFFE;
    if (milliseconds <= 0) {
        return 0;
    }
    if (milliseconds > longest_finite_wait) {
        return static_cast<std::uint32_t>(longest_finite_wait);
    }
    return static_cast<std::uint32_t>(milliseconds);
}

std::string message_with_system_text(const std::string& message, const std::string& system_text) {
    if (system_text.empty()) {
        return message;
    }
    return message + ": " + system_text;
}

SdkError make_bridge_error_with_text(const std::string& message, const std::string& system_text) {
    SdkError error;
    error.code = "DESKTOP_SESSION_BRIDGE_ERROR";
    error.message = message_with_system_text(message, system_text);
    error.category = "channel";
    error.retryable = true;
    return error;
}

}  // namespace qop::desktop
