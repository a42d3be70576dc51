#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>

#include "allocation_probe.hpp"
#include "relay/socket_compat.hpp"
#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

using network::make_tcp_transport;
using network::SendResult;
using network::TransportState;
using std::chrono::milliseconds;

TEST(TcpTransportConnect, HandshakeAnnouncesTheTokenAndTheRoster) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_tcp_transport();
    ASSERT_TRUE(transport->connect(relay.endpoint("tok-guest"), error)) << error;

    EXPECT_EQ(transport->state(), TransportState::Connected);
    EXPECT_EQ(transport->envelope_version(), 1);
    EXPECT_EQ(transport->player_slot(), 2);
    EXPECT_EQ(transport->host_slot(), 1);
    const auto& roster = transport->slot_roster();
    ASSERT_EQ(roster.size(), 3u);
    EXPECT_EQ(roster[0].player_id, "host-id");
    EXPECT_EQ(roster[1].player_id, "guest-id");
    EXPECT_EQ(roster[2].slot, 3);

    const auto handshakes = relay.handshakes();
    ASSERT_EQ(handshakes.size(), 1u);
    google::protobuf::Struct sent;
    ASSERT_TRUE(google::protobuf::util::JsonStringToMessage(handshakes[0], &sent).ok());
    EXPECT_EQ(sent.fields().at("token").string_value(), "tok-guest");
}

struct AckVariant {
    const char* name;
    int selected_version;
    std::optional<std::string> ack_text;
    std::string token;
    bool connects;
    std::string error;
    std::uint8_t version;
};

TEST(TcpTransportConnect, AcknowledgementVariantsFromARealSocket) {
    const std::vector<AckVariant> cases = {
        {"version 1", 1, std::nullopt, "tok-host", true, "", 1},
        {"version 2", 2, std::nullopt, "tok-host", true, "", 0},
        {"version missing", -1, std::nullopt, "tok-host", true, "", 0},
        {"unknown token", 1, std::nullopt, "tok-nobody", false,
         "TCP transport authentication was rejected", 0},
        {"handshake echoed", 1, R"({"type":"reliable_handshake"})", "tok-host", false,
         "TCP transport authentication was rejected", 0},
        {"host slot 2", 1,
         R"({"type":"reliable_handshake_ack","selectedEnvelopeVersion":1,"playerSlot":2,"hostSlot":2,"playerSlots":[{"playerId":"a","slot":1},{"playerId":"b","slot":2}]})",
         "tok-host", false, "TCP slot metadata is invalid", 0},
        {"player slot 257", 1,
         R"({"type":"reliable_handshake_ack","selectedEnvelopeVersion":1,"playerSlot":257,"hostSlot":1,"playerSlots":[{"playerId":"a","slot":1}]})",
         "tok-host", false, "TCP slot metadata is invalid", 0},
        {"not JSON", 1, "\x01\x02garbage", "tok-host", false,
         "TCP transport returned an invalid acknowledgement", 0},
    };
    for (const auto& c : cases) {
        auto options = three_seat_room();
        options.selected_envelope_version = c.selected_version;
        options.ack_text = c.ack_text;
        FakeTcpRelay relay(options);
        std::string error;
        ASSERT_TRUE(relay.start(error)) << error;
        auto transport = make_tcp_transport();
        EXPECT_EQ(transport->connect(relay.endpoint(c.token), error), c.connects) << c.name;
        if (c.connects) {
            EXPECT_EQ(transport->envelope_version(), c.version) << c.name;
            if (c.version == 0) {
                EXPECT_EQ(transport->player_slot(), 0) << c.name;
                EXPECT_EQ(transport->host_slot(), 0) << c.name;
                EXPECT_TRUE(transport->slot_roster().empty()) << c.name;
            }
        } else {
            EXPECT_EQ(error, c.error) << c.name;
            EXPECT_EQ(transport->state(), TransportState::Failed) << c.name;
            EXPECT_TRUE(transport->slot_roster().empty()) << c.name;
            EXPECT_EQ(transport->player_slot(), 0) << c.name;
        }
    }
}

TEST(TcpTransportConnect, ATokenThatIsNotUtf8IsNeverSent) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_tcp_transport();
    EXPECT_FALSE(transport->connect(relay.endpoint("tok-\xFF"), error));
    EXPECT_EQ(error, "TCP transport handshake could not be encoded");
    EXPECT_EQ(transport->state(), TransportState::Failed);
    EXPECT_TRUE(relay.handshakes().empty());
}

TEST(TcpTransportConnect, IncompleteEndpointsFailBeforeTheNetwork) {
    network::TransportEndpoint no_port;
    no_port.host = "127.0.0.1";
    network::TransportEndpoint no_host;
    no_host.port = 9;
    for (const auto& endpoint : {no_port, no_host}) {
        auto transport = make_tcp_transport();
        std::string error;
        EXPECT_FALSE(transport->connect(endpoint, error));
        EXPECT_EQ(error, "Transport endpoint is incomplete");
        EXPECT_EQ(transport->state(), TransportState::Failed);
    }
}

