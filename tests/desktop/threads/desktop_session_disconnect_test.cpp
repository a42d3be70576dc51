#include <future>
#include <thread>

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Brings the worker into one phase and returns the request ids the test
// submitted on the way. Every phase's own time-outs are a minute long, so a
// disconnect that waits one out shows up at once.
struct PhaseCase {
    std::string name;
    std::function<std::vector<std::string>(SessionHarness&)> enter;
    std::size_t expected_commands_written;
};

void PrintTo(const PhaseCase& c, std::ostream* os) {
    *os << c.name;
}

DesktopAttachOptions long_options() {
    DesktopAttachOptions options = test_options();
    options.attach_timeout_ms = 60000;
    options.command_timeout_ms = 60000;
    return options;
}

std::vector<std::string> submit_three(SessionHarness& h) {
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        ids.push_back(h.client->submit_command(1, 0, "", "", {}));
    }
    return ids;
}

class DesktopSessionDisconnectPhase : public ::testing::TestWithParam<PhaseCase> {};

TEST_P(DesktopSessionDisconnectPhase, EndsPromptlyAndQuietly) {
    DesktopSessionTiming timing = fast_timing();
    timing.retry_wait_ms = 60000;
    SessionHarness h(timing);
    h.desktop->set_read_timeout_ms(60000);
    const std::vector<std::string> ids = GetParam().enter(h);
    h.drain();
    const std::size_t before = h.log.size();

    const auto started = steady_clock::now();
    h.client->disconnect();
    const auto took = steady_clock::now() - started;
    EXPECT_LT(took, milliseconds(3000));

    h.drain();
    const Events tail(h.log.begin() + static_cast<std::ptrdiff_t>(before), h.log.end());
    ASSERT_EQ(tail.size(), ids.size() + 2);
    EXPECT_TRUE(is_state(tail.front(), ConnectionState::STOPPING, "disconnect-requested"));
    EXPECT_TRUE(is_state(tail.back(), ConnectionState::DISCONNECTED, "disconnected"));
    std::map<std::string, int> expected;
    for (std::size_t i = 1; i + 1 < tail.size(); ++i) {
        ASSERT_EQ(tail[i].kind, Kind::CommandCompleted);
        EXPECT_FALSE(tail[i].result.success);
        EXPECT_EQ(tail[i].result.code, "DESKTOP_SESSION_REQUIRED");
        EXPECT_EQ(tail[i].result.message, "QOP desktop session closed");
    }
    for (const std::string& id : ids) {
        ASSERT_EQ(id.size(), 32u);
        expected[id] = 1;
    }
    EXPECT_EQ(completion_counts(tail), expected);
    EXPECT_EQ(h.desktop->command_requests().size(), GetParam().expected_commands_written);
    EXPECT_EQ(h.client->connection_state(), ConnectionState::DISCONNECTED);
    EXPECT_TRUE(h.client->attached_session().desktop_session_id.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Phases, DesktopSessionDisconnectPhase,
    ::testing::Values(
        PhaseCase{"ConnectBlocked",
                  [](SessionHarness& h) {
                      h.desktop->set_connect_behaviour(ConnectBehaviour::block_until_cancelled());
                      EXPECT_TRUE(h.client->start(long_options()));
                      EXPECT_TRUE(wait_until([&] { return h.desktop->connect_calls() == 1; }));
                      return std::vector<std::string>{};
                  },
                  0},
        PhaseCase{"DesktopAbsent",
                  [](SessionHarness& h) {
                      h.desktop->set_connect_behaviour(ConnectBehaviour::absent());
                      EXPECT_TRUE(h.client->start(long_options()));
                      EXPECT_TRUE(wait_until([&] { return h.desktop->connect_calls() == 1; }));
                      return std::vector<std::string>{};
                  },
                  0},
        PhaseCase{"AttachWriteBlocked",
                  [](SessionHarness& h) {
                      h.desktop->set_write_policy([](const WriteContext&) {
                          return WriteBehaviour::block_until_cancelled();
                      });
                      EXPECT_TRUE(h.client->start(long_options()));
                      EXPECT_TRUE(wait_until([&] { return h.desktop->blocked_writes() == 1; }));
                      return std::vector<std::string>{};
                  },
                  0},
        PhaseCase{"AwaitingAttachAnswer",
                  [](SessionHarness& h) {
                      h.desktop->set_attach_handler(ignore_attach());
                      EXPECT_TRUE(h.client->start(long_options()));
                      EXPECT_TRUE(
                          wait_until([&] { return h.desktop->attach_requests().size() == 1; }));
                      return std::vector<std::string>{};
                  },
                  0},
        PhaseCase{"AttachedWithPendingCommands",
                  [](SessionHarness& h) {
                      h.desktop->set_command_handler(ignore_commands());
                      EXPECT_TRUE(h.start_and_attach(long_options()));
                      std::vector<std::string> ids = submit_three(h);
                      EXPECT_TRUE(
                          wait_until([&] { return h.desktop->command_requests().size() == 3; }));
                      return ids;
                  },
                  3},
        PhaseCase{"CommandWriteBlocked",
                  [](SessionHarness& h) {
                      // The first command's write blocks; the other two stand
                      // behind it, in the worker's batch or still queued.
                      h.desktop->set_write_policy([](const WriteContext& c) {
                          return c.write_index == 1 ? WriteBehaviour::block_until_cancelled()
                                                    : WriteBehaviour::deliver();
                      });
                      EXPECT_TRUE(h.start_and_attach(long_options()));
                      std::vector<std::string> ids = submit_three(h);
                      EXPECT_TRUE(wait_until([&] { return h.desktop->blocked_writes() == 1; }));
                      return ids;
                  },
                  0},
        PhaseCase{"FrameStalledMidRead",
                  [](SessionHarness& h) {
                      EXPECT_TRUE(h.start_and_attach(long_options()));
                      EXPECT_TRUE(h.desktop->push_bytes(length_header(10)));
                      EXPECT_TRUE(wait_until([&] { return h.desktop->unread_bytes() == 0; }));
                      return std::vector<std::string>{};
                  },
                  0},
        PhaseCase{"RetryWait",
                  [](SessionHarness& h) {
                      h.desktop->set_connect_behaviour(
                          ConnectBehaviour::refuse(make_session_required_error(
                              "Timed out connecting to the desktop session pipe")));
                      EXPECT_TRUE(h.client->start(long_options()));
                      EXPECT_TRUE(h.wait_for_state(ConnectionState::RETRY_WAIT));
                      return std::vector<std::string>{};
                  },
                  0}),
    [](const ::testing::TestParamInfo<PhaseCase>& info) { return info.param.name; });

TEST(DesktopSessionDisconnect, CancelsEveryTransportItPublished) {
    SessionHarness h;
    h.desktop->set_connect_behaviour(ConnectBehaviour::block_until_cancelled());
    ASSERT_TRUE(h.client->start(long_options()));
    ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() == 1; }));
    h.client->disconnect();
    EXPECT_EQ(h.desktop->cancel_calls(), 1u);
}

