// The separable kernels written once over a vector policy V (128 or 256 bits) and the pixel
// type; each instruction-set file includes this inside its own anonymous namespace.
// V provides: kBytes, load, store, and8, or8, andnot (~a & b), ones, extreme<T, Dilate>(a, b),
// neutral<T, Dilate>(), maskFor<T>(const uint8_t*) (0 or all ones per pixel from 0/255 bytes).

template <class V, class T, bool Dilate>
inline void rowBlock(const T* padded, const uint8_t* mask, int32_t ew, T* out) {
    auto acc = V::template neutral<T, Dilate>();
    if (mask) {
        for (int32_t k = 0; k < ew; ++k) {
            const auto m = V::template maskFor<T>(mask + k);
            auto v = V::load(padded + k);
            // Excluded pixels become neutral: 0 for the maximum, all ones for the minimum.
            v = Dilate ? V::and8(v, m) : V::or8(v, V::andnot(m, V::ones()));
            acc = V::template extreme<T, Dilate>(acc, v);
        }
    } else {
        for (int32_t k = 0; k < ew; ++k) acc = V::template extreme<T, Dilate>(acc, V::load(padded + k));
    }
    V::store(out, acc);
}

// Narrow elements without a mask: the taps unrolled, two vectors per step for two chains.
// Named accumulators rather than arrays, which the compiler may leave on the stack.
template <class V, class T, bool Dilate, int32_t EW>
inline void rowFixedBlock2(const T* p, T* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    auto a0 = V::load(p), a1 = V::load(p + n);
    for (int32_t k = 1; k < EW; ++k) {
        a0 = V::template extreme<T, Dilate>(a0, V::load(p + k));
        a1 = V::template extreme<T, Dilate>(a1, V::load(p + n + k));
    }
    V::store(out, a0);
    V::store(out + n, a1);
}

template <class V, class T, bool Dilate, int32_t EW>
inline void rowFixedBlock(const T* p, T* out) {
    auto a = V::load(p);
    for (int32_t k = 1; k < EW; ++k) a = V::template extreme<T, Dilate>(a, V::load(p + k));
    V::store(out, a);
}

template <class V, class T, bool Dilate, int32_t EW>
void rowFixed(const T* padded, int32_t width, T* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    int32_t x = 0;
    for (; x + 2 * n <= width; x += 2 * n) rowFixedBlock2<V, T, Dilate, EW>(padded + x, out + x);
    for (; x + n <= width; x += n) rowFixedBlock<V, T, Dilate, EW>(padded + x, out + x);
    if (x < width) rowFixedBlock<V, T, Dilate, EW>(padded + width - n, out + width - n);
}

constexpr int32_t kRowFixedUpTo = 16;

template <class V, class T, bool Dilate, int32_t... EW>
constexpr auto rowFixedTable(std::integer_sequence<int32_t, EW...>) {
    using Fn = void (*)(const T*, int32_t, T*);
    return std::array<Fn, sizeof...(EW)>{&rowFixed<V, T, Dilate, EW + 1>...};
}

template <class V, class T, bool Dilate>
void rowKernel(const T* padded, const uint8_t* mask, int32_t width, int32_t ew, T* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    if (!mask && ew <= kRowFixedUpTo) {
        static constexpr auto fixed = rowFixedTable<V, T, Dilate>(std::make_integer_sequence<int32_t, kRowFixedUpTo>{});
        fixed[ew - 1](padded, width, out);
        return;
    }
    int32_t x = 0;
    for (; x + n <= width; x += n) rowBlock<V, T, Dilate>(padded + x, mask ? mask + x : nullptr, ew, out + x);
    // The last partial block again as the n pixels ending at the row's end.
    if (x < width) {
        x = width - n;
        rowBlock<V, T, Dilate>(padded + x, mask ? mask + x : nullptr, ew, out + x);
    }
}

template <class V, class T, bool Dilate>
inline void colBlock(const T* const* rows, int32_t count, const T* source, const uint8_t* mask, int32_t x, T* out) {
    auto acc = V::load(rows[0] + x);
    for (int32_t k = 1; k < count; ++k) acc = V::template extreme<T, Dilate>(acc, V::load(rows[k] + x));
    if (mask) {
        const auto m = V::template maskFor<T>(mask + x);
        acc = V::or8(V::and8(acc, m), V::andnot(m, V::load(source + x)));
    }
    V::store(out + x, acc);
}

