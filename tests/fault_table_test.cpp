// Every exported entry that can allocate, failed at each of its allocations in turn: it returns
// the allocator's failure, leaves its inputs, the objects it changes and raw storage it constructs
// into as they were, and leaks nothing. A second test holds the table to the export lists, so a
// new allocating export cannot be missed.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "support/test_support.hpp"

using kiptest::rect;

namespace {

using Element = kip_filterMorphologyStructuringElement;

void put(std::string& out, const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }

// Pixels and rectangle of an image (bound or not), as bytes.
void put(std::string& out, const kimg_image& image) {
    uint32_t bound = 0;
    kimg_image_getIsBound(&image, &bound);
    put(out, &bound, sizeof bound);
    if (!bound) return;
    const kstd_rect32 r = kiptest::windowOf(image);
    put(out, &r, sizeof r);
    for (uint16_t v : kiptest::values([&] {
             kimg_window w;
             kimg_window_init(&w, &image);
             return w;
         }()))
        put(out, &v, sizeof v);
}

void put(std::string& out, const kstd_vector_& v) {
    const void* begin;
    intptr_t size, element;
    kstd_vector__getBeginSizeIntPtrConst(&v, &begin, &size);
    kstd_vector__getElementSize(&v, &element);
    put(out, &size, sizeof size);
    put(out, begin, size_t(size * element));
}

void put(std::string& out, const kip_filterMaskKernelEncoded& e) {
    put(out, &e.rectangular, sizeof e.rectangular);
    put(out, e.entering.base);
    put(out, e.leaving.base);
}

void put(std::string& out, const kip_filterMaskKernel& k) {
    put(out, k.mask);
    put(out, k.encoded);
}

void put(std::string& out, const kip_rleImage8& r) {
    put(out, &r.x, 4 * sizeof(int32_t));
    const kip_rleRow8* rows;
    int32_t n;
    kstd_vector_kip_rleRow8_getBeginSize32Const(&r.rows, &rows, &n);
    for (int32_t i = 0; i < n; ++i) put(out, rows[i].runs, size_t(rows[i].count) * sizeof(kip_rleRun8));
}

// Raw storage a constructor writes into (a failed construction may have scribbled on it; only
// the leak count says whether it left something alive).
template <class T>
struct Raw {
    alignas(T) unsigned char bytes[sizeof(T)];
    Raw() { std::memset(bytes, 0xA5, sizeof bytes); }
    T* operator&() { return reinterpret_cast<T*>(bytes); }
};

// Everything a row may read or change, built afresh for every attempt.
struct World {
    kiptest::Image src8, src16, mask, dst8, dst16, unbound, maskImage, weights, conv8, conv16s;
    kip_filterMaskKernel kernel, masked;
    Element element, weighted;
    kip_filterConvolveKernel8 k8;
    kip_filterConvolveKernel16s k16s;
    kip_rleImage8 rle, rleOut;
    kip_filterMaskKernelEncoded encoded;
    kip_filterMaskKernel* heapKernel = nullptr;
    Element* heapElement = nullptr;
    kip_filterRankParams rank{1, 0.3};
    kip_filterMedianParams median{1};
    kip_filterMorphologyParams morph{1};
    kip_filterConvolveParams conv{2};
    kip_pelSubLocalParams local{5, 3};
    kimg_image scratch;
    kimg_image sharedImage;  // a handle the image rows assign into
    // Raw storage for the constructors, and what to undo after a successful construction.
    Raw<kip_filterMaskKernel> rawKernel;
    Raw<Element> rawElement;
    Raw<kip_filterConvolveKernel8> raw8;
    Raw<kip_filterConvolveKernel16s> raw16s;
    Raw<kip_rleImage8> rawRle;
    Raw<kip_filterMaskKernelEncoded> rawEncoded;
    Raw<kstd_vector32s> rawOffsets;
    Raw<kimg_image> rawImage;
    std::vector<std::function<void()>> undo;

    World()
        : src8(1, rect(-3, 2, 23, 17)),
          src16(2, rect(-3, 2, 23, 17)),
          mask(1, rect(-3, 2, 23, 17)),
          dst8(1, rect(0, 0, 30, 30)),
          dst16(2, rect(0, 0, 30, 30)),
          maskImage(1, rect(4, 4, 5, 3)),
          weights(2, rect(0, 0, 3, 3)),
          conv8(1, rect(0, 0, 3, 5)),
          conv16s(2, rect(0, 0, 5, 3)) {
        std::mt19937 rng(16);
        for (kiptest::Image* i : {&src8, &src16, &dst8, &dst16, &conv8, &conv16s}) i->fillRandom(rng);
        std::vector<uint16_t> m = mask.values();
        for (size_t i = 0; i < m.size(); ++i) m[i] = i % 7 ? 255 : 0;
        mask.setValues(m);
        maskImage.setValues({255, 0, 255, 0, 255, 0, 255, 255, 255, 0, 255, 0, 255, 0, 255});
        weights.setValues({0, 3, 0, 3, uint16_t(-5), 3, 0, 3, 0});
        const kstd_pair32 five{5, 5};
        EXPECT_EQ(kip_filterMaskKernel_constructSize(&kernel, &five), 0);
        EXPECT_EQ(kip_filterMaskKernel_constructMask(&masked, &maskImage.img), 0);
        EXPECT_EQ(kip_filterMorphologyStructuringElement_construct(&element), 0);
        EXPECT_EQ(kip_filterMorphologyStructuringElement_construct(&weighted), 0);
        EXPECT_EQ(kip_filterMorphologyStructuringElement_setOffsetImage(&weighted, &weights.img), 0);
        EXPECT_EQ(kip_filterMorphologyStructuringElement_setUseOffsetImage(&weighted, 1), 0);
        EXPECT_EQ(kip_filterConvolveKernel8_construct(&k8), 0);
        EXPECT_EQ(kip_filterConvolveKernel8_setKernel(&k8, &conv8.img), 0);
        EXPECT_EQ(kip_filterConvolveKernel16s_construct(&k16s), 0);
        EXPECT_EQ(kip_filterConvolveKernel16s_setKernel(&k16s, &conv16s.img), 0);
        EXPECT_EQ(kip_rleImage8_constructImage(&rle, &maskImage.img), 0);
        EXPECT_EQ(kip_rleImage8_construct(&rleOut), 0);
        EXPECT_EQ(kip_filterMaskKernelEncoded_constructImage(&encoded, &maskImage.img), 0);
        EXPECT_EQ(kip_filterMaskKernel_newWithSize(&heapKernel, &five), 0);
        EXPECT_EQ(kip_filterMorphologyStructuringElement_new(&heapElement), 0);
        kimg_image_constructUnbound(&scratch);
        kimg_image_constructUnbound(&sharedImage);
    }
    ~World() {
        for (auto& u : undo) u();
        kip_filterMaskKernel_destruct(&kernel);
        kip_filterMaskKernel_destruct(&masked);
        kip_filterMorphologyStructuringElement_destruct(&element);
        kip_filterMorphologyStructuringElement_destruct(&weighted);
        kip_filterConvolveKernel8_destruct(&k8);
        kip_filterConvolveKernel16s_destruct(&k16s);
        kip_rleImage8_destruct(&rle);
        kip_rleImage8_destruct(&rleOut);
        kip_filterMaskKernelEncoded_destruct(&encoded);
        kip_filterMaskKernel_delete(&heapKernel);
        kip_filterMorphologyStructuringElement_delete(&heapElement);
        kimg_image_destruct(&scratch);
        kimg_image_destruct(&sharedImage);
    }
    // After a successful construction into raw storage, destroy it with the world.
    template <class T>
    kip_status owns(kip_status s, Raw<T>& raw, kip_status (*destruct)(T*)) {
        if (!kip_status_isFailure(s)) undo.push_back([&raw, destruct] { destruct(&raw); });
        return s;
    }

