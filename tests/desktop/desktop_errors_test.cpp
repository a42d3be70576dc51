// Which desktop errors end the retrying, and the payload error record.

#include <gtest/gtest.h>

#include "desktop/desktop_session_codec.hpp"

namespace {

using qop::desktop::is_terminal_error;
using qop::desktop::make_invalid_payload_error;
using qop::desktop::SdkError;

struct TerminalCase {
    const char* category;
    const char* code;
    bool terminal;
};

const TerminalCase kTerminalCases[] = {
    {"validation", "", true},
    {"validation", "DESKTOP_SESSION_REQUIRED", true},
    {"runtime", "APP_ID_REQUIRED", true},
    {"runtime", "APP_ID_MISMATCH", true},
    {"channel", "EXECUTABLE_PATH_REQUIRED", true},
    {"channel", "EXECUTABLE_PATH_NOT_ALLOWED", true},
    {"", "DESKTOP_PROTOCOL_INCOMPATIBLE", true},
    {"", "UNAUTHORIZED", true},
    {"channel", "FORBIDDEN", true},
    {"channel", "DESKTOP_SESSION_REQUIRED", false},
    {"channel", "DESKTOP_SESSION_BRIDGE_ERROR", false},
    {"Validation", "", false},
    {"VALIDATION", "", false},
    {"validation ", "", false},
    {"runtime", "forbidden", false},
    {"runtime", "FORBIDDEN ", false},
    {"runtime", "APP_ID", false},
    {"", "", false},
};

TEST(DesktopErrors, TerminalErrorsAreExactMatches) {
    for (const TerminalCase& c : kTerminalCases) {
        SdkError error;
        error.category = c.category;
        error.code = c.code;
        error.retryable = !c.terminal;  // never consulted
        EXPECT_EQ(is_terminal_error(error), c.terminal)
            << "'" << c.category << "' / '" << c.code << "'";
    }
}

TEST(DesktopErrors, PayloadErrorIsANonRetryableValidationError) {
    const SdkError error = make_invalid_payload_error("Something is off");
    EXPECT_EQ(error.code, "INVALID_PROTOBUF_PAYLOAD");
    EXPECT_EQ(error.message, "Something is off");
    EXPECT_EQ(error.category, "validation");
    EXPECT_FALSE(error.retryable);
    EXPECT_EQ(error.channel_state, "");
    EXPECT_EQ(error.attach_state, "");
    EXPECT_TRUE(is_terminal_error(error));
}

}  // namespace
