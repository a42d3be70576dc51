#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "relay/udp/udp_transport_test_support.hpp"

namespace qop::network {
namespace {

using namespace udp_test;
using test::FakeUdpRelay;

// Two players without envelopes: the relay hands every datagram to the other one.
class UdpTraffic : public ::testing::Test {
protected:
    void start(std::uint32_t relay_maximum = 1200, std::uint32_t requested = 0) {
        relay_ = std::make_unique<FakeUdpRelay>(
            std::vector<FakeUdpRelay::Player>{{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}},
            relay_maximum);
        std::string error;
        ASSERT_TRUE(relay_->start(error)) << error;
        ASSERT_TRUE(a_->connect(endpoint_for(*relay_, "tok-a", 0, requested), error)) << error;
        ASSERT_TRUE(b_->connect(endpoint_for(*relay_, "tok-b", 0, requested), error)) << error;
    }

    std::unique_ptr<FakeUdpRelay> relay_;
    std::unique_ptr<NetworkTransport> a_ = make_udp_transport();
    std::unique_ptr<NetworkTransport> b_ = make_udp_transport();
};

TEST_F(UdpTraffic, DataDatagramCarriesTheSessionIdAndReachesThePeer) {
    start();
    std::string error;
    ASSERT_EQ(a_->send(Bytes{1, 2, 3}, error), SendResult::Sent) << error;
    Frames none;
    ASSERT_TRUE(a_->poll(none, error)) << error;
    Frames frames{Bytes{9}};  // poll appends and never clears
    ASSERT_TRUE(poll_until_frames(*b_, frames, 2));
    EXPECT_EQ(frames, (Frames{Bytes{9}, Bytes{1, 2, 3}}));

    const Bytes session = relay_->session_id_of("player-a");
    ASSERT_FALSE(session.empty());
    const auto received = relay_->received_data();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], data_datagram(session, Bytes{1, 2, 3}));
}

TEST_F(UdpTraffic, ForeignAndMalformedDatagramsAreDroppedWhilePollSucceeds) {
    start();
    const Bytes mine = relay_->session_id_of("player-b");
    Bytes other = mine;
    other.back() ^= 0x01;
    Bytes wrong_magic = data_datagram(mine, Bytes{1});
    wrong_magic[0] = 'X';
    Bytes wrong_version = data_datagram(mine, Bytes{1});
    wrong_version[4] = 2;
    Bytes hello_type = data_datagram(mine, Bytes{1});
    hello_type[5] = 1;
    Bytes ack_type = data_datagram(mine, Bytes{1});
    ack_type[5] = 2;
    Bytes longer_length = data_datagram(mine, Bytes{1, 2});
    longer_length[7] += 1;
    const std::vector<Bytes> hostile = {
        {},
        {'Q', 'O', 'P'},
        {'Q', 'O', 'P', 'U', 1, 3, 0},
        wrong_magic,
        wrong_version,
        hello_type,
        ack_type,
        longer_length,
        data_datagram(other, Bytes{1}),
        data_datagram(Bytes{}, Bytes{1}),
        data_datagram(mine, Bytes{}),  // no payload byte
    };
    for (const Bytes& datagram : hostile) {
        ASSERT_TRUE(relay_->inject("player-b", datagram));
    }
    ASSERT_TRUE(relay_->inject("player-b", data_datagram(mine, Bytes{0x42})));
    Frames frames;
    ASSERT_TRUE(poll_until_frames(*b_, frames, 1));
    EXPECT_EQ(frames, (Frames{Bytes{0x42}}));
    EXPECT_EQ(b_->state(), TransportState::Connected);
}

TEST_F(UdpTraffic, QueueHoldsTwoHundredFiftySixDatagrams) {
    // What this counts is the queue: every datagram waits there for a poll.
    a_ = make_udp_transport(kRelayHandshakeDeadline, SendPolicy::QueueUntilPoll);
    start();
    std::string error;
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(a_->send(Bytes{static_cast<std::uint8_t>(i)}, error), SendResult::Sent)
            << i << ": " << error;
    }
    EXPECT_EQ(a_->send(Bytes{1}, error), SendResult::QueueFull);
    EXPECT_EQ(error, "UDP transport send queue is full");
    EXPECT_EQ(a_->state(), TransportState::Connected);
    Frames frames;
    ASSERT_TRUE(a_->poll(frames, error)) << error;
    EXPECT_EQ(a_->send(Bytes{1}, error), SendResult::Sent) << error;
}

