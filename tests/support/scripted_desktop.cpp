#include "support/scripted_desktop.hpp"

#include <algorithm>
#include <utility>

namespace qop::desktop::fakes {

struct ScriptedDesktop::Connection {
    std::size_t index = 0;
    std::deque<std::uint8_t> to_game;
    bool desktop_closed = false;
    bool game_closed = false;
    std::size_t writes = 0;
};

struct ScriptedDesktop::TransportState {
    bool cancelled = false;
    bool woken = false;
    std::shared_ptr<Connection> connection;
    // The frame being read, header included, as far as it has arrived, and
    // when bytes of it last arrived (the read time-out counts from there).
    std::vector<std::uint8_t> frame;
    Clock::time_point last_progress;
};

namespace {

constexpr std::uint32_t kMaxFramePayload = 16u * 1024u * 1024u;
constexpr std::size_t kFrameHeaderSize = 4;

enum class FrameProgress { Whole, Incomplete, BadLength };

// Moves bytes from the stream into `frame` until it holds `total` bytes or
// the stream is empty.
void take_bytes(std::deque<std::uint8_t>& stream, std::vector<std::uint8_t>& frame,
                std::size_t total) {
    const std::size_t count = std::min(total - std::min(total, frame.size()), stream.size());
    const auto end = stream.begin() + static_cast<std::ptrdiff_t>(count);
    frame.insert(frame.end(), stream.begin(), end);
    stream.erase(stream.begin(), end);
}

// Takes what the frame in progress still needs from the stream, like a pipe
// read that returns whatever has arrived.
FrameProgress take_frame_bytes(std::deque<std::uint8_t>& stream, std::vector<std::uint8_t>& frame) {
    take_bytes(stream, frame, kFrameHeaderSize);
    if (frame.size() < kFrameHeaderSize) {
        return FrameProgress::Incomplete;
    }
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < kFrameHeaderSize; ++i) {
        length |= static_cast<std::uint32_t>(frame[i]) << (8 * i);
    }
    if (length < 1 || length > kMaxFramePayload) {
        return FrameProgress::BadLength;
    }
    take_bytes(stream, frame, kFrameHeaderSize + length);
    return frame.size() == kFrameHeaderSize + length ? FrameProgress::Whole
                                                     : FrameProgress::Incomplete;
}

SdkError bridge_error(const std::string& message) {
    SdkError error;
    error.code = "DESKTOP_SESSION_BRIDGE_ERROR";
    error.message = message;
    error.category = "channel";
    error.retryable = true;
    return error;
}

SdkError connect_timeout_error() {
    SdkError error;
    error.code = "DESKTOP_SESSION_REQUIRED";
    error.message = "Timed out connecting to the desktop session pipe";
    error.category = "channel";
    error.retryable = true;
    return error;
}

class FakeDesktopTransport final : public DesktopTransport {
public:
    explicit FakeDesktopTransport(std::shared_ptr<ScriptedDesktop> desktop)
        : desktop(std::move(desktop)) {}
    ~FakeDesktopTransport() override { desktop->transport_close(state); }

    bool connect(const std::string& endpoint, std::int64_t timeout_ms, SdkError& error) override {
        return desktop->transport_connect(state, endpoint, timeout_ms, error);
    }
    bool send_frame(const std::vector<std::uint8_t>& payload, SdkError& error) override {
        return desktop->transport_send(state, payload, error);
    }
    ReceiveResult receive_frame(std::vector<std::uint8_t>& out, std::int64_t poll_ms,
                                SdkError& error) override {
        return desktop->transport_receive(state, out, poll_ms, error);
    }
    void cancel() override { desktop->transport_cancel(state); }
    void wake() override { desktop->transport_wake(state); }
    void close() override { desktop->transport_close(state); }

private:
    std::shared_ptr<ScriptedDesktop> desktop;
    ScriptedDesktop::TransportState state;
};

class FakeDesktopPlatform final : public DesktopPlatform {
public:
    explicit FakeDesktopPlatform(std::shared_ptr<ScriptedDesktop> desktop)
        : desktop(std::move(desktop)) {}

