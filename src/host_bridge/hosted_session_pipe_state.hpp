#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dovral_host_session.pb.h"
#include "host_bridge/host_bridge_frames.hpp"
#include "host_bridge/hosted_session_pipe.hpp"

namespace qop::network {

struct HostedSessionPipeState {
    std::unique_ptr<PipeChannel> pipe;  // the room session pipe; null while closed
    std::string room_id;
    std::string player_id;
    std::string host_id;
    std::vector<RoomPlayer> players;

    // A frame of the room session pipe that has only partly arrived.
    HostBridgeFrameReader reader;

    std::unique_ptr<PipeConnector> connector;
    std::shared_ptr<const MonotonicClock> clock;
    HostedSessionTimings timings;

    // cancel() reaches the pipe that connect() is using through these.
    std::atomic<bool> cancel_requested{false};
    std::mutex cancel_mutex;
    PipeChannel* cancellable = nullptr;
};

namespace hosted_session {

inline constexpr char kPipeClosed[] = "Hosted session pipe closed";
inline constexpr char kClosedWhileReading[] = "Hosted session pipe closed while reading";
inline constexpr char kInvalidFrameLength[] = "Hosted session returned an invalid frame length";
inline constexpr char kConnectCancelled[] = "Hosted session connect was cancelled";

// Server errors reach the caller as "code: message".
std::string join_server_error(const std::string& code, const std::string& message);

// Takes the host and roster of a snapshot that carries a room.
void apply_room_snapshot(
    HostedSessionPipeState& state,
    const marzel::desktop::hostbridge::session::SessionRoomSnapshotEvent& event);

// Makes `channel` the one cancel() reaches (null: none). A cancel that came
// first reaches it at once.
void set_cancellable(HostedSessionPipeState& state, PipeChannel* channel);

// Closes the room session pipe and forgets the room; leaves a cancel in force.
void close_session(HostedSessionPipeState& state);

}  // namespace hosted_session

}  // namespace qop::network