TEST_F(UdpTraffic, ARelayThatKeepsSendingLetsEveryPollReturnInOrder) {
    start();
    // Several senders together outpace one reader; each numbers its datagrams
    // (the payload: sender, then its number) and sends them in slices until
    // the reader has seen enough.
    constexpr int kSenders = 3;
    constexpr std::uint32_t kEach = 20000;
    const Bytes blank = data_datagram(relay_->session_id_of("player-b"), Bytes(3, 0));
    std::atomic<bool> enough{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&, sender] {
            Frames slice(256, blank);
            for (std::uint32_t n = 0; n < kEach && !enough; n += 256) {
                for (std::uint32_t i = 0; i < 256; ++i) {
                    const auto end = slice[i].end();
                    end[-3] = static_cast<std::uint8_t>(sender);
                    end[-2] = static_cast<std::uint8_t>((n + i) >> 8);
                    end[-1] = static_cast<std::uint8_t>(n + i);
                }
                relay_->inject_burst("player-b", slice);
            }
            ++finished;
        });
    }
    // The socket may drop what it cannot hold, but never reorders on loopback.
    std::vector<std::int64_t> last(kSenders, -1);
    bool in_order = true;
    std::size_t received = 0;
    std::size_t most_in_one_poll = 0;
    std::string error;
    bool healthy = true;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const bool all_sent = finished.load() == kSenders;
        Frames frames;
        healthy = b_->poll(frames, error);
        most_in_one_poll = std::max(most_in_one_poll, frames.size());
        for (const Bytes& frame : frames) {
            std::int64_t& previous = last.at(frame.at(0));
            const std::int64_t number = (frame.at(1) << 8) | frame.at(2);
            in_order = in_order && number > previous;
            previous = number;
        }
        received += frames.size();
        if (!healthy || received >= 4 * kUdpPollDatagramBudget || (all_sent && frames.empty()) ||
            std::chrono::steady_clock::now() > give_up) {
            break;
        }
    }
    enough = true;
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_TRUE(healthy) << error;
    EXPECT_GT(received, 0u);
    EXPECT_TRUE(in_order);
    EXPECT_LE(most_in_one_poll, kUdpPollDatagramBudget);
}

// A datagram sent while nothing is queued goes straight to the socket.
TEST_F(UdpTraffic, ADatagramSentWhileNothingIsQueuedLeavesWithoutAPoll) {
    start();
    std::string error;
    ASSERT_EQ(a_->send(Bytes{5, 6, 7}, error), SendResult::Sent) << error;
    EXPECT_TRUE(a_->send_queue_can_take(256, 0));
    ASSERT_TRUE(test::wait_until([&] { return !relay_->received_data().empty(); }));
    EXPECT_EQ(relay_->received_data()[0],
              data_datagram(relay_->session_id_of("player-a"), Bytes{5, 6, 7}));
}

// A payload that no datagram can carry is refused by send itself, whether it
// would have been written at once or queued; the session goes on.
TEST_F(UdpTraffic, APayloadBeyondOneDatagramIsRefusedAndTheSessionStays) {
    for (const SendPolicy policy : {SendPolicy::WriteThroughWhenIdle, SendPolicy::QueueUntilPoll}) {
        SCOPED_TRACE(policy == SendPolicy::QueueUntilPoll ? "queued" : "written through");
        a_ = make_udp_transport(kRelayHandshakeDeadline, policy);
        b_ = make_udp_transport();
        // A relay maximum far beyond one datagram.
        start(100000);
        std::string error;
        EXPECT_EQ(a_->send(Bytes(70000, 1), error), SendResult::OverLimit);
        EXPECT_EQ(error, "UDP packet exceeds the largest datagram");
        ASSERT_EQ(a_->send(Bytes{2}, error), SendResult::Sent) << error;
        Frames frames;
        EXPECT_TRUE(a_->poll(frames, error)) << error;
        EXPECT_EQ(a_->state(), TransportState::Connected);
        ASSERT_TRUE(test::wait_until([&] { return relay_->received_data().size() == 1; }));
        EXPECT_EQ(relay_->received_data()[0],
                  data_datagram(relay_->session_id_of("player-a"), Bytes{2}));
    }
}

TEST_F(UdpTraffic, RoomForABatchCountsDatagramsOnly) {
    // What this counts is the queue: every datagram waits there for a poll.
    a_ = make_udp_transport(kRelayHandshakeDeadline, SendPolicy::QueueUntilPoll);
    start();
    std::string error;
    ASSERT_EQ(a_->send(Bytes{1}, error), SendResult::Sent) << error;
    // {datagrams, payload bytes, fits with one queued, fits an empty queue}
    const std::tuple<std::size_t, std::uint64_t, bool, bool> cases[] = {
        {0, 0, true, true},       {255, 255, true, true},      {256, 256, false, true},
        {257, 257, false, false}, {1, UINT64_MAX, true, true},
    };
    for (const auto& [datagrams, bytes, fits_now, fits_ever] : cases) {
        SCOPED_TRACE(std::to_string(datagrams) + " datagrams");
        EXPECT_EQ(a_->send_queue_can_take(datagrams, bytes), fits_now);
        EXPECT_EQ(a_->send_queue_could_ever_take(datagrams, bytes), fits_ever);
    }
}

struct LimitCase {
    const char* name;
    std::uint32_t relay_maximum;
    std::uint32_t requested;
    std::size_t largest_accepted;
    const char* refusal;
};

