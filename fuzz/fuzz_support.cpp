#include "fuzz_support.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <random>

namespace kipfuzz {
namespace {

uint32_t gHookBits = 0;

// Labels hash to one of 32 bits of the answer, so the bytes can inhibit any subset of paths.
int32_t hook(const uint16_t* label) {
    uint32_t h = 2166136261u;
    for (; *label; ++label) h = (h ^ *label) * 16777619u;
    return int32_t((gHookBits >> (h & 31)) & 1);
}

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    // Requests above this fail as out of memory instead of exhausting the fuzzer's own limit.
    ksys_memory_setAllocationLimit(uint64_t{64} << 20);
}

int32_t clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

bool documented(kip_status s) {
    if (!kip_status_isFailure(s)) return true;
    switch (s) {
        case kip_errRankOutOfRange:
        case kip_errBadMode:
        case kip_errImageUnbound:
        case kip_errKernelImageUnbound:
        case kip_errKernelSizeNotOdd:
        case kip_errMaskWindowMismatch:
        case kip_errOffsetImageSizeMismatch:
        case kip_errOffsetValueRange:
        case kip_errNotAvailable:
        case kip_errMemoryOverlap:
        case ksys_errOutOfMemory:
        case ksys_errCancelled:
        case kstd_errInvalidArgument:
        case kstd_errIndexRange:
        case kimg_errDepthMismatch:
        case kimg_errSizeMismatch:
        case ksys_errThread:
            return true;
        default:
            return false;
    }
}

void checkStatus(kip_status s, const char* what) {
    if (documented(s)) return;
    std::fprintf(stderr, "%s: undocumented status 0x%08x\n", what, unsigned(s));
    std::abort();
}

void fillPixels(Input& in, const kimg_window& w) {
    const int style = in.ConsumeIntegralInRange(0, 2);
    if (!w.pixels || w.rect.width <= 0 || w.rect.height <= 0) return;
    std::minstd_rand rng(in.ConsumeIntegral<uint32_t>());
    const uint32_t max = w.bytesPerPixel == 2 ? 0xFFFFu : 0xFFu;
    for (int32_t y = 0; y < w.rect.height; ++y) {
        uint8_t* row = static_cast<uint8_t*>(w.pixels) + intptr_t(y) * w.stride * w.bytesPerPixel;
        for (int32_t x = 0; x < w.rect.width; ++x) {
            uint32_t v = uint32_t(rng());
            if (style == 1) v = (v >> 7) & 1 ? max : 0;
            if (style == 2) v = ((v >> 5) % 3) * (max / 2);
            if (w.bytesPerPixel == 2) {
                const uint16_t p = uint16_t(v);
                std::memcpy(row + 2 * x, &p, 2);
            } else {
                row[x] = uint8_t(v);
            }
        }
    }
}

Img* Scene::unbound() {
    images_.push_back(std::make_unique<Img>());
    return images_.back().get();
}

Img* Scene::fresh(uint32_t depth) {
    int64_t w, h;
    switch (in_.ConsumeIntegralInRange(0, 15)) {
        case 12:
            w = 1, h = in_.ConsumeIntegralInRange(1, 300);
            break;
        case 13:
            w = in_.ConsumeIntegralInRange(1, 300), h = 1;
            break;
        case 14:
            w = in_.ConsumeIntegralInRange(0, 64), h = in_.ConsumeIntegralInRange(0, 64);
            break;
        case 15:
            w = in_.ConsumeIntegralInRange(0, 2), h = in_.ConsumeIntegralInRange(0, 2);
            break;
        default:
            w = in_.ConsumeIntegralInRange(0, 24), h = in_.ConsumeIntegralInRange(0, 24);
    }
    auto position = [&]() -> int64_t {
        switch (in_.ConsumeIntegralInRange(0, 9)) {
            case 8:
                return INT32_MAX - in_.ConsumeIntegralInRange<int64_t>(0, 40);
            case 9:
                return INT32_MIN + in_.ConsumeIntegralInRange<int64_t>(0, 40);
            default:
                return in_.ConsumeIntegralInRange(-6, 6);
        }
    };
    const int64_t x = position(), y = position();
    const kstd_rect32 r{int32_t(x), int32_t(y), int32_t(w), int32_t(h)};
    const bool outside = x + w > INT32_MAX || y + h > INT32_MAX;

    auto img = std::make_unique<Img>();
    kimg_image made;
    kip_status s;
    bool narrow = false;
    if (in_.ConsumeBool()) {
        int64_t stride = w + in_.ConsumeIntegralInRange(0, 6);
        if (in_.ConsumeIntegralInRange(0, 15) == 0) stride = w - in_.ConsumeIntegralInRange(1, 3);
        narrow = stride < w && h > 0;
        img->wrapped.reset(new uint8_t[size_t(std::max(stride, w) * h * depth + 1)]());
        s = kimg_image_constructWrap(&made, depth, &r, int32_t(stride), img->wrapped.get());
    } else {
        s = kimg_image_constructRect(&made, depth, &r);
    }
    checkStatus(s, "image construction");
    if (kip_status_isFailure(s)) {
        FUZZ_CHECK(s == kstd_errInvalidArgument || s == ksys_errOutOfMemory);
        return nullptr;
    }
    // A stride below the width, or edges past the 32-bit range, must be refused.
    FUZZ_CHECK(!narrow || w == 0);
    FUZZ_CHECK(!outside || w == 0 || h == 0);
    kimg_image_destruct(&img->h);
    img->h = made;
    img->depth = depth;
    img->storage = int(owners_.size());
    owners_.push_back(img.get());
    kimg_window all;
    FUZZ_CHECK(kimg_window_init(&all, &img->h) == 0);
    fillPixels(in_, all);
    if (in_.ConsumeIntegralInRange(0, 3) == 0) {
        const kstd_rect32 wr{clamp32(x + in_.ConsumeIntegralInRange(-2, 24)),
                             clamp32(y + in_.ConsumeIntegralInRange(-2, 24)), in_.ConsumeIntegralInRange(-1, 26),
                             in_.ConsumeIntegralInRange(-1, 26)};
        uint32_t clipped;
        FUZZ_CHECK(kimg_image_setWindowRect(&img->h, &wr, &clipped) == 0);
    }
    images_.push_back(std::move(img));
    return images_.back().get();
}

Img* Scene::share(const Img& other) {
    auto img = std::make_unique<Img>();
    FUZZ_CHECK(kimg_image_assign(&img->h, &other.h) == 0);
    img->depth = other.depth;
    img->storage = other.storage;
    kstd_rect32 b;
    FUZZ_CHECK(kimg_image_getBounds(&img->h, &b) == 0);
    if (other.storage >= 0 && in_.ConsumeBool()) {
        const kstd_rect32 wr{clamp32(int64_t(b.x) + in_.ConsumeIntegralInRange(-2, 12)),
                             clamp32(int64_t(b.y) + in_.ConsumeIntegralInRange(-2, 12)),
                             in_.ConsumeIntegralInRange(-1, 26), in_.ConsumeIntegralInRange(-1, 26)};
        uint32_t clipped;
        FUZZ_CHECK(kimg_image_setWindowRect(&img->h, &wr, &clipped) == 0);
    }
    images_.push_back(std::move(img));
    return images_.back().get();
}

Img* Scene::over(const kstd_rect32& rect, uint32_t depth) {
    auto img = std::make_unique<Img>();
    const kip_status s = kimg_image_constructRect(&img->h, depth, &rect);
    checkStatus(s, "image over a rectangle");
    if (kip_status_isFailure(s)) {
        kimg_image_constructUnbound(&img->h);
        return nullptr;
    }
    img->depth = depth;
    img->storage = int(owners_.size());
    owners_.push_back(img.get());
    kimg_window all;
    FUZZ_CHECK(kimg_window_init(&all, &img->h) == 0);
    fillPixels(in_, all);
    images_.push_back(std::move(img));
    return images_.back().get();
}

Img* Scene::mask(const Img& source) {
    kstd_rect32 r;
    FUZZ_CHECK(kimg_image_getWindow(&source.h, &r) == 0);
    switch (in_.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
            return nullptr;
        case 3:
            return unbound();
        case 4:
            return fresh(1);
        case 5:
            return source.depth == 1 ? share(source) : over(r, 1);
        case 6:
            return over(r, 2);
        default:
            return over(r, 1);
    }
}

Img* Scene::destination(const Img& source, const Img* mask, uint32_t depth) {
    switch (in_.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
            return unbound();
        case 2:
            return share(source);
        case 3:
            return mask && mask->storage >= 0 && mask->depth == depth ? share(*mask) : share(source);
        case 4:
            return fresh(depth == 1 ? 2 : 1);
        case 5: {
            kstd_rect32 r;
            FUZZ_CHECK(kimg_image_getWindow(&source.h, &r) == 0);
            return over(r, depth);
        }
        default:
            return fresh(depth);
    }
}

void binarize(const Img& image) {
    if (image.storage < 0) return;
    kimg_image all;
    FUZZ_CHECK(kimg_image_constructCopy(&all, &image.h) == 0);
    kstd_rect32 b;
    uint32_t clipped;
    FUZZ_CHECK(kimg_image_getBounds(&all, &b) == 0);
    FUZZ_CHECK(kimg_image_setWindowRect(&all, &b, &clipped) == 0);
    kimg_window w;
    FUZZ_CHECK(kimg_window_init(&w, &all) == 0);
    for (int32_t y = 0; w.pixels && y < w.rect.height; ++y) {
        uint8_t* row = static_cast<uint8_t*>(w.pixels) + intptr_t(y) * w.stride * w.bytesPerPixel;
        for (int32_t x = 0; x < w.rect.width * w.bytesPerPixel; ++x) row[x] = row[x] & 0x80 ? 0xFF : 0;
    }
    kimg_image_destruct(&all);
}

int32_t kernelSide(Input& in) {
    switch (in.ConsumeIntegralInRange(0, 15)) {
        case 12:
            return in.ConsumeIntegralInRange(-3, 12);
        case 13:
            return 2 * in.ConsumeIntegralInRange(6, 20) + 1;
        case 14: {
            static const int32_t huge[] = {INT32_MAX, INT32_MIN, 65535, 65537, 46341, 1 << 20 | 1};
            return huge[in.ConsumeIntegralInRange(0, 5)];
        }
        case 15:
            return 0;
        default:
            return 2 * in.ConsumeIntegralInRange(0, 5) + 1;
    }
}

double percentile(Input& in) {
    switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
            return 0.0;
        case 1:
            return 1.0;
        case 2:
            return 0.5;
        case 3:
            return std::numeric_limits<double>::quiet_NaN();
        case 4:
            return in.ConsumeBool() ? std::numeric_limits<double>::infinity()
                                    : -std::numeric_limits<double>::infinity();
        case 5:
            return -0.0;
        default:
            return in.ConsumeFloatingPointInRange(-0.5, 1.5);
    }
}

