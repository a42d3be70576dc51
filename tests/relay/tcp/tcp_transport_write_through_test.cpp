// A send while nothing is queued goes straight to the socket; that must never
// change the order of the frames, lose a byte of a frame the socket took only
// in part, or hide a failed write.

#include "support/test_waits.hpp"
#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

using network::make_tcp_transport;
using network::NetworkTransport;
using network::SendResult;
using network::TransportState;

constexpr std::uint32_t kLargeFrameLimit = 16u * 1024 * 1024;

// Nothing waits in the queue exactly when a full batch would still fit.
bool queue_is_empty(const NetworkTransport& transport) {
    return transport.send_queue_can_take(2048, 0);
}

class TcpWriteThrough : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(relay_.start(error)) << error;
        ASSERT_TRUE(host_->connect(relay_.endpoint("tok-host", kLargeFrameLimit), error)) << error;
        ASSERT_TRUE(relay_.wait_for_players(1, kWaitLimit));
    }

    // Polls until the relay holds `count` frames from the host; then checks
    // they are `sent`, whole and in order.
    void expect_delivered_in_order(const Frames& sent) {
        Frames ignored;
        std::string error;
        ASSERT_TRUE(poll_until(*host_, ignored, error, [&] {
            return relay_.wait_for_frames_from(1, sent.size(), std::chrono::milliseconds(1));
        })) << error;
        const Frames received = relay_.take_frames_from(1);
        ASSERT_EQ(received.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            ASSERT_TRUE(received[i] == sent[i]) << "frame " << i << " of " << sent.size();
        }
    }

    FakeTcpRelay relay_{three_seat_room()};
    std::unique_ptr<NetworkTransport> host_ = make_tcp_transport();
};

TEST_F(TcpWriteThrough, AFrameSentWhileNothingIsQueuedLeavesWithoutAPoll) {
    std::string error;
    const Bytes payload = broadcast_envelope(1, pattern_bytes(1000, 4));
    ASSERT_EQ(host_->send(payload, error), SendResult::Sent) << error;
    EXPECT_TRUE(queue_is_empty(*host_));
    ASSERT_TRUE(relay_.wait_for_frames_from(1, 1, kWaitLimit));
    EXPECT_TRUE(relay_.frames_from(1)[0] == payload);
}

TEST_F(TcpWriteThrough, FramesBehindAPartlyWrittenOneWaitTheirTurnAndArriveWhole) {
    relay_.pause_reading(1);
    std::string error;
    // Larger than any socket buffer: only a part is written at once, and the
    // frames sent behind it are queued.
    Frames sent = {pattern_bytes(12 * 1024 * 1024, 1), pattern_bytes(5, 2),
                   pattern_bytes(70000, 3)};
    for (const Bytes& payload : sent) {
        ASSERT_EQ(host_->send(payload, error), SendResult::Sent) << error;
    }
    EXPECT_FALSE(queue_is_empty(*host_));
    // The relay drains the socket; the queue still holds the rest, so this
    // frame must not jump ahead of it into the stream.
    relay_.resume_reading(1);
    sent.push_back(Bytes{0x7E});
    ASSERT_EQ(host_->send(sent.back(), error), SendResult::Sent) << error;
    EXPECT_FALSE(queue_is_empty(*host_));
    expect_delivered_in_order(sent);
    EXPECT_TRUE(queue_is_empty(*host_));
}

TEST_F(TcpWriteThrough, AFailedWriteLeavesSendSucceedingAndTheNextPollReportsIt) {
    // Bytes the relay never reads make its close a reset, so that every later
    // write of the host fails.
    relay_.pause_reading(1);
    std::string error;
    ASSERT_EQ(host_->send(pattern_bytes(100, 1), error), SendResult::Sent) << error;
    relay_.send_raw_then_close(1, {});
    ASSERT_TRUE(relay_.wait_for_disconnect(1, kWaitLimit));
    // Writes go through until the reset has reached the host; the first that
    // fails stays queued, with everything sent after it.
    const bool failed = wait_until([&] {
        EXPECT_EQ(host_->send(pattern_bytes(100, 2), error), SendResult::Sent) << error;
        return !queue_is_empty(*host_);
    });
    ASSERT_TRUE(failed);
    EXPECT_EQ(host_->send(pattern_bytes(100, 3), error), SendResult::Sent) << error;
    EXPECT_EQ(host_->state(), TransportState::Connected);

    Frames frames;
    EXPECT_FALSE(host_->poll(frames, error));
    EXPECT_EQ(error, "TCP transport send failed");
    EXPECT_EQ(host_->state(), TransportState::Failed);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(host_->send(pattern_bytes(100, 4), error), SendResult::Failed);
    EXPECT_EQ(error, "TCP transport is not connected");
}

}  // namespace
}  // namespace qop::test
