#include <array>
#include <string_view>

#include "desktop/desktop_session_codec.hpp"

namespace qop::desktop {
namespace {

// Codes with which the desktop client rejects the game itself; asking again
// cannot change the answer.
constexpr std::array<std::string_view, 7> kTerminalCodes = {
    "APP_ID_REQUIRED",
    "APP_ID_MISMATCH",
    "EXECUTABLE_PATH_REQUIRED",
    "EXECUTABLE_PATH_NOT_ALLOWED",
    "DESKTOP_PROTOCOL_INCOMPATIBLE",
    "UNAUTHORIZED",
    "FORBIDDEN",
};

}  // namespace

SdkError make_session_required_error(std::string message) {
    SdkError error;
    error.code = "DESKTOP_SESSION_REQUIRED";
    error.message = std::move(message);
    error.category = "channel";
    error.retryable = true;
    return error;
}

SdkError make_invalid_payload_error(const std::string& message) {
    SdkError error;
    error.code = "INVALID_PROTOBUF_PAYLOAD";
    error.message = message;
    error.category = "validation";
    error.retryable = false;
    return error;
}

bool is_terminal_error(const SdkError& error) {
    if (error.category == "validation") {
        return true;
    }
    for (const std::string_view code : kTerminalCodes) {
        if (error.code == code) {
            return true;
        }
    }
    return false;
}

}  // namespace qop::desktop
