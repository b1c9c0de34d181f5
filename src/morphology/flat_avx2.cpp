// AVX2 kernels of the separable engine: 32 bytes per instruction.
#include <array>
#include <utility>

#include "morphology/flat_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct Avx2 {
    using Vec = __m256i;
    static constexpr int32_t kBytes = 32;
    static Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static Vec and8(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    static Vec or8(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    static Vec andnot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
    static Vec ones() { return _mm256_set1_epi32(-1); }
    template <class T, bool Dilate>
    static Vec neutral() {
        return Dilate ? _mm256_setzero_si256() : ones();
    }
    template <class T, bool Dilate>
    static Vec extreme(Vec a, Vec b) {
        if constexpr (sizeof(T) == 1)
            return Dilate ? _mm256_max_epu8(a, b) : _mm256_min_epu8(a, b);
        else
            return Dilate ? _mm256_max_epu16(a, b) : _mm256_min_epu16(a, b);
    }
    template <class T>
    static Vec maskFor(const uint8_t* m) {
        if constexpr (sizeof(T) == 1)
            return load(m);
        else  // 255 sign-extends to all ones
            return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m)));
    }
};

#include "morphology/flat_simd.hpp"

}  // namespace

namespace kip::morphology {
const FlatIsa kFlatIsaAvx2 = makeFlatIsa<Avx2>();
}

#else

namespace kip::morphology {
const FlatIsa kFlatIsaAvx2 = {};
}

#endif
