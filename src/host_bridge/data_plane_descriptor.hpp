#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_bridge/room_player.hpp"

namespace qop::network {

// Everything needed to open a room's relays. The identity part (room, local
// player, host, roster) comes from the host bridge or the game; the relay part
// comes from the data-plane descriptor.
struct DataPlaneConnectionContext {
    std::string room_id;
    std::string player_id;
    std::string host_id;
    std::vector<RoomPlayer> players;

    std::string tcp_host;
    std::uint16_t tcp_port = 0;
    std::string token;
    std::int64_t expires_at_unix_seconds = 0;
    std::uint32_t tcp_frame_max_bytes = 0;
    std::string udp_host;
    std::uint16_t udp_port = 0;
    std::string udp_token;
    std::uint32_t udp_payload_max_bytes = 0;
};

// Resets `out` to a default record, then fills its relay part from the
// descriptor JSON. On failure `error` holds one of the codes
// "UNSUPPORTED_DATA_PLANE_DESCRIPTOR_VERSION", "INVALID_DATA_PLANE_DESCRIPTOR",
// "TCP_DATA_PLANE_UNAVAILABLE" or "UDP_DATA_PLANE_UNAVAILABLE" and `out` may
// hold a part of the fields; callers discard it.
bool parse_data_plane_descriptor(const std::string& descriptor_json,
                                 DataPlaneConnectionContext& out, std::string& error);

// True once `now_unix_seconds` has reached the descriptor's expiry.
bool is_descriptor_expired(const DataPlaneConnectionContext& context,
                           std::int64_t now_unix_seconds);

}  // namespace qop::network