constexpr char kOverLimit[] = "UDP packet exceeds the negotiated limit";
constexpr char kOverDatagram[] = "UDP packet exceeds the largest datagram";
// 65507 bytes of UDP payload less the data header (8) and the session id
// "udp-session-1#" (14).
constexpr std::size_t kLargestInADatagram = 65507 - 8 - 14;

TEST(UdpSendLimit, PayloadMayExceedTheLimitByFiveHundredTwelveBytesWithinOneDatagram) {
    const LimitCase cases[] = {
        {"relay_1000", 1000, 0, 1512, kOverLimit},
        {"requested_500_of_1200", 1200, 500, 1012, kOverLimit},
        {"relay_0", 0, 0, 512, kOverLimit},
        {"relay_70000", 70000, 0, kLargestInADatagram, kOverDatagram},
        {"relay_65000", 65000, 0, kLargestInADatagram, kOverDatagram},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUdpRelay relay({{"tok-a", "player-a", 1}}, c.relay_maximum);
        std::string error;
        ASSERT_TRUE(relay.start(error)) << error;
        auto transport = make_udp_transport();
        ASSERT_TRUE(transport->connect(endpoint_for(relay, "tok-a", 0, c.requested), error))
            << error;
        EXPECT_EQ(transport->largest_payload_bytes(), c.largest_accepted);
        EXPECT_EQ(transport->send(Bytes(c.largest_accepted, 7), error), SendResult::Sent) << error;
        EXPECT_EQ(transport->send(Bytes(c.largest_accepted + 1, 7), error), SendResult::OverLimit);
        EXPECT_EQ(error, c.refusal);
        EXPECT_EQ(transport->send(Bytes{}, error), SendResult::OverLimit);
        EXPECT_EQ(error, kOverLimit);
        // The largest accepted datagram went out: nothing fails afterwards.
        Frames none;
        EXPECT_TRUE(transport->poll(none, error)) << error;
        EXPECT_EQ(transport->state(), TransportState::Connected);
    }
}

TEST_F(UdpTraffic, HugeRelayMaximumNeitherWrapsNorOverAllocates) {
    start(0xFFFFFFFF);
    std::string error;
    const Bytes large(60000, 0x5A);
    ASSERT_EQ(a_->send(large, error), SendResult::Sent) << error;
    // With the limit near 4 GiB the allowance must not wrap around to a small number.
    ASSERT_EQ(a_->send(Bytes(600, 1), error), SendResult::Sent) << error;
    Frames none;
    ASSERT_TRUE(a_->poll(none, error)) << error;
    Frames frames;
    ASSERT_TRUE(poll_until_frames(*b_, frames, 2));
    EXPECT_EQ(frames[0], large);
}

TEST_F(UdpTraffic, DatagramLargerThanTheReceiveBufferEndsTheSession) {
    start(100);
    const Bytes mine = relay_->session_id_of("player-b");
    // The buffer holds the limit, the session id and 1024 bytes more.
    ASSERT_TRUE(relay_->inject("player-b", data_datagram(mine, Bytes(100 + 1024 + 1, 1))));
    std::string error;
    const bool failed = test::wait_until([&] {
        Frames frames;
        return !b_->poll(frames, error);
    });
    ASSERT_TRUE(failed);
    EXPECT_EQ(error, "UDP transport receive failed");
    EXPECT_EQ(b_->state(), TransportState::Failed);
}

TEST_F(UdpTraffic, DatagramThatFillsTheReceiveBufferIsAccepted) {
    start(100);
    const Bytes mine = relay_->session_id_of("player-b");
    const Bytes payload(100 + 1024 - 8, 3);
    ASSERT_TRUE(relay_->inject("player-b", data_datagram(mine, payload)));
    Frames frames;
    ASSERT_TRUE(poll_until_frames(*b_, frames, 1));
    EXPECT_EQ(frames[0], payload);
}

TEST(UdpNotConnected, SendFailsAndPollDoesNothing) {
    auto transport = make_udp_transport();
    std::string error;
    EXPECT_EQ(transport->send(Bytes{1}, error), SendResult::Failed);
    EXPECT_EQ(error, "UDP transport is not connected");
    EXPECT_EQ(transport->state(), TransportState::Idle);
    Frames frames;
    EXPECT_TRUE(transport->poll(frames, error));
    EXPECT_TRUE(frames.empty());
}

TEST_F(UdpTraffic, RelayGoingAwayEndsTheSession) {
    start();
    relay_->stop();
    std::string error;
    const bool failed = test::wait_until([&] {
        a_->send(Bytes{1}, error);
        Frames frames;
        return !a_->poll(frames, error);
    });
    ASSERT_TRUE(failed);
    EXPECT_TRUE(error == "UDP transport send failed" || error == "UDP transport receive failed")
        << error;
    EXPECT_EQ(a_->state(), TransportState::Failed);
}

}  // namespace
}  // namespace qop::network
