#include <gtest/gtest.h>

#include <string>

#include "host_bridge/data_plane_room_identity.hpp"

namespace qop::network {
namespace {

RoomIdentityEntryInput entry(const char* id, const char* name = "n") {
    return RoomIdentityEntryInput{true, id, name};
}

RoomIdentityInput good_input() {
    RoomIdentityInput input;
    input.room_id = "room";
    input.player_id = "me";
    input.host_id = "host";
    input.players = {entry("host", "Host"), entry("me", "")};
    return input;
}

TEST(RoomIdentity, RefusesEachBrokenPartWithItsText) {
    const std::string missing =
        "Dovral data-plane connection context is missing room or player identity";
    const std::string roster = "Dovral data-plane connection context has an invalid player roster";
    const std::string roster_entry =
        "Dovral data-plane connection context has an invalid player roster entry";
    const std::string identity =
        "Dovral data-plane connection context has an invalid player identity";
    const std::string lacks =
        "Dovral data-plane player roster does not contain the local player and host";
    struct Row {
        const char* name;
        void (*change)(RoomIdentityInput&);
        const std::string& error;
    };
    const Row rows[] = {
        {"no room", [](RoomIdentityInput& in) { in.room_id.clear(); }, missing},
        {"no player", [](RoomIdentityInput& in) { in.player_id.clear(); }, missing},
        {"no host", [](RoomIdentityInput& in) { in.host_id.clear(); }, missing},
        {"identity before roster",
         [](RoomIdentityInput& in) {
             in.host_id.clear();
             in.players_is_array = false;
         },
         missing},
        {"players not an array", [](RoomIdentityInput& in) { in.players_is_array = false; },
         roster},
        {"empty roster", [](RoomIdentityInput& in) { in.players.clear(); }, lacks},
        {"entry not a dictionary",
         [](RoomIdentityInput& in) { in.players[1].is_dictionary = false; }, roster_entry},
        {"empty id", [](RoomIdentityInput& in) { in.players.push_back(entry("")); }, identity},
        {"repeated id", [](RoomIdentityInput& in) { in.players.push_back(entry("me")); }, identity},
        {"no local player", [](RoomIdentityInput& in) { in.players.pop_back(); }, lacks},
        {"no host entry", [](RoomIdentityInput& in) { in.players.erase(in.players.begin()); },
         lacks},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RoomIdentityInput input = good_input();
        row.change(input);
        DataPlaneConnectionContext context;
        std::string error;
        EXPECT_FALSE(fill_room_identity(input, context, error));
        EXPECT_EQ(error, row.error);
    }
}

TEST(RoomIdentity, FillsOnlyTheIdentityPartInRosterOrder) {
    DataPlaneConnectionContext context;
    context.tcp_host = "relay";
    context.players = {{"stale", "x"}};
    std::string error;
    ASSERT_TRUE(fill_room_identity(good_input(), context, error)) << error;
    EXPECT_EQ(context.room_id, "room");
    EXPECT_EQ(context.player_id, "me");
    EXPECT_EQ(context.host_id, "host");
    ASSERT_EQ(context.players.size(), 2u);
    EXPECT_EQ(context.players[0].id, "host");
    EXPECT_EQ(context.players[0].name, "Host");
    EXPECT_EQ(context.players[1].id, "me");
    EXPECT_EQ(context.players[1].name, "");
    EXPECT_EQ(context.tcp_host, "relay");
}

}  // namespace
}  // namespace qop::network
