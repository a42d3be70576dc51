#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {

// Outcome of one receive_frame call.
enum class ReceiveResult : std::int32_t {
    Frame = 0,   // one whole frame's payload is in the out vector
    Idle = 1,    // nothing arrived within the poll time
    Closed = 2,  // closed, broken, never opened or cancelled; no error is filled
    Error = 3,   // a failure; the error is filled
    // A frame has begun but did not arrive whole within the poll time; the
    // transport keeps what came and the next call goes on with it.
    Partial = 4,
};

// A connection to the desktop client that carries length-prefixed frames.
// One worker thread drives connect, send_frame, receive_frame and close;
// cancel may come from any other thread to wake that worker.
class DesktopTransport {
public:
    virtual ~DesktopTransport() = default;

    // Opens the endpoint, retrying while the desktop client is absent or busy
    // until timeout_ms has passed. False with `error` untouched means the
    // transport was cancelled.
    virtual bool connect(const std::string& endpoint, std::int64_t timeout_ms, SdkError& error) = 0;

    // Writes the payload as one frame.
    virtual bool send_frame(const std::vector<std::uint8_t>& payload, SdkError& error) = 0;

    // Waits up to poll_ms for a frame, returning as soon as one is whole. A
    // frame that stalls is waited for in poll_ms slices (Partial), so that
    // the caller can see to its deadlines meanwhile; the frame read's own
    // time-out runs on across those calls.
    virtual ReceiveResult receive_frame(std::vector<std::uint8_t>& out, std::int64_t poll_ms,
                                        SdkError& error) = 0;

    // Wakes every current and later wait of this transport. Sticky: a
    // cancelled transport is never connected again.
    virtual void cancel() = 0;

    // Ends the receive_frame wait in progress, or the next one, with Idle
    // (Partial inside a frame) at once, so that the worker turns to what was just queued for it.
    // One wake ends one wait. May be called from any thread.
    virtual void wake() = 0;

    virtual void close() = 0;
};

}  // namespace qop::desktop
