// Row scaffolding for the instruction-set files of every family. Include it inside the file's own
// namespace, after <cstdint> and <cstring>: every instantiation then carries that namespace in its
// name, so the linker can never keep a copy built for one instruction set in place of another's.
// (No include guard for the same reason: each namespace gets its own copy.)

// A width known at compile time; 0 stands for "any", read at run time.
template <int N>
struct FixedWidth {
    static constexpr int value = N;
};

// Calls f(FixedWidth<w>{}) when w is one of Widths, f(FixedWidth<0>{}) otherwise, so the common
// kernel widths get fully unrolled loops.
template <int... Widths, class F>
inline void withFixedWidth(int32_t w, F&& f) {
    const bool fixed = ((w == Widths ? (f(FixedWidth<Widths>{}), true) : false) || ...);
    if (!fixed) f(FixedWidth<0>{});
}

// Runs block(x, out + x) over blocks of Lanes pixels covering [0, width). The last block moves
// back to end at the row's end (its overlap is computed twice, with the same values); a row
// narrower than one block is computed into a buffer and copied. So block always reads and writes
// Lanes whole pixels, and its inputs must be readable up to max(width, Lanes).
template <int32_t Lanes, class Out, class Block>
inline void forEachBlock(int32_t width, Out* out, Block&& block) {
    int32_t x = 0;
    for (; x + Lanes <= width; x += Lanes) block(x, out + x);
    if (x == width) return;
    if (width >= Lanes) {
        block(width - Lanes, out + width - Lanes);
        return;
    }
    Out tail[Lanes];
    block(0, tail);
    std::memcpy(out, tail, sizeof(Out) * static_cast<size_t>(width));
}
