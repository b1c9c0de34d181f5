// Flat elements with a mask, computed from the element's horizontal runs with the bits the rank
// route gives. Each source row gets running extremes over 1, 2, 4, ... pixels by doubling; a run
// of length L is then the extreme of two overlapping 2^k windows, and a destination row is the
// extreme of those pairs over the element's rows (all through the separable engine's two-row and
// many-row vector kernels). Positions outside the rectangle contribute the neutral value.
//
// The rank route's answers that neutral padding alone does not give: an empty neighbourhood
// yields 0 without image mask (only erosion differs, so its gaps are found per row from the run
// geometry); with an image mask a pixel whose centre is excluded or whose neighbourhood is empty
// keeps the source value, found by dilating the image mask with the same runs.
//
// Declined (kip_errNotAvailable): border mode other than 1, a kernel without members, windows
// that differ in rectangle or share memory, no vector instruction set, scratch beyond the limit.
#include <algorithm>
#include <cstring>

#include "frame/cleanup.hpp"
#include "morphology/flat_isa.hpp"
#include "morphology/variants.hpp"
#include "platform/assert.hpp"
#include "platform/rect.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::morphology;

namespace {

constexpr uint64_t kMaxScratchBytes = uint64_t{1} << 31;
// Every kernel's vector width in pixels is at most this; computed lengths are rounded up to it.
constexpr int64_t kWidest = 64;

struct Run {
    int32_t dy, dx;  // source offset of the run's leftmost member
    int32_t length;
    int32_t level;  // 2^level <= length < 2^(level + 1)
};

struct Interval {
    int32_t from, to;
};

// The members of the half-turned kernel as runs, ordered by row; returns their count (runs may
// be null to count only) and the longest run's length.
int32_t collectRuns(const kimg_windowConst& km, Run* runs, int32_t* longest) {
    const int32_t kw = km.rect.width, kh = km.rect.height, hw = kw >> 1, hh = kh >> 1;
    int32_t n = 0;
    *longest = 0;
    for (int32_t j = kh - 1; j >= 0; --j) {
        const uint8_t* row = static_cast<const uint8_t*>(km.pixels) + int64_t{j} * km.stride;
        // Mask column i lands at source offset hw - i: walk i downwards so dx grows.
        for (int32_t i = kw - 1; i >= 0;) {
            if (!row[i]) {
                --i;
                continue;
            }
            const int32_t first = i;
            while (i >= 0 && row[i]) --i;
            *longest = std::max(*longest, first - i);
            if (runs) {
                Run& r = runs[n];
                r.dy = hh - j;
                r.dx = hw - first;
                r.length = first - i;
                r.level = 0;
                while ((int64_t{2} << r.level) <= r.length) ++r.level;
            }
            ++n;
        }
    }
    return n;
}

template <class V>
class RunsEngine {
    using T = typename V::Pixel;

public:
    RunsEngine(const kimg_windowConst& source, const kimg_windowConst* mask, const kimg_window& output, bool dilate,
               const FlatIsa& isa)
        : s_(source), mask_(mask), d_(output), dilate_(dilate) {
        if constexpr (sizeof(T) == 1)
            pick_ = isa.col8[dilate ? 1 : 0], lanes_ = isa.lanes8;
        else
            pick_ = isa.col16[dilate ? 1 : 0], lanes_ = isa.lanes16;
        pickMask_ = isa.col8[1];
    }

