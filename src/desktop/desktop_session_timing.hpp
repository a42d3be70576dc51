#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace qop::desktop {

using SteadyTimePoint = std::chrono::steady_clock::time_point;
using SteadyClockReader = std::function<SteadyTimePoint()>;

// The pacing of the session worker. The defaults are the production values;
// tests shorten them so that retry and poll behaviour can be observed quickly.
struct DesktopSessionTiming {
    // Wait between connection attempts.
    std::int64_t retry_wait_ms = 2000;
    // Wait used for the first attempts after the desktop client was launched,
    // so that the freshly started client is picked up quickly.
    std::int64_t fast_retry_wait_ms = 500;
    std::int32_t fast_retry_count = 10;
    // Longest a read blocks while no whole frame is waiting, also inside a
    // frame that stalls half way. A stop request cancels the read and a
    // queued command wakes it, so these bound only how often the pending
    // commands' deadlines are looked at: while attaching, while commands are
    // pending, and while none is.
    std::int64_t attach_poll_ms = 25;
    std::int64_t session_poll_ms = 10;
    std::int64_t session_idle_poll_ms = 1000;
    // Source of the attach and command deadlines and of the end of the retry
    // wait; empty means the steady clock.
    SteadyClockReader now;
};

// `now` plus `milliseconds`, saturated at the clock's range so that huge or
// very negative time-outs never overflow.
SteadyTimePoint deadline_after(SteadyTimePoint now, std::int64_t milliseconds);

}  // namespace qop::desktop