    // Everything a failed call must leave as it was, part by part.
    std::map<std::string, std::string> digest() const {
        std::map<std::string, std::string> out;
        const std::pair<const char*, const kiptest::Image*> images[] = {
            {"src8", &src8},   {"src16", &src16},     {"mask", &mask},           {"dst8", &dst8},
            {"dst16", &dst16}, {"unbound", &unbound}, {"maskImage", &maskImage}, {"weights", &weights},
            {"conv8", &conv8}, {"conv16s", &conv16s}};
        for (const auto& [name, image] : images) put(out[name], image->img);
        put(out["kernel"], kernel);
        put(out["masked"], masked);
        for (const auto& [name, e] : {std::pair{"element", &element}, std::pair{"weighted", &weighted}}) {
            put(out[name], e->kernel);
            put(out[name], e->offsetImage);
            put(out[name], &e->useOffsetImage, sizeof e->useOffsetImage);
        }
        put(out["k8"], k8.image);
        put(out["k16s"], k16s.image);
        put(out["rle"], rle);
        put(out["rleOut"], rleOut);
        put(out["encoded"], encoded);
        put(out["scratch"], scratch);
        put(out["sharedImage"], sharedImage);
        return out;
    }
};

// What a failing call may leave changed, by design: a window entry with an image mask copies the
// source into the destination before its engine allocates, and an image entry keeps the pixels
// it gave an unbound destination (the caller owns them then).
const std::map<std::string, std::set<std::string>> kMayChange = {
    {"kip_filterMedianWindow16", {"dst16"}}, {"kip_filterMorphologyWindow16", {"dst16"}},
    {"kip_pelSubLocalMedian16", {"dst16"}},  {"kip_filterMorphology8", {"unbound"}},
    {"kip_filterRankWindow8", {"dst8"}},
};

// The parts that differ, for the failure message.
std::string changed(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b,
                    const std::string& row) {
    const auto allowed = kMayChange.find(row);
    std::string out;
    for (const auto& [name, bytes] : a)
        if (b.at(name) != bytes && (allowed == kMayChange.end() || !allowed->second.count(name))) out += " " + name;
    return out;
}

// The heap variants destroy what the pointer held first and leave it null when they fail.
template <class T>
kip_status nullOnFailure(kip_status s, T* const* p) {
    if (kip_status_isFailure(s)) {
        EXPECT_EQ(*p, nullptr);
    }
    return s;
}

struct Row {
    std::string name;
    std::function<kip_status(World&)> op;
};

// Vectors: each row works on a vector v of three elements and a vector other of six, made with the
// injector off; a failed call must leave v as it was and raw storage unwritten.
struct Held {
    kstd_vector_ v, other, made;
    void* heap = nullptr;  // a typed vector from new / newClone
    bool madeLive = false;
    int32_t items[16] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
};
using VectorOp = std::function<kip_status(Held&)>;

void addVectorRows(std::vector<Row>& rows, const std::string& prefix, intptr_t elementSize,
                   const std::map<std::string, VectorOp>& ops, std::function<void(void**)> deleteHeap) {
    for (const auto& entry : ops) {
        const VectorOp op = entry.second;
        rows.push_back({prefix + entry.first, [op, deleteHeap, elementSize](World& w) -> kip_status {
                            const int64_t armed = ksys_memory_getFailAfter();
                            ksys_memory_setFailAfter(-1);
                            auto h = std::make_shared<Held>();
                            EXPECT_EQ(
                                kstd_vector__constructFromBlockWithVtable(&h->v, elementSize, h->items, 3, nullptr), 0);
                            EXPECT_EQ(kstd_vector__constructFromBlockWithVtable(
                                          &h->other, elementSize, h->items,
                                          std::min<intptr_t>(6, sizeof h->items / elementSize), nullptr),
                                      0);
                            std::memset(&h->made, 0xA5, sizeof h->made);
                            w.undo.push_back([h, deleteHeap] {
                                if (h->madeLive) kstd_vector__destruct(&h->made);
                                kstd_vector__destruct(&h->v);
                                kstd_vector__destruct(&h->other);
                                if (h->heap) deleteHeap(&h->heap);
                            });
                            const kstd_vector_ before = h->v, raw = h->made;
                            std::string contents, after;
                            put(contents, h->v);
                            ksys_memory_setFailAfter(armed);
                            const kip_status s = op(*h);
                            if (!kip_status_isFailure(s)) return s;
                            put(after, h->v);
                            EXPECT_EQ(after, contents);
                            EXPECT_EQ(std::memcmp(&before, &h->v, sizeof before), 0);
                            EXPECT_EQ(std::memcmp(&raw, &h->made, sizeof raw), 0) << "a failed construct wrote";
                            EXPECT_EQ(h->heap, nullptr);
                            return s;
                        }});
    }
}

kip_status made(Held& h, kip_status s) {
    h.madeLive = !kip_status_isFailure(s);
    return s;
}

// The rows of a typed vector V over T (4-byte or 8-byte elements; the bytes are copied as given).
#define KIP_VECTOR_ROWS(V, T)                                                                                      \
    do {                                                                                                           \
        static_assert(sizeof(V) == sizeof(kstd_vector_));                                                          \
        auto t = [](kstd_vector_* p) { return reinterpret_cast<V*>(p); };                                          \
        auto e = [](Held& h) { return reinterpret_cast<const T*>(h.items); };                                      \
        const intptr_t n = intptr_t(sizeof(Held::items)) / intptr_t(sizeof(T));                                    \
        std::map<std::string, VectorOp> ops = {                                                                    \
            {"construct", [=](Held& h) { return made(h, V##_construct(t(&h.made), 5)); }},                         \
            {"constructUninit", [=](Held& h) { return made(h, V##_constructUninit(t(&h.made), 5)); }},             \
            {"constructFill", [=](Held& h) { return made(h, V##_constructFill(t(&h.made), 5, e(h))); }},           \
            {"constructFromBlock", [=](Held& h) { return made(h, V##_constructFromBlock(t(&h.made), e(h), 2)); }}, \
            {"constructCopy", [=](Held& h) { return made(h, V##_constructCopy(t(&h.made), t(&h.v))); }},           \
            {"constructWithMtable",                                                                                \
             [=](Held& h) { return made(h, V##_constructWithMtable(t(&h.made), 4, nullptr)); }},                   \
            {"assign", [=](Held& h) { return V##_assign(t(&h.v), t(&h.other)); }},                                 \
            {"assignElements", [=](Held& h) { return V##_assignElements(t(&h.v), e(h), n); }},                     \
            {"resize", [=](Held& h) { return V##_resize(t(&h.v), 40); }},                                          \
            {"resizeUninit", [=](Held& h) { return V##_resizeUninit(t(&h.v), 40); }},                              \
            {"resizeFill", [=](Held& h) { return V##_resizeFill(t(&h.v), 40, e(h)); }},                            \
            {"reserve", [=](Held& h) { return V##_reserve(t(&h.v), 40); }},                                        \
            {"append", [=](Held& h) { return V##_append(t(&h.v), t(&h.other)); }},                                 \
            {"insert", [=](Held& h) { return V##_insert(t(&h.v), 1, e(h), n); }},                                  \
            {"insertElement", [=](Held& h) { return V##_insertElement(t(&h.v), 0, e(h)); }},                       \
            {"pushBack", [=](Held& h) { return V##_pushBack(t(&h.v), e(h)); }},                                    \
            {"new", [=](Held& h) { return V##_new(reinterpret_cast<V**>(&h.heap)); }},                             \
            {"newClone", [=](Held& h) { return V##_newClone(reinterpret_cast<V**>(&h.heap), t(&h.v)); }}};         \
        addVectorRows(rows, #V "_", sizeof(T), ops, [](void** p) { V##_delete(reinterpret_cast<V**>(p)); });       \
    } while (0)

kip_status nothingJob(const ksys_jobParams*, uint32_t) { return 0; }

std::vector<Row> table() {
    std::vector<Row> rows;
    auto row = [&](const char* name, std::function<kip_status(World&)> op) { rows.push_back({name, std::move(op)}); };
    const kstd_pair32 seven{7, 3};

    // Images.
    row("kimg_image_construct",
        [](World& w) { return w.owns(kimg_image_construct(&w.rawImage, 1, 9, 4), w.rawImage, kimg_image_destruct); });
    row("kimg_image_constructRect", [](World& w) {
        const kstd_rect32 r{-2, 5, 9, 4};
        return w.owns(kimg_image_constructRect(&w.rawImage, 2, &r), w.rawImage, kimg_image_destruct);
    });
    row("kimg_image_constructWrap", [](World& w) {
        static uint8_t pixels[64];
        const kstd_rect32 r{0, 0, 8, 8};
        return w.owns(kimg_image_constructWrap(&w.rawImage, 1, &r, 8, pixels), w.rawImage, kimg_image_destruct);
    });
    row("kimg_image_assignNew", [](World& w) { return kimg_image_assignNew(&w.sharedImage, 1, 12, 3); });
    row("kimg_image_assignNewRect", [](World& w) {
        const kstd_rect32 r{3, 3, 5, 5};
        return kimg_image_assignNewRect(&w.sharedImage, 2, &r);
    });
    row("kimg_image_constructCopy", [](World& w) {
        return w.owns(kimg_image_constructCopy(&w.rawImage, &w.src8.img), w.rawImage, kimg_image_destruct);
    });
    row("kimg_imageConst_constructCopy", [](World& w) {
        return w.owns(kimg_imageConst_constructCopy(&w.rawImage, &w.src8.img), w.rawImage, kimg_image_destruct);
    });
    row("kimg_image_assign", [](World& w) { return kimg_image_assign(&w.sharedImage, &w.src8.img); });
    row("kimg_imageConst_assign", [](World& w) { return kimg_imageConst_assign(&w.sharedImage, &w.src16.img); });
    row("kip_pelCopy8", [](World& w) { return kip_pelCopy8(&w.src8.img, &w.dst8.img); });
    row("kip_pelCopy16s", [](World& w) { return kip_pelCopy16s(&w.src16.img, &w.dst16.img); });
    // Overlapping windows of one image copy as if through a temporary.
    for (int depth : {1, 2}) {
        rows.push_back({depth == 1 ? "kip_pelCopyWindow8" : "kip_pelCopyWindow16", [depth](World& w) {
                            const kimg_window all = (depth == 1 ? w.src8 : w.src16).window();
                            const kimg_window s = kiptest::restrict(all, rect(-3, 2, 20, 17));
                            kimg_window d = kiptest::restrict(all, rect(-1, 2, 20, 17));
                            return (depth == 1 ? kip_pelCopyWindow8 : kip_pelCopyWindow16)(&s, &d);
                        }});
    }

    // Window preparation.
    row("kip_filterInitializeWindow_", [](World& w) {
        kimg_window s, m, d;
        uint32_t nothing;
        return kip_filterInitializeWindow_(&w.src8.img, &w.mask.img, &w.sharedImage, &s, &m, &d, &nothing, 1);
    });
    for (int depth : {1, 2}) {
        rows.push_back(
            {depth == 1 ? "kip_filterInitializeGCRWindow8_" : "kip_filterInitializeGCRWindow16_", [depth](World& w) {
                 const kiptest::Image& src = depth == 1 ? w.src8 : w.src16;
                 const kimg_window s = src.window(), m = w.mask.window(), d = src.window();  // in place
                 kimg_window os, om, od;
                 uint32_t nothing, used, overlap;
                 return (depth == 1 ? kip_filterInitializeGCRWindow8_ : kip_filterInitializeGCRWindow16_)(
                     &s, &m, &d, &os, &om, &od, &nothing, &used, &overlap, &w.scratch);
             }});
    }

    // Mask kernels.
    row("kip_filterMaskKernel_construct", [](World& w) {
        return w.owns(kip_filterMaskKernel_construct(&w.rawKernel), w.rawKernel, kip_filterMaskKernel_destruct);
    });
    row("kip_filterMaskKernel_constructSize", [=](World& w) {
        return w.owns(kip_filterMaskKernel_constructSize(&w.rawKernel, &seven), w.rawKernel,
                      kip_filterMaskKernel_destruct);
    });
    row("kip_filterMaskKernel_constructMask", [](World& w) {
        return w.owns(kip_filterMaskKernel_constructMask(&w.rawKernel, &w.maskImage.img), w.rawKernel,
                      kip_filterMaskKernel_destruct);
    });
    row("kip_filterMaskKernel_constructCopy", [](World& w) {
        return w.owns(kip_filterMaskKernel_constructCopy(&w.rawKernel, &w.masked), w.rawKernel,
                      kip_filterMaskKernel_destruct);
    });
    row("kip_filterMaskKernel_assign", [](World& w) { return kip_filterMaskKernel_assign(&w.kernel, &w.masked); });
    row("kip_filterMaskKernel_reset", [](World& w) { return kip_filterMaskKernel_reset(&w.masked); });
    row("kip_filterMaskKernel_setSize", [=](World& w) { return kip_filterMaskKernel_setSize(&w.masked, &seven); });
    row("kip_filterMaskKernel_setMask",
        [](World& w) { return kip_filterMaskKernel_setMask(&w.kernel, &w.maskImage.img); });
    row("kip_filterMaskKernel_new",
        [](World& w) { return nullOnFailure(kip_filterMaskKernel_new(&w.heapKernel), &w.heapKernel); });
    row("kip_filterMaskKernel_newWithSize", [=](World& w) {
        return nullOnFailure(kip_filterMaskKernel_newWithSize(&w.heapKernel, &seven), &w.heapKernel);
    });
    row("kip_filterMaskKernel_newWithMask", [](World& w) {
        return nullOnFailure(kip_filterMaskKernel_newWithMask(&w.heapKernel, &w.maskImage.img), &w.heapKernel);
    });
    row("kip_filterMaskKernel_newClone",
        [](World& w) { return nullOnFailure(kip_filterMaskKernel_newClone(&w.heapKernel, &w.masked), &w.heapKernel); });

    // Run-length images and encoded kernels.
    row("kip_rleImage8_construct",
        [](World& w) { return w.owns(kip_rleImage8_construct(&w.rawRle), w.rawRle, kip_rleImage8_destruct); });
    row("kip_rleImage8_constructCopy", [](World& w) {
        return w.owns(kip_rleImage8_constructCopy(&w.rawRle, &w.rle), w.rawRle, kip_rleImage8_destruct);
    });
    row("kip_rleImage8_constructImage", [](World& w) {
        return w.owns(kip_rleImage8_constructImage(&w.rawRle, &w.src8.img), w.rawRle, kip_rleImage8_destruct);
    });
    row("kip_rleImage8_constructWindow", [](World& w) {
        const kimg_window win = w.src8.window();
        return w.owns(kip_rleImage8_constructWindow(&w.rawRle, &win), w.rawRle, kip_rleImage8_destruct);
    });
    row("kip_rleImage8_constructWindowTranspose", [](World& w) {
        const kimg_window win = w.src8.window();
        return w.owns(kip_rleImage8_constructWindowTranspose(&w.rawRle, &win), w.rawRle, kip_rleImage8_destruct);
    });
    row("kip_rleImage8_constructWindowReflectAndTranspose", [](World& w) {
        const kimg_window win = w.src8.window();
        return w.owns(kip_rleImage8_constructWindowReflectAndTranspose(&w.rawRle, &win), w.rawRle,
                      kip_rleImage8_destruct);
    });
    row("kip_rleImage8_assign", [](World& w) { return kip_rleImage8_assign(&w.rleOut, &w.rle); });
    row("kip_rleImage8_encode", [](World& w) { return kip_rleImage8_encode(&w.rle, &w.src8.img); });
    row("kip_rleImage8_encodeWindow", [](World& w) {
        const kimg_window win = w.src8.window();
        return kip_rleImage8_encodeWindow(&w.rle, &win);
    });
    row("kip_rleImage8_decode", [](World& w) { return kip_rleImage8_decode(&w.rle, &w.sharedImage); });
    row("kip_rleImage8_transpose", [](World& w) { return kip_rleImage8_transpose(&w.rle, &w.rleOut); });
    row("kip_rleImage8_reflect", [](World& w) { return kip_rleImage8_reflect(&w.rle, &w.rle); });
    row("kip_filterMaskKernelEncoded_construct", [](World& w) {
        return w.owns(kip_filterMaskKernelEncoded_construct(&w.rawEncoded), w.rawEncoded,
                      kip_filterMaskKernelEncoded_destruct);
    });
    row("kip_filterMaskKernelEncoded_constructImage", [](World& w) {
        return w.owns(kip_filterMaskKernelEncoded_constructImage(&w.rawEncoded, &w.maskImage.img), w.rawEncoded,
                      kip_filterMaskKernelEncoded_destruct);
    });
    row("kip_filterMaskKernelEncoded_constructCopy", [](World& w) {
        return w.owns(kip_filterMaskKernelEncoded_constructCopy(&w.rawEncoded, &w.encoded), w.rawEncoded,
                      kip_filterMaskKernelEncoded_destruct);
    });
    row("kip_filterMaskKernelEncoded_assign",
        [](World& w) { return kip_filterMaskKernelEncoded_assign(&w.kernel.encoded, &w.encoded); });
    row("kip_filterMaskKernelEncoded_encode",
        [](World& w) { return kip_filterMaskKernelEncoded_encode(&w.kernel.encoded, &w.maskImage.img); });
    row("kip_filterMaskKernelEncoded_createEnteringOffsets", [](World& w) {
        return w.owns(kip_filterMaskKernelEncoded_createEnteringOffsets(&w.encoded, 37, &w.rawOffsets), w.rawOffsets,
                      kstd_vector32s_destruct);
    });
    row("kip_filterMaskKernelEncoded_createLeavingOffsets", [](World& w) {
        return w.owns(kip_filterMaskKernelEncoded_createLeavingOffsets(&w.encoded, -37, &w.rawOffsets), w.rawOffsets,
                      kstd_vector32s_destruct);
    });

    // Convolution kernels and filters.
    row("kip_filterConvolveKernel8_constructCopy", [](World& w) {
        return w.owns(kip_filterConvolveKernel8_constructCopy(&w.raw8, &w.k8), w.raw8,
                      kip_filterConvolveKernel8_destruct);
    });
    row("kip_filterConvolveKernel16s_constructCopy", [](World& w) {
        return w.owns(kip_filterConvolveKernel16s_constructCopy(&w.raw16s, &w.k16s), w.raw16s,
                      kip_filterConvolveKernel16s_destruct);
    });
    row("kip_filterConvolveKernel8_assign", [](World& w) { return kip_filterConvolveKernel8_assign(&w.k8, &w.k8); });
    row("kip_filterConvolveKernel16s_assign",
        [](World& w) { return kip_filterConvolveKernel16s_assign(&w.k16s, &w.k16s); });
    row("kip_filterConvolveKernel8_setKernel",
        [](World& w) { return kip_filterConvolveKernel8_setKernel(&w.k8, &w.maskImage.img); });
    row("kip_filterConvolveKernel16s_setKernel",
        [](World& w) { return kip_filterConvolveKernel16s_setKernel(&w.k16s, &w.weights.img); });
    row("kip_filterConvolveKernel8_setBox", [=](World& w) { return kip_filterConvolveKernel8_setBox(&w.k8, &seven); });
    row("kip_filterConvolveKernel8_setGaussian",
        [=](World& w) { return kip_filterConvolveKernel8_setGaussian(&w.k8, &seven); });
    row("kip_filterConvolveKernel16s_setSobel",
        [](World& w) { return kip_filterConvolveKernel16s_setSobel(&w.k16s, kip_filterConvolveSobelY); });
    row("kip_filterConvolveKernel16s_setLaplace",
        [](World& w) { return kip_filterConvolveKernel16s_setLaplace(&w.k16s); });
    row("kip_filterConvolve8_8_8",
        [](World& w) { return kip_filterConvolve8_8_8(&w.src8.img, &w.conv, &w.k8, &w.unbound.img); });
    row("kip_filterConvolve8_16s_16s",
        [](World& w) { return kip_filterConvolve8_16s_16s(&w.src8.img, &w.conv, &w.k16s, &w.dst16.img); });
    row("kip_filterConvolveWindow8_8_8", [](World& w) {
        const kimg_window s = w.src8.window();
        return kip_filterConvolveWindow8_8_8(&s, &w.conv, &w.k8, &s);  // in place: read through a copy
    });
    row("kip_filterConvolveWindow8_16s_16s", [](World& w) {
        const kimg_window s = w.src8.window(), d = w.dst16.window();
        return kip_filterConvolveWindow8_16s_16s(&s, &w.conv, &w.k16s, &d);
    });

    // Rank and median.
    row("kip_filterRank8",
        [](World& w) { return kip_filterRank8(&w.src8.img, &w.mask.img, &w.rank, &w.masked, &w.unbound.img); });
    row("kip_filterRank16",
        [](World& w) { return kip_filterRank16(&w.src16.img, nullptr, &w.rank, &w.kernel, &w.src16.img); });
    row("kip_filterRankWindow8", [](World& w) {
        const kimg_window s = w.src8.window(), m = w.mask.window(), d = w.dst8.window();
        return kip_filterRankWindow8(&s, &m, &w.rank, &w.masked, &d);
    });
    row("kip_filterRankWindow16", [](World& w) {
        const kimg_window s = w.src16.window(), d = w.src16.window();
        return kip_filterRankWindow16(&s, nullptr, &w.rank, &w.masked, &d);
    });
    for (int depth : {1, 2}) {
        rows.push_back(
            {depth == 1 ? "kip_filterRankWindow8PostGCR" : "kip_filterRankWindow16PostGCR", [depth](World& w) {
                 const kiptest::Image& src = depth == 1 ? w.src8 : w.src16;
                 kiptest::Image& dst = depth == 1 ? w.dst8 : w.dst16;
                 const kimg_window s = src.window();
                 const kimg_window d = kiptest::restrict(dst.window(), kiptest::windowOf(src.img));
                 const kimg_window cut = kiptest::restrict(s, kiptest::windowOf(dst.img));
                 return (depth == 1 ? kip_filterRankWindow8PostGCR : kip_filterRankWindow16PostGCR)(
                     &cut, nullptr, &w.rank, &w.masked, &d);
             }});
    }
    row("kip_filterMedian8",
        [](World& w) { return kip_filterMedian8(&w.src8.img, &w.mask.img, &w.median, &w.kernel, &w.src8.img); });
    row("kip_filterMedian16",
        [](World& w) { return kip_filterMedian16(&w.src16.img, nullptr, &w.median, &w.masked, &w.unbound.img); });
    row("kip_filterMedianWindow8", [](World& w) {
        const kimg_window s = w.src8.window(), d = w.dst8.window();
        return kip_filterMedianWindow8(&s, nullptr, &w.median, &w.masked, &d);
    });
    row("kip_filterMedianWindow16", [](World& w) {
        const kimg_window s = w.src16.window(), m = w.mask.window(), d = w.dst16.window();
        return kip_filterMedianWindow16(&s, &m, &w.median, &w.kernel, &d);
    });

    // Morphology.
    row("kip_filterMorphologyStructuringElement_construct", [](World& w) {
        return w.owns(kip_filterMorphologyStructuringElement_construct(&w.rawElement), w.rawElement,
                      kip_filterMorphologyStructuringElement_destruct);
    });
    row("kip_filterMorphologyStructuringElement_constructSize", [=](World& w) {
        return w.owns(kip_filterMorphologyStructuringElement_constructSize(&w.rawElement, &seven), w.rawElement,
                      kip_filterMorphologyStructuringElement_destruct);
    });
    row("kip_filterMorphologyStructuringElement_constructCopy", [](World& w) {
        return w.owns(kip_filterMorphologyStructuringElement_constructCopy(&w.rawElement, &w.weighted), w.rawElement,
                      kip_filterMorphologyStructuringElement_destruct);
    });
    row("kip_filterMorphologyStructuringElement_assign",
        [](World& w) { return kip_filterMorphologyStructuringElement_assign(&w.element, &w.weighted); });
    row("kip_filterMorphologyStructuringElement_reset",
        [](World& w) { return kip_filterMorphologyStructuringElement_reset(&w.weighted); });
    row("kip_filterMorphologyStructuringElement_setSize",
        [=](World& w) { return kip_filterMorphologyStructuringElement_setSize(&w.weighted, &seven); });
    row("kip_filterMorphologyStructuringElement_setMask",
        [](World& w) { return kip_filterMorphologyStructuringElement_setMask(&w.element, &w.maskImage.img); });
    row("kip_filterMorphologyStructuringElement_setOffsetImage",
        [](World& w) { return kip_filterMorphologyStructuringElement_setOffsetImage(&w.element, &w.weights.img); });
    row("kip_filterMorphologyStructuringElement_new", [](World& w) {
        return nullOnFailure(kip_filterMorphologyStructuringElement_new(&w.heapElement), &w.heapElement);
    });
    row("kip_filterMorphologyStructuringElement_newClone", [](World& w) {
        return nullOnFailure(kip_filterMorphologyStructuringElement_newClone(&w.heapElement, &w.weighted),
                             &w.heapElement);
    });
    row("kip_filterMorphology8", [](World& w) {
        return kip_filterMorphology8(&w.src8.img, &w.mask.img, kip_filterMorphologyClose, &w.morph, &w.weighted,
                                     &w.unbound.img);
    });
    row("kip_filterMorphology16", [](World& w) {
        return kip_filterMorphology16(&w.src16.img, nullptr, kip_filterMorphologyOpen, &w.morph, &w.element,
                                      &w.src16.img);
    });
    row("kip_filterMorphologyWindow8", [](World& w) {
        const kimg_window s = w.src8.window();
        kimg_window d = w.dst8.window();
        return kip_filterMorphologyWindow8(&s, nullptr, kip_filterMorphologyOpen, &w.morph, &w.element, &d);
    });
    row("kip_filterMorphologyWindow16", [](World& w) {
        const kimg_window s = w.src16.window(), m = w.mask.window();
        kimg_window d = w.dst16.window();
        return kip_filterMorphologyWindow16(&s, &m, kip_filterMorphologyDilate, &w.morph, &w.element, &d);
    });

    // Local subtraction.
    row("kip_pelSubLocalMean8",
        [](World& w) { return kip_pelSubLocalMean8(&w.src8.img, &w.mask.img, &w.local, &w.unbound.img); });
    row("kip_pelSubLocalMean16",
        [](World& w) { return kip_pelSubLocalMean16(&w.src16.img, nullptr, &w.local, &w.dst16.img); });
    row("kip_pelSubLocalMedian8",
        [](World& w) { return kip_pelSubLocalMedian8(&w.src8.img, nullptr, &w.local, &w.unbound.img); });
    row("kip_pelSubLocalMedian16",
        [](World& w) { return kip_pelSubLocalMedian16(&w.src16.img, &w.mask.img, &w.local, &w.dst16.img); });
    row("kip_pelSubLocalMeanWindow8", [](World& w) {
        const kimg_window s = w.src8.window(), d = w.dst8.window();
        return kip_pelSubLocalMeanWindow8(&s, nullptr, &w.local, &d);
    });
    row("kip_pelSubLocalMeanWindow16", [](World& w) {
        const kimg_window s = w.src16.window(), m = w.mask.window(), d = w.dst16.window();
        return kip_pelSubLocalMeanWindow16(&s, &m, &w.local, &d);
    });
    row("kip_pelSubLocalMedianWindow8", [](World& w) {
        const kimg_window s = w.src8.window(), m = w.mask.window(), d = w.dst8.window();
        return kip_pelSubLocalMedianWindow8(&s, &m, &w.local, &d);
    });
    row("kip_pelSubLocalMedianWindow16", [](World& w) {
        const kimg_window s = w.src16.window(), d = w.dst16.window();
        return kip_pelSubLocalMedianWindow16(&s, nullptr, &w.local, &d);
    });

    // The system layer's allocating calls.
    row("ksys_memory_alloc_internal", [](World& w) {
        void* block = nullptr;
        const kip_status s = ksys_memory_alloc_internal(64, &block);
        w.undo.push_back([block]() mutable { ksys_memory_free_internal(&block); });
        return s;
    });
    row("ksys_jobThreadGroup_construct", [](World& w) {
        auto g = std::make_shared<ksys_jobThreadGroup>();
        const kip_status s = ksys_jobThreadGroup_construct(g.get());
        if (s == 0) w.undo.push_back([g] { ksys_jobThreadGroup_destruct(g.get()); });
        return s;
    });
    row("ksys_jobParams_construct", [](World& w) {
        auto p = std::make_shared<ksys_jobParams>();
        const kip_status s = ksys_jobParams_construct(p.get());
        if (s == 0) w.undo.push_back([p] { ksys_jobParams_destruct(p.get()); });
        return s;
    });
    row("ksys_jobRequestSet_construct", [](World& w) {
        auto p = std::make_shared<ksys_jobRequestSet>();
        const kip_status s = ksys_jobRequestSet_construct(p.get());
        if (s == 0) w.undo.push_back([p] { ksys_jobRequestSet_destruct(p.get()); });
        return s;
    });
    row("ksys_jobResultSet_construct", [](World& w) {
        auto p = std::make_shared<ksys_jobResultSet>();
        const kip_status s = ksys_jobResultSet_construct(p.get());
        if (s == 0) w.undo.push_back([p] { ksys_jobResultSet_destruct(p.get()); });
        return s;
    });
    row("ksys_jobRequestSet_addFuncAndParams", [](World& w) {
        struct Jobs {
            ksys_jobParams params{};
            ksys_jobRequestSet requests{};
        };
        auto j = std::make_shared<Jobs>();
        const int64_t armed = ksys_memory_getFailAfter();
        ksys_memory_setFailAfter(-1);
        ksys_jobParams_construct(&j->params);
        ksys_jobRequestSet_construct(&j->requests);
        w.undo.push_back([j] {
            ksys_jobRequestSet_destruct(&j->requests);
            ksys_jobParams_destruct(&j->params);
        });
        kip_status s = 0;
        int64_t left = armed;
        for (int i = 0; i < 9 && s == 0; ++i) {
            void* block = nullptr;
            ksys_memory_alloc_internal(8, &block);
            ksys_jobParams_takeData(&j->params, block, &ksys_memory_free_internal);
            ksys_memory_setFailAfter(left);
            s = ksys_jobRequestSet_addFuncAndParams(&j->requests, &nothingJob, &j->params);
            left = ksys_memory_getFailAfter();
            ksys_memory_setFailAfter(-1);
        }
        ksys_memory_setFailAfter(left);
        return s;
    });
    row("ksys_jobThreadGroup_dispatchAndWait", [](World& w) {
        struct Jobs {
            ksys_jobThreadGroup group{};
            ksys_jobParams params{};
            ksys_jobRequestSet requests{};
            ksys_jobResultSet results{};
        };
        auto j = std::make_shared<Jobs>();
        const int64_t armed = ksys_memory_getFailAfter();
        ksys_memory_setFailAfter(-1);
        ksys_jobThreadGroup_construct(&j->group);
        ksys_jobParams_construct(&j->params);
        ksys_jobRequestSet_construct(&j->requests);
        ksys_jobResultSet_construct(&j->results);
        for (int i = 0; i < 3; ++i) ksys_jobRequestSet_addFuncAndParams(&j->requests, &nothingJob, &j->params);
        w.undo.push_back([j] {
            ksys_jobResultSet_destruct(&j->results);
            ksys_jobRequestSet_destruct(&j->requests);
            ksys_jobParams_destruct(&j->params);
            ksys_jobThreadGroup_destruct(&j->group);
        });
        ksys_memory_setFailAfter(armed);
        return ksys_jobThreadGroup_dispatchAndWait(&j->group, &j->requests, &j->results);
    });

    // The generic vector behind the typed ones (4-byte elements here).
    addVectorRows(
        rows, "kstd_vector__", 4,
        {{"constructWithVtable",
          [](Held& h) { return made(h, kstd_vector__constructWithVtable(&h.made, 4, 5, nullptr)); }},
         {"constructWithVtableWithMtable",
          [](Held& h) { return made(h, kstd_vector__constructWithVtableWithMtable(&h.made, 4, 5, nullptr, nullptr)); }},
         {"constructWithVtableUninit",
          [](Held& h) { return made(h, kstd_vector__constructWithVtableUninit(&h.made, 4, 5, nullptr)); }},
         {"constructFillWithVtable",
          [](Held& h) { return made(h, kstd_vector__constructFillWithVtable(&h.made, 4, 5, h.items, nullptr)); }},
         {"constructFromBlockWithVtable",
          [](Held& h) { return made(h, kstd_vector__constructFromBlockWithVtable(&h.made, 4, h.items, 4, nullptr)); }},
         {"constructCopy", [](Held& h) { return made(h, kstd_vector__constructCopy(&h.made, &h.v)); }},
         {"assign", [](Held& h) { return kstd_vector__assign(&h.v, &h.other); }},
         {"assignElements", [](Held& h) { return kstd_vector__assignElements(&h.v, h.items, 6); }},
         {"resize", [](Held& h) { return kstd_vector__resize(&h.v, 40); }},
         {"resizeUninit", [](Held& h) { return kstd_vector__resizeUninit(&h.v, 40); }},
         {"resizeFill", [](Held& h) { return kstd_vector__resizeFill(&h.v, 40, h.items); }},
         {"reserve", [](Held& h) { return kstd_vector__reserve(&h.v, 40); }},
         {"append", [](Held& h) { return kstd_vector__append(&h.v, &h.other); }},
         {"insert", [](Held& h) { return kstd_vector__insert(&h.v, 1, h.items, 6); }},
         {"insertElement", [](Held& h) { return kstd_vector__insertElement(&h.v, 0, h.items); }},
         {"pushBack", [](Held& h) { return kstd_vector__pushBack(&h.v, h.items); }}},
        nullptr);
    KIP_VECTOR_ROWS(kstd_vector32s, int32_t);
    KIP_VECTOR_ROWS(kstd_vector_kstd_pair32, kstd_pair32);
    KIP_VECTOR_ROWS(kstd_vector_kip_rleRow8, kip_rleRow8);
    KIP_VECTOR_ROWS(kstd_vector_kip_rleRun8Ptr, kip_rleRun8Ptr);
    return rows;
}

// Exports that cannot allocate: queries, comparisons, validation, destruction, rectangle and
// window arithmetic, pixel copies between existing windows, and the system layer's controls.
// A new export matches one of these only when it is of the same kind; anything else must join
// the table above.
bool cannotAllocate(const std::string& name) {
    static const std::regex patterns(
        "ksys_typeCheck.*|.*_(get[A-Z].*|compareEqual|validate.*|destruct|delete|init|initNull|initUnbound|"
        "initWindow|window|windowRect|gcr|getIsNull|clear|clearAndFreeMemory|swap|erase|eraseElement|popBack|"
        "constructEmpty|constructEmptyWithMtable|constructUnbound|assignUnbound)|"
        "kstd_rect32_.*|kstd_pair32_.*|kstd_assert_.*|kmath_.*|kprt_.*|kip_getVersion|kip_status_getName|"
        "kimg_image_(setWindowRect|setOrigin|copyXforms|setXform)|kip_pelSet.*|ksys_jobGetCurrentThreadState|"
        "kip_pelAndRectsEqual.*|kip_pelfunc_.*|kip_filterCommon_gcr.*|ksys_memory_(free_internal|fill|copy|set.*)|"
        "ksys_cleanup.*|ksys_cpuinfo_.*|ksys_attention_.*|ksys_jobSetThreadCount|ksys_jobParams_takeData|"
        "kip_filter(Convolve|Rank|Median|Morphology)Params_.*|kip_pelSubLocalParams_.*|"
        "kip_filterMorphologyStructuringElement_(setUseOffsetImage|setOriginOffset)|"
        "kip_filterConvolveKernel(8|16s)_(construct|reset)|kip_filterMaskKernelEncoded_(reset|setRectangular)");
    return std::regex_match(name, patterns);
}

// Rows whose calls take no memory today: handles that share storage, copies between existing
// pixels, and empty constructions. They stay in the table so that the day one of them starts to
// allocate, its failures get swept (and this list must change).
const std::set<std::string> kShareOrNoStorage = {"kimg_image_constructCopy",
                                                 "kimg_imageConst_constructCopy",
                                                 "kimg_image_assign",
                                                 "kimg_imageConst_assign",
                                                 "kip_pelCopy8",
                                                 "kip_pelCopy16s",
                                                 "kip_pelCopyWindow8",
                                                 "kip_pelCopyWindow16",
                                                 "kip_rleImage8_construct",
                                                 "kip_filterMaskKernelEncoded_construct",
                                                 "ksys_jobThreadGroup_construct",
                                                 "ksys_jobParams_construct",
                                                 "ksys_jobRequestSet_construct",
                                                 "ksys_jobResultSet_construct"};

std::vector<std::string> exported() {
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(KIP_EXPORTS_DIR)) {
        std::ifstream in(file.path());
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#') names.push_back(line);
    }
    return names;
}

}  // namespace

TEST(FaultTable, CoversEveryExportThatCanAllocate) {
    std::set<std::string> listed;
    for (const Row& r : table()) EXPECT_TRUE(listed.insert(r.name).second) << r.name << " twice in the table";
    const std::vector<std::string> names = exported();
    ASSERT_GT(names.size(), 400u);
    const std::set<std::string> all(names.begin(), names.end());
    for (const std::string& n : names)
        EXPECT_TRUE(listed.count(n) || cannotAllocate(n)) << n << " is exported, may allocate and has no row";
    for (const std::string& n : listed) EXPECT_TRUE(all.count(n)) << n << " has a row but is not exported";
}

TEST(FaultTable, EveryAllocationFailureIsCleanEverywhere) {
    ksys_jobSetThreadCount(3);
    {  // Start the job workers once: the pool keeps them for the process.
        ksys_jobThreadGroup g;
        ASSERT_EQ(ksys_jobThreadGroup_construct(&g), 0);
        ksys_jobThreadGroup_destruct(&g);
    }
    for (const Row& r : table()) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<World> w;
        std::map<std::string, std::string> before;
        const int n = kiptest::faultSweep([&] { return r.op(*w); },
                                          [&](kip_status, int failedAt) {
                                              EXPECT_EQ(changed(before, w->digest(), r.name), "")
                                                  << "changed when allocation " << failedAt + 1 << " failed";
                                          },
                                          [&] {
                                              w = std::make_unique<World>();
                                              before = w->digest();
                                          },
                                          [&] { w.reset(); });
        // Rows that allocate nothing sweep nothing: each must be known not to.
        EXPECT_EQ(n == 0, kShareOrNoStorage.count(r.name) == 1) << n << " allocations";
    }
    ksys_jobSetThreadCount(0);
}
