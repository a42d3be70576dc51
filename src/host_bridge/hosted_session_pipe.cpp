#include "host_bridge/hosted_session_pipe.hpp"

#include <utility>

#include "host_bridge/hosted_session_pipe_state.hpp"

namespace qop::network {

namespace session = marzel::desktop::hostbridge::session;

namespace hosted_session {

std::string join_server_error(const std::string& code, const std::string& message) {
    return code + ": " + message;
}

void apply_room_snapshot(HostedSessionPipeState& state,
                         const session::SessionRoomSnapshotEvent& event) {
    if (!event.has_room()) {
        return;
    }
    const session::RoomSnapshot& room = event.room();
    state.host_id = room.host_id();
    state.players.clear();
    state.players.reserve(static_cast<std::size_t>(room.players_size()));
    for (const session::PlayerSnapshot& player : room.players()) {
        state.players.push_back(RoomPlayer{player.id(), player.name()});
    }
}

void set_cancellable(HostedSessionPipeState& state, PipeChannel* channel) {
    std::lock_guard<std::mutex> lock(state.cancel_mutex);
    state.cancellable = channel;
    if (channel != nullptr && state.cancel_requested.load()) {
        channel->cancel();
    }
}

void close_session(HostedSessionPipeState& state) {
    set_cancellable(state, nullptr);
    state.pipe.reset();
    state.reader.reset();
    state.room_id.clear();
    state.player_id.clear();
    state.host_id.clear();
    state.players.clear();
}

}  // namespace hosted_session

namespace {

bool room_event_kind(session::SessionRoomEventType type, HostedSessionEventKind& kind) {
    switch (type) {
        case session::SESSION_ROOM_EVENT_TYPE_PLAYER_JOINED:
            kind = HostedSessionEventKind::PlayerJoined;
            return true;
        case session::SESSION_ROOM_EVENT_TYPE_PLAYER_LEFT:
            kind = HostedSessionEventKind::PlayerLeft;
            return true;
        case session::SESSION_ROOM_EVENT_TYPE_HOST_TRANSFERRED:
            kind = HostedSessionEventKind::HostTransferred;
            return true;
        default:
            return false;
    }
}

void append_room_event(const session::SessionRoomEvent& room_event,
                       std::vector<HostedSessionEvent>& events) {
    HostedSessionEvent event;
    if (!room_event_kind(room_event.event_type(), event.kind)) {
        return;
    }
    if (room_event.has_player()) {
        event.player_id = room_event.player().id();
        event.player_name = room_event.player().name();
    }
    event.previous_host_id = room_event.previous_host_id();
    event.current_host_id = room_event.current_host_id();
    events.push_back(std::move(event));
}

}  // namespace

HostedSessionPipe::HostedSessionPipe()
    : HostedSessionPipe(create_default_pipe_connector(), system_monotonic_clock()) {}

HostedSessionPipe::HostedSessionPipe(std::unique_ptr<PipeConnector> connector,
                                     std::shared_ptr<const MonotonicClock> clock,
                                     HostedSessionTimings timings)
    : state_(std::make_unique<HostedSessionPipeState>()) {
    state_->connector = std::move(connector);
    state_->clock = clock != nullptr ? std::move(clock) : system_monotonic_clock();
    state_->timings = timings;
}

HostedSessionPipe::~HostedSessionPipe() {
    close();
}

void HostedSessionPipe::close() {
    hosted_session::close_session(*state_);
    state_->cancel_requested.store(false);
}

void HostedSessionPipe::cancel() {
    std::lock_guard<std::mutex> lock(state_->cancel_mutex);
    state_->cancel_requested.store(true);
    if (state_->cancellable != nullptr) {
        state_->cancellable->cancel();
    }
}

bool HostedSessionPipe::poll(std::vector<HostedSessionEvent>& events, std::string& error) {
    HostedSessionPipeState& state = *state_;
    if (state.pipe == nullptr) {
        return true;
    }
    // A server that goes away after a frame's length prefix has left it
    // unfinished, the same as a read that fails within the frame.
    const auto closed = [&state, &error] {
        error = state.reader.has_length_prefix() ? hosted_session::kClosedWhileReading
                                                 : hosted_session::kPipeClosed;
        return false;
    };
    // Only what is waiting now is read, so a server that keeps writing cannot
    // hold the caller's thread.
    std::size_t budget = 0;
    if (!state.pipe->bytes_waiting(budget)) {
        return closed();
    }
    for (;;) {
        std::string frame;
        switch (state.reader.read_waiting(*state.pipe, frame, budget)) {
            case HostBridgeFrameReader::Status::Incomplete:
                return true;
            case HostBridgeFrameReader::Status::PipeClosed:
                return closed();
            case HostBridgeFrameReader::Status::ReadFailed:
                error = hosted_session::kClosedWhileReading;
                return false;
            case HostBridgeFrameReader::Status::InvalidLength:
                error = hosted_session::kInvalidFrameLength;
                return false;
            case HostBridgeFrameReader::Status::Complete:
                break;
        }
        session::SessionServerMessage message;
        if (!message.ParseFromString(frame)) {
            continue;
        }
        switch (message.body_case()) {
            case session::SessionServerMessage::kRoomSnapshot:
                hosted_session::apply_room_snapshot(state, message.room_snapshot());
                break;
            case session::SessionServerMessage::kRoomEvent:
                append_room_event(message.room_event(), events);
                break;
            case session::SessionServerMessage::kDetached: {
                HostedSessionEvent detached;
                detached.kind = HostedSessionEventKind::Detached;
                detached.reason = message.detached().reason();
                events.push_back(std::move(detached));
                return true;
            }
            case session::SessionServerMessage::kError:
                error = hosted_session::join_server_error(message.error().code(),
                                                          message.error().message());
                return false;
            default:
                break;
        }
    }
}

}  // namespace qop::network
