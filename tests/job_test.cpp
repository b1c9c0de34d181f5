// Job library: every request runs once, statuses come back in request order, blocks are owned
// and released, dispatch is safe from several threads and from inside a job.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/job_pool.hpp"
#include "support/test_support.hpp"

namespace {

struct JobData {
    std::atomic<int>* runs;  // this request's run counter
    uint32_t threads;        // thread indexes must stay below this
    kip_status result;
    int sleepMicros;
    std::set<std::thread::id>* seen;  // threads that ran jobs, guarded by gSeenMutex
};
std::mutex gSeenMutex;
std::atomic<int> gBadIndexes{0};

kip_status countingJob(const ksys_jobParams* params, uint32_t threadIndex) {
    const void* block = nullptr;
    ksys_jobParams_getDataConst(params, &block);
    const JobData* d = static_cast<const JobData*>(block);
    if (threadIndex >= d->threads) ++gBadIndexes;
    std::this_thread::sleep_for(std::chrono::microseconds(d->sleepMicros));
    if (d->seen != nullptr) {
        std::lock_guard<std::mutex> lock(gSeenMutex);
        d->seen->insert(std::this_thread::get_id());
    }
    d->runs->fetch_add(1);  // last, so a dispatch returning before its jobs end shows up
    return d->result;
}

// One dispatch's objects, destructed whatever happened.
struct Batch {
    ksys_jobThreadGroup group{};
    ksys_jobParams params{};
    ksys_jobRequestSet requests{};
    ksys_jobResultSet results{};