// Four vectors per row pointer: one pointer load per four pixel loads, four independent chains.
template <class V, class T, bool Dilate>
inline void colBlock4(const T* const* rows, int32_t count, const T* source, const uint8_t* mask, int32_t x, T* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    const T* r = rows[0] + x;
    auto a0 = V::load(r), a1 = V::load(r + n), a2 = V::load(r + 2 * n), a3 = V::load(r + 3 * n);
    for (int32_t k = 1; k < count; ++k) {
        r = rows[k] + x;
        a0 = V::template extreme<T, Dilate>(a0, V::load(r));
        a1 = V::template extreme<T, Dilate>(a1, V::load(r + n));
        a2 = V::template extreme<T, Dilate>(a2, V::load(r + 2 * n));
        a3 = V::template extreme<T, Dilate>(a3, V::load(r + 3 * n));
    }
    if (mask) {
        const auto merge = [&](auto acc, int32_t at) {
            const auto m = V::template maskFor<T>(mask + at);
            return V::or8(V::and8(acc, m), V::andnot(m, V::load(source + at)));
        };
        a0 = merge(a0, x), a1 = merge(a1, x + n), a2 = merge(a2, x + 2 * n), a3 = merge(a3, x + 3 * n);
    }
    V::store(out + x, a0);
    V::store(out + x + n, a1);
    V::store(out + x + 2 * n, a2);
    V::store(out + x + 3 * n, a3);
}

template <class V, class T, bool Dilate>
void colKernel(const T* const* rows, int32_t count, const T* source, const uint8_t* mask, int32_t width, T* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    int32_t x = 0;
    for (; x + 4 * n <= width; x += 4 * n) colBlock4<V, T, Dilate>(rows, count, source, mask, x, out);
    for (; x + n <= width; x += n) colBlock<V, T, Dilate>(rows, count, source, mask, x, out);
    if (x < width) colBlock<V, T, Dilate>(rows, count, source, mask, width - n, out);
}

// The shared rows' extremes c, then each destination row with its own extra row.
template <class V, class T, bool Dilate>
inline void pairBlock(const T* const* shared, int32_t nc, const T* onlyA, const T* onlyB, int32_t x, T* outA, T* outB) {
    auto c = V::load(shared[0] + x);
    for (int32_t k = 1; k < nc; ++k) c = V::template extreme<T, Dilate>(c, V::load(shared[k] + x));
    V::store(outA + x, onlyA ? V::template extreme<T, Dilate>(c, V::load(onlyA + x)) : c);
    V::store(outB + x, onlyB ? V::template extreme<T, Dilate>(c, V::load(onlyB + x)) : c);
}

// Four vectors per row pointer, as in colBlock4, with named accumulators (arrays may stay on
// the stack).
template <class V, class T, bool Dilate>
inline void pairBlock4(const T* const* shared, int32_t nc, const T* onlyA, const T* onlyB, int32_t x, T* outA,
                       T* outB) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    const auto e = [](auto a, auto b) { return V::template extreme<T, Dilate>(a, b); };
    const T* r = shared[0] + x;
    auto c0 = V::load(r), c1 = V::load(r + n), c2 = V::load(r + 2 * n), c3 = V::load(r + 3 * n);
    for (int32_t k = 1; k < nc; ++k) {
        r = shared[k] + x;
        c0 = e(c0, V::load(r)), c1 = e(c1, V::load(r + n)), c2 = e(c2, V::load(r + 2 * n));
        c3 = e(c3, V::load(r + 3 * n));
    }
    const auto finish = [&](const T* only, T* out) {
        if (only) {
            only += x;
            V::store(out, e(c0, V::load(only)));
            V::store(out + n, e(c1, V::load(only + n)));
            V::store(out + 2 * n, e(c2, V::load(only + 2 * n)));
            V::store(out + 3 * n, e(c3, V::load(only + 3 * n)));
        } else {
            V::store(out, c0), V::store(out + n, c1), V::store(out + 2 * n, c2), V::store(out + 3 * n, c3);
        }
    };
    finish(onlyA, outA + x);
    finish(onlyB, outB + x);
}

