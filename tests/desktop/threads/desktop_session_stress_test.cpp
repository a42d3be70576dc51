#include <thread>

#include "desktop/threads/session_harness.hpp"

namespace qop::desktop::session_tests {
namespace {

// Every accepted request id completes exactly once, and nothing else does.
void expect_each_completed_once(const std::vector<std::string>& ids, const Events& events) {
    std::map<std::string, int> expected;
    for (const std::string& id : ids) {
        expected[id] = 1;
    }
    EXPECT_EQ(completion_counts(events), expected);
}

// After STOPPING only completions and results may follow, then DISCONNECTED
// last: a requested disconnect is quiet and no worker state comes after it.
void expect_quiet_stop(const Events& events, std::size_t from) {
    std::size_t stopping = events.size();
    for (std::size_t i = from; i < events.size(); ++i) {
        if (is_state(events[i], ConnectionState::STOPPING, "disconnect-requested")) {
            stopping = i;
            break;
        }
    }
    ASSERT_LT(stopping, events.size());
    ASSERT_TRUE(is_state(events.back(), ConnectionState::DISCONNECTED, "disconnected"));
    for (std::size_t i = stopping + 1; i + 1 < events.size(); ++i) {
        EXPECT_NE(events[i].kind, Kind::StateChanged)
            << "state " << static_cast<int>(events[i].state);
        EXPECT_NE(events[i].kind, Kind::Error) << events[i].error.message;
        EXPECT_NE(events[i].kind, Kind::Detached);
        EXPECT_NE(events[i].kind, Kind::Attached);
    }
}

std::vector<std::string> submit_some(DesktopSessionClient& client, int count) {
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) {
        std::string id = client.submit_command(1, 0, "", "", {});
        if (!id.empty()) {
            ids.push_back(std::move(id));
        }
    }
    return ids;
}

void spin(int rounds) {
    for (int i = 0; i < rounds; ++i) {
        std::this_thread::yield();
    }
}

TEST(DesktopSessionStress, StartAndDisconnectInEveryPhase) {
    SessionHarness h;
    int answered = 0;
    h.desktop->set_command_handler([&answered](const CommandRequest& request, DesktopReply& reply) {
        // Worker thread only: every other command is answered.
        if (++answered % 2 == 0) {
            reply.send(command_result(request.request_id(), true));
        }
    });
    std::vector<std::string> ids;
    for (int round = 0; round < 60; ++round) {
        const std::size_t from = h.log.size();
        const int phase = round % 6;
        h.desktop->set_connect_behaviour(
            phase == 5 ? ConnectBehaviour::refuse(make_session_required_error("no pipe"))
                       : ConnectBehaviour::accept());
        const std::size_t connects = h.desktop->connect_calls();
        ASSERT_TRUE(h.client->start(test_options()));
        switch (phase) {
            case 0:
                break;
            case 1:
                ASSERT_TRUE(wait_until([&] { return h.desktop->connect_calls() > connects; }));
                break;
            case 2:
                spin(round * 20);
                break;
            case 3:
                ASSERT_TRUE(wait_until([&] { return h.client->is_attached(); }));
                for (std::string& id : submit_some(*h.client, 3)) {
                    ids.push_back(std::move(id));
                }
                break;
            case 4:
                ASSERT_TRUE(wait_until([&] { return h.client->is_attached(); }));
                for (std::string& id : submit_some(*h.client, 5)) {
                    ids.push_back(std::move(id));
                }
                spin(round * 10);
                break;
            case 5:
                ASSERT_TRUE(wait_until(
                    [&] { return h.client->connection_state() == ConnectionState::RETRY_WAIT; }));
                break;
        }
        h.client->disconnect();
        h.drain();
        expect_quiet_stop(h.log, from);
        EXPECT_EQ(h.client->connection_state(), ConnectionState::DISCONNECTED);
        expect_each_completed_once(ids, h.log);
        if (HasFailure()) {
            FAIL() << "round " << round;
        }
    }
}

TEST(DesktopSessionStress, SubmitsWhileTheDesktopAnswers) {
    SessionHarness h;
    ASSERT_TRUE(h.start_and_attach());
    // Waves of 100 keep the unanswered results well under the event bound
    // while the worker answers one wave as the next is submitted.
    std::vector<std::string> ids;
    for (int wave = 0; wave < 10; ++wave) {
        for (int i = 0; i < 100; ++i) {
            std::string id = h.client->submit_command(1, 0, "", "", {});
            ASSERT_EQ(id.size(), 32u);
            ids.push_back(std::move(id));
            if (i % 10 == 0) {
                h.drain();
            }
        }
        ASSERT_TRUE(h.wait_for([&](const Events& e) {
            return count_kind(e, Kind::CommandCompleted) + 100 >= ids.size();
        }));
    }
    ASSERT_TRUE(h.wait_for(
        [&](const Events& e) { return count_kind(e, Kind::CommandCompleted) == ids.size(); }));
    for (const DesktopSessionEvent* event : of_kind(h.log, Kind::CommandCompleted)) {
        EXPECT_TRUE(event->result.success);
    }
    h.finish();
    expect_each_completed_once(ids, h.log);
    const std::vector<CommandRequest> written = h.desktop->command_requests();
    ASSERT_EQ(written.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(written[i].request_id(), ids[i]);  // written in submission order
    }
}

TEST(DesktopSessionStress, DrainsWhileTheWorkerPushes) {
    SessionHarness h;
    ASSERT_TRUE(h.start_and_attach());
    constexpr int kMessages = 2000;
    std::thread desktop_side([&] {
        for (int i = 0; i < kMessages; ++i) {
            h.desktop->push(anti_addiction_changed(std::to_string(i), ""));
        }
    });
    int last = -1;
    bool ordered = true;
    const bool all = wait_until([&] {
        for (const DesktopSessionEvent& event : h.client->drain_events()) {
            if (event.kind == Kind::AntiAddictionChanged) {
                const int seq = std::stoi(event.anti_addiction_status_json);
                ordered = ordered && seq > last;
                last = seq;
            }
        }
        return last == kMessages - 1;
    });
    desktop_side.join();
    EXPECT_TRUE(all);
    EXPECT_TRUE(ordered);
}

TEST(DesktopSessionStress, TerminalErrorWhileSubmitting) {
    for (int round = 0; round < 12; ++round) {
        SessionHarness h;
        h.desktop->set_command_handler(ignore_commands());
        ASSERT_TRUE(h.start_and_attach());
        std::thread desktop_side([&] {
            spin(round * 50);
            h.desktop->push(error_message("UNAUTHORIZED", "Revoked", "channel"));
        });
        // Bounded so that every completion fits the event queue.
        std::vector<std::string> ids;
        while (ids.size() < 300) {
            std::string id = h.client->submit_command(1, 0, "", "", {});
            if (id.empty()) {
                break;
            }
            ids.push_back(std::move(id));
            if (ids.size() % 16 == 0) {
                h.drain();
            }
        }
        desktop_side.join();
        ASSERT_TRUE(h.wait_for_worker_end());
        h.finish();
        expect_each_completed_once(ids, h.log);
        EXPECT_FALSE(has_state(h.log, ConnectionState::RETRY_WAIT));
        for (const DesktopSessionEvent* event : of_kind(h.log, Kind::CommandCompleted)) {
            EXPECT_FALSE(event->result.success);
        }
    }
}

}  // namespace
}  // namespace qop::desktop::session_tests
