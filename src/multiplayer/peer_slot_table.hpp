#pragma once

// The room's peer ids: player id <-> slot, filled from the reliable relay's
// slot metadata when a connection completes.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "multiplayer/peer_send_plan.hpp"
#include "relay/network_transport.hpp"

namespace qop::network {

class PeerSlotTable {
public:
    // Empties the table, then enters every roster entry. Fails when the local
    // slot is 0, the host slot is not 1, an entry has an empty id, a slot of 0
    // or above 64, or repeats an id or a slot, or when the local slot is not
    // held by `local_player_id` or slot 1 is missing. `unique_id` becomes
    // `player_slot` once the roster is in, even when a later test fails.
    bool build(std::uint8_t player_slot, std::uint8_t host_slot,
               const std::vector<SlotRosterEntry>& roster, const std::string& local_player_id,
               std::int32_t& unique_id);

    // "" when no player holds `peer`.
    const std::string& find_player(std::int32_t peer) const;
    // 0 when `player_id` holds no slot.
    std::int32_t find_peer(const std::string& player_id) const;

    // Removes `player_id` and the slot it held.
    void erase_player(const std::string& player_id);
    // Removes `peer` and the player who held it.
    void erase_peer(std::int32_t peer);
    void clear();

    // Every slot but `local_peer`, ascending: a copy, so that signal handlers
    // may change the table while the caller walks it.
    std::vector<std::int32_t> peers_except(std::int32_t local_peer) const;
    const PlayerByPeer& player_by_peer() const { return player_by_peer_; }

private:
    std::unordered_map<std::string, std::int32_t> peer_by_player_;
    PlayerByPeer player_by_peer_;
};

}  // namespace qop::network
