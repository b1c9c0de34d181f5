// Internal steps of local background subtraction. Windows handed to the engines and the
// subtraction step are already restricted to one common rectangle (equal widths and heights).
#pragma once

#include <cstdint>

#include "kip/pelsub.h"

extern "C" {

// Image-level preparation on the common rectangle of source, image mask (when bound) and
// destination (when bound); an unbound destination gets new pixels over it. isNull = 1 when that
// rectangle is empty (nothing else is then written).
kip_status kip_pelSubLocalInitializeWindow_(const kimg_imageConst* source, const kimg_imageConst* mask,
                                            kimg_image* destination, kimg_windowConst* outSource,
                                            kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* isNull,
                                            uint32_t depth);
// Window-level restriction to the common rectangle; the mask may be null. The out mask window is
// unbound when no mask is used.
kip_status kip_pelSubLocalCommonWindow8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const kimg_window* destination, kimg_windowConst* outSource,
                                         kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* isNull);
kip_status kip_pelSubLocalCommonWindow16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kimg_window* destination, kimg_windowConst* outSource,
                                          kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* isNull);

// out := clamp(source - background + offset); out may be the background window itself.
kip_status kip_pelSubLocalSubtract8_(const kimg_windowConst* source, const kimg_windowConst* background,
                                     const kimg_window* out);
kip_status kip_pelSubLocalSubtract16_(const kimg_windowConst* source, const kimg_windowConst* background,
                                      const kimg_window* out);

// The general mean engine over summed-area tables (12 bytes per pixel): destination := local mean.
// mask may be null or a null window (no mask).
kip_status kip_pelSubLocalMean8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                 const kip_pelSubLocalParams* params, const kimg_window* destination);
kip_status kip_pelSubLocalMean16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                  const kip_pelSubLocalParams* params, const kimg_window* destination);
// Inclusive summed-area tables of the source (masked-off pixels count 0) and, with a mask, of the
// mask-on count; both W x H, row-major with row length W. rect gives W and H.
kip_status kip_pelSubLocalIntegral8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kstd_rect32* rect, uint64_t* sums, uint32_t* counts);
kip_status kip_pelSubLocalIntegral16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kstd_rect32* rect, uint64_t* sums, uint32_t* counts);
// Total of the inclusive box x0..x1 x y0..y1 of a table with row length width.
uint64_t kip_pelSubLocalBoxSum_(const uint64_t* sums, int32_t width, int32_t y0, int32_t y1, int32_t x0, int32_t x1);
uint32_t kip_pelSubLocalBoxCount_(const uint32_t* counts, int32_t width, int32_t y0, int32_t y1, int32_t x0,
                                  int32_t x1);

// The optimised mean: the same results from running column sums, holding only a few rows of
// scratch. With subtract = 1 it writes the subtraction's result instead of the mean. It declines
// (kip_errNotAvailable) only when the optimisation-inhibit hook says so.
kip_status kip_pelSubLocalMeanRows8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kip_pelSubLocalParams* params, const kimg_window* destination,
                                     uint32_t subtract);
kip_status kip_pelSubLocalMeanRows16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_pelSubLocalParams* params, const kimg_window* destination,
                                      uint32_t subtract);

}  // extern "C"

namespace kip::pelsub {

// The rounding of the mean: single-precision conversion and division, widened, plus 0.5,
// truncated. n >= 1.
inline uint32_t roundedMean(uint64_t s, uint32_t n) {
    const float q = static_cast<float>(s) / static_cast<float>(static_cast<int32_t>(n));
    return static_cast<uint32_t>(static_cast<double>(q) + 0.5);
}

template <class T>
inline T subtracted(T s, T b) {
    constexpr int32_t offset = sizeof(T) == 1 ? 128 : 32768;
    constexpr int32_t top = sizeof(T) == 1 ? 255 : 65535;
    const int32_t t = int32_t{s} - int32_t{b} + offset;
    return static_cast<T>(t >= top ? top : t <= 0 ? 0 : t);
}

}  // namespace kip::pelsub
