#pragma once

// Cancelling a relay transport's connect from another thread, as the room
// peer's close does while its worker connects.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "relay/network_transport.hpp"
#include "support/test_waits.hpp"

namespace qop::test {

// The product aims at tens of milliseconds; loaded machines get far more room.
inline constexpr std::chrono::seconds kPromptCancelLimit{2};

struct CancelledConnect {
    bool connected = false;
    std::string error;
    // From the cancel() call to the connect's return.
    std::chrono::steady_clock::duration after_cancel{};
};

// Runs `transport.connect(endpoint)` on a thread of its own; once `reached`
// holds and a further `extra` has passed, cancels it from this thread.
inline CancelledConnect cancel_connect_when(network::NetworkTransport& transport,
                                            const network::TransportEndpoint& endpoint,
                                            const std::function<bool()>& reached,
                                            std::chrono::microseconds extra) {
    CancelledConnect outcome;
    std::chrono::steady_clock::time_point returned;
    std::thread worker([&] {
        outcome.connected = transport.connect(endpoint, outcome.error);
        returned = std::chrono::steady_clock::now();
    });
    wait_until(reached);
    std::this_thread::sleep_for(extra);
    const auto cancelled_at = std::chrono::steady_clock::now();
    transport.cancel();
    worker.join();
    outcome.after_cancel = returned - cancelled_at;
    return outcome;
}

// A random point within the first `range` of a phase.
inline std::chrono::microseconds random_delay(std::mt19937& random,
                                              std::chrono::microseconds range) {
    return std::chrono::microseconds(
        std::uniform_int_distribution<long long>(0, range.count())(random));
}

// The connect failed with `cancelled`, promptly after the cancel, and left the transport Failed.
inline void expect_cancelled_promptly(const CancelledConnect& outcome,
                                      const network::NetworkTransport& transport,
                                      const std::string& cancelled) {
    EXPECT_FALSE(outcome.connected);
    EXPECT_EQ(outcome.error, cancelled);
    EXPECT_LT(outcome.after_cancel, kPromptCancelLimit);
    EXPECT_EQ(transport.state(), network::TransportState::Failed);
}

// A cancel before any connect fails every connect with `cancelled`, with no
// byte to the relay, until close() lets the next one through.
inline void expect_cancel_holds_until_close(network::NetworkTransport& transport,
                                            const network::TransportEndpoint& endpoint,
                                            const std::string& cancelled,
                                            const std::function<bool()>& relay_untouched) {
    transport.cancel();
    std::string error;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(transport.connect(endpoint, error)) << "attempt " << attempt;
        EXPECT_EQ(error, cancelled) << "attempt " << attempt;
        EXPECT_EQ(transport.state(), network::TransportState::Failed);
    }
    EXPECT_TRUE(relay_untouched());
    transport.close();
    EXPECT_TRUE(transport.connect(endpoint, error)) << error;
}

}  // namespace qop::test
