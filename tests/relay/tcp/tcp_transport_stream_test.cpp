#include <algorithm>
#include <random>

#include "allocation_probe.hpp"
#include "relay/transports_to_poll.hpp"
#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

using network::make_tcp_transport;
using network::NetworkTransport;
using network::SendResult;
using network::TransportState;
using std::chrono::milliseconds;

class TcpStream : public ::testing::Test {
protected:
    void SetUp() override { start_room(three_seat_room()); }

    void start_room(FakeTcpRelayOptions options) {
        relay_ = std::make_unique<FakeTcpRelay>(std::move(options));
        std::string error;
        ASSERT_TRUE(relay_->start(error)) << error;
    }

    std::unique_ptr<NetworkTransport> join(const std::string& token, std::uint32_t frame_max = 0) {
        auto transport = make_tcp_transport();
        std::string error;
        EXPECT_TRUE(transport->connect(relay_->endpoint(token, frame_max), error)) << error;
        return transport;
    }

    std::unique_ptr<FakeTcpRelay> relay_;
};

TEST_F(TcpStream, RandomSplitPointsIncludingInsideThePrefixDeliverWholeFrames) {
    auto guest = join("tok-guest");
    const Bytes first = pattern_bytes(700, 1);
    const Bytes second = pattern_bytes(5, 2);
    Bytes wire = fake_relay_frame(first);
    const Bytes tail = fake_relay_frame(second);
    wire.insert(wire.end(), tail.begin(), tail.end());

    std::mt19937 random(7);
    for (int round = 0; round < 8; ++round) {
        // Always cut inside the first prefix and around the second one.
        std::vector<std::size_t> splits = {1 + random() % 3, 704 + random() % 4,
                                           1 + random() % wire.size()};
        relay_->send_raw(2, wire, splits, milliseconds(2));
        Frames frames;
        std::string error;
        ASSERT_TRUE(poll_until(*guest, frames, error, [&] { return frames.size() >= 2; })) << error;
        EXPECT_EQ(frames, (Frames{first, second})) << "round " << round;
    }
}

TEST_F(TcpStream, AFrameHeldBackHalfWayIsDeliveredByALaterPoll) {
    auto guest = join("tok-guest");
    const Bytes payload = pattern_bytes(300, 9);
    const Bytes wire = fake_relay_frame(payload);
    relay_->send_raw(2, Bytes(wire.begin(), wire.begin() + 2));
    ASSERT_TRUE(relay_->wait_until_written(2, kWaitLimit));
    Frames frames;
    std::string error;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(guest->poll(frames, error)) << error;
    }
    EXPECT_TRUE(frames.empty());
    relay_->send_raw(2, Bytes(wire.begin() + 2, wire.end()));
    ASSERT_TRUE(poll_until(*guest, frames, error, [&] { return !frames.empty(); })) << error;
    EXPECT_EQ(frames, Frames{payload});
}

TEST_F(TcpStream, AcknowledgementAndDataInOneWrite) {
    auto options = three_seat_room();
    const Bytes early = {0x00, 0x02, 0x01, 0x01, 'h', 'i'};
    const Bytes early2 = {0x00, 0x02, 0x01, 0x01, '!'};
    options.after_ack = fake_relay_frame(early);
    const Bytes second = fake_relay_frame(early2);
    options.after_ack.insert(options.after_ack.end(), second.begin(), second.end());
    start_room(options);
    auto guest = join("tok-guest");
    Frames frames;
    std::string error;
    ASSERT_TRUE(poll_until(*guest, frames, error, [&] { return frames.size() >= 2; })) << error;
    EXPECT_EQ(frames, (Frames{early, early2}));
}

