// Rectangles and windows: the kernel split on rectangles anywhere in the 32-bit plane (checked
// to tile the clipped window with a maximal centre), the window and image preparation of the
// filter entries on overlapping windows of one image, and window restriction near the ends of
// the 32-bit range.
#include <algorithm>

#include "fuzz_support.hpp"

using namespace kipfuzz;

namespace {

int64_t coordinate(Input& in) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 6:
            return INT32_MAX - in.ConsumeIntegralInRange<int64_t>(0, 40);
        case 7:
            return INT32_MIN + in.ConsumeIntegralInRange<int64_t>(0, 40);
        default:
            return in.ConsumeIntegralInRange(-12, 12);
    }
}

kstd_rect32 anyRect(Input& in) {
    const int32_t x = int32_t(coordinate(in)), y = int32_t(coordinate(in));
    const int32_t w =
        in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-2, 40);
    const int32_t h =
        in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-2, 40);
    return {x, y, w, h};
}

bool contains(const kstd_rect32& r, int64_t x, int64_t y) {
    return r.width > 0 && r.height > 0 && x >= r.x && x < int64_t(r.x) + r.width && y >= r.y &&
           y < int64_t(r.y) + r.height;
}

void split(Input& in) {
    const kstd_rect32 window = anyRect(in), clip = anyRect(in);
    const kstd_pair32 size{kernelSide(in), kernelSide(in)};
    const kstd_pair32 offset{
        in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-6, 6),
        in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-6, 6)};
    kstd_rect32 piece[5];
    const kip_status s =
        kip_filterCommon_gcrRect(&window, &clip, &size, &offset, &piece[0], &piece[1], &piece[2], &piece[3], &piece[4]);
    checkStatus(s, "gcrRect");
    if (kip_status_isFailure(s)) return;
    // Only odd positive sizes with offsets inside the kernel have the footprint the split assumes.
    if (size.x <= 0 || size.y <= 0 || size.x % 2 == 0 || size.y % 2 == 0) return;
    const int64_t left = size.x / 2 + int64_t(offset.x), right = size.x / 2 - int64_t(offset.x);
    const int64_t top = size.y / 2 + int64_t(offset.y), bottom = size.y / 2 - int64_t(offset.y);
    if (left < 0 || right < 0 || top < 0 || bottom < 0) return;
    // Every piece lies in window and clip.
    for (const kstd_rect32& p : piece) {
        if (p.width <= 0 || p.height <= 0) continue;
        FUZZ_CHECK(contains(clip, p.x, p.y));
        FUZZ_CHECK(contains(clip, int64_t(p.x) + p.width - 1, int64_t(p.y) + p.height - 1));
        // With a null centre the left and right strips split at x = 0 and only the clip bounds
        // them; otherwise every piece lies in the window too.
        if (piece[0].width > 0 && piece[0].height > 0) {
            FUZZ_CHECK(contains(window, p.x, p.y));
            FUZZ_CHECK(contains(window, int64_t(p.x) + p.width - 1, int64_t(p.y) + p.height - 1));
        }
    }
    // Pixels of window and clip together: each lies in exactly one piece, and in the centre
    // exactly when its whole footprint lies in the window. Checked on a bounded sample.
    const int64_t x0 = std::max<int64_t>(window.x, clip.x), y0 = std::max<int64_t>(window.y, clip.y);
    const int64_t x1 =
        std::min<int64_t>(int64_t(window.x) + std::max(window.width, 0), int64_t(clip.x) + std::max(clip.width, 0));
    const int64_t y1 =
        std::min<int64_t>(int64_t(window.y) + std::max(window.height, 0), int64_t(clip.y) + std::max(clip.height, 0));
    for (int64_t y = y0; y < std::min(y1, y0 + 48); ++y)
        for (int64_t x = x0; x < std::min(x1, x0 + 48); ++x) {
            if (!contains(window, x, y) || !contains(clip, x, y)) continue;
            int hits = 0;
            for (const kstd_rect32& p : piece) hits += contains(p, x, y);
            FUZZ_CHECK(hits == 1);
            const bool inside = contains(window, x - left, y - top) && contains(window, x + right, y + bottom);
            FUZZ_CHECK(contains(piece[0], x, y) == inside);
        }
}

