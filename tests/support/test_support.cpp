#include "support/test_support.hpp"

#include <cstring>

namespace kiptest {
namespace {
int gAsserts = 0;
int gLastLine = 0;
void countingHandler(int32_t line) {
    ++gAsserts;
    gLastLine = line;
}
}  // namespace

AssertCounter::AssertCounter() {
    gAsserts = 0;
    gLastLine = 0;
    kstd_assert_setHandler(&countingHandler);
}
AssertCounter::~AssertCounter() { kstd_assert_setHandler(nullptr); }
int AssertCounter::count() const { return gAsserts; }
int AssertCounter::lastLine() const { return gLastLine; }

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
Image::Image(uint32_t depth, const kstd_rect32& r) {
    kimg_image_constructUnbound(&img);
    EXPECT_EQ(kimg_image_assignNewRect(&img, depth, &r), 0);
}
Image::~Image() { kimg_image_destruct(&img); }
kimg_window Image::window() const {
    kimg_window w;
    kimg_window_init(&w, &img);
    return w;
}
void* Image::at(int32_t x, int32_t y) const { return windowPixel(window(), x, y); }
void Image::fillRandom(std::mt19937& rng, uint32_t maxValue) {
    kimg_window w = window();
    for (int32_t y = w.rect.y; y < w.rect.y + w.rect.height; ++y)
        for (int32_t x = w.rect.x; x < w.rect.x + w.rect.width; ++x) {
            uint32_t v = static_cast<uint32_t>(rng());
            if (maxValue != 0xFFFFFFFFu) v %= (maxValue + 1);
            if (w.bytesPerPixel == 1)
                *static_cast<uint8_t*>(windowPixel(w, x, y)) = static_cast<uint8_t>(v);
            else
                *static_cast<uint16_t*>(windowPixel(w, x, y)) = static_cast<uint16_t>(v);
        }
}

}  // namespace kiptest
