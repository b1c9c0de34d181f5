// Shared helpers for the suites: assertion counting, fault sweeps, random images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "kip/kip.h"

namespace kiptest {

// Installs an assertion handler that counts instead of aborting, for the scope.
class AssertCounter {
public:
    AssertCounter();
    ~AssertCounter();
    int count() const;
};

// Fails the 1st, 2nd, ... allocation of op in turn until op runs without an injected failure.
// setup runs before each attempt and teardown after it, both with the injector off. For each
// failing attempt op must return ksys_errOutOfMemory, and after teardown the live-block count must
// be where it was before setup; check(status, failedAt) runs before teardown and may look at
// outputs and inputs. Returns the number of allocations the successful run made (or -1).
int faultSweep(const std::function<kip_status()>& op,
               const std::function<void(kip_status status, int failedAt)>& check = nullptr,
               const std::function<void()>& setup = nullptr, const std::function<void()>& teardown = nullptr);

// Owning image handle for tests.
struct Image {
    kimg_image img;
    Image();  // unbound
    // Zeroed pixels covering r, in storage pad pixels larger on every side (rows then have a
    // stride beyond the width).
    Image(uint32_t depth, const kstd_rect32& r, int32_t pad = 0);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    void bind(uint32_t depth, const kstd_rect32& r, int32_t pad = 0);  // as the constructor
    kimg_window window() const;
    void* at(int32_t x, int32_t y) const;  // client coordinates
    std::vector<uint16_t> values() const;  // window pixels, row by row
    void setValues(const std::vector<uint16_t>& values) const;
    uint8_t& p8(int32_t x, int32_t y) const { return *static_cast<uint8_t*>(at(x, y)); }
    uint16_t& p16(int32_t x, int32_t y) const { return *static_cast<uint16_t*>(at(x, y)); }
    void fillRandom(std::mt19937& rng) const;
};

// A window's pixels, row by row.
std::vector<uint16_t> values(const kimg_window& w);

// Pixel of a window at client position (x, y).
inline void* windowPixel(const kimg_window& w, int32_t x, int32_t y) {
    return static_cast<uint8_t*>(w.pixels) +
           (static_cast<intptr_t>(y - w.rect.y) * w.stride + (x - w.rect.x)) * w.bytesPerPixel;
}

inline kstd_rect32 rect(int32_t x, int32_t y, int32_t w, int32_t h) { return kstd_rect32{x, y, w, h}; }

// What a getter f(args..., &out) reports; the call must succeed.
template <class T, class... P, class... A>
T get(kip_status (*f)(P...), A... args) {
    T out{};
    EXPECT_EQ(f(args..., &out), 0);
    return out;
}
inline kstd_rect32 windowOf(const kimg_image& i) { return get<kstd_rect32>(kimg_image_getWindow, &i); }
inline uint32_t depthOf(const kimg_image& i) { return get<uint32_t>(kimg_image_getDepth, &i); }
inline bool isBound(const kimg_image& i) { return get<uint32_t>(kimg_image_getIsBound, &i) == 1; }

// w narrowed to r (client coordinates).
kimg_window restrict(kimg_window w, const kstd_rect32& r);

}  // namespace kiptest

inline bool operator==(const kstd_rect32& a, const kstd_rect32& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
inline std::ostream& operator<<(std::ostream& os, const kstd_rect32& r) {
    return os << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}
