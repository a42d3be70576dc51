#include "relay/udp_acknowledgement.hpp"

#include <algorithm>

#include "relay/slot_metadata.hpp"
#include "relay/udp_datagram.hpp"
#include "shared/big_endian.hpp"

namespace qop::network {
namespace {

constexpr char kRejected[] = "UDP transport authentication was rejected";
constexpr char kInvalid[] = "UDP transport returned an invalid acknowledgement";
constexpr char kMetadataInvalid[] = "UDP slot metadata is invalid";

// Shorter answers cannot hold a header, a session id length and any session id.
constexpr std::size_t kMinimumAcknowledgementBytes = 12;
constexpr std::size_t kSessionIdOffset = 8;
// After the session id: the relay's maximum payload (4 bytes) and 8 bytes the relay keeps for
// itself.
constexpr std::size_t kFixedFieldsAfterSessionId = 12;

bool fail(std::string& error, const char* message) {
    error = message;
    return false;
}

// Reads the slot metadata that starts at `position` and must end the datagram.
bool parse_slot_metadata(const std::uint8_t* datagram, std::size_t size, std::size_t position,
                         UdpAcknowledgement& acknowledgement, std::string& error) {
    if (size < position + 3) {
        return fail(error, "UDP slot metadata is truncated");
    }
    acknowledgement.player_slot = datagram[position];
    acknowledgement.host_slot = datagram[position + 1];
    const std::size_t count = datagram[position + 2];
    position += 3;
    acknowledgement.roster.clear();
    for (std::size_t entry = 0; entry < count; ++entry) {
        if (size < position + 3) {
            return fail(error, "UDP roster is truncated");
        }
        const std::uint8_t slot = datagram[position];
        const std::size_t id_length = read_u16_be(datagram + position + 1);
        position += 3 + id_length;
        if (id_length == 0 || position > size) {
            return fail(error, "UDP roster id is truncated");
        }
        const auto* id = reinterpret_cast<const char*>(datagram + position - id_length);
        acknowledgement.roster.push_back(SlotRosterEntry{std::string(id, id_length), slot});
    }
    if (position != size ||
        !validate_slot_metadata(acknowledgement.player_slot, acknowledgement.host_slot,
                                acknowledgement.roster)) {
        return fail(error, kMetadataInvalid);
    }
    return true;
}

}  // namespace

bool parse_udp_acknowledgement(const std::uint8_t* datagram, std::size_t size,
                               std::uint8_t requested_envelope_version,
                               UdpAcknowledgement& acknowledgement, std::string& error) {
    if (size < kMinimumAcknowledgementBytes ||
        !has_udp_header(datagram, size, kUdpTypeAcknowledgement)) {
        return fail(error, kRejected);
    }
    const std::size_t session_id_length = read_u16_be(datagram + kUdpHeaderBytes);
    const std::size_t fixed_end = kSessionIdOffset + session_id_length + kFixedFieldsAfterSessionId;
    if (session_id_length == 0 || size < fixed_end) {
        return fail(error, kInvalid);
    }
    if (requested_envelope_version != 0 &&
        (size < fixed_end + 1 || datagram[fixed_end] != requested_envelope_version)) {
        return fail(error, kInvalid);
    }
    acknowledgement.session_id.assign(datagram + kSessionIdOffset,
                                      datagram + kSessionIdOffset + session_id_length);
    acknowledgement.relay_payload_max_bytes =
        read_u32_be(datagram + kSessionIdOffset + session_id_length);
    acknowledgement.player_slot = 0;
    acknowledgement.host_slot = 0;
    acknowledgement.roster.clear();
    if (requested_envelope_version == 0) {
        return true;
    }
    return parse_slot_metadata(datagram, size, fixed_end + 1, acknowledgement, error);
}

std::uint32_t negotiate_udp_payload_limit(std::uint32_t requested, std::uint32_t relay_maximum) {
    return requested == 0 ? relay_maximum : std::min(requested, relay_maximum);
}

}  // namespace qop::network
