#include <future>
#include <set>

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

// Brings a session into: two commands written and unanswered, a third whose
// write the desktop holds, and two more queued behind it. `then` runs while
// the write is held (for example to push a message); the write is released
// afterwards.
struct Backlog {
    std::vector<std::string> pending;  // written, in submission order
    std::vector<std::string> queued;   // never written, in submission order
};

Backlog build_backlog(SessionHarness& h, const std::function<void()>& then) {
    Backlog backlog;
    backlog.pending.push_back(h.client->submit_command(1, 0, "", "", {}));
    backlog.pending.push_back(h.client->submit_command(1, 0, "", "", {}));
    EXPECT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 2; }));
    backlog.pending.push_back(h.client->submit_command(1, 0, "", "", {}));
    EXPECT_TRUE(wait_until([&] { return h.desktop->blocked_writes() == 1; }));
    backlog.queued.push_back(h.client->submit_command(5, 0, "", "", {}));
    backlog.queued.push_back(h.client->submit_command(5, 0, "", "", {}));
    then();
    h.desktop->release_held_writes();
    return backlog;
}

void hold_write(SessionHarness& h, std::size_t connection, std::size_t write) {
    h.desktop->set_write_policy([connection, write](const WriteContext& c) {
        return c.connection_index == connection && c.write_index == write
                   ? WriteBehaviour::hold_until_released()
                   : WriteBehaviour::deliver();
    });
}

// Checks the completions that follow a session's end: the pending commands
// as a set, then the queued ones in order, all failed with code and message.
void expect_failed_backlog(const Events& events, std::size_t first, const Backlog& backlog,
                           const std::string& code, const std::string& message) {
    ASSERT_GE(events.size(), first + backlog.pending.size() + backlog.queued.size());
    std::set<std::string> pending;
    for (std::size_t i = 0; i < backlog.pending.size(); ++i) {
        const DesktopSessionEvent& event = events[first + i];
        ASSERT_EQ(event.kind, Kind::CommandCompleted);
        pending.insert(event.result.request_id);
    }
    EXPECT_EQ(pending, std::set<std::string>(backlog.pending.begin(), backlog.pending.end()));
    for (std::size_t i = 0; i < backlog.queued.size(); ++i) {
        const DesktopSessionEvent& event = events[first + backlog.pending.size() + i];
        ASSERT_EQ(event.kind, Kind::CommandCompleted);
        EXPECT_EQ(event.result.request_id, backlog.queued[i]);
    }
    for (std::size_t i = first; i < first + backlog.pending.size() + backlog.queued.size(); ++i) {
        EXPECT_FALSE(events[i].result.success);
        EXPECT_EQ(events[i].result.code, code);
        EXPECT_EQ(events[i].result.message, message);
        EXPECT_TRUE(events[i].result.content_json.empty());
        EXPECT_TRUE(events[i].result.content_bytes.empty());
    }
}

std::size_t index_of_kind(const Events& events, Kind kind) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == kind) {
            return i;
        }
    }
    return events.size();
}

TEST(DesktopSessionSubmit, RefusesWhileNotAttached) {
    SessionHarness h;
    EXPECT_EQ(h.client->submit_command(1, 0, "", "", {}), "");
    h.drain();
    ASSERT_EQ(h.log.size(), 1u);
    EXPECT_EQ(h.log[0].kind, Kind::Error);
    EXPECT_EQ(h.log[0].error.code, "DESKTOP_SESSION_REQUIRED");
    EXPECT_EQ(h.log[0].error.message, "QOP desktop session is not attached");
    EXPECT_EQ(h.log[0].error.category, "channel");
    EXPECT_TRUE(h.log[0].error.retryable);
    EXPECT_TRUE(h.client->has_capability(0));
    EXPECT_TRUE(h.client->has_capability(-3));
    EXPECT_FALSE(h.client->has_capability(1));
}

