#include "host_bridge/data_plane_room_identity.hpp"

#include <unordered_set>

namespace qop::network {
namespace {

constexpr char kMissingIdentity[] =
    "Dovral data-plane connection context is missing room or player identity";
constexpr char kInvalidRoster[] =
    "Dovral data-plane connection context has an invalid player roster";
constexpr char kInvalidRosterEntry[] =
    "Dovral data-plane connection context has an invalid player roster entry";
constexpr char kInvalidPlayerIdentity[] =
    "Dovral data-plane connection context has an invalid player identity";
constexpr char kRosterLacksLocalOrHost[] =
    "Dovral data-plane player roster does not contain the local player and host";

}  // namespace

bool fill_room_identity(const RoomIdentityInput& input, DataPlaneConnectionContext& out,
                        std::string& error) {
    out.room_id = input.room_id;
    out.player_id = input.player_id;
    out.host_id = input.host_id;
    if (input.room_id.empty() || input.player_id.empty() || input.host_id.empty()) {
        error = kMissingIdentity;
        return false;
    }
    if (!input.players_is_array) {
        error = kInvalidRoster;
        return false;
    }
    out.players.clear();
    out.players.reserve(input.players.size());
    if (input.players.empty()) {
        error = kRosterLacksLocalOrHost;
        return false;
    }
    std::unordered_set<std::string> seen_ids;
    bool has_local_player = false;
    bool has_host = false;
    for (const RoomIdentityEntryInput& entry : input.players) {
        if (!entry.is_dictionary) {
            error = kInvalidRosterEntry;
            return false;
        }
        if (entry.id.empty() || !seen_ids.insert(entry.id).second) {
            error = kInvalidPlayerIdentity;
            return false;
        }
        has_local_player = has_local_player || entry.id == input.player_id;
        has_host = has_host || entry.id == input.host_id;
        out.players.push_back(RoomPlayer{entry.id, entry.name});
    }
    if (!has_local_player || !has_host) {
        error = kRosterLacksLocalOrHost;
        return false;
    }
    return true;
}

}  // namespace qop::network
