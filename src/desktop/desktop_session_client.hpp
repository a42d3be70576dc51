#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "desktop/desktop_platform.hpp"
#include "desktop/desktop_session_codec.hpp"
#include "desktop/desktop_session_records.hpp"
#include "desktop/desktop_session_timing.hpp"
#include "desktop/desktop_transport.hpp"
#include "desktop/pending_command.hpp"

namespace qop::desktop {

// Connects the game to the desktop client and keeps the connection alive on a
// worker thread of its own. The owner (the engine's main thread) starts and
// stops it, submits commands and drains events; everything the game must see
// arrives as events in a bounded queue.
class DesktopSessionClient {
public:
    // Starts the worker thread; tests replace it to simulate a failure.
    using WorkerThreadStarter = std::function<std::thread(std::function<void()>)>;

    static constexpr std::size_t kMaxQueuedEvents = 512;

    explicit DesktopSessionClient(std::unique_ptr<DesktopPlatform> platform,
                                  DesktopSessionTiming timing = {},
                                  WorkerThreadStarter start_thread = {});
    ~DesktopSessionClient();

    DesktopSessionClient(const DesktopSessionClient&) = delete;
    DesktopSessionClient& operator=(const DesktopSessionClient&) = delete;
    DesktopSessionClient(DesktopSessionClient&&) = delete;
    DesktopSessionClient& operator=(DesktopSessionClient&&) = delete;

    // Stops any earlier worker and starts a new one; false after an Error
    // event when no worker could be started.
    bool start(DesktopAttachOptions options);
    // Stops and joins the worker; every command still open completes before
    // this returns. On return the state is DISCONNECTED.
    void disconnect();

    // Queues a command for the desktop client and returns its request id, or
    // "" after an Error event when the command was refused.
    std::string submit_command(std::uint32_t command, std::uint32_t capability_field_number,
                               std::string string_value, std::string content_json,
                               std::vector<std::uint8_t> content_bytes);
    // Every queued event, oldest first; the queue is left empty.
    std::vector<DesktopSessionEvent> drain_events();

    AttachedSession attached_session() const;
    ConnectionState connection_state() const;
    bool is_attached() const;
    bool has_capability(std::int32_t capability_field_number) const;

private:
    // Worker thread.
    void run_worker(DesktopAttachOptions options);
    bool connect_and_attach(const DesktopAttachOptions& options, DesktopTransport& transport,
                            bool& terminal);
    bool connect_transport(const DesktopAttachOptions& options, DesktopTransport& transport,
                           const std::string& endpoint, SdkError& error);
    bool run_session(const DesktopAttachOptions& options, DesktopTransport& transport);
    void maybe_launch_desktop_client(const DesktopAttachOptions& options, bool& launch_attempted,
                                     std::int32_t& fast_retries);
    bool wait_before_retry(std::int64_t milliseconds);
    void end_worker();

    // Commands and events.
    bool flush_outgoing_commands(const DesktopAttachOptions& options, DesktopTransport& transport);
    void return_to_outgoing_front(std::deque<QueuedCommand> commands);
    bool handle_server_message(const DecodedServerMessage& message, bool during_attach);
    // Times out the written commands past their deadline and the queued
    // ones that waited unwritten past theirs.
    void expire_pending_commands();
    // The nearest deadline of the pending and queued commands; the clock's
    // end when none.
    SteadyTimePoint earliest_pending_deadline();
    void fail_pending_commands(const SdkError& error);
    void complete_command(const std::string& request_id, std::string code, std::string message);

    void emit_error(SdkError error);
    void push_event(DesktopSessionEvent event);
    void push_event_locked(DesktopSessionEvent event);

    void set_state(ConnectionState next, std::string reason);
    // Changes the state and queues its StateChanged event (and `follow_up`,
    // when given) as one step, so that events follow the order of the
    // states. A worker state never replaces STOPPING: false then, and
    // nothing is queued.
    bool change_state(ConnectionState next, std::string reason, DesktopSessionEvent* follow_up);
    bool change_state_locked(ConnectionState next, std::string reason,
                             DesktopSessionEvent* follow_up);
    // The worker's last step: DISCONNECTED, announced when the worker ended
    // by itself. During a disconnect the state is STOPPING here and the
    // disconnect announces DISCONNECTED after the join.
    void settle_disconnected();

    SteadyTimePoint now() const;

    std::unique_ptr<DesktopPlatform> platform;
    std::atomic<std::uint32_t> state{0};
    std::atomic<bool> stop_requested{false};
    std::thread worker;
    mutable std::mutex session_mutex;
    AttachedSession session;
    std::mutex outgoing_mutex;
    std::deque<QueuedCommand> outgoing;
    // The time-out of the running session's commands, set by start().
    std::int64_t command_timeout_ms = 30000;
    std::unordered_map<std::string, PendingCommand> pending;
    std::mutex event_mutex;
    std::deque<DesktopSessionEvent> events;
    std::mutex wake_mutex;
    std::condition_variable wake;
    std::mutex transport_mutex;
    DesktopTransport* current_transport = nullptr;

    const DesktopSessionTiming timing;
    const WorkerThreadStarter start_thread;
};

}  // namespace qop::desktop