TEST(DesktopSessionSubmit, ChecksTheCapabilityAsASignedFieldNumber) {
    struct Case {
        std::uint32_t capability;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {0, true},
        {1, true},
        {3, false} /* present, false */,
        {99, false} /* absent */,
        {0xFFFFFFFFu, true} /* -1 */,
        {0x80000000u, true},
    };
    SessionHarness h;
    h.desktop->set_command_handler(ignore_commands());
    ServerMessage answer = attached_answer();
    answer.mutable_attached()->mutable_capabilities()->set_user_context(false);
    h.desktop->set_attach_handler(answer_attach_with(answer));
    ASSERT_TRUE(h.start_and_attach());
    for (const Case& c : cases) {
        h.drain();
        h.log.clear();
        const std::string id = h.client->submit_command(1, c.capability, "", "", {});
        h.drain();
        if (c.accepted) {
            EXPECT_EQ(id.size(), 32u) << c.capability;
            EXPECT_EQ(count_kind(h.log, Kind::Error), 0u) << c.capability;
        } else {
            EXPECT_EQ(id, "") << c.capability;
            ASSERT_EQ(h.log.size(), 1u) << c.capability;
            EXPECT_EQ(h.log[0].error.code, "DESKTOP_SESSION_CAPABILITY_MISSING");
            EXPECT_EQ(h.log[0].error.message,
                      "Desktop session does not expose the required capability");
            EXPECT_EQ(h.log[0].error.category, "channel");
            EXPECT_TRUE(h.log[0].error.retryable);
        }
    }
}

TEST(DesktopSessionMessages, DetachedWhileAttachedFailsPendingThenQueuedCommands) {
    SessionHarness h;
    h.desktop->set_command_handler(ignore_commands());
    hold_write(h, 0, 3);
    DesktopAttachOptions options = test_options();
    options.auto_reconnect = false;
    ASSERT_TRUE(h.start_and_attach(options));
    const Backlog backlog =
        build_backlog(h, [&] { EXPECT_TRUE(h.desktop->push(detached_event("kicked"))); });
    ASSERT_TRUE(h.wait_for_worker_end());
    h.finish();

    const Events head = h.before_stopping();
    const std::size_t detached = index_of_kind(head, Kind::Detached);
    ASSERT_LT(detached, head.size());
    EXPECT_EQ(head[detached].reason, "kicked");
    expect_failed_backlog(head, detached + 1, backlog, "DESKTOP_SESSION_REQUIRED", "kicked");
    ASSERT_EQ(head.size(), detached + 1 + 5 + 1);
    EXPECT_TRUE(is_state(head.back(), ConnectionState::DISCONNECTED, "desktop-session-ended"));
    EXPECT_EQ(count_kind(head, Kind::Error), 0u);
    EXPECT_EQ(h.desktop->command_requests().size(), 3u);
}