    std::unique_ptr<DesktopTransport> create_transport() override {
        return desktop->create_transport_for_platform();
    }
    std::string resolve_pipe_endpoint(const DesktopAttachOptions& options) override {
        return desktop->resolve_endpoint(options);
    }
    std::uint32_t current_process_id() override { return desktop->process_id(); }
    bool launch_desktop_client(const DesktopAttachOptions& options, SdkError& error) override {
        return desktop->launch(options, error);
    }

private:
    std::shared_ptr<ScriptedDesktop> desktop;
};

std::string success_content(const CommandRequest& request) {
    return "{\"command\":" + std::to_string(static_cast<int>(request.command())) + "}";
}

}  // namespace

void DesktopReply::send(const ServerMessage& message) {
    actions_.push_back({frame_message(message), false});
}

void DesktopReply::send_bytes(const Bytes& bytes) {
    actions_.push_back({bytes, false});
}

void DesktopReply::close_pipe() {
    actions_.push_back({{}, true});
}

AttachHandler answer_attach_with(ServerMessage answer) {
    return [answer](const AttachRequest& request, DesktopReply& reply) {
        ServerMessage copy = answer;
        if (copy.has_attached()) {
            copy.mutable_attached()->set_app_id(request.app_id());
        }
        reply.send(copy);
    };
}

AttachHandler ignore_attach() {
    return [](const AttachRequest&, DesktopReply&) {};
}

CommandHandler answer_commands_with_success() {
    return [](const CommandRequest& request, DesktopReply& reply) {
        reply.send(
            command_result(request.request_id(), true, "OK", "done", success_content(request)));
    };
}

CommandHandler ignore_commands() {
    return [](const CommandRequest&, DesktopReply&) {};
}

CommandHandler answer_commands_twice() {
    return [](const CommandRequest& request, DesktopReply& reply) {
        const ServerMessage result =
            command_result(request.request_id(), true, "OK", "done", success_content(request));
        reply.send(result);
        reply.send(result);
    };
}

CommandHandler answer_commands_with_unknown_id() {
    return [](const CommandRequest& request, DesktopReply& reply) {
        reply.send(command_result("00000000000000000000000000000000", true, "OK", "unasked",
                                  success_content(request)));
    };
}

std::shared_ptr<ScriptedDesktop> ScriptedDesktop::create() {
    std::shared_ptr<ScriptedDesktop> desktop(new ScriptedDesktop());
    desktop->attach_handler = answer_attach_with();
    desktop->command_handler = answer_commands_with_success();
    return desktop;
}

std::unique_ptr<DesktopPlatform> ScriptedDesktop::make_platform() {
    return std::make_unique<FakeDesktopPlatform>(shared_from_this());
}

std::unique_ptr<DesktopTransport> ScriptedDesktop::make_transport() {
    return std::make_unique<FakeDesktopTransport>(shared_from_this());
}

void ScriptedDesktop::set_transport_available(bool available) {
    std::lock_guard<std::mutex> lock(mutex);
    transport_available = available;
}

void ScriptedDesktop::set_on_create_transport(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(mutex);
    on_create_transport = std::move(callback);
}

void ScriptedDesktop::set_pipe_endpoint(std::string endpoint) {
    std::lock_guard<std::mutex> lock(mutex);
    pipe_endpoint = std::move(endpoint);
}

void ScriptedDesktop::set_process_id(std::uint32_t process_id) {
    std::lock_guard<std::mutex> lock(mutex);
    pid = process_id;
}

void ScriptedDesktop::set_launch_result(bool succeeds, SdkError failure) {
    std::lock_guard<std::mutex> lock(mutex);
    launch_succeeds = succeeds;
    launch_failure = std::move(failure);
}

void ScriptedDesktop::set_on_launch(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(mutex);
    on_launch = std::move(callback);
}

void ScriptedDesktop::set_connect_behaviour(ConnectBehaviour behaviour) {
    std::lock_guard<std::mutex> lock(mutex);
    default_connect = std::move(behaviour);
}

void ScriptedDesktop::queue_connect_behaviours(std::vector<ConnectBehaviour> behaviours) {
    std::lock_guard<std::mutex> lock(mutex);
    for (ConnectBehaviour& behaviour : behaviours) {
        queued_connects.push_back(std::move(behaviour));
    }
}

