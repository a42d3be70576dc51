#pragma once

// An engine host with the SDK library loaded through its real entry, and
// QOPMultiplayerPeer objects made with test seams (a manual steady clock, a
// fixed random source, short pipe waits) and driven the way the engine and a
// game script drive them: bound methods by name, the overrides through the
// engine's multiplayer driver, both peer signals watched.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/variant.hpp>
#include <godot_standin/engine_host.hpp>
#include <godot_standin/multiplayer_driver.hpp>

#include "godot_adapter/multiplayer_peer_seams.hpp"
#include "godot_adapter/qop_multiplayer_peer.hpp"
#include "support/fake_room_relays.hpp"
#include "support/manual_monotonic_clock.hpp"

namespace qop::godot_adapter::testing {

// Real sockets and threads; the given steady clock for the timers; the
// system's pipes unless a connector is set later; a fixed random source.
MultiplayerPeerSeams test_peer_seams(std::shared_ptr<qop::test::ManualMonotonicClock> clock);

class MultiplayerPeerHost {
public:
    MultiplayerPeerHost();
    // Frees the peers made here that are still alive before the engine goes.
    ~MultiplayerPeerHost();

    bool loaded() const { return loaded_; }
    godot_standin::EngineHost& engine() { return engine_; }

    QOPMultiplayerPeer* new_peer(MultiplayerPeerSeams seams);
    void free_peer(QOPMultiplayerPeer* peer);

    godot::Variant call(QOPMultiplayerPeer* peer, const std::string& method,
                        const std::vector<godot::Variant>& arguments = {});
    int64_t connect_data_plane(QOPMultiplayerPeer* peer, const godot::Dictionary& context);
    int64_t connect_bootstrap(QOPMultiplayerPeer* peer, const godot::Dictionary& bootstrap);
    std::string last_error(QOPMultiplayerPeer* peer);

    // The ids `peer` emitted with `signal`, in order.
    std::vector<int64_t> signalled(const QOPMultiplayerPeer* peer, const std::string& signal) const;
    // Every peer signal `peer` emitted, in order, as "peer_connected(2)".
    std::vector<std::string> signals_of(const QOPMultiplayerPeer* peer) const;

private:
    godot_standin::EngineHost engine_;
    bool loaded_ = false;
    std::vector<QOPMultiplayerPeer*> peers_;
};

// The host and one player of a room on loopback relays, their peers made with
// test seams on one manual clock.
struct TwoPlayerRoom {
    // Starts the relays; fails when they or the library do not come up.
    ::testing::AssertionResult start();
    QOPMultiplayerPeer* new_peer() { return host.new_peer(test_peer_seams(clock)); }

    qop::test::FakeRoomRelays relays{qop::test::two_player_room()};
    std::shared_ptr<qop::test::ManualMonotonicClock> clock =
        std::make_shared<qop::test::ManualMonotonicClock>();
    MultiplayerPeerHost host;
};

// True when every peer is connected.
bool all_connected(const std::vector<QOPMultiplayerPeer*>& peers);

// What a game passes to connect_from_bootstrap.
godot::Dictionary bootstrap_context(const std::string& ticket, const std::string& endpoint,
                                    const std::string& secret);

// Polls each driver in turn (one engine frame each) until `done` holds or the
// limit passes; the packets read meanwhile are appended per driver.
bool poll_until(std::vector<godot_standin::MultiplayerDriver*> drivers,
                std::vector<std::vector<godot_standin::ReceivedPacket>>& received,
                const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

}  // namespace qop::godot_adapter::testing
