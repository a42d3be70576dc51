#include <algorithm>
#include <string>
#include <vector>

#include "godot_adapter/godot_string_conversion.hpp"
#include "hosted_room_fixture.hpp"
#include "support/test_waits.hpp"

// Rooms played through the model of the engine's multiplayer API, with its
// server relay left on as a game leaves it.
namespace qop::godot_adapter::testing {
namespace {

using godot_standin::SceneMultiplayerModel;
using godot_standin::SceneSignal;

std::vector<std::uint8_t> clients_of(const HostedRoom& room) {
    std::vector<std::uint8_t> clients = room.slots();
    clients.erase(std::remove(clients.begin(), clients.end(), 1), clients.end());
    return clients;
}

// The clients take their seats before the host opens the room, so that
// anything the host sends as it admits them reaches them.
::testing::AssertionResult seat_host_last(HostedRoom& room) {
    std::string error;
    bool seated = room.start(error);
    std::vector<std::uint8_t> order = clients_of(room);
    order.push_back(1);
    for (const std::uint8_t slot : order) {
        seated = seated && room.connect(slot) == godot::OK &&
                 room.pump_until_status(slot, MultiplayerPeer::CONNECTION_CONNECTED);
    }
    if (!seated || !room.spread_nonce()) {
        return ::testing::AssertionFailure() << "the room did not open, host last " << error;
    }
    return ::testing::AssertionSuccess();
}

bool heard_from(SceneMultiplayerModel& model, int32_t sender) {
    const std::vector<int32_t> ids = model.ids_of("peer_packet");
    return std::find(ids.begin(), ids.end(), sender) != ids.end();
}

bool ends_with(const Bytes& frame, const Bytes& tail) {
    return frame.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), frame.rbegin());
}

TEST(SceneMultiplayerRoom, EachPlayerHearsOfEveryOtherOnceAndClientsReachEachOtherDirectly) {
    for (const std::size_t players : {3u, 4u}) {
        SCOPED_TRACE(std::to_string(players) + " players");
        qop::test::FakeRoomOptions options;
        if (players == 4) {
            options.seats.push_back({"tok-four", "player-four", 4});
        }
        HostedRoom room(Road::DataPlane, options);
        room.use_scene_multiplayer();
        ASSERT_TRUE(seat_host_last(room));
        // The host's reliable bytes to a client come after anything it sent
        // that client on admission.
        const std::vector<std::uint8_t> clients = clients_of(room);
        for (const std::uint8_t slot : clients) {
            ASSERT_EQ(room.model(1).send_bytes({0x51, slot}, slot), godot::OK);
        }
        const Bytes payload = pattern_bytes(40, 0xA0);
        ASSERT_EQ(room.model(2).send_bytes(payload, 3), godot::OK);
        ASSERT_TRUE(room.pump_until([&] {
            return heard_from(room.model(3), 2) &&
                   std::all_of(clients.begin(), clients.end(),
                               [&](std::uint8_t s) { return heard_from(room.model(s), 1); });
        }));

        for (const std::uint8_t slot : room.slots()) {
            SCOPED_TRACE("slot " + std::to_string(slot));
            SceneMultiplayerModel& model = room.model(slot);
            const std::vector<std::uint8_t> all = room.slots();
            std::vector<int32_t> others(all.begin(), all.end());
            others.erase(std::remove(others.begin(), others.end(), slot), others.end());
            std::vector<int32_t> connected = model.ids_of("peer_connected");
            std::sort(connected.begin(), connected.end());
            EXPECT_EQ(connected, others);
            EXPECT_EQ(model.count_of("connected_to_server"), slot == 1 ? 0u : 1u);
            EXPECT_EQ(model.signals().size(), connected.size() + model.count_of("peer_packet") +
                                                  model.count_of("connected_to_server"));
        }
        const std::vector<SceneSignal>& at_3 = room.model(3).signals();
        EXPECT_EQ(std::count_if(at_3.begin(), at_3.end(),
                                [&](const SceneSignal& s) {
                                    return s.name == "peer_packet" && s.id == 2 &&
                                           s.bytes == payload;
                                }),
                  1);

        // On the relay: one Direct envelope (route byte 2) from slot 2 to
        // slot 3 carrying the raw packet, and nothing of it through the host.
        Bytes raw = {3};
        raw.insert(raw.end(), payload.begin(), payload.end());
        std::vector<Bytes> carrying = room.relays().tcp().frames_from(2);
        carrying.erase(std::remove_if(carrying.begin(), carrying.end(),
                                      [&](const Bytes& frame) { return !ends_with(frame, raw); }),
                       carrying.end());
        ASSERT_EQ(carrying.size(), 1u);
        EXPECT_EQ(carrying[0][2], 0x02);
        EXPECT_EQ(carrying[0][4], 3);
        for (const Bytes& frame : room.relays().tcp().frames_routed_to(1)) {
            EXPECT_FALSE(ends_with(frame, raw));
        }
        EXPECT_THAT(room.host().engine().errors(), IsEmpty());
    }
}

TEST(SceneMultiplayerRoom, AFailedJoinAndTheHostsDisconnectReachTheGame) {
    {
        HostedRoom room(Road::DataPlane);
        std::string error;
        ASSERT_TRUE(room.start(error)) << error;
        QOPMultiplayerPeer* peer = room.host().new_peer(room.seams_for(2));
        godot::Dictionary context = room.relays().context_for("player-two");
        context["sdk_descriptor_json"] = to_godot_string(room.relays().descriptor_json("stranger"));
        ASSERT_EQ(room.host().connect_data_plane(peer, context), godot::OK);
        SceneMultiplayerModel model;
        ASSERT_TRUE(model.assign(peer));
        ASSERT_TRUE(qop::test::wait_until([&] {
            model.poll();
            return !model.signals().empty();
        }));
        ASSERT_EQ(model.signals().size(), 1u);
        EXPECT_EQ(model.signals()[0].name, "connection_failed");
    }
    HostedRoom room(Road::DataPlane);
    room.use_scene_multiplayer();
    ASSERT_TRUE(room.start_playing());
    room.peer(1)->_disconnect_peer(2, false);
    ASSERT_TRUE(room.pump_until_status(2, MultiplayerPeer::CONNECTION_DISCONNECTED));
    EXPECT_THAT(room.model(1).ids_of("peer_disconnected"), ElementsAre(2));
    EXPECT_THAT(room.model(2).ids_of("peer_disconnected"), UnorderedElementsAre(1, 3));
    EXPECT_EQ(room.model(2).signals().back().name, "server_disconnected");
    EXPECT_EQ(room.model(2).count_of("server_disconnected"), 1u);
    EXPECT_EQ(room.model(2).count_of("connection_failed"), 0u);
    EXPECT_TRUE(room.model(2).admitted().empty());
    EXPECT_EQ(room.model(3).count_of("server_disconnected"), 0u);
    EXPECT_THAT(room.host().engine().errors(), IsEmpty());
}

}  // namespace
}  // namespace qop::godot_adapter::testing
