#include <limits>

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

using std::chrono::milliseconds;

SdkError connect_refusal() {
    return make_session_required_error("Timed out connecting to the desktop session pipe");
}

std::vector<milliseconds> gaps(const std::vector<ScriptedDesktop::Clock::time_point>& times) {
    std::vector<milliseconds> result;
    for (std::size_t i = 1; i < times.size(); ++i) {
        result.push_back(std::chrono::duration_cast<milliseconds>(times[i] - times[i - 1]));
    }
    return result;
}

TEST(DesktopSessionRetry, LaunchesOnceThenRetriesFastTenTimes) {
    DesktopSessionTiming timing = fast_timing();
    timing.fast_retry_wait_ms = 1;
    timing.retry_wait_ms = 600;
    SessionHarness h(timing);
    h.desktop->set_connect_behaviour(ConnectBehaviour::refuse(connect_refusal()));
    h.desktop->set_launch_result(true);
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() >= 12; }));
    h.finish();

    const auto connects = h.desktop->connect_times();
    const auto launches = h.desktop->launch_times();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_GE(launches[0], connects[0]);
    EXPECT_LE(launches[0], connects[1]);
    const std::vector<milliseconds> waits = gaps(connects);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_LT(waits[i], milliseconds(300)) << "wait " << i;
    }
    EXPECT_GE(waits[10], milliseconds(600));
    // A successful launch reports nothing; every failed attempt does (but
    // the last one when the disconnect won the race).
    const std::size_t errors = count_kind(h.before_stopping(), Kind::Error);
    EXPECT_GE(errors + 1, connects.size());
    EXPECT_LE(errors, connects.size());
}

TEST(DesktopSessionRetry, FailedLaunchKeepsTheLongWaitAndReportsItsError) {
    DesktopSessionTiming timing = fast_timing();
    timing.retry_wait_ms = 40;
    SessionHarness h(timing);
    h.desktop->set_connect_behaviour(ConnectBehaviour::refuse(connect_refusal()));
    SdkError failure = make_session_required_error("Desktop launch command could not be resolved");
    h.desktop->set_launch_result(false, failure);
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() >= 4; }));
    h.finish();

    EXPECT_EQ(h.desktop->launch_calls(), 1u);
    for (milliseconds wait : gaps(h.desktop->connect_times())) {
        EXPECT_GE(wait, milliseconds(40));
    }
    const Events head = h.before_stopping();
    const auto errors = of_kind(head, Kind::Error);
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[0]->error.message, "Timed out connecting to the desktop session pipe");
    EXPECT_EQ(errors[1]->error.message, "Desktop launch command could not be resolved");
    EXPECT_TRUE(errors[1]->error.retryable);
    // The launch error comes before the first retry wait.
    std::size_t launch_error = 0, retry_wait = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (&head[i] == errors[1]) {
            launch_error = i;
        }
        if (retry_wait == 0 &&
            is_state(head[i], ConnectionState::RETRY_WAIT, "desktop-session-retry-wait")) {
            retry_wait = i;
        }
    }
    EXPECT_LT(launch_error, retry_wait);
}

TEST(DesktopSessionRetry, LaunchFailureWithoutMessageIsSilent) {
    SessionHarness h;
    h.desktop->set_connect_behaviour(ConnectBehaviour::refuse(connect_refusal()));
    h.desktop->set_launch_result(false);
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() >= 3; }));
    h.finish();
    EXPECT_EQ(h.desktop->launch_calls(), 1u);
    const std::size_t errors = count_kind(h.before_stopping(), Kind::Error);
    EXPECT_GE(errors + 1, h.desktop->connect_calls());
    EXPECT_LE(errors, h.desktop->connect_calls());
}

