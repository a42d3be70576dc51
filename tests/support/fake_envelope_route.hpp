#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qop::test {

// The slots a relay forwards an enveloped payload to, read from the route
// fields of its header by hand (bytes 2 and 4..11, big-endian mask): Host goes
// to slot 1, Broadcast to everyone, Direct to one slot, TargetMask to the set
// bits. Only slots in `connected_slots` are kept and never the sender itself.
// A payload too short for its route, or with an unknown route, goes nowhere.
std::vector<std::uint8_t> fake_relay_targets(const std::uint8_t* payload, std::size_t size,
                                             std::uint8_t sender_slot,
                                             const std::vector<std::uint8_t>& connected_slots);

}  // namespace qop::test
