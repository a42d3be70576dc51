#pragma once

// A command written to the desktop client and waiting for its result.

#include "desktop/desktop_session_timing.hpp"
#include "desktop/queued_command.hpp"

namespace qop::desktop {

struct PendingCommand {
    // The command as written, with its own copy of the request id.
    QueuedCommand command;
    // Write time plus the command time-out.
    SteadyTimePoint deadline{};
};

}  // namespace qop::desktop
