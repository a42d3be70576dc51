#include <gtest/gtest.h>

#include <memory>

#include "relay/tcp/tcp_test_room.hpp"
#include "support/fake_silent_relays.hpp"
#include "support/transport_cancel_probe.hpp"

namespace qop::test {
namespace {

using network::TransportEndpoint;
using std::chrono::milliseconds;

constexpr char kCancelled[] = "TCP transport connect was cancelled";

TransportEndpoint loopback_endpoint(std::uint16_t port, std::string token = "tok-host") {
    TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = port;
    endpoint.token = std::move(token);
    return endpoint;
}

// One silent relay for one cycle, and the sign that the connect reached the phase.
struct Silence {
    std::shared_ptr<void> relay;
    TransportEndpoint endpoint;
    std::function<bool()> reached;
};

struct Phase {
    const char* name;
    int cycles;
    std::function<bool(Silence&)> make;  // false: this system cannot stage the phase
};

Silence relay_silence(FakeTcpRelayOptions options) {
    auto relay = std::make_shared<FakeTcpRelay>(std::move(options));
    std::string error;
    EXPECT_TRUE(relay->start(error)) << error;
    return {relay, relay->endpoint("tok-host"), [relay] { return !relay->handshakes().empty(); }};
}

const Phase kPhases[] = {
    {"TcpConnectToARelayThatDropsConnectionRequests", 4,
     [](Silence& silence) {
         auto listener = std::make_shared<UnansweringTcpListener>();
         silence = {listener, loopback_endpoint(listener->port()), [] { return true; }};
         return listener->full();
     }},
    // The relay reads nothing, so a handshake larger than the socket buffers
    // (about 4 MiB on loopback here) cannot be written.
    {"HandshakeWriteToARelayThatNeverReads", 3,
     [](Silence& silence) {
         auto listener = std::make_shared<MuteTcpListener>();
         silence = {listener, loopback_endpoint(listener->port(), std::string(6u << 20, 't')),
                    [listener] { return listener->wait_for_bytes(milliseconds(1)); }};
         return true;
     }},
    {"AcknowledgementThatNeverComes", 10,
     [](Silence& silence) {
         auto options = three_seat_room();
         options.ack_delay = std::chrono::seconds(60);
         silence = relay_silence(options);
         return true;
     }},
    {"AcknowledgementTrickledAByteAtATime", 10,
     [](Silence& silence) {
         auto options = three_seat_room();
         options.ack_trickle_interval = milliseconds(15);
         silence = relay_silence(options);
         return true;
     }},
};

class TcpTransportCancelIn : public ::testing::TestWithParam<Phase> {};

TEST_P(TcpTransportCancelIn, ThePhaseEndsPromptlyAtARandomPoint) {
    const Phase& phase = GetParam();
    std::mt19937 random(11);
    auto transport = network::make_tcp_transport();
    for (int cycle = 0; cycle < phase.cycles; ++cycle) {
        Silence silence;
        if (!phase.make(silence)) {
            GTEST_SKIP() << "this system answers every connection request";
        }
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        expect_cancelled_promptly(cancel_connect_when(*transport, silence.endpoint, silence.reached,
                                                      random_delay(random, milliseconds(40))),
                                  *transport, kCancelled);
        // The next connect must not inherit the cancel.
        transport->close();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, TcpTransportCancelIn, ::testing::ValuesIn(kPhases),
                         [](const ::testing::TestParamInfo<Phase>& info) {
                             return std::string(info.param.name);
                         });

TEST(TcpTransportCancel, ACancelHoldsForEveryConnectUntilClose) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = network::make_tcp_transport();
    expect_cancel_holds_until_close(*transport, relay.endpoint("tok-host"), kCancelled,
                                    [&] { return relay.handshakes().empty(); });
}

}  // namespace
}  // namespace qop::test
