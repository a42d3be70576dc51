#include "desktop/desktop_session_client.hpp"

#include <exception>
#include <utility>

namespace qop::desktop {
namespace {

std::uint32_t raw(ConnectionState value) {
    return static_cast<std::uint32_t>(value);
}

// The states only the worker moves into; a disconnect in progress (STOPPING)
// must never be replaced by one of them.
bool is_worker_state(ConnectionState value) {
    return value == ConnectionState::CONNECTING || value == ConnectionState::ATTACHING ||
           value == ConnectionState::ATTACHED || value == ConnectionState::RETRY_WAIT;
}

SdkError make_error(std::string code, std::string message, std::string category) {
    SdkError error;
    error.code = std::move(code);
    error.message = std::move(message);
    error.category = std::move(category);
    return error;
}

std::thread start_std_thread(std::function<void()> body) {
    return std::thread(std::move(body));
}

}  // namespace

DesktopSessionClient::DesktopSessionClient(std::unique_ptr<DesktopPlatform> platform,
                                           DesktopSessionTiming timing,
                                           WorkerThreadStarter start_thread)
    : platform(std::move(platform)),
      timing(std::move(timing)),
      start_thread(start_thread ? std::move(start_thread) : WorkerThreadStarter(start_std_thread)) {
}

DesktopSessionClient::~DesktopSessionClient() {
    disconnect();
}

bool DesktopSessionClient::start(DesktopAttachOptions options) {
    disconnect();
    if (!platform) {
        emit_error(make_error("UNSUPPORTED_PLATFORM",
                              "No desktop transport is available for this platform", "runtime"));
        return false;
    }
    if (options.app_id == 0) {
        emit_error(make_error("APP_ID_REQUIRED", "QOP appId is required", "validation"));
        return false;
    }
    if (options.process_id == 0) {
        options.process_id = platform->current_process_id();
    }
    {
        std::lock_guard<std::mutex> lock(session_mutex);
        session = AttachedSession{};
    }
    {
        std::lock_guard<std::mutex> lock(outgoing_mutex);
        outgoing.clear();
        pending.clear();
        command_timeout_ms = options.command_timeout_ms;
    }
    stop_requested.store(false);

    std::string failure;
    try {
        worker = start_thread([this, options]() mutable { run_worker(std::move(options)); });
        if (!worker.joinable()) {
            failure = "no thread was created";
        }
    } catch (const std::exception& exception) {
        failure = exception.what();
    } catch (...) {
        failure = "unknown failure";
    }
    if (!failure.empty()) {
        emit_error(make_error("DESKTOP_SESSION_WORKER_FAILED",
                              "Could not start the desktop session worker: " + failure, "runtime"));
        return false;
    }
    return true;
}

void DesktopSessionClient::disconnect() {
    if (!worker.joinable()) {
        state.store(raw(ConnectionState::DISCONNECTED));
        return;
    }
    {
        // Set under the wake mutex: the retry wait tests the flag under the
        // same mutex, so the notification below can never fall between its
        // test and its sleep. The flag and STOPPING change as one step under
        // the event mutex too: a worker that ends by itself then either
        // announces its end before this step or finds STOPPING and leaves
        // the announcement to this disconnect.
        std::lock_guard<std::mutex> wake_lock(wake_mutex);
        std::lock_guard<std::mutex> event_lock(event_mutex);
        stop_requested.store(true);
        change_state_locked(ConnectionState::STOPPING, "disconnect-requested", nullptr);
    }
    wake.notify_all();
    {
        std::lock_guard<std::mutex> lock(transport_mutex);
        if (current_transport != nullptr) {
            current_transport->cancel();
        }
    }
    worker.join();
    set_state(ConnectionState::DISCONNECTED, "disconnected");
}

AttachedSession DesktopSessionClient::attached_session() const {
    std::lock_guard<std::mutex> lock(session_mutex);
    return session;
}

ConnectionState DesktopSessionClient::connection_state() const {
    return static_cast<ConnectionState>(state.load());
}

bool DesktopSessionClient::is_attached() const {
    return state.load() == raw(ConnectionState::ATTACHED);
}

bool DesktopSessionClient::has_capability(std::int32_t capability_field_number) const {
    if (capability_field_number < 1) {
        return true;
    }
    std::lock_guard<std::mutex> lock(session_mutex);
    const auto found =
        session.capabilities.find(static_cast<std::uint32_t>(capability_field_number));
    return found != session.capabilities.end() && found->second;
}

void DesktopSessionClient::set_state(ConnectionState next, std::string reason) {
    change_state(next, std::move(reason), nullptr);
}

bool DesktopSessionClient::change_state(ConnectionState next, std::string reason,
                                        DesktopSessionEvent* follow_up) {
    std::lock_guard<std::mutex> lock(event_mutex);
    return change_state_locked(next, std::move(reason), follow_up);
}

bool DesktopSessionClient::change_state_locked(ConnectionState next, std::string reason,
                                               DesktopSessionEvent* follow_up) {
    std::uint32_t previous = state.load();
    do {
        if (previous == raw(ConnectionState::STOPPING) && is_worker_state(next)) {
            return false;
        }
    } while (!state.compare_exchange_weak(previous, raw(next)));
    if (previous != raw(next) || !reason.empty()) {
        DesktopSessionEvent event;
        event.kind = DesktopSessionEventKind::StateChanged;
        event.state = next;
        event.reason = std::move(reason);
        push_event_locked(std::move(event));
    }
    if (follow_up != nullptr) {
        push_event_locked(std::move(*follow_up));
    }
    return true;
}

void DesktopSessionClient::settle_disconnected() {
    std::lock_guard<std::mutex> lock(event_mutex);
    const auto previous =
        static_cast<ConnectionState>(state.exchange(raw(ConnectionState::DISCONNECTED)));
    if (!is_worker_state(previous)) {
        return;
    }
    DesktopSessionEvent event;
    event.kind = DesktopSessionEventKind::StateChanged;
    event.state = ConnectionState::DISCONNECTED;
    event.reason = "desktop-session-ended";
    push_event_locked(std::move(event));
}

SteadyTimePoint DesktopSessionClient::now() const {
    return timing.now ? timing.now() : std::chrono::steady_clock::now();
}

}  // namespace qop::desktop
