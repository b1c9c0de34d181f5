// Sobel edges of a small ramp through kip's C++ wrapper.
#include <array>
#include <cstdio>
#include <kip/kip.hpp>
#include <vector>

int main() try {
    std::vector<std::uint8_t> pixels(8 * 8);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i % 8 * 30);
    auto source = kip::image<const std::uint8_t>::wrap(std::span<const std::uint8_t>(pixels), 8, 8);  // no copy
    kip::kernel<std::int16_t> sobelX(3, 3, std::array<std::int16_t, 9>{1, 0, -1, 2, 0, -2, 1, 0, -1});
    kip::image<std::int16_t> edges = kip::convolve(source, sobelX);
    std::printf("gradient at the centre: %d\n", edges.view()(4, 4));
    return 0;
} catch (const kip::error& e) {
    std::fprintf(stderr, "kip: %s\n", e.what());
    return 1;
}
