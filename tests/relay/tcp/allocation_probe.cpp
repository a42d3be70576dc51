#include "allocation_probe.hpp"

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_probing = false;
thread_local std::size_t t_largest = 0;

void* allocate(std::size_t size) {
    if (t_probing && size > t_largest) {
        t_largest = size;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

// Replacing the global allocation functions is the standard way to watch
// every allocation of this test program; they forward to malloc.
void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace qop::test {

AllocationProbe::AllocationProbe() {
    t_largest = 0;
    t_probing = true;
}

AllocationProbe::~AllocationProbe() {
    t_probing = false;
}

std::size_t AllocationProbe::largest() const {
    return t_largest;
}

}  // namespace qop::test
