// kip for C++ (C++17 or later), local background subtraction: each pixel minus the mean or the median of
// its neighbourhood, lifted to mid-grey (128 or 32768) and clamped, which flattens uneven illumination.
// Failures throw kip::error.
#ifndef KIP_PELSUB_HPP
#define KIP_PELSUB_HPP

#include "kip/image.hpp"
#include "kip/pelsub.h"

namespace kip {

// Odd width and height of the neighbourhood, centred on each pixel.
struct neighbourhood {
    int32_t width = 3;
    int32_t height = 3;
};

namespace detail {
template <class T>
using if_unsigned_pixel = std::enable_if_t<is_pixel_of_v<T, std::uint8_t> || is_pixel_of_v<T, std::uint16_t>, int>;
// A read-only window whose pixel type comes from the destination, so writable windows convert.
template <class T>
struct const_window {
    using type = window<const T>;
};
template <class T>
using const_window_t = typename const_window<T>::type;

// The C entries of one background, by depth.
struct local_mean {
    static constexpr auto image8 = &kip_pelSubLocalMean8;
    static constexpr auto image16 = &kip_pelSubLocalMean16;
    static constexpr auto window8 = &kip_pelSubLocalMeanWindow8;
    static constexpr auto window16 = &kip_pelSubLocalMeanWindow16;
};
struct local_median {
    static constexpr auto image8 = &kip_pelSubLocalMedian8;
    static constexpr auto image16 = &kip_pelSubLocalMedian16;
    static constexpr auto window8 = &kip_pelSubLocalMedianWindow8;
    static constexpr auto window16 = &kip_pelSubLocalMedianWindow16;
};

// The forms of one background, written once.
template <class B>
struct local_subtraction {
    // Into destination (allocated over the source when unbound; otherwise only the common part
    // is written).
    template <class S, if_unsigned_pixel<S> = 0>
    void operator()(const image<S>& source, image<std::remove_const_t<S>>& destination, neighbourhood size) const {
        run(source, nullptr, destination, size);
    }
    template <class S, if_unsigned_pixel<S> = 0>
    void operator()(const image<S>& source, const image<const std::uint8_t>& mask,
                    image<std::remove_const_t<S>>& destination, neighbourhood size) const {
        run(source, mask.get(), destination, size);
    }
    // The same into a new image over the source.
    template <class S, if_unsigned_pixel<S> = 0>
    image<std::remove_const_t<S>> operator()(const image<S>& source, neighbourhood size) const {
        image<std::remove_const_t<S>> destination;
        run(source, nullptr, destination, size);
        return destination;
    }
    // Window forms: the common rectangle of the windows is written. The destination must not
    // share pixels with the source or the mask (kip_errMemoryOverlap).
    template <class T, if_unsigned_pixel<T> = 0>
    void operator()(const_window_t<T> source, window<T> destination, neighbourhood size) const {
        run(source, nullptr, destination, size);
    }
    template <class T, if_unsigned_pixel<T> = 0>
    void operator()(const_window_t<T> source, window<const std::uint8_t> mask, window<T> destination,
                    neighbourhood size) const {
        run(source, mask.get(), destination, size);
    }

private:
    template <class S>
    static void run(const image<S>& source, const kimg_image* mask, image<std::remove_const_t<S>>& destination,
                    neighbourhood size) {
        const kip_pelSubLocalParams params{size.width, size.height};
        check((depth_of<S> == 1 ? B::image8 : B::image16)(source.get(), mask, &params, destination.get()));
    }
    template <class T>
    static void run(window<const T> source, const kimg_window* mask, window<T> destination, neighbourhood size) {
        const kip_pelSubLocalParams params{size.width, size.height};
        check((depth_of<T> == 1 ? B::window8 : B::window16)(source.get(), mask, &params, destination.get()));
    }
};
}  // namespace detail

// Each pixel minus the mean of its box; near the image's edges the box shrinks symmetrically.
// Where mask is 0 the result is the offset, and masked-off pixels take no part in their
// neighbours' means. Forms: (source, destination, size), (source, mask, destination, size),
// (source, size) returning a new image, each for images and for windows (but the last).
inline constexpr detail::local_subtraction<detail::local_mean> subtract_local_mean{};
// Each pixel minus the median of its neighbourhood cut at the image's edges (large images run on
// the job threads); where mask is 0 the result is the offset. The same forms.
inline constexpr detail::local_subtraction<detail::local_median> subtract_local_median{};

}  // namespace kip

#endif
