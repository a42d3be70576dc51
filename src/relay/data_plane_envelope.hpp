#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qop::network {

// Where the relay forwards an envelope.
enum class DataPlaneRouteKind : std::uint8_t {
    Host = 0,        // to the room host
    Broadcast = 1,   // to every other player
    Direct = 2,      // to target_slot
    TargetMask = 3,  // to every slot whose bit (slot - 1) is set in target_mask
};

// What an envelope carries. Every kind from 2 to 24 is valid; only these have extra fields
// or a meaning of their own.
enum class DataPlaneMessageKind : std::uint8_t {
    Custom = 0,      // carries custom_type
    PeerToPeer = 1,  // carries p2p_metadata and, with flag bit 1, the fragment block
    Ping = 11,       // the peer's keep-alive
};

constexpr std::uint8_t kEnvelopeFlagFragment = 0x02;
constexpr std::uint8_t kEnvelopeHighestMessageKind = 24;
constexpr std::uint8_t kEnvelopeHighestSlot = 64;

// The decoded header of a version-1 data-plane envelope and the payload behind it. Kinds and
// routes are kept as raw bytes so that any received value can be represented and validated.
struct DataPlaneEnvelope {
    std::uint8_t flags = 0;
    std::uint8_t message_kind = 0;
    std::string custom_type;
    std::uint8_t route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::Broadcast);
    std::uint8_t sender_slot = 0;
    std::uint8_t target_slot = 0;
    std::uint64_t target_mask = 0;
    std::uint32_t p2p_metadata = 0;
    std::array<std::uint8_t, 16> fragment_id{};
    std::uint16_t fragment_index = 0;
    std::uint16_t fragment_count = 0;
    std::uint32_t fragment_total_bytes = 0;
    bool has_fragment = false;
    std::vector<std::uint8_t> payload;
};

bool operator==(const DataPlaneEnvelope& left, const DataPlaneEnvelope& right);
inline bool operator!=(const DataPlaneEnvelope& left, const DataPlaneEnvelope& right) {
    return !(left == right);
}

// Checks the record; on failure `error` holds the reason.
bool validate_data_plane_envelope(const DataPlaneEnvelope& envelope, std::string& error);

// Validates, then replaces `bytes` with the wire form. On failure `bytes` is left untouched.
bool encode_data_plane_envelope(const DataPlaneEnvelope& envelope, std::vector<std::uint8_t>& bytes,
                                std::string& error);

// The number of header bytes the wire form of `envelope` has before its payload.
std::size_t data_plane_envelope_header_size(const DataPlaneEnvelope& envelope);

// encode_data_plane_envelope without the payload: validates, then replaces `bytes` with the
// header alone, with room reserved for `payload_size` more bytes, so that a caller can append a
// payload it builds in place (`envelope.payload` is ignored). On failure `bytes` is left
// untouched.
bool encode_data_plane_envelope_header(const DataPlaneEnvelope& envelope, std::size_t payload_size,
                                       std::vector<std::uint8_t>& bytes, std::string& error);

// Where a decoded envelope's payload lies inside the bytes it was decoded from.
struct EnvelopePayloadView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Reads the wire form into `envelope` and validates it. Input shorter than the base header
// leaves `envelope` untouched; any later failure may leave it partly filled.
bool decode_data_plane_envelope(const std::vector<std::uint8_t>& bytes, DataPlaneEnvelope& envelope,
                                std::string& error);

// decode_data_plane_envelope without copying the payload: `envelope.payload` stays empty and
// `payload` points into `bytes`, valid as long as they are (it is set once the header has been
// read, even when validation then fails). Accepts and refuses exactly what
// decode_data_plane_envelope does, with the same errors.
bool decode_data_plane_envelope_view(const std::uint8_t* bytes, std::size_t size,
                                     DataPlaneEnvelope& envelope, EnvelopePayloadView& payload,
                                     std::string& error);

// True when `count` (at least 1) bytes are available at `position`; otherwise names the
// missing field in `error`.
bool require_envelope_bytes(const std::vector<std::uint8_t>& bytes, std::size_t position,
                            std::size_t count, const char* field_name, std::string& error);

}  // namespace qop::network
