// The sorting-network median. Per destination row: sort the columns of the source rows it
// covers, pad both ends of the sorted rows, then, per destination pixel, prune the w sorted
// columns by central selections over their wrapped diagonals until one value per column is left,
// and take the median of those (network_kernels.hpp, one block of pixels at a time in registers).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "frame/cleanup.hpp"
#include "frame/isa.hpp"
#include "kip/platform/image.h"
#include "median/median_internal.hpp"
#include "median/network_isa.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

using namespace kip::median;

// The networks take at most this many inputs; the scalar selection more.
constexpr int32_t kMaxScalarInputs = 64;

template <class T>
constexpr T kMaxValue = T(~T(0));

template <class T>
struct Kernels {
    SelectFn<T> select = nullptr;
    MedianRowFn<T> median = nullptr;
    int32_t lanes = 0;
    Median3Fn<T> median3x3 = nullptr;
};

// The widest instruction set the processor has, behind the 8-bit (SSE2) or 16-bit (SSE4.1) base.
template <class T>
Kernels<T> chooseKernels(const ksys_cpuinfo& info) {
    if (info.kind != ksys_cpuKindIntel && info.kind != ksys_cpuKindAmd) return {};
    const bool eightBit = sizeof(T) == 1;
    if (!kip::isaOffered(info, eightBit ? kip::Isa::Sse2 : kip::Isa::Sse41)) return {};
    auto from = [](const NetworkIsa& isa) {
        if constexpr (sizeof(T) == 1)
            return Kernels<T>{isa.select8, isa.median8, isa.lanes8, isa.median3x3_8};
        else
            return Kernels<T>{isa.select16, isa.median16, isa.lanes16, isa.median3x3_16};
    };
    if (kip::isaOffered(info, kip::Isa::Avx512) && from(kNetworkAvx512).select) return from(kNetworkAvx512);
    if (kip::isaOffered(info, kip::Isa::Avx2) && from(kNetworkAvx2).select) return from(kNetworkAvx2);
    return from(eightBit ? kNetworkSse2 : kNetworkSse41);
}

template <class T>
int compareUnsigned(const void* a, const void* b) {
    const T x = *static_cast<const T*>(a), y = *static_cast<const T*>(b);
    return (x > y) - (x < y);
}

// Counts without a network (in practice one source row): sort each column's values.
template <class T>
void scalarSelect(const T* const* in, int32_t n, T* out, intptr_t pitch, int32_t k, int32_t width) {
    T values[kMaxScalarInputs];
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t i = 0; i < n; ++i) values[i] = in[i][x];
        std::qsort(values, size_t(n), sizeof(T), &compareUnsigned<T>);
        for (int32_t j = 0; j < k; ++j) out[j * pitch + x] = values[(n - k) / 2 + j];
    }
}

template <class T>
struct RowMedian {
    Kernels<T> kernels;
    int32_t w;       // kernel width, odd, 3..9
    int32_t width;   // destination width, at least w - 1
    intptr_t pitch;  // of the scratch rows, in pixels
    T* sorted;       // n rows

    // One destination row from n source rows (n odd, at most 9).
    void run(const T* const* rows, int32_t n, T* out) const {
        const int32_t rx = (w - 1) / 2, ry = (n - 1) / 2;
        if (!kernels.select(rows, n, sorted + rx, pitch, n, width)) scalarSelect(rows, n, sorted + rx, pitch, n, width);
        // Outside the row each sorted column holds ry minima, ry maxima and a middle value that
        // alternates from the minimum outwards: a window that reaches past one end then holds as
        // many extra minima as maxima, or one minimum more when its real count is even, which
        // makes the result the (lower) median of the real values. Windows reaching past both
        // ends would break this; the entry declines such narrow rows.
        const T* starts[9];
        for (int32_t i = 0; i < n; ++i) {
            T* row = sorted + i * pitch;
            for (int32_t j = 0; j < rx; ++j) {
                const T pad = i < ry || (i == ry && j % 2 == 0) ? T(0) : kMaxValue<T>;
                row[rx - 1 - j] = pad;
                row[rx + width + j] = pad;
            }
            starts[i] = row;
        }
        const bool done = kernels.median(starts, n, w, out, width);
        KIP_ASSERT(done);
    }
};

