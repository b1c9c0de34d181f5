// kip for C++ (C++17 or later), grey-scale morphology: dilation (neighbourhood maximum), erosion
// (minimum), opening (erosion, then dilation) and closing (dilation, then erosion) of 8-bit and
// 16-bit images with a structuring element. The neighbourhood is cut at the border of the common
// rectangle of source and destination. An optional image mask (0 or 255 per pixel) keeps the
// pixels it excludes at the source value and out of every neighbourhood. Failures throw kip::error.
#ifndef KIP_MORPHOLOGY_HPP
#define KIP_MORPHOLOGY_HPP

#include "kip/image.hpp"
#include "kip/mask_kernel.hpp"
#include "kip/morphology.h"

namespace kip {

// A structuring element: the members of an odd-sized rectangle (a mask_kernel) and, optionally,
// a signed weight per position in -255..255. Flat elements take the plain maximum or minimum of
// their members; weighted ones (8-bit images only; 16-bit answers kip_errNotAvailable) add each
// member's weight before the maximum, subtract it before the minimum, and clamp to 0..255.
// Members and weights are applied turned by a half turn about the centre, so the neighbour at
// offset (p, q) meets the weight stored at (width / 2 - p, height / 2 - q). The element keeps
// private copies of its mask and weights; copying copies them.
class structuring_element {
public:
    // Flat 3 x 3 rectangle.
    structuring_element() { check(kip_filterMorphologyStructuringElement_construct(&e_)); }
    // Flat rectangle of width x height (both odd).
    structuring_element(int32_t width, int32_t height) {
        const kstd_pair32 size{width, height};
        check(kip_filterMorphologyStructuringElement_constructSize(&e_, &size));
    }
    // Flat, the kernel's members (a disk, a cross, any drawn shape).
    structuring_element(const mask_kernel& kernel) {  // implicit: a kernel is a flat element
        construct([&] { return set_kernel(kernel); });
    }
    // Weighted: weights row by row, one per member of kernel (values at non-members are ignored).
    structuring_element(const mask_kernel& kernel, span<const std::int16_t> weights) {
        construct([&] {
            kip_status s = set_kernel(kernel);
            return kip_status_isFailure(s) ? s : set_weights(kernel.width(), kernel.height(), weights);
        });
    }
    // Weighted rectangle: width x height weights row by row.
    structuring_element(int32_t width, int32_t height, span<const std::int16_t> weights)
        : structuring_element(mask_kernel(width, height), weights) {}

    structuring_element(const structuring_element& other) {
        check(kip_filterMorphologyStructuringElement_constructCopy(&e_, &other.e_));
    }
    structuring_element& operator=(const structuring_element& other) {
        if (this != &other) check(kip_filterMorphologyStructuringElement_assign(&e_, &other.e_));
        return *this;
    }
    ~structuring_element() { kip_filterMorphologyStructuringElement_destruct(&e_); }

    const kip_filterMorphologyStructuringElement* get() const noexcept { return &e_; }
    kip_filterMorphologyStructuringElement* get() noexcept { return &e_; }

