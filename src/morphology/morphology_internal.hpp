// Internal steps of grey-scale morphology. A pass reads a source window and writes an output
// window of the same size (row r of one is row r of the other); dilate is 1 for the maximum and
// 0 for the minimum.
#pragma once

#include <cstdint>

#include "kip/morphology.h"

extern "C" {

// One pass: optimised slot behind the hook, then the general choice.
kip_status kip_filterMorphologyDispatch8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kip_filterMorphologyParams* params,
                                          const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                          const kimg_window* output);
kip_status kip_filterMorphologyDispatch16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                           const kip_filterMorphologyParams* params,
                                           const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                           const kimg_window* output);
// Flat elements to the flat engine, weighted ones to the weighted engine (16-bit: not available).
kip_status kip_filterMorphologyGeneral8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const kip_filterMorphologyParams* params,
                                         const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                         const kimg_window* output);
kip_status kip_filterMorphologyGeneral16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kip_filterMorphologyParams* params,
                                          const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                          const kimg_window* output);
// Flat engine: rectangles separably, other masks through the rank filter.
kip_status kip_filterMorphologyFlat8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_filterMorphologyParams* params,
                                      const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                      const kimg_window* output);
kip_status kip_filterMorphologyFlat16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                       const kip_filterMorphologyParams* params,
                                       const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                       const kimg_window* output);
// Flat elements whose mask is not full: the rank filter with the fraction 1.0 or 0.0.
kip_status kip_filterMorphologyRankRoute8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                           const kip_filterMorphologyParams* params,
                                           const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                           const kimg_window* output);
kip_status kip_filterMorphologyRankRoute16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                            const kip_filterMorphologyParams* params,
                                            const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                            const kimg_window* output);
// Flat elements whose mask is not full, from the element's horizontal runs: the rank route's bits,
// faster; kip_errNotAvailable for the cases it declines.
kip_status kip_filterMorphologyRuns8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_filterMorphologyParams* params,
                                      const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                      const kimg_window* output);
kip_status kip_filterMorphologyRuns16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                       const kip_filterMorphologyParams* params,
                                       const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                       const kimg_window* output);
// Weighted engine (8-bit): the incrementally updated sum image, column by column.
kip_status kip_filterMorphologyWeighted8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kip_filterMorphologyParams* params,
                                          const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                          const kimg_window* output);
// Optimised slot for border mode 1: weighted 8-bit elements row by row in vector lanes, with
// saturating byte arithmetic; kip_errNotAvailable for everything else.
kip_status kip_filterMorphologyFastTruncated8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                               const kip_filterMorphologyParams* params,
                                               const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                               const kimg_window* output);

// Weight differences of the turned weights: D(i, j) = Wr(i, j) - Wr(i, j + 1), last row Wr.
// difference is constructed here (16-bit, the element's size).
kip_status kip_filterMorphologyWeightDifferences_(const kimg_imageConst* offsetImage, kimg_image* difference);

// Separable steps. Rows are relative to the source window (0 .. H - 1). The row steps write the
// W horizontal extremes of one source row over ew columns; the column steps one destination row
// from count ring rows starting at slot start (wrapping at R), with pitch P pixels per slot.
// The vector twins take padded rows of W + 2 * ew + 16 pixels whose margins hold the neutral
// value (mask: 0) and answer kip_errNotAvailable when they cannot run; the padded source row is
// the first of the four segments described at paddedLength.
kip_status kip_filterMorphologyRow8_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                     uint8_t* out);
kip_status kip_filterMorphologyRowMasked8_(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row,
                                           int32_t ew, int32_t dilate, uint8_t* out);
kip_status kip_filterMorphologyCol8_(const kimg_windowConst* source, const kimg_windowConst* mask, const uint8_t* ring,
                                     const kimg_window* destination, int32_t pitch, int32_t slots, int32_t count,
                                     int32_t start, int32_t outRow, int32_t dilate);
kip_status kip_filterMorphologyRowSse8_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                        uint8_t* out, uint8_t* padded);
kip_status kip_filterMorphologyRowMaskedSse8_(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row,
                                              int32_t ew, int32_t dilate, uint8_t* out, uint8_t* padded,
                                              uint8_t* paddedMask);
kip_status kip_filterMorphologyColSse8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                        const uint8_t* ring, const kimg_window* destination, int32_t pitch,
                                        int32_t slots, int32_t count, int32_t start, int32_t outRow, int32_t dilate);
kip_status kip_filterMorphologyRow16_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                      uint16_t* out);
kip_status kip_filterMorphologyRowMasked16_(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row,
                                            int32_t ew, int32_t dilate, uint16_t* out);
kip_status kip_filterMorphologyCol16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const uint16_t* ring, const kimg_window* destination, int32_t pitch,
                                      int32_t slots, int32_t count, int32_t start, int32_t outRow, int32_t dilate);
kip_status kip_filterMorphologyRowSse16_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                         uint16_t* out, uint16_t* padded);
kip_status kip_filterMorphologyRowMaskedSse16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                               int32_t row, int32_t ew, int32_t dilate, uint16_t* out, uint16_t* padded,
                                               uint8_t* paddedMask);
kip_status kip_filterMorphologyColSse16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const uint16_t* ring, const kimg_window* destination, int32_t pitch,
                                         int32_t slots, int32_t count, int32_t start, int32_t outRow, int32_t dilate);

}  // extern "C"

namespace kip::morphology {

// Ring pitch in pixels for rows of width W: whole 64-byte lines, an odd count from the table, so
// that slots do not share cache sets.
int64_t ringPitch(int64_t width);

// The padded row buffer of the separable engine holds four segments of this many pixels, all
// neutral at first: the padded source row (at offset ew), two scratch rows for the vector row
// step, and a row that stays neutral.
inline int64_t paddedLength(int64_t width, int64_t ew) { return width + 2 * ew + 16; }

struct FlatIsa;
// The widest vector kernels the processor offers for rows of this width (anyWidth: SSE2 also
// below its vector width); kip_errNotAvailable when there are none.
kip_status selectFlatIsa(int32_t width, bool sixteen, bool anyWidth, const FlatIsa** out);

// out[x] = extreme of a0[x .. x + ew - 1] for x < width (width at least the kernels' lanes), by
// direct taps for narrow elements and doubling passes through the scratch rows x and y (each
// paddedLength pixels) for wide ones; shortRows (a strip of a row) moves the choice to wider.
void rowExtremes(const FlatIsa& isa, int32_t dilate, const uint8_t* a0, int32_t width, int32_t ew, bool shortRows,
                 uint8_t* x, uint8_t* y, uint8_t* out);
void rowExtremes(const FlatIsa& isa, int32_t dilate, const uint16_t* a0, int32_t width, int32_t ew, bool shortRows,
                 uint16_t* x, uint16_t* y, uint16_t* out);

template <class T>
inline const T* rowOf(const kimg_windowConst& w, int64_t y) {
    return reinterpret_cast<const T*>(static_cast<const uint8_t*>(w.pixels) + y * w.stride * int64_t{sizeof(T)});
}
template <class T>
inline T* mutableRowOf(const kimg_window& w, int64_t y) {
    return reinterpret_cast<T*>(static_cast<uint8_t*>(w.pixels) + y * w.stride * int64_t{sizeof(T)});
}

}  // namespace kip::morphology
