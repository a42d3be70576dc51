#include <algorithm>
#include <vector>

#include "hosted_room_fixture.hpp"

namespace qop::godot_adapter::testing {
namespace {

constexpr int kPlayerLeft = 2;

class ThreePlayerRoom : public RoomOnBothRoads {
protected:
    void SetUp() override { ASSERT_TRUE(room.start_playing()); }

    void TearDown() override { EXPECT_THAT(room.host().engine().errors(), IsEmpty()); }

    HostedRoom room{GetParam()};
};

TEST_P(ThreePlayerRoom, SlotsAreThePeerIdsAndEveryoneMeetsEveryone) {
    for (const std::uint8_t slot : room.slots()) {
        SCOPED_TRACE(int(slot));
        QOPMultiplayerPeer* peer = room.peer(slot);
        EXPECT_EQ(peer->_get_unique_id(), slot);
        EXPECT_EQ(peer->_is_server(), slot == 1);
        std::vector<int64_t> others;
        for (const std::uint8_t other : room.slots()) {
            if (other != slot) {
                others.push_back(other);
            }
        }
        std::vector<int64_t> connected = room.host().signalled(peer, "peer_connected");
        std::sort(connected.begin(), connected.end());
        EXPECT_EQ(connected, others);
        EXPECT_THAT(room.host().signalled(peer, "peer_disconnected"), IsEmpty());
    }
}

struct PacketCase {
    const char* name;
    std::uint8_t sender;
    int32_t target;
    Mode mode;
    std::vector<std::size_t> sizes;
    std::vector<std::uint8_t> receivers;
    bool data_plane_only = false;  // both roads end in the same data plane
};

// Reliable chunks are 32768 bytes under the rooms' 65536-byte frame limit;
// unreliable packets fit the 1200-byte datagram limit with their 33-byte header;
// 16 MiB is the largest packet.
const PacketCase kPacketCases[] = {
    {"reliable_broadcast", 2, 0, Mode::TRANSFER_MODE_RELIABLE, {1, 32768, 32769, 100000}, {1, 3}},
    {"reliable_to_server", 3, 1, Mode::TRANSFER_MODE_RELIABLE, {32767, 65537}, {1}},
    {"reliable_direct", 2, 3, Mode::TRANSFER_MODE_RELIABLE, {5, 40000}, {3}},
    {"reliable_all_but_host", 2, -1, Mode::TRANSFER_MODE_RELIABLE, {70000, 3}, {3}},
    {"host_to_all_but_two", 1, -2, Mode::TRANSFER_MODE_RELIABLE, {9, 32769}, {3}},
    {"unreliable_broadcast", 1, 0, Mode::TRANSFER_MODE_UNRELIABLE, {1, 600, 1167}, {2, 3}},
    {"unreliable_to_server", 3, 1, Mode::TRANSFER_MODE_UNRELIABLE, {40, 41}, {1}},
    {"ordered_direct", 3, 2, Mode::TRANSFER_MODE_UNRELIABLE_ORDERED, {100, 200, 300}, {2}},
    {"ordered_all_but_three", 2, -3, Mode::TRANSFER_MODE_UNRELIABLE_ORDERED, {10, 20}, {1}},
    {"sixteen_mebibytes", 3, 0, Mode::TRANSFER_MODE_RELIABLE, {16777216}, {1, 2}, true},
};

TEST_P(ThreePlayerRoom, PacketsReachExactlyTheirTargetsWholeAndInOrder) {
    for (const PacketCase& c : kPacketCases) {
        SCOPED_TRACE(c.name);
        if (c.data_plane_only && GetParam() != Road::DataPlane) {
            continue;
        }
        std::vector<Bytes> sent;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            sent.push_back(pattern_bytes(c.sizes[i], std::uint8_t(i)));
            ASSERT_EQ(room.driver(c.sender).send(c.target, c.mode, 4, sent.back()), godot::OK);
        }
        ASSERT_TRUE(room.pump_until([&] {
            return std::all_of(c.receivers.begin(), c.receivers.end(), [&](std::uint8_t slot) {
                return room.received(slot).size() >= c.sizes.size();
            });
        }));
        room.pump_rounds(20);
        for (const std::uint8_t slot : room.slots()) {
            const bool receives =
                std::find(c.receivers.begin(), c.receivers.end(), slot) != c.receivers.end();
            std::vector<ReceivedPacket>& got = room.received(slot);
            ASSERT_EQ(got.size(), receives ? c.sizes.size() : 0u) << "slot " << int(slot);
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].peer, c.sender);
                EXPECT_EQ(got[i].channel, 4);
                EXPECT_EQ(got[i].mode, c.mode);
                EXPECT_TRUE(got[i].bytes == sent[i]) << "packet " << i << " to slot " << int(slot);
            }
            got.clear();
        }
    }
}

