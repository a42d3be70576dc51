#include "host_bridge/host_bridge_pipe_open.hpp"

#include "shared/pipe_open_rounds.hpp"
#include "shared/untrusted_json.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace qop::network {

namespace {

constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";
constexpr char kNotConnected[] = "Hosted session pipe could not be connected";

std::unique_ptr<PipeChannel> fail(std::string& error) {
    error = kNotConnected;
    return nullptr;
}

}  // namespace

std::string host_bridge_pipe_path(const std::string& name) {
    if (std::string_view(name).substr(0, kPipePrefix.size()) == kPipePrefix) {
        return name;
    }
    return std::string(kPipePrefix) + name;
}

bool is_usable_pipe_name(const std::string& name) {
    return name.find('\0') == std::string::npos && is_valid_utf8(name);
}

std::unique_ptr<PipeChannel> open_host_bridge_pipe(
    PipeConnector& connector, const std::string& name, const MonotonicClock& clock,
    const PipeOpenLimits& limits, const std::atomic<bool>& cancelled, std::string& error) {
    if (!is_usable_pipe_name(name)) {
        return fail(error);
    }
    const std::string path = host_bridge_pipe_path(name);
    const auto deadline = clock.now() + limits.give_up_after;
    std::unique_ptr<PipeChannel> channel;
    PipeOpenRounds rounds;
    rounds.deadline_passed = [&] { return clock.now() >= deadline; };
    rounds.cancelled = [&] { return cancelled.load(); };
    // A missing pipe is not waited for: the connector reports it as Failed.
    rounds.try_open = [&] {
        switch (connector.try_open(path, channel)) {
            case PipeOpenResult::Opened:
                return channel != nullptr ? PipeAttempt::Opened : PipeAttempt::Failed;
            case PipeOpenResult::Busy:
                return PipeAttempt::Busy;
            case PipeOpenResult::Failed:
                break;
        }
        return PipeAttempt::Failed;
    };
    rounds.wait_for_instance = [&] {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.now());
        connector.wait_for_instance(
            path, std::clamp(left, std::chrono::milliseconds(0), limits.busy_wait));
    };
    if (open_pipe_in_rounds(rounds) != PipeOpenEnd::Opened) {
        return fail(error);
    }
    return channel;
}

}  // namespace qop::network
