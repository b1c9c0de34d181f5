// Built as C++17 with -Wall -Wextra -Werror -pedantic: kip/kip.hpp and every template it offers
// must compile for users who are not on C++20 yet.
#include <array>
#include <cstdio>
#include <vector>

#include "kip/kip.hpp"

static_assert(__cplusplus < 202002L, "this check must be built as C++17");

int main() try {
    std::vector<std::uint8_t> pixels(9 * 7);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 3);
    auto source = kip::image<const std::uint8_t>::wrap(pixels, 9, 7);
    kip::image<std::uint8_t> writable = source.clone();
    kip::image<const std::uint8_t> shared = writable;

    kip::kernel<std::uint8_t> box(3, 3, std::array<std::uint8_t, 9>{1, 1, 1, 1, 1, 1, 1, 1, 1});
    kip::image<std::uint8_t> mean = kip::convolve(shared, box, kip::convolve_border::clipped);
    kip::image<std::int16_t> edges = kip::convolve(source, kip::sobel_kernel(kip::axis::x));
    kip::image<std::int16_t> ridges(9, 7);
    kip::convolve(source.view(), kip::laplace_kernel(), ridges.view());
    kip::convolve(writable, kip::gaussian_kernel(5, 3), writable);
    kip::window<const std::int16_t> readOnly = edges.view();

    kip::image<std::uint16_t> deep(4, 4);
    deep.fill(7);
    kip::image<std::uint16_t> flat = kip::subtract_local_mean(deep, kip::neighbourhood{3, 3});
    kip::mask_kernel cross(3, 3, std::array<std::uint8_t, 9>{0, 1, 0, 1, 1, 1, 0, 1, 0});
    kip::image<std::uint16_t> ranked = kip::rank(deep, cross, 0.5);
    kip::rank(source.view(), kip::mask_kernel(3, 3), 1.0, writable.view());
    kip::image<std::uint8_t> opened = kip::open(source, kip::mask_kernel::disk(1));
    const kip::structuring_element ramp(3, 3, std::array<std::int16_t, 9>{-2, -1, 0, -1, 0, 1, 0, 1, 2});
    kip::dilate(source.view(), ramp, writable.view());
    kip::image<std::uint16_t> closed = kip::close(deep, {3, 3});
    std::printf("%d %d %d %d %d\n", mean.view()(0, 0), readOnly(4, 3), ridges.view()(4, 3), deep.view()(1, 1),
                cross.rectangular() ? 1 : 0);
    return deep.view()(1, 1) == 7 && ranked.view()(1, 1) == 7 && closed.view()(1, 1) == 7 && opened.bound() &&
                   flat.view()(1, 1) == 32768 && !cross.rectangular()
               ? 0
               : 1;
} catch (const kip::error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
}
