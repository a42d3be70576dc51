#include <algorithm>
#include <iterator>
#include <utility>

#include "desktop/desktop_session_client.hpp"

namespace qop::desktop {
namespace {

SdkError make_not_attached_error() {
    return make_session_required_error("QOP desktop session is not attached");
}

SdkError make_capability_missing_error() {
    SdkError error;
    error.code = "DESKTOP_SESSION_CAPABILITY_MISSING";
    error.message = "Desktop session does not expose the required capability";
    error.category = "channel";
    error.retryable = true;
    return error;
}

}  // namespace

std::string DesktopSessionClient::submit_command(std::uint32_t command,
                                                 std::uint32_t capability_field_number,
                                                 std::string string_value, std::string content_json,
                                                 std::vector<std::uint8_t> content_bytes) {
    if (!is_attached()) {
        emit_error(make_not_attached_error());
        return "";
    }
    if (!has_capability(static_cast<std::int32_t>(capability_field_number))) {
        emit_error(make_capability_missing_error());
        return "";
    }
    QueuedCommand queued;
    queued.request_id = new_request_id();
    queued.command = command;
    queued.capability_field_number = capability_field_number;
    queued.string_value = std::move(string_value);
    queued.content_json = std::move(content_json);
    queued.content_bytes = std::move(content_bytes);
    std::string request_id = queued.request_id;
    bool accepted = false;
    {
        // The state is tested again under the queue's mutex: the ending
        // worker empties the queue and stores DISCONNECTED under it, so a
        // command is either refused here or completed by the worker's end.
        std::lock_guard<std::mutex> lock(outgoing_mutex);
        if (is_attached()) {
            queued.unwritten_deadline = deadline_after(now(), command_timeout_ms);
            outgoing.push_back(std::move(queued));
            accepted = true;
        }
    }
    if (!accepted) {
        emit_error(make_not_attached_error());
        return "";
    }
    wake.notify_all();
    // The worker waits on the pipe's read: end that wait so the command is
    // written now rather than when the read's poll time runs out.
    {
        std::lock_guard<std::mutex> lock(transport_mutex);
        if (current_transport != nullptr) {
            current_transport->wake();
        }
    }
    return request_id;
}

bool DesktopSessionClient::flush_outgoing_commands(const DesktopAttachOptions& options,
                                                   DesktopTransport& transport) {
    std::deque<QueuedCommand> batch;
    {
        std::lock_guard<std::mutex> lock(outgoing_mutex);
        batch.swap(outgoing);
    }
    while (!batch.empty()) {
        // Nothing is written once a stop was asked for; what is left goes
        // back to the queue and completes with the worker's end.
        if (stop_requested.load()) {
            return_to_outgoing_front(std::move(batch));
            return false;
        }
        std::vector<std::uint8_t> bytes;
        SdkError error;
        if (!encode_command_request(batch.front(), bytes, error) ||
            !transport.send_frame(bytes, error)) {
            if (stop_requested.load()) {
                // The write was cut short by the stop: no error to report.
                return_to_outgoing_front(std::move(batch));
                return false;
            }
            QueuedCommand failed = std::move(batch.front());
            batch.pop_front();
            // The untried commands keep their place: they are written after
            // the next attach rather than lost with this connection.
            return_to_outgoing_front(std::move(batch));
            complete_command(
                failed.request_id, error.code.empty() ? "DESKTOP_SESSION_REQUIRED" : error.code,
                error.message.empty() ? "Could not write desktop command" : error.message);
            emit_error(std::move(error));
            return false;
        }
        PendingCommand entry;
        entry.deadline = deadline_after(now(), options.command_timeout_ms);
        entry.command = std::move(batch.front());
        batch.pop_front();
        std::string key = entry.command.request_id;
        pending[std::move(key)] = std::move(entry);
    }
    return true;
}

void DesktopSessionClient::return_to_outgoing_front(std::deque<QueuedCommand> commands) {
    if (commands.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(outgoing_mutex);
    outgoing.insert(outgoing.begin(), std::make_move_iterator(commands.begin()),
                    std::make_move_iterator(commands.end()));
}

bool DesktopSessionClient::handle_server_message(const DecodedServerMessage& message,
                                                 bool during_attach) {
    switch (message.kind) {
        case DecodedServerMessageKind::Attached:
            if (!during_attach) {
                std::lock_guard<std::mutex> lock(session_mutex);
                session = message.attached;
            }
            return true;
        case DecodedServerMessageKind::CommandResult: {
            DesktopSessionEvent event;
            const auto found = pending.find(message.command_result.request_id);
            if (found != pending.end()) {
                pending.erase(found);
                event.kind = DesktopSessionEventKind::CommandCompleted;
            } else {
                event.kind = DesktopSessionEventKind::Notification;
            }
            event.result = message.command_result;
            push_event(std::move(event));
            return true;
        }
        case DecodedServerMessageKind::Detached: {
            const std::string reason =
                message.detach_reason.empty() ? "desktop-session-detached" : message.detach_reason;
            DesktopSessionEvent event;
            event.kind = DesktopSessionEventKind::Detached;
            event.reason = reason;
            push_event(std::move(event));
            fail_pending_commands(make_session_required_error(reason));
            return false;
        }
        case DecodedServerMessageKind::Error:
            emit_error(message.error);
            fail_pending_commands(message.error);
            if (is_terminal_error(message.error)) {
                stop_requested.store(true);
            }
            return false;
        case DecodedServerMessageKind::AntiAddictionChanged: {
            DesktopSessionEvent event;
            event.kind = DesktopSessionEventKind::AntiAddictionChanged;
            event.anti_addiction_status_json = message.anti_addiction_status_json;
            event.anti_addiction_event_json = message.anti_addiction_event_json;
            push_event(std::move(event));
            return true;
        }
    }
    return false;
}

void DesktopSessionClient::expire_pending_commands() {
    const SteadyTimePoint reading = now();
    for (auto entry = pending.begin(); entry != pending.end();) {
        if (reading >= entry->second.deadline) {
            complete_command(entry->first, "DESKTOP_SESSION_REQUIRED",
                             "Desktop session command timed out");
            entry = pending.erase(entry);
        } else {
            ++entry;
        }
    }
    std::vector<std::string> expired;
    {
        std::lock_guard<std::mutex> lock(outgoing_mutex);
        for (auto entry = outgoing.begin(); entry != outgoing.end();) {
            if (reading >= entry->unwritten_deadline) {
                expired.push_back(std::move(entry->request_id));
                entry = outgoing.erase(entry);
            } else {
                ++entry;
            }
        }
    }
    // Completed outside the queue's lock, in the order they were accepted.
    for (const std::string& request_id : expired) {
        complete_command(request_id, "DESKTOP_SESSION_REQUIRED",
                         "Desktop session command timed out");
    }
}

SteadyTimePoint DesktopSessionClient::earliest_pending_deadline() {
    SteadyTimePoint earliest = SteadyTimePoint::max();
    for (const auto& entry : pending) {
        earliest = std::min(earliest, entry.second.deadline);
    }
    std::lock_guard<std::mutex> lock(outgoing_mutex);
    for (const QueuedCommand& command : outgoing) {
        earliest = std::min(earliest, command.unwritten_deadline);
    }
    return earliest;
}

void DesktopSessionClient::fail_pending_commands(const SdkError& error) {
    const std::string code = error.code.empty() ? "DESKTOP_SESSION_REQUIRED" : error.code;
    const std::string message =
        error.message.empty() ? "QOP desktop session closed" : error.message;
    for (const auto& entry : pending) {
        complete_command(entry.first, code, message);
    }
    pending.clear();
    std::deque<QueuedCommand> queued;
    {
        std::lock_guard<std::mutex> lock(outgoing_mutex);
        queued.swap(outgoing);
    }
    for (const QueuedCommand& command : queued) {
        complete_command(command.request_id, code, message);
    }
}

void DesktopSessionClient::complete_command(const std::string& request_id, std::string code,
                                            std::string message) {
    DesktopSessionEvent event;
    event.kind = DesktopSessionEventKind::CommandCompleted;
    event.result.request_id = request_id;
    event.result.success = false;
    event.result.code = std::move(code);
    event.result.message = std::move(message);
    push_event(std::move(event));
}

void DesktopSessionClient::emit_error(SdkError error) {
    if (error.code.empty()) {
        error.code = "DESKTOP_SESSION_BRIDGE_ERROR";
    }
    if (error.category.empty()) {
        error.category = "channel";
    }
    error.retryable = !is_terminal_error(error);
    DesktopSessionEvent event;
    event.kind = DesktopSessionEventKind::Error;
    event.error = std::move(error);
    push_event(std::move(event));
}

void DesktopSessionClient::push_event(DesktopSessionEvent event) {
    std::lock_guard<std::mutex> lock(event_mutex);
    push_event_locked(std::move(event));
}

void DesktopSessionClient::push_event_locked(DesktopSessionEvent event) {
    while (events.size() >= kMaxQueuedEvents) {
        events.pop_front();
    }
    events.push_back(std::move(event));
}

std::vector<DesktopSessionEvent> DesktopSessionClient::drain_events() {
    std::lock_guard<std::mutex> lock(event_mutex);
    std::vector<DesktopSessionEvent> drained;
    drained.reserve(events.size());
    for (DesktopSessionEvent& event : events) {
        drained.push_back(std::move(event));
    }
    events.clear();
    return drained;
}

}  // namespace qop::desktop