void ScriptedDesktop::set_write_policy(WritePolicy policy) {
    std::lock_guard<std::mutex> lock(mutex);
    write_policy = std::move(policy);
}

void ScriptedDesktop::set_read_timeout_ms(std::int64_t timeout_ms) {
    std::lock_guard<std::mutex> lock(mutex);
    read_timeout_ms = timeout_ms;
    // A read stalled right now judges its stall by the new limit.
    changed.notify_all();
}

void ScriptedDesktop::set_attach_handler(AttachHandler handler) {
    std::lock_guard<std::mutex> lock(mutex);
    attach_handler = std::move(handler);
}

void ScriptedDesktop::set_command_handler(CommandHandler handler) {
    std::lock_guard<std::mutex> lock(mutex);
    command_handler = std::move(handler);
}

void ScriptedDesktop::release_held_writes() {
    std::lock_guard<std::mutex> lock(mutex);
    ++write_release_generation;
    changed.notify_all();
}

std::size_t ScriptedDesktop::unread_bytes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current ? current->to_game.size() : 0;
}

bool ScriptedDesktop::push(const ServerMessage& message) {
    return push_bytes(frame_message(message));
}

bool ScriptedDesktop::push_bytes(const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!current || current->desktop_closed || current->game_closed) {
        return false;
    }
    current->to_game.insert(current->to_game.end(), bytes.begin(), bytes.end());
    changed.notify_all();
    return true;
}

bool ScriptedDesktop::close_pipe() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!current) {
        return false;
    }
    current->desktop_closed = true;
    current.reset();
    changed.notify_all();
    return true;
}

bool ScriptedDesktop::is_connected() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current != nullptr;
}

#define QOP_FAKE_GETTER(type, name, member)      \
    type ScriptedDesktop::name() const {         \
        std::lock_guard<std::mutex> lock(mutex); \
        return member;                           \
    }
QOP_FAKE_GETTER(std::size_t, transports_created, transport_count)
QOP_FAKE_GETTER(std::size_t, connect_calls, connect_count)
QOP_FAKE_GETTER(std::size_t, connections, connection_count)
QOP_FAKE_GETTER(std::size_t, cancel_calls, cancel_count)
QOP_FAKE_GETTER(std::size_t, wake_calls, wake_count)
QOP_FAKE_GETTER(std::size_t, close_calls, close_count)
QOP_FAKE_GETTER(std::size_t, blocked_writes, blocked_write_count)
QOP_FAKE_GETTER(std::vector<ScriptedDesktop::Clock::time_point>, connect_times, connect_stamps)
QOP_FAKE_GETTER(std::vector<std::string>, connect_endpoints, endpoints)
QOP_FAKE_GETTER(std::vector<std::int64_t>, connect_timeouts, timeouts)
QOP_FAKE_GETTER(std::vector<AttachRequest>, attach_requests, attaches)
QOP_FAKE_GETTER(std::vector<CommandRequest>, command_requests, commands)
QOP_FAKE_GETTER(std::size_t, undecodable_writes, undecodable_count)
QOP_FAKE_GETTER(std::size_t, launch_calls, launches.size())
QOP_FAKE_GETTER(std::vector<ScriptedDesktop::Clock::time_point>, launch_times, launch_stamps)
QOP_FAKE_GETTER(std::vector<DesktopAttachOptions>, launch_options, launches)
QOP_FAKE_GETTER(std::vector<DesktopAttachOptions>, resolve_options, resolves)
QOP_FAKE_GETTER(std::uint32_t, process_id, pid)
#undef QOP_FAKE_GETTER

std::unique_ptr<DesktopTransport> ScriptedDesktop::create_transport_for_platform() {
    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++transport_count;
        callback = on_create_transport;
    }
    if (callback) {
        callback();
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (!transport_available) {
        return nullptr;
    }
    return std::make_unique<FakeDesktopTransport>(shared_from_this());
}

std::string ScriptedDesktop::resolve_endpoint(const DesktopAttachOptions& options) {
    std::lock_guard<std::mutex> lock(mutex);
    resolves.push_back(options);
    return pipe_endpoint;
}

