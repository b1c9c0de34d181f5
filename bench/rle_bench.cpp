// Run-length encoding of masks, kip only (no peer holds masks this way): a small disc kernel
// mask, a thresholded 4096 x 4096 scene (an image mask) and thresholded noise (the worst case,
// about one run per two pixels). Counters show what the run-block rule allocates: blocks per
// image and runs used per row.
#include <benchmark/benchmark.h>

#include <vector>

#include "kip/kip.h"
#include "scene.hpp"

namespace {

std::vector<uint8_t> maskOf(int which, int32_t* side) {
    if (which == 0) {
        *side = 31;
        std::vector<uint8_t> disc(31 * 31);
        for (int32_t y = 0; y < 31; ++y)
            for (int32_t x = 0; x < 31; ++x)
                disc[size_t(y * 31 + x)] = (x - 15) * (x - 15) + (y - 15) * (y - 15) <= 225 ? 255 : 0;
        return disc;
    }
    *side = 4096;
    std::vector<uint8_t> p = which == 1 ? kipbench::scene8(4096, 4096) : kipbench::noise8(4096, 4096);
    for (uint8_t& v : p) v = v > 128 ? 255 : 0;
    return p;
}

void encodeMask(benchmark::State& state) {
    int32_t side = 0;
    std::vector<uint8_t> pixels = maskOf(int(state.range(0)), &side);
    const kstd_rect32 rect{0, 0, side, side};
    kimg_image image;
    kimg_image_constructWrap(&image, 1, &rect, side, pixels.data());
    int32_t blocks = 0, runs = 0;
    kip_status s = 0;
    for (auto _ : state) {
        kip_rleImage8 rle;
        s = kip_rleImage8_constructImage(&rle, &image);
        if (s != 0) break;
        kstd_vector_kip_rleRun8Ptr_getSize32(&rle.blocks, &blocks);
        const kip_rleRow8* rows = nullptr;
        int32_t n = 0;
        kstd_vector_kip_rleRow8_getBeginSize32Const(&rle.rows, &rows, &n);
        runs = 0;
        for (int32_t i = 0; i < n; ++i) runs += rows[i].count;
        kip_rleImage8_destruct(&rle);
    }
    if (s != 0) state.SkipWithError("kip failed");
    state.counters["blocks"] = blocks;
    state.counters["runs/row"] = double(runs) / side;
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    kimg_image_destruct(&image);
}

}  // namespace

BENCHMARK(encodeMask)->Name("rle_encode/disc31")->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(encodeMask)->Name("rle_encode/scene_mask")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeMask)->Name("rle_encode/noise_mask")->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
