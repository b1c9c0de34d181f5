// kip for C++ (C++17 or later), convolution: integer kernels (8-bit weighted mean or signed 16-bit
// sums) applied to 8-bit images with a clipped or mirrored border, and the common kernels (box,
// Gaussian, Sobel, Laplace) ready made. Failures throw kip::error.
#ifndef KIP_CONVOLVE_HPP
#define KIP_CONVOLVE_HPP

#include "kip/convolve.h"
#include "kip/image.hpp"

namespace kip {

// ---- Convolution -------------------------------------------------------------------------------

// The border modes convolution accepts.
enum class convolve_border : uint32_t {
    clipped = kip_filterBorderClipped,    // only where the whole kernel lies in the source
    mirrored = kip_filterBorderMirrored,  // the source extended by reflection; the default
};

// Kernel of weights W: std::uint8_t (weighted mean) or std::int16_t (sum over the kernel norm).
template <class W>
class kernel {
    static_assert(std::is_same_v<W, std::uint8_t> || std::is_same_v<W, std::int16_t>,
                  "convolution kernels have std::uint8_t or std::int16_t weights");
    using c_type = std::conditional_t<sizeof(W) == 1, kip_filterConvolveKernel8, kip_filterConvolveKernel16s>;

public:
    kernel() noexcept { construct(&k_); }
    // Weights row by row; width and height odd. The weights are copied into the kernel.
    kernel(int32_t width, int32_t height, span<const W> weights) {
        if (width < 0 || height < 0 ||
            weights.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
            throw error(kstd_errInvalidArgument);
        image<const W> source = image<const W>::wrap(weights.data(), rect{0, 0, width, height}, width);
        construct(&k_);
        kip_status status = set(&k_, source.get());
        if (kip_status_isFailure(status)) {
            destruct(&k_);
            throw error(status);
        }
    }
    kernel(const kernel& other) { check(copy(&k_, &other.k_)); }
    kernel(kernel&& other) noexcept : k_(other.k_) { construct(&other.k_); }
    kernel& operator=(const kernel& other) {
        if (this != &other) check(assign(&k_, &other.k_));
        return *this;
    }
    kernel& operator=(kernel&& other) noexcept {
        if (this != &other) {
            destruct(&k_);
            k_ = other.k_;
            construct(&other.k_);
        }
        return *this;
    }
    ~kernel() { destruct(&k_); }

    const c_type* get() const noexcept { return &k_; }
    c_type* get() noexcept { return &k_; }
    int32_t width() const noexcept { return weights_image().window.width; }
    int32_t height() const noexcept { return weights_image().window.height; }
    // Weight in kernel column x, row y; the filter applies the kernel turned by a half turn.
    W operator()(int32_t x, int32_t y) const {
        image<const W> weights;
        if constexpr (sizeof(W) == 1)
            check(kip_filterConvolveKernel8_getKernel(&k_, weights.get()));
        else
            check(kip_filterConvolveKernel16s_getKernel(&k_, weights.get()));
        return weights.view()(x, y);
    }

private:
    const kimg_image& weights_image() const noexcept { return k_.image; }
    static kip_status construct(c_type* k) noexcept {
        if constexpr (sizeof(W) == 1)
            return kip_filterConvolveKernel8_construct(k);
        else
            return kip_filterConvolveKernel16s_construct(k);
    }
    static kip_status copy(c_type* k, const c_type* source) noexcept {
        if constexpr (sizeof(W) == 1)
            return kip_filterConvolveKernel8_constructCopy(k, source);
        else
            return kip_filterConvolveKernel16s_constructCopy(k, source);
    }
    static kip_status assign(c_type* k, const c_type* source) noexcept {
        if constexpr (sizeof(W) == 1)
            return kip_filterConvolveKernel8_assign(k, source);
        else
            return kip_filterConvolveKernel16s_assign(k, source);
    }
    static kip_status set(c_type* k, const kimg_image* weights) noexcept {
        if constexpr (sizeof(W) == 1)
            return kip_filterConvolveKernel8_setKernel(k, weights);
        else
            return kip_filterConvolveKernel16s_setKernel(k, weights);
    }
    static kip_status destruct(c_type* k) noexcept {
        if constexpr (sizeof(W) == 1)
            return kip_filterConvolveKernel8_destruct(k);
        else
            return kip_filterConvolveKernel16s_destruct(k);
    }
    c_type k_;
};

// ---- Common kernels ----------------------------------------------------------------------------

// width x height weights of 1: the neighbourhood mean.
inline kernel<std::uint8_t> box_kernel(int32_t width, int32_t height) {
    kernel<std::uint8_t> k;
    const kstd_pair32 size{width, height};
    check(kip_filterConvolveKernel8_setBox(k.get(), &size));
    return k;
}
// A Gaussian with the customary spread for its size (see kip_filterConvolveKernel8_setGaussian).
inline kernel<std::uint8_t> gaussian_kernel(int32_t width, int32_t height) {
    kernel<std::uint8_t> k;
    const kstd_pair32 size{width, height};
    check(kip_filterConvolveKernel8_setGaussian(k.get(), &size));
    return k;
}
enum class axis : uint32_t { x = kip_filterConvolveSobelX, y = kip_filterConvolveSobelY };
// 3 x 3 Sobel: positive where the image brightens along the axis (rightwards, downwards).
inline kernel<std::int16_t> sobel_kernel(axis direction) {
    kernel<std::int16_t> k;
    check(kip_filterConvolveKernel16s_setSobel(k.get(), static_cast<uint32_t>(direction)));
    return k;
}
// 3 x 3 four-neighbour Laplace.
inline kernel<std::int16_t> laplace_kernel() {
    kernel<std::int16_t> k;
    check(kip_filterConvolveKernel16s_setLaplace(k.get()));
    return k;
}

namespace detail {
inline kip_filterConvolveParams convolve_params(convolve_border mode) {
    kip_filterConvolveParams params;
    check(kip_filterConvolveParams_init(&params));
    params.borderMode = static_cast<uint32_t>(mode);
    return params;
}
}  // namespace detail

// Convolution into destination, which is allocated when unbound. Mirrored borders give a result
// over the whole source; clipped borders only where the kernel lies inside it.
template <class S, if_pixel_of<S, std::uint8_t> = 0>
void convolve(const image<S>& source, const kernel<std::uint8_t>& k, image<std::uint8_t>& destination,
              convolve_border mode = convolve_border::mirrored) {
    kip_filterConvolveParams params = detail::convolve_params(mode);
    check(kip_filterConvolve8_8_8(source.get(), &params, k.get(), destination.get()));
}
template <class S, if_pixel_of<S, std::uint8_t> = 0>
void convolve(const image<S>& source, const kernel<std::int16_t>& k, image<std::int16_t>& destination,
              convolve_border mode = convolve_border::mirrored) {
    kip_filterConvolveParams params = detail::convolve_params(mode);
    check(kip_filterConvolve8_16s_16s(source.get(), &params, k.get(), destination.get()));
}
// The same into a new image (unbound when nothing was computed, e.g. a clipped source smaller
// than the kernel).
template <class S, class W, if_pixel_of<S, std::uint8_t> = 0>
image<std::conditional_t<sizeof(W) == 1, std::uint8_t, std::int16_t>> convolve(
    const image<S>& source, const kernel<W>& k, convolve_border mode = convolve_border::mirrored) {
    image<std::conditional_t<sizeof(W) == 1, std::uint8_t, std::int16_t>> destination;
    convolve(source, k, destination, mode);
    return destination;
}
// Window forms: destination pixels over the source (shrunk by the kernel's half size when
// clipped) are written; the rest of the destination window is left alone.
inline void convolve(window<const std::uint8_t> source, const kernel<std::uint8_t>& k, window<std::uint8_t> destination,
                     convolve_border mode = convolve_border::mirrored) {
    kip_filterConvolveParams params = detail::convolve_params(mode);
    check(kip_filterConvolveWindow8_8_8(source.get(), &params, k.get(), destination.get()));
}
inline void convolve(window<const std::uint8_t> source, const kernel<std::int16_t>& k, window<std::int16_t> destination,
                     convolve_border mode = convolve_border::mirrored) {
    kip_filterConvolveParams params = detail::convolve_params(mode);
    check(kip_filterConvolveWindow8_16s_16s(source.get(), &params, k.get(), destination.get()));
}

}  // namespace kip

#endif
