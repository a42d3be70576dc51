#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <future>
#include <thread>

#include "named_pipe_connection.hpp"
#include "pipe_test_helpers.hpp"

namespace qop::desktop {
namespace {

using namespace std::chrono_literals;
using qop::test::TestPipeServer;
using testing::Clock;
using testing::elapsed_ms;
using Bytes = std::vector<std::uint8_t>;

// Far longer than any test may take: an operation that returns promptly was
// ended by the cancel, not by its own time-out.
constexpr std::int64_t kLongMs = 30000;
constexpr std::int64_t kPromptMs = 3000;

SdkError untouched_error() {
    SdkError error;
    error.code = "UNTOUCHED";
    return error;
}

TEST(NamedPipeCancelTest, CancelBeforeConnectWinsOverALiveServer) {
    TestPipeServer server(TestPipeServer::unique_name("cancel-first"));
    ASSERT_TRUE(server.listen());
    auto transport = make_named_pipe_transport(kLongMs);
    transport->cancel();
    SdkError error = untouched_error();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(transport->connect(server.name(), kLongMs, error));
    EXPECT_LT(elapsed_ms(start), kPromptMs);
    EXPECT_EQ(error.code, "UNTOUCHED");
    EXPECT_FALSE(server.accept(150ms));
    // The cancel stays: a second connect and every later wait end at once.
    EXPECT_FALSE(transport->connect(server.name(), kLongMs, error));
    EXPECT_EQ(error.code, "UNTOUCHED");
    Bytes out;
    EXPECT_EQ(transport->receive_frame(out, kLongMs, error), ReceiveResult::Closed);
}

TEST(NamedPipeCancelTest, CancelDuringConnectEndsItPromptly) {
    const std::string name = TestPipeServer::unique_name("cancel-connect");
    auto transport = make_named_pipe_transport(kLongMs);
    SdkError error = untouched_error();
    std::promise<void> started;
    auto connecting = std::async(std::launch::async, [&] {
        started.set_value();
        return transport->connect(name, kLongMs, error);
    });
    started.get_future().wait();
    std::this_thread::sleep_for(100ms);  // let it reach its retry rounds
    const Clock::time_point cancelled_at = Clock::now();
    transport->cancel();
    EXPECT_FALSE(connecting.get());
    EXPECT_LT(elapsed_ms(cancelled_at), kPromptMs);
    EXPECT_EQ(error.code, "UNTOUCHED");
}

TEST(NamedPipeCancelTest, CancelRacingTheStartOfConnectIsNeverLost) {
    // A live server makes a lost cancel visible: connect would succeed.
    TestPipeServer server(TestPipeServer::unique_name("cancel-race"));
    ASSERT_TRUE(server.listen());
    for (int round = 0; round < 25; ++round) {
        auto transport = make_named_pipe_transport(kLongMs);
        SdkError error = untouched_error();
        std::atomic<bool> go{false};
        auto connecting = std::async(std::launch::async, [&] {
            while (!go.load()) {
            }
            return transport->connect(server.name(), kLongMs, error);
        });
        go = true;
        transport->cancel();
        const Clock::time_point cancelled_at = Clock::now();
        const bool connected = connecting.get();
        EXPECT_LT(elapsed_ms(cancelled_at), kPromptMs) << round;
        EXPECT_EQ(error.code, "UNTOUCHED") << round;
        Bytes out;
        // Whether or not connect finished first, the transport stays cancelled.
        EXPECT_EQ(transport->receive_frame(out, kLongMs, error), ReceiveResult::Closed) << round;
        if (connected || server.accept(0ms)) {
            server.close();
            ASSERT_TRUE(server.listen());
        }
    }
}

using NamedPipeCancelIoTest = testing::NamedPipeConnection;

TEST_F(NamedPipeCancelIoTest, CancelDuringThePollWaitGivesClosed) {
    connect(kLongMs);
    SdkError error = untouched_error();
    Bytes out;
    auto receiving = std::async(std::launch::async,
                                [&] { return transport->receive_frame(out, kLongMs, error); });
    std::this_thread::sleep_for(100ms);
    const Clock::time_point cancelled_at = Clock::now();
    transport->cancel();
    EXPECT_EQ(receiving.get(), ReceiveResult::Closed);
    EXPECT_LT(elapsed_ms(cancelled_at), kPromptMs);
    EXPECT_EQ(error.code, "UNTOUCHED");

    const Clock::time_point again = Clock::now();
    EXPECT_EQ(transport->receive_frame(out, kLongMs, error), ReceiveResult::Closed);
    EXPECT_LT(elapsed_ms(again), kPromptMs);
}

TEST_F(NamedPipeCancelIoTest, CancelDuringAStalledFrameGivesClosed) {
    connect(kLongMs);
    ASSERT_TRUE(server->write_bytes({10, 0, 0, 0, 1, 2, 3}));
    SdkError error = untouched_error();
    Bytes out;
    auto receiving = std::async(std::launch::async, [&] {
        return testing::receive_until_not_idle(*transport, out, error);
    });
    std::this_thread::sleep_for(100ms);
    const Clock::time_point cancelled_at = Clock::now();
    transport->cancel();
    EXPECT_EQ(receiving.get(), ReceiveResult::Closed);
    EXPECT_LT(elapsed_ms(cancelled_at), kPromptMs);
    EXPECT_EQ(error.code, "UNTOUCHED");
}

TEST_F(NamedPipeCancelIoTest, CancelDuringABlockedLargeWriteFailsIt) {
    connect(kLongMs);
    // The server never reads, so 1 MiB cannot fit into the pipe.
    const Bytes payload(1 << 20, 0x5A);
    SdkError error;
    auto sending =
        std::async(std::launch::async, [&] { return transport->send_frame(payload, error); });
    std::this_thread::sleep_for(100ms);
    const Clock::time_point cancelled_at = Clock::now();
    transport->cancel();
    EXPECT_FALSE(sending.get());
    EXPECT_LT(elapsed_ms(cancelled_at), kPromptMs);
    EXPECT_EQ(error.code, "DESKTOP_SESSION_BRIDGE_ERROR");
    EXPECT_EQ(error.message,
              testing::with_system_text("Timed out writing desktop session pipe", 1460));
    EXPECT_EQ(error.category, "channel");
    EXPECT_TRUE(error.retryable);
}

TEST_F(NamedPipeCancelIoTest, BlockedWriteWithoutCancelEndsAtTheOperationTimeOut) {
    connect(300);
    const Bytes payload(1 << 20, 0x5A);
    SdkError error;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(transport->send_frame(payload, error));
    EXPECT_GE(elapsed_ms(start), 250);
    EXPECT_EQ(error.message,
              testing::with_system_text("Timed out writing desktop session pipe", 1460));
}

TEST_F(NamedPipeCancelIoTest, CancelFromManyThreadsWhileTheWorkerPolls) {
    connect(kLongMs);
    std::thread poller([&] {
        Bytes out;
        SdkError error;
        while (transport->receive_frame(out, 5, error) == ReceiveResult::Idle) {
        }
    });
    std::vector<std::thread> cancellers;
    for (int i = 0; i < 4; ++i) {
        cancellers.emplace_back([&] { transport->cancel(); });
    }
    for (std::thread& t : cancellers) {
        t.join();
    }
    const Clock::time_point cancelled_at = Clock::now();
    poller.join();
    EXPECT_LT(elapsed_ms(cancelled_at), kPromptMs);
}

}  // namespace
}  // namespace qop::desktop

#else

TEST(NamedPipeCancelTest, NeedsWindowsNamedPipes) {
    GTEST_SKIP() << "named pipes exist only on Windows";
}

#endif
