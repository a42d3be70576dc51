#pragma once

// A hosted room played by real QOPMultiplayerPeer objects: each seat's peer
// joins through real TCP and UDP transports against the fake relays, on the
// data-plane road (a context Dictionary) or the bootstrap road (a scripted
// host bridge per seat), and is driven as the engine drives it.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_standin/multiplayer_driver.hpp>
#include <godot_standin/scene_multiplayer_model.hpp>

#include "peer_wire_bytes.hpp"
#include "support/fake_room_relays.hpp"
#include "support/manual_monotonic_clock.hpp"
#include "support/multiplayer_peer_host.hpp"
#include "support/scripted_host_bridge_pipe.hpp"

namespace qop::godot_adapter::testing {

enum class Road { DataPlane, Bootstrap };

using godot::MultiplayerPeer;
using godot_standin::ReceivedPacket;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using Mode = MultiplayerPeer::TransferMode;
using Status = MultiplayerPeer::ConnectionStatus;

// Bytes that differ by size and seed, so a misplaced chunk shows.
Bytes pattern_bytes(std::size_t size, std::uint8_t seed);

class HostedRoom {
public:
    HostedRoom(Road road, qop::test::FakeRoomOptions options = {});

    bool start(std::string& error);

    // Starts the seat's peer on its road; OK or the road's error code.
    int64_t connect(std::uint8_t slot);
    // connect() for every seat, then polls until all are connected.
    bool connect_all();
    // Each client's first packet waits for the host's nonce; the host
    // announces it when its 5 s period comes round. True once the host holds
    // one greeting from every client.
    bool spread_nonce();
    // start(), connect_all() and spread_nonce(): every seat ready to play.
    ::testing::AssertionResult start_playing();

    // Puts the engine's multiplayer API in front of each peer joined from now
    // on; the rounds then poll through it. The drivers still send raw puts.
    void use_scene_multiplayer() { scene_multiplayer_ = true; }
    godot_standin::SceneMultiplayerModel& model(std::uint8_t slot) { return *models_.at(slot); }

    QOPMultiplayerPeer* peer(std::uint8_t slot) { return peers_.at(slot); }
    godot_standin::MultiplayerDriver& driver(std::uint8_t slot) { return drivers_[slot]; }
    std::vector<ReceivedPacket>& received(std::uint8_t slot) { return received_[slot]; }
    const std::string& player_id(std::uint8_t slot) const { return relays_.seat(slot).player_id; }
    std::vector<std::uint8_t> slots() const;

    // Polls every seat's driver until `done` holds or the limit passes.
    bool pump_until(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(20000));
    // Polls every seat a few times: lets what is under way settle.
    void pump_rounds(int rounds);
    bool pump_until_status(std::uint8_t slot, Status status);

    // What the seat wrote to the TCP relay, by envelope kind.
    std::size_t envelopes_from(std::uint8_t slot, std::uint8_t kind);
    // The nonce in the host's first announce.
    std::uint64_t host_nonce();

    // The room session pipe of a seat (bootstrap road).
    qop::test::ScriptedPipeServer& room_pipe(std::uint8_t slot) { return *room_pipes_.at(slot); }
    void push_room_event(std::uint8_t slot, int type, const std::string& player_id);

    MultiplayerPeerHost& host() { return host_; }
    qop::test::FakeRoomRelays& relays() { return relays_; }
    qop::test::ManualMonotonicClock& clock() { return *clock_; }
    MultiplayerPeerSeams seams_for(std::uint8_t slot);

private:
    const Road road_;
    std::shared_ptr<qop::test::ManualMonotonicClock> clock_ =
        std::make_shared<qop::test::ManualMonotonicClock>();
    std::shared_ptr<qop::test::ManualMonotonicClock> pipe_clock_ =
        std::make_shared<qop::test::ManualMonotonicClock>();
    qop::test::ScriptedPipeNetwork pipes_{pipe_clock_};
    std::map<std::uint8_t, std::shared_ptr<qop::test::ScriptedPipeServer>> room_pipes_;
    qop::test::FakeRoomRelays relays_;
    MultiplayerPeerHost host_;
    std::map<std::uint8_t, QOPMultiplayerPeer*> peers_;
    std::map<std::uint8_t, godot_standin::MultiplayerDriver> drivers_;
    std::map<std::uint8_t, std::vector<ReceivedPacket>> received_;
    bool scene_multiplayer_ = false;
    // Declared after the host so that they leave the peers' signals first.
    std::map<std::uint8_t, std::unique_ptr<godot_standin::SceneMultiplayerModel>> models_;
};

// Both roads, for parameterised room tests.
class RoomOnBothRoads : public ::testing::TestWithParam<Road> {};

std::string road_name(const ::testing::TestParamInfo<Road>& info);

}  // namespace qop::godot_adapter::testing