// Frames of 64 bytes on the wire, each payload led by its big-endian number.
Bytes numbered_frames(std::uint32_t first, std::uint32_t count) {
    Bytes wire;
    wire.reserve(static_cast<std::size_t>(count) * 64);
    for (std::uint32_t n = first; n < first + count; ++n) {
        Bytes payload = pattern_bytes(60, static_cast<std::uint8_t>(n));
        for (int i = 0; i < 4; ++i) {
            payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
        }
        const Bytes frame = fake_relay_frame(payload);
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

TEST_F(TcpStream, ARelayThatKeepsStreamingLetsEveryPollReturnAndLosesNothing) {
    auto guest = join("tok-guest");
    // Three times the budget of one poll, in small frames that cost the
    // reader more than the relay, which only copies them into its socket.
    const auto total = static_cast<std::uint32_t>(3 * network::kTcpPollReceiveBudgetBytes / 64);
    relay_->send_raw(2, numbered_frames(0, total));
    std::uint32_t expected = 0;
    std::size_t most_in_one_poll = 0;
    std::string error;
    const auto give_up = std::chrono::steady_clock::now() + kWaitLimit;
    while (expected < total && std::chrono::steady_clock::now() < give_up) {
        Frames frames;
        if (!guest->poll(frames, error)) {
            break;
        }
        most_in_one_poll = std::max(most_in_one_poll, frames.size());
        for (const Bytes& frame : frames) {
            ASSERT_EQ(frame.size(), 60u);
            const std::uint32_t number = (std::uint32_t{frame[0]} << 24) |
                                         (std::uint32_t{frame[1]} << 16) |
                                         (std::uint32_t{frame[2]} << 8) | frame[3];
            ASSERT_EQ(number, expected) << "frames are delivered whole and in order";
            ++expected;
        }
    }
    EXPECT_EQ(expected, total) << error;
    EXPECT_EQ(guest->state(), TransportState::Connected);
    // The budget, and at most the one frame that an earlier poll left half read.
    EXPECT_LE(most_in_one_poll * 64, network::kTcpPollReceiveBudgetBytes + 64);
}

// A flood of the smallest frames is handed out a bounded number at a time.
// The test polls only when the readiness check says so, as the peer does:
// frames a poll left in the reader must not wait for more bytes to arrive.
TEST_F(TcpStream, AFloodOfTinyFramesIsDeliveredInOrderABoundedNumberAPoll) {
    auto guest = join("tok-guest");
    constexpr std::uint32_t kTotal = 5 * network::kTcpPollReceiveFrameBudget + 123;
    Bytes wire;
    for (std::uint32_t n = 0; n < kTotal; ++n) {
        const Bytes frame = fake_relay_frame(
            Bytes{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    relay_->send_raw(2, std::move(wire));
    std::uint32_t expected = 0;
    std::size_t polls_with_frames = 0;
    std::string error;
    const auto give_up = std::chrono::steady_clock::now() + kWaitLimit;
    while (expected < kTotal && std::chrono::steady_clock::now() < give_up) {
        const NetworkTransport* const transports[] = {guest.get()};
        bool need_poll = false;
        network::find_transports_to_poll(transports, 1, &need_poll);
        if (!need_poll) {
            std::this_thread::yield();
            continue;
        }
        Frames frames;
        ASSERT_TRUE(guest->poll(frames, error)) << error;
        ASSERT_LE(frames.size(), network::kTcpPollReceiveFrameBudget);
        polls_with_frames += frames.empty() ? 0 : 1;
        for (const Bytes& frame : frames) {
            ASSERT_EQ(frame, (Bytes{static_cast<std::uint8_t>(expected >> 8),
                                    static_cast<std::uint8_t>(expected)}));
            ++expected;
        }
    }
    EXPECT_EQ(expected, kTotal) << "every frame, in order, without more bytes behind them";
    EXPECT_GE(polls_with_frames, 6u);
    EXPECT_EQ(guest->state(), TransportState::Connected);
}

TEST_F(TcpStream, AFrameOfExactlyTheLimitPassesBothWaysAndOneMoreByteDoesNot) {
    auto host = join("tok-host", 1000);
    auto guest = join("tok-guest", 1000);
    std::string error;
    EXPECT_EQ(host->send(Bytes(1001, 7), error), SendResult::OverLimit);
    EXPECT_EQ(error, "TCP transport frame exceeds the negotiated limit");
    EXPECT_EQ(host->send(Bytes(), error), SendResult::OverLimit);
    EXPECT_EQ(error, "TCP transport frame exceeds the negotiated limit");
    EXPECT_EQ(host->state(), TransportState::Connected);

    const Bytes at_limit = broadcast_envelope(1, pattern_bytes(996, 3));
    ASSERT_EQ(host->send(at_limit, error), SendResult::Sent) << error;
    Frames host_frames;
    Frames guest_frames;
    ASSERT_TRUE(poll_until(*guest, guest_frames, error, [&] {
        return host->poll(host_frames, error) && !guest_frames.empty();
    })) << error;
    EXPECT_EQ(guest_frames, Frames{at_limit});
}

TEST_F(TcpStream, TheDefaultLimitIs65536) {
    auto host = join("tok-host", 0);
    std::string error;
    EXPECT_EQ(host->send(Bytes(65536, 1), error), SendResult::Sent) << error;
    EXPECT_EQ(host->send(Bytes(65537, 1), error), SendResult::OverLimit);
    EXPECT_EQ(error, "TCP transport frame exceeds the negotiated limit");
}

struct HostilePrefix {
    const char* name;
    Bytes bytes;
};

TEST_F(TcpStream, HostileLengthPrefixesEndTheTransportWithoutLargeAllocations) {
    const std::vector<HostilePrefix> cases = {
        {"zero", {0x00, 0x00, 0x00, 0x00, 1, 2}},
        {"limit plus one", {0x00, 0x00, 0x03, 0xE9, 1, 2}},
        {"all ones", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2}},
    };
    for (const auto& c : cases) {
        auto guest = join("tok-guest", 1000);
        // A good frame first: it is still handed out.
        Bytes wire = fake_relay_frame(Bytes{'o', 'k'});
        wire.insert(wire.end(), c.bytes.begin(), c.bytes.end());
        relay_->send_raw(2, wire);
        Frames frames;
        std::string error;
        const AllocationProbe probe;
        EXPECT_FALSE(poll_until(*guest, frames, error, [] { return false; })) << c.name;
        EXPECT_EQ(error, "TCP transport frame exceeds the negotiated limit") << c.name;
        EXPECT_EQ(guest->state(), TransportState::Failed) << c.name;
        EXPECT_EQ(frames, Frames{Bytes({'o', 'k'})}) << c.name;
        EXPECT_LT(probe.largest(), 1u << 20) << c.name;
    }
}

TEST_F(TcpStream, AHugeAnnouncedFrameUnderAHugeLimitOnlyCostsWhatArrives) {
    auto guest = join("tok-guest", 0xFFFFFFFF);
    relay_->send_raw_then_close(2, {0xFF, 0xFF, 0xFF, 0xF0, 1, 2, 3});
    Frames frames;
    std::string error;
    const AllocationProbe probe;
    EXPECT_FALSE(poll_until(*guest, frames, error, [] { return false; }));
    EXPECT_EQ(error, "TCP transport closed");
    EXPECT_LT(probe.largest(), 1u << 20);
}

TEST_F(TcpStream, TheRelayClosingMidFrameEndsTheTransport) {
    auto guest = join("tok-guest");
    Bytes wire = fake_relay_frame(Bytes{'w', 'h', 'o', 'l', 'e'});
    const Bytes partial = {0x00, 0x00, 0x01, 0x00, 'p', 'a', 'r'};
    wire.insert(wire.end(), partial.begin(), partial.end());
    relay_->send_raw_then_close(2, wire);
    Frames frames;
    std::string error;
    EXPECT_FALSE(poll_until(*guest, frames, error, [] { return false; }));
    EXPECT_EQ(error, "TCP transport closed");
    EXPECT_EQ(guest->state(), TransportState::Failed);
    // The whole frame that came before the close is not lost.
    EXPECT_EQ(frames, Frames{Bytes({'w', 'h', 'o', 'l', 'e'})});
    error = "unchanged";
    EXPECT_FALSE(guest->poll(frames, error));
    EXPECT_EQ(error, "unchanged");
}

TEST_F(TcpStream, TheRelayForwardsByRoute) {
    auto host = join("tok-host");
    auto guest = join("tok-guest");
    auto third = join("tok-third");
    ASSERT_TRUE(relay_->wait_for_players(3, kWaitLimit));
    const Bytes to_host = {0x00, 0x02, 0x00, 0x02, 'h'};
    const Bytes to_all = {0x00, 0x02, 0x01, 0x01, 'b'};
    const Bytes to_three = {0x00, 0x02, 0x02, 0x01, 0x03, 'd'};
    const Bytes to_mask = {0x00, 0x02, 0x03, 0x03, 0, 0, 0, 0, 0, 0, 0, 0x03, 'm'};
    std::string error;
    ASSERT_EQ(guest->send(to_host, error), SendResult::Sent);
    ASSERT_EQ(host->send(to_all, error), SendResult::Sent);
    ASSERT_EQ(host->send(to_three, error), SendResult::Sent);
    ASSERT_EQ(third->send(to_mask, error), SendResult::Sent);
    Frames at_host;
    Frames at_guest;
    Frames at_third;
    ASSERT_TRUE(poll_until(*host, at_host, error, [&] {
        return guest->poll(at_guest, error) && third->poll(at_third, error) &&
               at_host.size() >= 2 && at_guest.size() >= 2 && at_third.size() >= 2;
    })) << error;
    // Frames from different senders may interleave either way.
    for (Frames* frames : {&at_host, &at_guest, &at_third}) {
        std::sort(frames->begin(), frames->end());
    }
    EXPECT_EQ(at_host, (Frames{to_host, to_mask}));
    EXPECT_EQ(at_guest, (Frames{to_all, to_mask}));
    EXPECT_EQ(at_third, (Frames{to_all, to_three}));
}

}  // namespace
}  // namespace qop::test