kip_status shapeKernel(Input& in, kip_filterMaskKernel& kernel) {
    const kstd_pair32 size{kernelSide(in), kernelSide(in)};
    kip_status s;
    if (in.ConsumeBool() || int64_t(size.x) * size.y > 15 * 15 || size.x <= 0 || size.y <= 0) {
        s = kip_filterMaskKernel_setSize(&kernel, &size);
    } else {
        kimg_image m;
        kimg_image_constructUnbound(&m);
        const kstd_rect32 r{in.ConsumeIntegralInRange(-4, 4), in.ConsumeIntegralInRange(-4, 4), size.x, size.y};
        FUZZ_CHECK(kimg_image_assignNewRect(&m, 1, &r) == 0);
        kimg_window w;
        FUZZ_CHECK(kimg_window_init(&w, &m) == 0);
        fillPixels(in, w);
        s = kip_filterMaskKernel_setMask(&kernel, &m);
        kimg_image_destruct(&m);
    }
    checkStatus(s, "kernel shape");
    return s;
}

Img* Scene::freshOrShared(uint32_t depth) {
    std::vector<const Img*> same;
    for (const Img* o : owners_)
        if (o->depth == depth) same.push_back(o);
    if (!same.empty() && in_.ConsumeIntegralInRange(0, 3) == 0)
        return share(*same[in_.ConsumeIntegralInRange<size_t>(0, same.size() - 1)]);
    return fresh(depth);
}

