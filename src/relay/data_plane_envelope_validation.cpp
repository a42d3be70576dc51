#include "relay/data_plane_envelope.hpp"

namespace qop::network {
namespace {

constexpr std::size_t kMaxCustomTypeBytes = 255;

bool route_is_valid(const DataPlaneEnvelope& envelope) {
    switch (static_cast<DataPlaneRouteKind>(envelope.route_kind)) {
        case DataPlaneRouteKind::Host:
        case DataPlaneRouteKind::Broadcast:
            return envelope.target_slot == 0 && envelope.target_mask == 0;
        case DataPlaneRouteKind::Direct:
            return envelope.target_slot >= 1 && envelope.target_slot <= kEnvelopeHighestSlot &&
                   envelope.target_mask == 0;
        case DataPlaneRouteKind::TargetMask:
            return envelope.target_slot == 0 && envelope.target_mask != 0;
    }
    return false;
}

bool is_kind(const DataPlaneEnvelope& envelope, DataPlaneMessageKind kind) {
    return envelope.message_kind == static_cast<std::uint8_t>(kind);
}

}  // namespace

bool validate_data_plane_envelope(const DataPlaneEnvelope& envelope, std::string& error) {
    if (envelope.flags >= 4 || envelope.sender_slot > kEnvelopeHighestSlot) {
        error = "DataPlaneEnvelope V1 header is invalid";
        return false;
    }
    if (!route_is_valid(envelope)) {
        error = "DataPlaneEnvelope V1 route is invalid";
        return false;
    }
    if (is_kind(envelope, DataPlaneMessageKind::Custom) &&
        (envelope.custom_type.empty() || envelope.custom_type.size() > kMaxCustomTypeBytes)) {
        error = "DataPlaneEnvelope V1 custom type is invalid";
        return false;
    }
    if (envelope.message_kind > kEnvelopeHighestMessageKind) {
        error = "DataPlaneEnvelope V1 message kind is invalid";
        return false;
    }
    const bool fragment_flag = (envelope.flags & kEnvelopeFlagFragment) != 0;
    if (fragment_flag != envelope.has_fragment ||
        (fragment_flag && !is_kind(envelope, DataPlaneMessageKind::PeerToPeer))) {
        error = "DataPlaneEnvelope V1 fragment metadata is inconsistent";
        return false;
    }
    if (envelope.has_fragment &&
        (envelope.fragment_count < 1 || envelope.fragment_index >= envelope.fragment_count ||
         envelope.fragment_total_bytes < 1)) {
        error = "DataPlaneEnvelope V1 fragment metadata is invalid";
        return false;
    }
    return true;
}

bool operator==(const DataPlaneEnvelope& left, const DataPlaneEnvelope& right) {
    return left.flags == right.flags && left.message_kind == right.message_kind &&
           left.custom_type == right.custom_type && left.route_kind == right.route_kind &&
           left.sender_slot == right.sender_slot && left.target_slot == right.target_slot &&
           left.target_mask == right.target_mask && left.p2p_metadata == right.p2p_metadata &&
           left.fragment_id == right.fragment_id && left.fragment_index == right.fragment_index &&
           left.fragment_count == right.fragment_count &&
           left.fragment_total_bytes == right.fragment_total_bytes &&
           left.has_fragment == right.has_fragment && left.payload == right.payload;
}

}  // namespace qop::network
