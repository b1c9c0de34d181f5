// kipf median: the median of each pixel's neighbourhood, which removes specks and keeps edges.
#include <cmath>
#include <memory>

#include "family.hpp"

namespace kipf {
namespace {

// Members of a box, disk (the ellipse inscribed in the box) or cross of the given size, row by
// row.
std::vector<uint8_t> shapeMembers(const std::string& shape, kstd_pair32 size) {
    std::vector<uint8_t> members;
    const double rx = size.x / 2 + 0.5, ry = size.y / 2 + 0.5;
    for (int32_t y = 0; y < size.y; ++y)
        for (int32_t x = 0; x < size.x; ++x) {
            const double dx = x - size.x / 2, dy = y - size.y / 2;
            bool member = true;
            if (shape == "disk") member = (dx * dx) / (rx * rx) + (dy * dy) / (ry * ry) <= 1.0;
            if (shape == "cross") member = dx == 0 || dy == 0;
            members.push_back(member ? 255 : 0);
        }
    return members;
}

kip::mask_kernel makeKernel(const std::string& shape, kstd_pair32 size) {
    if (shape == "box") return kip::mask_kernel(size.x, size.y);
    const std::vector<uint8_t> members = shapeMembers(shape, size);
    return kip::mask_kernel(size.x, size.y, std::span<const uint8_t>(members));
}

class Median {
public:
    explicit Median(kip::mask_kernel kernel) : kernel_(std::move(kernel)) {}

    Raster operator()(const FilterInput& in) const {
        return filterWindow(in, [&](auto from, const auto* mask, auto to) {
            if (mask)
                kip::median(from, *mask, kernel_, to);
            else
                kip::median(from, kernel_, to);
        });
    }

private:
    kip::mask_kernel kernel_;
};

Filter prepare(const Options& o) {
    const kstd_pair32 size = o.has("size") ? parseSize(o.get("size")) : kstd_pair32{3, 3};
    const std::string shape = o.get("shape", "box");
    if (shape != "box" && shape != "disk" && shape != "cross")
        throw UsageError("--shape " + shape + ": expected box, disk or cross");
    auto median = std::make_shared<const Median>(makeKernel(shape, size));
    return [median](const FilterInput& in) { return (*median)(in); };
}

// Salt-and-pepper specks on the scene show what the median removes.
template <class T>
std::vector<T> specked(std::vector<T> pixels) {
    uint32_t state = 12345;
    for (T& p : pixels) {
        state = state * 1664525u + 1013904223u;
        if ((state >> 24) < 8) p = (state >> 23) & 1 ? T(~T(0)) : T(0);
    }
    return pixels;
}

DemoStep demoStep(const std::string& shape, kstd_pair32 size, uint32_t bits) {
    const std::string name = shape + "-" + sizeText(size) + (bits == 16 ? "-16bit" : "");
    return DemoStep{
        "median " + shape + (bits == 16 ? " 16-bit" : ""), sizeText(size), "median-" + name + ".png",
        [shape, size, bits](const Scene& scene) {
            const kip::mask_kernel kernel = makeKernel(shape, size);
            const Raster& in = bits == 8 ? scene.grey8 : scene.grey16;
            DemoOutput out;
            out.file = Raster::make(in.width, in.height, bits);
            if (bits == 8) {
                const std::vector<uint8_t> noisy = specked(in.grey8);
                auto source = kip::image<const uint8_t>::wrap(std::span<const uint8_t>(noisy), in.width, in.height);
                auto result = kip::image<uint8_t>::wrap(std::span<uint8_t>(out.file.grey8), in.width, in.height);
                out.seconds = bestTime([&] { kip::median(source, kernel, result); });
                out.preview = out.file;
            } else {
                const std::vector<uint16_t> noisy = specked(in.grey16);
                auto source = kip::image<const uint16_t>::wrap(std::span<const uint16_t>(noisy), in.width, in.height);
                auto result = kip::image<uint16_t>::wrap(std::span<uint16_t>(out.file.grey16), in.width, in.height);
                out.seconds = bestTime([&] { kip::median(source, kernel, result); });
                out.preview = Raster::make(in.width, in.height, 8);
                for (std::size_t i = 0; i < out.file.grey16.size(); ++i)
                    out.preview.grey8[i] = static_cast<uint8_t>(out.file.grey16[i] >> 8);
            }
            return out;
        }};
}

}  // namespace

Family medianFamily() {
    return Family{Command{
                      "median",
                      "median filter: removes specks and noise, keeps edges",
                      "Replaces every pixel by the median of its neighbourhood: a box (default), the disk\n"
                      "inscribed in it, or a cross, of odd width and height. Near the image's edges the\n"
                      "neighbourhood is cut to the pixels inside the image; when their number is even the lower\n"
                      "of the two middle values is taken. 8-bit and 16-bit images keep their depth.\n"
                      "With --mask, pixels where the mask is 0 take no part and keep their value. With --roi only\n"
                      "that window is filtered (its edges act as the image's edges) and the rest of the output\n"
                      "keeps the input. Boxes up to 9x9 run through SIMD sorting networks; large images are\n"
                      "filtered in bands on --threads threads.\n",
                      "  kipf median scan.png -o clean.png\n"
                      "  kipf median --size 7x7 --shape disk --threads 4 bench.tif -o smooth.tif\n"
                      "  kipf median --size 5x5 --mask parts.png --roi 100,80,320,240 a.pgm b.pgm --out-dir m/\n",
                      {
                          {"size", "WxH", "neighbourhood size, odd (default 3x3)"},
                          {"shape", "SHAPE", "box (default), disk or cross"},
                      },
                      prepare,
                  },
                  {demoStep("box", {5, 5}, 8), demoStep("disk", {9, 9}, 8), demoStep("box", {9, 9}, 16)}};
}

}  // namespace kipf
