#include <stdexcept>
#include <system_error>

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

TEST(DesktopSessionAttach, AttachesAndCompletesACommandWithEveryResultField) {
    SessionHarness h;
    h.desktop->set_command_handler([](const CommandRequest& request, DesktopReply& reply) {
        reply.send(command_result(request.request_id(), true, "ACHIEVEMENT_UNLOCKED", "Unlocked",
                                  "{\"key\":\"first\"}", std::string("\xff\x00\xfe", 3)));
    });
    ASSERT_TRUE(h.start_and_attach());

    ASSERT_GE(h.log.size(), 4u);
    EXPECT_TRUE(is_state(h.log[0], ConnectionState::CONNECTING, "desktop-session-connecting"));
    EXPECT_TRUE(is_state(h.log[1], ConnectionState::ATTACHING, "desktop-session-attaching"));
    EXPECT_TRUE(is_state(h.log[2], ConnectionState::ATTACHED, "desktop-session-attached"));
    ASSERT_EQ(h.log[3].kind, Kind::Attached);
    const AttachedSession& session = h.log[3].session;
    EXPECT_EQ(session.desktop_session_id, "desktop-session-1");
    EXPECT_EQ(session.user_id, "user-1");
    EXPECT_EQ(session.app_id, 4242u);
    EXPECT_EQ(session.nickname, "Player One");
    EXPECT_EQ(session.desktop_protocol_version, "1");
    EXPECT_EQ(h.client->attached_session().desktop_session_id, "desktop-session-1");
    EXPECT_TRUE(h.client->is_attached());
    EXPECT_TRUE(h.client->has_capability(1));
    EXPECT_FALSE(h.client->has_capability(3 + 1));

    // The attach request as the desktop received it; the process id comes
    // from the platform because the options left it 0.
    const std::vector<AttachRequest> attaches = h.desktop->attach_requests();
    ASSERT_EQ(attaches.size(), 1u);
    EXPECT_EQ(attaches[0].protocol_version(), "1");
    EXPECT_EQ(attaches[0].sdk_version(), "0.1.7");
    EXPECT_EQ(attaches[0].engine(), "godot");
    EXPECT_EQ(attaches[0].engine_version(), "4.7.0");
    EXPECT_EQ(attaches[0].app_id(), 4242u);
    EXPECT_EQ(attaches[0].executable_path(), "C:\\Games\\Game\\game.exe");
    EXPECT_EQ(attaches[0].process_id(), 4321u);
    EXPECT_EQ(h.desktop->connect_endpoints(), std::vector<std::string>{"qop-desktop-sdk-test"});
    EXPECT_EQ(h.desktop->connect_timeouts(), std::vector<std::int64_t>{5000});

    const std::string id =
        h.client->submit_command(2, 1, "first", "{\"a\":1}", std::vector<std::uint8_t>{0, 0xff});
    ASSERT_EQ(id.size(), 32u);
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 1; }));
    const DesktopSessionEvent* done = of_kind(h.log, Kind::CommandCompleted)[0];
    EXPECT_EQ(done->result.request_id, id);
    EXPECT_TRUE(done->result.success);
    EXPECT_EQ(done->result.code, "ACHIEVEMENT_UNLOCKED");
    EXPECT_EQ(done->result.message, "Unlocked");
    EXPECT_EQ(done->result.content_json, "{\"key\":\"first\"}");
    EXPECT_EQ(done->result.content_bytes, (std::vector<std::uint8_t>{0xff, 0x00, 0xfe}));

    const std::vector<CommandRequest> commands = h.desktop->command_requests();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].request_id(), id);
    EXPECT_EQ(static_cast<int>(commands[0].command()), 2);
    EXPECT_EQ(commands[0].string_value(), "first");
    EXPECT_EQ(commands[0].content_json(), "{\"a\":1}");
    EXPECT_EQ(commands[0].content_bytes(), std::string("\x00\xff", 2));
}