kimg_window Scene::window(const Img* image) {
    kimg_window w;
    if (!image) {
        kimg_window_initUnbound(&w);
        return w;
    }
    FUZZ_CHECK(kimg_window_init(&w, &image->h) == 0);
    if (image->storage >= 0 && in_.ConsumeIntegralInRange(0, 2) == 0) {
        uint32_t clipped;
        FUZZ_CHECK(kimg_window_window(&w, &w, clamp32(int64_t(w.rect.x) + in_.ConsumeIntegralInRange(-2, 10)),
                                      clamp32(int64_t(w.rect.y) + in_.ConsumeIntegralInRange(-2, 10)),
                                      in_.ConsumeIntegralInRange(-1, 26), in_.ConsumeIntegralInRange(-1, 26),
                                      &clipped) == 0);
    }
    return w;
}

std::vector<uint8_t> windowBytes(const kimg_window& w) {
    std::vector<uint8_t> out(sizeof w.rect);
    std::memcpy(out.data(), &w.rect, sizeof w.rect);
    if (!w.pixels || w.rect.width <= 0 || w.rect.height <= 0) return out;
    const size_t row = size_t(w.rect.width) * size_t(w.bytesPerPixel);
    for (int32_t y = 0; y < w.rect.height; ++y) {
        const uint8_t* p = static_cast<const uint8_t*>(w.pixels) + intptr_t(y) * w.stride * w.bytesPerPixel;
        out.insert(out.end(), p, p + row);
    }
    return out;
}

