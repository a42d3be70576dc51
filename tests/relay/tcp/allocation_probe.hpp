#pragma once

#include <cstddef>

namespace qop::test {

// Records the largest single allocation made on this thread while it lives,
// so a test can prove that a hostile length prefix was not trusted.
class AllocationProbe {
public:
    AllocationProbe();
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    std::size_t largest() const;
};

}  // namespace qop::test
