#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

using network::make_tcp_transport;
using network::SendResult;
using network::TransportState;

// These cases count what the queue holds: every payload waits there for a poll.
std::unique_ptr<network::NetworkTransport> make_queueing_transport() {
    return make_tcp_transport(network::kRelayHandshakeDeadline,
                              network::SendPolicy::QueueUntilPoll);
}

// 1024 frames of this payload fill the 32 MiB queue to the byte.
constexpr std::size_t kPayloadFillingTheQueue = 32 * 1024 - 4;
constexpr std::size_t kFramesFillingTheQueue = 1024;

Frames numbered_payloads() {
    Frames payloads(kFramesFillingTheQueue, pattern_bytes(kPayloadFillingTheQueue, 0x5A));
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        payloads[i][0] = static_cast<std::uint8_t>(i >> 8);
        payloads[i][1] = static_cast<std::uint8_t>(i);
        payloads[i].back() = static_cast<std::uint8_t>(i * 7);
    }
    return payloads;
}

TEST(TcpTransportQueue, BackPressureKeepsEveryByteAndTheAccountingReturnsToZero) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto host = make_queueing_transport();
    ASSERT_TRUE(host->connect(relay.endpoint("tok-host"), error)) << error;
    ASSERT_TRUE(relay.wait_for_players(1, kWaitLimit));
    relay.pause_reading(1);
    const Frames payloads = numbered_payloads();

    for (std::size_t i = 0; i < kFramesFillingTheQueue; ++i) {
        ASSERT_EQ(host->send(payloads[i], error), SendResult::Sent) << i << ": " << error;
    }
    EXPECT_EQ(host->send(Bytes{1}, error), SendResult::QueueFull);
    EXPECT_EQ(error, "TCP transport send queue is full");
    EXPECT_EQ(host->state(), TransportState::Connected);

    // The relay reads nothing: polls write what the socket takes and return.
    Frames frames;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(host->poll(frames, error)) << error;
    }
    relay.resume_reading(1);
    ASSERT_TRUE(poll_until(*host, frames, error, [&] {
        return relay.wait_for_frames_from(1, kFramesFillingTheQueue, std::chrono::milliseconds(1));
    })) << error;
    const Frames received = relay.take_frames_from(1);
    ASSERT_EQ(received.size(), kFramesFillingTheQueue);
    for (std::size_t i = 0; i < received.size(); ++i) {
        ASSERT_TRUE(received[i] == payloads[i]) << "frame " << i;
    }

    // Only an exact return to 0 queued bytes lets the queue fill completely again.
    for (std::size_t i = 0; i < kFramesFillingTheQueue; ++i) {
        ASSERT_EQ(host->send(payloads[i], error), SendResult::Sent) << i << ": " << error;
    }
    EXPECT_EQ(host->send(Bytes{1}, error), SendResult::QueueFull);
    EXPECT_EQ(error, "TCP transport send queue is full");
}

TEST(TcpTransportQueue, The2049thFrameIsRefusedUntilAPollHasWrittenSome) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto host = make_queueing_transport();
    ASSERT_TRUE(host->connect(relay.endpoint("tok-host"), error)) << error;
    for (int i = 0; i < 2048; ++i) {
        ASSERT_EQ(host->send(Bytes{static_cast<std::uint8_t>(i)}, error), SendResult::Sent) << i;
    }
    EXPECT_EQ(host->send(Bytes{1}, error), SendResult::QueueFull);
    EXPECT_EQ(error, "TCP transport send queue is full");
    EXPECT_EQ(host->state(), TransportState::Connected);

    Frames frames;
    ASSERT_TRUE(host->poll(frames, error)) << error;
    EXPECT_EQ(host->send(Bytes{1}, error), SendResult::Sent) << error;
    ASSERT_TRUE(relay.wait_for_frames_from(1, 2048, kWaitLimit));
}

struct RoomCase {
    std::size_t frames;
    std::uint64_t payload_bytes;
    bool fits_now;   // with one 100-byte frame (104 bytes) already queued
    bool fits_ever;  // in an empty queue
};

TEST(TcpTransportQueue, RoomForABatchCountsFramesAndBytesWithTheirPrefixes) {
    constexpr std::uint64_t kMiB32 = 32ull * 1024 * 1024;
    const RoomCase cases[] = {
        {0, 0, true, true},
        {2047, 2047, true, true},
        {2048, 2048, false, true},
        {2049, 2049, false, false},
        {1, kMiB32 - 104 - 4, true, true},
        {1, kMiB32 - 104 - 3, false, true},
        {1, kMiB32 - 4, false, true},
        {1, kMiB32 - 3, false, false},
        {1024, kMiB32 - 4 * 1024, false, true},
        {1024, kMiB32 - 4 * 1024 + 1, false, false},
        {1, UINT64_MAX, false, false},
        {2048, UINT64_MAX - 100, false, false},
    };
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto host = make_queueing_transport();
    ASSERT_TRUE(host->connect(relay.endpoint("tok-host"), error)) << error;
    ASSERT_EQ(host->send(Bytes(100, 1), error), SendResult::Sent) << error;
    for (const RoomCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " frames, " + std::to_string(c.payload_bytes) +
                     " bytes");
        EXPECT_EQ(host->send_queue_can_take(c.frames, c.payload_bytes), c.fits_now);
        EXPECT_EQ(host->send_queue_could_ever_take(c.frames, c.payload_bytes), c.fits_ever);
    }
}

}  // namespace
}  // namespace qop::test
