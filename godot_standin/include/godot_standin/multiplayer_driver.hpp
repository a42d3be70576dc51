#pragma once

// Drives a MultiplayerPeerExtension the way the engine's high-level
// multiplayer layer does, for tests of a peer:
//   - assign() refuses a peer whose class lacks one of the overrides the
//     engine requires, or whose status is CONNECTION_DISCONNECTED;
//   - poll() is one engine frame: it reads the status and, unless it is
//     DISCONNECTED, calls _poll; then, while the status is CONNECTED and
//     _get_available_packet_count() is not zero, it reads _get_packet_peer,
//     _get_packet_channel and _get_packet_mode and then _get_packet;
//   - send() calls _set_target_peer, _set_transfer_mode,
//     _set_transfer_channel and then _put_packet.
// Refusals and broken packets are recorded as Engine errors of the active
// engine host.

#include <cstdint>
#include <vector>

#include <godot_cpp/classes/multiplayer_peer_extension.hpp>

namespace godot_standin {

struct ReceivedPacket {
    int32_t peer = 0;
    int32_t channel = 0;
    godot::MultiplayerPeer::TransferMode mode = godot::MultiplayerPeer::TRANSFER_MODE_RELIABLE;
    std::vector<uint8_t> bytes;
};

class MultiplayerDriver {
public:
    // The overrides without which the engine refuses a peer.
    static const std::vector<const char*>& required_virtuals();

    bool assign(godot::MultiplayerPeerExtension* p_peer);
    godot::MultiplayerPeerExtension* peer() const { return peer_; }
    // One frame; returns the packets read in it, in order.
    std::vector<ReceivedPacket> poll();
    // Reads the next packet as the engine does (sender, channel and mode
    // before the bytes); false, with an Engine error, when the peer fails it.
    bool read_packet(ReceivedPacket& r_packet);
    godot::Error send(int32_t p_target, godot::MultiplayerPeer::TransferMode p_mode,
                      int32_t p_channel, const std::vector<uint8_t>& p_bytes);

    // Packets read in one frame are bounded so that a peer whose count never
    // drops cannot hang the test.
    static constexpr int kMaxPacketsPerFrame = 100000;

private:
    godot::MultiplayerPeerExtension* peer_ = nullptr;
};

}  // namespace godot_standin
