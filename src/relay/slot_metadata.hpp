#pragma once

#include <cstdint>
#include <vector>

#include "relay/network_transport.hpp"

namespace qop::network {

// True when the relay's slot metadata describes a usable room: a local slot
// in 1 to 64, the host in slot 1, and a roster of 1 to 64 distinct, non-empty
// player ids on distinct slots that holds both the local slot and slot 1.
bool validate_slot_metadata(std::uint8_t player_slot, std::uint8_t host_slot,
                            const std::vector<SlotRosterEntry>& roster);

}  // namespace qop::network
