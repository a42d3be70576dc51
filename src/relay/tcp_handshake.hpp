#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "relay/network_transport.hpp"

namespace qop::network {

// The first frame sent to the TCP relay: a JSON object carrying the token and
// the envelope versions this library speaks.
bool encode_reliable_handshake(const std::string& token, std::string& text, std::string& error);

// Reads the relay's first frame. On success the envelope version is 1 (with
// validated slot metadata) or 0 (slots 0, roster empty). Safe on any bytes.
bool parse_reliable_handshake_ack(std::string_view bytes, std::uint8_t& envelope_version,
                                  std::uint8_t& player_slot, std::uint8_t& host_slot,
                                  std::vector<SlotRosterEntry>& roster, std::string& error);

}  // namespace qop::network