TEST_P(ThreePlayerRoom, APlayerWhoLeavesIsAnnouncedOnceAndCannotBeAddressed) {
    if (GetParam() != Road::Bootstrap) {
        GTEST_SKIP() << "room events come from the host bridge";
    }
    for (const std::uint8_t slot : {1, 2}) {
        room.push_room_event(slot, kPlayerLeft, room.player_id(3));
    }
    room.peer(3)->_close();
    room.pump_rounds(20);
    for (const std::uint8_t slot : {1, 2}) {
        SCOPED_TRACE(int(slot));
        EXPECT_THAT(room.host().signalled(room.peer(slot), "peer_disconnected"), ElementsAre(3));
        EXPECT_EQ(room.peer(slot)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
        EXPECT_EQ(room.driver(slot).send(3, Mode::TRANSFER_MODE_RELIABLE, 0, {1}),
                  godot::ERR_INVALID_PARAMETER);
    }
    // The room goes on without the third player.
    ASSERT_EQ(room.driver(2).send(0, Mode::TRANSFER_MODE_RELIABLE, 0, {42}), godot::OK);
    ASSERT_TRUE(room.pump_until([&] { return !room.received(1).empty(); }));
    EXPECT_EQ(room.received(1)[0].peer, 2);
}

TEST_P(ThreePlayerRoom, TheHostsDisconnectNoticeEndsThatPlayersSessionOnly) {
    room.peer(1)->_disconnect_peer(2, false);
    EXPECT_THAT(room.host().signalled(room.peer(1), "peer_disconnected"), ElementsAre(2));
    ASSERT_TRUE(room.pump_until_status(2, MultiplayerPeer::CONNECTION_DISCONNECTED));
    EXPECT_EQ(room.host().last_error(room.peer(2)), "Disconnected by multiplayer server");
    EXPECT_THAT(room.host().signalled(room.peer(2), "peer_disconnected"),
                UnorderedElementsAre(1, 3));
    // A removed player stays known by its id until _close.
    EXPECT_EQ(room.peer(2)->_get_unique_id(), 2);

    // The host and the third player carry on; the host no longer addresses slot 2.
    EXPECT_EQ(room.driver(1).send(2, Mode::TRANSFER_MODE_RELIABLE, 0, {1}),
              godot::ERR_INVALID_PARAMETER);
    ASSERT_EQ(room.driver(1).send(3, Mode::TRANSFER_MODE_RELIABLE, 0, {7, 7}), godot::OK);
    ASSERT_TRUE(room.pump_until([&] { return !room.received(3).empty(); }));
    EXPECT_EQ(room.peer(3)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    EXPECT_THAT(room.host().signalled(room.peer(3), "peer_disconnected"), IsEmpty());
}

TEST_P(ThreePlayerRoom, CloseEndsEverySessionWithoutASignal) {
    ASSERT_EQ(room.driver(2).send(1, Mode::TRANSFER_MODE_RELIABLE, 0, {5}), godot::OK);
    ASSERT_TRUE(room.pump_until([&] {
        return room.peer(1)->_get_available_packet_count() > 0 || !room.received(1).empty();
    }));
    for (const std::uint8_t slot : room.slots()) {
        room.peer(slot)->_close();
        EXPECT_EQ(room.peer(slot)->_get_connection_status(),
                  MultiplayerPeer::CONNECTION_DISCONNECTED);
        EXPECT_EQ(room.peer(slot)->_get_unique_id(), 0);
        EXPECT_EQ(room.peer(slot)->_get_available_packet_count(), 0);
        EXPECT_THAT(room.host().signalled(room.peer(slot), "peer_disconnected"), IsEmpty());
    }
    for (const std::uint8_t slot : room.slots()) {
        EXPECT_TRUE(room.relays().tcp().wait_for_disconnect(slot, std::chrono::seconds(10)));
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, ThreePlayerRoom,
                         ::testing::Values(Road::DataPlane, Road::Bootstrap), road_name);

}  // namespace
}  // namespace qop::godot_adapter::testing
