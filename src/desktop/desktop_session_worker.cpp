#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "desktop/desktop_session_client.hpp"

namespace qop::desktop {
namespace {

constexpr const char* kRequiredProtocolVersion = "1";

// Keeps the attempt's transport visible to disconnect() and withdraws it
// before the transport is closed or destroyed, also when an exception unwinds
// the attempt, so that a cancel never reaches a dead transport.
class TransportPublication {
public:
    TransportPublication(std::mutex& mutex, DesktopTransport*& slot) : mutex(mutex), slot(slot) {}
    ~TransportPublication() { withdraw(); }
    TransportPublication(const TransportPublication&) = delete;
    TransportPublication& operator=(const TransportPublication&) = delete;

    // False when `stop` is already set: the attempt must not begin. The flag
    // is tested under the mutex that disconnect() holds while it cancels, so
    // either disconnect() sees the transport or this sees the flag.
    bool publish(DesktopTransport* transport, const std::atomic<bool>& stop) {
        std::lock_guard<std::mutex> lock(mutex);
        if (stop.load()) {
            return false;
        }
        slot = transport;
        published = true;
        return true;
    }

    void withdraw() {
        if (!published) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex);
        slot = nullptr;
        published = false;
    }

private:
    std::mutex& mutex;
    DesktopTransport*& slot;
    bool published = false;
};

// The longest single sleep of the retry wait; a far deadline is approached
// in steps, so that no duration near the clock's range reaches the
// condition variable, whose own arithmetic would overflow.
constexpr std::chrono::nanoseconds kLongestSleep = std::chrono::hours(1);

std::chrono::nanoseconds bounded_sleep(SteadyTimePoint::duration left) {
    const auto wanted = std::chrono::duration_cast<std::chrono::nanoseconds>(left);
    if (wanted <= std::chrono::nanoseconds::zero()) {
        return std::chrono::nanoseconds::zero();
    }
    return std::min(wanted, kLongestSleep);
}

// From `reading` to `until` in whole milliseconds, rounded up so that a
// wait of that length never ends before `until`.
std::int64_t whole_milliseconds_until(SteadyTimePoint reading, SteadyTimePoint until) {
    if (until <= reading) {
        return 0;
    }
    return std::chrono::ceil<std::chrono::milliseconds>(until - reading).count();
}

SdkError make_incompatible_protocol_error(const AttachedSession& answer) {
    SdkError error;
    error.code = "DESKTOP_PROTOCOL_INCOMPATIBLE";
    error.message = answer.desktop_protocol_version.empty()
                        ? "Desktop does not report a compatible protocol version"
                        : "SDK and desktop protocol versions are incompatible";
    error.category = "validation";
    error.retryable = false;
    error.channel_state = answer.channel_state;
    error.attach_state = answer.attach_state;
    return error;
}

}  // namespace

void DesktopSessionClient::run_worker(DesktopAttachOptions options) {
    try {
        bool launch_attempted = false;
        std::int32_t fast_retries = 0;
        while (!stop_requested.load()) {
            std::unique_ptr<DesktopTransport> transport = platform->create_transport();
            if (!transport) {
                SdkError error;
                error.code = "UNSUPPORTED_PLATFORM";
                error.message = "Desktop transport is not implemented for this platform";
                error.category = "runtime";
                emit_error(std::move(error));
                break;
            }
            TransportPublication publication(transport_mutex, current_transport);
            if (!publication.publish(transport.get(), stop_requested)) {
                break;
            }
            bool terminal = false;
            if (connect_and_attach(options, *transport, terminal) && !stop_requested.load()) {
                run_session(options, *transport);
            }
            publication.withdraw();
            transport->close();
            transport.reset();
            if (stop_requested.load() || terminal || !options.auto_reconnect) {
                break;
            }
            maybe_launch_desktop_client(options, launch_attempted, fast_retries);
            set_state(ConnectionState::RETRY_WAIT, "desktop-session-retry-wait");
            std::int64_t wait_ms = timing.retry_wait_ms;
            if (fast_retries > 0) {
                --fast_retries;
                wait_ms = timing.fast_retry_wait_ms;
            }
            if (wait_before_retry(wait_ms)) {
                break;
            }
        }
    } catch (const std::exception& exception) {
        emit_error(make_session_required_error(std::string("Desktop session worker failed: ") +
                                               exception.what()));
    } catch (...) {
        emit_error(make_session_required_error("Desktop session worker failed"));
    }
    end_worker();
}

