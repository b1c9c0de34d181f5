// The row kernels of the optimised mean, written once over a vector policy V. Included inside an
// anonymous namespace by each instruction-set file, so every copy is built with its own flags.
//
// V provides: kLanes; I and F (integer and float vectors of kLanes 32-bit lanes); loadI, subI,
// andI, set1I, toFloat, set1F, divF, subF, truncate, halfUp (lanes where a float is >= 0.5, as
// all ones); loadPixels8/16 (kLanes pixels widened to 32 bits); maskOff (all ones where the mask
// byte is 0); select(m, a, b) (a where m is all ones); store8/16 (lanes known to fit); addI, storeI,
// zeroI, prefixWithin (running sums across the lanes), broadcastLast. For the
// subtraction: kBytes, B (byte vector), loadB, storeB, subsU8, addsU8, subsU16, addsU16, set1B8,
// set1B16.

template <class V, class T, bool Masked>
void meanRunT(const kip::pelsub::MeanRun& r, T* out) {
    using I = typename V::I;
    using F = typename V::F;
    const T* source = static_cast<const T*>(r.source);
    const F n = V::set1F(r.n);
    const I low = V::set1I(sizeof(T) == 1 ? 0xFF : 0xFFFF);
    int32_t i = 0;
    for (; i + V::kLanes <= r.count; i += V::kLanes) {
        const I sum = V::subI(V::loadI(r.sumHi + i), V::loadI(r.sumLo + i));
        F divisor = n;
        if constexpr (Masked) divisor = V::toFloat(V::subI(V::loadI(r.countHi + i), V::loadI(r.countLo + i)));
        const F q = V::divF(V::toFloat(sum), divisor);
        // floor(q + 1/2) without rounding the sum: the fraction of q is exact in single precision.
        const I whole = V::truncate(q);
        I mean = V::subI(whole, V::halfUp(V::subF(q, V::toFloat(whole))));
        mean = V::andI(mean, low);  // lanes of empty boxes are replaced below
        if constexpr (Masked) {
            const I pixels = sizeof(T) == 1 ? V::loadPixels8(reinterpret_cast<const uint8_t*>(source + i))
                                            : V::loadPixels16(reinterpret_cast<const uint16_t*>(source + i));
            mean = V::select(V::maskOff(r.mask + i), pixels, mean);
        }
        if constexpr (sizeof(T) == 1)
            V::store8(reinterpret_cast<uint8_t*>(out + i), mean);
        else
            V::store16(reinterpret_cast<uint16_t*>(out + i), mean);
    }
    for (; i < r.count; ++i) {
        if (Masked && r.mask[i] == 0) {
            out[i] = source[i];
            continue;
        }
        const uint32_t sum = r.sumHi[i] - r.sumLo[i];
        const float divisor = Masked ? static_cast<float>(static_cast<int32_t>(r.countHi[i] - r.countLo[i])) : r.n;
        const float q = static_cast<float>(sum) / divisor;
        out[i] = static_cast<T>(static_cast<uint32_t>(static_cast<double>(q) + 0.5));
    }
}

template <class V, class T>
void meanRun(const kip::pelsub::MeanRun& r, T* out) {
    if (r.mask)
        meanRunT<V, T, true>(r, out);
    else
        meanRunT<V, T, false>(r, out);
}

template <class V, class T, bool Add, bool Remove>
void columnsPrefixT(uint32_t* columns, const T* add, const T* remove, int32_t count, uint32_t* prefix) {
    using I = typename V::I;
    auto widen = [](const T* p) {
        if constexpr (sizeof(T) == 1)
            return V::loadPixels8(p);
        else
            return V::loadPixels16(p);
    };
    prefix[0] = 0;
    I carry = V::zeroI();
    int32_t i = 0;
    for (; i + V::kLanes <= count; i += V::kLanes) {
        I c = V::loadI(columns + i);
        if constexpr (Add) c = V::addI(c, widen(add + i));
        if constexpr (Remove) c = V::subI(c, widen(remove + i));
        V::storeI(columns + i, c);
        const I within = V::prefixWithin(c);
        V::storeI(prefix + i + 1, V::addI(within, carry));
        // Only one add on the chain from block to block; the broadcast runs beside it.
        carry = V::addI(carry, V::broadcastLast(within));
    }
    for (; i < count; ++i) {
        if constexpr (Add) columns[i] += add[i];
        if constexpr (Remove) columns[i] -= remove[i];
        prefix[i + 1] = prefix[i] + columns[i];
    }
}

template <class V, class T>
void columnsPrefix(uint32_t* columns, const T* add, const T* remove, int32_t count, uint32_t* prefix) {
    if (add && remove)
        columnsPrefixT<V, T, true, true>(columns, add, remove, count, prefix);
    else if (add)
        columnsPrefixT<V, T, true, false>(columns, add, remove, count, prefix);
    else if (remove)
        columnsPrefixT<V, T, false, true>(columns, add, remove, count, prefix);
    else
        columnsPrefixT<V, T, false, false>(columns, add, remove, count, prefix);
}

// With d = s - b saturated at 0 both ways: s >= b gives offset + d saturated at the top, s < b
// gives offset - d saturated at 0, which is the clamp of s - b + offset.
template <class V, class T>
void subtractRow(const T* s, const T* b, int32_t count, T* out) {
    using B = typename V::B;
    constexpr int32_t perVector = V::kBytes / int32_t{sizeof(T)};
    const B offset = sizeof(T) == 1 ? V::set1B8(0x80) : V::set1B16(0x8000);
    int32_t i = 0;
    for (; i + perVector <= count; i += perVector) {
        const B vs = V::loadB(s + i);
        const B vb = V::loadB(b + i);
        B r;
        if constexpr (sizeof(T) == 1)
            r = V::subsU8(V::addsU8(V::subsU8(vs, vb), offset), V::subsU8(vb, vs));
        else
            r = V::subsU16(V::addsU16(V::subsU16(vs, vb), offset), V::subsU16(vb, vs));
        V::storeB(out + i, r);
    }
    constexpr int32_t offsetValue = sizeof(T) == 1 ? 128 : 32768;
    constexpr int32_t top = sizeof(T) == 1 ? 255 : 65535;
    for (; i < count; ++i) {
        const int32_t t = int32_t{s[i]} - int32_t{b[i]} + offsetValue;
        out[i] = static_cast<T>(t >= top ? top : t <= 0 ? 0 : t);
    }
}

template <class V>
constexpr kip::pelsub::RowIsa makeRowIsa() {
    return kip::pelsub::RowIsa{&meanRun<V, uint8_t>,        &meanRun<V, uint16_t>,    &columnsPrefix<V, uint8_t>,
                               &columnsPrefix<V, uint16_t>, &subtractRow<V, uint8_t>, &subtractRow<V, uint16_t>};
}
