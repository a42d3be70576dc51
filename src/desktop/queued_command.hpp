#pragma once

// A command accepted for sending to the desktop client and not yet written.

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/desktop_session_timing.hpp"

namespace qop::desktop {

struct QueuedCommand {
    // 32 lower-case hexadecimal digits from new_request_id().
    std::string request_id;
    // The command type number; any number passes through to the wire.
    std::uint32_t command = 0;
    // Capability the command needs, checked when it is accepted; 0 = none.
    std::uint32_t capability_field_number = 0;
    std::string string_value;
    std::string content_json;
    std::vector<std::uint8_t> content_bytes;
    // Acceptance time plus the command time-out. A command that waits
    // unwritten that long (the desktop client went away before it could be
    // written) times out like a written one; once written, the deadline of
    // its pending entry applies instead.
    SteadyTimePoint unwritten_deadline = SteadyTimePoint::max();
};

}  // namespace qop::desktop
