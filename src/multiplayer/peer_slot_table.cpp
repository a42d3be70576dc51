#include "multiplayer/peer_slot_table.hpp"

#include <algorithm>

#include "relay/data_plane_envelope.hpp"

namespace qop::network {
namespace {

const std::string kNoPlayer;

bool enter_roster(const std::vector<SlotRosterEntry>& roster,
                  std::unordered_map<std::string, std::int32_t>& peer_by_player,
                  PlayerByPeer& player_by_peer) {
    for (const SlotRosterEntry& entry : roster) {
        const std::int32_t slot = entry.slot;
        if (entry.player_id.empty() || slot < 1 || slot > kEnvelopeHighestSlot ||
            peer_by_player.count(entry.player_id) != 0 || player_by_peer.count(slot) != 0) {
            return false;
        }
        peer_by_player.emplace(entry.player_id, slot);
        player_by_peer.emplace(slot, entry.player_id);
    }
    return true;
}

}  // namespace

bool PeerSlotTable::build(std::uint8_t player_slot, std::uint8_t host_slot,
                          const std::vector<SlotRosterEntry>& roster,
                          const std::string& local_player_id, std::int32_t& unique_id) {
    clear();
    if (player_slot == 0 || host_slot != kRoomHostSlot) {
        return false;
    }
    if (!enter_roster(roster, peer_by_player_, player_by_peer_)) {
        return false;
    }
    unique_id = player_slot;
    const auto local = player_by_peer_.find(player_slot);
    return local != player_by_peer_.end() && local->second == local_player_id &&
           player_by_peer_.count(kRoomHostSlot) != 0;
}

const std::string& PeerSlotTable::find_player(std::int32_t peer) const {
    const auto entry = player_by_peer_.find(peer);
    return entry == player_by_peer_.end() ? kNoPlayer : entry->second;
}

std::int32_t PeerSlotTable::find_peer(const std::string& player_id) const {
    const auto entry = peer_by_player_.find(player_id);
    return entry == peer_by_player_.end() ? 0 : entry->second;
}

void PeerSlotTable::erase_player(const std::string& player_id) {
    const auto entry = peer_by_player_.find(player_id);
    if (entry == peer_by_player_.end()) {
        return;
    }
    player_by_peer_.erase(entry->second);
    peer_by_player_.erase(entry);
}

void PeerSlotTable::erase_peer(std::int32_t peer) {
    const auto entry = player_by_peer_.find(peer);
    if (entry == player_by_peer_.end()) {
        return;
    }
    peer_by_player_.erase(entry->second);
    player_by_peer_.erase(entry);
}

void PeerSlotTable::clear() {
    peer_by_player_.clear();
    player_by_peer_.clear();
}

std::vector<std::int32_t> PeerSlotTable::peers_except(std::int32_t local_peer) const {
    std::vector<std::int32_t> peers;
    peers.reserve(player_by_peer_.size());
    for (const auto& entry : player_by_peer_) {
        if (entry.first != local_peer) {
            peers.push_back(entry.first);
        }
    }
    std::sort(peers.begin(), peers.end());
    return peers;
}

}  // namespace qop::network
