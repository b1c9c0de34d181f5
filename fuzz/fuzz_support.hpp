// What every fuzz target shares: reading choices from the input bytes, images whose geometry the
// bytes choose (sizes 0 and 1, client positions, strides, windows of one image that overlap), the
// run environment (hook answers, instruction sets, threads, an injected allocation failure), and
// the checks every call must pass.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

#include "kip/kip.h"

// A failed check is a finding: report it and abort so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace kipfuzz {

using Input = FuzzedDataProvider;

// Success, or one of the failure codes the headers document.
bool documented(kip_status status);
void checkStatus(kip_status status, const char* what);

// One image handle. Handles made by Scene::share refer to another handle's storage.
struct Img {
    kimg_image h{};
    std::unique_ptr<uint8_t[]> wrapped;  // caller memory of a wrapped image
    int storage = -1;                    // index of the storage in its scene; -1 when unbound
    uint32_t depth = 0;
    Img() { kimg_image_constructUnbound(&h); }
    ~Img() { kimg_image_destruct(&h); }
    Img(const Img&) = delete;
    Img& operator=(const Img&) = delete;
};

// Images of one call. Sizes stay small so that a run takes microseconds; now and then an image
// of 1 x N or N x 1, a position near the ends of the 32-bit range, or a stride below the width.
class Scene {
public:
    explicit Scene(Input& in) : in_(in) {}
    Img* unbound();
    // New storage of that depth; null when its construction was refused (checked to be right).
    Img* fresh(uint32_t depth);
    // Another handle on other's storage with a window the bytes choose.
    Img* share(const Img& other);
    // New storage, or a share of an existing storage of that depth, as the bytes choose.
    Img* freshOrShared(uint32_t depth);
    // New storage whose window is exactly rect (an image mask over a source).
    Img* over(const kstd_rect32& rect, uint32_t depth);
    // The image mask of a filter call: none (null), an unbound handle, a mask over the source's
    // window, one of any window, the source's own pixels, or one of the wrong depth.
    Img* mask(const Img& source);
    // The destination: unbound, new storage, or the pixels of the source or the mask (overlap).
    Img* destination(const Img& source, const Img* mask, uint32_t depth);
    // A window over the image's window restricted to a rectangle the bytes choose (may be null);
    // unbound for a null or unbound image.
    kimg_window window(const Img* image);
    // Raw bytes of every storage in creation order.
    std::vector<std::vector<uint8_t>> storages() const;
    const std::vector<std::unique_ptr<Img>>& images() const { return images_; }

private:
    Input& in_;
    std::vector<std::unique_ptr<Img>> images_;
    std::vector<const Img*> owners_;  // the first handle of each storage
};

// A window's rectangle followed by its pixel bytes row by row.
std::vector<uint8_t> windowBytes(const kimg_window& w);
std::vector<uint8_t> imageBytes(const kimg_image& image);

// Run environment the bytes choose.
struct Environment {
    uint32_t hookBits = 0;       // the hook's answer per label (labels hash to a bit); 0: no hook
    uint32_t featureMask = ~0u;  // instruction sets reported
    uint32_t threads = 1;        // threads the job library offers
    int64_t failAfter = -1;      // successful allocations before the injected failure; -1: none
    bool cancel = false;         // the attention check asks to cancel
    void read(Input& in);
};

// What a run gives: the status and whatever the target collects to compare.
struct Outcome {
    kip_status status = 0;
    bool injected = false;     // the injected allocation failure fired
    bool cancelled = false;    // cancellation was requested
    bool unspecified = false;  // the headers leave the result open (e.g. sums past 32 bits)
    std::vector<std::vector<uint8_t>> results;
};

// One run over the bytes: the target's body builds its scene and makes its call through call().
class Run {
public:
    Run(const uint8_t* data, size_t size, bool reference);
    ~Run();
    Input in;
    Environment env;
    Scene& scene() { return *scene_; }
    // Makes the call in the environment. Storages of the scene other than those of `written` must
    // be untouched; failures other than an injected one or a cancellation must write nothing.
    kip_status call(std::initializer_list<const Img*> written, const std::function<kip_status()>& f);
    Outcome outcome;

private:
    int64_t liveBefore_;
    std::optional<Scene> scene_;
};

using Body = std::function<void(Run& run)>;

// Runs body in the environment the bytes choose, then again with every optimised path inhibited,
// no injected failure and one thread: statuses and results must agree unless the first run was
// cut short by the injected failure (then it must report that failure) or a cancellation.
int compareRuns(const uint8_t* data, size_t size, const Body& body);

// Sets every pixel of the image's storage to 0 or 255 (masks that must hold only those).
void binarize(const Img& image);

// Mask kernel shapes the bytes choose: mostly odd sizes up to 11, rectangular or masked; now and
// then an even, zero, negative or huge size. The kernel stays as it was when the change fails.
kip_status shapeKernel(Input& in, kip_filterMaskKernel& kernel);
// A kernel side: usually odd and small, sometimes anything.
int32_t kernelSide(Input& in);
// A percentile: the ends, the median, anything in [-0.5, 1.5], NaN or infinities.
double percentile(Input& in);

// Pixel values for a window: random, extremes only, or a few levels (ties), as the bytes choose.
void fillPixels(Input& in, const kimg_window& w);

}  // namespace kipfuzz
