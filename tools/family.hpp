// How a filter family joins kipf: tools/family_<name>.cpp defines `Family <name>Family()` (its
// subcommand and its demo steps), and families.def gets the line KIPF_FAMILY(<name>).
#pragma once

#include <chrono>
#include <functional>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli.hpp"
#include "image_io.hpp"
#include "kip/kip.hpp"
#include "scene.hpp"

namespace kipf {

// One input file as a family's filter sees it.
struct FilterInput {
    const std::string& path;
    const Raster& source;
    const Raster* mask;              // 8-bit 0/255, the source's size; null without --mask
    std::optional<kstd_rect32> roi;  // inside the source; null without --roi
};

// Filters one input. Throws InputError (or kip::error) for input it cannot handle.
using Filter = std::function<Raster(const FilterInput&)>;

struct Command {
    std::string name;
    std::string summary;              // one line for kipf --help
    std::string description;          // what it computes and writes, for kipf NAME --help
    std::string examples;             // lines of example invocations
    std::vector<OptionSpec> options;  // the family's own; the common ones are added by kipf
    // Reads the family's options into a filter; throws UsageError for bad values.
    std::function<Filter(const Options&)> prepare;
};

struct DemoOutput {
    Raster file;        // written as DIR/<step file>, for people to look at
    Raster preview;     // 8-bit view of it for the contact sheet (preview8 makes one)
    double seconds;     // time of the library call alone
    std::string shown;  // how the file shows the result: "8-bit mean", "16-bit", "128 + 127 v/40 ..."
};

struct DemoStep {
    std::string filter;  // "convolve box"
    std::string size;    // "5x5"
    std::string file;    // "convolve-box-5x5.png"
    std::function<DemoOutput(const Scene&)> run;
};

struct Family {
    Command command;
    std::vector<DemoStep> steps;
};

#define KIPF_FAMILY(name) Family name##Family();
#include "families.def"
#undef KIPF_FAMILY

// In the order of families.def.
const std::vector<Family>& families();
std::vector<const Command*> commands();
std::vector<const DemoStep*> demoSteps();

// ---- Helpers for families ----------------------------------------------------------------------

// A kip image over the raster's pixels, without copying them.
inline kip::image<const uint8_t> wrap8(const Raster& r) {
    return kip::image<const uint8_t>::wrap(std::span<const uint8_t>(r.grey8), r.width, r.height);
}
inline kip::image<const uint16_t> wrap16(const Raster& r) {
    return kip::image<const uint16_t>::wrap(std::span<const uint16_t>(r.grey16), r.width, r.height);
}

template <class T>
std::vector<T>& pixelsOf(Raster& r) {
    if constexpr (sizeof(T) == 1)
        return r.grey8;
    else
        return r.grey16;
}
template <class T>
const std::vector<T>& pixelsOf(const Raster& r) {
    return pixelsOf<T>(const_cast<Raster&>(r));
}

// Calls f(source, mask, destination) with the windows of in's --roi (the whole image without one)
// at the input's depth; mask points to the 0/255 mask window, or is null without --mask. Outside
// the window the result keeps the input, and so does every pixel f leaves alone.
template <class F>
Raster filterWindow(const FilterInput& in, F&& f) {
    auto run = [&](auto pixel) {
        using T = decltype(pixel);
        const Raster& s = in.source;
        Raster out = Raster::make(s.width, s.height, s.bits);
        const std::vector<T>& pixels = pixelsOf<T>(s);
        pixelsOf<T>(out) = pixels;
        const kstd_rect32 target = in.roi ? *in.roi : kstd_rect32{0, 0, s.width, s.height};
        auto source = kip::image<const T>::wrap(std::span<const T>(pixels), s.width, s.height);
        auto destination = kip::image<T>::wrap(std::span<T>(pixelsOf<T>(out)), s.width, s.height);
        const kip::window<const T> from = source.view().sub(target);
        const kip::window<T> to = destination.view().sub(target);
        if (!in.mask) {
            f(from, static_cast<const kip::window<const uint8_t>*>(nullptr), to);
        } else {
            auto mask = kip::image<const uint8_t>::wrap(std::span<const uint8_t>(in.mask->grey8), s.width, s.height);
            const kip::window<const uint8_t> m = mask.view().sub(target);
            f(from, &m, to);
        }
        return out;
    };
    return in.source.bits == 8 ? run(uint8_t{}) : run(uint16_t{});
}

// An 8-bit view of a raster for the contact sheet: 16-bit values keep their top byte.
inline Raster preview8(const Raster& r) {
    if (r.bits == 8) return r;
    Raster out = Raster::make(r.width, r.height, 8);
    for (std::size_t i = 0; i < r.grey16.size(); ++i) out.grey8[i] = static_cast<uint8_t>(r.grey16[i] >> 8);
    return out;
}

// A kernel drawn as an image (--kernel FILE): non-zero pixels are members.
kip::mask_kernel drawnKernel(const std::string& path);

// A grid of whole numbers from a text file: rows of numbers separated by spaces, commas or tabs,
// '#' to the end of a line a comment; with allowGaps a '.' marks a position that is no member
// (weight 0). Width and height must be odd. Throws InputError naming the file and line.
struct WeightGrid {
    kstd_pair32 size{0, 0};
    std::vector<int64_t> weights;  // row by row
    std::vector<uint8_t> members;  // row by row, 255 or 0 (a '.')
};
WeightGrid parseWeightGrid(std::istream& in, const std::string& path, int64_t low, int64_t high, bool allowGaps);

// Runs call a few times and returns the shortest time in seconds.
template <class F>
double bestTime(F&& call, int runs = 3) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        call();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace kipf
