// kip for C++20: RAII images, windows and kernels over the C interface, one function per filter.
// Header-only. Failures throw kip::error carrying the status code and its name.
//
// image<T> owns a handle on reference-counted pixels (T is std::uint8_t, std::uint16_t or
// std::int16_t, or one of them const for a read-only image). Copying an image shares its pixels,
// as the C handles do; clone() copies them. image<T>::wrap refers to caller memory without copying
// it; the caller keeps that memory alive while any handle or window refers to it.
// window<T> is a plain, non-owning view of a rectangle of an image's pixels; it is valid while an
// image refers to those pixels. Rectangles are in client coordinates; row() and operator() index
// from the window's top-left corner.
#ifndef KIP_IMAGE_HPP
#define KIP_IMAGE_HPP

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "kip/kip.h"

namespace kip {

using rect = kstd_rect32;

// ---- Errors ------------------------------------------------------------------------------------

class error : public std::runtime_error {
public:
    explicit error(kip_status code) : std::runtime_error(describe(code)), code_(code) {}
    kip_status code() const noexcept { return code_; }
    // "kip_errBadMode", "ksys_errOutOfMemory", ... or "unknown failure", as kip_status_getName.
    const char* name() const noexcept { return name_of(code_); }

    static const char* name_of(kip_status code) noexcept {
        const char* name = nullptr;
        kip_status_getName(code, &name);
        return name;
    }

private:
    static std::string describe(kip_status code) {
        static const char digits[] = "0123456789abcdef";
        std::string hex = "0x";
        for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(static_cast<uint32_t>(code) >> shift) & 0xFu];
        return std::string(name_of(code)) + " (" + hex + ")";
    }
    kip_status code_;
};

inline kip_status check(kip_status status) {
    if (kip_status_isFailure(status)) throw error(status);
    return status;
}

// ---- Pixel types -------------------------------------------------------------------------------

template <class T>
concept pixel = std::same_as<std::remove_const_t<T>, std::uint8_t> ||
    std::same_as<std::remove_const_t<T>, std::uint16_t> || std::same_as<std::remove_const_t<T>, std::int16_t>;

// A source of pixel type P: an image or window of P or const P.
template <class T, class P>
concept pixel_of = pixel<T> && std::same_as<std::remove_const_t<T>, P>;

template <pixel T>
inline constexpr uint32_t depth_of = sizeof(T);  // the C depth code: 1 or 2

enum class border : uint32_t {
    clipped = kip_filterBorderClipped,
    truncated = kip_filterBorderTruncated,
    mirrored = kip_filterBorderMirrored,
};

// ---- Windows -----------------------------------------------------------------------------------

template <pixel T>
class window {
public:
    using value_type = std::remove_const_t<T>;

    window() noexcept : w_{} {}
    // Adopts a C window of the right depth (or an unbound one).
    explicit window(const kimg_window& w) : w_(w) {
        if (w.bytesPerPixel != 0 && w.bytesPerPixel != static_cast<int32_t>(sizeof(T)))
            throw error(kimg_errDepthMismatch);
    }
    template <class U>
    requires(std::is_const_v<T>&& std::same_as<U, value_type>) window(const window<U>& other)
    noexcept : w_(*other.get()) {}

    const kimg_window* get() const noexcept { return &w_; }
    kimg_window* get() noexcept { return &w_; }

    rect area() const noexcept { return w_.rect; }
    int32_t width() const noexcept { return w_.rect.width; }
    int32_t height() const noexcept { return w_.rect.height; }
    int32_t stride() const noexcept { return w_.stride; }
    bool bound() const noexcept { return w_.image != nullptr; }
    bool empty() const noexcept { return w_.pixels == nullptr || w_.rect.width <= 0 || w_.rect.height <= 0; }

    T* row(int32_t y) const noexcept { return static_cast<T*>(w_.pixels) + static_cast<std::ptrdiff_t>(y) * w_.stride; }
    T& operator()(int32_t x, int32_t y) const noexcept { return row(y)[x]; }

    // The part of this window inside r (client coordinates); empty when they do not meet.
    window sub(const rect& r) const {
        window out(*this);
        uint32_t clipped = 0;
        check(kimg_window_windowRect(&out.w_, &r, &clipped));
        return out;
    }

private:
    kimg_window w_;
};

// ---- Images ------------------------------------------------------------------------------------

