#pragma once

// Counts what the calling thread takes from the heap. heap_counter.cpp
// replaces the global operator new and delete of the executable it is linked
// into, so everything that allocates through them (the library, the standard
// library, protobuf) is counted on the thread that allocated or freed.

#include <cstdint>

namespace qop::bench {

struct HeapCounts {
    std::uint64_t allocations = 0;
    // Bytes allocated minus bytes freed by this thread; negative when it
    // frees what another thread allocated.
    std::int64_t live_bytes = 0;
    // The highest live_bytes since the last reset_heap_peak() on this thread.
    std::int64_t peak_bytes = 0;
};

HeapCounts heap_counts();
void reset_heap_peak();

}  // namespace qop::bench
