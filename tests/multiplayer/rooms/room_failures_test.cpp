#include <functional>
#include <string>
#include <vector>

#include "godot_adapter/godot_string_conversion.hpp"
#include "hosted_room_fixture.hpp"
#include "support/host_bridge_wire.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

namespace wire = qop::test::wire;
using RoomChange = std::function<void(qop::test::FakeRoomOptions&)>;

bool settled(QOPMultiplayerPeer* peer) {
    return peer->_get_connection_status() != MultiplayerPeer::CONNECTION_CONNECTING;
}

struct ConnectFailure {
    const char* name;
    RoomChange room;
    std::function<void(MultiplayerPeerSeams&)> seams;
    std::function<void(godot::Dictionary&, qop::test::FakeRoomRelays&)> context;
    const char* error;  // "" when the connection comes up
};

// The UDP relay seats these players, whatever the TCP relay does.
RoomChange udp_seats(std::vector<qop::test::FakeRelayPlayer> seats) {
    return [seats](qop::test::FakeRoomOptions& options) { options.udp_seats = seats; };
}

const std::vector<ConnectFailure>& connect_failures() {
    static const std::vector<ConnectFailure> cases = {
        {"token_refused", nullptr, nullptr,
         [](godot::Dictionary& context, qop::test::FakeRoomRelays& relays) {
             context["sdk_descriptor_json"] = to_godot_string(relays.descriptor_json("stranger"));
         },
         "TCP transport authentication was rejected"},
        {"descriptor_expired", nullptr,
         [](MultiplayerPeerSeams& seams) {
             seams.connect.unix_seconds = [] { return std::int64_t{4102444800}; };
         },
         nullptr, "Data-plane descriptor expired"},
        {"no_envelope_version",
         [](qop::test::FakeRoomOptions& options) { options.tcp.selected_envelope_version = 0; },
         nullptr, nullptr, "DataPlaneEnvelope V1 slot metadata is unavailable"},
        {"relays_disagree_on_slots",
         udp_seats({{"tok-host", "host-player", 1},
                    {"tok-two", "player-two", 3},
                    {"tok-three", "player-three", 2}}),
         nullptr, nullptr, "Reliable and UDP slot metadata do not match"},
        {"same_roster_in_another_order",
         udp_seats({{"tok-three", "player-three", 3},
                    {"tok-host", "host-player", 1},
                    {"tok-two", "player-two", 2}}),
         nullptr, nullptr, ""},
    };
    return cases;
}

TEST(RoomConnectFailures, EndTheConnectionWithTheirTextAndNoSignal) {
    for (const ConnectFailure& c : connect_failures()) {
        SCOPED_TRACE(c.name);
        qop::test::FakeRoomOptions options;
        if (c.room) {
            c.room(options);
        }
        HostedRoom room(Road::DataPlane, options);
        std::string error;
        ASSERT_TRUE(room.start(error)) << error;
        MultiplayerPeerSeams seams = room.seams_for(2);
        if (c.seams) {
            c.seams(seams);
        }
        QOPMultiplayerPeer* peer = room.host().new_peer(std::move(seams));
        godot::Dictionary context = room.relays().context_for("player-two");
        if (c.context) {
            c.context(context, room.relays());
        }
        ASSERT_EQ(room.host().connect_data_plane(peer, context), godot::OK);
        godot_standin::MultiplayerDriver driver;
        ASSERT_TRUE(driver.assign(peer));
        ASSERT_TRUE(qop::test::wait_until([&] {
            driver.poll();
            return settled(peer);
        }));
        const bool up = std::string(c.error).empty();
        EXPECT_EQ(peer->_get_connection_status(), up ? MultiplayerPeer::CONNECTION_CONNECTED
                                                     : MultiplayerPeer::CONNECTION_DISCONNECTED);
        EXPECT_EQ(room.host().last_error(peer), c.error);
        EXPECT_THAT(room.host().signalled(peer, "peer_disconnected"), IsEmpty());
        EXPECT_EQ(room.host().signalled(peer, "peer_connected").size(), up ? 2u : 0u);
    }
}

class ConnectedRoomFailures : public ::testing::Test {
protected:
    void start(Road road) {
        room.reset();  // one engine host at a time
        room = std::make_unique<HostedRoom>(road);
        ASSERT_TRUE(room->start_playing());
    }

    void expect_ended(std::uint8_t slot, const std::string& text, std::vector<int64_t> farewells) {
        SCOPED_TRACE(int(slot));
        ASSERT_TRUE(room->pump_until_status(slot, MultiplayerPeer::CONNECTION_DISCONNECTED));
        EXPECT_EQ(room->host().last_error(room->peer(slot)), text);
        EXPECT_THAT(room->host().signalled(room->peer(slot), "peer_disconnected"),
                    ::testing::UnorderedElementsAreArray(farewells));
    }

    std::unique_ptr<HostedRoom> room;
};

TEST_F(ConnectedRoomFailures, TheGameCanFailAConnectedSession) {
    start(Road::DataPlane);
    room->host().call(room->peer(1), "fail_connection", {to_godot_string("Match abandoned")});
    expect_ended(1, "Match abandoned", {2, 3});
}

struct RoomEventCase {
    const char* name;
    std::string pushed;  // what the room session pipe sends
    const char* error;
};

TEST_F(ConnectedRoomFailures, RoomEventsThatEndTheSession) {
    const std::vector<RoomEventCase> cases = {
        {"host_transferred", wire::framed(wire::room_event(3, "", "", "host-player", "player-two")),
         "Room host changed; reconnect the multiplayer peer"},
        {"detached_without_reason", wire::framed(wire::detached("")),
         "Hosted session disconnected"},
        {"detached_with_reason", wire::framed(wire::detached("Room closed by its owner")),
         "Room closed by its owner"},
        {"bridge_error", wire::framed(wire::session_error("ROOM_GONE", "Room expired")),
         "ROOM_GONE: Room expired"},
    };
    for (const RoomEventCase& c : cases) {
        SCOPED_TRACE(c.name);
        start(Road::Bootstrap);
        room->room_pipe(2).push(c.pushed);
        expect_ended(2, c.error, {1, 3});
        EXPECT_EQ(room->peer(3)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    }
}

TEST_F(ConnectedRoomFailures, ARoomSessionPipeThatClosesEndsTheSession) {
    start(Road::Bootstrap);
    room->room_pipe(3).hang_up();
    expect_ended(3, "Hosted session pipe closed", {1, 2});
}

TEST_F(ConnectedRoomFailures, JoinsAndLeavesKeepTheSession) {
    start(Road::Bootstrap);
    // A newcomer has no slot; a player that never had one leaves quietly; the
    // local player's own departure removes it without a signal.
    room->push_room_event(2, 1, "late-player");
    room->push_room_event(2, 2, "late-player");
    room->push_room_event(2, 2, "player-two");
    room->pump_rounds(20);
    EXPECT_EQ(room->peer(2)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    EXPECT_THAT(room->host().signalled(room->peer(2), "peer_disconnected"), IsEmpty());
    EXPECT_EQ(room->host().last_error(room->peer(2)), "");
}

}  // namespace
}  // namespace qop::godot_adapter::testing
