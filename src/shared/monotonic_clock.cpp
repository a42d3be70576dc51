#include "shared/monotonic_clock.hpp"

namespace qop::network {

namespace {

class SteadyMonotonicClock final : public MonotonicClock {
public:
    std::chrono::steady_clock::time_point now() const override {
        return std::chrono::steady_clock::now();
    }
};

}  // namespace

std::shared_ptr<const MonotonicClock> system_monotonic_clock() {
    static const std::shared_ptr<const MonotonicClock> clock =
        std::make_shared<SteadyMonotonicClock>();
    return clock;
}

}  // namespace qop::network
