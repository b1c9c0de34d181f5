// AVX2 kernels of the sorting-network median: 32 8-bit or 16 16-bit pixels per step.
#include "median/network_kernels.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct Avx2Base {
    using Vec = __m256i;
    static Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    // The packs and unpacks work within 128-bit halves; the permutes put the halves in order.
    static void zipHalves(Vec lo128, Vec hi128, Vec& lo, Vec& hi) {
        lo = _mm256_permute2x128_si256(lo128, hi128, 0x20);
        hi = _mm256_permute2x128_si256(lo128, hi128, 0x31);
    }
    static Vec orderPacked(Vec v) { return _mm256_permute4x64_epi64(v, 0xd8); }
};

struct U8 : Avx2Base {
    using T = uint8_t;
    static constexpr int32_t kLanes = 32;
    static Vec min(Vec a, Vec b) { return _mm256_min_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm256_max_epu8(a, b); }
    static void split(Vec a, Vec b, Vec& even, Vec& odd) {
        const Vec low = _mm256_set1_epi16(0xff);
        even = orderPacked(_mm256_packus_epi16(_mm256_and_si256(a, low), _mm256_and_si256(b, low)));
        odd = orderPacked(_mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8)));
    }
    static void zip(Vec even, Vec odd, Vec& lo, Vec& hi) {
        zipHalves(_mm256_unpacklo_epi8(even, odd), _mm256_unpackhi_epi8(even, odd), lo, hi);
    }
};

struct U16 : Avx2Base {
    using T = uint16_t;
    static constexpr int32_t kLanes = 16;
    static Vec min(Vec a, Vec b) { return _mm256_min_epu16(a, b); }
    static Vec max(Vec a, Vec b) { return _mm256_max_epu16(a, b); }
    static void split(Vec a, Vec b, Vec& even, Vec& odd) {
        const Vec low = _mm256_set1_epi32(0xffff);
        even = orderPacked(_mm256_packus_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low)));
        odd = orderPacked(_mm256_packus_epi32(_mm256_srli_epi32(a, 16), _mm256_srli_epi32(b, 16)));
    }
    static void zip(Vec even, Vec odd, Vec& lo, Vec& hi) {
        zipHalves(_mm256_unpacklo_epi16(even, odd), _mm256_unpackhi_epi16(even, odd), lo, hi);
    }
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