// The lower median of the in-window part of a 3 x 3 neighbourhood at column x of three rows.
template <class T>
T median3x3At(const T* const* rows, int32_t x, int32_t width) {
    T values[9];
    int32_t n = 0;
    for (int32_t i = 0; i < 3; ++i)
        for (int32_t c = std::max(0, x - 1); c <= std::min(width - 1, x + 1); ++c) values[n++] = rows[i][c];
    std::nth_element(values, values + (n - 1) / 2, values + n);
    return values[(n - 1) / 2];
}

template <class T>
const T* rowOf(const kimg_windowConst& win, int64_t y) {
    return static_cast<const T*>(win.pixels) + (y - win.rect.y) * int64_t{win.stride};
}

template <class T>
kip_status imagePass(const kimg_windowConst& source, int32_t w, int32_t h, const kimg_window& destination,
                     const Kernels<T>& kernels) {
    if (w < 3 || h < 3 || w > 9 || h > 9) return kip_errNotAvailable;
    KIP_ASSERT(w % 2 == 1 && h % 2 == 1);
    const kstd_rect32 s = source.rect, d = destination.rect;
    const int32_t W = d.width;
    if (W <= 0 || d.height <= 0) return 0;
    // Rows narrower than the kernel less one would see padding from both ends.
    if (W + 1 < w) return kip_errNotAvailable;
    // Geometry the driver guarantees; anything else is left to the rank route.
    if (source.bytesPerPixel != int32_t{sizeof(T)} || destination.bytesPerPixel != int32_t{sizeof(T)} || s.x != d.x ||
        s.width < W || d.y < s.y || int64_t{d.y} + d.height > int64_t{s.y} + s.height)
        return kip_errNotAvailable;

    const int32_t lanes = kernels.lanes;
    const int32_t ry = (h - 1) / 2;
    // Room for eight whole blocks past the end of every row (the 9-wide rows split whole blocks
    // of columns past it); rows of a source whose stride is a multiple of 1024 pixels are moved
    // off the cache sets the source rows map to.
    const int64_t margin = source.stride % 1024 == 0 ? 224 : 0;
    const int64_t pitch = (std::max<int64_t>(W, lanes) + w - 1 + 8 * lanes + margin + lanes - 1) / lanes * lanes;
    const int32_t workRows = h;
    // Source rows narrower than a block are copied, so no block reads past the source.
    const int32_t staged = W < lanes ? h : 0;
    const int64_t rows = workRows + 3 + staged;
    const int64_t bytes = rows * pitch * int64_t{sizeof(T)} + 64;

    void* block = nullptr;
    kip_status st = ksys_memory_alloc_internal(size_t(bytes), &block);
    if (failed(st)) return st;
    Cleanup<1> c;
    c.addBlock<void>(ksys_cleanupFreeAlways, &block);
    // Zeroed, so that lanes past the row ends compute on defined values.
    st = ksys_memory_fill(block, 0, size_t(bytes));
    if (failed(st)) return c.finish(st);
    uintptr_t address = reinterpret_cast<uintptr_t>(block);
    T* base = reinterpret_cast<T*>((address + 63) / 64 * 64);
    T* alternating = base + workRows * pitch;
    T* resultEven = alternating + pitch;
    T* resultOdd = resultEven + pitch;
    T* stage = resultOdd + pitch;
    for (int64_t i = 1; i < pitch; i += 2) alternating[i] = kMaxValue<T>;

    const RowMedian<T> median{kernels, w, W, intptr_t(pitch), base};
    // With an even row count, one extra alternating row of minima and maxima, started so that
    // every window holds one minimum more, gives the lower median; the phase decides which
    // start serves even and which odd columns.
    const int32_t phase = ((w + 1) / 2) % 2;
    const int64_t firstSource = s.y, endSource = int64_t{s.y} + s.height;
    // 3 x 3 rows with all three source rows go straight from the source, two at a time; the
    // blocks cover columns 1 .. W - 2, the two end columns are done here.
    const bool direct3 = w == 3 && h == 3 && kernels.median3x3 != nullptr && W >= lanes + 2;
    const T* in[10];
    for (int64_t y = d.y; y < int64_t{d.y} + d.height; ++y) {
        const int64_t top = std::max(firstSource, y - ry), bottom = std::min(endSource, y + ry + 1);
        const int32_t n = int32_t(bottom - top);
        if (direct3 && n == 3) {
            const int32_t count = y + 1 < int64_t{d.y} + d.height && y + 3 <= endSource ? 2 : 1;
            T* out[2];
            for (int32_t i = 0; i < count + 2; ++i) in[i] = rowOf<T>(source, top + i);
            for (int32_t j = 0; j < count; ++j) {
                out[j] = static_cast<T*>(destination.pixels) + (y + j - d.y) * int64_t{destination.stride};
                out[j][0] = median3x3At<T>(in + j, 0, W);
                out[j][W - 1] = median3x3At<T>(in + j, W - 1, W);
            }
            kernels.median3x3(in, count, out, W);
            y += count - 1;
            continue;
        }
        for (int32_t i = 0; i < n; ++i) {
            in[i] = rowOf<T>(source, top + i);
            if (staged) {
                st = ksys_memory_copy(stage + i * pitch, in[i], sizeof(T) * size_t(W));
                if (failed(st)) return c.finish(st);
                in[i] = stage + i * pitch;
            }
        }
        T* out = static_cast<T*>(destination.pixels) + (y - d.y) * int64_t{destination.stride};
        if (n % 2 == 1) {
            median.run(in, n, out);
            continue;
        }
        in[n] = alternating + (1 - phase);
        median.run(in, n + 1, resultEven);
        in[n] = alternating + phase;
        median.run(in, n + 1, resultOdd);
        for (int32_t x = 0; x < W; ++x) out[x] = x % 2 ? resultOdd[x] : resultEven[x];
    }
    return c.finish(0);
}

