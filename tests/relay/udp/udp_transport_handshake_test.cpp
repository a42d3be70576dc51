#include <gtest/gtest.h>

#include <chrono>

#include "relay/udp/udp_transport_test_support.hpp"

namespace qop::network {
namespace {

using namespace udp_test;
using test::FakeUdpRelay;

TEST(UdpHandshake, ConnectsWithSlotMetadataAndSendsTheHelloByteForByte) {
    FakeUdpRelay relay(three_players());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_udp_transport();
    ASSERT_TRUE(transport->connect(endpoint_for(relay, "tok-b"), error)) << error;

    EXPECT_EQ(transport->state(), TransportState::Connected);
    EXPECT_EQ(transport->envelope_version(), 1);
    EXPECT_EQ(transport->player_slot(), 2);
    EXPECT_EQ(transport->host_slot(), 1);
    ASSERT_EQ(transport->slot_roster().size(), 3u);
    EXPECT_EQ(transport->slot_roster()[0].player_id, "player-a");
    EXPECT_EQ(transport->slot_roster()[2].player_id, "player-c");
    EXPECT_EQ(transport->slot_roster()[2].slot, 3);

    const auto hellos = relay.hellos();
    ASSERT_EQ(hellos.size(), 1u);
    EXPECT_EQ(hellos[0], (Bytes{'Q', 'O', 'P', 'U', 1, 1, 0, 5, 't', 'o', 'k', '-', 'b', 1}));
}

TEST(UdpHandshake, WithoutEnvelopeVersionTheHelloEndsAfterTheTokenAndNoSlotsCome) {
    FakeUdpRelay relay(three_players());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_udp_transport();
    ASSERT_TRUE(transport->connect(endpoint_for(relay, "tok-a", 0), error)) << error;
    EXPECT_EQ(transport->envelope_version(), 0);
    EXPECT_EQ(transport->player_slot(), 0);
    EXPECT_EQ(transport->host_slot(), 0);
    EXPECT_TRUE(transport->slot_roster().empty());
    EXPECT_EQ(relay.hellos().at(0),
              (Bytes{'Q', 'O', 'P', 'U', 1, 1, 0, 5, 't', 'o', 'k', '-', 'a'}));
}

TEST(UdpHandshake, NoAcknowledgementWithinTheDeadlineIsRejected) {
    FakeUdpRelay relay(three_players());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    relay.hold_acknowledgements();
    auto transport = make_udp_transport(std::chrono::milliseconds(150));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(transport->connect(endpoint_for(relay, "tok-a"), error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(error, "UDP transport authentication was rejected");
    EXPECT_EQ(transport->state(), TransportState::Failed);
    Frames frames;
    std::string poll_error = "unchanged";
    EXPECT_FALSE(transport->poll(frames, poll_error));
    EXPECT_EQ(poll_error, "unchanged");

    // The late answer does not disturb a fresh connection.
    relay.release_acknowledgements();
    auto again = make_udp_transport();
    EXPECT_TRUE(again->connect(endpoint_for(relay, "tok-a"), error)) << error;
}

TEST(UdpHandshake, UnknownTokenGetsNoAnswer) {
    FakeUdpRelay relay(three_players());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_udp_transport(std::chrono::milliseconds(100));
    EXPECT_FALSE(transport->connect(endpoint_for(relay, "stranger"), error));
    EXPECT_EQ(error, "UDP transport authentication was rejected");
}

struct RawAnswerCase {
    const char* name;
    Bytes answer;
    const char* error;
};

TEST(UdpHandshake, HostileAcknowledgementsFailTheConnect) {
    const Bytes fixed{'Q', 'O', 'P', 'U', 1, 2, 0, 1, 's', 0, 0, 4, 0xB0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes echo_zero = fixed;
    echo_zero.insert(echo_zero.end(), {0, 2, 1, 1, 1, 0, 1, 'x'});
    Bytes zero_session{'Q', 'O', 'P', 'U', 1, 2, 0, 0, 0, 0, 4, 0xB0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    Bytes trailing = fixed;
    trailing.insert(trailing.end(), {1, 1, 1, 1, 1, 0, 1, 'x', 0});
    const RawAnswerCase cases[] = {
        {"empty_datagram", {}, "UDP transport authentication was rejected"},
        {"short",
         {'Q', 'O', 'P', 'U', 1, 2, 0, 1, 's', 0, 0},
         "UDP transport authentication was rejected"},
        {"session_id_length_0", zero_session, "UDP transport returned an invalid acknowledgement"},
        {"echo_0", echo_zero, "UDP transport returned an invalid acknowledgement"},
        {"trailing_byte", trailing, "UDP slot metadata is invalid"},
    };
    for (const RawAnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUdpRelay relay(three_players());
        std::string error;
        ASSERT_TRUE(relay.start(error)) << error;
        relay.answer_hellos_with(c.answer);
        auto transport = make_udp_transport(std::chrono::milliseconds(2000));
        EXPECT_FALSE(transport->connect(endpoint_for(relay, "tok-a"), error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(transport->state(), TransportState::Failed);
        EXPECT_TRUE(transport->slot_roster().empty());
    }
}

TEST(UdpHandshake, FullRosterOfLongIdsFitsTheAcknowledgement) {
    std::vector<FakeUdpRelay::Player> room;
    for (int slot = 1; slot <= 64; ++slot) {
        room.push_back({"tok-" + std::to_string(slot),
                        std::string(200, static_cast<char>('a' + slot % 26)) + std::to_string(slot),
                        static_cast<std::uint8_t>(slot)});
    }
    FakeUdpRelay relay(room);
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_udp_transport();
    ASSERT_TRUE(transport->connect(endpoint_for(relay, "tok-64"), error)) << error;
    EXPECT_EQ(transport->slot_roster().size(), 64u);
    EXPECT_EQ(transport->player_slot(), 64);
}

TEST(UdpHandshake, EndpointChecksComeBeforeTheNetwork) {
    auto transport = make_udp_transport();
    std::string error;
    TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = 0;
    EXPECT_FALSE(transport->connect(endpoint, error));
    EXPECT_EQ(error, "Transport endpoint is incomplete");
    EXPECT_EQ(transport->state(), TransportState::Failed);
    endpoint.host.clear();
    endpoint.port = 9;
    EXPECT_FALSE(transport->connect(endpoint, error));
    EXPECT_EQ(error, "Transport endpoint is incomplete");
}

TEST(UdpHandshake, TokenTooLargeForOneDatagramFailsToSend) {
    FakeUdpRelay relay(three_players());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_udp_transport(std::chrono::milliseconds(500));
    EXPECT_FALSE(transport->connect(endpoint_for(relay, std::string(70000, 't')), error));
    EXPECT_EQ(error, "Transport send failed");
    EXPECT_EQ(transport->state(), TransportState::Failed);
}

TEST(UdpHandshake, CloseIsSafeTwiceAndConnectStartsAfresh) {
    FakeUdpRelay relay(three_players());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_udp_transport();
    ASSERT_TRUE(transport->connect(endpoint_for(relay, "tok-c"), error)) << error;
    transport->close();
    transport->close();
    EXPECT_EQ(transport->state(), TransportState::Idle);
    EXPECT_EQ(transport->envelope_version(), 0);
    EXPECT_EQ(transport->player_slot(), 0);
    EXPECT_TRUE(transport->slot_roster().empty());
    ASSERT_TRUE(transport->connect(endpoint_for(relay, "tok-c"), error)) << error;
    EXPECT_EQ(transport->player_slot(), 3);
}

}  // namespace
}  // namespace qop::network
