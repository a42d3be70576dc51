#include <algorithm>

#include "relay/data_plane_envelope.hpp"
#include "shared/big_endian.hpp"

namespace qop::network {
namespace {

constexpr std::size_t kBaseHeaderBytes = 4;
constexpr std::size_t kFragmentBlockBytes = 24;

// The bytes under decode: a view, so that a payload need not be copied to be read.
struct EnvelopeInput {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t operator[](std::size_t position) const { return data[position]; }
};

bool require_bytes(const EnvelopeInput& bytes, std::size_t position, std::size_t count,
                   const char* field_name, std::string& error) {
    if (count >= 1 && position <= bytes.size && count <= bytes.size - position) {
        return true;
    }
    error = std::string("DataPlaneEnvelope V1 ") + field_name + " is truncated";
    return false;
}

std::uint64_t read_be(const EnvelopeInput& bytes, std::size_t position, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = (value << 8) | bytes[position + i];
    }
    return value;
}

bool is_kind(std::uint8_t kind, DataPlaneMessageKind expected) {
    return kind == static_cast<std::uint8_t>(expected);
}

bool read_route(const EnvelopeInput& bytes, std::size_t& position, DataPlaneEnvelope& envelope,
                std::string& error) {
    switch (envelope.route_kind) {
        case static_cast<std::uint8_t>(DataPlaneRouteKind::Host):
        case static_cast<std::uint8_t>(DataPlaneRouteKind::Broadcast):
            return true;
        case static_cast<std::uint8_t>(DataPlaneRouteKind::Direct):
            if (!require_bytes(bytes, position, 1, "direct route", error)) {
                return false;
            }
            envelope.target_slot = bytes[position];
            position += 1;
            return true;
        case static_cast<std::uint8_t>(DataPlaneRouteKind::TargetMask):
            if (!require_bytes(bytes, position, 8, "target mask", error)) {
                return false;
            }
            envelope.target_mask = read_be(bytes, position, 8);
            position += 8;
            return true;
        default:
            error = "DataPlaneEnvelope V1 route kind is invalid";
            return false;
    }
}

bool read_kind_fields(const EnvelopeInput& bytes, std::size_t& position,
                      DataPlaneEnvelope& envelope, std::string& error) {
    if (is_kind(envelope.message_kind, DataPlaneMessageKind::Custom)) {
        if (!require_bytes(bytes, position, 1, "custom type length", error)) {
            return false;
        }
        const std::size_t length = bytes[position];
        position += 1;
        if (!require_bytes(bytes, position, length, "custom type", error)) {
            return false;
        }
        envelope.custom_type.assign(bytes.data + position, bytes.data + position + length);
        position += length;
        return true;
    }
    if (envelope.message_kind > kEnvelopeHighestMessageKind) {
        error = "DataPlaneEnvelope V1 message kind is invalid";
        return false;
    }
    if (!is_kind(envelope.message_kind, DataPlaneMessageKind::PeerToPeer)) {
        return true;
    }
    if (!require_bytes(bytes, position, 4, "P2P metadata", error)) {
        return false;
    }
    envelope.p2p_metadata = static_cast<std::uint32_t>(read_be(bytes, position, 4));
    position += 4;
    if ((envelope.flags & kEnvelopeFlagFragment) == 0) {
        return true;
    }
    if (!require_bytes(bytes, position, kFragmentBlockBytes, "fragment metadata", error)) {
        return false;
    }
    std::copy_n(bytes.data + position, envelope.fragment_id.size(), envelope.fragment_id.begin());
    position += envelope.fragment_id.size();
    envelope.fragment_index = static_cast<std::uint16_t>(read_be(bytes, position, 2));
    envelope.fragment_count = static_cast<std::uint16_t>(read_be(bytes, position + 2, 2));
    envelope.fragment_total_bytes = static_cast<std::uint32_t>(read_be(bytes, position + 4, 4));
    position += 8;
    envelope.has_fragment = true;
    return true;
}

}  // namespace

bool require_envelope_bytes(const std::vector<std::uint8_t>& bytes, std::size_t position,
                            std::size_t count, const char* field_name, std::string& error) {
    return require_bytes(EnvelopeInput{bytes.data(), bytes.size()}, position, count, field_name,
                         error);
}

