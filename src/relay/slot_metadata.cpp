#include "relay/slot_metadata.hpp"

#include <bitset>
#include <string>
#include <unordered_set>

namespace qop::network {
namespace {

constexpr std::uint8_t kHighestSlot = 64;
constexpr std::uint8_t kHostSlot = 1;

bool is_room_slot(std::uint8_t slot) {
    return slot >= 1 && slot <= kHighestSlot;
}

}  // namespace

bool validate_slot_metadata(std::uint8_t player_slot, std::uint8_t host_slot,
                            const std::vector<SlotRosterEntry>& roster) {
    if (!is_room_slot(player_slot) || host_slot != kHostSlot) {
        return false;
    }
    if (roster.empty() || roster.size() > kHighestSlot) {
        return false;
    }
    std::unordered_set<std::string> seen_ids;
    std::bitset<kHighestSlot + 1> seen_slots;
    for (const SlotRosterEntry& entry : roster) {
        if (entry.player_id.empty() || !seen_ids.insert(entry.player_id).second) {
            return false;
        }
        if (!is_room_slot(entry.slot) || seen_slots.test(entry.slot)) {
            return false;
        }
        seen_slots.set(entry.slot);
    }
    return seen_slots.test(player_slot) && seen_slots.test(kHostSlot);
}

}  // namespace qop::network
