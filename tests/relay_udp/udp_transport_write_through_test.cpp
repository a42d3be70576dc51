// A datagram sent while nothing is queued goes straight to the socket; one
// the socket refuses is reported by the next poll exactly as when that poll
// wrote it.

#include <gtest/gtest.h>

#include "relay_udp/udp_transport_test_support.hpp"

namespace qop::network {
namespace {

using namespace udp_test;
using test::FakeUdpRelay;

// Lets a payload far beyond one datagram pass send's own limit check.
constexpr std::uint32_t kHugeRelayMaximum = 100000;

struct Peers {
    std::unique_ptr<FakeUdpRelay> relay;
    std::unique_ptr<NetworkTransport> a;
};

Peers connect_pair(SendPolicy policy, std::uint32_t relay_maximum) {
    Peers peers;
    peers.relay = std::make_unique<FakeUdpRelay>(
        std::vector<FakeUdpRelay::Player>{{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}},
        relay_maximum);
    peers.a = make_udp_transport(kRelayHandshakeDeadline, policy);
    std::string error;
    EXPECT_TRUE(peers.relay->start(error)) << error;
    EXPECT_TRUE(peers.a->connect(endpoint_for(*peers.relay, "tok-a", 0), error)) << error;
    return peers;
}

TEST(UdpWriteThrough, ADatagramSentWhileNothingIsQueuedLeavesWithoutAPoll) {
    Peers peers = connect_pair(SendPolicy::WriteThroughWhenIdle, 1200);
    std::string error;
    ASSERT_TRUE(peers.a->send(Bytes{5, 6, 7}, error)) << error;
    EXPECT_TRUE(peers.a->send_queue_can_take(256, 0));
    ASSERT_TRUE(test::wait_until([&] { return !peers.relay->received_data().empty(); }));
    EXPECT_EQ(peers.relay->received_data()[0],
              data_datagram(peers.relay->session_id_of("player-a"), Bytes{5, 6, 7}));
}

TEST(UdpWriteThrough, ADatagramTheSocketRefusesFailsTheNextPollAsAQueuedOneWould) {
    for (const SendPolicy policy : {SendPolicy::WriteThroughWhenIdle, SendPolicy::QueueUntilPoll}) {
        SCOPED_TRACE(policy == SendPolicy::QueueUntilPoll ? "queued" : "written through");
        Peers peers = connect_pair(policy, kHugeRelayMaximum);
        std::string error;
        // No datagram is this large: the socket refuses it.
        ASSERT_TRUE(peers.a->send(Bytes(70000, 1), error)) << error;
        EXPECT_TRUE(peers.a->send(Bytes{2}, error)) << error;
        EXPECT_EQ(peers.a->state(), TransportState::Connected);
        Frames frames;
        EXPECT_FALSE(peers.a->poll(frames, error));
        EXPECT_EQ(error, "UDP transport send failed");
        EXPECT_EQ(peers.a->state(), TransportState::Failed);
        EXPECT_TRUE(peers.relay->received_data().empty());
    }
}

}  // namespace
}  // namespace qop::network