    kip_status run(const kimg_windowConst& km, int32_t runCount, int32_t longest) {
        const int32_t width = s_.rect.width, height = s_.rect.height;
        Cleanup<1> c;
        kip_status s = allocate(km, runCount, longest, width, height, c);
        if (failed(s)) return c.finish(s);
        int32_t computed = 0;
        for (int32_t y = 0; y < height && !failed(s); ++y) {
            const int64_t need = std::min<int64_t>(height - 1, int64_t{y} + dyMax_);
            for (; computed <= need; ++computed) {
                if ((computed & 255) == 0) {
                    s = ksys_attention_check();
                    if (failed(s)) break;
                }
                buildLevels(computed);
            }
            if (!failed(s)) combine(y);
        }
        return c.finish(s);
    }

private:
    kip_status allocate(const kimg_windowConst& km, int32_t runCount, int32_t longest, int32_t width, int32_t height,
                        Cleanup<1>& c) {
        const uint64_t runBytes =
            uint64_t(runCount) * (sizeof(Run) + sizeof(Interval) + 2 * sizeof(T*) + 2 * sizeof(uint8_t*)) +
            2 * sizeof(T*) + 2 * sizeof(uint8_t*);
        const int32_t kw = km.rect.width;
        levels_ = 0;
        while ((int64_t{2} << levels_) <= longest) ++levels_;
        padLeft_ = std::max<int64_t>(kw >> 1, int64_t{1} << levels_);
        const int64_t padRight = (kw >> 1) + (int64_t{1} << levels_) + kWidest;
        pitch_ = (padLeft_ + std::max<int64_t>(width, kWidest) + padRight + kWidest - 1) / kWidest * kWidest;
        const uint64_t perSlot = uint64_t(levels_ + 1) * uint64_t(pitch_) * (sizeof(T) + (mask_ ? 1 : 0));
        // Slots for the rows the element spans (at most the image's), plus the neutral, output and
        // selection rows.
        const int64_t span = std::min<int64_t>(int64_t{km.rect.height}, height);
        const uint64_t rowBytes = uint64_t(pitch_) * (2 * sizeof(T) + 2);
        if (perSlot > kMaxScratchBytes / uint64_t(span) || runBytes > kMaxScratchBytes) return kip_errNotAvailable;
        const uint64_t total = runBytes + perSlot * uint64_t(span) + rowBytes + 64;
        if (total > kMaxScratchBytes) return kip_errNotAvailable;

        void* block = nullptr;
        kip_status s = ksys_memory_alloc_internal(size_t(total), &block);
        if (failed(s)) return s;
        block_ = static_cast<uint8_t*>(block);
        c.addBlock(ksys_cleanupFreeAlways, &block_);

        // Pixel rows first (64-byte aligned when the block is), then the small arrays.
        uint8_t* p = block_;
        levelRows_ = reinterpret_cast<T*>(p);
        p += uint64_t(span) * uint64_t(levels_ + 1) * uint64_t(pitch_) * sizeof(T);
        neutralRow_ = reinterpret_cast<T*>(p);
        p += uint64_t(pitch_) * sizeof(T);
        outRow_ = reinterpret_cast<T*>(p);
        p += uint64_t(pitch_) * sizeof(T);
        maskLevelRows_ = p;
        if (mask_) p += uint64_t(span) * uint64_t(levels_ + 1) * uint64_t(pitch_);
        zeroRow_ = p;
        p += uint64_t(pitch_);
        selection_ = p;
        p += uint64_t(pitch_);
        p += (64 - reinterpret_cast<uintptr_t>(p) % 64) % 64;
        runs_ = reinterpret_cast<Run*>(p);
        p += uint64_t(runCount) * sizeof(Run);
        intervals_ = reinterpret_cast<Interval*>(p);
        p += uint64_t(runCount) * sizeof(Interval);
        rows_ = reinterpret_cast<const T**>(p);
        p += (2 * uint64_t(runCount) + 2) * sizeof(T*);
        maskRows_ = reinterpret_cast<const uint8_t**>(p);

        runCount_ = collectRuns(km, runs_, &longest);
        dyMax_ = runs_[0].dy;
        for (int32_t i = 0; i < runCount_; ++i) dyMax_ = std::max(dyMax_, runs_[i].dy);
        slots_ = int32_t(span);
        const T neutral = dilate_ ? T(0) : T(~T(0));
        std::fill(levelRows_, levelRows_ + uint64_t(span) * uint64_t(levels_ + 1) * uint64_t(pitch_), neutral);
        std::fill(neutralRow_, neutralRow_ + pitch_, neutral);
        if (mask_) std::memset(maskLevelRows_, 0, size_t(uint64_t(span) * uint64_t(levels_ + 1) * uint64_t(pitch_)));
        std::memset(zeroRow_, 0, size_t(pitch_));
        return 0;
    }

    T* level(int64_t row, int32_t k) const {
        return levelRows_ + (int64_t(row % slots_) * (levels_ + 1) + k) * pitch_ + padLeft_;
    }
    uint8_t* maskLevel(int64_t row, int32_t k) const {
        return maskLevelRows_ + (int64_t(row % slots_) * (levels_ + 1) + k) * pitch_ + padLeft_;
    }

