// Run-length images, encoded kernels and mask kernels built from masks the bytes choose (any
// geometry, any window, the wrong depth), under one injected allocation failure: every step is
// checked against a plain reading of the mask's pixels.
#include <vector>

#include "fuzz_support.hpp"
#include "reference/kernel_reference.hpp"

using namespace kipfuzz;

namespace {

// The window's pixels row-major (w x h).
std::vector<uint16_t> pixels(const kimg_window& w) {
    std::vector<uint16_t> out;
    for (int32_t y = 0; y < w.rect.height; ++y)
        for (int32_t x = 0; x < w.rect.width; ++x)
            out.push_back(static_cast<const uint8_t*>(w.pixels)[intptr_t(y) * w.stride + x]);
    return out;
}

// Rows of the run-length image hold runs of 1..255 that add up to the width, then a 0 run.
void checkRows(const kip_rleImage8& rle) {
    const kip_rleRow8* rows;
    int32_t count;
    FUZZ_CHECK(kstd_vector_kip_rleRow8_getBeginSize32Const(&rle.rows, &rows, &count) == 0);
    FUZZ_CHECK(count == rle.height);
    for (int32_t r = 0; r < count; ++r) {
        int64_t sum = 0;
        int32_t i = 0;
        for (; i < rows[r].count - 1; ++i) {
            FUZZ_CHECK(rows[r].runs[i].length >= 1);
            sum += rows[r].runs[i].length;
        }
        FUZZ_CHECK(rows[r].runs[i].length == 0);
        FUZZ_CHECK(sum == rle.width);
    }
}

// Decodes rle and compares with expected(x, y) over a width x height grid.
template <class F>
void checkDecoded(Run& run, const kip_rleImage8& rle, int32_t width, int32_t height, F expected) {
    Img out;
    if (kip_status_isFailure(run.call({}, [&] { return kip_rleImage8_decode(&rle, &out.h); }))) return;
    if (width == 0 || height == 0) {
        FUZZ_CHECK(imageBytes(out.h).empty());  // an empty image decodes as unbound
        return;
    }
    kimg_window w;
    FUZZ_CHECK(kimg_window_init(&w, &out.h) == 0);
    FUZZ_CHECK(w.rect.width == width && w.rect.height == height);
    const std::vector<uint16_t> got = pixels(w);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) FUZZ_CHECK(got[size_t(y) * width + x] == expected(x, y));
}

void checkEncoded(const kip_filterMaskKernelEncoded& e, const std::vector<uint16_t>& m, int32_t w, int32_t h) {
    bool full = true;
    for (uint16_t v : m) full = full && v != 0;
    FUZZ_CHECK(e.rectangular == uint32_t(full));
    const kstd_pair32 *enter, *leave;
    int32_t ne, nl;
    FUZZ_CHECK(kstd_vector_kstd_pair32_getBeginSize32Const(&e.entering, &enter, &ne) == 0);
    FUZZ_CHECK(kstd_vector_kstd_pair32_getBeginSize32Const(&e.leaving, &leave, &nl) == 0);
    if (full) {
        FUZZ_CHECK(ne == 0 && nl == 0);
        return;
    }
    const std::vector<kipref::Stretch> stretches = kipref::maskStretches(m, w, h);
    FUZZ_CHECK(size_t(ne) == stretches.size() && size_t(nl) == stretches.size());
    for (size_t i = 0; i < stretches.size(); ++i) {
        FUZZ_CHECK(leave[i].x == stretches[i].column && leave[i].y == stretches[i].top);
        FUZZ_CHECK(enter[i].x == stretches[i].column && enter[i].y == stretches[i].bottom);
    }
}

void checkOffsets(Run& run, const kip_filterMaskKernelEncoded& e, int32_t stride, bool entering) {
    kstd_vector32s offsets;
    const kip_status s = run.call({}, [&] {
        return (entering ? kip_filterMaskKernelEncoded_createEnteringOffsets
                         : kip_filterMaskKernelEncoded_createLeavingOffsets)(&e, stride, &offsets);
    });
    if (kip_status_isFailure(s)) return;
    const kstd_pair32* pos;
    int32_t n, no;
    const int32_t* off;
    FUZZ_CHECK(kstd_vector_kstd_pair32_getBeginSize32Const(entering ? &e.entering : &e.leaving, &pos, &n) == 0);
    FUZZ_CHECK(kstd_vector32s_getBeginSize32Const(&offsets, &off, &no) == 0);
    FUZZ_CHECK(n == no);
    for (int32_t i = 0; i < n; ++i)
        FUZZ_CHECK(uint32_t(off[i]) == uint32_t(pos[i].y) * uint32_t(stride) + uint32_t(pos[i].x));
    FUZZ_CHECK(kstd_vector32s_destruct(&offsets) == 0);
}

