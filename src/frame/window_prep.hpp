// The worker behind the 8-bit and 16-bit window preparation; depth is 1 or 2.
#pragma once

#include "kip/platform/image.h"

kip_status kip_filterInitializeGCRWindow_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kimg_window* destination, kimg_windowConst* outSource,
                                          kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* nothingToDo,
                                          uint32_t* maskUsed, uint32_t* overlap, kimg_image* scratch, uint32_t depth);
