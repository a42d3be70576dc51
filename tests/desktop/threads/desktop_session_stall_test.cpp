// A desktop that stalls in the middle of a frame: the worker still keeps its
// own time, and the frame is read whole once the rest comes.

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

using std::chrono::milliseconds;

// The first `count` bytes of `bytes`, and the rest.
std::pair<Bytes, Bytes> cut(const Bytes& bytes, std::size_t count) {
    return {Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count)),
            Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(count), bytes.end())};
}

// Fast timing that reads `clock`.
DesktopSessionTiming timing_on(ManualClock& clock) {
    DesktopSessionTiming timing = fast_timing();
    timing.now = clock.reader();
    return timing;
}

TEST(DesktopSessionStall, CommandTimesOutAtItsDeadlineWhileAFrameStalls) {
    // Either the rest of the frame arrives and, with the kept half, makes the
    // late result; or the frame's own read time-out still ends the session.
    for (const bool rest_arrives : {true, false}) {
        SCOPED_TRACE(rest_arrives ? "rest arrives" : "read times out");
        ManualClock clock;
        SessionHarness h(timing_on(clock));
        h.desktop->set_read_timeout_ms(60000);
        h.desktop->set_command_handler(ignore_commands());
        DesktopAttachOptions options = test_options();
        options.command_timeout_ms = 1000;
        ASSERT_TRUE(h.start_and_attach(options));
        const std::string id = h.client->submit_command(1, 0, "", "", {});
        ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
        // The result comes too late, cut inside its payload. Once the worker
        // holds the first half, the command's deadline is stored.
        const auto [half, rest] = cut(frame_message(command_result(id, true, "OK", "late")), 7);
        ASSERT_TRUE(h.desktop->push_bytes(half));
        ASSERT_TRUE(wait_until([&] { return h.desktop->unread_bytes() == 0; }));

        clock.advance(milliseconds(1000));
        ASSERT_TRUE(
            h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 1; }));
        const DesktopSessionEvent* done = of_kind(h.log, Kind::CommandCompleted)[0];
        EXPECT_EQ(done->result.request_id, id);
        EXPECT_FALSE(done->result.success);
        EXPECT_EQ(done->result.code, "DESKTOP_SESSION_REQUIRED");
        EXPECT_EQ(done->result.message, "Desktop session command timed out");
        EXPECT_EQ(count_kind(h.log, Kind::Detached), 0u);  // the stall goes on

        if (!rest_arrives) {
            h.desktop->set_read_timeout_ms(0);
            ASSERT_TRUE(h.wait_for_state(ConnectionState::RETRY_WAIT));
            const std::vector<const DesktopSessionEvent*> errors = of_kind(h.log, Kind::Error);
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0]->error.message, "Timed out reading desktop session pipe");
            EXPECT_EQ(of_kind(h.log, Kind::Detached)[0]->reason, "desktop-session-closed");
        } else {
            ASSERT_TRUE(h.desktop->push_bytes(rest));
            ASSERT_TRUE(
                h.wait_for([](const Events& e) { return count_kind(e, Kind::Notification) == 1; }));
            EXPECT_EQ(of_kind(h.log, Kind::Notification)[0]->result.message, "late");
            EXPECT_EQ(count_kind(h.log, Kind::Detached), 0u);
        }
        h.finish();
        EXPECT_EQ(completion_counts(h.log), (std::map<std::string, int>{{id, 1}}));
    }
}

TEST(DesktopSessionStall, AnswerBegunBeforeTheAttachDeadlineIsReadWhole) {
    ManualClock clock;
    SessionHarness h(timing_on(clock));
    h.desktop->set_read_timeout_ms(60000);
    const auto [half, rest] = cut(frame_message(attached_answer()), 5);
    // The half is pushed by the test, not as the handler's reply: the fake
    // records the request before it applies a reply, so "no unread bytes"
    // could otherwise be seen before the half was even sent.
    h.desktop->set_attach_handler([](const AttachRequest&, DesktopReply&) {});
    DesktopAttachOptions options = test_options();
    options.attach_timeout_ms = 1000;
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(wait_until([&] { return h.desktop->attach_requests().size() == 1; }));
    ASSERT_TRUE(h.desktop->push_bytes(half));
    ASSERT_TRUE(wait_until([&] { return h.desktop->unread_bytes() == 0; }));

    clock.advance(milliseconds(2000));
    ASSERT_TRUE(h.desktop->push_bytes(rest));
    ASSERT_TRUE(h.wait_for_state(ConnectionState::ATTACHED));
    EXPECT_EQ(count_kind(h.log, Kind::Error), 0u);
}

}  // namespace
}  // namespace qop::desktop::session_tests
