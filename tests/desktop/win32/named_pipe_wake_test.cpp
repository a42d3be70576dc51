#include <gtest/gtest.h>

#ifdef _WIN32

#include <future>

#include "named_pipe_connection.hpp"
#include "pipe_test_helpers.hpp"

namespace qop::desktop {
namespace {

using testing::Clock;
using testing::elapsed_ms;
using Bytes = std::vector<std::uint8_t>;

// Far longer than any test may take: a wait that ends promptly was ended by
// what the test did, not by its poll time.
constexpr std::int64_t kLongMs = 30000;
constexpr std::int64_t kPromptMs = 3000;

using NamedPipeWakeTest = testing::NamedPipeConnection;

TEST_F(NamedPipeWakeTest, AWakeEndsOneWaitAndTheNextFrameEndsALongWaitWhole) {
    Bytes out = {9};
    SdkError error;
    error.code = "UNTOUCHED";
    // A wake that comes before the wait ends that wait.
    transport->wake();
    Clock::time_point start = Clock::now();
    EXPECT_EQ(transport->receive_frame(out, kLongMs, error), ReceiveResult::Idle);
    EXPECT_LT(elapsed_ms(start), kPromptMs);
    // One that comes during the wait ends it too, and only it.
    auto woken = std::async(std::launch::async,
                            [&] { return transport->receive_frame(out, kLongMs, error); });
    transport->wake();
    start = Clock::now();
    EXPECT_EQ(woken.get(), ReceiveResult::Idle);
    EXPECT_LT(elapsed_ms(start), kPromptMs);
    EXPECT_EQ(transport->receive_frame(out, 30, error), ReceiveResult::Idle);
    EXPECT_EQ(error.code, "UNTOUCHED");
    EXPECT_EQ(out, Bytes{9});

    // The read that waited through all of this takes the frame's first bytes,
    // and the frame ends a long wait as it arrives.
    auto read = std::async(std::launch::async,
                           [&] { return transport->receive_frame(out, kLongMs, error); });
    start = Clock::now();
    ASSERT_TRUE(server->write_bytes({3, 0, 0, 0, 0x61, 0x62, 0x63}));
    EXPECT_EQ(read.get(), ReceiveResult::Frame);
    EXPECT_LT(elapsed_ms(start), kPromptMs);
    EXPECT_EQ(out, (Bytes{0x61, 0x62, 0x63}));
}

TEST_F(NamedPipeWakeTest, ClosingWhileAReadWaitsForTheNextFrameEndsTheConnection) {
    Bytes out;
    SdkError error;
    EXPECT_EQ(transport->receive_frame(out, 20, error), ReceiveResult::Idle);
    transport->close();
    EXPECT_EQ(transport->receive_frame(out, kLongMs, error), ReceiveResult::Closed);
    Bytes ignored;
    EXPECT_FALSE(server->read_exact(1, ignored, std::chrono::milliseconds(2000)));
}

}  // namespace
}  // namespace qop::desktop

#else

TEST(NamedPipeWakeTest, NeedsWindowsNamedPipes) {
    GTEST_SKIP() << "named pipes exist only on Windows";
}

#endif