bool ScriptedDesktop::launch(const DesktopAttachOptions& options, SdkError& error) {
    std::function<void()> callback;
    bool succeeds = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        launches.push_back(options);
        launch_stamps.push_back(Clock::now());
        callback = on_launch;
        succeeds = launch_succeeds;
        if (!succeeds) {
            error = launch_failure;
        }
    }
    if (callback) {
        callback();
    }
    return succeeds;
}

bool ScriptedDesktop::transport_connect(TransportState& transport, const std::string& endpoint,
                                        std::int64_t timeout_ms, SdkError& error) {
    std::unique_lock<std::mutex> lock(mutex);
    ++connect_count;
    connect_stamps.push_back(Clock::now());
    endpoints.push_back(endpoint);
    timeouts.push_back(timeout_ms);
    close_locked(transport);
    if (transport.cancelled) {
        return false;
    }
    ConnectBehaviour behaviour = default_connect;
    if (!queued_connects.empty()) {
        behaviour = std::move(queued_connects.front());
        queued_connects.pop_front();
    }
    switch (behaviour.mode) {
        case ConnectBehaviour::Mode::Accept: {
            auto connection = std::make_shared<Connection>();
            connection->index = connection_count++;
            transport.connection = connection;
            current = connection;
            changed.notify_all();
            return true;
        }
        case ConnectBehaviour::Mode::Refuse:
            error = behaviour.error;
            return false;
        case ConnectBehaviour::Mode::Absent: {
            const auto deadline =
                Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
            if (changed.wait_until(lock, deadline, [&] { return transport.cancelled; })) {
                return false;
            }
            error = connect_timeout_error();
            return false;
        }
        case ConnectBehaviour::Mode::BlockUntilCancelled:
            changed.wait(lock, [&] { return transport.cancelled; });
            return false;
    }
    return false;
}

bool ScriptedDesktop::transport_send(TransportState& transport,
                                     const std::vector<std::uint8_t>& payload, SdkError& error) {
    std::unique_lock<std::mutex> lock(mutex);
    const std::shared_ptr<Connection> connection = transport.connection;
    if (!connection || connection->game_closed) {
        error = bridge_error("Desktop session pipe is not connected");
        return false;
    }
    WriteContext context;
    context.connection_index = connection->index;
    context.write_index = connection->writes++;
    const bool parsed =
        context.message.ParseFromArray(payload.data(), static_cast<int>(payload.size()));
    WritePolicy policy = write_policy;
    lock.unlock();
    const WriteBehaviour behaviour = policy ? policy(context) : WriteBehaviour::deliver();
    lock.lock();

    switch (behaviour.mode) {
        case WriteBehaviour::Mode::Fail:
            error = behaviour.error;
            return false;
        case WriteBehaviour::Mode::BlockUntilCancelled:
            ++blocked_write_count;
            changed.wait(lock, [&] { return transport.cancelled; });
            --blocked_write_count;
            error = bridge_error("Timed out writing desktop session pipe");
            return false;
        case WriteBehaviour::Mode::HoldUntilReleased: {
            const std::uint64_t generation = write_release_generation;
            ++blocked_write_count;
            changed.wait(lock, [&] {
                return transport.cancelled || write_release_generation != generation;
            });
            --blocked_write_count;
            if (write_release_generation == generation) {
                error = bridge_error("Timed out writing desktop session pipe");
                return false;
            }
            break;
        }
        case WriteBehaviour::Mode::Deliver:
            break;
    }
    if (connection->desktop_closed) {
        error = bridge_error("Could not write desktop session pipe");
        return false;
    }
    if (!parsed) {
        ++undecodable_count;
        return true;
    }
    AttachHandler on_attach;
    CommandHandler on_command;
    if (context.message.has_attach()) {
        attaches.push_back(context.message.attach());
        on_attach = attach_handler;
    } else if (context.message.has_command()) {
        commands.push_back(context.message.command());
        on_command = command_handler;
    }
    changed.notify_all();
    lock.unlock();
    DesktopReply reply;
    if (on_attach) {
        on_attach(context.message.attach(), reply);
    } else if (on_command) {
        on_command(context.message.command(), reply);
    }
    lock.lock();
    apply_reply(*connection, reply);
    return true;
}

