// The allocator every part of the library goes through, with a fault injector and a count of
// live blocks so tests can prove that failure paths release what they took.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/assert.hpp"

namespace {

std::atomic<int64_t> gFailAfter{-1};
std::atomic<int64_t> gLiveBlocks{0};

// A quarter of physical memory: on a host that overcommits, a larger request would be granted
// and then killed when touched, so it is refused with a status instead.
uint64_t defaultAllocationLimit() {
    static const uint64_t limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return uint64_t{16} << 30;
        return uint64_t(pages) / 4 * uint64_t(pageSize);
    }();
    return limit;
}

std::atomic<uint64_t> gAllocationLimit{0};  // 0: the default above

// Counts one allocation down; true for the one that must fail. A CAS loop so that two threads
// racing on the last success cannot both fail or both pass.
bool consumeInjectedFailure() {
    int64_t left = gFailAfter.load(std::memory_order_relaxed);
    while (left >= 0) {
        const int64_t next = left == 0 ? -1 : left - 1;
        if (gFailAfter.compare_exchange_weak(left, next, std::memory_order_relaxed)) return left == 0;
    }
    return false;
}

}  // namespace

extern "C" kip_status ksys_memory_alloc_internal(size_t bytes, void** block) {
    KIP_REQUIRE(block);
    // Refused before the injector counts it: nothing was about to be allocated.
    if (uint64_t{bytes} > ksys_memory_getAllocationLimit()) return ksys_errOutOfMemory;
    if (consumeInjectedFailure()) return ksys_errOutOfMemory;
    // Sizes beyond the address space are refused here rather than handed to malloc.
    if (bytes > static_cast<size_t>(PTRDIFF_MAX)) return ksys_errOutOfMemory;
    // Zero bytes still gets a distinct block, so callers need not special-case it.
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) return ksys_errOutOfMemory;
    gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    *block = p;
    return 0;
}

extern "C" kip_status ksys_memory_free_internal(void** block) {
    KIP_REQUIRE(block);
    if (*block != nullptr) {
        std::free(*block);
        gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
        *block = nullptr;
    }
    return 0;
}

extern "C" kip_status ksys_memory_fill(void* destination, uint8_t value, size_t bytes) {
    if (bytes == 0) return 0;
    KIP_REQUIRE(destination);
    std::memset(destination, value, bytes);
    return 0;
}

extern "C" kip_status ksys_memory_copy(void* destination, const void* source, size_t bytes) {
    if (bytes == 0) return 0;
    KIP_REQUIRE(destination);
    KIP_REQUIRE(source);
    std::memmove(destination, source, bytes);
    return 0;
}

extern "C" void ksys_memory_setFailAfter(int64_t successes) {
    gFailAfter.store(successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

extern "C" int64_t ksys_memory_getFailAfter(void) { return gFailAfter.load(std::memory_order_relaxed); }

extern "C" int64_t ksys_memory_getLiveBlocks(void) { return gLiveBlocks.load(std::memory_order_relaxed); }

extern "C" void ksys_memory_setAllocationLimit(uint64_t bytes) {
    gAllocationLimit.store(bytes, std::memory_order_relaxed);
}

extern "C" uint64_t ksys_memory_getAllocationLimit(void) {
    const uint64_t limit = gAllocationLimit.load(std::memory_order_relaxed);
    return limit == 0 ? defaultAllocationLimit() : limit;
}
