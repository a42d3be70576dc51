#include <algorithm>
#include <deque>
#include <exception>
#include <utility>

#include "godot_adapter/qop_multiplayer_peer.hpp"
#include "multiplayer/peer_control_messages.hpp"
#include "multiplayer/peer_data_frame.hpp"
#include "multiplayer/peer_send_plan.hpp"

namespace qop::godot_adapter {

namespace {

using godot::MultiplayerPeer;
using qop::network::kPeerFrameHeaderBytes;
using qop::network::kRoomHostSlot;
using qop::network::PeerFrameKind;
using qop::network::SendResult;

constexpr std::int64_t kHighestTargetSlot = 64;

}  // namespace

godot::Error QOPMultiplayerPeer::_put_packet(const uint8_t* p_buffer, int32_t p_buffer_size) {
    // Holding a copy of the packet or queuing its frames may fail to
    // allocate: the packet is refused; the engine cannot take an exception.
    try {
        return put_packet(p_buffer, p_buffer_size);
    } catch (const std::exception&) {
        return godot::ERR_OUT_OF_MEMORY;
    }
}

godot::Error QOPMultiplayerPeer::put_packet(const uint8_t* p_buffer, int32_t p_buffer_size) {
    if (!is_connected() || p_buffer == nullptr || p_buffer_size < 1) {
        return godot::ERR_UNCONFIGURED;
    }
    const auto size = static_cast<std::uint64_t>(p_buffer_size);
    if (size > qop::network::kMaxPeerPacketBytes) {
        return godot::ERR_INVALID_PARAMETER;
    }
    if (target_peer > 0 && (target_peer == unique_id || slots.find_player(target_peer).empty())) {
        return godot::ERR_INVALID_PARAMETER;
    }
    // Negated in 64 bits: INT32_MIN has no 32-bit negation.
    if (target_peer < 0 && -static_cast<std::int64_t>(target_peer) > kHighestTargetSlot) {
        return godot::ERR_INVALID_PARAMETER;
    }
    if (must_hold_outbound()) {
        return hold_outbound(target_peer, p_buffer, size);
    }
    return send_packet(target_peer, p_buffer, size, transfer_mode, transfer_channel);
}

godot::Error QOPMultiplayerPeer::plan_packet(std::int32_t target, std::uint64_t size,
                                             std::int32_t mode, PacketPlan& plan) const {
    const bool reliable = mode == MultiplayerPeer::TRANSFER_MODE_RELIABLE;
    if (reliable) {
        if (!qop::network::reliable_chunk_size(active_context.tcp_frame_max_bytes,
                                               plan.chunk_size)) {
            return godot::ERR_INVALID_PARAMETER;
        }
    } else {
        plan.chunk_size = static_cast<std::uint32_t>(size);
    }
    plan.fragment_count = qop::network::fragment_count_for(size, plan.chunk_size);
    if (plan.fragment_count == 0 || plan.fragment_count > qop::network::kMaxPeerFragments) {
        return godot::ERR_INVALID_PARAMETER;
    }
    if (!reliable && size + kPeerFrameHeaderBytes > active_context.udp_payload_max_bytes) {
        return godot::ERR_INVALID_PARAMETER;
    }
    // The route is judged before anything is sent: a negative target that
    // leaves nobody to send to is refused here, and the envelope's header
    // size is what every fragment adds.
    std::string error;
    if (!qop::network::make_peer_envelope(static_cast<std::uint8_t>(unique_id), kRoomHostSlot,
                                          target, slots.player_by_peer(), plan.envelope, error)) {
        return godot::ERR_INVALID_PARAMETER;
    }
    const std::uint64_t header_bytes = qop::network::data_plane_envelope_header_size(plan.envelope);
    plan.queued_bytes = size + plan.fragment_count * (kPeerFrameHeaderBytes + header_bytes);
    // Judged by the datagram relay's own limit, which may be below the
    // descriptor's: a packet held for the nonce must not pass here and be
    // refused, unseen by the game, when it is sent.
    if (!reliable && plan.queued_bytes > unreliable_transport->largest_payload_bytes()) {
        return godot::ERR_INVALID_PARAMETER;
    }
    // A packet the reliable queue can never hold whole would only ever half leave.
    if (reliable && !reliable_transport->send_queue_could_ever_take(
                        static_cast<std::size_t>(plan.fragment_count), plan.queued_bytes)) {
        return godot::ERR_INVALID_PARAMETER;
    }
    return godot::OK;
}

godot::Error QOPMultiplayerPeer::send_packet(std::int32_t target, const std::uint8_t* data,
                                             std::uint64_t size, std::int32_t mode,
                                             std::int32_t channel) {
    const std::uint32_t sequence = ++channel_sequences[static_cast<std::uint32_t>(channel)];
    const std::uint32_t message_id = next_message_id++;
    PacketPlan plan;
    const godot::Error planned = plan_packet(target, size, mode, plan);
    if (planned != godot::OK) {
        return planned;
    }
    const bool reliable = mode == MultiplayerPeer::TRANSFER_MODE_RELIABLE;
    qop::network::NetworkTransport& transport =
        reliable ? *reliable_transport : *unreliable_transport;
    // Whole or not at all: a half-sent packet could never be reassembled and
    // would only hold a place in every receiver's reassembly table.
    if (reliable && !transport.send_queue_can_take(static_cast<std::size_t>(plan.fragment_count),
                                                   plan.queued_bytes)) {
        return godot::ERR_BUSY;
    }
    qop::network::PeerFrameHeader frame;
    frame.kind = static_cast<std::uint8_t>(PeerFrameKind::Data);
    frame.transfer_mode = static_cast<std::uint8_t>(mode);
    frame.channel = static_cast<std::uint16_t>(channel);
    frame.sequence = sequence;
    frame.message_id = message_id;
    frame.fragment_count = static_cast<std::uint16_t>(plan.fragment_count);
    frame.total_size = static_cast<std::uint32_t>(size);
    frame.session_nonce = session_nonce;
    std::string error;
    for (std::uint64_t index = 0; index < plan.fragment_count; ++index) {
        const std::uint64_t offset = index * plan.chunk_size;
        const std::uint64_t length = std::min<std::uint64_t>(size - offset, plan.chunk_size);
        frame.fragment_index = static_cast<std::uint16_t>(index);
        // Each fragment's envelope is written into the one reused buffer,
        // which the transport copies into its queue.
        if (!qop::network::encode_peer_envelope(plan.envelope, frame, data + offset,
                                                static_cast<std::size_t>(length), send_buffer,
                                                error)) {
            return reliable ? send_failure(SendResult::Failed, error, true)
                            : godot::ERR_INVALID_PARAMETER;
        }
        const SendResult result = transport.send(send_buffer, error);
        if (result != SendResult::Sent) {
            return send_failure(result, error, reliable);
        }
    }
    return godot::OK;
}

godot::Error QOPMultiplayerPeer::send_failure(SendResult result, const std::string& error,
                                              bool reliable) {
    if (result == SendResult::QueueFull) {
        return godot::ERR_BUSY;
    }
    // The datagram relay or its socket refuses a packet over its limit
    // before anything of it is sent; the game asked for too much, the
    // connection itself is fine.
    if (!reliable && result == SendResult::OverLimit) {
        return godot::ERR_INVALID_PARAMETER;
    }
    handle_connection_failure(error, false);
    return godot::ERR_CONNECTION_ERROR;
}

bool QOPMultiplayerPeer::must_hold_outbound() const {
    return !_is_server() && (session_nonce == 0 || !held_outbound.empty());
}

godot::Error QOPMultiplayerPeer::hold_outbound(std::int32_t target, const std::uint8_t* data,
                                               std::uint64_t size) {
    PacketPlan plan;
    const godot::Error planned = plan_packet(target, size, transfer_mode, plan);
    if (planned != godot::OK) {
        return planned;
    }
    qop::network::HeldOutboundPacket packet;
    packet.target_peer = target;
    packet.transfer_mode = transfer_mode;
    packet.channel = transfer_channel;
    packet.bytes.assign(data, data + size);
    if (!held_outbound.hold(std::move(packet), static_cast<std::size_t>(size))) {
        return godot::ERR_BUSY;
    }
    return godot::OK;
}

void QOPMultiplayerPeer::release_held_outbound() {
    if (session_nonce == 0 || held_outbound.empty()) {
        return;
    }
    std::deque<qop::network::HeldOutboundPacket> held = held_outbound.take_all();
    const std::uint64_t generation = connection_generation;
    while (!held.empty()) {
        const qop::network::HeldOutboundPacket& packet = held.front();
        // A player who left while the packet waited is no longer reachable.
        const bool target_gone =
            packet.target_peer > 0 && slots.find_player(packet.target_peer).empty();
        const godot::Error sent =
            target_gone ? godot::OK
                        : send_packet(packet.target_peer, packet.bytes.data(), packet.bytes.size(),
                                      packet.transfer_mode, packet.channel);
        if (generation != connection_generation) {
            return;
        }
        if (sent == godot::ERR_BUSY) {
            // Nothing of it was queued: it waits, first in line, for the next poll.
            for (auto& waiting : held) {
                const std::size_t size = waiting.bytes.size();
                held_outbound.hold(std::move(waiting), size);
            }
            return;
        }
        held.pop_front();
    }
}

bool QOPMultiplayerPeer::send_p2p_message(const std::string& player_id,
                                          std::vector<std::uint8_t> frame) {
    const std::int32_t target = player_id.empty() ? 0 : slots.find_peer(player_id);
    std::vector<std::uint8_t> envelope;
    std::string error;
    if (!qop::network::build_envelope_header(static_cast<std::uint8_t>(unique_id), kRoomHostSlot,
                                             target, slots.player_by_peer(), std::move(frame),
                                             envelope, error) ||
        reliable_transport->send(envelope, error) != SendResult::Sent) {
        handle_connection_failure(error, false);
        return false;
    }
    return true;
}

void QOPMultiplayerPeer::broadcast_control() {
    if (!_is_server() || !is_connected() || session_nonce == 0) {
        return;
    }
    if (send_p2p_message(std::string(), qop::network::encode_control_frame(
                                            PeerFrameKind::SessionAnnounce, session_nonce))) {
        last_control_time = steady_now_ns();
    }
}

void QOPMultiplayerPeer::send_control_to_peer(const std::string& player_id) {
    if (!_is_server() || !is_connected() || player_id.empty()) {
        return;
    }
    // The player may not have heard the nonce yet (it joined after the last
    // broadcast, or the game removes it from its peer_connected handler), and
    // a client ignores a notice it cannot date. Sent first on the same ordered
    // relay, the nonce reaches it before the notice, whatever the broadcasts do.
    if (!send_p2p_message(player_id, qop::network::encode_control_frame(
                                         PeerFrameKind::SessionAnnounce, session_nonce))) {
        return;
    }
    send_p2p_message(player_id,
                     qop::network::encode_control_frame(PeerFrameKind::Disconnect, session_nonce));
}

void QOPMultiplayerPeer::send_keepalive_ping() {
    if (reliable_transport == nullptr ||
        connection_status == MultiplayerPeer::CONNECTION_DISCONNECTED) {
        return;
    }
    std::vector<std::uint8_t> envelope;
    std::string error;
    if (!qop::network::encode_keepalive_envelope(static_cast<std::uint8_t>(unique_id), envelope,
                                                 error)) {
        handle_connection_failure(error, false);
        return;
    }
    const SendResult result = reliable_transport->send(envelope, error);
    if (result == SendResult::Sent) {
        last_keepalive_time = steady_now_ns();
        return;
    }
    // A full queue only delays the ping to the next poll.
    if (result != SendResult::QueueFull) {
        handle_connection_failure(error, false);
    }
}

}  // namespace qop::godot_adapter
