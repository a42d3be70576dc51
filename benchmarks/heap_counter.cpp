#include "heap_counter.hpp"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace qop::bench {
namespace {

thread_local HeapCounts counts;

void note_allocation(void* block) {
    ++counts.allocations;
    counts.live_bytes += static_cast<std::int64_t>(malloc_usable_size(block));
    if (counts.live_bytes > counts.peak_bytes) {
        counts.peak_bytes = counts.live_bytes;
    }
}

void note_release(void* block) {
    counts.live_bytes -= static_cast<std::int64_t>(malloc_usable_size(block));
}

void* allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        note_allocation(block);
    }
    return block;
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
    void* block = std::aligned_alloc(align, rounded);
    if (block != nullptr) {
        note_allocation(block);
    }
    return block;
}

void release(void* block) {
    if (block != nullptr) {
        note_release(block);
        std::free(block);
    }
}

}  // namespace

HeapCounts heap_counts() {
    return counts;
}

void reset_heap_peak() {
    counts.peak_bytes = counts.live_bytes;
}

}  // namespace qop::bench

using qop::bench::allocate;
using qop::bench::allocate_aligned;
using qop::bench::release;

void* operator new(std::size_t size) {
    void* block = allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    void* block = allocate_aligned(size, alignment);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
    return ::operator new(size, alignment);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, alignment);
}

void operator delete(void* block) noexcept {
    release(block);
}

void operator delete[](void* block) noexcept {
    release(block);
}

void operator delete(void* block, std::size_t) noexcept {
    release(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    release(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    release(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    release(block);
}

void operator delete(void* block, std::align_val_t) noexcept {
    release(block);
}

void operator delete[](void* block, std::align_val_t) noexcept {
    release(block);
}

void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    release(block);
}

void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    release(block);
}

void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    release(block);
}

void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    release(block);
}