    // Level k of source row y holds at column x the extreme of columns x .. x + 2^k - 1.
    void buildLevels(int32_t y) {
        const int32_t width = s_.rect.width;
        const T* src = rowOf<T>(s_, y);
        T* base = level(y, 0);
        if (mask_) {
            const uint8_t* m = rowOf<uint8_t>(*mask_, y);
            uint8_t* mb = maskLevel(y, 0);
            const T neutral = dilate_ ? T(0) : T(~T(0));
            // Any non-zero mask value selects, as on the rank route.
            for (int32_t x = 0; x < width; ++x) {
                mb[x] = m[x] ? 255 : 0;
                base[x] = m[x] ? src[x] : neutral;
            }
        } else {
            std::memcpy(base, src, size_t(width) * sizeof(T));
        }
        for (int32_t k = 1; k <= levels_; ++k) {
            const int64_t half = int64_t{1} << (k - 1), from = 1 - (int64_t{2} << (k - 1));
            const int32_t length = int32_t(std::max<int64_t>(width - from, kWidest));
            const T* prev = level(y, k - 1) + from;
            const T* rows[2] = {prev, prev + half};
            pick_(rows, 2, nullptr, nullptr, length, level(y, k) + from);
            if (mask_) {
                const uint8_t* mprev = maskLevel(y, k - 1) + from;
                const uint8_t* mrows[2] = {mprev, mprev + half};
                pickMask_(mrows, 2, nullptr, nullptr, length, maskLevel(y, k) + from);
            }
        }
    }

    // f(run, source row) for the runs whose row lies in the image when centred on row y.
    template <class F>
    void forRunsInRows(int32_t y, F&& f) const {
        for (int32_t i = 0; i < runCount_; ++i) {
            const int64_t sy = int64_t{y} + runs_[i].dy;
            if (sy >= 0 && sy < s_.rect.height) f(runs_[i], sy);
        }
    }

    void combine(int32_t y) {
        const int32_t width = s_.rect.width;
        int32_t n = 0;
        forRunsInRows(y, [&](const Run& r, int64_t sy) {
            const int32_t second = r.length - (1 << r.level);
            const T* a = level(sy, r.level) + r.dx;
            rows_[n] = a;
            if (mask_) maskRows_[n] = maskLevel(sy, r.level) + r.dx;
            ++n;
            if (second) {
                rows_[n] = a + second;
                if (mask_) maskRows_[n] = maskRows_[n - 1] + second;
                ++n;
            }
        });
        if (n == 0) {
            rows_[0] = neutralRow_;
            maskRows_[0] = zeroRow_;
            n = 1;
        }
        const T* src = rowOf<T>(s_, y);
        T* out = mutableRowOf<T>(d_, y);
        const bool wide = width >= lanes_;
        if (!mask_) {
            pick_(rows_, n, nullptr, nullptr, wide ? width : lanes_, wide ? out : outRow_);
            if (!wide) std::memcpy(out, outRow_, size_t(width) * sizeof(T));
            if (!dilate_) zeroEmpty(y, out);
            return;
        }
        // Written where the centre is selected and some neighbour is; elsewhere the source stays.
        pickMask_(maskRows_, n, nullptr, nullptr, int32_t(std::max<int64_t>(width, kWidest)), selection_);
        const uint8_t* m = rowOf<uint8_t>(*mask_, y);
        for (int32_t x = 0; x < width; ++x) selection_[x] = m[x] ? selection_[x] : 0;
        if (wide) {
            pick_(rows_, n, src, selection_, width, out);
            return;
        }
        pick_(rows_, n, nullptr, nullptr, lanes_, outRow_);
        for (int32_t x = 0; x < width; ++x) out[x] = selection_[x] ? outRow_[x] : src[x];
    }