bool sameRect(const kstd_rect32& a, const kstd_rect32& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

void prepareWindows(Run& run) {
    Input& in = run.in;
    Scene& scene = run.scene();
    const uint32_t depth = in.ConsumeBool() ? 1 : 2;
    Img* source = scene.freshOrShared(depth);
    if (!source) return;
    Img* mask = scene.mask(*source);
    Img* destination = scene.destination(*source, mask, depth);
    if (!destination) return;
    const kimg_window s = scene.window(in.ConsumeIntegralInRange(0, 15) ? source : nullptr);
    const kimg_window m = scene.window(mask), d = scene.window(destination);
    kimg_window os, om, od;
    uint32_t nothing = 7, used = 7, overlap = 7;
    Img scratch;
    const kip_status st = run.call({destination}, [&] {
        return (depth == 1 ? kip_filterInitializeGCRWindow8_ : kip_filterInitializeGCRWindow16_)(
            &s, mask ? &m : nullptr, &d, &os, &om, &od, &nothing, &used, &overlap, &scratch.h);
    });
    if (kip_status_isFailure(st) || nothing) return;
    kstd_rect32 common;
    uint32_t empty;
    FUZZ_CHECK(kimg_windowConst_gcr(&s, &d, &common, &empty) == 0 && !empty);
    FUZZ_CHECK(sameRect(os.rect, common) && sameRect(od.rect, common));
    FUZZ_CHECK(used == uint32_t(mask && m.pixels != nullptr));
    if (used) FUZZ_CHECK(sameRect(om.rect, common) && windowBytes(os) == windowBytes(od));
    kimg_window dc = d;
    uint32_t clipped;
    FUZZ_CHECK(kimg_window_windowRect(&dc, &common, &clipped) == 0);
    const bool shares =
        kip_pelfunc_checkMemoryOverlap(&os, &dc) != 0 || (used && kip_pelfunc_checkMemoryOverlap(&om, &dc) != 0);
    FUZZ_CHECK(overlap == uint32_t(shares));
    if (overlap) FUZZ_CHECK(od.image != d.image);
}

void prepareImages(Run& run) {
    Input& in = run.in;
    Scene& scene = run.scene();
    const uint32_t depth = in.ConsumeBool() ? 1 : 2;
    Img* source = in.ConsumeIntegralInRange(0, 15) ? scene.fresh(depth) : scene.unbound();
    if (!source) return;
    Img* mask = scene.mask(*source);
    Img* destination = scene.destination(*source, mask, depth);
    if (!destination) return;
    kimg_window os, om, od;
    uint32_t nothing = 7;
    const uint32_t asked = in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<uint32_t>() : depth;
    const kip_status st = run.call({destination}, [&] {
        return kip_filterInitializeWindow_(&source->h, mask ? &mask->h : nullptr, &destination->h, &os, &om, &od,
                                           &nothing, asked);
    });
    if (kip_status_isFailure(st) || nothing) return;
    kstd_rect32 sr, dr;
    FUZZ_CHECK(kimg_image_getWindow(&source->h, &sr) == 0 && kimg_image_getWindow(&destination->h, &dr) == 0);
    FUZZ_CHECK(sameRect(os.rect, sr) && sameRect(od.rect, dr));
}

// Windows restricted and images moved near the ends of the 32-bit range stay inside their storage.
void restrictions(Run& run) {
    Input& in = run.in;
    Scene& scene = run.scene();
    Img* image = scene.fresh(in.ConsumeBool() ? 1 : 2);
    if (!image) return;
    const kstd_rect32 r = anyRect(in);
    uint32_t clipped;
    kimg_window w = scene.window(image);
    checkStatus(kimg_window_window(&w, &w, r.x, r.y, r.width, r.height, &clipped), "window");
    if (w.pixels) {
        kstd_rect32 b;
        FUZZ_CHECK(kimg_image_getBounds(&image->h, &b) == 0);
        FUZZ_CHECK(contains(b, w.rect.x, w.rect.y));
        FUZZ_CHECK(contains(b, int64_t(w.rect.x) + w.rect.width - 1, int64_t(w.rect.y) + w.rect.height - 1));
    }
    const kip_status m = kimg_image_setOrigin(&image->h, int32_t(coordinate(in)), int32_t(coordinate(in)));
    checkStatus(m, "setOrigin");
    checkStatus(kimg_image_setWindowRect(&image->h, &r, &clipped), "setWindowRect");
    kstd_rect32 wr, b;
    FUZZ_CHECK(kimg_image_getWindow(&image->h, &wr) == 0 && kimg_image_getBounds(&image->h, &b) == 0);
    // The storage always lies inside the 32-bit plane.
    FUZZ_CHECK(int64_t(b.x) + b.width <= INT32_MAX && int64_t(b.y) + b.height <= INT32_MAX);
    if (wr.width > 0 && wr.height > 0) FUZZ_CHECK(contains(b, wr.x, wr.y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run run(data, size, false);
    switch (run.in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            split(run.in);
            break;
        case 1:
            prepareWindows(run);
            break;
        case 2:
            prepareImages(run);
            break;
        default:
            restrictions(run);
    }
    return 0;
}
