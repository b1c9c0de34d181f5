// AVX2 kernels of the sorting-network median: 32 8-bit or 16 16-bit pixels per step.
#include "median/network_kernels.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct Avx2Base {
    using Vec = __m256i;
    static Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
};

struct U8 : Avx2Base {
    using T = uint8_t;
    static constexpr int32_t kLanes = 32;
    static Vec min(Vec a, Vec b) { return _mm256_min_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm256_max_epu8(a, b); }
};

struct U16 : Avx2Base {
    using T = uint16_t;
    static constexpr int32_t kLanes = 16;
    static Vec min(Vec a, Vec b) { return _mm256_min_epu16(a, b); }
    static Vec max(Vec a, Vec b) { return _mm256_max_epu16(a, b); }
};

}  // namespace

namespace kip::median {
const NetworkIsa kNetworkAvx2 = {&NetworkKernels<U8>::select,
                                 &NetworkKernels<U16>::select,
                                 &NetworkKernels<U8>::median,
                                 &NetworkKernels<U16>::median,
                                 U8::kLanes,
                                 U16::kLanes,
                                 &NetworkKernels<U8>::median3x3,
                                 &NetworkKernels<U16>::median3x3};
}

#else

namespace kip::median {
const NetworkIsa kNetworkAvx2 = {nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr};
}

#endif
