// Job library front end: parameters, request and result sets, thread groups and dispatch.
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/assert.hpp"
#include "platform/job_pool.hpp"

namespace {

using kip::job::Request;

std::atomic<uint32_t> gThreadCount{0};

uint32_t offeredThreads() {
    uint32_t n = gThreadCount.load(std::memory_order_relaxed);
    if (n == 0) n = std::thread::hardware_concurrency();
    if (n == 0) n = 1;
    return n > kip::job::kMaxThreads ? kip::job::kMaxThreads : n;
}

Request* requestsOf(const ksys_jobRequestSet* set) { return static_cast<Request*>(set->requests); }

kip_status releaseParams(ksys_jobParams* params) {
    if (params->data == nullptr) return 0;
    kip_status s = params->release != nullptr ? params->release(&params->data) : 0;
    params->data = nullptr;
    return s;
}

}  // namespace

extern "C" {

void ksys_jobSetThreadCount(uint32_t count) { gThreadCount.store(count, std::memory_order_relaxed); }

kip_status ksys_jobGetCurrentThreadState(uint32_t* threadCount, const ksys_jobThreadGroup* group) {
    KIP_REQUIRE(threadCount);
    KIP_REQUIRE(group);
    // A job's own dispatches run on its thread, so it has exactly one to offer.
    uint32_t n = kip::job::insideJob() ? 1u : group->threadCount;
    *threadCount = n == 0 ? 1u : n;
    return 0;
}

kip_status ksys_jobParams_construct(ksys_jobParams* params) {
    KIP_REQUIRE(params);
    params->data = nullptr;
    params->release = nullptr;
    return 0;
}

kip_status ksys_jobParams_destruct(ksys_jobParams* params) {
    KIP_REQUIRE(params);
    return releaseParams(params);
}

kip_status ksys_jobParams_takeData(ksys_jobParams* params, void* block, kip_status (*release)(void** block)) {
    KIP_REQUIRE(params);
    KIP_REQUIRE(release);
    if (params->data != nullptr && params->data != block) {
        kip_status s = releaseParams(params);
        if (kip::failed(s)) return s;
    }
    params->data = block;
    params->release = release;
    return 0;
}

kip_status ksys_jobParams_getDataConst(const ksys_jobParams* params, const void** block) {
    KIP_REQUIRE(params);
    KIP_REQUIRE(block);
    *block = params->data;
    return 0;
}

kip_status ksys_jobRequestSet_construct(ksys_jobRequestSet* set) {
    KIP_REQUIRE(set);
    set->requests = nullptr;
    set->count = 0;
    set->capacity = 0;
    return 0;
}

kip_status ksys_jobRequestSet_destruct(ksys_jobRequestSet* set) {
    KIP_REQUIRE(set);
    kip_status result = 0;
    Request* r = requestsOf(set);
    for (intptr_t i = 0; i < set->count; ++i) {
        kip_status s = releaseParams(&r[i].params);
        if (kip::failed(s) && !kip::failed(result)) result = s;
    }
    kip_status f = ksys_memory_free_internal(&set->requests);
    set->count = 0;
    set->capacity = 0;
    return kip::failed(result) ? result : f;
}

kip_status ksys_jobRequestSet_addFuncAndParams(ksys_jobRequestSet* set, ksys_jobFunc func, ksys_jobParams* params) {
    KIP_REQUIRE(set);
    KIP_REQUIRE(func);
    KIP_REQUIRE(params);
    if (set->count == set->capacity) {
        const intptr_t maxCount = INTPTR_MAX / static_cast<intptr_t>(sizeof(Request));
        if (set->capacity >= maxCount) return kstd_errInvalidArgument;
        const intptr_t capacity =
            set->capacity == 0 ? 8 : (set->capacity > maxCount / 2 ? maxCount : set->capacity * 2);
        void* block = nullptr;
        kip_status s = ksys_memory_alloc_internal(static_cast<size_t>(capacity) * sizeof(Request), &block);
        if (kip::failed(s)) return s;
        if (set->count > 0) std::memcpy(block, set->requests, static_cast<size_t>(set->count) * sizeof(Request));
        ksys_memory_free_internal(&set->requests);
        set->requests = block;
        set->capacity = capacity;
    }
    requestsOf(set)[set->count] = Request{func, *params};
    ++set->count;
    // The request owns the block now; params may be refilled for the next one.
    params->data = nullptr;
    return 0;
}

kip_status ksys_jobResultSet_construct(ksys_jobResultSet* set) {
    KIP_REQUIRE(set);
    set->statuses = nullptr;
    set->count = 0;
    return 0;
}

kip_status ksys_jobResultSet_destruct(ksys_jobResultSet* set) {
    KIP_REQUIRE(set);
    void* block = set->statuses;
    kip_status s = ksys_memory_free_internal(&block);
    set->statuses = nullptr;
    set->count = 0;
    return s;
}

kip_status ksys_jobThreadGroup_construct(ksys_jobThreadGroup* group) {
    KIP_REQUIRE(group);
    const uint32_t threads = offeredThreads();
    // A group inside a job never gets helpers, so it does not grow the pool.
    if (!kip::job::insideJob()) {
        kip_status s = kip::job::ensureWorkers(threads - 1);
        if (kip::failed(s)) return s;
    }
    group->threadCount = threads;
    return 0;
}

kip_status ksys_jobThreadGroup_destruct(ksys_jobThreadGroup* group) {
    KIP_REQUIRE(group);
    group->threadCount = 0;
    return 0;
}

kip_status ksys_jobThreadGroup_dispatchAndWait(ksys_jobThreadGroup* group, ksys_jobRequestSet* requests,
                                               ksys_jobResultSet* results) {
    KIP_REQUIRE(group);
    KIP_REQUIRE(requests);
    KIP_REQUIRE(results);
    const intptr_t count = requests->count;
    // The statuses are allocated before any job runs, so running out of memory runs nothing.
    if (results->count != count) {
        void* block = nullptr;
        if (count > 0) {
            kip_status s = ksys_memory_alloc_internal(static_cast<size_t>(count) * sizeof(kip_status), &block);
            if (kip::failed(s)) return s;
        }
        void* old = results->statuses;
        ksys_memory_free_internal(&old);
        results->statuses = static_cast<kip_status*>(block);
        results->count = count;
    }
    if (count == 0) return 0;
    const uint32_t threads = group->threadCount == 0 ? 1u : group->threadCount;
    kip::job::runAll(requestsOf(requests), results->statuses, count, threads - 1);
    for (intptr_t i = 0; i < count; ++i)
        if (kip::failed(results->statuses[i])) return results->statuses[i];
    return 0;
}

}  // extern "C"
