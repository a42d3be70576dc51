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
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        // From before the hello is sent to well into the wait for its answer.
        expect_cancelled_promptly(cancel_connect_when(
                                      *transport, loopback_endpoint(mute.port()),
                                      [] { return true; }, random_delay(random, milliseconds(30))),
                                  *transport, kCancelled);
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
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        expect_cancelled_promptly(
            cancel_connect_when(
                *transport, loopback_endpoint(relay.port()),
                [&] { return relay.hellos().size() > cycle; }, std::chrono::microseconds(0)),
            *transport, kCancelled);
        transport->close();
    }
}

TEST(UdpTransportCancel, ACancelHoldsForEveryConnectUntilClose) {
    FakeUdpRelay relay(one_player());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = network::make_udp_transport();
    expect_cancel_holds_until_close(*transport, loopback_endpoint(relay.port()), kCancelled,
                                    [&] { return relay.hellos().empty(); });
    EXPECT_EQ(transport->player_slot(), 1);
}

}  // namespace
}  // namespace qop::test
