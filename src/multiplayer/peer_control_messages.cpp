#include "multiplayer/peer_control_messages.hpp"

#include "relay/data_plane_envelope.hpp"

namespace qop::network {
namespace {

// Control frames carry an empty JSON object; receivers read only the kind and
// the nonce.
constexpr std::uint8_t kControlPayload[] = {'{', '}'};
constexpr char kKeepalivePayload[] = R"({"transport":"tcp"})";
// Keep-alives are marked with flag bit 0, which the envelope codec carries
// through unchanged.
constexpr std::uint8_t kKeepaliveFlags = 0x01;

}  // namespace

std::vector<std::uint8_t> encode_control_frame(PeerFrameKind kind, std::uint64_t session_nonce) {
    return encode_data_frame(kControlPayload, sizeof(kControlPayload), kTransferModeReliable,
                             /*channel=*/0, /*sequence=*/0, /*message_id=*/0,
                             /*fragment_index=*/0, /*fragment_count=*/1,
                             /*total_size=*/sizeof(kControlPayload), session_nonce,
                             static_cast<std::uint8_t>(kind));
}

bool encode_keepalive_envelope(std::uint8_t local_slot, std::vector<std::uint8_t>& out,
                               std::string& error) {
    DataPlaneEnvelope envelope;
    envelope.flags = kKeepaliveFlags;
    envelope.message_kind = static_cast<std::uint8_t>(DataPlaneMessageKind::Ping);
    envelope.route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::Host);
    envelope.sender_slot = local_slot;
    envelope.payload.assign(kKeepalivePayload, kKeepalivePayload + sizeof(kKeepalivePayload) - 1);
    return encode_data_plane_envelope(envelope, out, error);
}

}  // namespace qop::network