struct ErrorCase {
    std::string name;
    std::string code, message, category;
    std::string event_code;
    bool retryable;
    std::string result_code, result_message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class DesktopSessionErrorMessage : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DesktopSessionErrorMessage, EndsTheSessionAndFailsTheBacklog) {
    const ErrorCase& c = GetParam();
    SessionHarness h;
    h.desktop->set_command_handler(ignore_commands());
    hold_write(h, 0, 3);
    ASSERT_TRUE(h.start_and_attach());
    const Backlog backlog = build_backlog(
        h, [&] { EXPECT_TRUE(h.desktop->push(error_message(c.code, c.message, c.category))); });
    if (c.retryable) {
        ASSERT_TRUE(h.wait_for([](const Events& e) {
            return count_kind(e, Kind::Attached) == 2;  // reconnected
        }));
    } else {
        ASSERT_TRUE(h.wait_for_worker_end());
    }
    h.finish();

    const Events head = h.before_stopping();
    const std::size_t error = index_of_kind(head, Kind::Error);
    ASSERT_LT(error, head.size());
    EXPECT_EQ(head[error].error.code, c.event_code);
    EXPECT_EQ(head[error].error.message, c.message);
    EXPECT_EQ(head[error].error.category, c.category.empty() ? "channel" : c.category);
    EXPECT_EQ(head[error].error.retryable, c.retryable);
    expect_failed_backlog(head, error + 1, backlog, c.result_code, c.result_message);
    EXPECT_EQ(count_kind(head, Kind::Detached), 0u);
    EXPECT_EQ(has_state(head, ConnectionState::RETRY_WAIT), c.retryable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopSessionErrorMessage,
    ::testing::Values(ErrorCase{"Retryable", "DESKTOP_BUSY", "Busy", "channel", "DESKTOP_BUSY",
                                true, "DESKTOP_BUSY", "Busy"},
                      ErrorCase{"Empty", "", "", "", "DESKTOP_SESSION_BRIDGE_ERROR", true,
                                "DESKTOP_SESSION_REQUIRED", "QOP desktop session closed"},
                      ErrorCase{"Terminal", "FORBIDDEN", "Not yours", "channel", "FORBIDDEN", false,
                                "FORBIDDEN", "Not yours"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST(DesktopSessionMessages, PendingAndQueuedCommandsSurviveAClosedPipe) {
    // Declared before the harness: the desktop's handlers use them until the
    // client is gone.
    std::promise<void> submitted;
    std::shared_future<void> go = submitted.get_future().share();
    std::mutex ids_mutex;
    std::string pending_id;
    std::atomic<bool> answering{false};
    SessionHarness h;
    h.desktop->set_launch_result(false);
    // The worker launches between the closed pipe and its retry wait, while
    // the state is still ATTACHED: commands accepted then stay queued.
    h.desktop->set_on_launch([go] { go.wait_for(std::chrono::seconds(10)); });
    h.desktop->set_command_handler([&](const CommandRequest& request, DesktopReply& reply) {
        if (answering) {
            reply.send(command_result(request.request_id(), true, "OK", "second pipe"));
        }
    });
    h.desktop->set_attach_handler([&](const AttachRequest& request, DesktopReply& reply) {
        std::lock_guard<std::mutex> lock(ids_mutex);
        if (!pending_id.empty()) {
            reply.send(command_result(pending_id, true, "LATE", "answered while attaching"));
        }
        answer_attach_with()(request, reply);
    });
    DesktopAttachOptions options = test_options();
    options.auto_launch = true;
    ASSERT_TRUE(h.start_and_attach(options));

    const std::string first = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
    ASSERT_TRUE(h.desktop->close_pipe());
    ASSERT_TRUE(wait_until([&] { return h.desktop->launch_calls() == 1; }));
    EXPECT_EQ(h.client->connection_state(), ConnectionState::ATTACHED);
    const std::string second = h.client->submit_command(1, 0, "", "", {});
    const std::string third = h.client->submit_command(1, 0, "", "", {});
    ASSERT_EQ(second.size(), 32u);
    {
        std::lock_guard<std::mutex> lock(ids_mutex);
        pending_id = first;
    }
    answering = true;
    submitted.set_value();

    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 3; }));
    h.finish();
    const Events head = h.before_stopping();
    EXPECT_EQ(count_kind(head, Kind::Detached), 1u);
    EXPECT_EQ(of_kind(head, Kind::Detached)[0]->reason, "desktop-session-closed");
    EXPECT_EQ(count_kind(head, Kind::Error), 0u);
    const auto done = of_kind(head, Kind::CommandCompleted);
    EXPECT_EQ(done[0]->result.request_id, first);
    EXPECT_EQ(done[0]->result.code, "LATE");
    EXPECT_EQ(done[1]->result.request_id, second);
    EXPECT_EQ(done[2]->result.request_id, third);
    for (const DesktopSessionEvent* event : done) {
        EXPECT_TRUE(event->result.success);
    }
    const std::vector<CommandRequest> written = h.desktop->command_requests();
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[1].request_id(), second);
    EXPECT_EQ(written[2].request_id(), third);
}

TEST(DesktopSessionMessages, ClosedPipeWithoutReconnectEndsInDisconnected) {
    SessionHarness h;
    h.desktop->set_command_handler(ignore_commands());
    DesktopAttachOptions options = test_options();
    options.auto_reconnect = false;
    ASSERT_TRUE(h.start_and_attach(options));
    const std::string id = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
    ASSERT_TRUE(h.desktop->close_pipe());
    ASSERT_TRUE(h.wait_for_worker_end());
    EXPECT_TRUE(h.client->attached_session().desktop_session_id.empty());
    h.finish();
    const Events head = h.before_stopping();
    const std::size_t detached = index_of_kind(head, Kind::Detached);
    ASSERT_EQ(head.size(), detached + 3);
    EXPECT_EQ(head[detached].reason, "desktop-session-closed");
    EXPECT_EQ(head[detached + 1].result.request_id, id);
    EXPECT_EQ(head[detached + 1].result.message, "QOP desktop session closed");
    EXPECT_TRUE(
        is_state(head[detached + 2], ConnectionState::DISCONNECTED, "desktop-session-ended"));
    EXPECT_EQ(head[detached - 1].kind, Kind::Attached);
}

