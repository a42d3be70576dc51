#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_slot_table.hpp"

namespace qop::network {
namespace {

using Roster = std::vector<SlotRosterEntry>;

TEST(PeerSlotTable, RefusesRelayMetadataThatCannotNameTheRoom) {
    struct Row {
        const char* name;
        std::uint8_t player_slot;
        std::uint8_t host_slot;
        Roster roster;
        std::int32_t unique_id_after;  // -1: left as it was
    };
    const Roster good = {{"host", 1}, {"me", 2}};
    const Row rows[] = {
        {"own slot 0", 0, 1, good, -1},
        {"host not in slot 1", 2, 2, good, -1},
        {"empty player id", 2, 1, {{"host", 1}, {"", 2}}, -1},
        {"slot 0", 2, 1, {{"host", 1}, {"me", 2}, {"x", 0}}, -1},
        {"slot 65", 2, 1, {{"host", 1}, {"me", 2}, {"x", 65}}, -1},
        {"repeated player", 2, 1, {{"host", 1}, {"me", 2}, {"me", 3}}, -1},
        {"repeated slot", 2, 1, {{"host", 1}, {"me", 2}, {"x", 2}}, -1},
        {"own slot held by someone else", 2, 1, {{"host", 1}, {"other", 2}}, 2},
        {"own slot missing", 3, 1, good, 3},
        {"nobody in slot 1", 2, 1, {{"me", 2}, {"x", 3}}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerSlotTable table;
        std::int32_t unique_id = -1;
        EXPECT_FALSE(table.build(row.player_slot, row.host_slot, row.roster, "me", unique_id));
        EXPECT_EQ(unique_id, row.unique_id_after);
    }
}

TEST(PeerSlotTable, LooksUpErasesAndListsTheOtherSlots) {
    PeerSlotTable table;
    std::int32_t unique_id = 0;
    ASSERT_TRUE(table.build(3, 1, {{"c", 7}, {"host", 1}, {"me", 3}, {"b", 2}}, "me", unique_id));
    EXPECT_EQ(unique_id, 3);
    EXPECT_EQ(table.find_player(7), "c");
    EXPECT_EQ(table.find_player(4), "");
    EXPECT_EQ(table.find_peer("b"), 2);
    EXPECT_EQ(table.find_peer("nobody"), 0);
    EXPECT_EQ(table.peers_except(3), (std::vector<std::int32_t>{1, 2, 7}));

    table.erase_player("c");
    table.erase_peer(2);
    table.erase_peer(40);
    table.erase_player("nobody");
    EXPECT_EQ(table.find_peer("c"), 0);
    EXPECT_EQ(table.find_player(2), "");
    EXPECT_EQ(table.peers_except(3), (std::vector<std::int32_t>{1}));
    EXPECT_EQ(table.player_by_peer().size(), 2u);

    // A rebuild starts from an empty table.
    ASSERT_TRUE(table.build(1, 1, {{"host", 1}}, "host", unique_id));
    EXPECT_EQ(table.find_peer("me"), 0);
    EXPECT_EQ(table.peers_except(1), std::vector<std::int32_t>{});
}

}  // namespace
}  // namespace qop::network
