#pragma once

// An in-process stand-in for the desktop client application, reached through
// a fake DesktopPlatform and fake DesktopTransports that behave like the
// named-pipe transport (sticky cancel, a wake that ends one wait, a stalled
// frame kept and given back as Partial at each poll until the read time-out,
// Closed after the desktop closes and the buffered bytes are read).
// Everything the game side writes is decoded with the generated protocol
// classes; answers are real server messages framed by hand, or any raw bytes
// a test chooses.
//
// Usage:
//   auto desktop = ScriptedDesktop::create();
//   DesktopSessionClient client(desktop->make_platform(), short_timing);
//   client.start(options);
//   wait_until([&] { return client.is_attached(); });
//   desktop->push(detached_event("bye"));      // from the test thread
//
// Handlers run on the thread that wrote the message (the session worker)
// without the desktop's lock held; they answer through DesktopReply, whose
// actions reach the game side before the write returns. All methods are
// thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/desktop_platform.hpp"
#include "desktop/desktop_session_records.hpp"
#include "desktop/desktop_transport.hpp"
#include "support/desktop_server_messages.hpp"

namespace qop::desktop::fakes {

// What a connect attempt meets.
struct ConnectBehaviour {
    enum class Mode {
        Accept,               // the pipe opens
        Refuse,               // fails at once with `error` (an empty error is kept empty)
        Absent,               // no desktop: fails after the time-out like the real pipe, or
                              // returns false with the error untouched when cancelled
        BlockUntilCancelled,  // ignores the time-out; returns false when cancelled
    };
    Mode mode = Mode::Accept;
    SdkError error;

    static ConnectBehaviour accept() { return {}; }
    static ConnectBehaviour refuse(SdkError error) { return {Mode::Refuse, std::move(error)}; }
    static ConnectBehaviour absent() { return {Mode::Absent, {}}; }
    static ConnectBehaviour block_until_cancelled() { return {Mode::BlockUntilCancelled, {}}; }
};

// What one frame written by the game side meets.
struct WriteBehaviour {
    enum class Mode {
        Deliver,              // the desktop receives it
        Fail,                 // fails at once with `error`
        BlockUntilCancelled,  // fails with "Timed out writing desktop session pipe" once cancelled
        HoldUntilReleased,    // waits for release_held_writes(), then is delivered; fails like
                              // BlockUntilCancelled when cancelled first
    };
    Mode mode = Mode::Deliver;
    SdkError error;

    static WriteBehaviour deliver() { return {}; }
    static WriteBehaviour fail(SdkError error) { return {Mode::Fail, std::move(error)}; }
    static WriteBehaviour block_until_cancelled() { return {Mode::BlockUntilCancelled, {}}; }
    static WriteBehaviour hold_until_released() { return {Mode::HoldUntilReleased, {}}; }
};

// The write being decided: which connection (0 = first), which frame on that
// connection (0 = the attach request) and the frame decoded.
struct WriteContext {
    std::size_t connection_index = 0;
    std::size_t write_index = 0;
    ClientMessage message;
};
using WritePolicy = std::function<WriteBehaviour(const WriteContext&)>;

// The answers of the desktop to one received message, applied in order.
class DesktopReply {
public:
    void send(const ServerMessage& message);
    // Any bytes, framed or not: undecodable payloads, bad lengths, halves.
    void send_bytes(const Bytes& bytes);
    // The desktop closes its end; buffered bytes can still be read.
    void close_pipe();

    struct Action {
        Bytes bytes;
        bool close = false;
    };
    const std::vector<Action>& actions() const { return actions_; }

private:
    std::vector<Action> actions_;
};

using AttachHandler = std::function<void(const AttachRequest&, DesktopReply&)>;
using CommandHandler = std::function<void(const CommandRequest&, DesktopReply&)>;

// Stock handlers.
// Answers with `answer` (attached_answer() by default), the app id copied
// from the request.
AttachHandler answer_attach_with(ServerMessage answer = attached_answer());
// Never answers.
AttachHandler ignore_attach();
// Answers every command with success, code "OK", message "done", content
// JSON {"command":N} and no bytes.
CommandHandler answer_commands_with_success();
// Never answers (time-outs, late answers pushed by the test).
CommandHandler ignore_commands();
// Answers every command twice with the same success result.
CommandHandler answer_commands_twice();
// Answers every command with a success result for an id nobody asked for.
CommandHandler answer_commands_with_unknown_id();

class ScriptedDesktop : public std::enable_shared_from_this<ScriptedDesktop> {
public:
    using Clock = std::chrono::steady_clock;

    static std::shared_ptr<ScriptedDesktop> create();

    // A platform bound to this desktop; the client owns it, the desktop
    // stays shared with the test.
    std::unique_ptr<DesktopPlatform> make_platform();
    // A transport of this desktop on its own (for tests of transport users).
    std::unique_ptr<DesktopTransport> make_transport();

