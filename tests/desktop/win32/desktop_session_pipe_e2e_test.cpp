// The session client over the real named-pipe transport and platform, against
// a desktop pipe server on a thread of this process.

#include <gtest/gtest.h>

#ifdef _WIN32

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "desktop/desktop_platform.hpp"
#include "desktop/desktop_session_client.hpp"
#include "support/desktop_server_messages.hpp"
#include "support/test_pipe_server.hpp"
#include "support/test_waits.hpp"

#endif

namespace qop::desktop {
namespace {

#ifdef _WIN32

using namespace qop::desktop::fakes;
using qop::test::wait_until;
using Kind = DesktopSessionEventKind;
using std::chrono::milliseconds;

std::vector<std::uint8_t> to_bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// What the server thread saw; read by the test after joining it.
struct ServerLog {
    std::vector<AttachRequest> attaches;
    std::vector<CommandRequest> commands;
    std::vector<std::string> failures;
};

bool serve_attach(qop::test::TestPipeServer& server, ServerLog& log) {
    if (!server.listen() || !server.accept(milliseconds(10000))) {
        log.failures.push_back("no client connected");
        return false;
    }
    std::vector<std::uint8_t> payload;
    ClientMessage message;
    if (!server.read_frame(payload) ||
        !message.ParseFromArray(payload.data(), static_cast<int>(payload.size())) ||
        !message.has_attach()) {
        log.failures.push_back("no attach request");
        return false;
    }
    log.attaches.push_back(message.attach());
    ServerMessage answer = attached_answer();
    answer.mutable_attached()->set_app_id(message.attach().app_id());
    return server.write_frame(to_bytes(answer.SerializeAsString()));
}

// Attach, one command answered with every result field, close; attach again
// on the same name, then the first 4 bytes of a frame whose rest never comes.
void run_desktop(qop::test::TestPipeServer& server, ServerLog& log) {
    if (!serve_attach(server, log)) {
        return;
    }
    std::vector<std::uint8_t> payload;
    ClientMessage message;
    if (!server.read_frame(payload) ||
        !message.ParseFromArray(payload.data(), static_cast<int>(payload.size())) ||
        !message.has_command()) {
        log.failures.push_back("no command");
        return;
    }
    log.commands.push_back(message.command());
    const ServerMessage result =
        command_result(message.command().request_id(), true, "OK", "Pinged", "{\"pong\":true}",
                       std::string("\x00\xff", 2));
    if (!server.write_frame(to_bytes(result.SerializeAsString()))) {
        log.failures.push_back("result not written");
        return;
    }
    server.close();
    if (!serve_attach(server, log)) {
        return;
    }
    if (!server.write_bytes(length_header(100))) {
        log.failures.push_back("stalled header not written");
    }
}

#endif

TEST(DesktopSessionPipeEndToEnd, AttachCommandReattachAndDisconnectDuringARead) {
#ifndef _WIN32
    GTEST_SKIP() << "named pipes exist only on Windows";
#else
    qop::test::TestPipeServer server(qop::test::TestPipeServer::unique_name("session-e2e"));
    ServerLog server_log;
    std::thread desktop([&] { run_desktop(server, server_log); });
    struct JoinOnExit {
        std::thread& thread;
        ~JoinOnExit() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } join_on_exit{desktop};

    DesktopSessionTiming timing;
    timing.retry_wait_ms = 20;
    DesktopSessionClient client(create_default_platform(), timing);
    DesktopAttachOptions options;
    options.environment = "dev";
    options.pipe_endpoint_override = server.name();
    options.app_id = 4242;
    options.executable_path = "C:\\Games\\Game\\game.exe";
    options.sdk_version = "0.1.7";
    options.engine_version = "4.7.0";
    options.auto_launch = false;

    std::vector<DesktopSessionEvent> log;
    auto wait_for = [&](auto condition) {
        return wait_until([&] {
            for (DesktopSessionEvent& event : client.drain_events()) {
                log.push_back(std::move(event));
            }
            return condition();
        });
    };
    auto count = [&](Kind kind) {
        std::size_t n = 0;
        for (const DesktopSessionEvent& event : log) {
            n += event.kind == kind ? 1 : 0;
        }
        return n;
    };

    ASSERT_TRUE(client.start(options));
    ASSERT_TRUE(wait_for([&] { return count(Kind::Attached) == 1; }));
    EXPECT_TRUE(client.is_attached());
    EXPECT_TRUE(client.has_capability(1));

    const std::string id = client.submit_command(1, 0, "", "", {});
    ASSERT_EQ(id.size(), 32u);
    ASSERT_TRUE(wait_for([&] { return count(Kind::CommandCompleted) == 1; }));

    // The server closed after answering: detached, a retry, a new attach.
    ASSERT_TRUE(wait_for([&] { return count(Kind::Attached) == 2; }));
    desktop.join();
    ASSERT_TRUE(server_log.failures.empty()) << server_log.failures.front();

    const std::size_t before = log.size();
    const auto started = std::chrono::steady_clock::now();
    client.disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(2500));
    for (DesktopSessionEvent& event : client.drain_events()) {
        log.push_back(std::move(event));
    }

    ASSERT_EQ(server_log.attaches.size(), 2u);
    EXPECT_EQ(server_log.attaches[0].protocol_version(), "1");
    EXPECT_EQ(server_log.attaches[0].app_id(), 4242u);
    EXPECT_EQ(server_log.attaches[0].executable_path(), "C:\\Games\\Game\\game.exe");
    EXPECT_EQ(server_log.attaches[0].process_id(),
              static_cast<std::uint32_t>(GetCurrentProcessId()));
    ASSERT_EQ(server_log.commands.size(), 1u);
    EXPECT_EQ(server_log.commands[0].request_id(), id);

    const DesktopSessionEvent* done = nullptr;
    const DesktopSessionEvent* detached = nullptr;
    bool retried = false;
    for (std::size_t i = 0; i < before; ++i) {
        if (log[i].kind == Kind::CommandCompleted) {
            done = &log[i];
        }
        if (log[i].kind == Kind::Detached && detached == nullptr) {
            detached = &log[i];
        }
        retried = retried || (log[i].kind == Kind::StateChanged &&
                              log[i].state == ConnectionState::RETRY_WAIT);
        EXPECT_NE(log[i].kind, Kind::Error) << log[i].error.message;
    }
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->result.request_id, id);
    EXPECT_TRUE(done->result.success);
    EXPECT_EQ(done->result.code, "OK");
    EXPECT_EQ(done->result.message, "Pinged");
    EXPECT_EQ(done->result.content_json, "{\"pong\":true}");
    EXPECT_EQ(done->result.content_bytes, (std::vector<std::uint8_t>{0x00, 0xff}));
    ASSERT_NE(detached, nullptr);
    EXPECT_EQ(detached->reason, "desktop-session-closed");
    EXPECT_TRUE(retried);

    // Disconnecting during the stalled read is quiet.
    ASSERT_EQ(log.size(), before + 2);
    EXPECT_EQ(log[before].state, ConnectionState::STOPPING);
    EXPECT_EQ(log[before].reason, "disconnect-requested");
    EXPECT_EQ(log[before + 1].state, ConnectionState::DISCONNECTED);
    EXPECT_EQ(log[before + 1].reason, "disconnected");
#endif
}

}  // namespace
}  // namespace qop::desktop