    kip_status build(const std::vector<JobData>& jobs, ksys_jobFunc func = &countingJob) {
        ksys_jobParams_construct(&params);
        ksys_jobRequestSet_construct(&requests);
        ksys_jobResultSet_construct(&results);
        kip_status s = ksys_jobThreadGroup_construct(&group);
        for (size_t i = 0; i < jobs.size() && !kip_status_isFailure(s); ++i) {
            void* block = nullptr;
            s = ksys_memory_alloc_internal(sizeof(JobData), &block);
            if (kip_status_isFailure(s)) break;
            *static_cast<JobData*>(block) = jobs[i];
            ksys_jobParams_takeData(&params, block, &ksys_memory_free_internal);
            s = ksys_jobRequestSet_addFuncAndParams(&requests, func, &params);  // on failure params keeps it
        }
        return s;
    }
    kip_status dispatch() { return ksys_jobThreadGroup_dispatchAndWait(&group, &requests, &results); }
    ~Batch() {
        EXPECT_EQ(ksys_jobResultSet_destruct(&results), 0);
        EXPECT_EQ(ksys_jobRequestSet_destruct(&requests), 0);
        EXPECT_EQ(ksys_jobParams_destruct(&params), 0);
        ksys_jobThreadGroup_destruct(&group);
    }
};

struct Counters {
    std::vector<std::atomic<int>> runs;
    explicit Counters(size_t n) : runs(n) {}
    std::vector<JobData> jobs(uint32_t threads, int sleepMicros = 0, std::set<std::thread::id>* seen = nullptr) {
        std::vector<JobData> out;
        for (auto& r : runs) out.push_back(JobData{&r, threads, 0, sleepMicros, seen});
        return out;
    }
    bool allRan(int times) const {
        return std::all_of(runs.begin(), runs.end(), [&](const auto& r) { return r.load() == times; });
    }
};

class JobLibrary : public ::testing::Test {
protected:
    void SetUp() override { gBadIndexes = 0; }
    void TearDown() override {
        ksys_jobSetThreadCount(0);
        EXPECT_EQ(gBadIndexes.load(), 0) << "a job saw a thread index outside its group";
    }
};

TEST_F(JobLibrary, EveryRequestRunsExactlyOnceWhateverTheThreadCount) {
    const int64_t live = ksys_memory_getLiveBlocks();
    for (uint32_t threads : {1u, 2u, 16u, 0u}) {
        ksys_jobSetThreadCount(threads);
        const uint32_t expected = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
        Counters c(1000);
        Batch b;
        ASSERT_EQ(b.build(c.jobs(expected)), 0);
        uint32_t offered = 0;
        ASSERT_EQ(ksys_jobGetCurrentThreadState(&offered, &b.group), 0);
        EXPECT_EQ(offered, expected);
        ASSERT_EQ(b.dispatch(), 0);
        ASSERT_EQ(b.dispatch(), 0);  // a request set may run again
        EXPECT_TRUE(c.allRan(2)) << threads;
        ASSERT_EQ(b.results.count, 1000);
        EXPECT_EQ(std::count(b.results.statuses, b.results.statuses + 1000, 0), 1000);
    }
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

TEST_F(JobLibrary, PersistentWorkersShareTheWork) {
    ksys_jobSetThreadCount(8);
    std::set<std::thread::id> seen;
    Counters c(64);
    Batch b;
    ASSERT_EQ(b.build(c.jobs(8, 2000, &seen)), 0);
    const uint32_t workers = kip::job::workerCountForTest();
    EXPECT_GE(workers, 7u);
    ASSERT_EQ(b.dispatch(), 0);
    EXPECT_TRUE(c.allRan(1));
    EXPECT_GE(seen.size(), 2u);  // sleeping jobs give idle workers every chance to join
    EXPECT_LE(seen.size(), 8u);
    Batch again;
    ASSERT_EQ(again.build({}), 0);
    EXPECT_EQ(kip::job::workerCountForTest(), workers);
}

TEST_F(JobLibrary, DispatchReturnsTheFirstFailureInRequestOrder) {
    ksys_jobSetThreadCount(4);
    Counters c(200);
    std::vector<JobData> jobs = c.jobs(4);
    jobs[150].result = kip_errBadMode;
    jobs[41].result = 5;  // success with a value
    jobs[40].result = kip_errImageUnbound;
    for (int round = 0; round < 20; ++round) {
        Batch b;
        ASSERT_EQ(b.build(jobs), 0);
        EXPECT_EQ(b.dispatch(), kip_errImageUnbound);
        EXPECT_EQ(b.results.statuses[150], kip_errBadMode);
        EXPECT_EQ(b.results.statuses[41], 5);
    }
    EXPECT_TRUE(c.allRan(20));  // a failure does not stop the other requests
}

int gReleases = 0;
kip_status countingRelease(void** block) {
    ++gReleases;
    return ksys_memory_free_internal(block);
}

TEST_F(JobLibrary, ParamsAndRequestSetsOwnAndReleaseTheirBlocks) {
    const int64_t live = ksys_memory_getLiveBlocks();
    ksys_jobParams params;
    ksys_jobRequestSet set;
    ksys_jobParams_construct(&params);
    ksys_jobRequestSet_construct(&set);
    gReleases = 0;
    for (int i = 0; i < 31; ++i) {
        void* block = nullptr;
        ksys_memory_alloc_internal(4, &block);
        ASSERT_EQ(ksys_jobParams_takeData(&params, block, &countingRelease), 0);
        if (i % 2 == 0) continue;  // the next takeData releases this block
        ASSERT_EQ(ksys_jobRequestSet_addFuncAndParams(&set, &countingJob, &params), 0);
        const void* held = &params;
        ksys_jobParams_getDataConst(&params, &held);
        EXPECT_EQ(held, nullptr);  // moved into the request
    }
    EXPECT_EQ(gReleases, 15);
    EXPECT_EQ(ksys_jobRequestSet_destruct(&set), 0);
    EXPECT_EQ(gReleases, 30);
    EXPECT_EQ(ksys_jobParams_destruct(&params), 0);
    EXPECT_EQ(gReleases, 31);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

TEST_F(JobLibrary, FaultSweepOverBuildingAndDispatching) {
    ksys_jobSetThreadCount(3);
    Counters c(20);
    auto op = [&] {
        Batch b;
        kip_status s = b.build(c.jobs(3));
        return kip_status_isFailure(s) ? s : b.dispatch();
    };
    auto check = [&](kip_status, int) { EXPECT_TRUE(c.allRan(0)) << "jobs ran although the dispatch failed"; };
    auto reset = [&] { std::fill(c.runs.begin(), c.runs.end(), 0); };
    EXPECT_EQ(kiptest::faultSweep(op, check, reset), 24);  // 20 blocks, 3 request arrays, 1 result array
}

TEST_F(JobLibrary, ConcurrentDispatchesFromSeveralThreads) {
    ksys_jobSetThreadCount(4);
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int round = 0; round < 25; ++round) {
                Counters c(100);
                Batch b;
                if (b.build(c.jobs(4)) != 0 || b.dispatch() != 0 || !c.allRan(1)) ++failures;
            }
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(failures.load(), 0);
}

std::atomic<int> gNestedProblems{0};
kip_status nestingJob(const ksys_jobParams* params, uint32_t threadIndex) {
    std::set<std::thread::id> seen;
    Counters c(50);
    Batch inner;
    kip_status s = inner.build(c.jobs(1, 0, &seen));
    uint32_t offered = 0;
    ksys_jobGetCurrentThreadState(&offered, &inner.group);
    if (!kip_status_isFailure(s)) s = inner.dispatch();
    // A job has one thread to offer: its own, which runs every nested request as index 0.
    if (offered != 1 || !c.allRan(1) || seen != std::set<std::thread::id>{std::this_thread::get_id()})
        ++gNestedProblems;
    return kip_status_isFailure(s) ? s : countingJob(params, threadIndex);
}

TEST_F(JobLibrary, NestedDispatchFromInsideAJobRunsOnThatThread) {
    ksys_jobSetThreadCount(4);
    gNestedProblems = 0;
    Counters c(16);
    Batch b;
    ASSERT_EQ(b.build(c.jobs(4), &nestingJob), 0);
    EXPECT_EQ(b.dispatch(), 0);
    EXPECT_TRUE(c.allRan(1));
    EXPECT_EQ(gNestedProblems.load(), 0);
}

TEST_F(JobLibrary, AThreadThatCannotStartIsReported) {
    const uint32_t workers = kip::job::workerCountForTest();
    if (workers + 3 > kip::job::kMaxThreads) GTEST_SKIP() << "the pool is full (repeated run)";
    ksys_jobSetThreadCount(workers + 3);
    kip::job::failThreadStartsForTest(1);
    ksys_jobThreadGroup group;
    EXPECT_EQ(ksys_jobThreadGroup_construct(&group), ksys_errThread);
    kip::job::failThreadStartsForTest(0);
    ASSERT_EQ(ksys_jobThreadGroup_construct(&group), 0);
    EXPECT_EQ(kip::job::workerCountForTest(), workers + 2);
    ksys_jobThreadGroup_destruct(&group);
}

}  // namespace
