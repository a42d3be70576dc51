// The connect worker's result crosses to the engine's thread while that
// thread keeps polling: under ThreadSanitizer this watches the hand-over.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/multiplayer_peer_host.hpp"

namespace qop::godot_adapter::testing {
namespace {

using namespace std::chrono_literals;
using godot::MultiplayerPeer;

TEST(PeerHandOver, TwoPlayersConnectWhilePollingAndExchangeAPacketRepeatedly) {
    TwoPlayerRoom room;
    ASSERT_TRUE(room.start());
    MultiplayerPeerHost& host = room.host;
    const std::vector<QOPMultiplayerPeer*> peers = {room.new_peer(), room.new_peer()};
    const char* players[] = {"host-player", "player-two"};

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        godot_standin::MultiplayerDriver drivers[2];
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(host.connect_data_plane(peers[i], room.relays.context_for(players[i])),
                      godot::OK);
            ASSERT_TRUE(drivers[i].assign(peers[i]));
        }
        std::vector<std::vector<godot_standin::ReceivedPacket>> received;
        ASSERT_TRUE(
            poll_until({&drivers[0], &drivers[1]}, received, [&] { return all_connected(peers); }));
        // The client's packet waits for the host's next announce.
        ASSERT_EQ(drivers[1].send(1, MultiplayerPeer::TRANSFER_MODE_RELIABLE, 0, {7, 7}),
                  godot::OK);
        room.clock->advance(5s);
        ASSERT_TRUE(
            poll_until({&drivers[0], &drivers[1]}, received, [&] { return !received[0].empty(); }));
        EXPECT_EQ(received[0][0].bytes, (std::vector<uint8_t>{7, 7}));
        for (QOPMultiplayerPeer* peer : peers) {
            peer->_close();
        }
    }
    EXPECT_THAT(host.signalled(peers[1], "peer_disconnected"), ::testing::IsEmpty());
}

}  // namespace
}  // namespace qop::godot_adapter::testing
