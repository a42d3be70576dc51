// A game script's whole road on Windows: attach through the real named-pipe
// transport to a desktop pipe served inside this process, send a command and
// receive command_completed.

#include <gtest/gtest.h>

#ifdef _WIN32

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>

#include "desktop_session.pb.h"
#include "support/desktop_client_node_host.hpp"
#include "support/desktop_server_messages.hpp"
#include "support/test_pipe_server.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Dictionary;
using godot::Variant;
using qop::test::wait_until;
namespace fakes = qop::desktop::fakes;

std::vector<std::uint8_t> bytes_of(const fakes::ServerMessage& message) {
    const std::string serialized = message.SerializeAsString();
    return std::vector<std::uint8_t>(serialized.begin(), serialized.end());
}

struct DesktopSide {
    fakes::AttachRequest attach;
    fakes::CommandRequest command;
    std::string failure;
};

// The desktop client's side of one session: answers the attach request and
// one command, then leaves the pipe open until the game disconnects.
void serve_one_session(qop::test::TestPipeServer& server, DesktopSide& side) {
    std::vector<std::uint8_t> payload;
    fakes::ClientMessage message;
    if (!server.accept() || !server.read_frame(payload) ||
        !message.ParseFromArray(payload.data(), static_cast<int>(payload.size())) ||
        !message.has_attach()) {
        side.failure = "no attach request";
        return;
    }
    side.attach = message.attach();
    fakes::ServerMessage answer = fakes::attached_answer();
    answer.mutable_attached()->set_app_id(side.attach.app_id());
    if (!server.write_frame(bytes_of(answer)) || !server.read_frame(payload) ||
        !message.ParseFromArray(payload.data(), static_cast<int>(payload.size())) ||
        !message.has_command()) {
        side.failure = "no command";
        return;
    }
    side.command = message.command();
    if (!server.write_frame(bytes_of(fakes::command_result(side.command.request_id(), true, "OK",
                                                           "unlocked", R"({"unlocked":true})")))) {
        side.failure = "result not written";
    }
}

// Joins on every way out of the test, failed assertions included.
class JoinedThread {
public:
    template <typename Body>
    explicit JoinedThread(Body body) : thread_(std::move(body)) {}
    ~JoinedThread() { join(); }
    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::thread thread_;
};

TEST(DesktopClientNodeOverPipe, AttachesSendsAndCompletesThroughTheNamedPipe) {
    qop::test::TestPipeServer server(qop::test::TestPipeServer::unique_name("node-e2e"));
    ASSERT_TRUE(server.listen());
    DesktopSide side;
    JoinedThread desktop([&] { serve_one_session(server, side); });

    DesktopClientNodeHost host;
    ASSERT_TRUE(host.loaded());
    host.engine().set_executable_path("C:\\Games\\Demo\\demo.exe");
    godot::Object* node = host.new_node();  // the platform of the running system
    ASSERT_NE(node, nullptr);
    host.call(node, "configure", {int64_t{777}, text("dev"), false, false, text(server.name())});
    ASSERT_TRUE(static_cast<bool>(host.call(node, "attach")));

    const auto poll_until = [&](const char* signal) {
        return wait_until([&] {
            host.call(node, "poll_events");
            return !host.emitted(signal).empty() || !host.emitted("sdk_error").empty();
        });
    };
    ASSERT_TRUE(poll_until("desktop_attached"));
    ASSERT_TRUE(host.emitted("sdk_error").empty())
        << text_at(host.emitted("sdk_error")[0][0], "message");
    const Dictionary session = host.emitted("desktop_attached")[0][0];
    EXPECT_TRUE(value_at(session, "app_id") == Variant(int64_t{777}));

    const Variant request_id =
        host.call(node, "unlock_achievement", {text("first-win"), text("e1")});
    ASSERT_NE(utf8_of(request_id), "");
    ASSERT_TRUE(poll_until("command_completed"));
    ASSERT_TRUE(host.emitted("sdk_error").empty())
        << text_at(host.emitted("sdk_error")[0][0], "message");
    const auto completed = host.emitted("command_completed")[0];
    EXPECT_EQ(utf8_of(completed[0]), utf8_of(request_id));
    EXPECT_TRUE(value_at(completed[1], "success") == Variant(true));
    EXPECT_EQ(text_at(completed[1], "content_json"), R"({"unlocked":true})");

    host.call(node, "disconnect_desktop");
    desktop.join();
    server.close();
    ASSERT_EQ(side.failure, "");
    EXPECT_EQ(side.attach.protocol_version(), "1");
    EXPECT_EQ(side.attach.app_id(), 777u);
    EXPECT_EQ(side.attach.engine(), "godot");
    EXPECT_EQ(side.attach.sdk_version(), "0.1.7");
    EXPECT_EQ(side.attach.executable_path(), "C:\\Games\\Demo\\demo.exe");
    EXPECT_EQ(side.attach.process_id(), GetCurrentProcessId());
    EXPECT_EQ(side.command.command(), 2);
    EXPECT_EQ(side.command.string_value(), "first-win");
    EXPECT_EQ(side.command.content_json(), R"({"eventId":"e1"})");
}

}  // namespace
}  // namespace qop::godot_adapter::testing

#else

TEST(DesktopClientNodeOverPipe, AttachesSendsAndCompletesThroughTheNamedPipe) {
    GTEST_SKIP() << "named pipes exist on Windows only";
}

#endif
