#pragma once

// A hosted room of two QOPMultiplayerPeers, the host (slot 1, peer id 1) and
// one client (slot 2), joined through a BenchRelay with a data-plane context
// each, inside the stand-in engine host with the SDK library loaded through
// its real entry. EngineDrive calls a peer's overrides in the order the
// engine's multiplayer layer does.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <godot_cpp/classes/multiplayer_peer.hpp>
#include <godot_standin/engine_host.hpp>

#include "bench_relay.hpp"
#include "godot_adapter/qop_multiplayer_peer.hpp"

namespace qop::bench {

using qop::godot_adapter::QOPMultiplayerPeer;

// One engine's view of one peer. Used by one thread at a time.
class EngineDrive {
public:
    explicit EngineDrive(QOPMultiplayerPeer& peer) : peer_(peer) {}

    QOPMultiplayerPeer& peer() { return peer_; }

    // As the engine's send: target, mode and channel, then _put_packet.
    godot::Error send(std::int32_t target, bool reliable, const std::uint8_t* data,
                      std::size_t size) {
        peer_._set_target_peer(target);
        peer_._set_transfer_mode(reliable ? godot::MultiplayerPeer::TRANSFER_MODE_RELIABLE
                                          : godot::MultiplayerPeer::TRANSFER_MODE_UNRELIABLE);
        peer_._set_transfer_channel(0);
        return peer_._put_packet(data, static_cast<std::int32_t>(size));
    }

    // One engine frame: _poll, then every packet that is waiting, each
    // handed to on_packet(data, size) while its bytes are valid.
    template <typename OnPacket>
    void frame(OnPacket&& on_packet) {
        if (peer_._get_connection_status() == godot::MultiplayerPeer::CONNECTION_DISCONNECTED) {
            return;
        }
        peer_._poll();
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        while (take_packet(data, size)) {
            on_packet(data, size);
        }
    }

    // The next waiting packet, read as the engine reads it (peer, channel and
    // mode, then the bytes); false when none is waiting.
    bool take_packet(const std::uint8_t*& data, std::size_t& size) {
        if (peer_._get_connection_status() != godot::MultiplayerPeer::CONNECTION_CONNECTED ||
            peer_._get_available_packet_count() <= 0) {
            return false;
        }
        (void)peer_._get_packet_peer();
        (void)peer_._get_packet_channel();
        (void)peer_._get_packet_mode();
        std::int32_t length = 0;
        if (peer_._get_packet(&data, &length) != godot::OK) {
            return false;
        }
        size = static_cast<std::size_t>(length);
        return true;
    }

private:
    QOPMultiplayerPeer& peer_;
};

class RoomRig {
public:
    // The peers' transports write as `send_policy` says (for comparisons).
    explicit RoomRig(
        BenchRelay::Waiting relay_waiting = BenchRelay::Waiting::Spin,
        qop::network::SendPolicy send_policy = qop::network::SendPolicy::WriteThroughWhenIdle);
    ~RoomRig();
    RoomRig(const RoomRig&) = delete;
    RoomRig& operator=(const RoomRig&) = delete;

    // Starts the relay, connects both peers through it and waits until the
    // client has the host's session nonce (a packet each way went through).
    // Fails the run when any of it does not happen within 10 s.
    void open();

    EngineDrive& host() { return *host_drive_; }
    EngineDrive& client() { return *client_drive_; }
    BenchRelay& relay() { return relay_; }

    static constexpr std::int32_t kHostPeer = 1;
    static constexpr std::int32_t kClientPeer = 2;

private:
    QOPMultiplayerPeer* join(const RelaySeat& seat);

    godot_standin::EngineHost engine_;
    BenchRelay relay_;
    const qop::network::SendPolicy send_policy_;
    QOPMultiplayerPeer* host_ = nullptr;
    QOPMultiplayerPeer* client_ = nullptr;
    std::unique_ptr<EngineDrive> host_drive_;
    std::unique_ptr<EngineDrive> client_drive_;
};

}  // namespace qop::bench