void DesktopSessionClient::maybe_launch_desktop_client(const DesktopAttachOptions& options,
                                                       bool& launch_attempted,
                                                       std::int32_t& fast_retries) {
    if (launch_attempted || !options.auto_launch) {
        return;
    }
    launch_attempted = true;
    SdkError error;
    if (platform->launch_desktop_client(options, error)) {
        fast_retries = timing.fast_retry_count;
        return;
    }
    // A disconnect that arrived during the launch stays quiet.
    if (!error.message.empty() && !stop_requested.load()) {
        emit_error(std::move(error));
    }
}

bool DesktopSessionClient::wait_before_retry(std::int64_t milliseconds) {
    const SteadyTimePoint retry_at = deadline_after(now(), milliseconds);
    for (;;) {
        // Commands written before the pipe closed keep their time-out while
        // the desktop client is away: the wait wakes for the nearest one.
        expire_pending_commands();
        const SteadyTimePoint reading = now();
        if (reading >= retry_at) {
            return stop_requested.load();
        }
        const SteadyTimePoint wake_at = std::min(retry_at, earliest_pending_deadline());
        std::unique_lock<std::mutex> lock(wake_mutex);
        if (wake.wait_for(lock, bounded_sleep(wake_at - reading),
                          [this] { return stop_requested.load(); })) {
            return true;
        }
    }
}

void DesktopSessionClient::end_worker() {
    const SdkError closed = make_session_required_error("QOP desktop session closed");
    fail_pending_commands(closed);
    // submit_command tests the state under the queue's mutex. Storing
    // DISCONNECTED under it, after completing whatever was accepted since
    // the queue was taken above, means no accepted command is stranded and a
    // caller that sees DISCONNECTED finds every completion already queued.
    // The session is forgotten first, so that caller never reads the old one.
    std::lock_guard<std::mutex> lock(outgoing_mutex);
    for (const QueuedCommand& command : outgoing) {
        complete_command(command.request_id, closed.code, closed.message);
    }
    outgoing.clear();
    {
        std::lock_guard<std::mutex> session_lock(session_mutex);
        session = AttachedSession{};
    }
    settle_disconnected();
}

bool DesktopSessionClient::connect_and_attach(const DesktopAttachOptions& options,
                                              DesktopTransport& transport, bool& terminal) {
    terminal = false;
    set_state(ConnectionState::CONNECTING, "desktop-session-connecting");
    const std::string endpoint = platform->resolve_pipe_endpoint(options);
    SdkError error;
    if (!connect_transport(options, transport, endpoint, error)) {
        if (stop_requested.load()) {
            return false;
        }
        if (error.code.empty()) {
            error = make_session_required_error("Could not connect to QOP desktop session");
        }
        terminal = is_terminal_error(error);
        emit_error(std::move(error));
        return false;
    }
    // A connect that won the race against a disconnect still ends quietly.
    if (stop_requested.load()) {
        return false;
    }
    set_state(ConnectionState::ATTACHING, "desktop-session-attaching");

    std::vector<std::uint8_t> request;
    if (!encode_attach_request(options, request, error)) {
        terminal = is_terminal_error(error);
        emit_error(std::move(error));
        return false;
    }
    if (!transport.send_frame(request, error)) {
        if (stop_requested.load()) {
            return false;
        }
        terminal = is_terminal_error(error);
        emit_error(std::move(error));
        return false;
    }

    const SteadyTimePoint deadline = deadline_after(now(), options.attach_timeout_ms);
    // A frame that began before the deadline is still read whole, under the
    // read's own time-out; its slices only let pending commands expire.
    bool inside_frame = false;
    while (!stop_requested.load() && (inside_frame || now() < deadline)) {
        expire_pending_commands();
        std::vector<std::uint8_t> frame;
        SdkError read_error;
        const ReceiveResult result =
            transport.receive_frame(frame, timing.attach_poll_ms, read_error);
        if (result == ReceiveResult::Idle || result == ReceiveResult::Partial) {
            inside_frame = result == ReceiveResult::Partial;
            continue;
        }
        if (result != ReceiveResult::Frame) {
            if (stop_requested.load()) {
                return false;
            }
            if (read_error.code.empty()) {
                read_error = make_session_required_error("Desktop session closed during attach");
            }
            emit_error(std::move(read_error));
            return false;
        }
        DecodedServerMessage message;
        SdkError decode_error;
        if (!decode_server_message(frame, message, decode_error)) {
            emit_error(std::move(decode_error));
            return false;
        }
        switch (message.kind) {
            case DecodedServerMessageKind::Attached: {
                // An answer that arrives after a disconnect was asked for is
                // not taken up.
                if (stop_requested.load()) {
                    return false;
                }
                if (message.attached.desktop_protocol_version != kRequiredProtocolVersion) {
                    terminal = true;
                    emit_error(make_incompatible_protocol_error(message.attached));
                    return false;
                }
                {
                    std::lock_guard<std::mutex> lock(session_mutex);
                    session = message.attached;
                }
                DesktopSessionEvent attached;
                attached.kind = DesktopSessionEventKind::Attached;
                attached.session = std::move(message.attached);
                return change_state(ConnectionState::ATTACHED, "desktop-session-attached",
                                    &attached);
            }
            case DecodedServerMessageKind::Detached: {
                DesktopSessionEvent detached;
                detached.kind = DesktopSessionEventKind::Detached;
                detached.reason = message.detach_reason.empty() ? "desktop-session-detached"
                                                                : message.detach_reason;
                push_event(std::move(detached));
                return false;
            }
            case DecodedServerMessageKind::Error:
                terminal = is_terminal_error(message.error);
                emit_error(message.error);
                return false;
            default:
                handle_server_message(message, true);
                break;
        }
    }
    if (stop_requested.load()) {
        return false;
    }
    emit_error(make_session_required_error("Desktop session attach timed out"));
    return false;
}

