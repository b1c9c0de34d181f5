// The columns and rows a destination row's footprints cover, for the drivers that read the source
// directly: inside the source the pixels themselves, outside it (mirrored mode) their reflection.
#pragma once

#include <cstdint>

#include "frame/geometry.hpp"

namespace kip::convolve {

class Span {
public:
    // Columns [x0 - hx, x0 + width + hx) in client coordinates.
    Span(const kimg_windowConst& source, int64_t x0, int32_t width, int32_t kw)
        : source_(source), start_(x0 - (kw - 1) / 2 - source.rect.x), width_(int64_t{width} + kw - 1) {
        const int64_t w = source.rect.width;
        inBegin_ = start_ < 0 ? (-start_ < width_ ? -start_ : width_) : 0;
        inEnd_ = w - start_ < width_ ? w - start_ : width_;
        if (inEnd_ < inBegin_) inEnd_ = inBegin_;
    }

    int64_t width() const { return width_; }
    // Span columns [inBegin(), inEnd()) lie inside the source.
    int64_t inBegin() const { return inBegin_; }
    int64_t inEnd() const { return inEnd_; }
    // The span column inside the source that column c reflects to; it lies in [inBegin(), inEnd())
    // when the destination row lies over the source (each side reflects onto columns no further
    // in than the kernel's half-width, all inside the span).
    int64_t reflected(int64_t c) const { return reflect(start_ + c, source_.rect.width) - start_; }
    int64_t outerCount() const { return width_ - (inEnd_ - inBegin_); }
    // table[k] := the reflected column of the k-th column outside the source, left side first.
    // Computed once per call: reflect divides, and wide margins would pay it on every row.
    void mapOuter(int32_t* table) const {
        int64_t k = 0;
        for (int64_t c = 0; c < inBegin_; ++c) table[k++] = static_cast<int32_t>(reflected(c));
        for (int64_t c = inEnd_; c < width_; ++c) table[k++] = static_cast<int32_t>(reflected(c));
    }
    // values[c] := values[reflected(c)] for every column outside the source, by mapOuter's table.
    template <class T>
    void fillOuter(T* values, const int32_t* table) const {
        int64_t k = 0;
        for (int64_t c = 0; c < inBegin_; ++c) values[c] = values[table[k++]];
        for (int64_t c = inEnd_; c < width_; ++c) values[c] = values[table[k++]];
    }
    // Source row y (client coordinates; reflected into the source when mirror), from the span's
    // first column inside the source.
    const uint8_t* row(int64_t y, bool mirror) const {
        const kstd_rect32& s = source_.rect;
        const int64_t v = mirror ? s.y + reflect(y - s.y, s.height) : y;
        return pixelAt<uint8_t>(source_, s.x + start_ + inBegin_, v);
    }

private:
    const kimg_windowConst& source_;
    int64_t start_;  // relative to the source's left edge
    int64_t width_;
    int64_t inBegin_, inEnd_;
};

}  // namespace kip::convolve
