#include <gtest/gtest.h>

#include "support/fake_silent_relays.hpp"
#include "support/fake_udp_relay.hpp"
#include "support/transport_cancel_probe.hpp"

namespace qop::test {
namespace {

using network::TransportEndpoint;
using std::chrono::milliseconds;

constexpr char kCancelled[] = "UDP transport connect was cancelled";

TransportEndpoint loopback_endpoint(std::uint16_t port) {
    TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = port;
    endpoint.token = "tok-a";
    endpoint.envelope_version = 1;
    return endpoint;
}

std::vector<FakeUdpRelay::Player> one_player() {
    return {{"tok-a", "player-a", 1}};
}

TEST(UdpTransportCancel, AHelloThatIsNeverAnsweredEndsPromptlyOnCancel) {
    const MuteUdpPort mute;
    ASSERT_NE(mute.port(), 0);
    std::mt19937 random(5);
    auto transport = network::make_udp_transport();
    for (int cycle = 0; cycle < 20; ++cycle) {
        // From before the hello is sent to well into the wait for its answer.
        const CancelledConnect outcome = cancel_connect_when(
            *transport, loopback_endpoint(mute.port()), [] { return true; },
            random_delay(random, milliseconds(30)));
        EXPECT_FALSE(outcome.connected) << "cycle " << cycle;
        EXPECT_EQ(outcome.error, kCancelled) << "cycle " << cycle;
        EXPECT_LT(outcome.after_cancel, kPromptCancelLimit) << "cycle " << cycle;
        EXPECT_EQ(transport->state(), network::TransportState::Failed);
        transport->close();
    }
}

TEST(UdpTransportCancel, ARelayHoldingItsAcknowledgementIsLeftPromptly) {
    FakeUdpRelay relay(one_player());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    relay.hold_acknowledgements();
    auto transport = network::make_udp_transport();
    for (std::size_t cycle = 0; cycle < 10; ++cycle) {
        const CancelledConnect outcome = cancel_connect_when(
            *transport, loopback_endpoint(relay.port()),
            [&] { return relay.hellos().size() > cycle; }, std::chrono::microseconds(0));
        EXPECT_FALSE(outcome.connected) << "cycle " << cycle;
        EXPECT_EQ(outcome.error, kCancelled) << "cycle " << cycle;
        EXPECT_LT(outcome.after_cancel, kPromptCancelLimit) << "cycle " << cycle;
        transport->close();
    }
}

TEST(UdpTransportCancel, ACancelHoldsForEveryConnectUntilClose) {
    FakeUdpRelay relay(one_player());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = network::make_udp_transport();
    transport->cancel();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(transport->connect(loopback_endpoint(relay.port()), error));
        EXPECT_EQ(error, kCancelled);
        EXPECT_EQ(transport->state(), network::TransportState::Failed);
    }
    EXPECT_TRUE(relay.hellos().empty());
    transport->close();
    EXPECT_TRUE(transport->connect(loopback_endpoint(relay.port()), error)) << error;
    EXPECT_EQ(transport->player_slot(), 1);
}

}  // namespace
}  // namespace qop::test
