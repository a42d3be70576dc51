#pragma once

// The room identity a game hands over with a data-plane context: room,
// local player, host and roster, read out of the engine's Dictionary by the
// engine class and checked here.

#include <string>
#include <vector>

#include "host_bridge/data_plane_descriptor.hpp"

namespace qop::network {

struct RoomIdentityEntryInput {
    bool is_dictionary = false;  // an entry that is not a Dictionary is refused
    std::string id;
    std::string name;
};

struct RoomIdentityInput {
    std::string room_id;
    std::string player_id;
    std::string host_id;
    bool players_is_array = true;
    std::vector<RoomIdentityEntryInput> players;
};

// Fills room_id, player_id, host_id and players of `out` (nothing else) and
// checks them, stopping at the first failure with its message in `error`:
// "Dovral data-plane connection context is missing room or player identity",
// "... has an invalid player roster", "... has an invalid player roster
// entry", "... has an invalid player identity", "Dovral data-plane player
// roster does not contain the local player and host".
bool fill_room_identity(const RoomIdentityInput& input, DataPlaneConnectionContext& out,
                        std::string& error);

}  // namespace qop::network