TEST(DesktopSessionDisconnect, DestructorStopsABlockedWorker) {
    SessionHarness h;
    h.desktop->set_connect_behaviour(ConnectBehaviour::block_until_cancelled());
    ASSERT_TRUE(h.client->start(long_options()));
    ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() == 1; }));
    const auto started = steady_clock::now();
    h.client.reset();
    EXPECT_LT(steady_clock::now() - started, milliseconds(3000));
}

TEST(DesktopSessionDisconnect, StartAgainReattachesAndKeepsUndrainedEvents) {
    SessionHarness h;
    h.desktop->set_command_handler(ignore_commands());
    ASSERT_TRUE(h.start_and_attach());
    const std::string pending_id = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
    h.drain();
    h.log.clear();
    // A second start stops the first worker: its command fails, and the
    // events nobody drained yet are still there afterwards.
    ASSERT_TRUE(h.client->start(test_options()));
    ASSERT_TRUE(h.wait_for_state(ConnectionState::ATTACHED));
    ASSERT_GE(h.log.size(), 4u);
    EXPECT_TRUE(is_state(h.log[0], ConnectionState::STOPPING, "disconnect-requested"));
    ASSERT_EQ(h.log[1].kind, Kind::CommandCompleted);
    EXPECT_EQ(h.log[1].result.request_id, pending_id);
    EXPECT_EQ(h.log[1].result.message, "QOP desktop session closed");
    EXPECT_TRUE(is_state(h.log[2], ConnectionState::DISCONNECTED, "disconnected"));
    EXPECT_TRUE(is_state(h.log[3], ConnectionState::CONNECTING, "desktop-session-connecting"));
    EXPECT_EQ(h.desktop->connections(), 2u);
}

TEST(DesktopSessionDisconnect, AfterTheWorkerEndedItStillReportsBothStates) {
    SessionHarness h;
    DesktopAttachOptions options = test_options();
    options.auto_reconnect = false;
    h.desktop->set_connect_behaviour(ConnectBehaviour::refuse({}));
    ASSERT_TRUE(h.client->start(options));
    ASSERT_TRUE(h.wait_for_worker_end());
    h.drain();
    const std::size_t before = h.log.size();
    h.finish();
    ASSERT_EQ(h.log.size(), before + 2);
    EXPECT_TRUE(is_state(h.log[before], ConnectionState::STOPPING, "disconnect-requested"));
    EXPECT_TRUE(is_state(h.log[before + 1], ConnectionState::DISCONNECTED, "disconnected"));
}

}  // namespace
}  // namespace qop::desktop::session_tests

namespace qop::desktop::session_tests {
namespace {

// A disconnect that lands after the worker made its transport but before the
// worker published it must still stop the attempt: the connect below would
// otherwise wait for a cancel that was already spent.
TEST(DesktopSessionDisconnect, StopBeforeTheTransportIsPublishedIsNotLost) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    SessionHarness h;
    h.desktop->set_connect_behaviour(ConnectBehaviour::block_until_cancelled());
    h.desktop->set_on_create_transport([released] { released.wait_for(std::chrono::seconds(10)); });
    ASSERT_TRUE(h.client->start(long_options()));
    ASSERT_TRUE(wait_until([&] { return h.desktop->transports_created() == 1; }));

    std::atomic<bool> returned{false};
    std::thread stopper([&] {
        h.client->disconnect();
        returned = true;
    });
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return has_state(e, ConnectionState::STOPPING); }));
    release.set_value();
    EXPECT_TRUE(wait_until([&] { return returned.load(); }, milliseconds(5000)));
    stopper.join();
    EXPECT_EQ(h.desktop->connect_calls(), 0u);
}

}  // namespace
}  // namespace qop::desktop::session_tests