    int32_t width() const noexcept { return e_.kernel.mask.window.width; }
    int32_t height() const noexcept { return e_.kernel.mask.window.height; }
    // True when every position of the rectangle is a member.
    bool rectangular() const {
        uint32_t r = 0;
        check(kip_filterMorphologyStructuringElement_getIsRectangular(&e_, &r));
        return r != 0;
    }
    bool flat() const {
        uint32_t f = 0;
        check(kip_filterMorphologyStructuringElement_getIsFlat(&e_, &f));
        return f != 0;
    }
    // The members' mask (read-only, non-zero: member).
    image<const std::uint8_t> mask() const {
        image<const std::uint8_t> m;
        check(kip_filterMorphologyStructuringElement_getMask(&e_, m.get()));
        return m;
    }
    // The weights (read-only, top-left at (0, 0)); unbound for a flat element.
    image<const std::int16_t> weights() const {
        image<const std::int16_t> w;
        if (!flat()) check(kip_filterMorphologyStructuringElement_getOffsetImage(&e_, w.get()));
        return w;
    }
    bool operator==(const structuring_element& other) const {
        uint32_t equal = 0;
        check(kip_filterMorphologyStructuringElement_compareEqual(&e_, &other.e_, &equal));
        return equal != 0;
    }

private:
    // Runs the steps on a freshly constructed element; on failure nothing is left alive.
    template <class Steps>
    void construct(Steps steps) {
        check(kip_filterMorphologyStructuringElement_construct(&e_));
        const kip_status s = steps();
        if (kip_status_isFailure(s)) {
            kip_filterMorphologyStructuringElement_destruct(&e_);
            throw error(s);
        }
    }
    kip_status set_kernel(const mask_kernel& kernel) noexcept {
        return kip_filterMorphologyStructuringElement_setMask(&e_, &kernel.get()->mask);
    }
    kip_status set_weights(int32_t width, int32_t height, span<const std::int16_t> weights) noexcept {
        if (weights.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
            return kstd_errInvalidArgument;
        kimg_image w;
        const kstd_rect32 r{0, 0, width, height};
        kip_status s = kimg_image_constructWrap(&w, 2, &r, width, const_cast<std::int16_t*>(weights.data()));
        if (kip_status_isFailure(s)) return s;
        s = kip_filterMorphologyStructuringElement_setOffsetImage(&e_, &w);
        kimg_image_destruct(&w);
        return kip_status_isFailure(s) ? s : kip_filterMorphologyStructuringElement_setUseOffsetImage(&e_, 1);
    }
    kip_filterMorphologyStructuringElement e_;
};

namespace detail {
template <class T>
using if_morphology_pixel = std::enable_if_t<is_pixel_of_v<T, std::uint8_t> || is_pixel_of_v<T, std::uint16_t>, int>;

inline kip_filterMorphologyParams morphology_params() {
    kip_filterMorphologyParams params;
    check(kip_filterMorphologyParams_init(&params));
    return params;
}

// dilate, erode, open and close: one callable per operation code, each with every form.
template <kip_filterMorphologyOperation Op>
struct morphology_operation {
    // Into destination, allocated over the source when unbound; otherwise the common part of the
    // two windows is written and becomes the destination's window. The two may share pixels.
    template <class S, if_morphology_pixel<S> = 0>
    void operator()(const image<S>& source, const structuring_element& element,
                    image<std::remove_const_t<S>>& destination) const {
        run(source.get(), nullptr, element, destination.get(), depth_of<S>);
    }
    template <class S, if_morphology_pixel<S> = 0>
    void operator()(const image<S>& source, const image<const std::uint8_t>& mask, const structuring_element& element,
                    image<std::remove_const_t<S>>& destination) const {
        run(source.get(), mask.get(), element, destination.get(), depth_of<S>);
    }
    // The same into a new image over the source.
    template <class S, if_morphology_pixel<S> = 0>
    image<std::remove_const_t<S>> operator()(const image<S>& source, const structuring_element& element) const {
        image<std::remove_const_t<S>> destination;
        (*this)(source, element, destination);
        return destination;
    }
    template <class S, if_morphology_pixel<S> = 0>
    image<std::remove_const_t<S>> operator()(const image<S>& source, const image<const std::uint8_t>& mask,
                                             const structuring_element& element) const {
        image<std::remove_const_t<S>> destination;
        (*this)(source, mask, element, destination);
        return destination;
    }

    // Window forms: the common rectangle of the windows is written; the windows may share pixels.
    void operator()(window<const std::uint8_t> source, const structuring_element& element,
                    window<std::uint8_t> destination) const {
        run(kip_filterMorphologyWindow8, source.get(), nullptr, element, destination.get());
    }
    void operator()(window<const std::uint16_t> source, const structuring_element& element,
                    window<std::uint16_t> destination) const {
        run(kip_filterMorphologyWindow16, source.get(), nullptr, element, destination.get());
    }
    void operator()(window<const std::uint8_t> source, window<const std::uint8_t> mask,
                    const structuring_element& element, window<std::uint8_t> destination) const {
        run(kip_filterMorphologyWindow8, source.get(), mask.get(), element, destination.get());
    }
    void operator()(window<const std::uint16_t> source, window<const std::uint8_t> mask,
                    const structuring_element& element, window<std::uint16_t> destination) const {
        run(kip_filterMorphologyWindow16, source.get(), mask.get(), element, destination.get());
    }

private:
    static void run(const kimg_image* s, const kimg_image* m, const structuring_element& e, kimg_image* d,
                    uint32_t depth) {
        const kip_filterMorphologyParams params = morphology_params();
        check(depth == 1 ? kip_filterMorphology8(s, m, Op, &params, e.get(), d)
                         : kip_filterMorphology16(s, m, Op, &params, e.get(), d));
    }
    // The window entries take validated objects, so the element is checked here.
    template <class Entry>
    static void run(Entry entry, const kimg_window* s, const kimg_window* m, const structuring_element& e,
                    kimg_window* d) {
        const kip_filterMorphologyParams params = morphology_params();
        check(kip_filterMorphologyStructuringElement_validate(e.get()));
        check(entry(s, m, Op, &params, e.get(), d));
    }
};
}  // namespace detail

// kip::dilate(source, [mask,] element[, destination]) and the window forms
// kip::dilate(source_window, [mask_window,] element, destination_window); the same for erode,
// open and close. The element may be given as a mask_kernel or as {width, height}.
inline constexpr detail::morphology_operation<kip_filterMorphologyDilate> dilate{};
inline constexpr detail::morphology_operation<kip_filterMorphologyErode> erode{};
inline constexpr detail::morphology_operation<kip_filterMorphologyOpen> open{};
inline constexpr detail::morphology_operation<kip_filterMorphologyClose> close{};

}  // namespace kip

#endif
