#include <gtest/gtest.h>

#include <godot_standin/multiplayer_driver.hpp>

#include "host_fixture.hpp"

namespace {

using godot::MultiplayerPeer;
using godot_standin::ErrorKind;
using godot_standin::MultiplayerDriver;

// Overrides nothing, so the engine must refuse it.
class BarePeer : public godot::MultiplayerPeerExtension {
    GDCLASS(BarePeer, godot::MultiplayerPeerExtension)

protected:
    static void _bind_methods() {}
};

TEST_F(LoadedSample, APeerRecordsEveryOverriddenVirtual) {
    const godot_standin::ClassRecord* record = godot_standin::find_class("SamplePeer");
    ASSERT_NE(record, nullptr);
    for (const char* name : MultiplayerDriver::required_virtuals()) {
        EXPECT_TRUE(record->overrides(name)) << name;
    }
    EXPECT_TRUE(record->overrides("_is_server_relay_supported"));
    EXPECT_FALSE(record->overrides("_get_packet_script"));
    EXPECT_FALSE(record->overrides("_set_refuse_new_connections"));
}

TEST_F(LoadedSample, TheDriverRefusesADisconnectedPeerAndOneMissingOverrides) {
    auto* peer = host->instantiate_as<sample::SamplePeer>("SamplePeer");
    MultiplayerDriver driver;
    EXPECT_FALSE(driver.assign(peer));
    ASSERT_EQ(host->errors().size(), 1u);
    EXPECT_EQ(host->errors()[0].message,
              "Supplied MultiplayerPeer must be connecting or connected.");
    BarePeer bare;
    EXPECT_FALSE(driver.assign(&bare));
    EXPECT_EQ(host->errors_of(ErrorKind::Engine).size(), 2u);
    peer->status = MultiplayerPeer::CONNECTION_CONNECTING;
    EXPECT_TRUE(driver.assign(peer));
}

TEST_F(LoadedSample, TheDriverPollsReadsAndSendsInTheEnginesOrder) {
    auto* peer = host->instantiate_as<sample::SamplePeer>("SamplePeer");
    peer->status = MultiplayerPeer::CONNECTION_CONNECTING;
    MultiplayerDriver driver;
    ASSERT_TRUE(driver.assign(peer));
    peer->inbox.push_back({1, 2});
    EXPECT_TRUE(driver.poll().empty());  // connecting: polled, nothing read
    EXPECT_EQ(peer->polls, 1);
    peer->status = MultiplayerPeer::CONNECTION_CONNECTED;
    peer->inbox.push_back({3});
    const std::vector<godot_standin::ReceivedPacket> packets = driver.poll();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].bytes, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(packets[1].peer, 1);
    EXPECT_EQ(packets[1].mode, MultiplayerPeer::TRANSFER_MODE_RELIABLE);
    EXPECT_EQ(driver.send(-3, MultiplayerPeer::TRANSFER_MODE_UNRELIABLE_ORDERED, 4, {9}),
              godot::OK);
    EXPECT_EQ(peer->target, -3);
    EXPECT_EQ(peer->mode, MultiplayerPeer::TRANSFER_MODE_UNRELIABLE_ORDERED);
    EXPECT_EQ(peer->channel, 4);
    ASSERT_EQ(peer->sent.size(), 1u);
    peer->status = MultiplayerPeer::CONNECTION_DISCONNECTED;
    driver.poll();
    EXPECT_EQ(peer->polls, 2);  // a disconnected peer is not polled
    EXPECT_TRUE(host->errors().empty());
}

}  // namespace
