// The one system call a room peer makes on an idle frame must never hide
// anything a poll would have found: a frame, a datagram, a close, or output
// still waiting to be written.

#include <gtest/gtest.h>

#include "network/transport_input_check.hpp"
#include "relay_udp/udp_transport_test_support.hpp"
#include "support/fake_tcp_relay.hpp"

namespace qop::network {
namespace {

using namespace udp_test;
using test::FakeTcpRelay;
using test::FakeUdpRelay;

struct NeedPoll {
    bool reliable = true;
    bool unreliable = true;
};

NeedPoll ask(const NetworkTransport& reliable, const NetworkTransport& unreliable) {
    const NetworkTransport* const transports[] = {&reliable, &unreliable};
    bool need[2];
    find_transports_to_poll(transports, 2, need);
    return {need[0], need[1]};
}

class TransportInputCheck : public ::testing::Test {
protected:
    void SetUp() override {
        test::FakeTcpRelayOptions options;
        options.room = {{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}};
        tcp_relay_ = std::make_unique<FakeTcpRelay>(options);
        std::string error;
        ASSERT_TRUE(tcp_relay_->start(error)) << error;
        ASSERT_TRUE(udp_relay_.start(error)) << error;
        ASSERT_TRUE(tcp_->connect(tcp_relay_->endpoint("tok-a"), error)) << error;
        ASSERT_TRUE(udp_->connect(endpoint_for(udp_relay_, "tok-a", 0), error)) << error;
        ASSERT_TRUE(tcp_relay_->wait_for_players(1, std::chrono::seconds(10)));
        // Whatever followed the handshakes is read now.
        Frames frames;
        ASSERT_TRUE(tcp_->poll(frames, error)) << error;
        ASSERT_TRUE(udp_->poll(frames, error)) << error;
    }

    std::unique_ptr<FakeTcpRelay> tcp_relay_;
    FakeUdpRelay udp_relay_{{{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}}};
    std::unique_ptr<NetworkTransport> tcp_ = make_tcp_transport();
    std::unique_ptr<NetworkTransport> udp_ = make_udp_transport();
};

TEST_F(TransportInputCheck, EachArrivalWakesOnlyItsOwnTransportUntilItIsRead) {
    NeedPoll need = ask(*tcp_, *udp_);
    EXPECT_FALSE(need.reliable);
    EXPECT_FALSE(need.unreliable);

    tcp_relay_->send_frame(1, Bytes{0, 2, 1, 2, 'r'});
    ASSERT_TRUE(test::wait_until([&] { return ask(*tcp_, *udp_).reliable; }));
    EXPECT_FALSE(ask(*tcp_, *udp_).unreliable);
    Frames frames;
    std::string error;
    ASSERT_TRUE(poll_until_frames(*tcp_, frames, 1)) << error;
    need = ask(*tcp_, *udp_);
    EXPECT_FALSE(need.reliable);
    EXPECT_FALSE(need.unreliable);

    ASSERT_TRUE(udp_relay_.inject(
        "player-a", data_datagram(udp_relay_.session_id_of("player-a"), Bytes{0, 2, 1, 2, 'u'})));
    ASSERT_TRUE(test::wait_until([&] { return ask(*tcp_, *udp_).unreliable; }));
    EXPECT_FALSE(ask(*tcp_, *udp_).reliable);
    ASSERT_TRUE(poll_until_frames(*udp_, frames, 2));
    EXPECT_FALSE(ask(*tcp_, *udp_).unreliable);

    // A close is something a poll must report.
    tcp_relay_->send_raw_then_close(1, {});
    ASSERT_TRUE(test::wait_until([&] { return ask(*tcp_, *udp_).reliable; }));
    EXPECT_TRUE(test::wait_until([&] { return !tcp_->poll(frames, error); }));
    EXPECT_EQ(error, "TCP transport closed");
}

TEST_F(TransportInputCheck, OutputWaitingOrNoSocketAlwaysNeedsThePoll) {
    // Output the socket has not taken yet: the relay stops reading, the
    // transport's queue fills.
    tcp_relay_->pause_reading(1);
    std::string error;
    ASSERT_TRUE(test::wait_until([&] {
        EXPECT_TRUE(tcp_->send(Bytes(60000, 7), error)) << error;
        return !tcp_->send_queue_can_take(2048, 0);
    }));
    EXPECT_TRUE(ask(*tcp_, *udp_).reliable);

    const std::unique_ptr<NetworkTransport> unconnected = make_udp_transport();
    EXPECT_TRUE(ask(*udp_, *unconnected).unreliable);
    const NetworkTransport* const with_gap[] = {nullptr, udp_.get()};
    bool need[2];
    find_transports_to_poll(with_gap, 2, need);
    EXPECT_TRUE(need[0]);
    EXPECT_FALSE(need[1]);
}

}  // namespace
}  // namespace qop::network
