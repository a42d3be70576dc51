#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_cpp/classes/node.hpp>

#include "support/desktop_client_node_host.hpp"
#include "support/scripted_desktop.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Variant;
using qop::desktop::fakes::ScriptedDesktop;
using qop::test::wait_until;
namespace fakes = qop::desktop::fakes;

using StateEvent = std::pair<int64_t, std::string>;

class DesktopClientLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.loaded());
        host.engine().set_executable_path("/games/demo/demo.x86_64");
        node = host.new_node(desktop->make_platform());
        host.call(node, "configure", {int64_t{4242}});
    }

    void attach() {
        ASSERT_TRUE(static_cast<bool>(host.call(node, "attach")));
        ASSERT_TRUE(
            wait_until([&] { return static_cast<bool>(host.call(node, "get_is_attached")); }));
    }

    std::vector<StateEvent> states() const {
        std::vector<StateEvent> seen;
        for (const auto& arguments : host.emitted("connection_state_changed")) {
            seen.emplace_back(static_cast<int64_t>(arguments[0]), utf8_of(arguments[1]));
        }
        return seen;
    }

    std::shared_ptr<ScriptedDesktop> desktop = ScriptedDesktop::create();
    DesktopClientNodeHost host;
    godot::Object* node = nullptr;
};

TEST_F(DesktopClientLifecycle, LeavingTheTreeStopsTheSession) {
    auto* as_node = static_cast<godot::Node*>(node);
    host.engine().enter_tree(as_node);
    attach();
    desktop->set_command_handler(fakes::ignore_commands());
    const Variant pending = host.call(node, "ping_desktop_session");
    ASSERT_TRUE(wait_until([&] { return desktop->command_requests().size() == 1; }));
    host.call(node, "poll_events");
    host.engine().clear_emissions();

    host.engine().exit_tree(as_node);
    // Stopped and joined before exit_tree returned; the events wait for a poll.
    EXPECT_TRUE(host.call(node, "get_connection_state") == Variant(int64_t{0}));
    EXPECT_THAT(host.emitted_names(), ::testing::IsEmpty());

    host.call(node, "poll_events");
    EXPECT_THAT(states(), ::testing::ElementsAre(StateEvent{5, "disconnect-requested"},
                                                 StateEvent{0, "disconnected"}));
    const auto completed = host.emitted("command_completed");
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(utf8_of(completed[0][0]), utf8_of(pending));
    EXPECT_EQ(text_at(completed[0][1], "message"), "QOP desktop session closed");

    // Entering again does not attach by itself.
    host.engine().enter_tree(as_node);
    EXPECT_TRUE(host.call(node, "get_connection_state") == Variant(int64_t{0}));
}

TEST_F(DesktopClientLifecycle, FreeingAnAttachedNodeJoinsItsWorker) {
    attach();
    host.free_node(node);
    // The transport was closed before free returned. Whether it was also
    // cancelled depends on where the worker was: a worker between reads sees
    // the stop flag and closes the transport before disconnect reaches it.
    EXPECT_GE(desktop->close_calls(), 1u);
    EXPECT_FALSE(desktop->is_connected());
}

TEST_F(DesktopClientLifecycle, FreeingANodeThatIsStillConnectingJoinsItsWorker) {
    desktop->set_connect_behaviour(fakes::ConnectBehaviour::block_until_cancelled());
    ASSERT_TRUE(static_cast<bool>(host.call(node, "attach")));
    ASSERT_TRUE(wait_until([&] { return desktop->connect_calls() == 1; }));
    host.free_node(node);
    EXPECT_GE(desktop->cancel_calls(), 1u);
}

TEST_F(DesktopClientLifecycle, AHandlerMayPollAgain) {
    int nested_polls = 0;
    host.engine().connect(node, "connection_state_changed", [&](const std::vector<Variant>&) {
        ++nested_polls;
        host.call(node, "poll_events");
    });
    attach();
    host.call(node, "poll_events");
    // Each event is emitted exactly once, whichever poll took it.
    EXPECT_EQ(host.emitted("connection_state_changed").size(), 3u);
    EXPECT_EQ(host.emitted("desktop_attached").size(), 1u);
    EXPECT_EQ(nested_polls, 3);
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());
}

TEST_F(DesktopClientLifecycle, AHandlerMayDisconnect) {
    host.engine().connect(node, "desktop_attached", [&](const std::vector<Variant>&) {
        host.call(node, "disconnect_desktop");
    });
    attach();
    host.call(node, "poll_events");
    EXPECT_TRUE(host.call(node, "get_connection_state") == Variant(int64_t{0}));
    host.call(node, "poll_events");
    EXPECT_THAT(states(), ::testing::IsSupersetOf({StateEvent{5, "disconnect-requested"},
                                                   StateEvent{0, "disconnected"}}));
}

TEST_F(DesktopClientLifecycle, AHandlerMayAttachAgain) {
    int reattached = 0;
    host.engine().connect(node, "desktop_detached", [&](const std::vector<Variant>&) {
        ++reattached;
        host.call(node, "attach");
    });
    host.call(node, "configure", {int64_t{4242}, text("prod"), false, false});
    attach();
    ASSERT_TRUE(desktop->push(fakes::detached_event("maintenance")));
    ASSERT_TRUE(wait_until([&] {
        host.call(node, "poll_events");
        return reattached == 1 && desktop->connections() == 2 &&
               static_cast<bool>(host.call(node, "get_is_attached"));
    }));
    EXPECT_EQ(host.emitted("desktop_detached").size(), 1u);
}

// A handler that frees the node ends the pump: the rest of the batch is
// dropped with the node instead of being emitted on freed memory.
TEST_F(DesktopClientLifecycle, AHandlerMayFreeTheNodeMidBatch) {
    attach();
    bool freed = false;
    host.engine().connect(node, "connection_state_changed", [&](const std::vector<Variant>&) {
        if (!freed) {
            freed = true;
            host.free_node(node);
        }
    });
    host.call(node, "poll_events");
    EXPECT_TRUE(freed);
    // Only the first of the four queued events was emitted.
    EXPECT_EQ(host.engine().emissions().size(), 1u);
    EXPECT_EQ(host.emitted("desktop_attached").size(), 0u);
}

TEST_F(DesktopClientLifecycle, ManyPollsRaceTheWorkerSafely) {
    attach();
    desktop->set_command_handler(fakes::answer_commands_with_success());
    std::size_t sent = 0;
    ASSERT_TRUE(wait_until([&] {
        if (sent < 200) {
            host.call(node, "ping_desktop_session");
            ++sent;
        }
        host.call(node, "get_current_session");
        host.call(node, "poll_events");
        return host.emitted("command_completed").size() == 200;
    }));
    host.call(node, "disconnect_desktop");
}

}  // namespace
}  // namespace qop::godot_adapter::testing
