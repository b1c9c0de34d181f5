#include "support/test_support.hpp"

namespace kiptest {
namespace {
int gAsserts = 0;
void countingHandler(int32_t) { ++gAsserts; }
}  // namespace

AssertCounter::AssertCounter() {
    gAsserts = 0;
    kstd_assert_setHandler(&countingHandler);
}
AssertCounter::~AssertCounter() { kstd_assert_setHandler(nullptr); }
int AssertCounter::count() const { return gAsserts; }

int faultSweep(const std::function<kip_status()>& op, const std::function<void(kip_status, int)>& check,
               const std::function<void()>& setup, const std::function<void()>& teardown) {
    for (int failAt = 0; failAt < 100000; ++failAt) {
        int64_t before = ksys_memory_getLiveBlocks();
        if (setup) setup();
        ksys_memory_setFailAfter(failAt);
        kip_status s = op();
        // Still armed: op made fewer than failAt + 1 allocations, so nothing was injected.
        bool injected = ksys_memory_getFailAfter() < 0;
        ksys_memory_setFailAfter(-1);
        if (!injected) {
            EXPECT_FALSE(kip_status_isFailure(s)) << "op failed without an injected fault, status " << std::hex << s;
            if (teardown) teardown();
            EXPECT_EQ(ksys_memory_getLiveBlocks(), before) << "leak after the successful run";
            return failAt;
        }
        EXPECT_EQ(s, ksys_errOutOfMemory) << "allocation " << failAt + 1 << " failed";
        if (check) check(s, failAt);
        if (teardown) teardown();
        EXPECT_EQ(ksys_memory_getLiveBlocks(), before) << "leak after allocation " << failAt + 1 << " failed";
        if (s != ksys_errOutOfMemory) return -1;
    }
    ADD_FAILURE() << "fault sweep did not finish";
    return -1;
}

Image::Image() { kimg_image_constructUnbound(&img); }
Image::Image(uint32_t depth, const kstd_rect32& r, int32_t pad) {
    kimg_image_constructUnbound(&img);
    bind(depth, r, pad);
}
void Image::bind(uint32_t depth, const kstd_rect32& r, int32_t pad) {
    const kstd_rect32 storage{r.x - pad, r.y - pad, r.width + 2 * pad, r.height + 2 * pad};
    uint32_t clipped = 0;
    EXPECT_EQ(kimg_image_assignNewRect(&img, depth, &storage), 0);
    if (pad) {
        EXPECT_EQ(kimg_image_setWindowRect(&img, &r, &clipped), 0);
    }
}
Image::~Image() { kimg_image_destruct(&img); }
kimg_window Image::window() const {
    kimg_window w;
    kimg_window_init(&w, &img);
    return w;
}
void* Image::at(int32_t x, int32_t y) const { return windowPixel(window(), x, y); }
std::vector<uint16_t> values(const kimg_window& w) {
    std::vector<uint16_t> v;
    for (int32_t y = w.rect.y; y < w.rect.y + w.rect.height; ++y)
        for (int32_t x = w.rect.x; x < w.rect.x + w.rect.width; ++x)
            v.push_back(w.bytesPerPixel == 1 ? *static_cast<uint8_t*>(windowPixel(w, x, y))
                                             : *static_cast<uint16_t*>(windowPixel(w, x, y)));
    return v;
}
std::vector<uint16_t> Image::values() const { return kiptest::values(window()); }
void Image::setValues(const std::vector<uint16_t>& values) const {
    const kimg_window w = window();
    size_t i = 0;
    for (int32_t y = w.rect.y; y < w.rect.y + w.rect.height; ++y)
        for (int32_t x = w.rect.x; x < w.rect.x + w.rect.width; ++x, ++i) {
            if (w.bytesPerPixel == 1)
                p8(x, y) = uint8_t(values.at(i));
            else
                p16(x, y) = values.at(i);
        }
}
void Image::fillRandom(std::mt19937& rng) const {
    std::vector<uint16_t> v = values();
    for (uint16_t& p : v) p = uint16_t(rng());
    setValues(v);
}

kimg_window restrict(kimg_window w, const kstd_rect32& r) {
    uint32_t clipped = 0;
    EXPECT_EQ(kimg_window_windowRect(&w, &r, &clipped), 0);
    return w;
}

}  // namespace kiptest
