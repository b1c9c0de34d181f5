// kip for C++ (C++17 or later): RAII images, windows and kernels over the C interface, one
// function per filter. Header-only. Failures throw kip::error carrying the status code and its name.
// C++20 features are used only where the compiler offers them (std::span as kip::span, the pixel
// concepts); under C++17 kip::span is a small stand-in and templates check their types with
// static_assert and enable_if. Family headers follow the same rule.
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

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "kip/kip.h"

#if defined(__has_include)
#if __has_include(<version>)
#include <version>
#endif
#endif
#if defined(__cpp_lib_span) && __cpp_lib_span >= 202002L
#include <span>
#define KIP_HAS_STD_SPAN 1
#endif
#if defined(__cpp_concepts) && __cpp_concepts >= 201907L && defined(__cpp_lib_concepts)
#include <concepts>
#define KIP_HAS_CONCEPTS 1
#endif

namespace kip {

using rect = kstd_rect32;

// ---- Spans -------------------------------------------------------------------------------------

#ifdef KIP_HAS_STD_SPAN
template <class T>
using span = std::span<T>;
#else
// Contiguous elements the caller owns: built from a pointer and a count, an array, or a container
// with data() and size() (std::vector, std::array, std::string).
template <class T>
class span {
public:
    constexpr span() noexcept = default;
    constexpr span(T* data, std::size_t size) noexcept : data_(data), size_(size) {}
    template <std::size_t N>
    constexpr span(T (&array)[N]) noexcept : data_(array), size_(N) {}
    template <class C, class = std::enable_if_t<!std::is_array_v<std::remove_reference_t<C> > &&
                                                std::is_convertible_v<decltype(std::declval<C&>().data()), T*> > >
    constexpr span(C&& container) noexcept : data_(container.data()), size_(container.size()) {}

    constexpr T* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }
    constexpr T* begin() const noexcept { return data_; }
    constexpr T* end() const noexcept { return data_ + size_; }
    constexpr T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};
#endif

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
inline constexpr bool is_pixel_v =
    std::is_same_v<std::remove_const_t<T>, std::uint8_t> || std::is_same_v<std::remove_const_t<T>, std::uint16_t> ||
    std::is_same_v<std::remove_const_t<T>, std::int16_t>;

// A source of pixel type P: an image or window of P or const P.
template <class T, class P>
inline constexpr bool is_pixel_of_v = is_pixel_v<T>&& std::is_same_v<std::remove_const_t<T>, P>;

// For templates over sources of pixel type P: template <class S, kip::if_pixel_of<S, P> = 0>.
template <class T, class P>
using if_pixel_of = std::enable_if_t<is_pixel_of_v<T, P>, int>;

#ifdef KIP_HAS_CONCEPTS
template <class T>
concept pixel = is_pixel_v<T>;
template <class T, class P>
concept pixel_of = is_pixel_of_v<T, P>;
#endif

template <class T>
inline constexpr uint32_t depth_of = sizeof(T);  // the C depth code: 1 or 2

// Every border mode of the C interface. Each family's functions take a type of their own that
// lists only the modes they accept (convolve_border for convolution), so a mode a filter refuses
// does not compile.
enum class border : uint32_t {
    clipped = kip_filterBorderClipped,
    truncated = kip_filterBorderTruncated,
    mirrored = kip_filterBorderMirrored,
};

// ---- Windows -----------------------------------------------------------------------------------

template <class T>
class window {
    static_assert(is_pixel_v<T>, "kip pixels are std::uint8_t, std::uint16_t or std::int16_t, or const");

public:
    using value_type = std::remove_const_t<T>;

    window() noexcept : w_{} {}
    // Adopts a C window of the right depth (or an unbound one).
    explicit window(const kimg_window& w) : w_(w) {
        if (w.bytesPerPixel != 0 && w.bytesPerPixel != static_cast<int32_t>(sizeof(T)))
            throw error(kimg_errDepthMismatch);
    }
    // A read-only window of a writable one.
    template <class U, std::enable_if_t<std::is_const_v<T> && std::is_same_v<U, value_type>, int> = 0>
    window(const window<U>& other) noexcept : w_(*other.get()) {}

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

template <class T>
class image {
    static_assert(is_pixel_v<T>, "kip pixels are std::uint8_t, std::uint16_t or std::int16_t, or const");

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
    static image wrap(span<T> pixels, int32_t width, int32_t height, int32_t stride = 0) {
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
    template <class U, std::enable_if_t<std::is_const_v<T> && std::is_same_v<U, value_type>, int> = 0>
    image(const image<U>& other) {
        unbind();
        check(kimg_image_assign(&img_, &other.img_));
    }
    // The handle is a plain record; moving it hands over its reference.
    image(image&& other) noexcept : img_(other.img_) { other.unbind(); }
    template <class U, std::enable_if_t<std::is_const_v<T> && std::is_same_v<U, value_type>, int> = 0>
    image(image<U>&& other) noexcept : img_(other.img_) {
        other.unbind();
    }
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

    void fill(value_type value) {
        static_assert(!std::is_const_v<T>, "fill needs a writable image");
        if constexpr (sizeof(T) == 1)
            check(kip_pelSet8(&img_, value));
        else
            check(kip_pelSet16(&img_, static_cast<uint16_t>(value)));
    }

private:
    template <class U>
    friend class image;
    void unbind() noexcept { kimg_image_constructUnbound(&img_); }
    kimg_image img_;
};

}  // namespace kip

#endif
