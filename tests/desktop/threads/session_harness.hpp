#pragma once

// A DesktopSessionClient wired to a ScriptedDesktop, with fast pacing, an
// event log that accumulates everything drained, and a few predicates over it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/desktop_session_client.hpp"
#include "support/desktop_server_messages.hpp"
#include "support/scripted_desktop.hpp"
#include "support/test_waits.hpp"

namespace qop::desktop::session_tests {

using namespace qop::desktop::fakes;
using qop::test::wait_until;
using Kind = DesktopSessionEventKind;
using Events = std::vector<DesktopSessionEvent>;

inline DesktopSessionTiming fast_timing() {
    DesktopSessionTiming timing;
    timing.retry_wait_ms = 20;
    timing.fast_retry_wait_ms = 5;
    timing.attach_poll_ms = 5;
    timing.session_poll_ms = 2;
    return timing;
}

// A clock that moves only when told to.
class ManualClock {
public:
    SteadyTimePoint now() const {
        return SteadyTimePoint(std::chrono::nanoseconds(nanoseconds.load()));
    }
    void advance(std::chrono::nanoseconds step) { nanoseconds += step.count(); }
    SteadyClockReader reader() {
        return [this] { return now(); };
    }

private:
    std::atomic<std::int64_t> nanoseconds{std::int64_t{3600} * 1000000000};
};

inline DesktopAttachOptions test_options() {
    DesktopAttachOptions options;
    options.app_id = 4242;
    options.executable_path = "C:\\Games\\Game\\game.exe";
    options.sdk_version = "0.1.7";
    options.engine = "godot";
    options.engine_version = "4.7.0";
    options.auto_launch = false;
    options.attach_timeout_ms = 5000;
    options.command_timeout_ms = 30000;
    return options;
}

inline bool is_state(const DesktopSessionEvent& event, ConnectionState state,
                     const std::string& reason) {
    return event.kind == Kind::StateChanged && event.state == state && event.reason == reason;
}

inline std::size_t count_kind(const Events& events, Kind kind) {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(),
                      [kind](const DesktopSessionEvent& e) { return e.kind == kind; }));
}

inline bool has_state(const Events& events, ConnectionState state) {
    return std::any_of(events.begin(), events.end(), [state](const DesktopSessionEvent& e) {
        return e.kind == Kind::StateChanged && e.state == state;
    });
}

inline std::vector<const DesktopSessionEvent*> of_kind(const Events& events, Kind kind) {
    std::vector<const DesktopSessionEvent*> found;
    for (const DesktopSessionEvent& event : events) {
        if (event.kind == kind) {
            found.push_back(&event);
        }
    }
    return found;
}

// How often each request id completed (CommandCompleted events only).
inline std::map<std::string, int> completion_counts(const Events& events) {
    std::map<std::string, int> counts;
    for (const DesktopSessionEvent& event : events) {
        if (event.kind == Kind::CommandCompleted) {
            ++counts[event.result.request_id];
        }
    }
    return counts;
}

struct SessionHarness {
    explicit SessionHarness(DesktopSessionTiming timing = fast_timing(),
                            DesktopSessionClient::WorkerThreadStarter starter = {})
        : desktop(ScriptedDesktop::create()),
          client(std::make_unique<DesktopSessionClient>(desktop->make_platform(), std::move(timing),
                                                        std::move(starter))) {}

    // Moves the client's queued events into `log`; returns what was new.
    Events drain() {
        Events fresh = client->drain_events();
        log.insert(log.end(), fresh.begin(), fresh.end());
        return fresh;
    }

    bool wait_for(const std::function<bool(const Events&)>& condition,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
        return wait_until(
            [&] {
                drain();
                return condition(log);
            },
            limit);
    }

    bool wait_for_state(ConnectionState state) {
        return wait_for([state](const Events& events) { return has_state(events, state); });
    }

    // Waits until the worker ended by itself: its end sequence stores
    // DISCONNECTED after the attempt began.
    bool wait_for_worker_end() {
        return wait_for([this](const Events& events) {
            return has_state(events, ConnectionState::CONNECTING) &&
                   client->connection_state() == ConnectionState::DISCONNECTED;
        });
    }

    // Joins the worker and drains; the log then holds everything the worker
    // pushed, followed by the STOPPING and DISCONNECTED of this disconnect.
    void finish() {
        client->disconnect();
        drain();
    }

    // The log up to the first STOPPING state change.
    Events before_stopping() const {
        Events head;
        for (const DesktopSessionEvent& event : log) {
            if (event.kind == Kind::StateChanged && event.state == ConnectionState::STOPPING) {
                break;
            }
            head.push_back(event);
        }
        return head;
    }

    bool start_and_attach(DesktopAttachOptions options = test_options()) {
        return client->start(std::move(options)) && wait_for_state(ConnectionState::ATTACHED);
    }

    std::shared_ptr<ScriptedDesktop> desktop;
    std::unique_ptr<DesktopSessionClient> client;
    Events log;
};

}  // namespace qop::desktop::session_tests
