#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "relay/network_transport.hpp"

namespace qop::network {

// What the UDP relay answers to the hello.
struct UdpAcknowledgement {
    std::vector<std::uint8_t> session_id;
    std::uint32_t relay_payload_max_bytes = 0;
    // Slot metadata; present only when an envelope version was requested.
    std::uint8_t player_slot = 0;
    std::uint8_t host_slot = 0;
    std::vector<SlotRosterEntry> roster;
};

// Reads one acknowledgement datagram. With `requested_envelope_version` 0 no slot metadata is
// expected and bytes after the relay's fixed fields are ignored; otherwise the relay must echo
// the version and the datagram must end exactly after a valid roster. On failure `error` holds
// the reason and `acknowledgement` may be partly filled.
bool parse_udp_acknowledgement(const std::uint8_t* datagram, std::size_t size,
                               std::uint8_t requested_envelope_version,
                               UdpAcknowledgement& acknowledgement, std::string& error);

// The payload limit in force: the relay's maximum, lowered to the requested limit when one
// was asked for (0 asks for none).
std::uint32_t negotiate_udp_payload_limit(std::uint32_t requested, std::uint32_t relay_maximum);

}  // namespace qop::network