std::vector<uint8_t> imageBytes(const kimg_image& image) {
    uint32_t bound = 0;
    FUZZ_CHECK(kimg_image_getIsBound(&image, &bound) == 0);
    if (!bound) return {};
    kimg_window w;
    FUZZ_CHECK(kimg_window_init(&w, &image) == 0);
    return windowBytes(w);
}

std::vector<std::vector<uint8_t>> Scene::storages() const {
    std::vector<std::vector<uint8_t>> out;
    for (const Img* o : owners_) {
        kimg_image all;
        FUZZ_CHECK(kimg_image_constructCopy(&all, &o->h) == 0);
        kstd_rect32 b;
        uint32_t clipped;
        FUZZ_CHECK(kimg_image_getBounds(&all, &b) == 0);
        FUZZ_CHECK(kimg_image_setWindowRect(&all, &b, &clipped) == 0);
        out.push_back(imageBytes(all));
        kimg_image_destruct(&all);
    }
    return out;
}

void Environment::read(Input& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            hookBits = 0;
            break;
        case 1:
            hookBits = ~0u;
            break;
        default:
            hookBits = in.ConsumeIntegral<uint32_t>();
    }
    static const uint32_t masks[] = {~0u, ~ksys_cpuFeatureAvx512bw, ~(ksys_cpuFeatureAvx512bw | ksys_cpuFeatureAvx2),
                                     0u};
    featureMask = masks[in.ConsumeIntegralInRange(0, 3)];
    threads = in.ConsumeIntegralInRange(1u, 4u);
    failAfter = in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegralInRange<int64_t>(0, 40) : -1;
    cancel = in.ConsumeIntegralInRange(0, 15) == 0;
}

