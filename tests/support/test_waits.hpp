#pragma once

// Waiting for a condition in tests without sleep-and-assert: the condition is
// polled until it holds or a generous limit runs out.

#include <chrono>
#include <thread>

namespace qop::test {

template <typename Condition>
bool wait_until(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace qop::test
