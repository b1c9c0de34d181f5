// Sobel edges of a small ramp through kip's C++ wrapper (C++17 or later).
#include <cstdio>
#include <kip/kip.hpp>
#include <vector>

int main() try {
    std::vector<std::uint8_t> pixels(8 * 8);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i % 8 * 30);
    auto source = kip::image<const std::uint8_t>::wrap(pixels, 8, 8);  // no copy
    kip::image<std::int16_t> edges = kip::convolve(source, kip::sobel_kernel(kip::axis::x));
    std::printf("gradient at the centre: %d\n", edges.view()(4, 4));
    return edges.view()(4, 4) == 60 ? 0 : 1;
} catch (const kip::error& e) {
    std::fprintf(stderr, "kip: %s\n", e.what());
    return 1;
}
