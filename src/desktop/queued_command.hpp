#pragma once

// A command accepted for sending to the desktop client and not yet written.

#include <cstdint>
#include <string>
#include <vector>

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
};

}  // namespace qop::desktop
