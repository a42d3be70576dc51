#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "host_bridge/host_bridge_pipe_channel.hpp"
#include "shared/monotonic_clock.hpp"

namespace qop::network {

// The full pipe path for a host-bridge pipe name: a name that already starts
// with "\\.\pipe\" (case-sensitive) is kept, any other gets that prefix.
std::string host_bridge_pipe_path(const std::string& name);

// Pipe names come from the game and from the host bridge. A name with a NUL
// (which would silently shorten it) or with invalid UTF-8 is refused.
bool is_usable_pipe_name(const std::string& name);

struct PipeOpenLimits {
    std::chrono::milliseconds give_up_after{5000};  // while the pipe stays busy
    std::chrono::milliseconds busy_wait{50};        // per wait for a free instance
};

// Opens a host-bridge pipe, trying again while it is busy until the limit has
// passed; a missing pipe is not waited for. Every failure, and a raised
// `cancelled`, gives null with "Hosted session pipe could not be connected".
std::unique_ptr<PipeChannel> open_host_bridge_pipe(
    PipeConnector& connector, const std::string& name, const MonotonicClock& clock,
    const PipeOpenLimits& limits, const std::atomic<bool>& cancelled, std::string& error);

}  // namespace qop::network
