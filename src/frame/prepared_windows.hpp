// The steps the rank and median window entries share around their work: the windows cut to
// their common rectangle (the output redirected to scratch pixels when it shares memory with an
// input), the family's work on them, and the scratch result copied home.
#pragma once

#include "frame/cleanup.hpp"
#include "kip/window.h"

namespace kip {

struct PreparedWindows {
    kimg_windowConst source;
    kimg_windowConst mask;  // meaningful only when maskUsed
    kimg_window destination;
    uint32_t maskUsed;

    const kimg_windowConst* usedMask() const { return maskUsed ? &mask : nullptr; }
};

// A bound window of another depth would be read at the wrong pixel width. Checked before the
// windows are prepared, whose image-mask pre-fill already writes the destination.
inline bool wrongDepth(const kimg_windowConst* w, int32_t bytesPerPixel) {
    return w && w->image && w->bytesPerPixel != bytesPerPixel;
}

// kip_filterInitializeGCRWindow8_ or 16_, and the pixel copy of the same depth.
using PrepareWindows = decltype(&kip_filterInitializeGCRWindow8_);
using CopyWindow = kip_status (*)(const kimg_windowConst* source, kimg_window* destination);

// work(const PreparedWindows&) runs only when the common rectangle is not empty.
template <class Work>
kip_status runOnPreparedWindows(const kimg_windowConst* source, const kimg_windowConst* mask,
                                const kimg_window* destination, PrepareWindows prepare, CopyWindow copy, Work&& work) {
    Cleanup<1> cleanup;
    kimg_image scratch;
    kip_status s = kimg_image_constructUnbound(&scratch);
    if (failed(s)) return s;
    cleanup.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &scratch);
    PreparedWindows prepared{};
    uint32_t nothingToDo = 0, overlap = 0;
    s = prepare(source, mask, destination, &prepared.source, &prepared.mask, &prepared.destination, &nothingToDo,
                &prepared.maskUsed, &overlap, &scratch);
    if (failed(s) || nothingToDo) return cleanup.finish(s);
    s = work(static_cast<const PreparedWindows&>(prepared));
    if (!failed(s) && overlap) {
        // The result went to scratch pixels over the common rectangle; bring it home.
        kimg_window home = *destination;
        uint32_t clipped = 0;
        s = kimg_window_windowRect(&home, &prepared.destination.rect, &clipped);
        if (!failed(s)) s = copy(&prepared.destination, &home);
    }
    return cleanup.finish(s);
}

}  // namespace kip
