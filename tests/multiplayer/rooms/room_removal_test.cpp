// A player the host removes leaves even when the notice comes before the
// player has heard the session nonce; a notice that the nonce shows to belong
// to another session does not end this one. The manual clock never moves
// here: no periodic announce helps.

#include <string>
#include <vector>

#include "hosted_room_fixture.hpp"

namespace qop::godot_adapter::testing {
namespace {

constexpr char kRemoved[] = "Disconnected by multiplayer server";

// Each seat is connected before the next one joins.
bool join_in_turn(HostedRoom& room, const std::vector<std::uint8_t>& slots) {
    for (const std::uint8_t slot : slots) {
        if (room.connect(slot) != godot::OK ||
            !room.pump_until_status(slot, MultiplayerPeer::CONNECTION_CONNECTED)) {
            return false;
        }
    }
    return true;
}

TEST(RoomRemoval, APlayerRemovedBeforeItKnowsTheNonceLeavesAtOnce) {
    // Either the clients are in the room before the host completes, which
    // removes player 2 from its peer_connected handler, ahead of its first
    // announce; or the clients join after that announce.
    for (const bool from_peer_connected_handler : {true, false}) {
        SCOPED_TRACE(from_peer_connected_handler ? "from the host's peer_connected handler"
                                                 : "after joining past the host's announce");
        HostedRoom room(Road::DataPlane);
        std::string error;
        ASSERT_TRUE(room.start(error)) << error;
        if (from_peer_connected_handler) {
            ASSERT_TRUE(join_in_turn(room, {2, 3}));
            ASSERT_EQ(room.connect(1), godot::OK);
            room.host().engine().connect(room.peer(1), "peer_connected",
                                         [&](const std::vector<godot::Variant>& arguments) {
                                             if (static_cast<int32_t>(arguments[0]) == 2) {
                                                 room.peer(1)->_disconnect_peer(2, false);
                                             }
                                         });
            ASSERT_TRUE(room.pump_until_status(1, MultiplayerPeer::CONNECTION_CONNECTED));
        } else {
            ASSERT_TRUE(join_in_turn(room, {1, 2, 3}));
            room.peer(1)->_disconnect_peer(2, false);
        }
        ASSERT_TRUE(room.pump_until_status(2, MultiplayerPeer::CONNECTION_DISCONNECTED));
        EXPECT_EQ(room.host().last_error(room.peer(2)), kRemoved);
        EXPECT_THAT(room.host().signalled(room.peer(2), "peer_disconnected"),
                    UnorderedElementsAre(1, 3));
        room.pump_rounds(10);
        EXPECT_EQ(room.peer(3)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
        EXPECT_EQ(room.peer(1)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    }
}

TEST(RoomRemoval, ANoticeFromBeforeTheNonceCountsOnlyWithThisSessionsNonce) {
    for (const bool this_session : {false, true}) {
        SCOPED_TRACE(this_session ? "this session's notice" : "an earlier session's notice");
        HostedRoom room(Road::DataPlane, qop::test::two_player_room());
        std::string error;
        ASSERT_TRUE(room.start(error)) << error;
        ASSERT_TRUE(join_in_turn(room, {1, 2}));  // 2 past the host's first announce
        const std::uint64_t nonce = room.host_nonce();
        HandFrame notice;
        notice.kind = 4;
        notice.sequence = 0;
        notice.message_id = 0;
        notice.nonce = this_session ? nonce : nonce ^ 0x00F0F0F000000001ULL;
        notice.chunk = {'{', '}'};
        room.relays().tcp().send_raw(2, qop::test::fake_relay_frame(hand_envelope(notice)));
        ASSERT_TRUE(room.relays().tcp().wait_until_written(2, std::chrono::seconds(10)));
        room.pump_rounds(20);
        // Until the host's nonce is known the notice cannot be dated.
        EXPECT_EQ(room.peer(2)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);

        room.clock().advance(std::chrono::seconds(5));  // the host's next announce
        if (this_session) {
            ASSERT_TRUE(room.pump_until_status(2, MultiplayerPeer::CONNECTION_DISCONNECTED));
            EXPECT_EQ(room.host().last_error(room.peer(2)), kRemoved);
            continue;
        }
        ASSERT_EQ(room.driver(2).send(1, Mode::TRANSFER_MODE_RELIABLE, 0, {7}), godot::OK);
        ASSERT_TRUE(room.pump_until([&] { return !room.received(1).empty(); }));
        EXPECT_EQ(room.received(1)[0].bytes, Bytes{7});
        EXPECT_EQ(room.peer(2)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
        EXPECT_EQ(room.host().last_error(room.peer(2)), "");
    }
}

}  // namespace
}  // namespace qop::godot_adapter::testing
