#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

using network::make_tcp_transport;
using network::TransportState;

// 1024 frames of this payload fill the 32 MiB queue to the byte.
constexpr std::size_t kPayloadFillingTheQueue = 32 * 1024 - 4;
constexpr std::size_t kFramesFillingTheQueue = 1024;

Bytes numbered_payload(std::size_t index) {
    Bytes payload = pattern_bytes(kPayloadFillingTheQueue, static_cast<std::uint8_t>(index));
    payload[0] = static_cast<std::uint8_t>(index >> 8);
    payload[1] = static_cast<std::uint8_t>(index);
    return payload;
}

TEST(TcpTransportQueue, BackPressureKeepsEveryByteAndTheAccountingReturnsToZero) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto host = make_tcp_transport();
    ASSERT_TRUE(host->connect(relay.endpoint("tok-host"), error)) << error;
    ASSERT_TRUE(relay.wait_for_players(1, kWaitLimit));
    relay.pause_reading(1);

    for (std::size_t i = 0; i < kFramesFillingTheQueue; ++i) {
        ASSERT_TRUE(host->send(numbered_payload(i), error)) << i << ": " << error;
    }
    EXPECT_FALSE(host->send(Bytes{1}, error));
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
    const auto received = relay.frames_from(1);
    ASSERT_EQ(received.size(), kFramesFillingTheQueue);
    for (std::size_t i = 0; i < received.size(); ++i) {
        ASSERT_EQ(received[i], numbered_payload(i)) << "frame " << i;
    }

    // Only an exact return to 0 queued bytes lets the queue fill completely again.
    for (std::size_t i = 0; i < kFramesFillingTheQueue; ++i) {
        ASSERT_TRUE(host->send(numbered_payload(i), error)) << i << ": " << error;
    }
    EXPECT_FALSE(host->send(Bytes{1}, error));
    EXPECT_EQ(error, "TCP transport send queue is full");
}

TEST(TcpTransportQueue, The2049thFrameIsRefusedUntilAPollHasWrittenSome) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto host = make_tcp_transport();
    ASSERT_TRUE(host->connect(relay.endpoint("tok-host"), error)) << error;
    for (int i = 0; i < 2048; ++i) {
        ASSERT_TRUE(host->send(Bytes{static_cast<std::uint8_t>(i)}, error)) << i;
    }
    EXPECT_FALSE(host->send(Bytes{1}, error));
    EXPECT_EQ(error, "TCP transport send queue is full");
    EXPECT_EQ(host->state(), TransportState::Connected);

    Frames frames;
    ASSERT_TRUE(host->poll(frames, error)) << error;
    EXPECT_TRUE(host->send(Bytes{1}, error)) << error;
    ASSERT_TRUE(relay.wait_for_frames_from(1, 2048, kWaitLimit));
}

}  // namespace
}  // namespace qop::test
