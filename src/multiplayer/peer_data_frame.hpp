#pragma once

// The frame every packet travels in between the players of a room: a
// 33-byte big-endian header ("QOPG", version 1) followed by a chunk of the
// packet. It is always carried as the payload of a PeerToPeer envelope.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qop::network {

enum class PeerFrameKind : std::uint8_t {
    SessionAnnounce = 1,
    Data = 3,
    Disconnect = 4,
};

inline constexpr std::size_t kPeerFrameHeaderBytes = 33;
inline constexpr std::uint8_t kPeerFrameVersion = 1;
// The largest packet a game may send, and the most fragments one packet may use.
inline constexpr std::uint32_t kMaxPeerPacketBytes = 16777216;
inline constexpr std::uint16_t kMaxPeerFragments = 4096;

// Engine transfer modes as they appear on the wire.
inline constexpr std::uint8_t kTransferModeUnreliable = 0;
inline constexpr std::uint8_t kTransferModeUnreliableOrdered = 1;
inline constexpr std::uint8_t kTransferModeReliable = 2;

// The header fields of one frame.
struct PeerFrameHeader {
    std::uint8_t kind = 0;
    std::uint8_t transfer_mode = 0;
    std::uint16_t channel = 0;
    std::uint32_t sequence = 0;
    std::uint32_t message_id = 0;
    std::uint16_t fragment_index = 0;
    std::uint16_t fragment_count = 0;
    std::uint32_t total_size = 0;
    std::uint64_t session_nonce = 0;
};

// Appends the frame (header then chunk) to `out`; when `out` has room reserved for it, no
// allocation happens, so a frame can be written straight behind its envelope header.
void append_data_frame(std::vector<std::uint8_t>& out, const PeerFrameHeader& header,
                       const std::uint8_t* chunk, std::size_t chunk_size);

// Header then chunk, in one allocation of exactly the frame's size.
std::vector<std::uint8_t> encode_data_frame(const std::uint8_t* chunk, std::size_t chunk_size,
                                            std::uint8_t transfer_mode, std::uint16_t channel,
                                            std::uint32_t sequence, std::uint32_t message_id,
                                            std::uint16_t fragment_index,
                                            std::uint16_t fragment_count, std::uint32_t total_size,
                                            std::uint64_t session_nonce, std::uint8_t kind);

// Reads the header of `size` bytes at `bytes`. False when there are fewer
// than 33 bytes, the magic or version is wrong, or the transfer mode is above
// 2; the chunk is the bytes after the header.
bool decode_peer_frame_header(const std::uint8_t* bytes, std::size_t size, PeerFrameHeader& out);

}  // namespace qop::network
