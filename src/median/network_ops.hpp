// The min/max networks of the median, as data: sorting networks for 3, 5, 7 and 9 inputs, cut
// down at compile time to the operations that reach the k central outputs. The vector code only
// walks these lists. Everything here is evaluated at compile time, so files built with different
// instruction sets can share it.
#pragma once

#include <cstdint>

namespace kip::median {

struct Exchange {
    uint8_t lo;  // receives the minimum
    uint8_t hi;  // receives the maximum
};

// Smallest known sorting networks (3, 9, 16 and 25 exchanges); the tests check them on every
// 0/1 input.
inline constexpr Exchange kSort3[] = {{0, 2}, {0, 1}, {1, 2}};
inline constexpr Exchange kSort5[] = {{0, 3}, {1, 4}, {0, 2}, {1, 3}, {0, 1}, {2, 4}, {1, 2}, {3, 4}, {2, 3}};
inline constexpr Exchange kSort7[] = {{0, 6}, {2, 3}, {4, 5}, {0, 2}, {1, 4}, {3, 6}, {0, 1}, {2, 5},
                                      {3, 4}, {1, 2}, {4, 6}, {2, 3}, {4, 5}, {1, 2}, {3, 4}, {5, 6}};
inline constexpr Exchange kSort9[] = {{0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4}, {3, 8}, {5, 6}, {0, 2},
                                      {1, 3}, {4, 5}, {7, 8}, {1, 4}, {3, 6}, {5, 7}, {0, 1}, {2, 4}, {3, 5},
                                      {6, 8}, {2, 3}, {4, 5}, {6, 7}, {1, 2}, {3, 4}, {5, 6}};

enum class OpKind : uint8_t {
    exchange,  // a, b := min, max
    min,       // a := min(a, b); b is not needed afterwards
    max,       // b := max(a, b); a is not needed afterwards
};

struct NetOp {
    OpKind kind;
    uint8_t a;
    uint8_t b;
};

struct Network {
    NetOp ops[25];
    int32_t count;
};

// Walks `exchanges` back from the slots marked in `needed` (updated as it goes), keeping the
// operations they depend on in their original order; an exchange of which only one side is
// still needed becomes a single min or max. Returns the number of operations kept.
constexpr int32_t neededOps(const Exchange* exchanges, int32_t size, bool* needed, NetOp* ops) {
    int32_t count = 0;
    for (int32_t i = size - 1; i >= 0; --i) {
        const Exchange e = exchanges[i];
        const bool lo = needed[e.lo], hi = needed[e.hi];
        if (!lo && !hi) continue;
        ops[count++] = NetOp{lo && hi ? OpKind::exchange : lo ? OpKind::min : OpKind::max, e.lo, e.hi};
        needed[e.lo] = needed[e.hi] = true;
    }
    for (int32_t i = 0; i < count / 2; ++i) {
        const NetOp t = ops[i];
        ops[i] = ops[count - 1 - i];
        ops[count - 1 - i] = t;
    }
    return count;
}

// The operations of the n-input sorting network that the outputs (n - k) / 2 ... (n + k) / 2 - 1
// depend on.
constexpr Network centralNetwork(int32_t n, int32_t k) {
    const Exchange* sort = n == 3 ? kSort3 : n == 5 ? kSort5 : n == 7 ? kSort7 : kSort9;
    const int32_t size = n == 3 ? 3 : n == 5 ? 9 : n == 7 ? 16 : 25;
    bool needed[9] = {};
    for (int32_t i = (n - k) / 2; i < (n + k) / 2; ++i) needed[i] = true;
    Network net{};
    net.count = neededOps(sort, size, needed, net.ops);
    return net;
}

// Batcher's odd-even merge of two sorted lists, a values in slots 0 .. a - 1 and b in slots
// a .. a + b - 1, cut down to the operations that ranks first .. last of the result depend on.
// Both lists are padded to a power of two with virtual maxima, which cost nothing: an exchange
// with one only moves which slot a position stands for. Rank r ends in slot out[r].
struct MergeNetwork {
    NetOp ops[512];
    int32_t count;
    uint8_t out[128];
};

constexpr MergeNetwork mergeNetwork(int32_t a, int32_t b, int32_t first, int32_t last) {
    int32_t half = 1;
    while (half < a || half < b) half *= 2;
    const int32_t n = 2 * half;
    int32_t slot[128] = {};  // position -> slot, -1 for a virtual maximum
    for (int32_t i = 0; i < half; ++i) {
        slot[i] = i < a ? i : -1;
        slot[half + i] = i < b ? a + i : -1;
    }
    Exchange all[512] = {};
    int32_t total = 0;
    for (int32_t k = half; k >= 1; k /= 2)
        for (int32_t j = k % half; j + k < n; j += 2 * k)
            for (int32_t i = 0; i < k && i + j + k < n; ++i) {
                const int32_t x = i + j, y = i + j + k;
                if (slot[x] >= 0 && slot[y] >= 0) {
                    all[total++] = Exchange{uint8_t(slot[x]), uint8_t(slot[y])};
                } else if (slot[x] < 0 && slot[y] >= 0) {
                    slot[x] = slot[y];
                    slot[y] = -1;
                }
            }
    MergeNetwork net{};
    bool needed[128] = {};
    for (int32_t r = 0; r < a + b; ++r) net.out[r] = uint8_t(slot[r]);
    for (int32_t r = first; r <= last; ++r) needed[slot[r]] = true;
    net.count = neededOps(all, total, needed, net.ops);
    return net;
}

template <int32_t A, int32_t B, int32_t First, int32_t Last>
inline constexpr MergeNetwork kMerge = mergeNetwork(A, B, First, Last);

template <int32_t N, int32_t K>
inline constexpr Network kCentral = centralNetwork(N, K);

}  // namespace kip::median