Run::Run(const uint8_t* data, size_t size, bool reference) : in(data, size) {
    init();
    liveBefore_ = ksys_memory_getLiveBlocks();
    env.read(in);
    if (reference) {
        env.hookBits = ~0u;
        env.featureMask = ~0u;
        env.threads = 1;
        env.failAfter = -1;
        env.cancel = false;
    }
    scene_.emplace(in);
}

Run::~Run() {
    scene_.reset();
    if (ksys_memory_getLiveBlocks() != liveBefore_) {
        std::fprintf(stderr, "leak: %lld blocks live before the run, %lld after\n", (long long)liveBefore_,
                     (long long)ksys_memory_getLiveBlocks());
        std::abort();
    }
}

kip_status Run::call(std::initializer_list<const Img*> written, const std::function<kip_status()>& f) {
    const auto before = scene_->storages();
    gHookBits = env.hookBits;
    kprt_isOptimizationInhibitedFP = env.hookBits ? &hook : nullptr;
    ksys_cpuinfo_setFeatureMask(env.featureMask);
    ksys_jobSetThreadCount(env.threads);
    ksys_attention_setRequested(env.cancel ? 1 : 0);
    ksys_memory_setFailAfter(env.failAfter);
    const kip_status s = f();
    const bool injected = env.failAfter >= 0 && ksys_memory_getFailAfter() < 0;
    ksys_memory_setFailAfter(-1);
    ksys_attention_setRequested(0);
    ksys_jobSetThreadCount(0);
    ksys_cpuinfo_setFeatureMask(~0u);
    kprt_isOptimizationInhibitedFP = nullptr;
    env.failAfter = -1;  // one injected failure per run

    checkStatus(s, "call");
    if (injected) {
        if (s != ksys_errOutOfMemory) {
            std::fprintf(stderr, "an injected allocation failure gave status 0x%08x\n", unsigned(s));
            std::abort();
        }
    }
    const auto after = scene_->storages();
    FUZZ_CHECK(after.size() == before.size());
    const bool failed = kip_status_isFailure(s);
    // Window entries with an image mask copy the source into the destination before an engine
    // answers kip_errNotAvailable (morphology's clipped mode), so that answer may leave it written.
    const bool mayWrite = !failed || injected || (env.cancel && s == ksys_errCancelled) || s == kip_errNotAvailable;
    for (size_t i = 0; i < after.size(); ++i) {
        bool isWritten = false;
        for (const Img* w : written)
            if (w && w->storage == int(i)) isWritten = true;
        if ((!isWritten || !mayWrite) && after[i] != before[i]) {
            std::fprintf(stderr, "storage %zu changed (status 0x%08x, %s)\n", i, unsigned(s),
                         isWritten ? "a failed call" : "not a destination");
            std::abort();
        }
    }
    outcome.status = s;
    outcome.injected = outcome.injected || injected;
    outcome.cancelled = outcome.cancelled || env.cancel;
    outcome.results.insert(outcome.results.end(), after.begin(), after.end());
    return s;
}

int compareRuns(const uint8_t* data, size_t size, const Body& body) {
    Outcome a, b;
    {
        Run run(data, size, false);
        body(run);
        a = std::move(run.outcome);
    }
    if (a.injected || a.cancelled || a.unspecified) return 0;
    {
        Run run(data, size, true);
        body(run);
        b = std::move(run.outcome);
    }
    if (a.status != b.status) {
        std::fprintf(stderr, "status 0x%08x, inhibited general path 0x%08x\n", unsigned(a.status), unsigned(b.status));
        std::abort();
    }
    if (a.results != b.results) {
        for (size_t i = 0; i < std::min(a.results.size(), b.results.size()); ++i)
            if (a.results[i] != b.results[i]) std::fprintf(stderr, "result %zu differs\n", i);
        std::fprintf(stderr, "results differ from the inhibited general path\n");
        std::abort();
    }
    return 0;
}

}  // namespace kipfuzz
