#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "desktop/desktop_session_records.hpp"
#include "desktop/pipe_wait_and_error_text.hpp"

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

}  // namespace
}  // namespace qop::desktop
