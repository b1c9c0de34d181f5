// 16-bit histograms in two levels: the 65536 bins and 4096 counts of 16 bins each. On noise the
// percentile's value jumps by thousands of levels from one row to the next; the search crosses
// such a gap 256 levels a step (16 block counts summed), and near its answer walks bins as the
// flat search does. Counters are 16-bit, half the flat engine's cache footprint, so
// neighbourhoods of 65536 pixels or more are left to the flat bins.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/cleanup.hpp"
#include "kip/platform/system.h"
#include "platform/assert.hpp"

namespace kip::rank {

inline int32_t sumOf16(const uint16_t* counts) {
    int32_t sum = 0;
    for (int32_t i = 0; i < 16; ++i) sum += counts[i];
    return sum;
}

struct TwoLevelColumn {
    uint16_t* fine;
    uint16_t* blocks;  // counts of 16 bins
    int32_t level;
    int32_t below;  // entries at or below level

    void add(uint32_t v) {
        ++fine[v];
        ++blocks[v >> 4];
        below += static_cast<int32_t>(v) <= level;
    }
    void remove(uint32_t v) {
        --fine[v];
        --blocks[v >> 4];
        below -= static_cast<int32_t>(v) <= level;
    }
    void removeChecked(uint32_t v) {
        KIP_ASSERT(fine[v] != 0);
        remove(v);
    }
    // The flat search's walk, with steps of 256 and 16 levels taken wherever the walk would pass
    // over them whole; it stops where the flat walk stops.
    int32_t search(int32_t k) {
        int32_t l = level, b = below;
        while (k <= b && l > 0) {
            if ((l & 255) == 255 && l >= 256) {
                const int32_t sum = sumOf16(blocks + (l >> 4) - 15);
                if (b - sum >= k) {
                    b -= sum;
                    l -= 256;
                    continue;
                }
            }
            if ((l & 15) == 15 && l >= 16 && b - blocks[l >> 4] >= k) {
                b -= blocks[l >> 4];
                l -= 16;
                continue;
            }
            b -= fine[l--];
        }
        while (b < k && l < 65535) {
            if ((l & 255) == 255) {
                const int32_t sum = sumOf16(blocks + (l >> 4) + 1);
                if (b + sum < k) {
                    b += sum;
                    l += 256;
                    continue;
                }
            }
            if ((l & 15) == 15 && b + blocks[(l >> 4) + 1] < k) {
                b += blocks[(l >> 4) + 1];
                l += 16;
                continue;
            }
            b += fine[++l];
        }
        level = l;
        below = b;
        return l;
    }
};

// The histograms of a strip of S columns in one block from the system allocator, released by the
// engine's cleanup table.
template <int32_t S>
class TwoLevelStrip {
public:
    using Col = TwoLevelColumn;
    static constexpr int32_t kColumns = S;
    static bool admits(int64_t maxCount) { return maxCount < 65536; }

    template <int N>
    kip_status acquire(Cleanup<N>& cleanup) {
        void* block = nullptr;
        const kip_status s = ksys_memory_alloc_internal(kBytes, &block);
        if (failed(s)) return s;
        bins_ = static_cast<uint16_t*>(block);
        cleanup.addBlock(ksys_cleanupFreeAlways, &bins_);
        return 0;
    }
    kip_status clear() { return ksys_memory_fill(bins_, 0, kBytes); }
    Col start(int32_t i) const {
        uint16_t* fine = bins_ + size_t(i) * kPerColumn;
        return {fine, fine + 65536, 32768, 0};
    }

private:
    static constexpr size_t kPerColumn = 65536 + 4096;
    static constexpr size_t kBytes = S * kPerColumn * sizeof(uint16_t);
    uint16_t* bins_ = nullptr;
};

}  // namespace kip::rank
