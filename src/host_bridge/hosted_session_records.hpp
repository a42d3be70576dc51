#pragma once

#include <cstdint>
#include <string>

#include "host_bridge/room_player.hpp"

namespace qop::network {

// What the game hands over to join a room through the host bridge. The secret
// arrives at run time and is only passed on to the bootstrap pipe.
struct HostedBootstrapContext {
    std::string launch_ticket;
    std::string bootstrap_endpoint;  // name of the bootstrap pipe
    std::string bootstrap_secret;
};

enum class HostedSessionEventKind : std::int32_t {
    PlayerJoined = 0,
    PlayerLeft = 1,
    HostTransferred = 2,
    Detached = 3,
};

// A room event read from the room session pipe. Fields a kind does not use
// stay empty.
struct HostedSessionEvent {
    HostedSessionEventKind kind = HostedSessionEventKind::PlayerJoined;
    std::string player_id;
    std::string player_name;
    std::string previous_host_id;
    std::string current_host_id;
    std::string reason;
};

}  // namespace qop::network