    // --- platform behaviour
    // false: create_transport() gives null.
    void set_transport_available(bool available);
    // Runs on the calling thread inside create_transport(), before the
    // transport is made (for example to hold the worker at that point).
    void set_on_create_transport(std::function<void()> callback);
    void set_pipe_endpoint(std::string endpoint);   // default "qop-desktop-sdk-test"
    void set_process_id(std::uint32_t process_id);  // default 4321
    // Default: the launch fails with an empty error (nothing reported).
    void set_launch_result(bool succeeds, SdkError failure = {});
    // Runs on the launching thread after the launch was recorded, before it returns.
    void set_on_launch(std::function<void()> on_launch);

    // --- connections
    // Applies to every attempt once the queued behaviours are used up.
    void set_connect_behaviour(ConnectBehaviour behaviour);
    // The next attempts, in order.
    void queue_connect_behaviours(std::vector<ConnectBehaviour> behaviours);
    // Default: every write is delivered.
    void set_write_policy(WritePolicy policy);
    // How long a frame whose first bytes arrived may wait for more before the
    // read fails with "Timed out reading desktop session pipe" (default 5000);
    // a change applies to a stall under way.
    void set_read_timeout_ms(std::int64_t timeout_ms);
    // Lets every write that is held now go on.
    void release_held_writes();
    // Writes waiting in BlockUntilCancelled or HoldUntilReleased right now.
    std::size_t blocked_writes() const;

    // --- answers (defaults: answer_attach_with(), answer_commands_with_success())
    void set_attach_handler(AttachHandler handler);
    void set_command_handler(CommandHandler handler);

    // --- the desktop side of the open connection, from any thread; false
    // when no connection is open.
    bool push(const ServerMessage& message);
    bool push_bytes(const Bytes& bytes);
    bool close_pipe();
    bool is_connected() const;
    // Bytes the desktop sent on the open connection that the game side has
    // not read yet.
    std::size_t unread_bytes() const;

    // --- what happened
    std::size_t transports_created() const;
    std::size_t connect_calls() const;
    std::size_t connections() const;  // connects that succeeded
    std::size_t cancel_calls() const;
    std::size_t wake_calls() const;
    std::size_t close_calls() const;  // closes of an open connection by the game side
    std::vector<Clock::time_point> connect_times() const;
    std::vector<std::string> connect_endpoints() const;
    std::vector<std::int64_t> connect_timeouts() const;
    std::vector<AttachRequest> attach_requests() const;
    std::vector<CommandRequest> command_requests() const;
    // Payloads delivered to the desktop that did not parse as a client message.
    std::size_t undecodable_writes() const;
    std::size_t launch_calls() const;
    std::vector<Clock::time_point> launch_times() const;
    std::vector<DesktopAttachOptions> launch_options() const;
    std::vector<DesktopAttachOptions> resolve_options() const;

    // The pieces below are used by the fake platform and transport.
    struct Connection;
    struct TransportState;
    std::unique_ptr<DesktopTransport> create_transport_for_platform();
    std::string resolve_endpoint(const DesktopAttachOptions& options);
    std::uint32_t process_id() const;
    bool launch(const DesktopAttachOptions& options, SdkError& error);
    bool transport_connect(TransportState& transport, const std::string& endpoint,
                           std::int64_t timeout_ms, SdkError& error);
    bool transport_send(TransportState& transport, const std::vector<std::uint8_t>& payload,
                        SdkError& error);
    ReceiveResult transport_receive(TransportState& transport, std::vector<std::uint8_t>& out,
                                    std::int64_t poll_ms, SdkError& error);
    void transport_cancel(TransportState& transport);
    void transport_wake(TransportState& transport);
    void transport_close(TransportState& transport);

private:
    ScriptedDesktop() = default;

    void close_locked(TransportState& transport);
    void apply_reply(Connection& connection, const DesktopReply& reply);

    mutable std::mutex mutex;
    std::condition_variable changed;

    bool transport_available = true;
    std::function<void()> on_create_transport;
    std::string pipe_endpoint = "qop-desktop-sdk-test";
    std::uint32_t pid = 4321;
    bool launch_succeeds = false;
    SdkError launch_failure;
    std::function<void()> on_launch;
    ConnectBehaviour default_connect;
    std::deque<ConnectBehaviour> queued_connects;
    WritePolicy write_policy;
    std::int64_t read_timeout_ms = 5000;
    std::uint64_t write_release_generation = 0;
    std::size_t blocked_write_count = 0;
    AttachHandler attach_handler;
    CommandHandler command_handler;

    std::shared_ptr<Connection> current;

    std::size_t transport_count = 0;
    std::size_t connect_count = 0;
    std::size_t connection_count = 0;
    std::size_t cancel_count = 0;
    std::size_t wake_count = 0;
    std::size_t close_count = 0;
    std::size_t undecodable_count = 0;
    std::vector<Clock::time_point> connect_stamps;
    std::vector<std::string> endpoints;
    std::vector<std::int64_t> timeouts;
    std::vector<AttachRequest> attaches;
    std::vector<CommandRequest> commands;
    std::vector<Clock::time_point> launch_stamps;
    std::vector<DesktopAttachOptions> launches;
    std::vector<DesktopAttachOptions> resolves;
};

}  // namespace qop::desktop::fakes