TEST(DesktopSessionMessages, StalledFrameWhileAttachedIsADetachThenTheReadError) {
    SessionHarness h;
    h.desktop->set_read_timeout_ms(20);
    ASSERT_TRUE(h.start_and_attach());
    ASSERT_TRUE(h.desktop->push_bytes(length_header(10)));
    ASSERT_TRUE(h.wait_for_state(ConnectionState::RETRY_WAIT));
    const std::size_t detached = index_of_kind(h.log, Kind::Detached);
    ASSERT_LT(detached + 1, h.log.size());
    EXPECT_EQ(h.log[detached].reason, "desktop-session-closed");
    ASSERT_EQ(h.log[detached + 1].kind, Kind::Error);
    EXPECT_EQ(h.log[detached + 1].error.message, "Timed out reading desktop session pipe");
}

TEST(DesktopSessionMessages, UndecodableFrameWhileAttachedReconnectsWithoutDetach) {
    SessionHarness h;
    ASSERT_TRUE(h.start_and_attach());
    ASSERT_TRUE(
        h.desktop->push_bytes(frame_payload(std::string("\x0a\x05\x0a\x03\xff\xfe\xfd", 7))));
    ASSERT_TRUE(h.wait_for([](const Events& e) { return count_kind(e, Kind::Attached) == 2; }));
    EXPECT_EQ(count_kind(h.log, Kind::Detached), 0u);
    const auto errors = of_kind(h.log, Kind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->error.code, "INVALID_PROTOBUF_PAYLOAD");
    EXPECT_EQ(errors[0]->error.message, "Could not parse desktop session protobuf payload");
}

TEST(DesktopSessionMessages, ResultsNotPendingBecomeNotifications) {
    SessionHarness h;
    h.desktop->set_command_handler(answer_commands_twice());
    ASSERT_TRUE(h.start_and_attach());
    const std::string twice = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(h.wait_for([](const Events& e) { return count_kind(e, Kind::Notification) == 1; }));
    EXPECT_EQ(of_kind(h.log, Kind::CommandCompleted)[0]->result.request_id, twice);
    EXPECT_EQ(of_kind(h.log, Kind::Notification)[0]->result.request_id, twice);
    EXPECT_LT(index_of_kind(h.log, Kind::CommandCompleted),
              index_of_kind(h.log, Kind::Notification));

    h.desktop->set_command_handler(answer_commands_with_unknown_id());
    h.log.clear();
    const std::string unknown = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(h.wait_for([](const Events& e) { return count_kind(e, Kind::Notification) == 1; }));
    EXPECT_EQ(of_kind(h.log, Kind::Notification)[0]->result.request_id,
              "00000000000000000000000000000000");
    EXPECT_EQ(of_kind(h.log, Kind::Notification)[0]->result.message, "unasked");
    EXPECT_EQ(count_kind(h.log, Kind::CommandCompleted), 0u);
}

TEST(DesktopSessionMessages, AntiAddictionAndSessionUpdatesWhileAttached) {
    SessionHarness h;
    ASSERT_TRUE(h.start_and_attach());
    EXPECT_FALSE(h.client->has_capability(6));
    ServerMessage update = attached_answer();
    update.mutable_attached()->set_user_id("user-2");
    update.mutable_attached()->mutable_capabilities()->set_anti_addiction(true);
    ASSERT_TRUE(h.desktop->push(update));
    ASSERT_TRUE(
        h.desktop->push(anti_addiction_changed("{\"minor\":true}", "{\"kind\":\"curfew\"}")));
    h.log.clear();
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::AntiAddictionChanged) == 1; }));
    ASSERT_EQ(h.log.size(), 1u);  // the replaced session makes no event
    EXPECT_EQ(h.log[0].anti_addiction_status_json, "{\"minor\":true}");
    EXPECT_EQ(h.log[0].anti_addiction_event_json, "{\"kind\":\"curfew\"}");
    EXPECT_EQ(h.client->attached_session().user_id, "user-2");
    EXPECT_TRUE(h.client->has_capability(6));
}

