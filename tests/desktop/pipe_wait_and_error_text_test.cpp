#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "desktop/pipe_wait_and_error_text.hpp"
#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {
namespace {

TEST(PipeWaitClampTest, WaitsNeverBecomeInfinite) {
    struct Case {
        std::int64_t milliseconds;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {std::numeric_limits<std::int64_t>::min(), 0},
        {-1, 0},
        {0, 0},
        {1, 1},
        {5000, 5000},
        {0xFFFFFFFELL, 0xFFFFFFFEu},
        {0xFFFFFFFFLL, 0xFFFFFFFEu},
        {0x100000000LL, 0xFFFFFFFEu},
        {std::numeric_limits<std::int64_t>::max(), 0xFFFFFFFEu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clamp_wait_milliseconds(c.milliseconds), c.expected) << c.milliseconds;
    }
}

TEST(BridgeErrorTest, SystemTextIsAppendedOnlyWhenThere) {
    struct Case {
        const char* message;
        const char* system_text;
        const char* expected;
    };
    const Case cases[] = {
        {"Could not open desktop session pipe", "Access denied.",
         "Could not open desktop session pipe: Access denied."},
        {"Timed out reading desktop session pipe", "", "Timed out reading desktop session pipe"},
    };
    for (const Case& c : cases) {
        const SdkError error = make_bridge_error_with_text(c.message, c.system_text);
        EXPECT_EQ(error.code, "DESKTOP_SESSION_BRIDGE_ERROR");
        EXPECT_EQ(error.message, c.expected);
        EXPECT_EQ(error.category, "channel");
        EXPECT_TRUE(error.retryable);
        EXPECT_EQ(error.channel_state, "");
        EXPECT_EQ(error.attach_state, "");
    }
}

TEST(BridgeErrorTest, TrailingLineBreaksInAnyMixAreRemoved) {
    struct Case {
        std::wstring text;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"Timeout.\r\n", L"Timeout."},
        {L"Broken pipe.\n\r\n\r", L"Broken pipe."},
        {L"Line one.\r\nLine two.\r\n", L"Line one.\r\nLine two."},
        {L"\r\n", L""},
        {L"", L""},
        {L"No break", L"No break"},
        {L"Space \r\n", L"Space "},
    };
    for (Case c : cases) {
        strip_trailing_line_breaks(c.text);
        EXPECT_EQ(c.text, c.expected);
    }
}

}  // namespace
}  // namespace qop::desktop
