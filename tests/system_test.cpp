// System layer: allocator and fault injector, cleanup registry, assertions, generic and typed
// vectors, CPU information, attention flag, ceiling.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "frame/isa.hpp"
#include "support/test_support.hpp"

uint32_t isaProbe_sse2();
uint32_t isaProbe_sse41();
uint32_t isaProbe_avx2();
uint32_t isaProbe_avx512();

namespace {

TEST(Memory, InjectedFailureHitsExactlyTheRequestedAllocationOnce) {
    const int64_t live = ksys_memory_getLiveBlocks();
    for (int64_t n = 0; n < 5; ++n) {
        std::vector<void*> blocks(static_cast<size_t>(n) + 2, nullptr);
        ksys_memory_setFailAfter(n);
        for (int64_t i = 0; i < n; ++i) ASSERT_EQ(ksys_memory_alloc_internal(0, &blocks[static_cast<size_t>(i)]), 0);
        void* untouched = &blocks;
        EXPECT_EQ(ksys_memory_alloc_internal(8, &untouched), ksys_errOutOfMemory);
        EXPECT_EQ(untouched, &blocks);
        ASSERT_EQ(ksys_memory_alloc_internal(8, &blocks.back()), 0) << "fires once, then disarms";
        EXPECT_EQ(ksys_memory_getLiveBlocks(), live + n + 1);
        EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());  // distinct, even 0 bytes
        for (void*& b : blocks) ksys_memory_free_internal(&b);
        EXPECT_EQ(std::count(blocks.begin(), blocks.end(), nullptr), n + 2);
    }
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
    EXPECT_EQ(ksys_memory_copy(nullptr, nullptr, 0), 0);
    EXPECT_EQ(ksys_memory_fill(nullptr, 1, 0), 0);
}

TEST(Memory, InjectorFiresOnceAcrossRacingThreads) {
    std::atomic<int> failures{0};
    ksys_memory_setFailAfter(1500);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                void* p = nullptr;
                if (ksys_memory_alloc_internal(4, &p) != 0) ++failures;
                ksys_memory_free_internal(&p);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 1);
}

