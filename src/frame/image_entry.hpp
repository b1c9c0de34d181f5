// The steps the image entries of the window-based families share: depth checks, the windows of
// the images (an unbound destination gets pixels over the source, given back if a later step
// fails), the family's window entry, and the destination image's window set to the rectangle
// written. Each family validates its own parameters first.
#pragma once

#include "frame/cleanup.hpp"
#include "kip/window.h"

namespace kip {

// Which rectangle the destination image's window becomes after the window entry.
enum class WrittenRect {
    common,       // the common rectangle of the source and destination windows
    destination,  // the destination window as the window entry left it (it may narrow it)
    prepared,     // the windows were prepared on the rectangle written: the image keeps its window
};

using PrepareImageWindows = kip_status (*)(const kimg_imageConst* source, const kimg_imageConst* mask,
                                           kimg_image* destination, kimg_windowConst* outSource,
                                           kimg_windowConst* outMask, kimg_window* outDestination,
                                           uint32_t* nothingToDo, uint32_t depth);

// A bound image of another depth would be read at the wrong pixel width.
inline kip_status checkImageDepth(const kimg_imageConst* image, uint32_t depth, bool* wrong) {
    uint32_t bound = 0, actual = 0;
    kip_status s = kimg_imageConst_getIsBound(image, &bound);
    if (!failed(s) && bound) s = kimg_image_getDepth(image, &actual);
    if (!failed(s) && bound && actual != depth) *wrong = true;
    return s;
}

// window(sourceWindow, maskWindow, destinationWindow) runs the family's window entry; the mask
// window is unbound without a mask.
template <class Window>
kip_status runImageEntry(const kimg_imageConst* source, const kimg_imageConst* mask, kimg_image* destination,
                         uint32_t depth, WrittenRect written, Window&& window,
                         PrepareImageWindows prepare = &kip_filterInitializeWindow_) {
    bool wrong = false;
    kip_status s = checkImageDepth(source, depth, &wrong);
    if (!failed(s)) s = checkImageDepth(destination, depth, &wrong);
    if (!failed(s) && mask) s = checkImageDepth(mask, 1, &wrong);
    if (failed(s)) return s;
    if (wrong) return kimg_errDepthMismatch;
    uint32_t destinationBound = 0;
    s = kimg_image_getIsBound(destination, &destinationBound);
    if (failed(s)) return s;

    Cleanup<1> cleanup;
    // New destination pixels are the call's to give back if it fails.
    if (!destinationBound)
        cleanup.addObject<kimg_image, &kimg_image_assignUnbound>(ksys_cleanupDestroyOnFailure, destination);
    kimg_windowConst sourceWindow, maskWindow;
    kimg_window destinationWindow;
    uint32_t nothingToDo = 0;
    s = prepare(source, mask, destination, &sourceWindow, &maskWindow, &destinationWindow, &nothingToDo, depth);
    if (failed(s) || nothingToDo) return cleanup.finish(s);
    s = window(&sourceWindow, &maskWindow, &destinationWindow);
    if (failed(s) || written == WrittenRect::prepared) return cleanup.finish(s);
    kstd_rect32 rect{};
    uint32_t empty = 0, clipped = 0;
    s = written == WrittenRect::common ? kimg_windowConst_gcr(&sourceWindow, &destinationWindow, &rect, &empty)
                                       : kimg_window_getWindow(&destinationWindow, &rect);
    if (!failed(s)) s = kimg_image_setWindowRect(destination, &rect, &clipped);
    KIP_ASSERT(failed(s) || clipped == 0);
    return cleanup.finish(s);
}

}  // namespace kip
