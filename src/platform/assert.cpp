// Assertion report with a replaceable handler.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "kip/platform/system.h"

namespace {

using Handler = void (*)(int32_t line);

// Any thread may assert while a test swaps the handler.
std::atomic<Handler> gHandler{nullptr};

}  // namespace

extern "C" void kstd_assert_(int32_t line) {
    Handler handler = gHandler.load(std::memory_order_acquire);
    if (handler != nullptr) {
        handler(line);
        return;
    }
    std::fprintf(stderr, "kip: assertion failed at line %d\n", static_cast<int>(line));
    std::fflush(stderr);
    std::abort();
}

extern "C" void kstd_assert_setHandler(void (*handler)(int32_t line)) {
    gHandler.store(handler, std::memory_order_release);
}
