#include "reference/convolve_reference.hpp"

#include <algorithm>

namespace kipref {

namespace {

// Folds an index back into 0..n-1 as a mirror would, one reflection at a time.
int64_t fold(int64_t i, int64_t n) {
    while (i < 0 || i >= n) i = i < 0 ? -1 - i : 2 * n - 1 - i;
    return i;
}

}  // namespace

ConvolveResult referenceConvolve(const ConvolveCase& c) {
    const kstd_rect32 s = c.source;
    const int64_t mx = c.borderMode == 0 ? c.kw / 2 : 0;
    const int64_t my = c.borderMode == 0 ? c.kh / 2 : 0;
    int64_t x0 = s.x + mx, y0 = s.y + my, x1 = int64_t{s.x} + s.width - mx, y1 = int64_t{s.y} + s.height - my;
    if (c.destination.width > 0 && c.destination.height > 0) {
        x0 = std::max<int64_t>(x0, c.destination.x);
        y0 = std::max<int64_t>(y0, c.destination.y);
        x1 = std::min<int64_t>(x1, int64_t{c.destination.x} + c.destination.width);
        y1 = std::min<int64_t>(y1, int64_t{c.destination.y} + c.destination.height);
    }
    ConvolveResult out;
    if (x1 <= x0 || y1 <= y0) return out;
    out.rect = kstd_rect32{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};

    int64_t positive = 0, negative = 0;
    for (int32_t w : c.weights) {
        if (w > 0)
            positive += w;
        else
            negative -= w;
    }
    const uint32_t divisor32 = c.signedKernel ? std::max(uint32_t(positive), uint32_t(negative)) : uint32_t(positive);
    const int64_t divisor = int32_t(divisor32);

    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x) {
            int64_t acc = 0;
            for (int32_t j = 0; j < c.kh; ++j)
                for (int32_t i = 0; i < c.kw; ++i) {
                    const int64_t sx = fold(x - c.kw / 2 + i - s.x, s.width);
                    const int64_t sy = fold(y - c.kh / 2 + j - s.y, s.height);
                    acc += int64_t{c.pixels[size_t(sy * s.width + sx)]} *
                           c.weights[size_t((c.kh - 1 - j) * c.kw + (c.kw - 1 - i))];
                }
            const int64_t q = divisor == 0 ? 0 : int64_t{int32_t(uint32_t(acc))} / divisor;
            out.values.push_back(c.signedKernel ? uint16_t(q) : uint8_t(q));
        }
    return out;
}

}  // namespace kipref