// One request above the limit is refused with the out-of-memory status before anything is
// allocated (an image that large is never zeroed); the default leaves most of the machine alone.
TEST(Memory, RequestsAboveTheLimitAreRefusedBeforeAnythingIsAllocated) {
    const int64_t live = ksys_memory_getLiveBlocks();
    const uint64_t byDefault = ksys_memory_getAllocationLimit();
    void* block = nullptr;
    ksys_memory_setAllocationLimit(4096);
    ASSERT_EQ(ksys_memory_alloc_internal(4097, &block), ksys_errOutOfMemory);
    ASSERT_EQ(ksys_memory_alloc_internal(4096, &block), 0);
    ksys_memory_free_internal(&block);
    {
        kiptest::Image fits, tooLarge;
        EXPECT_EQ(kimg_image_construct(&fits.img, 2, 32, 32), 0);
        EXPECT_EQ(kimg_image_construct(&tooLarge.img, 2, 64, 32), ksys_errOutOfMemory);
        EXPECT_FALSE(kiptest::isBound(tooLarge.img));
    }
    ksys_memory_setFailAfter(0);
    EXPECT_EQ(ksys_memory_alloc_internal(5000, &block), ksys_errOutOfMemory);
    EXPECT_EQ(ksys_memory_getFailAfter(), 0) << "a refused request is not an allocation for the injector";
    ksys_memory_setFailAfter(-1);

    ksys_memory_setAllocationLimit(0);
    ASSERT_EQ(ksys_memory_getAllocationLimit(), byDefault) << "0 restores the default";
    const uint64_t physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
    EXPECT_LE(byDefault, physical / 2);
    EXPECT_EQ(ksys_memory_alloc_internal(size_t(byDefault) + 1, &block), ksys_errOutOfMemory);
    kiptest::Image huge;
    EXPECT_EQ(kimg_image_construct(&huge.img, 2, 1 << 20, int32_t(byDefault >> 21) + 1), ksys_errOutOfMemory);
    EXPECT_EQ(kimg_image_construct(&huge.img, 2, INT32_MAX, INT32_MAX), ksys_errOutOfMemory);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

TEST(AssertDeathTest, DefaultHandlerReportsTheLineAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    kstd_assert_setHandler(nullptr);
    EXPECT_DEATH(kstd_assert_(77), "kip: assertion failed at line 77");
}

// ---- Cleanup registry -----------------------------------------------------------------------

std::vector<int> gLog;
kip_status logDestructor(void* address) {
    gLog.push_back(*static_cast<int*>(address));
    return *static_cast<int*>(address) == 99 ? kip_errBadMode : 0;  // 99 fails to destruct
}

struct Registry {
    int tokens[5] = {0, 1, 2, 3, 4};
    ksys_cleanupEntry table[5];
    int32_t count = 0;
    Registry(std::initializer_list<uint32_t> kinds) {
        gLog.clear();
        for (uint32_t kind : kinds)
            table[count] = {uint32_t(count + 10), kind, &tokens[count], &logDestructor}, ++count;
    }
};

TEST(CleanupRegistry, ExecuteAndDoIdFollowKindsOrderAndStatus) {
    // Newest first; kinds 33 and 34 only on failure. A destructor failing (99) neither stops the
    // others nor changes the status; 5 is a success.
    for (auto [status, log] : {std::pair{kip_status(5), std::vector<int>{4, 3, 1}},
                               std::pair{kip_errImageUnbound, std::vector<int>{4, 3, 99, 1, 0}}}) {
        Registry r({33, 49, 34, 50, 49});
        r.tokens[2] = 99;
        const kip_status given = status;
        EXPECT_EQ(ksys_cleanupExecute_(r.table, &r.count, &status, 1), given);
        EXPECT_EQ(r.count, 0);
        EXPECT_EQ(gLog, log);
    }

    kip_status status = 0;
    Registry r({33, 34, 49, 50});
    EXPECT_EQ(ksys_cleanup_doId_(r.table, &r.count, &status, 11, 1), 0);
    ASSERT_EQ(r.count, 3);
    EXPECT_EQ(r.table[1].id, 12u);
    EXPECT_EQ(ksys_cleanup_doId_(r.table, &r.count, &status, 11, 1), kstd_errIndexRange);
    EXPECT_EQ(ksys_cleanup_doId_(r.table, &r.count, &status, 13, 0), 0);  // dropped, not run
    r.tokens[2] = 99;
    EXPECT_EQ(ksys_cleanup_doId_(r.table, &r.count, &status, 12, 1), kip_errBadMode);
    EXPECT_EQ(status, kip_errBadMode);
    EXPECT_EQ(ksys_cleanupExecute_(r.table, &r.count, &status, 1), kip_errBadMode);
    EXPECT_EQ(gLog, (std::vector<int>{1, 99, 0}));
    EXPECT_NE(ksys_cleanup_getNextTag(), ksys_cleanup_getNextTag());
}

// ---- Generic vector -------------------------------------------------------------------------

// Copies are tracked by serial number: every live copy is in gLive, so a leak or a double
// destroy shows as a mismatch with the serials the vectors hold.
struct Tracked {
    int32_t value;
    int32_t serial;  // 0: a zeroed element the vector made itself
};
std::multiset<int32_t> gLive;
int32_t gSerial = 0;
int gCopiesBeforeFailure = -1;  // negative: copies never fail
constexpr kip_status kCopyFailed = static_cast<kip_status>(0x80001234);

kip_status trackedCopy(void* destination, const void* source) {
    if (gCopiesBeforeFailure == 0) {
        gCopiesBeforeFailure = -1;
        return kCopyFailed;
    }
    if (gCopiesBeforeFailure > 0) --gCopiesBeforeFailure;
    Tracked t{static_cast<const Tracked*>(source)->value, ++gSerial};
    gLive.insert(t.serial);
    std::memcpy(destination, &t, sizeof t);
    return 0;
}
kip_status trackedDestruct(void* element) {
    Tracked* t = static_cast<Tracked*>(element);
    if (t->serial != 0) {
        auto it = gLive.find(t->serial);
        EXPECT_NE(it, gLive.end()) << "destroyed twice";
        if (it != gLive.end()) gLive.erase(it);
    }
    t->serial = -1;
    return 0;
}
const kstd_vectorVtable kTrackedTable{&trackedCopy, &trackedDestruct};

std::vector<int32_t> valuesOf(const kstd_vector_& v) {
    std::vector<int32_t> out;
    for (intptr_t i = 0; i < v.size; ++i) out.push_back(static_cast<const Tracked*>(v.begin)[i].value);
    return out;
}
std::multiset<int32_t> serialsOf(const kstd_vector_& v, std::multiset<int32_t> out = {}) {
    for (intptr_t i = 0; i < v.size; ++i)
        if (int32_t s = static_cast<const Tracked*>(v.begin)[i].serial) out.insert(s);
    return out;
}

// Random operations on two vectors against std::vector; now and then an element copy or an
// allocation fails, and then both vectors must be exactly as before.
TEST(Vector, RandomOperationsMatchStdVectorWithoutLeaksOrDoubleDestroys) {
    std::mt19937 rng(12345);
    gLive.clear();
    const int64_t live = ksys_memory_getLiveBlocks();
    kstd_vector_ v[2];
    std::vector<int32_t> model[2] = {std::vector<int32_t>(3, 0), {}};
    ASSERT_EQ(kstd_vector__constructWithVtable(&v[0], sizeof(Tracked), 3, &kTrackedTable), 0);
    ASSERT_EQ(kstd_vector__constructWithVtable(&v[1], sizeof(Tracked), 0, &kTrackedTable), 0);
    auto pick = [&](intptr_t n) { return static_cast<intptr_t>(rng() % static_cast<uint64_t>(n)); };
    int failures = 0;
    for (int step = 0; step < 6000; ++step) {
        const int w = static_cast<int>(rng() % 2);
        kstd_vector_& a = v[w];
        std::vector<int32_t> m = model[w], other = model[1 - w];
        const intptr_t size = static_cast<intptr_t>(m.size()), index = pick(size + 1), count = pick(6);
        const intptr_t from = pick(size + 1), n = std::min(count, size - from);  // a range of a's own
        Tracked src[5];
        for (auto& t : src) t = Tracked{static_cast<int32_t>(rng() % 1000), 0};
        std::vector<int32_t> srcValues;
        for (intptr_t i = 0; i < count; ++i) srcValues.push_back(src[i].value);
        if (rng() % 8 == 0) gCopiesBeforeFailure = static_cast<int>(rng() % 4);
        if (rng() % 8 == 0) ksys_memory_setFailAfter(0);
        // Each operation on a, beside the same on m, the model of a after it; op 1 inserts copies of
        // a's own elements, which the insert itself moves.
        const std::pair<std::function<kip_status()>, std::function<void()>> ops[] = {
            {[&] { return kstd_vector__insert(&a, index, src, count); },
             [&] { m.insert(m.begin() + index, srcValues.begin(), srcValues.end()); }},
            {[&] { return kstd_vector__insert(&a, index, static_cast<Tracked*>(a.begin) + from, n); },
             [&] { m.insert(m.begin() + index, model[w].begin() + from, model[w].begin() + from + n); }},
            {[&] { return kstd_vector__pushBack(&a, &src[0]); }, [&] { m.push_back(src[0].value); }},
            {[&] { return kstd_vector__erase(&a, from, n); }, [&] { m.erase(m.begin() + from, m.begin() + from + n); }},
            {[&] { return kstd_vector__popBack(&a); }, [&] { m.resize(size_t(std::max<intptr_t>(size - 1, 0))); }},
            {[&] { return kstd_vector__resize(&a, count * 2); }, [&] { m.resize(size_t(count * 2), 0); }},
            {[&] { return kstd_vector__resizeFill(&a, count * 2, &src[0]); },
             [&] { m.resize(size_t(count * 2), src[0].value); }},
            {[&] { return kstd_vector__append(&a, &v[1 - w]); },
             [&] { m.insert(m.end(), other.begin(), other.end()); }},
            {[&] { return kstd_vector__append(&a, &a); }, [&] { m.insert(m.end(), model[w].begin(), model[w].end()); }},
            {[&] { return kstd_vector__assign(&a, &v[1 - w]); }, [&] { m = other; }},
            {[&] { return kstd_vector__assignElements(&a, src, count); }, [&] { m = srcValues; }},
            {[&] { return kstd_vector__swap(&v[0], &v[1]); }, [&] { m = std::exchange(model[1 - w], model[w]); }},
            {[&] { return kstd_vector__reserve(&a, pick(40)); }, [] {}},
            {[&] { return rng() % 2 ? kstd_vector__clear(&a) : kstd_vector__clearAndFreeMemory(&a); },
             [&] { m.clear(); }},
        };
        const int op = static_cast<int>(rng() % 14);
        const kip_status s = ops[op].first();
        ops[op].second();
        gCopiesBeforeFailure = -1;
        ksys_memory_setFailAfter(-1);
        if (op == 4 && size == 0) {
            ASSERT_EQ(s, kstd_errIndexRange);  // popping an empty vector
        } else if (kip_status_isFailure(s)) {
            ASSERT_TRUE(s == kCopyFailed || s == ksys_errOutOfMemory) << "op " << op << std::hex << " " << s;
            ++failures;
        } else {
            model[w] = m;
        }
        for (int k = 0; k < 2; ++k) ASSERT_EQ(valuesOf(v[k]), model[k]) << "step " << step << " op " << op;
        ASSERT_EQ(serialsOf(v[0], serialsOf(v[1])), gLive) << "step " << step << " op " << op;
    }
    EXPECT_GT(failures, 100);
    kstd_vector__destruct(&v[0]);
    kstd_vector__destruct(&v[1]);
    EXPECT_TRUE(gLive.empty());
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

int gTableAllocs = 0;
kip_status countingAlloc(size_t bytes, void** block) {
    ++gTableAllocs;
    return ksys_memory_alloc_internal(bytes, block);
}

TEST(Vector, GrowsByDoublingThroughItsMemoryTable) {
    const kstd_vectorMtable counting{&countingAlloc, &ksys_memory_free_internal};
    kstd_vector_ v;
    gTableAllocs = 0;
    ASSERT_EQ(kstd_vector__constructWithVtableWithMtable(&v, 4, 0, nullptr, &counting), 0);
    for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(kstd_vector__pushBack(&v, &i), 0);
    EXPECT_EQ(gTableAllocs, 11);  // 1, 2, 4, ... 1024
    ASSERT_EQ(kstd_vector__clear(&v), 0);
    EXPECT_EQ(v.capacity, 1024);
    kstd_vector__destruct(&v);
}

TEST(Vector, BadCountsIndicesAndOverflowingSizesAreRefusedWithoutChange) {
    kstd_vector_ v, wide;
    EXPECT_EQ(kstd_vector__constructWithVtable(&v, 8, -1, nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(kstd_vector__constructWithVtable(&v, INTPTR_MAX / 2 + 1, 2, nullptr), kstd_errInvalidArgument);
    const int32_t init[3] = {7, 8, 9};
    ASSERT_EQ(kstd_vector__constructFromBlockWithVtable(&v, 4, init, 3, nullptr), 0);
    ASSERT_EQ(kstd_vector__constructWithVtable(&wide, 8, 1, nullptr), 0);
    const kstd_vector_ before = v;
    EXPECT_EQ(kstd_vector__resize(&v, INTPTR_MAX / 4 + 1), kstd_errInvalidArgument);
    EXPECT_EQ(kstd_vector__insert(&v, 1, init, INTPTR_MAX - 1), kstd_errInvalidArgument);
    EXPECT_EQ(kstd_vector__insert(&v, 4, init, 1), kstd_errIndexRange);
    EXPECT_EQ(kstd_vector__erase(&v, 2, 2), kstd_errIndexRange);
    EXPECT_EQ(kstd_vector__erase(&v, 0, -1), kstd_errInvalidArgument);
    EXPECT_EQ(kstd_vector__append(&v, &wide), kstd_errInvalidArgument);
    {
        kiptest::AssertCounter asserts;
        EXPECT_EQ(kstd_vector__pushBack(&v, nullptr), kstd_errInvalidArgument);
        EXPECT_EQ(asserts.count(), 1);
    }
    EXPECT_EQ(std::memcmp(&before, &v, sizeof v), 0);
    EXPECT_EQ(std::memcmp(v.begin, init, sizeof init), 0);
    void *p = v.begin, *end = static_cast<int32_t*>(v.begin) + 3;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(kstd_vector__getNextElement(&v, p, &p), 0);
    EXPECT_EQ(p, end);
    EXPECT_EQ(kstd_vector__getNextElement(&v, end, &p), kstd_errIndexRange);
    EXPECT_EQ(kstd_vector__getNextElement(&v, static_cast<char*>(v.begin) + 1, &p), kstd_errIndexRange);
    kstd_vector__destruct(&wide);
    kstd_vector__destruct(&v);
}

// Every allocating operation, failed at each allocation in turn, leaves the vector as it was.
TEST(Vector, FaultSweepLeavesTheVectorUnchanged) {
    gLive.clear();
    const Tracked seed[4] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}};
    kstd_vector_ v, other, made;
    std::multiset<int32_t> serials;
    auto setup = [&] {
        kstd_vector__constructFromBlockWithVtable(&v, sizeof(Tracked), seed, 4, &kTrackedTable);
        kstd_vector__constructFromBlockWithVtable(&other, sizeof(Tracked), seed, 3, &kTrackedTable);
        serials = serialsOf(v);
    };
    auto check = [&](kip_status, int) {
        EXPECT_EQ(valuesOf(v), (std::vector<int32_t>{1, 2, 3, 4}));
        EXPECT_EQ(serialsOf(v), serials);
    };
    auto teardown = [&] {
        kstd_vector__destruct(&v);
        kstd_vector__destruct(&other);
        EXPECT_TRUE(gLive.empty());
    };
    auto andDestruct = [&](kip_status s) { return kip_status_isFailure(s) ? s : kstd_vector__destruct(&made); };
    const std::vector<std::function<kip_status()>> ops = {
        [&] { return kstd_vector__insert(&v, 1, seed, 3); },
        [&] { return kstd_vector__insertElement(&v, 0, static_cast<Tracked*>(v.begin) + 3); },
        [&] { return kstd_vector__pushBack(&v, seed); },
        [&] { return kstd_vector__resize(&v, 9); },
        [&] { return kstd_vector__resizeFill(&v, 9, seed); },
        [&] { return kstd_vector__reserve(&v, 100); },
        [&] { return kstd_vector__append(&v, &other); },
        [&] { return kstd_vector__assign(&v, &other); },
        [&] { return kstd_vector__assignElements(&v, seed + 1, 3); },
        [&] { return andDestruct(kstd_vector__constructCopy(&made, &v)); },
        [&] {
            return andDestruct(kstd_vector__constructFillWithVtable(&made, sizeof(Tracked), 5, seed, &kTrackedTable));
        },
    };
    for (size_t i = 0; i < ops.size(); ++i) EXPECT_GE(kiptest::faultSweep(ops[i], check, setup, teardown), 1) << i;
}

TEST(TypedVector, HeapVariantsOwnTheirBlocks) {
    const int64_t live = ksys_memory_getLiveBlocks();
    kstd_vector32s* p = nullptr;
    kstd_vector32s source;
    const int32_t x = 42;
    ASSERT_EQ(kstd_vector32s_constructFill(&source, 4, &x), 0);
    EXPECT_EQ(kstd_vector32s_delete(&p), 0);
    ASSERT_EQ(kstd_vector32s_newClone(&p, &source), 0);
    ASSERT_EQ(kstd_vector32s_new(&p), 0);                // destroys the clone first
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live + 2);    // source's buffer and the new empty vector
    ASSERT_EQ(kstd_vector32s_newClone(&p, nullptr), 0);  // acts as delete
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(kiptest::faultSweep([&] { return kstd_vector32s_newClone(&p, &source); },
                                  [&](kip_status, int) { EXPECT_EQ(p, nullptr); }, nullptr,
                                  [&] { kstd_vector32s_delete(&p); }),
              2);
    kstd_vector32s_destruct(&source);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

// ---- CPU information, attention, ceiling ----------------------------------------------------

TEST(CpuInfo, RecordIsStableAndTheMaskHidesFeatures) {
    ksys_cpuinfo a{}, b{};
    ASSERT_EQ(ksys_cpuinfo_init(&a), 0);
    EXPECT_GE(a.logicalCores, 1u);
#if defined(__x86_64__)
    EXPECT_TRUE(a.features & ksys_cpuFeatureSse2);  // x86-64 baseline
#endif
    EXPECT_TRUE(!(a.features & ksys_cpuFeatureAvx2) || (a.features & ksys_cpuFeatureAvx));
    ksys_cpuinfo_setFeatureMask(~(ksys_cpuFeatureAvx2 | ksys_cpuFeatureSse41));
    ASSERT_EQ(ksys_cpuinfo_init(&b), 0);
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    EXPECT_EQ(b.features, a.features & ~(ksys_cpuFeatureAvx2 | ksys_cpuFeatureSse41));
    ASSERT_EQ(ksys_cpuinfo_init(&b), 0);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

// Every subset of the features the instruction sets need, as the test mask.
std::vector<uint32_t> featureMasks() {
    const uint32_t bits[] = {ksys_cpuFeatureSse2,     ksys_cpuFeatureSse3,  ksys_cpuFeatureSsse3,
                             ksys_cpuFeatureSse41,    ksys_cpuFeatureSse42, ksys_cpuFeaturePopcnt,
                             ksys_cpuFeatureAvx,      ksys_cpuFeatureAvx2,  ksys_cpuFeatureAvx512bw,
                             ksys_cpuFeatureAvx512vl, ksys_cpuFeatureFma,   ksys_cpuFeatureF16c};
    std::vector<uint32_t> masks;
    for (uint32_t subset = 0; subset < (1u << std::size(bits)); ++subset) {
        uint32_t m = 0;
        for (size_t i = 0; i < std::size(bits); ++i)
            if (subset & (1u << i)) m |= bits[i];
        masks.push_back(m);
    }
    return masks;
}

TEST(InstructionSets, FlagsEnableOnlyWhatTheRunTimeCheckVerifies) {
    const std::pair<kip::Isa, uint32_t> probes[] = {{kip::Isa::Sse2, isaProbe_sse2()},
                                                    {kip::Isa::Sse41, isaProbe_sse41()},
                                                    {kip::Isa::Avx2, isaProbe_avx2()},
                                                    {kip::Isa::Avx512, isaProbe_avx512()}};
    for (const auto& [isa, compiled] : probes) {
        EXPECT_EQ(compiled & ~kip::isaFeatures(isa), 0u) << "set " << int(isa) << " compiled " << std::hex << compiled;
#if defined(__x86_64__)
        // And the flags are there at all: each set enables its own widest feature.
        EXPECT_NE(compiled, 0u) << "set " << int(isa);
#endif
    }
#if defined(__x86_64__)
    EXPECT_TRUE(isaProbe_avx2() & ksys_cpuFeatureAvx2);
    EXPECT_TRUE(isaProbe_avx512() & ksys_cpuFeatureAvx512bw);
#endif
}

TEST(InstructionSets, OfferedExactlyWhenTheProcessorReportsEveryFeature) {
    ksys_cpuinfo all{};
    ASSERT_EQ(ksys_cpuinfo_init(&all), 0);
    for (const uint32_t mask : featureMasks()) {
        ksys_cpuinfo_setFeatureMask(mask);
        for (const kip::Isa isa : {kip::Isa::Sse2, kip::Isa::Sse41, kip::Isa::Avx2, kip::Isa::Avx512}) {
            bool available = false;
            ASSERT_EQ(kip::isaAvailable(isa, &available), 0);
            const uint32_t need = kip::isaFeatures(isa);
            EXPECT_EQ(available, all.kind != ksys_cpuKindOther && (all.features & mask & need) == need)
                << "mask " << std::hex << mask << " set " << int(isa);
        }
    }
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
}

TEST(Attention, RequestFromAnotherThreadIsSeenUntilCleared) {
    std::thread([] { ksys_attention_setRequested(1); }).join();
    EXPECT_EQ(ksys_attention_check(), ksys_errCancelled);
    ksys_attention_setRequested(0);
    EXPECT_EQ(ksys_attention_check(), 0);
}

TEST(Math, CeilMatchesTheDefinitionAndSaturates) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-3e9, 3e9);
    for (int i = 0; i < 10000; ++i) {
        const double x = i % 2 ? d(rng) : d(rng) / 1e6, c = std::ceil(x);
        ASSERT_EQ(kmath_double_ceil(x), static_cast<int32_t>(std::clamp(c, double(INT32_MIN), double(INT32_MAX)))) << x;
    }
    EXPECT_EQ(kmath_double_ceil(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(kmath_double_ceil(-std::numeric_limits<double>::infinity()), INT32_MIN);
}

}  // namespace
