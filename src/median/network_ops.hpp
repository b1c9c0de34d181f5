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

// The operations of the n-input sorting network that the outputs (n - k) / 2 ... (n + k) / 2 - 1
// depend on, walking back from the outputs; an exchange of which only one side is still needed
// becomes a single min or max.
constexpr Network centralNetwork(int32_t n, int32_t k) {
    const Exchange* sort = n == 3 ? kSort3 : n == 5 ? kSort5 : n == 7 ? kSort7 : kSort9;
    const int32_t size = n == 3 ? 3 : n == 5 ? 9 : n == 7 ? 16 : 25;
    bool needed[9] = {};
    for (int32_t i = (n - k) / 2; i < (n + k) / 2; ++i) needed[i] = true;
    NetOp reversed[25] = {};
    int32_t count = 0;
    for (int32_t i = size - 1; i >= 0; --i) {
        const Exchange e = sort[i];
        const bool lo = needed[e.lo], hi = needed[e.hi];
        if (!lo && !hi) continue;
        reversed[count++] = NetOp{lo && hi ? OpKind::exchange : lo ? OpKind::min : OpKind::max, e.lo, e.hi};
        needed[e.lo] = needed[e.hi] = true;
    }
    Network net{};
    for (int32_t i = 0; i < count; ++i) net.ops[i] = reversed[count - 1 - i];
    net.count = count;
    return net;
}

template <int32_t N, int32_t K>
inline constexpr Network kCentral = centralNetwork(N, K);

}  // namespace kip::median