TEST(DesktopSessionRetry, NeverLaunchesWithoutAutoLaunchOrReconnect) {
    struct Case {
        bool auto_launch;
        bool auto_reconnect;
    };
    for (const Case c : {Case{false, true}, Case{true, false}, Case{false, false}}) {
        SessionHarness h;
        h.desktop->set_connect_behaviour(ConnectBehaviour::refuse(connect_refusal()));
        h.desktop->set_launch_result(true);
        DesktopAttachOptions options = test_options();
        options.auto_launch = c.auto_launch;
        options.auto_reconnect = c.auto_reconnect;
        ASSERT_TRUE(h.client->start(options));
        if (c.auto_reconnect) {
            ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() >= 3; }));
        } else {
            ASSERT_TRUE(h.wait_for_worker_end());
        }
        h.finish();
        EXPECT_EQ(h.desktop->launch_calls(), 0u);
        const Events head = h.before_stopping();
        EXPECT_EQ(has_state(head, ConnectionState::RETRY_WAIT), c.auto_reconnect);
        if (!c.auto_reconnect) {
            EXPECT_EQ(h.desktop->connect_calls(), 1u);
            ASSERT_EQ(head.size(), 3u);  // CONNECTING, the error, then the worker's end
            EXPECT_EQ(head[1].kind, Kind::Error);
            EXPECT_TRUE(is_state(head[2], ConnectionState::DISCONNECTED, "desktop-session-ended"));
        }
    }
}

TEST(DesktopSessionRetry, LaunchesAfterAClosedSessionButOnlyOncePerStart) {
    SessionHarness h;
    h.desktop->set_launch_result(true);
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.start_and_attach(options));
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(h.desktop->close_pipe());
        ASSERT_TRUE(h.wait_for(
            [round](const Events& e) { return count_kind(e, Kind::Attached) == 1u + round; }));
    }
    EXPECT_EQ(h.desktop->launch_calls(), 1u);
    EXPECT_EQ(count_kind(h.log, Kind::Detached), 3u);

    // A new start may launch again.
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(h.wait_for([](const Events& e) { return count_kind(e, Kind::Attached) == 5; }));
    ASSERT_TRUE(h.desktop->close_pipe());
    ASSERT_TRUE(wait_until([&] { return h.desktop->launch_calls() == 2; }));
}

TEST(DesktopSessionRetry, RetryWaitFollowsEveryEndedAttempt) {
    SessionHarness h;
    h.desktop->queue_connect_behaviours(
        {ConnectBehaviour::refuse(connect_refusal()), ConnectBehaviour::refuse(connect_refusal())});
    ASSERT_TRUE(h.start_and_attach());
    std::vector<ConnectionState> states;
    for (const DesktopSessionEvent& event : h.log) {
        if (event.kind == Kind::StateChanged) {
            states.push_back(event.state);
        }
    }
    const std::vector<ConnectionState> expected = {
        ConnectionState::CONNECTING, ConnectionState::RETRY_WAIT, ConnectionState::CONNECTING,
        ConnectionState::RETRY_WAIT, ConnectionState::CONNECTING, ConnectionState::ATTACHING,
        ConnectionState::ATTACHED};
    EXPECT_EQ(states, expected);
}

TEST(DesktopSessionDeadline, SaturatesAtTheClockRange) {
    using std::chrono::nanoseconds;
    const SteadyTimePoint base(nanoseconds(1000000000));
    const std::int64_t max_ms = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min_ms = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::int64_t milliseconds;
        SteadyTimePoint expected;
    };
    const std::vector<Case> cases = {
        {0, base},
        {5000, base + nanoseconds(5000000000)},
        {-1000, base - nanoseconds(1000000000)},
        {max_ms, SteadyTimePoint::max()},
        {max_ms / 1000000, SteadyTimePoint::max()},
        {min_ms, SteadyTimePoint::min()},
        {-9223372036854, SteadyTimePoint(nanoseconds(-9223372036854000000 + 1000000000))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(deadline_after(base, c.milliseconds), c.expected) << c.milliseconds;
    }
}

}  // namespace
}  // namespace qop::desktop::session_tests
