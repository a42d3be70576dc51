#pragma once

#include <functional>

namespace qop::network {

// How one attempt to open a named pipe went.
enum class PipeAttempt {
    Opened,
    Busy,     // the pipe exists but every instance is in use
    Missing,  // no server has made the pipe yet
    Failed,   // anything else: no later attempt can do better
};

enum class PipeOpenEnd { Opened, Failed, TimedOut, Cancelled };

// What the pipe clients that open in rounds do differently: their deadline,
// their cancellation, the attempt itself and how they wait between attempts.
struct PipeOpenRounds {
    std::function<bool()> deadline_passed;
    std::function<bool()> cancelled;
    std::function<PipeAttempt()> try_open;
    // After Busy: waits a while for an instance to free up.
    std::function<void()> wait_for_instance;
    // After Missing: pauses before the next attempt. A client that leaves it
    // empty does not wait for a missing pipe; Missing then ends as Failed.
    std::function<void()> wait_for_server;
};

// Attempts to open until one opens or fails for good. Before every attempt
// the deadline is checked, then the cancellation, so a client whose deadline
// and cancel both came reports the time-out.
PipeOpenEnd open_pipe_in_rounds(const PipeOpenRounds& rounds);

}  // namespace qop::network