TEST(DesktopSessionExpiry, TimesOutAtTheDeadlineAndTakesALateAnswerAsNotification) {
    ManualClock clock;
    DesktopSessionTiming timing = fast_timing();
    timing.now = clock.reader();
    SessionHarness h(timing);
    h.desktop->set_command_handler(ignore_commands());
    DesktopAttachOptions options = test_options();
    options.command_timeout_ms = 1000;
    ASSERT_TRUE(h.start_and_attach(options));
    const std::string id = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
    // The deadline is read just after the write returns; a marker read after
    // the write proves the worker has stored it before the clock moves.
    ASSERT_TRUE(h.desktop->push(anti_addiction_changed("marker", "")));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::AntiAddictionChanged) == 1; }));

    clock.advance(std::chrono::milliseconds(1000) - std::chrono::nanoseconds(1));
    ASSERT_TRUE(h.desktop->push(anti_addiction_changed("marker", "")));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::AntiAddictionChanged) == 2; }));
    ASSERT_TRUE(h.desktop->push(anti_addiction_changed("marker", "")));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::AntiAddictionChanged) == 3; }));
    EXPECT_EQ(count_kind(h.log, Kind::CommandCompleted), 0u);

    clock.advance(std::chrono::nanoseconds(1));
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 1; }));
    const DesktopSessionEvent* done = of_kind(h.log, Kind::CommandCompleted)[0];
    EXPECT_EQ(done->result.request_id, id);
    EXPECT_FALSE(done->result.success);
    EXPECT_EQ(done->result.code, "DESKTOP_SESSION_REQUIRED");
    EXPECT_EQ(done->result.message, "Desktop session command timed out");
    EXPECT_EQ(count_kind(h.log, Kind::Error), 0u);

    ASSERT_TRUE(h.desktop->push(command_result(id, true, "OK", "late")));
    ASSERT_TRUE(h.wait_for([](const Events& e) { return count_kind(e, Kind::Notification) == 1; }));
    EXPECT_EQ(of_kind(h.log, Kind::Notification)[0]->result.message, "late");
    EXPECT_EQ(count_kind(h.log, Kind::CommandCompleted), 1u);
}

struct WriteFailureCase {
    std::string name;
    SdkError error;
    std::string result_code, result_message, event_code;
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class DesktopSessionWriteFailure : public ::testing::TestWithParam<WriteFailureCase> {};

TEST_P(DesktopSessionWriteFailure, FailsThatCommandAndKeepsTheRestForTheNextSession) {
    const WriteFailureCase& c = GetParam();
    SessionHarness h;
    h.desktop->set_write_policy([c](const WriteContext& w) {
        if (w.connection_index == 0 && w.write_index == 1) {
            return WriteBehaviour::hold_until_released();
        }
        if (w.connection_index == 0 && w.write_index == 2) {
            return WriteBehaviour::fail(c.error);
        }
        return WriteBehaviour::deliver();
    });
    ASSERT_TRUE(h.start_and_attach());
    const std::string held = h.client->submit_command(1, 0, "", "", {});
    ASSERT_TRUE(wait_until([&] { return h.desktop->blocked_writes() == 1; }));
    std::vector<std::string> batch;
    for (int i = 0; i < 3; ++i) {
        batch.push_back(h.client->submit_command(1, 0, "", "", {}));
    }
    h.desktop->release_held_writes();
    ASSERT_TRUE(
        h.wait_for([](const Events& e) { return count_kind(e, Kind::CommandCompleted) == 4; }));
    h.finish();

    const Events head = h.before_stopping();
    std::size_t failed = head.size();
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i].kind == Kind::CommandCompleted && head[i].result.request_id == batch[0]) {
            failed = i;
        }
    }
    ASSERT_LT(failed + 1, head.size());
    EXPECT_FALSE(head[failed].result.success);
    EXPECT_EQ(head[failed].result.code, c.result_code);
    EXPECT_EQ(head[failed].result.message, c.result_message);
    ASSERT_EQ(head[failed + 1].kind, Kind::Error);
    EXPECT_EQ(head[failed + 1].error.code, c.event_code);
    EXPECT_EQ(head[failed + 1].error.category, "channel");
    EXPECT_EQ(count_kind(head, Kind::Detached), 0u);
    EXPECT_EQ(count_kind(head, Kind::Error), 1u);

    std::map<std::string, int> expected{{held, 1}, {batch[0], 1}, {batch[1], 1}, {batch[2], 1}};
    EXPECT_EQ(completion_counts(head), expected);
    const std::vector<CommandRequest> written = h.desktop->command_requests();
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].request_id(), held);
    EXPECT_EQ(written[1].request_id(), batch[1]);
    EXPECT_EQ(written[2].request_id(), batch[2]);
    EXPECT_EQ(h.desktop->connections(), 2u);
}

