#include "multiplayer/peer_send_plan.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace qop::network {
namespace {

// The ASCII bytes "GPPG": marks the envelope's payload as a peer frame.
constexpr std::uint32_t kPeerFrameP2pMetadata = 0x47505047;

// At or below this limit the relay's framing leaves nothing for a chunk.
constexpr std::uint32_t kLargestUnusableFrameLimit = 2048;

// Sets the route fields for `target_peer`. A positive target that is no slot
// at all gets target slot 0, which the encoder refuses, rather than a
// truncated byte that could name somebody else.
void choose_route(DataPlaneEnvelope& envelope, std::uint8_t local_slot, std::uint8_t host_slot,
                  std::int32_t target_peer, const PlayerByPeer& player_by_peer) {
    if (target_peer == 0) {
        envelope.route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::Broadcast);
    } else if (target_peer == host_slot) {
        envelope.route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::Host);
    } else if (target_peer > 0) {
        envelope.route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::Direct);
        envelope.target_slot =
            target_peer <= kEnvelopeHighestSlot ? static_cast<std::uint8_t>(target_peer) : 0;
    } else {
        envelope.route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::TargetMask);
        // Negating the most negative value would overflow; it excludes nobody
        // anyway, since no slot is that large.
        const std::int32_t excluded =
            target_peer == std::numeric_limits<std::int32_t>::min() ? 0 : -target_peer;
        envelope.target_mask = target_mask_excluding(player_by_peer, local_slot, excluded);
    }
}

}  // namespace

bool reliable_chunk_size(std::uint32_t frame_max_bytes, std::uint32_t& chunk_size) {
    if (frame_max_bytes <= kLargestUnusableFrameLimit) {
        return false;
    }
    const std::uint64_t usable = (3 * static_cast<std::uint64_t>(frame_max_bytes) - 6144) / 4;
    if (usable <= kPeerFrameHeaderBytes) {
        return false;
    }
    chunk_size = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(usable - kPeerFrameHeaderBytes, kMaxReliableChunkBytes));
    return true;
}

std::uint64_t fragment_count_for(std::uint64_t size, std::uint32_t chunk_size) {
    if (chunk_size == 0) {
        return 0;
    }
    return size / chunk_size + (size % chunk_size != 0 ? 1 : 0);
}

std::uint64_t target_mask_excluding(const PlayerByPeer& player_by_peer, std::int32_t local_slot,
                                    std::int32_t excluded_peer) {
    std::uint64_t mask = 0;
    for (const auto& entry : player_by_peer) {
        const std::int32_t slot = entry.first;
        if (slot >= 1 && slot <= kEnvelopeHighestSlot && slot != local_slot &&
            slot != excluded_peer) {
            mask |= std::uint64_t{1} << (slot - 1);
        }
    }
    return mask;
}

bool make_peer_envelope(std::uint8_t local_slot, std::uint8_t host_slot, std::int32_t target_peer,
                        const PlayerByPeer& player_by_peer, DataPlaneEnvelope& envelope,
                        std::string& error) {
    envelope = DataPlaneEnvelope{};
    // The peer cuts packets into its own frames, so the envelope never
    // carries the relay's fragment block.
    envelope.flags = 0;
    envelope.message_kind = static_cast<std::uint8_t>(DataPlaneMessageKind::PeerToPeer);
    envelope.sender_slot = local_slot;
    envelope.p2p_metadata = kPeerFrameP2pMetadata;
    choose_route(envelope, local_slot, host_slot, target_peer, player_by_peer);
    return validate_data_plane_envelope(envelope, error);
}

bool build_envelope_header(std::uint8_t local_slot, std::uint8_t host_slot,
                           std::int32_t target_peer, const PlayerByPeer& player_by_peer,
                           std::vector<std::uint8_t>&& frame, std::vector<std::uint8_t>& out,
                           std::string& error) {
    DataPlaneEnvelope envelope;
    if (!make_peer_envelope(local_slot, host_slot, target_peer, player_by_peer, envelope, error)) {
        return false;
    }
    envelope.payload = std::move(frame);
    return encode_data_plane_envelope(envelope, out, error);
}

bool encode_peer_envelope(const DataPlaneEnvelope& envelope, const PeerFrameHeader& header,
                          const std::uint8_t* chunk, std::size_t chunk_size,
                          std::vector<std::uint8_t>& out, std::string& error) {
    if (!encode_data_plane_envelope_header(envelope, kPeerFrameHeaderBytes + chunk_size, out,
                                           error)) {
        return false;
    }
    append_data_frame(out, header, chunk, chunk_size);
    return true;
}

}  // namespace qop::network
