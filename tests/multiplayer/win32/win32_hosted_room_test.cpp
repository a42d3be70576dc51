#include <gtest/gtest.h>

#ifndef _WIN32

TEST(Win32HostedRoom, NeedsWindowsNamedPipesAndWinsock) {
    GTEST_SKIP() << "Windows named pipes only";
}

#else

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "support/host_bridge_wire.hpp"
#include "support/multiplayer_peer_host.hpp"
#include "support/test_pipe_server.hpp"

namespace qop::godot_adapter::testing {
namespace {

using namespace std::chrono_literals;
using godot::MultiplayerPeer;
using qop::test::TestPipeServer;
namespace wire = qop::test::wire;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kLimit = 10000ms;
constexpr int kPlayerLeft = 2;

Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// One seat's host bridge: a bootstrap pipe that redeems the ticket and a room
// session pipe that attaches the player and hands out the data plane, served
// by real Win32 pipes from a thread of their own.
class SeatBridge {
public:
    SeatBridge(const qop::test::FakeRoomRelays& relays, std::uint8_t slot)
        : boot_(TestPipeServer::unique_name("room-boot")),
          room_(TestPipeServer::unique_name("room-session")) {
        const std::string player = relays.seat(slot).player_id;
        const std::string descriptor = relays.descriptor_json(relays.seat(slot).token);
        wire::session::SessionServerMessage snapshot = wire::snapshot(relays.seat(1).player_id, {});
        for (const qop::test::FakeRelayPlayer& seat : relays.options().seats) {
            auto* entry = snapshot.mutable_room_snapshot()->mutable_room()->add_players();
            entry->set_id(seat.player_id);
            entry->set_name(seat.player_id);
        }
        listening_ = boot_.listen() && room_.listen();
        server_ = std::thread([this, player, descriptor, snapshot] {
            Bytes request;
            served_ =
                boot_.accept(kLimit) && boot_.read_frame(request, kLimit) &&
                boot_.write_bytes(bytes_of(wire::framed(wire::redeemed(
                                      "room-1", player, room_.name(), "room-secret"))),
                                  kLimit) &&
                room_.accept(kLimit) && room_.read_frame(request, kLimit) &&
                room_.write_bytes(bytes_of(wire::framed(snapshot) + wire::framed(wire::attached())),
                                  kLimit) &&
                room_.read_frame(request, kLimit) &&
                room_.write_bytes(bytes_of(wire::framed(
                                      wire::data_plane("godot-data-plane", true, "", &descriptor))),
                                  kLimit);
        });
    }

    ~SeatBridge() { finish(); }

    bool listening() const { return listening_; }
    std::string bootstrap_name() const { return boot_.name(); }

    // Joins the serving thread; the room pipe stays open for events.
    bool finish() {
        if (server_.joinable()) {
            server_.join();
        }
        return served_;
    }

    bool send_room_event(int type, const std::string& player_id) {
        return room_.write_bytes(bytes_of(wire::framed(wire::room_event(type, player_id, ""))),
                                 kLimit);
    }

private:
    TestPipeServer boot_;
    TestPipeServer room_;
    bool listening_ = false;
    bool served_ = false;
    std::thread server_;
};

TEST(Win32HostedRoom, TwoPlayersJoinThroughTheHostBridgeAndExchangePackets) {
    TwoPlayerRoom room;
    ASSERT_TRUE(room.start());
    MultiplayerPeerHost& host = room.host;

    std::vector<std::unique_ptr<SeatBridge> > bridges;
    std::vector<QOPMultiplayerPeer*> peers;
    std::vector<godot_standin::MultiplayerDriver> drivers(2);
    for (const std::uint8_t slot : {1, 2}) {
        bridges.push_back(std::make_unique<SeatBridge>(room.relays, slot));
        ASSERT_TRUE(bridges.back()->listening());
        // The operating system's pipes and sockets; only the timers run on a test clock.
        peers.push_back(room.new_peer());
        ASSERT_EQ(host.connect_bootstrap(
                      peers.back(),
                      bootstrap_context("ticket", bridges.back()->bootstrap_name(), "secret")),
                  godot::OK);
        ASSERT_TRUE(drivers[slot - 1].assign(peers.back()));
    }
    std::vector<std::vector<godot_standin::ReceivedPacket> > received;
    const auto poll = [&](const std::function<bool()>& done) {
        return poll_until({&drivers[0], &drivers[1]}, received, done, 20000ms);
    };
    ASSERT_TRUE(poll([&] { return all_connected(peers); }))
        << host.last_error(peers[0]) << " / " << host.last_error(peers[1]);
    for (auto& bridge : bridges) {
        EXPECT_TRUE(bridge->finish());
    }
    EXPECT_EQ(peers[0]->_get_unique_id(), 1);
    EXPECT_EQ(peers[1]->_get_unique_id(), 2);

    // The client's packet waits for the host's nonce, announced every 5 s.
    const Bytes from_client = {'u', 'p'};
    ASSERT_EQ(drivers[1].send(1, MultiplayerPeer::TRANSFER_MODE_RELIABLE, 3, from_client),
              godot::OK);
    room.clock->advance(5s);
    ASSERT_TRUE(poll([&] { return !received[0].empty(); }));
    EXPECT_EQ(received[0][0].bytes, from_client);
    EXPECT_EQ(received[0][0].peer, 2);

    Bytes large(100000);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(drivers[0].send(2, MultiplayerPeer::TRANSFER_MODE_RELIABLE, 0, large), godot::OK);
    ASSERT_EQ(drivers[0].send(0, MultiplayerPeer::TRANSFER_MODE_UNRELIABLE, 1, Bytes(500, 9)),
              godot::OK);
    ASSERT_TRUE(poll([&] { return received[1].size() >= 2; }));
    ASSERT_EQ(received[1].size(), 2u);
    // The two relays keep no order between each other.
    for (const godot_standin::ReceivedPacket& packet : received[1]) {
        EXPECT_EQ(packet.peer, 1);
        if (packet.mode == MultiplayerPeer::TRANSFER_MODE_RELIABLE) {
            EXPECT_TRUE(packet.bytes == large);
        } else {
            EXPECT_EQ(packet.mode, MultiplayerPeer::TRANSFER_MODE_UNRELIABLE);
            EXPECT_EQ(packet.bytes, Bytes(500, 9));
        }
    }

    // Room events arrive over the real room session pipe.
    ASSERT_TRUE(bridges[0]->send_room_event(kPlayerLeft, "player-two"));
    ASSERT_TRUE(poll([&] { return !host.signalled(peers[0], "peer_disconnected").empty(); }));
    EXPECT_THAT(host.signalled(peers[0], "peer_disconnected"), ::testing::ElementsAre(2));
    EXPECT_EQ(peers[0]->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    for (QOPMultiplayerPeer* peer : peers) {
        peer->_close();
    }
}

}  // namespace
}  // namespace qop::godot_adapter::testing

#endif
