// The desktop command road as a game sees it: a QOPDesktopClient node in the
// stand-in engine host, attached to a desktop client, a command submitted
// through the node and its command_completed signal emitted by poll_events.
// Natively the desktop is the scripted desktop of tests/support (an
// in-process transport); on Windows (run under Wine) it is a named-pipe
// server on a thread of this process, reached through the real platform and
// named-pipe transport.
//
// Tests (--tests):
//   cmd    submit -> command_completed latency, polling every turn (tight) or
//          once per 16.67 ms frame (60hz)
//   idle   CPU the process uses while the session is attached and idle
//   poll   poll_events with nothing queued

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

#include <godot_cpp/core/memory.hpp>
#include <godot_standin/engine_host.hpp>

#include "bench_report.hpp"
#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/qop_desktop_client.hpp"
#include "godot_adapter/sdk_library_entry.hpp"
#include "support/desktop_server_messages.hpp"

#ifdef _WIN32
#include "support/test_pipe_server.hpp"
#else
#include "support/scripted_desktop.hpp"
#endif

namespace qop::bench {
namespace {

using qop::godot_adapter::QOPDesktopClient;
using qop::godot_adapter::to_godot_string;
using qop::godot_adapter::to_std_string;
namespace fakes = qop::desktop::fakes;

constexpr std::uint64_t kFrameNs = 1'000'000'000ull / 60;
constexpr std::int64_t kAppId = 4242;

#ifdef _WIN32
constexpr const char* kBenchName = "qop_wine";

std::uint64_t process_cpu_ns() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ns = [](const FILETIME& time) {
        return ((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 100;
    };
    return ns(kernel) + ns(user);
}

// The desktop client's side: answers the attach request and then every
// command with a success result, until the game side closes the pipe.
class Desktop {
public:
    Desktop() : server_(qop::test::TestPipeServer::unique_name("bench")) {
        if (!server_.listen()) {
            fail("the bench pipe server could not listen");
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~Desktop() {
        if (thread_.joinable()) {
            thread_.join();
        }
        server_.close();
    }
    QOPDesktopClient* make_node() { return memnew(QOPDesktopClient()); }
    std::string pipe_name() const { return server_.name(); }

private:
    static std::vector<std::uint8_t> bytes_of(const fakes::ServerMessage& message) {
        const std::string serialized = message.SerializeAsString();
        return std::vector<std::uint8_t>(serialized.begin(), serialized.end());
    }

    void serve() {
        const std::chrono::milliseconds long_wait(600'000);
        std::vector<std::uint8_t> payload;
        fakes::ClientMessage message;
        if (!server_.accept(std::chrono::milliseconds(10'000)) || !server_.read_frame(payload)) {
            return;
        }
        fakes::ServerMessage answer = fakes::attached_answer();
        answer.mutable_attached()->set_app_id(static_cast<std::uint32_t>(kAppId));
        server_.write_frame(bytes_of(answer));
        while (server_.read_frame(payload, long_wait)) {
            if (!message.ParseFromArray(payload.data(), static_cast<int>(payload.size())) ||
                !message.has_command()) {
                continue;
            }
            server_.write_frame(bytes_of(
                fakes::command_result(message.command().request_id(), true, "OK", "pong", "{}")));
        }
    }

    qop::test::TestPipeServer server_;
    std::thread thread_;
};
#else
constexpr const char* kBenchName = "qop";

std::uint64_t process_cpu_ns() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000ull +
           static_cast<std::uint64_t>(time.tv_nsec);
}

// The scripted desktop answers the attach and every command at once, on the
// worker's own write.
class Desktop {
public:
    Desktop() : desktop_(fakes::ScriptedDesktop::create()) {}
    QOPDesktopClient* make_node() { return memnew(QOPDesktopClient(desktop_->make_platform())); }
    std::string pipe_name() const { return ""; }

private:
    std::shared_ptr<fakes::ScriptedDesktop> desktop_;
};
#endif

class AttachedNode {
public:
    AttachedNode() {
        if (!engine_.load(&qop_sdk_library_init)) {
            fail("the SDK library refused the engine host");
        }
        engine_.set_executable_path("C:\\Games\\Bench\\bench.exe");
        node_ = desktop_.make_node();
        engine_.connect(node_, "command_completed", [this](const std::vector<godot::Variant>& a) {
            last_completed_ = to_std_string(static_cast<godot::String>(a.at(0)));
            ++completions_;
        });
        engine_.connect(node_, "sdk_error", [](const std::vector<godot::Variant>&) {
            fail("the node reported an sdk_error");
        });
        engine_.call(
            node_, "configure",
            {kAppId, to_godot_string("dev"), false, false, to_godot_string(desktop_.pipe_name())});
        if (!static_cast<bool>(engine_.call(node_, "attach"))) {
            fail("attach() refused to start");
        }
        const std::uint64_t give_up = now_ns() + 10'000'000'000ull;
        while (!node_->get_is_attached()) {
            node_->poll_events();
            if (now_ns() > give_up) {
                fail("the node did not attach within 10 s");
            }
            std::this_thread::yield();
        }
        node_->poll_events();
    }
    ~AttachedNode() {
        engine_.call(node_, "disconnect_desktop");
        engine_.free(node_);
    }

    QOPDesktopClient& node() { return *node_; }
    std::uint64_t completions() const { return completions_; }
    const std::string& last_completed() const { return last_completed_; }

private:
    godot_standin::EngineHost engine_;
    Desktop desktop_;
    QOPDesktopClient* node_ = nullptr;
    std::uint64_t completions_ = 0;
    std::string last_completed_;
};

// One command at a time: submitted right after a poll, timed until the poll
// that emits its command_completed.
void run_command_latency(AttachedNode& attached, bool hz60, bool quick) {
    const std::uint64_t warm = hz60 ? 10 : 50;
    const std::uint64_t samples = hz60 ? (quick ? 30 : 300) : (quick ? 200 : 2000);
    std::vector<std::uint64_t> latencies;
    QOPDesktopClient& node = attached.node();
    std::uint64_t next_frame = now_ns();
    for (std::uint64_t i = 0; i < warm + samples; ++i) {
        const std::uint64_t completed_before = attached.completions();
        const std::uint64_t sent_at = now_ns();
        const std::string id = to_std_string(node.ping_desktop_session());
        if (id.empty()) {
            fail("ping_desktop_session returned no request id");
        }
        const std::uint64_t give_up = sent_at + 10'000'000'000ull;
        while (attached.completions() == completed_before) {
            if (hz60) {
                next_frame += kFrameNs;
                sleep_until_ns(next_frame);
            }
            node.poll_events();
            if (now_ns() > give_up) {
                fail("command %s did not complete within 10 s", id.c_str());
            }
        }
        if (attached.last_completed() != id) {
            fail("command_completed came for %s, expected %s", attached.last_completed().c_str(),
                 id.c_str());
        }
        if (i >= warm) {
            latencies.push_back(now_ns() - sent_at);
        }
    }
    const Row row{kBenchName, hz60 ? "60hz" : "tight", "command", 0};
    emit(row, "command_p50", percentile_us(latencies, 0.50), "us");
    emit(row, "command_p99", percentile_us(latencies, 0.99), "us");
    emit(row, "commands", static_cast<double>(latencies.size()), "count");
}

// Percent of one core the process used over a window of sleeping. The
// markers let a script watching stderr measure other processes over the same
// window (under Wine: the wineserver, which serves every wait).
double process_cpu_over_window(const char* window, std::uint64_t window_ns) {
    progress("%s window opens", window);
    const std::uint64_t cpu_before = process_cpu_ns();
    const std::uint64_t wall_before = now_ns();
    sleep_until_ns(wall_before + window_ns);
    const std::uint64_t cpu = process_cpu_ns() - cpu_before;
    const std::uint64_t wall = now_ns() - wall_before;
    progress("%s window closes", window);
    return 100.0 * static_cast<double>(cpu) / static_cast<double>(wall);
}

// The same window without a session, then with an attached idle one: the
// difference is what the session costs.
void run_idle_cpu(bool quick) {
    const std::uint64_t window_ns = quick ? 1'000'000'000ull : 5'000'000'000ull;
    const Row row{kBenchName, "idle", "session", 0};
    emit(row, "idle_cpu_baseline", process_cpu_over_window("baseline", window_ns), "%core");
    AttachedNode attached;
    // Let the attach settle before the window opens.
    sleep_until_ns(now_ns() + 200'000'000ull);
    emit(row, "idle_cpu", process_cpu_over_window("idle", window_ns), "%core");
}

void run_poll_events_cost(AttachedNode& attached, bool quick) {
    QOPDesktopClient& node = attached.node();
    const std::uint64_t calls = quick ? 100'000 : 2'000'000;
    node.poll_events();
    const std::uint64_t begin = now_ns();
    for (std::uint64_t i = 0; i < calls; ++i) {
        node.poll_events();
    }
    const double per_call = static_cast<double>(now_ns() - begin) / static_cast<double>(calls);
    emit(Row{kBenchName, "idle", "session", 0}, "poll_events_empty", per_call, "ns");
}

int run(int argc, char** argv) {
    const BenchOptions options = parse_bench_options(argc, argv, "cmd,idle,poll");
    if (options.wants("cmd") || options.wants("poll")) {
        AttachedNode attached;
        if (options.wants("poll")) {
            run_poll_events_cost(attached, options.quick);
        }
        for (const bool hz60 : {false, true}) {
            if (options.wants("cmd") && (hz60 ? options.hz60 : options.tight)) {
                const std::uint64_t began = now_ns();
                run_command_latency(attached, hz60, options.quick);
                progress("  %s %s command latency: %.1f s", kBenchName, hz60 ? "60hz" : "tight",
                         static_cast<double>(now_ns() - began) / 1e9);
            }
        }
    }
    if (options.wants("idle")) {
        run_idle_cpu(options.quick);
    }
    return 0;
}

}  // namespace
}  // namespace qop::bench

int main(int argc, char** argv) {
    return qop::bench::run(argc, argv);
}
