#pragma once

#include <string>

namespace qop::network {

// One player of a hosted room's roster.
struct RoomPlayer {
    std::string id;
    std::string name;  // display name, may be empty
};

}  // namespace qop::network
