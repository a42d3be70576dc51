#include "support/fake_envelope_route.hpp"

#include <algorithm>

namespace qop::test {

std::vector<std::uint8_t> fake_relay_targets(const std::uint8_t* payload, std::size_t size,
                                             std::uint8_t sender_slot,
                                             const std::vector<std::uint8_t>& connected_slots) {
    std::vector<std::uint8_t> targets;
    if (size < 4) {
        return targets;
    }
    auto wants = [&](std::uint8_t slot) -> bool {
        switch (payload[2]) {
            case 0:
                return slot == 1;
            case 1:
                return true;
            case 2:
                return size >= 5 && slot == payload[4];
            case 3: {
                if (size < 12 || slot < 1 || slot > 64) {
                    return false;
                }
                std::uint64_t mask = 0;
                for (int i = 0; i < 8; ++i) {
                    mask = (mask << 8) | payload[4 + i];
                }
                return ((mask >> (slot - 1)) & 1u) != 0;
            }
            default:
                return false;
        }
    };
    for (const std::uint8_t slot : connected_slots) {
        if (slot != sender_slot && wants(slot) &&
            std::find(targets.begin(), targets.end(), slot) == targets.end()) {
            targets.push_back(slot);
        }
    }
    return targets;
}

}  // namespace qop::test
