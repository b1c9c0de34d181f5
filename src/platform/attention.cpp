// Process-wide cancellation flag that long-running loops poll.
#include <atomic>

#include "kip/platform/system.h"

namespace {
std::atomic<uint32_t> gRequested{0};
}

extern "C" kip_status ksys_attention_check(void) {
    return gRequested.load(std::memory_order_relaxed) != 0 ? ksys_errCancelled : 0;
}

extern "C" void ksys_attention_setRequested(uint32_t requested) {
    gRequested.store(requested != 0 ? 1u : 0u, std::memory_order_relaxed);
}
