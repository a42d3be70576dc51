#pragma once

// How a packet is cut into frames and addressed: the reliable chunk size
// derived from the relay's frame limit, the fragment count, and the envelope
// that routes each frame to its target.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "multiplayer/peer_data_frame.hpp"
#include "relay/data_plane_envelope.hpp"

namespace qop::network {

// Slots are the room's peer ids: peer id -> player id.
using PlayerByPeer = std::unordered_map<std::int32_t, std::string>;

inline constexpr std::uint32_t kMaxReliableChunkBytes = 32768;
// Every envelope around a peer frame names the host in slot 1.
inline constexpr std::uint8_t kRoomHostSlot = 1;

// The chunk size for reliable packets under a relay frame limit of
// `frame_max_bytes`: min(floor((3 * F - 6144) / 4) - 33, 32768). False when
// the limit is 2048 or less or leaves no room for one byte of chunk.
bool reliable_chunk_size(std::uint32_t frame_max_bytes, std::uint32_t& chunk_size);

// ceil(size / chunk_size); 0 when chunk_size is 0.
std::uint64_t fragment_count_for(std::uint64_t size, std::uint32_t chunk_size);

// The mask of every slot in `player_by_peer` except the local slot and
// `excluded_peer` (bit 0 is slot 1). 0 when nobody is left.
std::uint64_t target_mask_excluding(const PlayerByPeer& player_by_peer, std::int32_t local_slot,
                                    std::int32_t excluded_peer);

// Wraps `frame` in a PeerToPeer envelope from `local_slot` routed to
// `target_peer` (0 broadcast, the host slot Host, another positive slot
// Direct, a negative value every slot but its negation) and encodes it into
// `out`. False with the encoder's message in `error` when the envelope is
// refused (for example an empty target mask).
bool build_envelope_header(std::uint8_t local_slot, std::uint8_t host_slot,
                           std::int32_t target_peer, const PlayerByPeer& player_by_peer,
                           std::vector<std::uint8_t>&& frame, std::vector<std::uint8_t>& out,
                           std::string& error);

// The header fields of the envelope build_envelope_header makes, with an
// empty payload: worked out once for all the frames of a packet. False with
// the encoder's message in `error` when the envelope would be refused.
bool make_peer_envelope(std::uint8_t local_slot, std::uint8_t host_slot, std::int32_t target_peer,
                        const PlayerByPeer& player_by_peer, DataPlaneEnvelope& envelope,
                        std::string& error);

// Replaces `out` with `envelope` (from make_peer_envelope) around the frame
// of `header` and `chunk`: the bytes build_envelope_header gives for
// encode_data_frame's frame, written in one buffer whose capacity is reused.
bool encode_peer_envelope(const DataPlaneEnvelope& envelope, const PeerFrameHeader& header,
                          const std::uint8_t* chunk, std::size_t chunk_size,
                          std::vector<std::uint8_t>& out, std::string& error);

}  // namespace qop::network
