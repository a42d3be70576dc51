#pragma once

#include <chrono>
#include <memory>

namespace qop::network {

// Source of steady time for deadlines, so that tests can run multi-second
// deadlines in milliseconds with a clock of their own.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual std::chrono::steady_clock::time_point now() const = 0;
};

// The process-wide steady clock.
std::shared_ptr<const MonotonicClock> system_monotonic_clock();

}  // namespace qop::network
