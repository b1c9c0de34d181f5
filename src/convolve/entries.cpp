// Image and window entries of the two convolution variants.
#include "convolve/variants.hpp"
#include "frame/cleanup.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::convolve;

namespace {

struct Margins {
    int32_t x;
    int32_t y;
};

// The clipped mode loses the kernel's half-size on each side; the mirrored mode nothing.
Margins marginsFor(uint32_t borderMode, const kstd_rect32& kernel) {
    if (borderMode != kip_filterBorderClipped) return Margins{0, 0};
    return Margins{(kernel.width - 1) / 2, (kernel.height - 1) / 2};
}

// The destination pixels a call writes: the source shrunk by the margins, cut to a destination
// of positive extent. isNull = 1 when there are none.
kip_status resultRect(const kstd_rect32& s, Margins m, const kstd_rect32& d, kstd_rect32* r, uint32_t* isNull) {
    kstd_rect32 result = s;
    if (m.x != 0 || m.y != 0) {
        const int64_t width = int64_t{s.width} - 2 * int64_t{m.x};
        const int64_t height = int64_t{s.height} - 2 * int64_t{m.y};
        // A source smaller than the kernel leaves nothing; its position no longer matters.
        if (width <= 0 || height <= 0)
            result = kstd_rect32{0, 0, 0, 0};
        else
            result = kstd_rect32{s.x + m.x, s.y + m.y, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    }
    kip_status st = 0;
    if (d.width >= 1 && d.height >= 1) st = kstd_rect32_intersect(&result, &d);
    if (!failed(st)) st = kstd_rect32_getIsNull(&result, isNull);
    if (!failed(st)) *r = result;
    return st;
}

template <class V>
kip_status windowEntry(const kimg_windowConst* source, const kip_filterConvolveParams* params,
                       const typename V::Kernel* kernel, const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    kip_status s = kip_filterConvolveParams_validate(params);
    if (!failed(s)) s = V::validate(kernel);
    if (failed(s)) return s;
    uint32_t sourceNull = 0;
    uint32_t destinationNull = 0;
    s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (!failed(s)) s = kimg_window_getIsNull(destination, &destinationNull);
    if (failed(s)) return s;
    if (sourceNull || destinationNull) return kip_errImageUnbound;
    kimg_windowConst kernelWindow;
    s = kimg_windowConst_init(&kernelWindow, &kernel->image);
    if (failed(s)) return s;
    // Pixels are read at the sizes the names promise; other depths would read or write past rows.
    if (source->bytesPerPixel != 1 || destination->bytesPerPixel != int32_t{V::kDepth} ||
        kernelWindow.bytesPerPixel != int32_t{V::kDepth})
        return kimg_errDepthMismatch;

    kstd_rect32 r;
    uint32_t isNull = 0;
    s = resultRect(source->rect, marginsFor(params->borderMode, kernelWindow.rect), destination->rect, &r, &isNull);
    if (failed(s) || isNull) return s;
    kimg_window restricted = *destination;
    uint32_t clipped = 0;
    s = kimg_window_windowRect(&restricted, &r, &clipped);
    if (failed(s)) return s;

    if (V::kUnitKernelCopies && kernelWindow.rect.width == 1 && kernelWindow.rect.height == 1) {
        kimg_window whole = *destination;
        return kip_pelCopyWindow8(source, &whole);
    }
    switch (params->borderMode) {
        case kip_filterBorderClipped:
            return V::clipped(source, &kernelWindow, &restricted);
        case kip_filterBorderMirrored:
            return V::mirrored(source, &kernelWindow, &restricted);
        default:
            return kip_errBadMode;
    }
}

template <class V>
kip_status imageEntry(const kimg_imageConst* source, const kip_filterConvolveParams* params,
                      const typename V::Kernel* kernel, kimg_image* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    kip_status s = V::validate(kernel);
    if (!failed(s)) s = kip_filterConvolveParams_validate(params);
    if (failed(s)) return s;
    uint32_t sourceBound = 0;
    uint32_t destinationBound = 0;
    s = kimg_imageConst_getIsBound(source, &sourceBound);
    if (!failed(s)) s = kimg_image_getIsBound(destination, &destinationBound);
    if (failed(s)) return s;
    if (!sourceBound) return kip_errImageUnbound;

    kstd_rect32 kernelRect;
    kstd_rect32 sourceRect;
    kstd_rect32 destinationRect;
    s = kimg_imageConst_getWindow(&kernel->image, &kernelRect);
    if (!failed(s)) s = kimg_imageConst_getWindow(source, &sourceRect);
    if (!failed(s))
        s = destinationBound ? kimg_image_getWindow(destination, &destinationRect)
                             : kstd_rect32_initNull(&destinationRect);
    if (failed(s)) return s;
    kstd_rect32 r;
    uint32_t isNull = 0;
    s = resultRect(sourceRect, marginsFor(params->borderMode, kernelRect), destinationRect, &r, &isNull);
    if (failed(s) || isNull) return s;

    Cleanup<1> c;
    if (!destinationBound) {
        s = kimg_image_assignNew(destination, V::kDepth, r.width, r.height);
        if (failed(s)) return s;
        // Released again (the handle back to unbound) if a later step fails.
        c.addObject<kimg_image, &kimg_image_assignUnbound>(ksys_cleanupDestroyOnFailure, destination);
        s = kimg_image_setOrigin(destination, r.x, r.y);
    }
    if (!failed(s)) s = kimg_image_copyXforms(destination, source);
    kimg_windowConst sourceWindow;
    kimg_window destinationWindow;
    if (!failed(s)) s = kimg_windowConst_init(&sourceWindow, source);
    if (!failed(s)) s = kimg_window_init(&destinationWindow, destination);
    if (!failed(s)) s = windowEntry<V>(&sourceWindow, params, kernel, &destinationWindow);
    return c.finish(s);
}

}  // namespace

extern "C" {

kip_status kip_filterConvolve8_8_8(const kimg_imageConst* source, const kip_filterConvolveParams* params,
                                   const kip_filterConvolveKernel8* kernel, kimg_image* destination) {
    return imageEntry<Variant8>(source, params, kernel, destination);
}

kip_status kip_filterConvolve8_16s_16s(const kimg_imageConst* source, const kip_filterConvolveParams* params,
                                       const kip_filterConvolveKernel16s* kernel, kimg_image* destination) {
    return imageEntry<Variant16s>(source, params, kernel, destination);
}

kip_status kip_filterConvolveWindow8_8_8(const kimg_windowConst* source, const kip_filterConvolveParams* params,
                                         const kip_filterConvolveKernel8* kernel, const kimg_window* destination) {
    return windowEntry<Variant8>(source, params, kernel, destination);
}

kip_status kip_filterConvolveWindow8_16s_16s(const kimg_windowConst* source, const kip_filterConvolveParams* params,
                                             const kip_filterConvolveKernel16s* kernel,
                                             const kimg_window* destination) {
    return windowEntry<Variant16s>(source, params, kernel, destination);
}

}  // extern "C"
