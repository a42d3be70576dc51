#include "multiplayer/peer_receive_path.hpp"

#include <utility>

#include "relay/data_plane_envelope.hpp"

namespace qop::network {
namespace {

// Everything about a data frame that does not depend on what came before it.
// Unreliable packets are never cut into fragments, and a single fragment is
// the whole packet.
bool data_frame_is_well_formed(const PeerFrameHeader& header, std::size_t chunk_size) {
    if (header.fragment_count < 1 || header.fragment_count > kMaxPeerFragments ||
        header.fragment_index >= header.fragment_count) {
        return false;
    }
    if (header.total_size < 1 || header.total_size > kMaxPeerPacketBytes || chunk_size < 1 ||
        chunk_size > header.total_size) {
        return false;
    }
    if (header.fragment_count == 1) {
        return chunk_size == header.total_size;
    }
    return header.transfer_mode == kTransferModeReliable;
}

InboundPacket packet_of(std::vector<std::uint8_t> bytes, std::int32_t peer,
                        const PeerFrameHeader& header) {
    InboundPacket packet;
    packet.bytes = std::move(bytes);
    packet.peer = peer;
    packet.channel = header.channel;
    packet.mode = header.transfer_mode;
    return packet;
}

}  // namespace

PeerReceivePath::PeerReceivePath(ReassemblyLimits reassembly_limits, NonceWaitLimits hold_limits)
    : reassembly_(reassembly_limits), held_(hold_limits) {}

InboundResult PeerReceivePath::on_relay_frame(const std::vector<std::uint8_t>& frame, bool reliable,
                                              const PeerReceiveView& view, std::int64_t now_ns,
                                              InboundPacketQueue& inbound) {
    DataPlaneEnvelope envelope;
    EnvelopePayloadView payload;
    std::string error;
    // Keep-alives and every other kind the relay may forward are not ours.
    // The frame is read where it lies: only what is kept gets copied.
    if (!decode_data_plane_envelope_view(frame.data(), frame.size(), envelope, payload, error) ||
        envelope.message_kind != static_cast<std::uint8_t>(DataPlaneMessageKind::PeerToPeer)) {
        return {};
    }
    const std::string& sender = view.slots.find_player(envelope.sender_slot);
    if (sender.empty()) {
        return {};
    }
    return handle_inbound_data(sender, payload.data, payload.size, reliable, view, now_ns, inbound);
}

InboundResult PeerReceivePath::handle_inbound_data(const std::string& sender,
                                                   const std::uint8_t* bytes, std::size_t size,
                                                   bool reliable, const PeerReceiveView& view,
                                                   std::int64_t now_ns,
                                                   InboundPacketQueue& inbound) {
    PeerFrameHeader header;
    // A frame must come over the transport its transfer mode names.
    if (!decode_peer_frame_header(bytes, size, header) ||
        (header.transfer_mode == kTransferModeReliable) != reliable) {
        return {};
    }
    InboundResult result;
    switch (static_cast<PeerFrameKind>(header.kind)) {
        case PeerFrameKind::SessionAnnounce:
            // Only the host hands out the nonce, and only clients take it.
            if (view.slots.find_peer(sender) == kRoomHostSlot && view.unique_id != kRoomHostSlot &&
                header.session_nonce != 0) {
                // A notice kept from before is this session's only if the
                // host now announces the nonce it carried.
                const bool told_to_leave = kept_notice_nonce_ == header.session_nonce;
                kept_notice_nonce_ = 0;
                result.control = told_to_leave ? InboundControl::HostDisconnect
                                               : InboundControl::SessionAnnounce;
                result.nonce = header.session_nonce;
            }
            break;
        case PeerFrameKind::Disconnect:
            if (sender != view.host_player_id || header.session_nonce == 0) {
                break;
            }
            if (view.session_nonce == 0) {
                // Whether the notice is this session's or an earlier one's
                // shows only once the host's nonce is known: keep it until then.
                if (view.unique_id != kRoomHostSlot) {
                    kept_notice_nonce_ = header.session_nonce;
                }
                break;
            }
            // A notice from an earlier session carries another nonce.
            if (header.session_nonce == view.session_nonce) {
                result.control = InboundControl::HostDisconnect;
                result.nonce = header.session_nonce;
            }
            break;
        case PeerFrameKind::Data:
            handle_data(sender, header, bytes, size, reliable, view, now_ns, inbound);
            break;
    }
    return result;
}

void PeerReceivePath::handle_data(const std::string& sender, const PeerFrameHeader& header,
                                  const std::uint8_t* bytes, std::size_t size, bool reliable,
                                  const PeerReceiveView& view, std::int64_t now_ns,
                                  InboundPacketQueue& inbound) {
    const std::uint8_t* chunk = bytes + kPeerFrameHeaderBytes;
    const std::size_t chunk_size = size - kPeerFrameHeaderBytes;
    const std::int32_t peer = view.slots.find_peer(sender);
    if (peer < 1 || peer == view.unique_id || header.session_nonce == 0 ||
        !data_frame_is_well_formed(header, chunk_size)) {
        return;
    }
    if (view.session_nonce == 0) {
        // A client that has not heard the host's announce yet keeps what
        // arrives until it can tell this session's frames from stale ones.
        if (view.unique_id != kRoomHostSlot) {
            HeldInboundFrame held;
            held.sender = sender;
            held.reliable = reliable;
            held.frame.assign(bytes, bytes + size);
            held_.hold(std::move(held), size);
        }
        return;
    }
    if (header.session_nonce != view.session_nonce) {
        return;
    }
    if (header.transfer_mode == kTransferModeUnreliableOrdered &&
        !ordered_.accept(peer, header.channel, header.sequence)) {
        return;
    }
    if (header.fragment_count == 1) {
        inbound.push_back(
            packet_of(std::vector<std::uint8_t>(chunk, chunk + chunk_size), peer, header));
        return;
    }
    std::vector<std::uint8_t> packet;
    if (reassembly_.add_fragment(sender, header, chunk, chunk_size, now_ns, packet)) {
        inbound.push_back(packet_of(std::move(packet), peer, header));
    }
}

void PeerReceivePath::release_held(const PeerReceiveView& view, std::int64_t now_ns,
                                   InboundPacketQueue& inbound) {
    if (view.session_nonce == 0) {
        return;
    }
    for (HeldInboundFrame& held : held_.take_all()) {
        handle_inbound_data(held.sender, held.frame.data(), held.frame.size(), held.reliable, view,
                            now_ns, inbound);
    }
}

void PeerReceivePath::expire(std::int64_t now_ns) {
    reassembly_.expire(now_ns);
}

void PeerReceivePath::forget_peer(std::int32_t peer, const std::string& player_id) {
    ordered_.forget_peer(peer);
    reassembly_.forget_sender(player_id);
    for (HeldInboundFrame& held : held_.take_all()) {
        if (held.sender != player_id) {
            const std::size_t held_bytes = held.frame.size();
            held_.hold(std::move(held), held_bytes);
        }
    }
}

void PeerReceivePath::clear() {
    reassembly_.clear();
    ordered_.clear();
    held_.clear();
    kept_notice_nonce_ = 0;
}

}  // namespace qop::network