SdkError write_error() {
    SdkError error;
    error.code = "DESKTOP_SESSION_BRIDGE_ERROR";
    error.message = "Could not write desktop session pipe: Broken pipe.";
    error.category = "channel";
    return error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopSessionWriteFailure,
    ::testing::Values(WriteFailureCase{"TransportError", write_error(),
                                       "DESKTOP_SESSION_BRIDGE_ERROR",
                                       "Could not write desktop session pipe: Broken pipe.",
                                       "DESKTOP_SESSION_BRIDGE_ERROR"},
                      WriteFailureCase{"EmptyError", SdkError{}, "DESKTOP_SESSION_REQUIRED",
                                       "Could not write desktop command",
                                       "DESKTOP_SESSION_BRIDGE_ERROR"}),
    [](const ::testing::TestParamInfo<WriteFailureCase>& info) { return info.param.name; });

TEST(DesktopSessionEvents, KeepsTheNewest512) {
    SessionHarness h;
    DesktopAttachOptions refused = test_options();
    refused.app_id = 0;
    EXPECT_FALSE(h.client->start(refused));  // the oldest event: APP_ID_REQUIRED
    for (int i = 0; i < 512; ++i) {
        h.client->submit_command(1, 0, "", "", {});
    }
    const Events events = h.client->drain_events();
    ASSERT_EQ(events.size(), 512u);
    for (const DesktopSessionEvent& event : events) {
        EXPECT_EQ(event.error.code, "DESKTOP_SESSION_REQUIRED");
    }
    EXPECT_TRUE(h.client->drain_events().empty());
}

TEST(DesktopSessionEvents, UndrainedEventsSurviveARestartUnderTheSameBound) {
    SessionHarness h;
    h.desktop->set_command_handler(ignore_commands());
    for (int i = 0; i < 600; ++i) {
        h.client->submit_command(1, 0, "", "", {});
    }
    ASSERT_TRUE(h.client->start(test_options()));
    ASSERT_TRUE(wait_until([&] { return h.client->is_attached(); }));
    ASSERT_TRUE(h.desktop->push(anti_addiction_changed("end", "")));
    ASSERT_TRUE(wait_until([&] { return h.desktop->unread_bytes() == 0; }));
    // A command is written at the pass after the marker was handled: once
    // the desktop has it, every event before it is queued.
    ASSERT_EQ(h.client->submit_command(1, 0, "", "", {}).size(), 32u);
    ASSERT_TRUE(wait_until([&] { return h.desktop->command_requests().size() == 1; }));
    const Events events = h.client->drain_events();
    ASSERT_EQ(events.size(), 512u);
    const std::size_t n = events.size();
    EXPECT_EQ(events[0].kind, Kind::Error);
    EXPECT_TRUE(is_state(events[n - 5], ConnectionState::CONNECTING, "desktop-session-connecting"));
    EXPECT_TRUE(is_state(events[n - 3], ConnectionState::ATTACHED, "desktop-session-attached"));
    EXPECT_EQ(events[n - 2].kind, Kind::Attached);
    EXPECT_EQ(events[n - 1].kind, Kind::AntiAddictionChanged);
}

}  // namespace
}  // namespace qop::desktop::session_tests
