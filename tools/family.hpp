// How a filter family joins kipf: tools/family_<name>.cpp defines `Family <name>Family()` (its
// subcommand and its demo steps), and families.def gets the line KIPF_FAMILY(<name>).
#pragma once

#include <chrono>
#include <functional>
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
    const Raster* mask;              // 8-bit, the source's size; null without --mask
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

// An 8-bit view of a raster for the contact sheet: 16-bit values keep their top byte.
inline Raster preview8(const Raster& r) {
    if (r.bits == 8) return r;
    Raster out = Raster::make(r.width, r.height, 8);
    for (std::size_t i = 0; i < r.grey16.size(); ++i) out.grey8[i] = static_cast<uint8_t>(r.grey16[i] >> 8);
    return out;
}

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
