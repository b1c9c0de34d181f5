// The exact division of exact_divider.hpp in vector form, written once over a vector policy V
// (lanes_*.hpp). Each instruction-set file instantiates it with its own policy, so no code built
// for one set is shared with another.
#pragma once

#include <cstdint>

namespace kip::convolve {

template <class V>
struct Divide {
    using I = typename V::I;
    using F = typename V::F;

    // The division constants of one call in vector form. The exact form serves divisors beyond
    // kFloatDivisorLimit only, so its shift is at least 32 and only the products' high halves count.
    struct Divisor {
        I magic;
        decltype(V::count(0)) shiftHigh;
        F reciprocal, half;
    };

    static Divisor make(float reciprocal, uint32_t magic, uint32_t shift) {
        const F r = V::setF(reciprocal);
        return Divisor{V::set32(static_cast<int32_t>(magic)), V::count(shift - 32), r, V::mulF(r, V::setF(0.5f))};
    }

    // Truncation toward zero: divide the magnitude, give back the sign. The accumulator never
    // reaches -2^31 on these paths, so the magnitude fits.
    template <bool Signed>
    static I exact(I acc, const Divisor& d) {
        if constexpr (Signed) {
            const I sign = V::sign32(acc);
            const I q = V::srl32(V::mulHigh32(V::abs32(acc), d.magic), d.shiftHigh);
            return V::sub32(V::bitXor(q, sign), sign);
        } else {
            return V::srl32(V::mulHigh32(acc, d.magic), d.shiftHigh);
        }
    }

    // The same through single precision: acc * (1/d) pushed half a step away from zero, truncated.
    template <bool Signed>
    static I viaFloat(I acc, const Divisor& d) {
        F bias = d.half;
        if constexpr (Signed) bias = V::asFloat(V::bitOr(V::asInt(d.half), V::bitAnd(acc, V::set32(INT32_MIN))));
        return V::truncate(V::addF(V::mulF(V::toFloat(acc), d.reciprocal), bias));
    }

    template <bool Signed, bool Float>
    static I quotient(I acc, const Divisor& d) {
        if constexpr (Float)
            return viaFloat<Signed>(acc, d);
        else
            return exact<Signed>(acc, d);
    }
};

}  // namespace kip::convolve
