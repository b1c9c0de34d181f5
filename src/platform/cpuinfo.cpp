// Processor kind and instruction-set features, detected once per process.
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/assert.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define KIP_HAVE_CPUID 1
#endif

namespace {

std::atomic<uint32_t> gFeatureMask{0xFFFFFFFFu};

#if defined(KIP_HAVE_CPUID)
// xgetbv through asm: the intrinsic would need -mxsave on this (baseline) file.
uint64_t readXcr0() {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

ksys_cpuinfo detectX86() {
    ksys_cpuinfo info{ksys_cpuKindIntel, 0u, 1u};
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d) == 0) return info;
    const unsigned maxLeaf = a;
    char vendor[13] = {};
    std::memcpy(vendor + 0, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    if (std::strcmp(vendor, "AuthenticAMD") == 0) info.kind = ksys_cpuKindAmd;

    if (maxLeaf < 1 || __get_cpuid(1, &a, &b, &c, &d) == 0) return info;
    uint32_t f = 0;
    if (d & (1u << 26)) f |= ksys_cpuFeatureSse2;
    if (c & (1u << 0)) f |= ksys_cpuFeatureSse3;
    if (c & (1u << 9)) f |= ksys_cpuFeatureSsse3;
    if (c & (1u << 19)) f |= ksys_cpuFeatureSse41;
    if (c & (1u << 20)) f |= ksys_cpuFeatureSse42;
    if (c & (1u << 23)) f |= ksys_cpuFeaturePopcnt;

    // Wide registers are usable only when the OS saves their state on context switches (XCR0:
    // SSE and AVX state for YMM; opmask, upper ZMM and high ZMM state as well for AVX-512).
    bool ymmSaved = false, zmmSaved = false;
    if (c & (1u << 27)) {
        const uint64_t xcr0 = readXcr0();
        ymmSaved = (xcr0 & 0x6u) == 0x6u;
        zmmSaved = (xcr0 & 0xE6u) == 0xE6u;
    }
    if ((c & (1u << 28)) && ymmSaved) f |= ksys_cpuFeatureAvx;
    if ((c & (1u << 12)) && (f & ksys_cpuFeatureAvx)) f |= ksys_cpuFeatureFma;
    if ((c & (1u << 29)) && (f & ksys_cpuFeatureAvx)) f |= ksys_cpuFeatureF16c;

    if (maxLeaf >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        if ((b & (1u << 5)) && (f & ksys_cpuFeatureAvx)) f |= ksys_cpuFeatureAvx2;
        const bool avx512f = (b & (1u << 16)) && zmmSaved && (f & ksys_cpuFeatureAvx);
        if (avx512f && (b & (1u << 30))) f |= ksys_cpuFeatureAvx512bw;
        if (avx512f && (b & (1u << 31))) f |= ksys_cpuFeatureAvx512vl;
    }
    info.features = f;
    return info;
}
#endif

ksys_cpuinfo detect() {
#if defined(KIP_HAVE_CPUID)
    ksys_cpuinfo info = detectX86();
#else
    ksys_cpuinfo info{ksys_cpuKindOther, 0u, 1u};
#endif
    const unsigned n = std::thread::hardware_concurrency();
    info.logicalCores = n == 0 ? 1u : n;
    return info;
}

// Function-local static: initialised exactly once even when several threads ask first.
const ksys_cpuinfo& detected() {
    static const ksys_cpuinfo info = detect();
    return info;
}

}  // namespace

extern "C" kip_status ksys_cpuinfo_init(ksys_cpuinfo* info) {
    KIP_REQUIRE(info);
    ksys_cpuinfo result = detected();
    result.features &= gFeatureMask.load(std::memory_order_relaxed);
    *info = result;
    return 0;
}

extern "C" void ksys_cpuinfo_setFeatureMask(uint32_t mask) { gFeatureMask.store(mask, std::memory_order_relaxed); }
