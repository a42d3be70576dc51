#include "relay/slot_metadata.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qop::network {
namespace {

struct SlotMetadataCase {
    const char* name;
    std::uint8_t player_slot;
    std::uint8_t host_slot;
    std::vector<SlotRosterEntry> roster;
    bool valid;
};

std::vector<SlotRosterEntry> numbered_roster(int count) {
    std::vector<SlotRosterEntry> roster;
    for (int slot = 1; slot <= count; ++slot) {
        roster.push_back({"player-" + std::to_string(slot), static_cast<std::uint8_t>(slot)});
    }
    return roster;
}

std::vector<SlotRosterEntry> roster_of_65() {
    auto roster = numbered_roster(64);
    roster.push_back({"player-65", 64});
    return roster;
}

TEST(SlotMetadata, AcceptsOnlyConsistentRooms) {
    const std::vector<SlotMetadataCase> cases = {
        {"host and slot three", 3, 1, {{"h", 1}, {"p", 3}}, true},
        {"own slot absent", 2, 1, {{"h", 1}, {"p", 3}}, false},
        {"host slot two", 2, 2, {{"h", 1}, {"p", 2}}, false},
        {"host slot zero", 1, 0, {{"h", 1}}, false},
        {"player slot zero", 0, 1, {{"h", 1}}, false},
        {"player slot 65", 65, 1, {{"h", 1}, {"p", 65}}, false},
        {"host alone", 1, 1, {{"h", 1}}, true},
        {"host missing from roster", 2, 1, {{"p", 2}}, false},
        {"duplicate id", 2, 1, {{"h", 1}, {"h", 2}}, false},
        {"duplicate slot", 1, 1, {{"h", 1}, {"p", 1}}, false},
        {"slot 65 entry", 1, 1, {{"h", 1}, {"p", 65}}, false},
        {"slot 0 entry", 1, 1, {{"h", 1}, {"p", 0}}, false},
        {"empty id", 1, 1, {{"h", 1}, {"", 2}}, false},
        {"empty roster", 1, 1, {}, false},
        {"full room", 64, 1, numbered_roster(64), true},
        {"65 entries", 1, 1, roster_of_65(), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(validate_slot_metadata(c.player_slot, c.host_slot, c.roster), c.valid) << c.name;
    }
}

}  // namespace
}  // namespace qop::network
