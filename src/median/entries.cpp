// Image and window entries of the median filter, with the split into horizontal bands that run
// on the job library's threads.
#include <algorithm>

#include "frame/cleanup.hpp"
#include "frame/image_entry.hpp"
#include "frame/prepared_windows.hpp"
#include "kip/platform/math.h"
#include "median/variants.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::median;

namespace {

kip_status destroyGroup(ksys_jobThreadGroup* g) { return ksys_jobThreadGroup_destruct(g); }

// One job per band of B rows; each job's source keeps halfH rows above and below its band (cut
// at the source), so its neighbourhoods are those of the whole image and the bands' results
// join seamlessly.
template <class V>
kip_status runBands(ksys_jobThreadGroup* group, int32_t threads, const kip::PreparedWindows& w,
                    const kip_filterMedianParams& params, const kip_filterMaskKernel& kernel) {
    const kimg_windowConst &source = w.source, &mask = w.mask;
    const kimg_window& destination = w.destination;
    const uint32_t maskUsed = w.maskUsed;
    const kstd_rect32 d = destination.rect, s = source.rect;
    const int32_t bandHeight = kmath_double_ceil(double(d.height) / double(threads));
    kstd_pair32 size;
    kip_status st = kip_filterMaskKernel_getSize(&kernel, &size);
    if (failed(st)) return st;
    const int32_t halfH = (size.y - 1) >> 1;

    Cleanup<3> c;
    ksys_jobParams jobParams;
    ksys_jobRequestSet requests;
    ksys_jobResultSet results;
    st = ksys_jobParams_construct(&jobParams);
    if (failed(st)) return c.finish(st);
    c.addObject<ksys_jobParams, &ksys_jobParams_destruct>(ksys_cleanupDestroyAlways, &jobParams);
    st = ksys_jobRequestSet_construct(&requests);
    if (failed(st)) return c.finish(st);
    c.addObject<ksys_jobRequestSet, &ksys_jobRequestSet_destruct>(ksys_cleanupDestroyAlways, &requests);
    st = ksys_jobResultSet_construct(&results);
    if (failed(st)) return c.finish(st);
    c.addObject<ksys_jobResultSet, &ksys_jobResultSet_destruct>(ksys_cleanupDestroyAlways, &results);

    for (int32_t i = 0; i < threads; ++i) {
        const int64_t start = int64_t{i} * bandHeight;
        // Only images much wider than tall leave trailing bands without rows: no job for them.
        if (start >= d.height) break;
        const int32_t rows = int32_t(std::min<int64_t>(bandHeight, d.height - start));
        const int64_t top = std::max<int64_t>(s.y, d.y + start - halfH);
        const int64_t bottom = std::min<int64_t>(int64_t{s.y} + s.height, d.y + start + rows + halfH);
        void* block = nullptr;
        st = ksys_memory_alloc_internal(sizeof(BandJob), &block);
        if (failed(st)) return c.finish(st);
        BandJob* band = static_cast<BandJob*>(block);
        band->maskUsed = maskUsed;
        band->params = params;
        band->kernel = kernel;
        uint32_t clipped = 0;
        st = kimg_window_window(&band->destination, &destination, d.x, int32_t(d.y + start), d.width, rows, &clipped);
        if (!failed(st))
            st = kimg_windowConst_window(&band->source, &source, s.x, int32_t(top), s.width, int32_t(bottom - top),
                                         &clipped);
        if (!failed(st) && maskUsed)
            st = kimg_windowConst_window(&band->mask, &mask, s.x, int32_t(top), s.width, int32_t(bottom - top),
                                         &clipped);
        if (!failed(st)) st = ksys_jobParams_takeData(&jobParams, block, &ksys_memory_free_internal);
        if (failed(st)) {
            ksys_memory_free_internal(&block);
            return c.finish(st);
        }
        // From here the parameters (then the request) own the block.
        st = ksys_jobRequestSet_addFuncAndParams(&requests, V::job, &jobParams);
        if (failed(st)) return c.finish(st);
    }
    st = ksys_jobThreadGroup_dispatchAndWait(group, &requests, &results);
    return c.finish(st);
}

// One band when the job library offers one thread or the image is small, else one per thread.
template <class V>
kip_status onPrepared(const kip::PreparedWindows& w, const kip_filterMedianParams& params,
                      const kip_filterMaskKernel& kernel) {
    Cleanup<1> c;
    ksys_jobThreadGroup group;
    kip_status s = ksys_jobThreadGroup_construct(&group);
    if (failed(s)) return s;
    c.addObject<ksys_jobThreadGroup, &destroyGroup>(ksys_cleanupDestroyAlways, &group);
    uint32_t threads = 1;
    s = ksys_jobGetCurrentThreadState(&threads, &group);
    if (failed(s)) return c.finish(s);
    if (threads > 1) {
        const double area = double(w.destination.rect.width) * double(w.destination.rect.height);
        threads = std::min<uint32_t>(threads, uint32_t(std::max(1, kmath_double_ceil(area / kPixelsPerJob))));
    }
    if (threads > 1)
        s = runBands<V>(&group, int32_t(threads), w, params, kernel);
    else
        s = medianStep<V>(&w.source, w.usedMask(), &params, &kernel, &w.destination);
    return c.finish(s);
}

template <class V>
kip_status windowEntry(const kimg_windowConst* source, const kimg_windowConst* mask,
                       const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                       const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    uint32_t sourceNull = 0, destinationNull = 0, maskNull = 0;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (!failed(s)) s = kimg_window_getIsNull(destination, &destinationNull);
    if (!failed(s) && mask != nullptr) s = kimg_windowConst_getIsNull(mask, &maskNull);
    if (failed(s)) return s;
    if (sourceNull || destinationNull) return kip_errImageUnbound;
    if (maskNull) mask = nullptr;
    // Refused before the mask's pre-fill can write the destination; the engines check it again.
    if (params->borderMode != kip_filterBorderTruncated) return kip_errBadMode;
    if (kip::wrongDepth(source, V::kDepth) || kip::wrongDepth(destination, V::kDepth) || kip::wrongDepth(mask, 1))
        return kimg_errDepthMismatch;

    return kip::runOnPreparedWindows(source, mask, destination, V::prepare, V::copy,
                                     [&](const kip::PreparedWindows& w) { return onPrepared<V>(w, *params, *kernel); });
}

template <class V>
kip_status imageEntry(const kimg_imageConst* source, const kimg_imageConst* mask, const kip_filterMedianParams* params,
                      const kip_filterMaskKernel* kernel, kimg_image* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    return kip::runImageEntry(source, mask, destination, V::kDepth, kip::WrittenRect::common,
                              [&](const kimg_windowConst* sw, const kimg_windowConst* mw, kimg_window* dw) {
                                  return V::window(sw, mw, params, kernel, dw);
                              });
}

}  // namespace

extern "C" {

kip_status kip_filterMedian8(const kimg_imageConst* source, const kimg_imageConst* mask,
                             const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                             kimg_image* destination) {
    return imageEntry<Variant8>(source, mask, params, kernel, destination);
}

kip_status kip_filterMedian16(const kimg_imageConst* source, const kimg_imageConst* mask,
                              const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                              kimg_image* destination) {
    return imageEntry<Variant16>(source, mask, params, kernel, destination);
}

kip_status kip_filterMedianWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                   const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                   const kimg_window* destination) {
    return windowEntry<Variant8>(source, mask, params, kernel, destination);
}

kip_status kip_filterMedianWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                    const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                    const kimg_window* destination) {
    return windowEntry<Variant16>(source, mask, params, kernel, destination);
}

}  // extern "C"