template <class T>
kip_status networkMedian(const kimg_windowConst* source, const kimg_windowConst* mask,
                         const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                         const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    ksys_cpuinfo info;
    kip_status s = ksys_cpuinfo_init(&info);
    if (failed(s)) return s;
    const Kernels<T> kernels = chooseKernels<T>(info);
    if (kernels.select == nullptr) return kip_errNotAvailable;
    if (params->borderMode != kip_filterBorderTruncated) return kip_errNotAvailable;
    if (mask != nullptr) {
        uint32_t isNull = 0;
        s = kimg_windowConst_getIsNull(mask, &isNull);
        if (failed(s)) return s;
        if (!isNull) return kip_errNotAvailable;
    }
    uint32_t rectangular = 0;
    s = kip_filterMaskKernel_getIsRectangular(kernel, &rectangular);
    if (failed(s)) return s;
    if (!rectangular) return kip_errNotAvailable;
    kstd_pair32 size;
    s = kip_filterMaskKernel_getSize(kernel, &size);
    if (failed(s)) return s;
    return imagePass<T>(*source, size.x, size.y, *destination, kernels);
}

template <class T>
kip_status selectCentral(const T* const* inputs, int32_t n, T* output, int32_t outputPitch, int32_t k, int32_t width) {
    KIP_REQUIRE(inputs);
    KIP_REQUIRE(output);
    if (n < 1 || n > kMaxScalarInputs || k < 1 || k > n || k % 2 == 0 || width < 0) return kstd_errInvalidArgument;
    for (int32_t i = 0; i < n; ++i) KIP_REQUIRE(inputs[i]);
    ksys_cpuinfo info;
    kip_status s = ksys_cpuinfo_init(&info);
    if (failed(s)) return s;
    const Kernels<T> kernels = chooseKernels<T>(info);
    if (kernels.select == nullptr || !kernels.select(inputs, n, output, outputPitch, k, width))
        scalarSelect(inputs, n, output, outputPitch, k, width);
    return 0;
}

}  // namespace

extern "C" {

kip_status kip_filterMedianNetwork8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                     const kimg_window* destination) {
    return networkMedian<uint8_t>(source, mask, params, kernel, destination);
}

kip_status kip_filterMedianNetwork16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                      const kimg_window* destination) {
    return networkMedian<uint16_t>(source, mask, params, kernel, destination);
}

kip_status kip_selectCentral8_(const uint8_t* const* inputs, int32_t n, uint8_t* output, int32_t outputPitch, int32_t k,
                               int32_t width) {
    return selectCentral(inputs, n, output, outputPitch, k, width);
}

kip_status kip_selectCentral16_(const uint16_t* const* inputs, int32_t n, uint16_t* output, int32_t outputPitch,
                                int32_t k, int32_t width) {
    return selectCentral(inputs, n, output, outputPitch, k, width);
}

}  // extern "C"