template <pixel T>
class image {
public:
    using value_type = std::remove_const_t<T>;
    static constexpr uint32_t depth = depth_of<T>;

    image() noexcept { unbind(); }
    // New zeroed pixels at client position (0, 0).
    image(int32_t width, int32_t height) {
        unbind();
        check(kimg_image_assignNew(&img_, depth, width, height));
    }
    // New zeroed pixels covering r.
    explicit image(const rect& r) {
        unbind();
        check(kimg_image_assignNewRect(&img_, depth, &r));
    }

    // Refers to caller memory: stride in pixels, pixels at r's top-left. Nothing is copied.
    static image wrap(T* pixels, const rect& r, int32_t stride) {
        image out;
        check(kimg_image_constructWrap(&out.img_, depth, &r, stride,
                                       const_cast<value_type*>(static_cast<const value_type*>(pixels))));
        return out;
    }
    // Refers to a buffer of rows (stride 0 means width); the span must hold every row.
    static image wrap(std::span<T> pixels, int32_t width, int32_t height, int32_t stride = 0) {
        if (stride == 0) stride = width;
        if (width < 0 || height < 0 || stride < width) throw error(kstd_errInvalidArgument);
        std::size_t need = height == 0 ? 0
                                       : static_cast<std::size_t>(height - 1) * static_cast<std::size_t>(stride) +
                                             static_cast<std::size_t>(width);
        if (pixels.size() < need) throw error(kstd_errInvalidArgument);
        return wrap(pixels.data(), rect{0, 0, width, height}, stride);
    }

    // Shares the pixels.
    image(const image& other) {
        unbind();
        check(kimg_image_assign(&img_, &other.img_));
    }
    template <class U>
    requires(std::is_const_v<T>&& std::same_as<U, value_type>) image(const image<U>& other) {
        unbind();
        check(kimg_image_assign(&img_, &other.img_));
    }
    // The handle is a plain record; moving it hands over its reference.
    image(image&& other) noexcept : img_(other.img_) { other.unbind(); }
    template <class U>
    requires(std::is_const_v<T>&& std::same_as<U, value_type>) image(image<U>&& other)
    noexcept : img_(other.img_) { other.unbind(); }
    image& operator=(const image& other) {
        if (this != &other) check(kimg_image_assign(&img_, &other.img_));
        return *this;
    }
    image& operator=(image&& other) noexcept {
        if (this != &other) {
            kimg_image_destruct(&img_);
            img_ = other.img_;
            other.unbind();
        }
        return *this;
    }
    ~image() { kimg_image_destruct(&img_); }

    // A new image with a copy of this one's window, at the same position.
    image<value_type> clone() const {
        if (!bound()) return image<value_type>();
        image<value_type> out(area());
        if constexpr (sizeof(T) == 1)
            check(kip_pelCopy8(&img_, out.get()));
        else
            check(kip_pelCopy16s(&img_, out.get()));
        return out;
    }

    const kimg_image* get() const noexcept { return &img_; }
    kimg_image* get() noexcept { return &img_; }

    bool bound() const noexcept { return img_.store != nullptr; }
    rect area() const noexcept { return img_.window; }
    int32_t width() const noexcept { return img_.window.width; }
    int32_t height() const noexcept { return img_.window.height; }

    window<T> view() const {
        kimg_window w;
        check(kimg_window_init(&w, &img_));
        return window<T>(w);
    }
    T* row(int32_t y) const { return view().row(y); }

    // Moves the window inside the pixels; false when r had to be cut to them.
    bool set_window(const rect& r) {
        uint32_t clipped = 0;
        check(kimg_image_setWindowRect(&img_, &r, &clipped));
        return clipped == 0;
    }
    // Places the window's top-left at (x, y) in client coordinates.
    void set_origin(int32_t x, int32_t y) { check(kimg_image_setOrigin(&img_, x, y)); }

    void fill(value_type value) requires(!std::is_const_v<T>) {
        if constexpr (sizeof(T) == 1)
            check(kip_pelSet8(&img_, value));
        else
            check(kip_pelSet16(&img_, static_cast<uint16_t>(value)));
    }

private:
    template <pixel U>
    friend class image;
    void unbind() noexcept { kimg_image_constructUnbound(&img_); }
    kimg_image img_;
};

}  // namespace kip

#endif
