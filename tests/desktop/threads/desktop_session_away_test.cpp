// The desktop client goes away for good: what the game still learns.

#include <atomic>

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

using std::chrono::milliseconds;

// Every connect after the pipe closed meets a desktop that has gone away.
ConnectBehaviour refused_connects() {
    return ConnectBehaviour::refuse(
        make_session_required_error("Timed out connecting to the desktop session pipe"));
}

// A retry wait of a minute on a clock that moves only by hand.
DesktopSessionTiming minute_retry_wait(ManualClock& clock) {
    DesktopSessionTiming timing = fast_timing();
    timing.now = clock.reader();
    timing.retry_wait_ms = 60000;
    return timing;
}

std::size_t index_of_completion(const Events& events, const std::string& id) {
    return static_cast<std::size_t>(std::find_if(events.begin(), events.end(),
                                                 [&](const DesktopSessionEvent& e) {
                                                     return e.kind == Kind::CommandCompleted &&
                                                            e.result.request_id == id;
                                                 }) -
                                    events.begin());
}

TEST(DesktopSessionAway, PendingCommandExpiresWhileNoSessionIsAttached) {
    struct Case {
        const char* name;
        ConnectBehaviour away;
        bool hand_moved_clock;
        ConnectionState expires_in;
    };
    const std::vector<Case> cases = {
        // The retry wait (a minute on the test's clock) wakes for the
        // command's deadline and lets it expire without ending early.
        {"retry wait", refused_connects(), true, ConnectionState::RETRY_WAIT},
        // A connect that would wait the whole attach time-out for an absent
        // desktop is cut at the command's deadline and then goes on.
        {"connecting", ConnectBehaviour::absent(), false, ConnectionState::CONNECTING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualClock clock;
        DesktopSessionTiming timing = fast_timing();
        timing.retry_wait_ms = 1;
        DesktopAttachOptions options = test_options();
        options.attach_timeout_ms = 60000;
        options.command_timeout_ms = c.hand_moved_clock ? 200 : 500;
        SessionHarness h(c.hand_moved_clock ? minute_retry_wait(clock) : timing);
        // One command the desktop never answers, then the pipe closes.
        h.desktop->set_command_handler(ignore_commands());
        ASSERT_TRUE(h.start_and_attach(options));
        const std::string id = h.client->submit_command(1, 0, "", "", {});
        ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
        h.desktop->set_connect_behaviour(c.away);
        ASSERT_TRUE(h.desktop->close_pipe());
        if (c.hand_moved_clock) {
            ASSERT_TRUE(h.wait_for_state(ConnectionState::RETRY_WAIT));
            // The clock has not moved: the command is not due yet.
            EXPECT_EQ(count_kind(h.log, Kind::CommandCompleted), 0u);
            clock.advance(milliseconds(200));
        }
        ASSERT_TRUE(
            h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 1; }));

        const std::size_t done = index_of_completion(h.log, id);
        ASSERT_LT(done, h.log.size());
        ASSERT_GE(done, 1u);
        EXPECT_FALSE(h.log[done].result.success);
        EXPECT_EQ(h.log[done].result.code, "DESKTOP_SESSION_REQUIRED");
        EXPECT_EQ(h.log[done].result.message, "Desktop session command timed out");
        // Nothing ended the phase the command expired in.
        EXPECT_EQ(h.log[done - 1].kind, Kind::StateChanged);
        EXPECT_EQ(h.log[done - 1].state, c.expires_in);
        EXPECT_EQ(count_kind(h.log, Kind::Detached), 1u);
        if (!c.hand_moved_clock) {
            EXPECT_EQ(count_kind(h.log, Kind::Error), 0u);
            const std::vector<std::int64_t> timeouts = h.desktop->connect_timeouts();
            ASSERT_GE(timeouts.size(), 2u);
            EXPECT_LE(timeouts[1], 500);  // the slice that ended at the deadline
        }

        // The disconnect completes nothing twice.
        h.finish();
        EXPECT_EQ(completion_counts(h.log), (std::map<std::string, int>{{id, 1}}));
    }
}