template <class V, class T, bool Dilate>
void pairKernel(const T* const* shared, int32_t nc, const T* onlyA, const T* onlyB, int32_t width, T* outA, T* outB) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    if (nc == 0) {  // a one-row element: each row is its own extreme
        pairKernel<V, T, Dilate>(&onlyA, 1, nullptr, nullptr, width, outA, outA);
        pairKernel<V, T, Dilate>(&onlyB, 1, nullptr, nullptr, width, outB, outB);
        return;
    }
    int32_t x = 0;
    for (; x + 4 * n <= width; x += 4 * n) pairBlock4<V, T, Dilate>(shared, nc, onlyA, onlyB, x, outA, outB);
    for (; x + n <= width; x += n) pairBlock<V, T, Dilate>(shared, nc, onlyA, onlyB, x, outA, outB);
    if (x < width) pairBlock<V, T, Dilate>(shared, nc, onlyA, onlyB, width - n, outA, outB);
}

// Row r + i of four sees the shared rows, the rows above from i on and the rows below up to i - 1.
template <class V, class T, bool Dilate, class Vec>
inline void quadFinish(Vec c, const T* const* extra, int32_t x, T* const* out) {
    const auto e = [](auto a, auto b) { return V::template extreme<T, Dilate>(a, b); };
    const auto t12 = e(V::load(extra[1] + x), V::load(extra[2] + x));
    const auto b01 = e(V::load(extra[3] + x), V::load(extra[4] + x));
    V::store(out[0] + x, e(c, e(V::load(extra[0] + x), t12)));
    V::store(out[1] + x, e(c, e(t12, V::load(extra[3] + x))));
    V::store(out[2] + x, e(c, e(V::load(extra[2] + x), b01)));
    V::store(out[3] + x, e(c, e(b01, V::load(extra[5] + x))));
}

template <class V, class T, bool Dilate>
inline void quadBlock(const T* const* shared, int32_t nc, const T* const* extra, int32_t x, T* const* out) {
    auto c = V::load(shared[0] + x);
    for (int32_t k = 1; k < nc; ++k) c = V::template extreme<T, Dilate>(c, V::load(shared[k] + x));
    quadFinish<V, T, Dilate>(c, extra, x, out);
}

template <class V, class T, bool Dilate>
inline void quadBlock4(const T* const* shared, int32_t nc, const T* const* extra, int32_t x, T* const* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    const auto e = [](auto a, auto b) { return V::template extreme<T, Dilate>(a, b); };
    const T* r = shared[0] + x;
    auto c0 = V::load(r), c1 = V::load(r + n), c2 = V::load(r + 2 * n), c3 = V::load(r + 3 * n);
    for (int32_t k = 1; k < nc; ++k) {
        r = shared[k] + x;
        c0 = e(c0, V::load(r)), c1 = e(c1, V::load(r + n)), c2 = e(c2, V::load(r + 2 * n));
        c3 = e(c3, V::load(r + 3 * n));
    }
    quadFinish<V, T, Dilate>(c0, extra, x, out);
    quadFinish<V, T, Dilate>(c1, extra, x + n, out);
    quadFinish<V, T, Dilate>(c2, extra, x + 2 * n, out);
    quadFinish<V, T, Dilate>(c3, extra, x + 3 * n, out);
}

template <class V, class T, bool Dilate>
void quadKernel(const T* const* shared, int32_t nc, const T* const* extra, int32_t width, T* const* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
    int32_t x = 0;
    for (; x + 4 * n <= width; x += 4 * n) quadBlock4<V, T, Dilate>(shared, nc, extra, x, out);
    for (; x + n <= width; x += n) quadBlock<V, T, Dilate>(shared, nc, extra, x, out);
    if (x < width) quadBlock<V, T, Dilate>(shared, nc, extra, width - n, out);
}

template <class V>
constexpr kip::morphology::FlatIsa makeFlatIsa() {
    return kip::morphology::FlatIsa{V::kBytes,
                                    V::kBytes / 2,
                                    {&rowKernel<V, uint8_t, false>, &rowKernel<V, uint8_t, true>},
                                    {&colKernel<V, uint8_t, false>, &colKernel<V, uint8_t, true>},
                                    {&rowKernel<V, uint16_t, false>, &rowKernel<V, uint16_t, true>},
                                    {&colKernel<V, uint16_t, false>, &colKernel<V, uint16_t, true>},
                                    {&pairKernel<V, uint8_t, false>, &pairKernel<V, uint8_t, true>},
                                    {&pairKernel<V, uint16_t, false>, &pairKernel<V, uint16_t, true>},
                                    {&quadKernel<V, uint8_t, false>, &quadKernel<V, uint8_t, true>},
                                    {&quadKernel<V, uint16_t, false>, &quadKernel<V, uint16_t, true>}};
}
