// Exact truncating division of the convolution sums by the kernel's divisor d, in two forms that
// vector code computes without a divide instruction. On the fast path the sum a satisfies
// |a| <= 255 * d < 2^31 and the quotient lies in -255..255.
//
// Multiply-shift, for 1 <= d < 2^31 and 0 <= a < 2^31 (the magnitude of a signed sum):
// choose l = ceil(log2 d), s = 31 + l and m = ceil(2^s / d). Then floor(a / d) = floor(a * m / 2^s).
// Proof (Granlund and Montgomery's round-up method for 31-bit dividends): let e = m * d - 2^s;
// since m is 2^s / d rounded up, 0 <= e <= d - 1 < 2^l. Then
//   a * m / 2^s = a / d + a * e / (d * 2^s),  with  0 <= a * e / (d * 2^s) < 2^31 * 2^l / (d * 2^s) = 1 / d.
// Writing a = q * d + r with 0 <= r <= d - 1, a / d = q + r / d <= q + (d - 1) / d, so
// q <= a * m / 2^s < q + (d - 1) / d + 1 / d = q + 1, and the floor is q.
// m fits in 32 bits: for d = 2^l, m = 2^31; otherwise d >= 2^(l-1) + 1 and
// m <= 2^s / (2^(l-1) + 1) + 1 < 2^32 because l <= 31. makeExactDivider checks both facts again,
// so a wrong argument here can only make the fast path decline, never give a wrong quotient.
//
// Single precision, for 1 <= d <= 8192 (cheaper: a conversion, a multiply, an add, a truncation):
// q = trunc(float(a) * R + sign(a) * H) with R = fl(1 / d) and H = R / 2.
// Proof, for a >= 0 (a < 0 is its mirror image: every step below is odd-symmetric, and a = 0
// gives trunc(H) = 0). Let u = 2^-24, x = a / d <= 255, a = q * d + r with 0 <= r <= d - 1, and
// T = (a + 1/2) / d = q + (r + 1/2) / d, so q + 1/(2d) <= T <= q + 1 - 1/(2d).
// a <= 255 * 8192 < 2^24 converts exactly. R = (1 + b) / d and H = (1 + b) / (2d) with |b| <= u
// (correctly rounded division; halving is exact). The multiply and the add each round with a
// relative error of at most u, or a fused multiply-add rounds once, so the computed value F obeys
//   |F - T| <= x * (2u + u^2) + u / (2d) + u * (T + x * (2u + u^2) + u / (2d)) < 767 u < 4.58e-5,
// while 1 / (2d) >= 1 / 16384 > 6.1e-5. Hence q < F < q + 1 and the truncation gives q.
#pragma once

#include <cstdint>

namespace kip::convolve {

constexpr uint32_t kFloatDivisorLimit = 8192;

struct ExactDivider {
    uint32_t magic;  // m
    uint32_t shift;  // s, 31..62
};

inline bool makeExactDivider(uint32_t d, ExactDivider* out) {
    if (d == 0 || d > 0x7FFFFFFFu) return false;
    uint32_t l = 0;
    while ((uint64_t{1} << l) < d) ++l;
    const uint64_t power = uint64_t{1} << (31 + l);
    const uint64_t m = (power + d - 1) / d;
    if (m > 0xFFFFFFFFu) return false;
    const uint64_t e = m * d - power;
    if (e >= (uint64_t{1} << l)) return false;
    *out = ExactDivider{static_cast<uint32_t>(m), 31 + l};
    return true;
}

// What the vector paths compute, one lane at a time (the tests hold these to plain division).
inline int32_t exactDivide(int32_t a, const ExactDivider& d) {
    const uint32_t magnitude = a < 0 ? 0u - static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
    const uint32_t q = static_cast<uint32_t>((uint64_t{magnitude} * d.magic) >> d.shift);
    return a < 0 ? -static_cast<int32_t>(q) : static_cast<int32_t>(q);
}

inline float floatReciprocal(uint32_t d) { return 1.0f / static_cast<float>(d); }

inline int32_t floatDivide(int32_t a, float reciprocal) {
    const float x = static_cast<float>(a);
    const float scaled = x * reciprocal;
    const float half = 0.5f * reciprocal;
    return static_cast<int32_t>(scaled + (a < 0 ? -half : half));
}

}  // namespace kip::convolve