TEST(TcpTransportConnect, NothingListeningGivesConnectionFailed) {
    std::uint16_t free_port = 0;
    {
        FakeTcpRelay relay(three_seat_room());
        std::string error;
        ASSERT_TRUE(relay.start(error)) << error;
        free_port = relay.port();
    }
    network::TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = free_port;
    auto transport = make_tcp_transport();
    std::string error;
    EXPECT_FALSE(transport->connect(endpoint, error));
    EXPECT_EQ(error, "Transport connection failed");
}

TEST(TcpTransportConnect, UnconnectedTransportsPollQuietlyAndRefuseToSend) {
    auto transport = make_tcp_transport();
    Frames frames;
    std::string error = "kept";
    EXPECT_TRUE(transport->poll(frames, error));
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(transport->send({1, 2, 3}, error), SendResult::Failed);
    EXPECT_EQ(error, "TCP transport is not connected");
    EXPECT_EQ(transport->state(), TransportState::Idle);

    network::TransportEndpoint incomplete;
    EXPECT_FALSE(transport->connect(incomplete, error));
    error = "left alone";
    EXPECT_FALSE(transport->poll(frames, error));
    EXPECT_EQ(error, "left alone");
    transport->close();
    transport->close();
    EXPECT_EQ(transport->state(), TransportState::Idle);
    EXPECT_TRUE(transport->poll(frames, error));
}

TEST(TcpTransportConnect, ATrickledAcknowledgementMeetsOneOverallDeadline) {
    auto options = three_seat_room();
    options.ack_trickle_interval = milliseconds(20);  // about 4 s for the whole reply
    FakeTcpRelay relay(options);
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_tcp_transport(milliseconds(300));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(transport->connect(relay.endpoint("tok-host"), error));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(error, "Transport closed while receiving data");
    // Every byte arrives well within 300 ms of the last one: only a deadline
    // over the whole exchange can end this early.
    EXPECT_LT(took, std::chrono::milliseconds(2500));
}

TEST(TcpTransportConnect, ASlowButCompleteAcknowledgementIsAccepted) {
    auto options = three_seat_room();
    options.ack_trickle_interval = milliseconds(1);
    options.ack_delay = milliseconds(50);
    FakeTcpRelay relay(options);
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_tcp_transport();
    EXPECT_TRUE(transport->connect(relay.endpoint("tok-host"), error)) << error;
}

TEST(TcpTransportConnect, AnAcknowledgementLaterThanTheDeadlineFails) {
    auto options = three_seat_room();
    options.ack_delay = milliseconds(3000);
    FakeTcpRelay relay(options);
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_tcp_transport(milliseconds(200));
    EXPECT_FALSE(transport->connect(relay.endpoint("tok-host"), error));
    EXPECT_EQ(error, "Transport closed while receiving data");
    EXPECT_EQ(transport->state(), TransportState::Failed);
}

struct HostileAck {
    const char* name;
    Bytes reply;
    std::uint32_t frame_max;
    std::string error;
};

TEST(TcpTransportConnect, HostileAcknowledgementLengthsAreNotTrusted) {
    const std::vector<HostileAck> cases = {
        {"length 0",
         {0x00, 0x00, 0x00, 0x00},
         0,
         "TCP transport frame exceeds the negotiated limit"},
        {"limit plus one",
         {0x00, 0x01, 0x00, 0x01, '{'},
         0,
         "TCP transport frame exceeds the negotiated limit"},
        {"all ones under the default limit",
         {0xFF, 0xFF, 0xFF, 0xFF, '{'},
         0,
         "TCP transport frame exceeds the negotiated limit"},
        {"4 GiB announced, a few bytes sent",
         {0xFF, 0xFF, 0xFF, 0xFF, '{', '"', 't'},
         0xFFFFFFFF,
         "Transport closed while receiving data"},
        {"closed inside the prefix", {0x00, 0x00}, 0, "Transport closed while receiving data"},
    };
    for (const auto& c : cases) {
        auto options = three_seat_room();
        options.ack_bytes = c.reply;
        options.close_after_ack = true;
        FakeTcpRelay relay(options);
        std::string error;
        ASSERT_TRUE(relay.start(error)) << error;
        auto transport = make_tcp_transport();
        const AllocationProbe probe;
        EXPECT_FALSE(transport->connect(relay.endpoint("tok-host", c.frame_max), error)) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_LT(probe.largest(), 1u << 20) << c.name;
    }
}

TEST(TcpTransportConnect, ReconnectingStartsFromACleanObject) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    auto transport = make_tcp_transport();
    ASSERT_TRUE(transport->connect(relay.endpoint("tok-third"), error)) << error;
    ASSERT_EQ(transport->send({1, 2, 3}, error), SendResult::Sent);
    ASSERT_TRUE(transport->connect(relay.endpoint("tok-guest"), error)) << error;
    EXPECT_EQ(transport->player_slot(), 2);
    EXPECT_EQ(transport->slot_roster().size(), 3u);
    transport->close();
    EXPECT_EQ(transport->state(), TransportState::Idle);
    EXPECT_EQ(transport->envelope_version(), 0);
    EXPECT_EQ(transport->player_slot(), 0);
    EXPECT_EQ(transport->host_slot(), 0);
    EXPECT_TRUE(transport->slot_roster().empty());
}

}  // namespace
}  // namespace qop::test