void ScriptedDesktop::apply_reply(Connection& connection, const DesktopReply& reply) {
    for (const DesktopReply::Action& action : reply.actions()) {
        if (connection.desktop_closed || connection.game_closed) {
            break;
        }
        if (action.close) {
            connection.desktop_closed = true;
            if (current.get() == &connection) {
                current.reset();
            }
        } else {
            connection.to_game.insert(connection.to_game.end(), action.bytes.begin(),
                                      action.bytes.end());
        }
    }
    changed.notify_all();
}

ReceiveResult ScriptedDesktop::transport_receive(TransportState& transport,
                                                 std::vector<std::uint8_t>& out,
                                                 std::int64_t poll_ms, SdkError& error) {
    std::unique_lock<std::mutex> lock(mutex);
    const std::shared_ptr<Connection> connection = transport.connection;
    if (!connection || connection->game_closed || transport.cancelled) {
        return ReceiveResult::Closed;
    }
    const auto poll_end = Clock::now() + std::chrono::milliseconds(poll_ms > 0 ? poll_ms : 0);
    for (;;) {
        if (transport.cancelled) {
            transport.frame.clear();
            return ReceiveResult::Closed;
        }
        const std::size_t had = transport.frame.size();
        switch (take_frame_bytes(connection->to_game, transport.frame)) {
            case FrameProgress::Whole:
                out.assign(transport.frame.begin() + kFrameHeaderSize, transport.frame.end());
                transport.frame.clear();
                return ReceiveResult::Frame;
            case FrameProgress::BadLength:
                transport.frame.clear();
                error.code = "INVALID_PROTOBUF_PAYLOAD";
                error.message = "Desktop session frame length is invalid";
                error.category = "validation";
                error.retryable = false;
                return ReceiveResult::Error;
            case FrameProgress::Incomplete:
                break;
        }
        const auto reading = Clock::now();
        if (transport.frame.size() > had) {
            transport.last_progress = reading;
        }
        const bool inside = !transport.frame.empty();
        if (connection->desktop_closed) {
            transport.frame.clear();
            return ReceiveResult::Closed;
        }
        const ReceiveResult nothing_whole = inside ? ReceiveResult::Partial : ReceiveResult::Idle;
        if (transport.woken) {
            transport.woken = false;
            return nothing_whole;
        }
        auto until = poll_end;
        if (inside) {
            const auto read_deadline =
                transport.last_progress + std::chrono::milliseconds(read_timeout_ms);
            if (reading >= read_deadline) {
                transport.frame.clear();
                error = bridge_error("Timed out reading desktop session pipe");
                return ReceiveResult::Error;
            }
            until = std::min(until, read_deadline);
        }
        if (reading >= until) {
            return nothing_whole;
        }
        changed.wait_until(lock, until, [&] {
            return transport.cancelled || transport.woken || !connection->to_game.empty() ||
                   connection->desktop_closed ||
                   (inside && Clock::now() >= transport.last_progress +
                                                  std::chrono::milliseconds(read_timeout_ms));
        });
    }
}

void ScriptedDesktop::transport_cancel(TransportState& transport) {
    std::lock_guard<std::mutex> lock(mutex);
    transport.cancelled = true;
    ++cancel_count;
    changed.notify_all();
}

void ScriptedDesktop::transport_wake(TransportState& transport) {
    std::lock_guard<std::mutex> lock(mutex);
    transport.woken = true;
    ++wake_count;
    changed.notify_all();
}

void ScriptedDesktop::transport_close(TransportState& transport) {
    std::lock_guard<std::mutex> lock(mutex);
    if (transport.connection) {
        ++close_count;
    }
    close_locked(transport);
}

void ScriptedDesktop::close_locked(TransportState& transport) {
    if (!transport.connection) {
        return;
    }
    transport.connection->game_closed = true;
    transport.frame.clear();
    if (current == transport.connection) {
        current.reset();
    }
    transport.connection.reset();
    changed.notify_all();
}

}  // namespace qop::desktop::fakes
