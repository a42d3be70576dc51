#include <algorithm>
#include <chrono>

#include "dovral_host_bootstrap.pb.h"
#include "dovral_host_session.pb.h"
#include "host_bridge/host_bridge_pipe_open.hpp"
#include "host_bridge/hosted_session_pipe.hpp"
#include "host_bridge/hosted_session_pipe_state.hpp"

namespace qop::network {

namespace bootstrap = marzel::desktop::hostbridge::bootstrap;
namespace session = marzel::desktop::hostbridge::session;

namespace {

using State = HostedSessionPipeState;
using Deadline = std::chrono::steady_clock::time_point;

constexpr char kContextIncomplete[] = "Hosted bootstrap context is incomplete";
constexpr char kBootstrapTimedOut[] = "Hosted bootstrap response timed out";
constexpr char kBootstrapUndecodable[] = "Hosted bootstrap response could not be decoded";
constexpr char kBootstrapIncomplete[] = "Hosted bootstrap response is incomplete";
constexpr char kSessionUndecodable[] = "Hosted session message could not be decoded";
constexpr char kAttachTimedOut[] = "Hosted session attach timed out";
constexpr char kDataPlaneTimedOut[] = "Data plane request timed out";
constexpr char kDataPlaneFailed[] = "Data plane request failed";
constexpr char kDescriptorUnavailable[] = "DATA_PLANE_DESCRIPTOR_UNAVAILABLE";
constexpr char kDataPlaneRequestId[] = "godot-data-plane";

// Keeps `channel` reachable by cancel() for the lifetime of the scope.
class CancellableScope {
public:
    CancellableScope(State& state, PipeChannel* channel) : state_(state) {
        hosted_session::set_cancellable(state_, channel);
    }
    ~CancellableScope() { hosted_session::set_cancellable(state_, nullptr); }
    CancellableScope(const CancellableScope&) = delete;
    CancellableScope& operator=(const CancellableScope&) = delete;

private:
    State& state_;
};

PipeOpenLimits open_limits(const State& state) {
    return PipeOpenLimits{state.timings.pipe_open_give_up_after, state.timings.pipe_busy_wait};
}

Deadline deadline_after(const State& state, std::chrono::milliseconds timeout) {
    return state.clock->now() + timeout;
}

// Reads one whole frame, waiting for its bytes until `deadline`.
bool read_frame_until(State& state, PipeChannel& channel, HostBridgeFrameReader& reader,
                      Deadline deadline, const char* timeout_text, std::string& frame,
                      std::string& error) {
    for (;;) {
        if (state.cancel_requested.load()) {
            error = hosted_session::kConnectCancelled;
            return false;
        }
        // Checked before every frame, not only while the pipe is quiet: a
        // server that keeps sending frames the wait has no use for must not
        // hold it open past its deadline.
        if (state.clock->now() >= deadline) {
            error = timeout_text;
            return false;
        }
        std::size_t budget = kUnlimitedReadBudget;
        switch (reader.read_waiting(channel, frame, budget)) {
            case HostBridgeFrameReader::Status::Complete:
                return true;
            case HostBridgeFrameReader::Status::PipeClosed:
            case HostBridgeFrameReader::Status::ReadFailed:
                error = hosted_session::kClosedWhileReading;
                return false;
            case HostBridgeFrameReader::Status::InvalidLength:
                error = hosted_session::kInvalidFrameLength;
                return false;
            case HostBridgeFrameReader::Status::Incomplete:
                break;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - state.clock->now());
        channel.wait_readable(
            std::clamp(left, std::chrono::milliseconds(0), state.timings.read_poll_interval));
    }
}

bool redeem_launch_ticket(State& state, const HostedBootstrapContext& context,
                          bootstrap::RedeemLaunchTicketResponse& redeemed, std::string& error) {
    std::string frame;
    {
        std::unique_ptr<PipeChannel> channel =
            open_host_bridge_pipe(*state.connector, context.bootstrap_endpoint, *state.clock,
                                  open_limits(state), state.cancel_requested, error);
        if (channel == nullptr) {
            return false;
        }
        CancellableScope cancellable(state, channel.get());

        bootstrap::BootstrapRequest request;
        request.mutable_redeem_launch_ticket()->set_ticket(context.launch_ticket);
        request.mutable_redeem_launch_ticket()->set_secret(context.bootstrap_secret);
        HostBridgeFrameReader reader;
        if (!write_message(*channel, request, error) ||
            !read_frame_until(state, *channel, reader,
                              deadline_after(state, state.timings.bootstrap_response_timeout),
                              kBootstrapTimedOut, frame, error)) {
            return false;
        }
    }  // the bootstrap pipe is done with after its one response

    bootstrap::BootstrapResponse response;
    if (!response.ParseFromString(frame)) {
        error = kBootstrapUndecodable;
        return false;
    }
    if (response.has_error()) {
        error =
            hosted_session::join_server_error(response.error().code(), response.error().message());
        return false;
    }
    if (!response.has_redeem_launch_ticket()) {
        error = kBootstrapIncomplete;
        return false;
    }
    const bootstrap::RedeemLaunchTicketResponse& body = response.redeem_launch_ticket();
    if (body.room_id().empty() || body.player_id().empty() || body.session_endpoint().empty() ||
        body.session_secret().empty()) {
        error = kBootstrapIncomplete;
        return false;
    }
    redeemed = body;
    return true;
}

bool open_room_session(State& state, const bootstrap::RedeemLaunchTicketResponse& redeemed,
                       std::string& error) {
    state.pipe = open_host_bridge_pipe(*state.connector, redeemed.session_endpoint(), *state.clock,
                                       open_limits(state), state.cancel_requested, error);
    if (state.pipe == nullptr) {
        return false;
    }
    hosted_session::set_cancellable(state, state.pipe.get());
    state.reader.reset();
    state.room_id = redeemed.room_id();
    state.player_id = redeemed.player_id();
    return true;
}

// Waits for both the attached response and a room snapshot, in either order.
bool attach_room_session(State& state, const bootstrap::RedeemLaunchTicketResponse& redeemed,
                         std::string& error) {
    session::SessionClientMessage attach;
    attach.mutable_attach()->set_secret(redeemed.session_secret());
    attach.mutable_attach()->set_room_id(redeemed.room_id());
    attach.mutable_attach()->set_player_id(redeemed.player_id());
    if (!write_message(*state.pipe, attach, error)) {
        return false;
    }
    const Deadline deadline = deadline_after(state, state.timings.attach_timeout);
    bool attached = false;
    bool snapshot_seen = false;
    while (!attached || !snapshot_seen) {
        std::string frame;
        if (!read_frame_until(state, *state.pipe, state.reader, deadline, kAttachTimedOut, frame,
                              error)) {
            return false;
        }
        session::SessionServerMessage message;
        if (!message.ParseFromString(frame)) {
            error = kSessionUndecodable;
            return false;
        }
        switch (message.body_case()) {
            case session::SessionServerMessage::kAttached:
                attached = true;
                break;
            case session::SessionServerMessage::kRoomSnapshot:
                hosted_session::apply_room_snapshot(state, message.room_snapshot());
                snapshot_seen = true;
                break;
            case session::SessionServerMessage::kDetached:
                error = message.detached().reason();
                return false;
            case session::SessionServerMessage::kError:
                error = hosted_session::join_server_error(message.error().code(),
                                                          message.error().message());
                return false;
            default:
                break;
        }
    }
    return true;
}

// Requests the data plane and waits for the reply that carries our request id.
bool request_data_plane(State& state, session::SessionDataPlaneResponse& reply,
                        std::string& error) {
    session::SessionClientMessage request;
    request.mutable_command()->set_request_id(kDataPlaneRequestId);
    request.mutable_command()->set_command(session::SESSION_COMMAND_TYPE_REQUEST_DATA_PLANE);
    if (!write_message(*state.pipe, request, error)) {
        return false;
    }
    const Deadline deadline = deadline_after(state, state.timings.data_plane_timeout);
    for (;;) {
        std::string frame;
        if (!read_frame_until(state, *state.pipe, state.reader, deadline, kDataPlaneTimedOut, frame,
                              error)) {
            return false;
        }
        session::SessionServerMessage message;
        if (!message.ParseFromString(frame)) {
            continue;
        }
        switch (message.body_case()) {
            case session::SessionServerMessage::kRoomSnapshot:
                hosted_session::apply_room_snapshot(state, message.room_snapshot());
                break;
            case session::SessionServerMessage::kError:
                error = hosted_session::join_server_error(message.error().code(),
                                                          message.error().message());
                return false;
            case session::SessionServerMessage::kDataPlane:
                if (message.data_plane().request_id() == kDataPlaneRequestId) {
                    reply = message.data_plane();
                    return true;
                }
                break;
            default:
                break;
        }
    }
}

bool take_data_plane(State& state, const session::SessionDataPlaneResponse& reply,
                     DataPlaneConnectionContext& out, std::string& error) {
    if (!reply.success() || !reply.has_descriptor()) {
        error = reply.message().empty() ? std::string(kDataPlaneFailed) : reply.message();
        return false;
    }
    const session::SessionDataPlaneDescriptor& descriptor = reply.data_plane_descriptor();
    if (!descriptor.has_sdk_descriptor_json() || descriptor.sdk_descriptor_json().empty()) {
        error = kDescriptorUnavailable;
        return false;
    }
    if (!parse_data_plane_descriptor(descriptor.sdk_descriptor_json(), out, error)) {
        return false;
    }
    out.room_id = state.room_id;
    out.player_id = state.player_id;
    out.host_id = state.host_id;
    out.players = state.players;
    return true;
}

bool run_connect(State& state, const HostedBootstrapContext& context,
                 DataPlaneConnectionContext& out, std::string& error) {
    if (context.launch_ticket.empty() || context.bootstrap_endpoint.empty() ||
        context.bootstrap_secret.empty()) {
        error = kContextIncomplete;
        return false;
    }
    bootstrap::RedeemLaunchTicketResponse redeemed;
    session::SessionDataPlaneResponse reply;
    return redeem_launch_ticket(state, context, redeemed, error) &&
           open_room_session(state, redeemed, error) &&
           attach_room_session(state, redeemed, error) && request_data_plane(state, reply, error) &&
           take_data_plane(state, reply, out, error);
}

}  // namespace

bool HostedSessionPipe::connect(const HostedBootstrapContext& bootstrap,
                                DataPlaneConnectionContext& out, std::string& error) {
    HostedSessionPipeState& state = *state_;
    hosted_session::close_session(state);
    if (run_connect(state, bootstrap, out, error)) {
        return true;
    }
    hosted_session::close_session(state);
    if (state.cancel_requested.load()) {
        error = hosted_session::kConnectCancelled;
    }
    return false;
}

}  // namespace qop::network
