#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "relay/network_transport.hpp"
#include "support/fake_tcp_relay.hpp"

namespace qop::test {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;

inline constexpr std::chrono::milliseconds kWaitLimit{10000};

// Three seats: the host in slot 1 and two guests in slots 2 and 3.
inline FakeTcpRelayOptions three_seat_room() {
    FakeTcpRelayOptions options;
    options.room = {
        {"tok-host", "host-id", 1}, {"tok-guest", "guest-id", 2}, {"tok-third", "third-id", 3}};
    return options;
}

// Polls until `done` holds, the transport fails, or the limit passes.
inline bool poll_until(network::NetworkTransport& transport, Frames& frames, std::string& error,
                       const std::function<bool()>& done,
                       std::chrono::milliseconds limit = kWaitLimit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (!transport.poll(frames, error)) {
            return false;
        }
        if (std::chrono::steady_clock::now() > give_up) {
            error = "gave up waiting";
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

inline Bytes pattern_bytes(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 8));
    }
    return bytes;
}

// A Broadcast envelope header (kind 2 from `sender`) followed by `body`.
inline Bytes broadcast_envelope(std::uint8_t sender, const Bytes& body) {
    Bytes bytes(4 + body.size());
    bytes[1] = 0x02;
    bytes[2] = 0x01;
    bytes[3] = sender;
    std::copy(body.begin(), body.end(), bytes.begin() + 4);
    return bytes;
}

}  // namespace qop::test