bool DesktopSessionClient::connect_transport(const DesktopAttachOptions& options,
                                             DesktopTransport& transport,
                                             const std::string& endpoint, SdkError& error) {
    // The connect may wait for the whole attach time-out while the desktop
    // client is away. It is cut into slices that end at the deadlines of the
    // commands still pending from an earlier session, so that each expires
    // on time; a slice that ran out is no failure of the attempt.
    const SteadyTimePoint give_up_at = deadline_after(now(), options.attach_timeout_ms);
    bool first_slice = true;
    for (;;) {
        expire_pending_commands();
        const SteadyTimePoint reading = now();
        const SteadyTimePoint slice_end = earliest_pending_deadline();
        const bool cut_short = slice_end < give_up_at;
        std::int64_t timeout_ms = options.attach_timeout_ms;
        if (cut_short) {
            timeout_ms = whole_milliseconds_until(reading, slice_end);
        } else if (!first_slice) {
            timeout_ms = whole_milliseconds_until(reading, give_up_at);
        }
        first_slice = false;
        error = SdkError{};
        if (transport.connect(endpoint, timeout_ms, error)) {
            return true;
        }
        if (!cut_short || stop_requested.load()) {
            return false;
        }
        const SteadyTimePoint after = now();
        if (after < slice_end || after >= give_up_at) {
            return false;
        }
    }
}

bool DesktopSessionClient::run_session(const DesktopAttachOptions& options,
                                       DesktopTransport& transport) {
    if (stop_requested.load()) {
        return true;
    }
    for (;;) {
        if (!flush_outgoing_commands(options, transport)) {
            return false;
        }
        std::vector<std::uint8_t> frame;
        SdkError error;
        // The read ends when a frame arrives, a command is queued (wake) or a
        // stop is asked for (cancel); only pending deadlines need it shorter.
        // A frame that stalls half way comes back as Partial at each poll,
        // so its stall holds no deadline back.
        const std::int64_t poll_ms =
            pending.empty() ? timing.session_idle_poll_ms : timing.session_poll_ms;
        const ReceiveResult result = transport.receive_frame(frame, poll_ms, error);
        if (result == ReceiveResult::Frame) {
            DecodedServerMessage message;
            SdkError decode_error;
            if (!decode_server_message(frame, message, decode_error)) {
                emit_error(std::move(decode_error));
                return false;
            }
            if (!handle_server_message(message, false)) {
                return false;
            }
        } else if (result != ReceiveResult::Idle && result != ReceiveResult::Partial) {
            if (stop_requested.load()) {
                return false;
            }
            DesktopSessionEvent detached;
            detached.kind = DesktopSessionEventKind::Detached;
            detached.reason = "desktop-session-closed";
            push_event(std::move(detached));
            if (result == ReceiveResult::Error && !error.message.empty()) {
                emit_error(std::move(error));
            }
            return false;
        }
        expire_pending_commands();
        if (stop_requested.load()) {
            return true;
        }
    }
}

}  // namespace qop::desktop
