#include "network/host_bridge_pipe_open.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace qop::network {

namespace {

constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";
constexpr char kNotConnected[] = "Hosted session pipe could not be connected";

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

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