TEST(DesktopSessionAway, CommandLeftUnwrittenExpiresWhileNoSessionIsAttached) {
    // The first command's write fails after a second one was accepted behind
    // it: the second is never written while the desktop stays away, and must
    // still time out.
    ManualClock clock;
    DesktopAttachOptions options = test_options();
    options.command_timeout_ms = 200;
    SessionHarness h(minute_retry_wait(clock));
    std::atomic<bool> second_accepted{false};
    h.desktop->set_write_policy([&](const WriteContext& w) {
        if (w.write_index == 0) {
            return WriteBehaviour::deliver();
        }
        wait_until([&] { return second_accepted.load(); });
        return WriteBehaviour::fail(make_session_required_error("Pipe went away"));
    });
    ASSERT_TRUE(h.start_and_attach(options));
    h.desktop->set_connect_behaviour(refused_connects());
    const std::string first = h.client->submit_command(1, 0, "", "", {});
    const std::string second = h.client->submit_command(1, 0, "", "", {});
    ASSERT_FALSE(second.empty());
    second_accepted.store(true);
    ASSERT_TRUE(h.wait_for_state(ConnectionState::RETRY_WAIT));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 1; }));
    clock.advance(milliseconds(200));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 2; }));
    const std::size_t done = index_of_completion(h.log, second);
    ASSERT_LT(done, h.log.size());
    EXPECT_EQ(h.log[done].result.message, "Desktop session command timed out");
    h.finish();
    EXPECT_EQ(completion_counts(h.log), (std::map<std::string, int>{{first, 1}, {second, 1}}));
}

TEST(DesktopSessionAway, WorkerThatEndsByItselfSaysSoLast) {
    struct Case {
        const char* name;
        bool while_attached;  // else the desktop refuses the attach itself
    };
    for (const Case c : {Case{"refused while attached", true}, Case{"refused attach", false}}) {
        SCOPED_TRACE(c.name);
        SessionHarness h;
        h.desktop->set_command_handler(ignore_commands());
        const ServerMessage refusal =
            error_message("APP_ID_MISMATCH", "This executable belongs to another app", "channel");
        std::string id;
        if (c.while_attached) {
            ASSERT_TRUE(h.start_and_attach());
            id = h.client->submit_command(1, 0, "", "", {});
            ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
            ASSERT_TRUE(h.desktop->push(refusal));
        } else {
            h.desktop->set_attach_handler(answer_attach_with(refusal));
            ASSERT_TRUE(h.client->start(test_options()));
        }
        ASSERT_TRUE(h.wait_for_worker_end());
        h.drain();
        EXPECT_TRUE(h.client->attached_session().desktop_session_id.empty());

        // The error, the completion of the command it ended, then the state.
        ASSERT_GE(h.log.size(), 2u);
        const std::size_t last = h.log.size() - 1;
        EXPECT_TRUE(is_state(h.log[last], ConnectionState::DISCONNECTED, "desktop-session-ended"));
        const std::size_t error = last - (c.while_attached ? 2 : 1);
        ASSERT_EQ(h.log[error].kind, Kind::Error);
        EXPECT_EQ(h.log[error].error.code, "APP_ID_MISMATCH");
        EXPECT_FALSE(h.log[error].error.retryable);
        if (c.while_attached) {
            ASSERT_EQ(h.log[last - 1].kind, Kind::CommandCompleted);
            EXPECT_EQ(h.log[last - 1].result.request_id, id);
            EXPECT_EQ(h.log[last - 1].result.code, "APP_ID_MISMATCH");
        }
        EXPECT_FALSE(has_state(h.log, ConnectionState::RETRY_WAIT));
    }
}

}  // namespace
}  // namespace qop::desktop::session_tests
