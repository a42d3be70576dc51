#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host_bridge/data_plane_descriptor.hpp"
#include "host_bridge/host_bridge_pipe_channel.hpp"
#include "host_bridge/hosted_session_records.hpp"
#include "shared/monotonic_clock.hpp"

namespace qop::network {

// The client's state; kept out of this header.
struct HostedSessionPipeState;

// How long the client waits at each step of a connect. The defaults are the
// product's; tests shorten them.
struct HostedSessionTimings {
    std::chrono::milliseconds pipe_open_give_up_after{5000};  // while a pipe stays busy
    std::chrono::milliseconds pipe_busy_wait{50};
    std::chrono::milliseconds bootstrap_response_timeout{10000};
    std::chrono::milliseconds attach_timeout{10000};
    std::chrono::milliseconds data_plane_timeout{10000};
    std::chrono::milliseconds read_poll_interval{10};  // longest sleep between looks at a pipe
};

// Client of the desktop client's host bridge: redeems a launch ticket on the
// bootstrap pipe, attaches to the room session pipe, obtains the data-plane
// descriptor and then reports the room's events.
//
// connect() runs on one worker thread; poll() and close() run afterwards on one
// thread at a time. cancel() may come from any thread at any time.
class HostedSessionPipe {
public:
    HostedSessionPipe();
    HostedSessionPipe(std::unique_ptr<PipeConnector> connector,
                      std::shared_ptr<const MonotonicClock> clock,
                      HostedSessionTimings timings = {});
    ~HostedSessionPipe();

    HostedSessionPipe(const HostedSessionPipe&) = delete;
    HostedSessionPipe& operator=(const HostedSessionPipe&) = delete;

    // Blocking, bounded by the timings. True with `out` filled and the room
    // session pipe open; false with `error` set and the pipe closed.
    bool connect(const HostedBootstrapContext& bootstrap, DataPlaneConnectionContext& out,
                 std::string& error);

    // Never blocks: reads the frames that are waiting, keeps a frame that has
    // only partly arrived for a later call, and appends room events to
    // `events` (never clearing it). False, with `error` set, when the session
    // is over; a Detached event is returned with true as the last event.
    bool poll(std::vector<HostedSessionEvent>& events, std::string& error);

    // Closes the room session pipe, forgets the room and re-arms the client
    // after cancel(). Safe at any time, also twice, but not during connect().
    void close();

    // Makes a running connect() return promptly with "Hosted session connect
    // was cancelled", and any connect() that starts before the next close().
    void cancel();

private:
    std::unique_ptr<HostedSessionPipeState> state_;
};

}  // namespace qop::network