    // Without image mask the rank route answers 0 for an empty neighbourhood; the neutral value
    // already is 0 for dilation. Column x of row y is covered by a run when some member lands in
    // the row, that is -(dx + length - 1) <= x <= width - 1 - dx.
    void zeroEmpty(int32_t y, T* out) {
        const int32_t width = s_.rect.width;
        int32_t n = 0;
        bool whole = false;  // a run over the origin's column covers the row
        forRunsInRows(y, [&](const Run& r, int64_t) {
            const int64_t from = std::max<int64_t>(0, -(int64_t{r.dx} + r.length - 1));
            const int64_t to = std::min<int64_t>(width - 1, int64_t{width} - 1 - r.dx);
            whole = whole || (from == 0 && to == width - 1);
            if (from <= to) intervals_[n++] = Interval{int32_t(from), int32_t(to)};
        });
        if (whole) return;
        std::sort(intervals_, intervals_ + n, [](const Interval& a, const Interval& b) { return a.from < b.from; });
        int32_t next = 0;
        for (int32_t i = 0; i < n && next < width; ++i) {
            for (int32_t x = next; x < intervals_[i].from; ++x) out[x] = 0;
            next = std::max(next, intervals_[i].to + 1);
        }
        for (int32_t x = next; x < width; ++x) out[x] = 0;
    }

    const kimg_windowConst& s_;
    const kimg_windowConst* mask_;
    const kimg_window& d_;
    bool dilate_;
    ColKernel<T> pick_ = nullptr;
    ColKernel<uint8_t> pickMask_ = nullptr;
    int32_t lanes_ = 0;
    int32_t levels_ = 0, slots_ = 0, runCount_ = 0, dyMax_ = 0;
    int64_t padLeft_ = 0, pitch_ = 0;
    uint8_t* block_ = nullptr;
    T* levelRows_ = nullptr;
    T* neutralRow_ = nullptr;
    T* outRow_ = nullptr;
    uint8_t* maskLevelRows_ = nullptr;
    uint8_t* zeroRow_ = nullptr;
    uint8_t* selection_ = nullptr;
    Run* runs_ = nullptr;
    Interval* intervals_ = nullptr;
    const T** rows_ = nullptr;
    const uint8_t** maskRows_ = nullptr;
};

template <class V>
kip_status runs(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_filterMorphologyParams* params,
                const kip_filterMorphologyStructuringElement* element, int32_t dilate, const kimg_window* output) {
    using T = typename V::Pixel;
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    if (params->borderMode != kip_filterBorderTruncated) return kip_errNotAvailable;
    uint32_t isNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &isNull);
    if (failed(s) || isNull) return failed(s) ? s : kip_errNotAvailable;
    const kimg_windowConst* useMask = nullptr;
    if (mask) {
        s = kimg_windowConst_getIsNull(mask, &isNull);
        if (failed(s)) return s;
        if (!isNull) useMask = mask;
    }
    using kip::sameRect;
    if (!sameRect(source->rect, output->rect) || source->bytesPerPixel != int32_t{sizeof(T)} ||
        output->bytesPerPixel != int32_t{sizeof(T)} ||
        (useMask && (!sameRect(useMask->rect, source->rect) || useMask->bytesPerPixel != 1)))
        return kip_errNotAvailable;
    if (source->rect.width <= 0 || source->rect.height <= 0) return 0;
    // The rank route reads through a scratch copy when memory is shared; so does nobody here.
    if (failed(kip_pelfunc_checkMemoryOverlap(source, output)) ||
        (useMask && failed(kip_pelfunc_checkMemoryOverlap(useMask, output))))
        return kip_errNotAvailable;

    kimg_windowConst km;
    s = kimg_windowConst_init(&km, &element->kernel.mask);
    if (failed(s)) return s;
    if (km.bytesPerPixel != 1 || km.rect.width % 2 != 1 || km.rect.height % 2 != 1) return kip_errNotAvailable;
    int32_t longest = 0;
    const int32_t runCount = collectRuns(km, nullptr, &longest);
    if (runCount == 0) return kip_errNotAvailable;

    const FlatIsa* isa = nullptr;
    s = selectFlatIsa(source->rect.width, sizeof(T) == 2, true, &isa);
    if (failed(s)) return s;
    RunsEngine<V> engine(*source, useMask, *output, dilate != 0, *isa);
    return engine.run(km, runCount, longest);
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyRuns8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_filterMorphologyParams* params,
                                      const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                      const kimg_window* output) {
    return runs<Variant8>(source, mask, params, element, dilate, output);
}

kip_status kip_filterMorphologyRuns16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                       const kip_filterMorphologyParams* params,
                                       const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                       const kimg_window* output) {
    return runs<Variant16>(source, mask, params, element, dilate, output);
}

}  // extern "C"
