// The one system call a room peer makes on an idle frame must never hide
// anything a poll would have found: a frame, a datagram, a close, or output
// still waiting to be written.

#include <gtest/gtest.h>

#include <utility>

#include "relay/transports_to_poll.hpp"
#include "relay/udp/udp_transport_test_support.hpp"
#include "support/fake_tcp_relay.hpp"

namespace qop::network {
namespace {

using namespace udp_test;
using test::FakeTcpRelay;
using test::FakeUdpRelay;

// Which of the two need a poll: {first, second}.
using Need = std::pair<bool, bool>;

Need ask(const NetworkTransport* first, const NetworkTransport* second) {
    const NetworkTransport* const transports[] = {first, second};
    bool need[2];
    find_transports_to_poll(transports, 2, need);
    return {need[0], need[1]};
}

class TransportsToPoll : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(tcp_relay_.start(error)) << error;
        ASSERT_TRUE(udp_relay_.start(error)) << error;
        ASSERT_TRUE(tcp_->connect(tcp_relay_.endpoint("tok-a"), error)) << error;
        ASSERT_TRUE(udp_->connect(endpoint_for(udp_relay_, "tok-a", 0), error)) << error;
        ASSERT_TRUE(tcp_relay_.wait_for_players(1, std::chrono::seconds(10)));
        // Whatever followed the handshakes is read now.
        Frames frames;
        ASSERT_TRUE(tcp_->poll(frames, error)) << error;
        ASSERT_TRUE(udp_->poll(frames, error)) << error;
    }

    static test::FakeTcpRelayOptions two_players() {
        test::FakeTcpRelayOptions options;
        options.room = {{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}};
        return options;
    }

    FakeTcpRelay tcp_relay_{two_players()};
    FakeUdpRelay udp_relay_{{{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}}};
    std::unique_ptr<NetworkTransport> tcp_ = make_tcp_transport();
    std::unique_ptr<NetworkTransport> udp_ = make_udp_transport();
};

TEST_F(TransportsToPoll, EachArrivalWakesOnlyItsOwnTransportUntilItIsRead) {
    const auto need = [&] { return ask(tcp_.get(), udp_.get()); };
    EXPECT_EQ(need(), Need(false, false));

    tcp_relay_.send_frame(1, Bytes{0, 2, 1, 2, 'r'});
    ASSERT_TRUE(test::wait_until([&] { return need().first; }));
    EXPECT_FALSE(need().second);
    Frames frames;
    ASSERT_TRUE(poll_until_frames(*tcp_, frames, 1));
    EXPECT_EQ(need(), Need(false, false));

    ASSERT_TRUE(udp_relay_.inject(
        "player-a", data_datagram(udp_relay_.session_id_of("player-a"), Bytes{0, 2, 1, 2, 'u'})));
    ASSERT_TRUE(test::wait_until([&] { return need().second; }));
    EXPECT_FALSE(need().first);
    ASSERT_TRUE(poll_until_frames(*udp_, frames, 2));
    EXPECT_FALSE(need().second);

    // A close is something a poll must report.
    tcp_relay_.send_raw_then_close(1, {});
    ASSERT_TRUE(test::wait_until([&] { return need().first; }));
    std::string error;
    EXPECT_TRUE(test::wait_until([&] { return !tcp_->poll(frames, error); }));
    EXPECT_EQ(error, "TCP transport closed");
}

TEST_F(TransportsToPoll, OutputWaitingOrNoSocketAlwaysNeedsThePoll) {
    // Output the socket has not taken yet: the relay stops reading, the
    // transport's queue fills.
    tcp_relay_.pause_reading(1);
    std::string error;
    ASSERT_TRUE(test::wait_until([&] {
        EXPECT_EQ(tcp_->send(Bytes(60000, 7), error), SendResult::Sent) << error;
        return !tcp_->send_queue_can_take(2048, 0);
    }));
    EXPECT_TRUE(ask(tcp_.get(), udp_.get()).first);

    const std::unique_ptr<NetworkTransport> unconnected = make_udp_transport();
    EXPECT_TRUE(ask(udp_.get(), unconnected.get()).second);
    EXPECT_EQ(ask(nullptr, udp_.get()), Need(true, false));
}

}  // namespace
}  // namespace qop::network
