#include "host_bridge/host_bridge_pipe_open.hpp"

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
    while (!cancelled.load()) {
        const auto now = clock.now();
        if (now >= deadline) {
            break;
        }
        std::unique_ptr<PipeChannel> channel;
        switch (connector.try_open(path, channel)) {
            case PipeOpenResult::Opened:
                if (channel == nullptr) {
                    return fail(error);
                }
                return channel;
            case PipeOpenResult::Busy: {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.now());
                connector.wait_for_instance(
                    path, std::clamp(left, std::chrono::milliseconds(0), limits.busy_wait));
                break;
            }
            case PipeOpenResult::Failed:
                return fail(error);
        }
    }
    return fail(error);
}

}  // namespace qop::network
