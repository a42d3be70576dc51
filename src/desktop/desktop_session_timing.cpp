#include "desktop/desktop_session_timing.hpp"

#include <limits>

namespace qop::desktop {

SteadyTimePoint deadline_after(SteadyTimePoint now, std::int64_t milliseconds) {
    using Nanoseconds = std::chrono::nanoseconds;
    constexpr std::uint64_t kNanosecondsPerMillisecond = 1000000;
    const std::int64_t since_epoch =
        std::chrono::duration_cast<Nanoseconds>(now.time_since_epoch()).count();
    const std::int64_t max_ns = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min_ns = std::numeric_limits<std::int64_t>::min();
    // Unsigned arithmetic: the distances to both ends of the range and the
    // final sum wrap predictably, and the checks keep the true sum in range.
    const auto since = static_cast<std::uint64_t>(since_epoch);
    if (milliseconds >= 0) {
        const std::uint64_t headroom = static_cast<std::uint64_t>(max_ns) - since;
        const auto magnitude = static_cast<std::uint64_t>(milliseconds);
        if (magnitude > headroom / kNanosecondsPerMillisecond) {
            return SteadyTimePoint(Nanoseconds(max_ns));
        }
        return SteadyTimePoint(
            Nanoseconds(static_cast<std::int64_t>(since + magnitude * kNanosecondsPerMillisecond)));
    }
    const std::uint64_t headroom = since - static_cast<std::uint64_t>(min_ns);
    const std::uint64_t magnitude = static_cast<std::uint64_t>(-(milliseconds + 1)) + 1;
    if (magnitude > headroom / kNanosecondsPerMillisecond) {
        return SteadyTimePoint(Nanoseconds(min_ns));
    }
    return SteadyTimePoint(
        Nanoseconds(static_cast<std::int64_t>(since - magnitude * kNanosecondsPerMillisecond)));
}

}  // namespace qop::desktop
