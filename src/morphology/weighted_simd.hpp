// The weighted row kernel written once over a vector policy V; each instruction-set file
// includes this inside its own anonymous namespace. Saturating byte arithmetic clamps each
// shifted neighbour to 0..255, which commutes with the maximum (starting from 0) and the minimum
// (starting from 255), so the results are the exact clamped extremes.
// V provides: kBytes, load, store, and8, or8, andnot (~a & b), ones, zero, adds, subs, max, min.

template <class V, bool Dilate>
inline void weightedBlock(const kip::morphology::WeightedRow& r, int32_t x) {
    auto acc = Dilate ? V::zero() : V::ones();
    for (int32_t k = 0; k < r.members; ++k) {
        const uint8_t* s = r.splat + 128 * k;
        auto v = V::subs(V::adds(V::load(r.src[k] + x), V::load(s)), V::load(s + 64));
        if (r.mask) {
            const auto m = V::load(r.mask[k] + x);
            v = Dilate ? V::and8(v, m) : V::or8(v, V::andnot(m, V::ones()));
        }
        acc = Dilate ? V::max(acc, v) : V::min(acc, v);
    }
    if (r.centreMask) {
        const auto m = V::load(r.centreMask + x);
        acc = V::or8(V::and8(acc, m), V::andnot(m, V::load(r.centre + x)));
    }
    V::store(r.out + x, acc);
}

template <class V, bool Dilate>
void weightedRow(const kip::morphology::WeightedRow& r) {
    constexpr int32_t n = V::kBytes;
    int32_t x = 0;
    for (; x + n <= r.width; x += n) weightedBlock<V, Dilate>(r, x);
    if (x < r.width) weightedBlock<V, Dilate>(r, r.width - n);
}

template <class V>
constexpr kip::morphology::WeightedIsa makeWeightedIsa() {
    return kip::morphology::WeightedIsa{V::kBytes, {&weightedRow<V, false>, &weightedRow<V, true>}};
}
