// The box convolution path: with every weight w, the accumulator is w times the window's pixel
// sum and the quotient by the norm |w| x n is sign(w) x floor(sum / n). Column sums move down by
// one entering and one leaving row, window sums come from a prefix of the column sums, so the
// cost per pixel does not depend on the kernel's size.
#include <cstring>
#include <type_traits>

#include "convolve/box_isa.hpp"
#include "convolve/convolve_internal.hpp"
#include "convolve/isa_choice.hpp"
#include "convolve/span.hpp"
#include "frame/cleanup.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using kip::Isa;
using kip::mutablePixelAt;
using kip::pixelAt;
using namespace kip::convolve;

namespace {

constexpr uint64_t kMaxScratchBytes = uint64_t{64} << 20;

template <class Weight, class Out>
kip_status boxConvolve(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                       const kimg_window* destination, bool mirror) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    int32_t weight = 0;
    if (!isBoxKernel(*kernel, &weight) || weight == 0) return kip_errNotAvailable;
    Division unused;
    kip_status s = admitExact(*source, *kernel, divisor, *destination, mirror, sizeof(Weight), sizeof(Out), &unused);
    if (failed(s)) return s;
    const kstd_rect32 r = destination->rect;
    if (mirror && !kip::containsRect(source->rect, r.x, r.y, r.width, r.height)) return kip_errNotAvailable;
    const int32_t kw = kernel->rect.width, kh = kernel->rect.height;
    const int64_t n = int64_t{kw} * kh;
    // Only the norm itself reduces the quotient to floor(sum / n).
    if (int64_t{divisor} != (weight < 0 ? -int64_t{weight} : int64_t{weight}) * n) return kip_errNotAvailable;
    Division division;
    if (!makeDivision(static_cast<uint32_t>(n), &division)) return kip_errNotAvailable;
    const BoxIsa* isa = nullptr;
    s = selectBoxIsa(&isa);
    if (failed(s)) return s;
    if (isa == nullptr) return kip_errNotAvailable;

    const Span span(*source, r.x, r.width, kw);
    const int64_t prefixSlots = (r.width > kBoxBlock ? r.width : kBoxBlock) + int64_t{kw} + 1;
    const uint64_t columnBytes = (uint64_t(span.width()) * 4 + 63) / 64 * 64;
    const uint64_t prefixBytes = (uint64_t(prefixSlots) * 4 + 63) / 64 * 64;
    const uint64_t bytes = 64 + columnBytes + prefixBytes + uint64_t(span.outerCount()) * 4;
    if (bytes > kMaxScratchBytes) return kip_errNotAvailable;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(static_cast<size_t>(bytes), &block);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addBlock<void>(ksys_cleanupFreeAlways, &block);
    uint8_t* base = static_cast<uint8_t*>(block);
    base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
    uint32_t* columns = reinterpret_cast<uint32_t*>(base);
    uint32_t* prefix = reinterpret_cast<uint32_t*>(base + columnBytes);
    int32_t* outer = reinterpret_cast<int32_t*>(base + columnBytes + prefixBytes);
    // Prefix slots past the span are read by the last blocks but never stored.
    std::memset(base, 0, static_cast<size_t>(columnBytes + prefixBytes));
    span.mapOuter(outer);

    const BoxRow row{
        prefix,        kw, r.width, weight < 0 ? 1 : 0, division.useFloat, division.reciprocal, division.magic,
        division.shift};
    const int64_t hy = (kh - 1) / 2;
    const int64_t in0 = span.inBegin(), in1 = span.inEnd();
    const int32_t inside = static_cast<int32_t>(in1 - in0);
    for (int64_t y = r.y; y < int64_t{r.y} + r.height; ++y) {
        if (y == r.y) {
            for (int64_t v = y - hy; v <= y + hy; ++v) isa->update(columns + in0, span.row(v, mirror), nullptr, inside);
        } else {
            isa->update(columns + in0, span.row(y + hy, mirror), span.row(y - hy - 1, mirror), inside);
        }
        span.fillOuter(columns, outer);
        // Column sums stay below 255 x kh; their running prefix may wrap, differences do not.
        isa->scan(columns, static_cast<int32_t>(span.width()), prefix);
        Out* out = mutablePixelAt<Out>(*destination, r.x, y);
        if constexpr (sizeof(Out) == 1)
            isa->row8(row, out);
        else
            isa->row16(row, reinterpret_cast<int16_t*>(out));
    }
    return c.finish(0);
}

}  // namespace

namespace kip::convolve {

bool isBoxKernel(const kimg_windowConst& kernel, int32_t* weight) {
    KIP_REQUIRE(weight);
    const int32_t kw = kernel.rect.width, kh = kernel.rect.height;
    if (kw <= 0 || kh <= 0 || (kernel.bytesPerPixel != 1 && kernel.bytesPerPixel != 2)) return false;
    // Whole rows at a time: large boxes are checked on every call.
    auto uniform = [&](auto* first) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(first)>>;
        first = pixelAt<T>(kernel, kernel.rect.x, kernel.rect.y);
        const T w = first[0];
        for (int32_t j = 0; j < kh; ++j) {
            const T* row = pixelAt<T>(kernel, kernel.rect.x, int64_t{kernel.rect.y} + j);
            int32_t differ = 0;  // or-ed differences: a loop the compiler vectorises
            for (int32_t i = 0; i < kw; ++i) differ |= row[i] ^ w;
            if (differ != 0) return false;
        }
        *weight = w;
        return true;
    };
    return kernel.bytesPerPixel == 1 ? uniform(static_cast<const uint8_t*>(nullptr))
                                     : uniform(static_cast<const int16_t*>(nullptr));
}

kip_status selectBoxIsa(const BoxIsa** isa) {
    KIP_REQUIRE(isa);
    return selectWidest(isa, {{Isa::Avx512, &kBoxIsaAvx512}, {Isa::Avx2, &kBoxIsaAvx2}, {Isa::Sse2, &kBoxIsaSse2}},
                        [](const BoxIsa& t) { return t.update != nullptr; });
}

}  // namespace kip::convolve

extern "C" {

kip_status kip_filterConvolveBox8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                                       const kimg_window* destination, uint32_t mirror) {
    return boxConvolve<uint8_t, uint8_t>(source, kernel, divisor, destination, mirror != 0);
}

kip_status kip_filterConvolveBox8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                           int32_t divisor, const kimg_window* destination, uint32_t mirror) {
    return boxConvolve<int16_t, uint16_t>(source, kernel, divisor, destination, mirror != 0);
}

}  // extern "C"
