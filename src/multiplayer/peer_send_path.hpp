#pragma once

// Everything a room peer does with a packet the game hands it: check its size
// and target, number it (per-channel sequence, peer-wide message id), cut it
// into frames under the relays' limits and queue them whole or not at all, or
// hold it while a client does not yet know the session nonce and send what
// was held, in order, once it does.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "multiplayer/peer_data_frame.hpp"
#include "multiplayer/peer_held_packets.hpp"
#include "multiplayer/peer_send_plan.hpp"
#include "multiplayer/peer_slot_table.hpp"
#include "relay/data_plane_envelope.hpp"
#include "relay/network_transport.hpp"

namespace qop::network {

// What the connection looks like to the sender at the moment of a call. The
// references must outlive the call.
struct PeerSendView {
    const PeerSlotTable& slots;
    std::int32_t unique_id = 0;
    std::uint64_t session_nonce = 0;
    bool is_host = false;
    // The relays' limits the connection was made with.
    std::uint32_t tcp_frame_max_bytes = 0;
    std::uint32_t udp_payload_max_bytes = 0;
    NetworkTransport& reliable;
    NetworkTransport& unreliable;
};

enum class SendOutcome {
    // Queued on a transport, or held until the nonce is known.
    Sent,
    // Nothing of the packet was taken now; a later try may succeed.
    Busy,
    // The packet or its target is refused; the connection is fine.
    Invalid,
    // The connection cannot go on: the error says why.
    Failed,
};

// One packet as the game handed it. `transfer_mode` is the engine's value,
// which the frame header carries as it is (kTransferModeReliable and the two
// unreliable modes).
struct OutboundPacketSpec {
    std::int32_t target_peer = 0;
    std::int32_t transfer_mode = kTransferModeReliable;
    std::int32_t channel = 0;
};

class PeerSendPath {
public:
    explicit PeerSendPath(NonceWaitLimits hold_limits = {});

    // Checks the packet (1 to kMaxPeerPacketBytes bytes; a positive target is
    // another player of the room, a negative one names at most slot 64), then
    // holds it (a client without the nonce, or with packets still held) or
    // sends it. `error` is set with Failed.
    SendOutcome put_packet(const PeerSendView& view, const OutboundPacketSpec& spec,
                           const std::uint8_t* data, std::uint64_t size, std::string& error);

    // Once the nonce is known, sends the held packets in order. A packet the
    // queue cannot take yet waits, first in line with those after it, for the
    // next call (Busy); a packet for a player who left is skipped. Stops at
    // the first failure, dropping what is left (Failed, `error` set), since
    // the connection ends with it.
    SendOutcome release_held(const PeerSendView& view, std::string& error);

    // A connection ended: its held packets go. The sequences and message ids
    // keep counting, so that no receiver sees a number twice from this peer.
    void clear_held() { held_.clear(); }
    std::size_t held_packet_count() const { return held_.size(); }

private:
    struct PacketPlan {
        std::uint32_t chunk_size = 0;
        std::uint64_t fragment_count = 0;
        std::uint64_t queued_bytes = 0;  // every fragment as the transport queues it
        DataPlaneEnvelope envelope;      // around every fragment
    };

    static bool plan_packet(const PeerSendView& view, std::int32_t target, std::uint64_t size,
                            std::int32_t mode, PacketPlan& plan);
    bool must_hold(const PeerSendView& view) const;
    SendOutcome hold(const PeerSendView& view, const OutboundPacketSpec& spec,
                     const std::uint8_t* data, std::uint64_t size);
    SendOutcome send_packet(const PeerSendView& view, const OutboundPacketSpec& spec,
                            const std::uint8_t* data, std::uint64_t size, std::string& error);

    std::unordered_map<std::uint32_t, std::uint32_t> channel_sequences_;
    std::uint32_t next_message_id_ = 1;
    BoundedHold<HeldOutboundPacket> held_;
    // Each outgoing envelope is built here; its capacity outlives the packet.
    std::vector<std::uint8_t> send_buffer_;
};

}  // namespace qop::network
