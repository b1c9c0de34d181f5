// AVX-512BW kernels of the sorting-network median: 64 8-bit or 32 16-bit pixels per step.
#include "median/network_kernels.hpp"

#if defined(__AVX512BW__)
#include <immintrin.h>

namespace {

struct Avx512Base {
    using Vec = __m512i;
    static Vec load(const void* p) { return _mm512_loadu_si512(p); }
    static void store(void* p, Vec v) { _mm512_storeu_si512(p, v); }
    // The packs and unpacks work within 128-bit lanes; the permutes put the lanes in order. The
    // zero-masked forms spare GCC's false "uninitialized" warning on the plain ones.
    static void zipLanes(Vec lo128, Vec hi128, Vec& lo, Vec& hi) {
        lo = _mm512_permutex2var_epi64(lo128, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), hi128);
        hi = _mm512_permutex2var_epi64(lo128, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), hi128);
    }
    static Vec orderPacked(Vec v) {
        return _mm512_maskz_permutexvar_epi64(0xff, _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), v);
    }
};

struct U8 : Avx512Base {
    using T = uint8_t;
    static constexpr int32_t kLanes = 64;
    static Vec min(Vec a, Vec b) { return _mm512_min_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm512_max_epu8(a, b); }
    static void split(Vec a, Vec b, Vec& even, Vec& odd) {
        const Vec low = _mm512_set1_epi16(0xff);
        even = orderPacked(_mm512_packus_epi16(_mm512_and_si512(a, low), _mm512_and_si512(b, low)));
        odd = orderPacked(_mm512_packus_epi16(_mm512_maskz_srli_epi16(~0u, a, 8), _mm512_maskz_srli_epi16(~0u, b, 8)));
    }
    static void zip(Vec even, Vec odd, Vec& lo, Vec& hi) {
        zipLanes(_mm512_unpacklo_epi8(even, odd), _mm512_unpackhi_epi8(even, odd), lo, hi);
    }
};

struct U16 : Avx512Base {
    using T = uint16_t;
    static constexpr int32_t kLanes = 32;
    static Vec min(Vec a, Vec b) { return _mm512_min_epu16(a, b); }
    static Vec max(Vec a, Vec b) { return _mm512_max_epu16(a, b); }
    static void split(Vec a, Vec b, Vec& even, Vec& odd) {
        const Vec low = _mm512_set1_epi32(0xffff);
        even = orderPacked(_mm512_packus_epi32(_mm512_and_si512(a, low), _mm512_and_si512(b, low)));
        odd = orderPacked(
            _mm512_packus_epi32(_mm512_maskz_srli_epi32(0xffff, a, 16), _mm512_maskz_srli_epi32(0xffff, b, 16)));
    }
    static void zip(Vec even, Vec odd, Vec& lo, Vec& hi) {
        zipLanes(_mm512_unpacklo_epi16(even, odd), _mm512_unpackhi_epi16(even, odd), lo, hi);
    }
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
