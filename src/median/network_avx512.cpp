// AVX-512BW kernels of the sorting-network median: 64 8-bit or 32 16-bit pixels per step.
#include "median/network_kernels.hpp"

#if defined(__AVX512BW__)
#include <immintrin.h>

namespace {

struct Avx512Base {
    using Vec = __m512i;
    static Vec load(const void* p) { return _mm512_loadu_si512(p); }
    static void store(void* p, Vec v) { _mm512_storeu_si512(p, v); }
};

struct U8 : Avx512Base {
    using T = uint8_t;
    static constexpr int32_t kLanes = 64;
    static Vec min(Vec a, Vec b) { return _mm512_min_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm512_max_epu8(a, b); }
};

struct U16 : Avx512Base {
    using T = uint16_t;
    static constexpr int32_t kLanes = 32;
    static Vec min(Vec a, Vec b) { return _mm512_min_epu16(a, b); }
    static Vec max(Vec a, Vec b) { return _mm512_max_epu16(a, b); }
};

}  // namespace

namespace kip::median {
const NetworkIsa kNetworkAvx512 = {&NetworkKernels<U8>::select,
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
const NetworkIsa kNetworkAvx512 = {nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr};
}

#endif
