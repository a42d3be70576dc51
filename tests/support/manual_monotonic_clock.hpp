#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "shared/monotonic_clock.hpp"

namespace qop::test {

// A steady clock that moves only when a test (or a fake that stands for the
// passing of time) advances it. Safe to read and advance from any thread.
class ManualMonotonicClock final : public qop::network::MonotonicClock {
public:
    std::chrono::steady_clock::time_point now() const override {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ticks_.load()));
    }

    void advance(std::chrono::nanoseconds step) { ticks_.fetch_add(step.count()); }

    std::chrono::nanoseconds elapsed() const {
        return std::chrono::nanoseconds(ticks_.load() - kStart);
    }

private:
    // Far from zero so that no deadline arithmetic meets the epoch.
    static constexpr std::int64_t kStart = 1'000'000'000'000;
    std::atomic<std::int64_t> ticks_{kStart};
};

}  // namespace qop::test
