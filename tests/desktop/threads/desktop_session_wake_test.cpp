// The attached worker waits on the pipe's read and its wake-up together: with
// poll times far longer than any test, commands are still written, answers
// and pushed messages still handled, and a disconnect still ends it, at once.

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

constexpr std::int64_t kLongerThanAnyTest = 600000;

DesktopSessionTiming polls_that_never_end() {
    DesktopSessionTiming timing = fast_timing();
    timing.session_poll_ms = kLongerThanAnyTest;
    timing.session_idle_poll_ms = kLongerThanAnyTest;
    return timing;
}

std::size_t completions_of(const Events& events, const std::string& id) {
    return static_cast<std::size_t>(completion_counts(events)[id]);
}

TEST(DesktopSessionWake, EachQueuedCommandEndsTheWaitIdleOrPendingAndAnswersAreHandledAtOnce) {
    SessionHarness h(polls_that_never_end());
    ASSERT_TRUE(h.start_and_attach());
    // Nothing pending between the rounds: each waits with the idle poll time.
    for (int round = 0; round < 3; ++round) {
        const std::string id = h.client->submit_command(1, 0, "", "", {});
        ASSERT_FALSE(id.empty());
        ASSERT_TRUE(h.wait_for([&](const Events& e) { return completions_of(e, id) == 1; }))
            << "round " << round;
    }
    EXPECT_GE(h.desktop->wake_calls(), 3u);
    ASSERT_TRUE(h.desktop->push(anti_addiction_changed("{}", "{}")));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::AntiAddictionChanged) == 1; }));

    // A command queued while another is pending is written at once too.
    h.desktop->set_command_handler(ignore_commands());
    const std::string first = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 4; }));
    const std::string second = h.client->submit_command(5, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 5; }));
    EXPECT_EQ(h.desktop->command_requests()[4].request_id(), second);
    // Both stay pending; the disconnect's cancel ends the wait and fails them.
    h.finish();
    EXPECT_EQ(completions_of(h.log, first), 1u);
    EXPECT_EQ(completions_of(h.log, second), 1u);
    EXPECT_EQ(count_kind(h.log, Kind::Error), 0u);
}

}  // namespace
}  // namespace qop::desktop::session_tests