std::size_t data_plane_envelope_header_size(const DataPlaneEnvelope& envelope) {
    std::size_t size = kBaseHeaderBytes;
    if (envelope.route_kind == static_cast<std::uint8_t>(DataPlaneRouteKind::Direct)) {
        size += 1;
    } else if (envelope.route_kind == static_cast<std::uint8_t>(DataPlaneRouteKind::TargetMask)) {
        size += 8;
    }
    if (is_kind(envelope.message_kind, DataPlaneMessageKind::Custom)) {
        size += 1 + envelope.custom_type.size();
    } else if (is_kind(envelope.message_kind, DataPlaneMessageKind::PeerToPeer)) {
        size += 4 + (envelope.has_fragment ? kFragmentBlockBytes : 0);
    }
    return size;
}

bool encode_data_plane_envelope_header(const DataPlaneEnvelope& envelope, std::size_t payload_size,
                                       std::vector<std::uint8_t>& bytes, std::string& error) {
    if (!validate_data_plane_envelope(envelope, error)) {
        return false;
    }
    bytes.clear();
    bytes.reserve(data_plane_envelope_header_size(envelope) + payload_size);
    bytes.push_back(envelope.flags);
    bytes.push_back(envelope.message_kind);
    bytes.push_back(envelope.route_kind);
    bytes.push_back(envelope.sender_slot);
    if (envelope.route_kind == static_cast<std::uint8_t>(DataPlaneRouteKind::Direct)) {
        bytes.push_back(envelope.target_slot);
    } else if (envelope.route_kind == static_cast<std::uint8_t>(DataPlaneRouteKind::TargetMask)) {
        append_u64_be(bytes, envelope.target_mask);
    }
    if (is_kind(envelope.message_kind, DataPlaneMessageKind::Custom)) {
        bytes.push_back(static_cast<std::uint8_t>(envelope.custom_type.size()));
        bytes.insert(bytes.end(), envelope.custom_type.begin(), envelope.custom_type.end());
    } else if (is_kind(envelope.message_kind, DataPlaneMessageKind::PeerToPeer)) {
        append_u32_be(bytes, envelope.p2p_metadata);
        if (envelope.has_fragment) {
            bytes.insert(bytes.end(), envelope.fragment_id.begin(), envelope.fragment_id.end());
            append_u16_be(bytes, envelope.fragment_index);
            append_u16_be(bytes, envelope.fragment_count);
            append_u32_be(bytes, envelope.fragment_total_bytes);
        }
    }
    return true;
}

bool encode_data_plane_envelope(const DataPlaneEnvelope& envelope, std::vector<std::uint8_t>& bytes,
                                std::string& error) {
    if (!encode_data_plane_envelope_header(envelope, envelope.payload.size(), bytes, error)) {
        return false;
    }
    bytes.insert(bytes.end(), envelope.payload.begin(), envelope.payload.end());
    return true;
}

bool decode_data_plane_envelope_view(const std::uint8_t* bytes, std::size_t size,
                                     DataPlaneEnvelope& envelope, EnvelopePayloadView& payload,
                                     std::string& error) {
    const EnvelopeInput input{bytes, size};
    if (bytes == nullptr || size < kBaseHeaderBytes) {
        error = "DataPlaneEnvelope V1 base header is truncated";
        return false;
    }
    envelope = DataPlaneEnvelope{};
    envelope.flags = input[0];
    envelope.message_kind = input[1];
    envelope.route_kind = input[2];
    envelope.sender_slot = input[3];
    std::size_t position = kBaseHeaderBytes;
    if (!read_route(input, position, envelope, error) ||
        !read_kind_fields(input, position, envelope, error)) {
        return false;
    }
    payload.data = bytes + position;
    payload.size = size - position;
    return validate_data_plane_envelope(envelope, error);
}

bool decode_data_plane_envelope(const std::vector<std::uint8_t>& bytes, DataPlaneEnvelope& envelope,
                                std::string& error) {
    EnvelopePayloadView payload;
    const bool valid =
        decode_data_plane_envelope_view(bytes.data(), bytes.size(), envelope, payload, error);
    // A header that was read but failed validation still shows its payload.
    if (payload.data != nullptr) {
        envelope.payload.assign(payload.data, payload.data + payload.size);
    }
    return valid;
}

}  // namespace qop::network
