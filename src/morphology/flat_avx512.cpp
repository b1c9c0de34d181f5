// AVX-512BW kernels of the separable engine: 64 bytes per instruction.
#include <array>
#include <utility>

#include "morphology/flat_isa.hpp"

#if defined(__AVX512BW__)
#include <immintrin.h>

namespace {

struct Avx512 {
    using Vec = __m512i;
    static constexpr int32_t kBytes = 64;
    static Vec load(const void* p) { return _mm512_loadu_si512(p); }
    static void store(void* p, Vec v) { _mm512_storeu_si512(p, v); }
    static Vec and8(Vec a, Vec b) { return _mm512_and_si512(a, b); }
    static Vec or8(Vec a, Vec b) { return _mm512_or_si512(a, b); }
    // Not _mm512_andnot_si512: its undefined pass-through trips GCC 12's uninitialised-use warning.
    static Vec andnot(Vec a, Vec b) { return _mm512_and_si512(_mm512_xor_si512(a, ones()), b); }
    static Vec ones() { return _mm512_set1_epi32(-1); }
    template <class T, bool Dilate>
    static Vec neutral() {
        return Dilate ? _mm512_setzero_si512() : ones();
    }
    template <class T, bool Dilate>
    static Vec extreme(Vec a, Vec b) {
        if constexpr (sizeof(T) == 1)
            return Dilate ? _mm512_max_epu8(a, b) : _mm512_min_epu8(a, b);
        else
            return Dilate ? _mm512_max_epu16(a, b) : _mm512_min_epu16(a, b);
    }
    template <class T>
    static Vec maskFor(const uint8_t* m) {
        if constexpr (sizeof(T) == 1)
            return load(m);
        else  // 255 sign-extends to all ones
            return _mm512_cvtepi8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(m)));
    }
};

#include "morphology/flat_simd.hpp"

}  // namespace

namespace kip::morphology {
const FlatIsa kFlatIsaAvx512 = makeFlatIsa<Avx512>();
}

#else

namespace kip::morphology {
const FlatIsa kFlatIsaAvx512 = {};
}

#endif