void body(Run& run) {
    Input& in = run.in;
    Scene& scene = run.scene();
    Img* image = scene.fresh(in.ConsumeIntegralInRange(0, 15) ? 1 : 2);
    if (!image) return;
    const kimg_window win = scene.window(image);
    const bool deep = image->depth != 1;
    const bool empty = !win.pixels || win.rect.width <= 0 || win.rect.height <= 0;
    const int32_t w = empty ? 0 : win.rect.width, h = empty ? 0 : win.rect.height;
    const std::vector<uint16_t> m = deep || empty ? std::vector<uint16_t>{} : pixels(win);
    auto at = [&](int32_t x, int32_t y) { return m[size_t(y) * w + x]; };

    // Run-length forms of the window.
    const int form = in.ConsumeIntegralInRange(0, 3);
    kip_rleImage8 rle;
    const kip_status s = run.call({}, [&] {
        switch (form) {
            case 0:
                return kip_rleImage8_constructWindow(&rle, &win);
            case 1:
                return kip_rleImage8_constructWindowTranspose(&rle, &win);
            case 2:
                return kip_rleImage8_constructWindowReflectAndTranspose(&rle, &win);
            default:
                return kip_rleImage8_constructImage(&rle, &image->h);
        }
    });
    // A 16-bit window is refused unless it is empty (an empty one encodes as empty).
    if (deep && form != 3 && !empty) FUZZ_CHECK(s == kimg_errDepthMismatch || s == ksys_errOutOfMemory);
    if (!kip_status_isFailure(s)) {
        checkRows(rle);
        if (form == 0) checkDecoded(run, rle, w, h, at);
        if (form == 1) checkDecoded(run, rle, h, w, [&](int32_t x, int32_t y) { return at(y, x); });
        if (form == 2) checkDecoded(run, rle, h, w, [&](int32_t x, int32_t y) { return at(w - 1 - y, h - 1 - x); });
        // A half turn made twice, and a transpose made twice, give the image back.
        kip_rleImage8 other;
        if (run.call({}, [&] { return kip_rleImage8_constructCopy(&other, &rle); }) == 0) {
            const bool turn = in.ConsumeBool();
            const kip_status t = run.call({}, [&] {
                kip_status r = turn ? kip_rleImage8_reflect(&rle, &other) : kip_rleImage8_transpose(&rle, &other);
                if (r == 0) r = turn ? kip_rleImage8_reflect(&other, &other) : kip_rleImage8_transpose(&other, &other);
                return r;
            });
            if (t == 0 && form == 0) {
                checkRows(other);
                checkDecoded(run, other, w, h, at);
            }
            FUZZ_CHECK(kip_rleImage8_destruct(&other) == 0);
        }
        FUZZ_CHECK(kip_rleImage8_destruct(&rle) == 0);
    }

    // Mask kernels and their encoded form.
    kip_filterMaskKernel* kernel = nullptr;
    const kip_status k = run.call({}, [&] { return kip_filterMaskKernel_newWithMask(&kernel, &image->h); });
    if (kip_status_isFailure(k)) {
        FUZZ_CHECK(kernel == nullptr);
        return;
    }
    kstd_pair32 size;
    FUZZ_CHECK(kip_filterMaskKernel_getSize(kernel, &size) == 0);
    // The kernel takes the image's window; the checks below read the image's own window.
    kimg_window full;
    FUZZ_CHECK(kimg_window_init(&full, &image->h) == 0);
    FUZZ_CHECK(size.x == full.rect.width && size.y == full.rect.height);
    const std::vector<uint16_t> km = pixels(full);
    checkEncoded(kernel->encoded, km, size.x, size.y);
    const int32_t stride =
        in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-64, 64);
    checkOffsets(run, kernel->encoded, stride, in.ConsumeBool());
    kip_filterMaskKernel* clone = nullptr;
    if (run.call({}, [&] { return kip_filterMaskKernel_newClone(&clone, kernel); }) == 0) {
        uint32_t equal = 0;
        FUZZ_CHECK(kip_filterMaskKernel_compareEqual(clone, kernel, &equal) == 0 && equal == 1);
        checkEncoded(clone->encoded, km, size.x, size.y);
        // A size change is all-or-nothing.
        const kstd_pair32 next{kernelSide(in), kernelSide(in)};
        const kip_status r = run.call({}, [&] { return kip_filterMaskKernel_setSize(clone, &next); });
        kstd_pair32 now;
        FUZZ_CHECK(kip_filterMaskKernel_getSize(clone, &now) == 0);
        if (kip_status_isFailure(r))
            FUZZ_CHECK(now.x == size.x && now.y == size.y && clone->encoded.rectangular == kernel->encoded.rectangular);
        else
            FUZZ_CHECK(now.x == next.x && now.y == next.y && clone->encoded.rectangular == 1);
        FUZZ_CHECK(kip_filterMaskKernel_delete(&clone) == 0);
    }
    FUZZ_CHECK(kip_filterMaskKernel_delete(&kernel) == 0 && kernel == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run run(data, size, false);
    body(run);
    return 0;
}