TEST(DesktopSessionAttach, KeepsAProcessIdGivenInTheOptions) {
    SessionHarness h;
    DesktopAttachOptions options = test_options();
    options.process_id = 777;
    ASSERT_TRUE(h.start_and_attach(options));
    EXPECT_EQ(h.desktop->attach_requests().at(0).process_id(), 777u);
}

struct ProtocolCase {
    std::string version;
    std::string message;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) {
    *os << '"' << c.version << '"';
}

class DesktopSessionProtocolVersion : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(DesktopSessionProtocolVersion, RefusesAnyVersionButOneWithoutRetryOrLaunch) {
    SessionHarness h;
    ServerMessage answer = attached_answer(GetParam().version);
    answer.mutable_attached()->set_channel_state("channel-x");
    answer.mutable_attached()->set_attach_state("attach-y");
    h.desktop->set_attach_handler(answer_attach_with(answer));
    h.desktop->set_launch_result(true);
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(h.wait_for_worker_end());
    h.finish();

    const Events head = h.before_stopping();
    ASSERT_EQ(head.size(), 4u);
    EXPECT_TRUE(is_state(head[3], ConnectionState::DISCONNECTED, "desktop-session-ended"));
    EXPECT_TRUE(is_state(head[0], ConnectionState::CONNECTING, "desktop-session-connecting"));
    EXPECT_TRUE(is_state(head[1], ConnectionState::ATTACHING, "desktop-session-attaching"));
    ASSERT_EQ(head[2].kind, Kind::Error);
    EXPECT_EQ(head[2].error.code, "DESKTOP_PROTOCOL_INCOMPATIBLE");
    EXPECT_EQ(head[2].error.message, GetParam().message);
    EXPECT_EQ(head[2].error.category, "validation");
    EXPECT_FALSE(head[2].error.retryable);
    EXPECT_EQ(head[2].error.channel_state, "channel-x");
    EXPECT_EQ(head[2].error.attach_state, "attach-y");
    EXPECT_EQ(h.desktop->connect_calls(), 1u);
    EXPECT_EQ(h.desktop->launch_calls(), 0u);
    EXPECT_TRUE(h.client->attached_session().desktop_session_id.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DesktopSessionProtocolVersion,
    ::testing::Values(ProtocolCase{"", "Desktop does not report a compatible protocol version"},
                      ProtocolCase{"2", "SDK and desktop protocol versions are incompatible"},
                      ProtocolCase{"10", "SDK and desktop protocol versions are incompatible"},
                      ProtocolCase{"1.0", "SDK and desktop protocol versions are incompatible"}));

// One failed attach with reconnection off: the worker ends after it.
struct AttachFailureCase {
    std::string name;
    std::function<void(ScriptedDesktop&)> arrange;
    Kind kind;  // Error or Detached
    std::string code;
    std::string text;  // the error's message or the detach reason
    bool retryable;
};

void PrintTo(const AttachFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class DesktopSessionAttachFailure : public ::testing::TestWithParam<AttachFailureCase> {};

TEST_P(DesktopSessionAttachFailure, ReportsOneEventAndThenTheEnd) {
    const AttachFailureCase& c = GetParam();
    SessionHarness h;
    c.arrange(*h.desktop);
    DesktopAttachOptions options = test_options();
    options.auto_reconnect = false;
    options.attach_timeout_ms = 200;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(h.wait_for_worker_end());
    h.finish();

    const Events head = h.before_stopping();
    ASSERT_GE(head.size(), 2u);
    EXPECT_TRUE(is_state(head.back(), ConnectionState::DISCONNECTED, "desktop-session-ended"));
    const DesktopSessionEvent& last = head[head.size() - 2];
    ASSERT_EQ(last.kind, c.kind);
    if (c.kind == Kind::Error) {
        EXPECT_EQ(last.error.code, c.code);
        EXPECT_EQ(last.error.message, c.text);
        EXPECT_EQ(last.error.retryable, c.retryable);
    } else {
        EXPECT_EQ(last.reason, c.text);
    }
    EXPECT_EQ(count_kind(head, Kind::Error) + count_kind(head, Kind::Detached), 1u);
    EXPECT_FALSE(has_state(head, ConnectionState::RETRY_WAIT));
    EXPECT_FALSE(has_state(head, ConnectionState::ATTACHED));
}

void reply_bytes(ScriptedDesktop& desktop, Bytes bytes) {
    desktop.set_attach_handler(
        [bytes](const AttachRequest&, DesktopReply& reply) { reply.send_bytes(bytes); });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopSessionAttachFailure,
    ::testing::Values(
        AttachFailureCase{"DesktopError",
                          [](ScriptedDesktop& d) {
                              d.set_attach_handler(answer_attach_with(
                                  error_message("DESKTOP_BUSY", "Busy", "channel")));
                          },
                          Kind::Error, "DESKTOP_BUSY", "Busy", true},
        AttachFailureCase{"DesktopErrorWithoutCode",
                          [](ScriptedDesktop& d) {
                              d.set_attach_handler(answer_attach_with(error_message("", "", "")));
                          },
                          Kind::Error, "DESKTOP_SESSION_BRIDGE_ERROR", "", true},
        AttachFailureCase{"DetachedWithReason",
                          [](ScriptedDesktop& d) {
                              d.set_attach_handler(
                                  answer_attach_with(detached_event("logged-out")));
                          },
                          Kind::Detached, "", "logged-out", true},
        AttachFailureCase{"DetachedWithoutReason",
                          [](ScriptedDesktop& d) {
                              d.set_attach_handler(answer_attach_with(detached_event("")));
                          },
                          Kind::Detached, "", "desktop-session-detached", true},
        AttachFailureCase{"PipeClosed",
                          [](ScriptedDesktop& d) {
                              d.set_attach_handler([](const AttachRequest&, DesktopReply& reply) {
                                  reply.close_pipe();
                              });
                          },
                          Kind::Error, "DESKTOP_SESSION_REQUIRED",
                          "Desktop session closed during attach", true},
        AttachFailureCase{"UndecodablePayload",
                          [](ScriptedDesktop& d) { reply_bytes(d, frame_payload("\xff\xff")); },
                          Kind::Error, "INVALID_PROTOBUF_PAYLOAD",
                          "Could not parse desktop session protobuf payload", false},
        AttachFailureCase{"MessageWithoutBody",
                          // Only an unknown field 99: parses, but carries no body.
                          [](ScriptedDesktop& d) { reply_bytes(d, frame_payload("\x98\x06\x01")); },
                          Kind::Error, "INVALID_PROTOBUF_PAYLOAD",
                          "Unsupported desktop session server message", false},
        AttachFailureCase{"ZeroLengthHeader",
                          [](ScriptedDesktop& d) { reply_bytes(d, length_header(0)); }, Kind::Error,
                          "INVALID_PROTOBUF_PAYLOAD", "Desktop session frame length is invalid",
                          false},
        AttachFailureCase{"StalledFrame",
                          [](ScriptedDesktop& d) {
                              d.set_read_timeout_ms(20);
                              reply_bytes(d, length_header(10));
                          },
                          Kind::Error, "DESKTOP_SESSION_BRIDGE_ERROR",
                          "Timed out reading desktop session pipe", true},
        AttachFailureCase{
            "NoAnswer", [](ScriptedDesktop& d) { d.set_attach_handler(ignore_attach()); },
            Kind::Error, "DESKTOP_SESSION_REQUIRED", "Desktop session attach timed out", true},
        AttachFailureCase{
            "ConnectRefusedWithoutCode",
            [](ScriptedDesktop& d) { d.set_connect_behaviour(ConnectBehaviour::refuse({})); },
            Kind::Error, "DESKTOP_SESSION_REQUIRED", "Could not connect to QOP desktop session",
            true},
        AttachFailureCase{
            "DesktopAbsent",
            [](ScriptedDesktop& d) { d.set_connect_behaviour(ConnectBehaviour::absent()); },
            Kind::Error, "DESKTOP_SESSION_REQUIRED",
            "Timed out connecting to the desktop session pipe", true},
        AttachFailureCase{"AttachWriteFails",
                          [](ScriptedDesktop& d) {
                              SdkError error;
                              error.code = "DESKTOP_SESSION_BRIDGE_ERROR";
                              error.message = "Could not write desktop session pipe: Broken pipe.";
                              d.set_write_policy([error](const WriteContext&) {
                                  return WriteBehaviour::fail(error);
                              });
                          },
                          Kind::Error, "DESKTOP_SESSION_BRIDGE_ERROR",
                          "Could not write desktop session pipe: Broken pipe.", true}),
    [](const ::testing::TestParamInfo<AttachFailureCase>& info) { return info.param.name; });

TEST(DesktopSessionAttach, PassesResultsAndAntiAddictionThatArriveBeforeTheAnswer) {
    SessionHarness h;
    h.desktop->set_attach_handler([](const AttachRequest& request, DesktopReply& reply) {
        reply.send(anti_addiction_changed("{\"s\":1}", "{\"e\":2}"));
        reply.send(command_result("feedfeedfeedfeedfeedfeedfeedfeed", true, "PUSH"));
        ServerMessage answer = attached_answer();
        answer.mutable_attached()->set_app_id(request.app_id());
        reply.send(answer);
    });
    ASSERT_TRUE(h.start_and_attach());
    ASSERT_GE(h.log.size(), 6u);
    EXPECT_TRUE(is_state(h.log[1], ConnectionState::ATTACHING, "desktop-session-attaching"));
    ASSERT_EQ(h.log[2].kind, Kind::AntiAddictionChanged);
    EXPECT_EQ(h.log[2].anti_addiction_status_json, "{\"s\":1}");
    EXPECT_EQ(h.log[2].anti_addiction_event_json, "{\"e\":2}");
    ASSERT_EQ(h.log[3].kind, Kind::Notification);
    EXPECT_EQ(h.log[3].result.code, "PUSH");
    EXPECT_TRUE(is_state(h.log[4], ConnectionState::ATTACHED, "desktop-session-attached"));
    EXPECT_EQ(h.log[5].kind, Kind::Attached);
}

TEST(DesktopSessionAttach, TerminalDesktopErrorStopsReconnecting) {
    SessionHarness h;
    h.desktop->set_attach_handler(
        answer_attach_with(error_message("UNAUTHORIZED", "Not allowed", "channel")));
    h.desktop->set_launch_result(true);
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(h.wait_for_worker_end());
    h.finish();
    const Events head = h.before_stopping();
    ASSERT_EQ(count_kind(head, Kind::Error), 1u);
    EXPECT_FALSE(of_kind(head, Kind::Error)[0]->error.retryable);
    EXPECT_FALSE(has_state(head, ConnectionState::RETRY_WAIT));
    EXPECT_EQ(h.desktop->connect_calls(), 1u);
    EXPECT_EQ(h.desktop->launch_calls(), 0u);
}

TEST(DesktopSessionAttach, EmptyExecutablePathIsTerminal) {
    SessionHarness h;
    DesktopAttachOptions options = test_options();
    options.executable_path.clear();
    options.auto_launch = true;
    h.desktop->set_launch_result(true);
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(h.wait_for_worker_end());
    h.finish();
    const Events head = h.before_stopping();
    ASSERT_EQ(count_kind(head, Kind::Error), 1u);
    EXPECT_EQ(of_kind(head, Kind::Error)[0]->error.code, "EXECUTABLE_PATH_REQUIRED");
    EXPECT_FALSE(of_kind(head, Kind::Error)[0]->error.retryable);
    EXPECT_FALSE(has_state(head, ConnectionState::RETRY_WAIT));
    EXPECT_EQ(h.desktop->launch_calls(), 0u);
    EXPECT_TRUE(h.desktop->attach_requests().empty());
}

TEST(DesktopSessionStart, RefusesWithoutPlatform) {
    DesktopSessionClient client(nullptr, fast_timing());
    EXPECT_FALSE(client.start(test_options()));
    const Events events = client.drain_events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Error);
    EXPECT_EQ(events[0].error.code, "UNSUPPORTED_PLATFORM");
    EXPECT_EQ(events[0].error.message, "No desktop transport is available for this platform");
    EXPECT_EQ(events[0].error.category, "runtime");
    EXPECT_TRUE(events[0].error.retryable);
    EXPECT_EQ(client.connection_state(), ConnectionState::DISCONNECTED);
}

TEST(DesktopSessionStart, RefusesAppIdZeroAndStopsTheRunningWorker) {
    SessionHarness h;
    ASSERT_TRUE(h.start_and_attach());
    h.log.clear();
    DesktopAttachOptions options = test_options();
    options.app_id = 0;
    EXPECT_FALSE(h.client->start(options));
    h.drain();
    ASSERT_EQ(h.log.size(), 3u);
    EXPECT_TRUE(is_state(h.log[0], ConnectionState::STOPPING, "disconnect-requested"));
    EXPECT_TRUE(is_state(h.log[1], ConnectionState::DISCONNECTED, "disconnected"));
    ASSERT_EQ(h.log[2].kind, Kind::Error);
    EXPECT_EQ(h.log[2].error.code, "APP_ID_REQUIRED");
    EXPECT_EQ(h.log[2].error.message, "QOP appId is required");
    EXPECT_EQ(h.log[2].error.category, "validation");
    EXPECT_FALSE(h.log[2].error.retryable);
    EXPECT_EQ(h.desktop->transports_created(), 1u);
}

TEST(DesktopSessionStart, PlatformWithoutTransportEndsTheWorkerWithOneError) {
    SessionHarness h;
    h.desktop->set_transport_available(false);
    ASSERT_TRUE(h.client->start(test_options()));
    ASSERT_TRUE(h.wait_for([](const Events& e) { return count_kind(e, Kind::Error) == 1; }));
    h.finish();
    const Events head = h.before_stopping();
    ASSERT_EQ(head.size(), 1u);
    EXPECT_EQ(head[0].error.code, "UNSUPPORTED_PLATFORM");
    EXPECT_EQ(head[0].error.message, "Desktop transport is not implemented for this platform");
    EXPECT_EQ(head[0].error.category, "runtime");
}

TEST(DesktopSessionStart, ReportsAWorkerThreadThatCannotStart) {
    struct StarterCase {
        DesktopSessionClient::WorkerThreadStarter starter;
        std::string detail;
    };
    const std::vector<StarterCase> cases = {
        {[](std::function<void()>) -> std::thread {
             throw std::system_error(
                 std::make_error_code(std::errc::resource_unavailable_try_again),
                 "no threads left");
         },
         "no threads left"},
        {[](std::function<void()>) -> std::thread { throw 42; }, "unknown failure"},
        {[](std::function<void()>) { return std::thread(); }, "no thread was created"},
    };
    for (const StarterCase& c : cases) {
        SessionHarness h(fast_timing(), c.starter);
        EXPECT_FALSE(h.client->start(test_options()));
        h.drain();
        ASSERT_EQ(h.log.size(), 1u) << c.detail;
        EXPECT_EQ(h.log[0].kind, Kind::Error);
        EXPECT_EQ(h.log[0].error.code, "DESKTOP_SESSION_WORKER_FAILED");
        EXPECT_EQ(h.log[0].error.message.rfind("Could not start the desktop session worker: ", 0),
                  0u);
        EXPECT_NE(h.log[0].error.message.find(c.detail), std::string::npos);
        EXPECT_EQ(h.log[0].error.category, "runtime");
        EXPECT_EQ(h.client->connection_state(), ConnectionState::DISCONNECTED);
        h.client->disconnect();
        EXPECT_TRUE(h.client->drain_events().empty());
    }
}

TEST(DesktopSessionStart, DisconnectWithoutWorkerMakesNoEvent) {
    SessionHarness h;
    h.client->disconnect();
    EXPECT_TRUE(h.client->drain_events().empty());
    EXPECT_EQ(h.client->connection_state(), ConnectionState::DISCONNECTED);
}

}  // namespace
}  // namespace qop::desktop::session_tests
