#pragma once

// A model of the engine's default high-level multiplayer API, put in front of
// a MultiplayerPeerExtension so that tests see what a game would be told:
//   - assign() refuses what the engine refuses, follows the peer's
//     peer_connected / peer_disconnected and reads its status once;
//   - poll() is one engine frame: the status is read before and after the
//     peer's _poll and after each packet; a change to DISCONNECTED gives
//     connection_failed (from CONNECTING) or server_disconnected and forgets
//     every admitted peer; connected_to_server comes from admitting peer 1;
//   - admission emits peer_connected / peer_disconnected each time the peer
//     reports one, without a guard against a peer reported twice, as the
//     engine has none;
//   - server relay (on by default, used only when the peer supports it): the
//     host tells every client of every other through ADD_PEER / DEL_PEER and
//     forwards RELAY packets; a client wraps what it sends to anyone but the
//     host in RELAY and sends it to the host;
//   - send_bytes() sends a RAW packet, which arrives as peer_packet.
// Everything the game would be told is recorded in signals(), in order.
// Packets from a sender that is not admitted, malformed system packets and
// relays the rules do not allow are dropped with an Engine error.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <godot_cpp/classes/multiplayer_peer_extension.hpp>
#include <godot_cpp/variant/callable.hpp>
#include <godot_standin/multiplayer_driver.hpp>

namespace godot_standin {

// One signal of the multiplayer API: "peer_connected", "peer_disconnected",
// "connected_to_server", "connection_failed", "server_disconnected" or
// "peer_packet".
struct SceneSignal {
    std::string name;
    int32_t id = 0;              // the peer, for the signals that name one
    std::vector<uint8_t> bytes;  // peer_packet's payload
};

class SceneMultiplayerModel {
public:
    // The low bits of a packet's first byte name its command.
    static constexpr uint8_t kCommandMask = 7;
    static constexpr uint8_t kCommandRaw = 3;
    static constexpr uint8_t kCommandSys = 7;
    // The second byte of a system packet.
    static constexpr uint8_t kSysAddPeer = 1;
    static constexpr uint8_t kSysDelPeer = 2;
    static constexpr uint8_t kSysRelay = 3;
    // Command, system command and a signed 32-bit little-endian peer id.
    static constexpr size_t kSysHeaderSize = 6;

    SceneMultiplayerModel() = default;
    ~SceneMultiplayerModel();
    SceneMultiplayerModel(const SceneMultiplayerModel&) = delete;
    SceneMultiplayerModel& operator=(const SceneMultiplayerModel&) = delete;

    bool assign(godot::MultiplayerPeerExtension* p_peer);
    void set_server_relay(bool p_enabled) { server_relay_ = p_enabled; }
    bool server_relay() const { return server_relay_; }

    // One frame; returns the packets handed to the game's packet handler
    // (everything but system packets), with the sender the game sees.
    std::vector<ReceivedPacket> poll();
    godot::Error send_bytes(const std::vector<uint8_t>& p_bytes, int32_t p_id = 0,
                            godot::MultiplayerPeer::TransferMode p_mode =
                                godot::MultiplayerPeer::TRANSFER_MODE_RELIABLE,
                            int32_t p_channel = 0);

    const std::set<int32_t>& admitted() const { return admitted_; }
    const std::vector<SceneSignal>& signals() const { return signals_; }
    // The ids of one signal in order; how often a signal came.
    std::vector<int32_t> ids_of(const std::string& p_signal) const;
    size_t count_of(const std::string& p_signal) const;
    void clear_signals() { signals_.clear(); }

private:
    void detach();
    bool relaying() const;
    bool is_host() const;
    void update_status();
    void admit(int32_t p_id);
    void remove(int32_t p_id);
    void record(const char* p_name, int32_t p_id = 0, std::vector<uint8_t> p_bytes = {});
    godot::Error send_command(int32_t p_to, const std::vector<uint8_t>& p_packet,
                              godot::MultiplayerPeer::TransferMode p_mode, int32_t p_channel);
    void send_system(int32_t p_to, uint8_t p_command, int32_t p_id);
    void receive(ReceivedPacket p_packet, std::vector<ReceivedPacket>& r_handed);
    void receive_system(const ReceivedPacket& p_packet, std::vector<ReceivedPacket>& r_handed);
    void relay_as_host(const ReceivedPacket& p_packet, int32_t p_destination,
                       std::vector<ReceivedPacket>& r_handed);
    void hand_to_game(ReceivedPacket p_packet, std::vector<ReceivedPacket>& r_handed);

    MultiplayerDriver driver_;
    uint64_t peer_instance_ = 0;
    godot::Callable on_connected_;
    godot::Callable on_disconnected_;
    bool server_relay_ = true;
    godot::MultiplayerPeer::ConnectionStatus last_status_ =
        godot::MultiplayerPeer::CONNECTION_DISCONNECTED;
    std::set<int32_t> admitted_;
    std::vector<SceneSignal> signals_;
};

}  // namespace godot_standin
