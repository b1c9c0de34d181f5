// Assertion report with a replaceable handler.
#include "platform/assert.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kip/platform/system.h"

namespace {

using Handler = void (*)(int32_t line);

// Any thread may assert while a test swaps the handler.
std::atomic<Handler> gHandler{nullptr};

// Where the failing check is, for the default handler; the handler's signature carries the line
// alone. Per thread, since any thread may assert.
thread_local const char* tFile = nullptr;
thread_local const char* tFunction = nullptr;

// The path from the source tree's top ("src/convolve/params.cpp"), not the build machine's.
const char* shortPath(const char* file) {
    const char* at = std::strstr(file, "/src/");
    return at ? at + 1 : file;
}

}  // namespace

extern "C" void kstd_assert_(int32_t line) {
    Handler handler = gHandler.load(std::memory_order_acquire);
    const char* file = tFile;
    const char* function = tFunction;
    tFile = tFunction = nullptr;
    if (handler != nullptr) {
        handler(line);
        return;
    }
    if (file && function)
        std::fprintf(stderr, "kip: assertion failed in %s (%s:%d)\n", function, shortPath(file),
                     static_cast<int>(line));
    else
        std::fprintf(stderr, "kip: assertion failed at line %d\n", static_cast<int>(line));
    std::fflush(stderr);
    std::abort();
}

void kip::assertionFailed(const char* file, const char* function, int32_t line) {
    tFile = file;
    tFunction = function;
    kstd_assert_(line);
}

extern "C" void kstd_assert_setHandler(void (*handler)(int32_t line)) {
    gHandler.store(handler, std::memory_order_release);
}
