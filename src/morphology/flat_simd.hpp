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

template <class V, class T, bool Dilate>
void rowKernel(const T* padded, const uint8_t* mask, int32_t width, int32_t ew, T* out) {
    constexpr int32_t n = V::kBytes / int32_t(sizeof(T));
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

template <class V>
constexpr kip::morphology::FlatIsa makeFlatIsa() {
    return kip::morphology::FlatIsa{V::kBytes,
                                    V::kBytes / 2,
                                    {&rowKernel<V, uint8_t, false>, &rowKernel<V, uint8_t, true>},
                                    {&colKernel<V, uint8_t, false>, &colKernel<V, uint8_t, true>},
                                    {&rowKernel<V, uint16_t, false>, &rowKernel<V, uint16_t, true>},
                                    {&colKernel<V, uint16_t, false>, &colKernel<V, uint16_t, true>}};
}
