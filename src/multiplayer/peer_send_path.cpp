#include "multiplayer/peer_send_path.hpp"

#include <algorithm>
#include <deque>
#include <utility>

namespace qop::network {
namespace {

constexpr std::int64_t kHighestTargetSlot = 64;

// What a transport's refusal of one fragment means for the packet.
SendOutcome send_failure(SendResult result, bool reliable) {
    if (result == SendResult::QueueFull) {
        return SendOutcome::Busy;
    }
    // The datagram relay or its socket refuses a packet over its limit
    // before anything of it is sent; the game asked for too much, the
    // connection itself is fine.
    if (!reliable && result == SendResult::OverLimit) {
        return SendOutcome::Invalid;
    }
    return SendOutcome::Failed;
}

}  // namespace

PeerSendPath::PeerSendPath(NonceWaitLimits hold_limits) : held_(hold_limits) {}

SendOutcome PeerSendPath::put_packet(const PeerSendView& view, const OutboundPacketSpec& spec,
                                     const std::uint8_t* data, std::uint64_t size,
                                     std::string& error) {
    if (data == nullptr || size < 1 || size > kMaxPeerPacketBytes) {
        return SendOutcome::Invalid;
    }
    const std::int32_t target = spec.target_peer;
    if (target > 0 && (target == view.unique_id || view.slots.find_player(target).empty())) {
        return SendOutcome::Invalid;
    }
    // Negated in 64 bits: INT32_MIN has no 32-bit negation.
    if (target < 0 && -static_cast<std::int64_t>(target) > kHighestTargetSlot) {
        return SendOutcome::Invalid;
    }
    if (must_hold(view)) {
        return hold(view, spec, data, size);
    }
    return send_packet(view, spec, data, size, error);
}

bool PeerSendPath::plan_packet(const PeerSendView& view, std::int32_t target, std::uint64_t size,
                               std::int32_t mode, PacketPlan& plan) {
    const bool reliable = mode == kTransferModeReliable;
    if (reliable) {
        if (!reliable_chunk_size(view.tcp_frame_max_bytes, plan.chunk_size)) {
            return false;
        }
    } else {
        plan.chunk_size = static_cast<std::uint32_t>(size);
    }
    plan.fragment_count = fragment_count_for(size, plan.chunk_size);
    if (plan.fragment_count == 0 || plan.fragment_count > kMaxPeerFragments) {
        return false;
    }
    if (!reliable && size + kPeerFrameHeaderBytes > view.udp_payload_max_bytes) {
        return false;
    }
    // The route is judged before anything is sent: a negative target that
    // leaves nobody to send to is refused here, and the envelope's header
    // size is what every fragment adds.
    std::string error;
    if (!make_peer_envelope(static_cast<std::uint8_t>(view.unique_id), kRoomHostSlot, target,
                            view.slots.player_by_peer(), plan.envelope, error)) {
        return false;
    }
    const std::uint64_t header_bytes = data_plane_envelope_header_size(plan.envelope);
    plan.queued_bytes = size + plan.fragment_count * (kPeerFrameHeaderBytes + header_bytes);
    // Judged by the datagram relay's own limit, which may be below the
    // descriptor's: a packet held for the nonce must not pass here and be
    // refused, unseen by the game, when it is sent.
    if (!reliable && plan.queued_bytes > view.unreliable.largest_payload_bytes()) {
        return false;
    }
    // A packet the reliable queue can never hold whole would only ever half leave.
    return !reliable || view.reliable.send_queue_could_ever_take(
                            static_cast<std::size_t>(plan.fragment_count), plan.queued_bytes);
}

SendOutcome PeerSendPath::send_packet(const PeerSendView& view, const OutboundPacketSpec& spec,
                                      const std::uint8_t* data, std::uint64_t size,
                                      std::string& error) {
    // Both numbers are used up even by a packet refused below: receivers see
    // the gap, never a number twice.
    const std::uint32_t sequence = ++channel_sequences_[static_cast<std::uint32_t>(spec.channel)];
    const std::uint32_t message_id = next_message_id_++;
    PacketPlan plan;
    if (!plan_packet(view, spec.target_peer, size, spec.transfer_mode, plan)) {
        return SendOutcome::Invalid;
    }
    const bool reliable = spec.transfer_mode == kTransferModeReliable;
    NetworkTransport& transport = reliable ? view.reliable : view.unreliable;
    // Whole or not at all: a half-sent packet could never be reassembled and
    // would only hold a place in every receiver's reassembly table.
    if (reliable && !transport.send_queue_can_take(static_cast<std::size_t>(plan.fragment_count),
                                                   plan.queued_bytes)) {
        return SendOutcome::Busy;
    }
    PeerFrameHeader frame;
    frame.kind = static_cast<std::uint8_t>(PeerFrameKind::Data);
    frame.transfer_mode = static_cast<std::uint8_t>(spec.transfer_mode);
    frame.channel = static_cast<std::uint16_t>(spec.channel);
    frame.sequence = sequence;
    frame.message_id = message_id;
    frame.fragment_count = static_cast<std::uint16_t>(plan.fragment_count);
    frame.total_size = static_cast<std::uint32_t>(size);
    frame.session_nonce = view.session_nonce;
    for (std::uint64_t index = 0; index < plan.fragment_count; ++index) {
        const std::uint64_t offset = index * plan.chunk_size;
        const std::uint64_t length = std::min<std::uint64_t>(size - offset, plan.chunk_size);
        frame.fragment_index = static_cast<std::uint16_t>(index);
        // Each fragment's envelope is written into the one reused buffer,
        // which the transport copies into its queue.
        if (!encode_peer_envelope(plan.envelope, frame, data + offset,
                                  static_cast<std::size_t>(length), send_buffer_, error)) {
            return reliable ? SendOutcome::Failed : SendOutcome::Invalid;
        }
        const SendResult result = transport.send(send_buffer_, error);
        if (result != SendResult::Sent) {
            return send_failure(result, reliable);
        }
    }
    return SendOutcome::Sent;
}

bool PeerSendPath::must_hold(const PeerSendView& view) const {
    return !view.is_host && (view.session_nonce == 0 || !held_.empty());
}

SendOutcome PeerSendPath::hold(const PeerSendView& view, const OutboundPacketSpec& spec,
                               const std::uint8_t* data, std::uint64_t size) {
    PacketPlan plan;
    if (!plan_packet(view, spec.target_peer, size, spec.transfer_mode, plan)) {
        return SendOutcome::Invalid;
    }
    HeldOutboundPacket packet;
    packet.target_peer = spec.target_peer;
    packet.transfer_mode = spec.transfer_mode;
    packet.channel = spec.channel;
    packet.bytes.assign(data, data + size);
    if (!held_.hold(std::move(packet), static_cast<std::size_t>(size))) {
        return SendOutcome::Busy;
    }
    return SendOutcome::Sent;
}

SendOutcome PeerSendPath::release_held(const PeerSendView& view, std::string& error) {
    if (view.session_nonce == 0 || held_.empty()) {
        return SendOutcome::Sent;
    }
    std::deque<HeldOutboundPacket> held = held_.take_all();
    while (!held.empty()) {
        const HeldOutboundPacket& packet = held.front();
        // A player who left while the packet waited is no longer reachable.
        const bool target_gone =
            packet.target_peer > 0 && view.slots.find_player(packet.target_peer).empty();
        const OutboundPacketSpec spec{packet.target_peer, packet.transfer_mode, packet.channel};
        const SendOutcome sent =
            target_gone ? SendOutcome::Sent
                        : send_packet(view, spec, packet.bytes.data(), packet.bytes.size(), error);
        if (sent == SendOutcome::Failed) {
            return sent;
        }
        if (sent == SendOutcome::Busy) {
            // Nothing of it was queued: it waits, first in line, for the next call.
            for (auto& waiting : held) {
                const std::size_t size = waiting.bytes.size();
                held_.hold(std::move(waiting), size);
            }
            return sent;
        }
        held.pop_front();
    }
    return SendOutcome::Sent;
}

}  // namespace qop::network
