// Worker pool: persistent threads that help the dispatching thread drain its batch.
//
// A dispatch puts a batch (on the caller's stack) in the pool's queue, asking for some helpers,
// and drains it itself at the same time. Requests are claimed through an atomic index, so each
// runs exactly once whoever takes it. Before returning, the caller takes the batch out of the
// queue and waits only for helpers that already joined it; since the caller never waits for a
// helper to arrive, a busy pool slows a dispatch down but cannot block it.
#include "platform/job_pool.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace kip::job {
namespace {

thread_local int tJobDepth = 0;

struct DepthScope {
    DepthScope() { ++tJobDepth; }
    ~DepthScope() { --tJobDepth; }
};

struct Batch {
    const Request* requests = nullptr;
    kip_status* statuses = nullptr;
    intptr_t count = 0;
    std::atomic<intptr_t> next{0};
    // Guarded by the pool's mutex.
    uint32_t helpersWanted = 0;
    uint32_t helpersActive = 0;
    uint32_t helpersJoined = 0;
    bool queued = false;
    Batch* queueNext = nullptr;
    std::condition_variable finished;
};

void drain(Batch& batch, uint32_t threadIndex) {
    DepthScope depth;
    for (;;) {
        const intptr_t i = batch.next.fetch_add(1, std::memory_order_relaxed);
        if (i >= batch.count) return;
        const Request& r = batch.requests[i];
        batch.statuses[i] = r.func(&r.params, threadIndex);
    }
}

class Pool {
public:
    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        work_.notify_all();
        for (uint32_t i = 0; i < workerCount_; ++i) {
            // exit() called from a job would otherwise join its own thread.
            if (workers_[i].get_id() == std::this_thread::get_id())
                workers_[i].detach();
            else if (workers_[i].joinable())
                workers_[i].join();
        }
    }

    kip_status ensure(uint32_t wanted) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (wanted > kMaxThreads - 1) wanted = kMaxThreads - 1;
        while (workerCount_ < wanted) {
            if (failStarts_ > 0) {
                --failStarts_;
                return ksys_errThread;
            }
            try {
                workers_[workerCount_] = std::thread(&Pool::workerLoop, this);
            } catch (const std::system_error&) {
                return ksys_errThread;
            }
            ++workerCount_;
        }
        return 0;
    }

    void run(const Request* requests, kip_status* statuses, intptr_t count, uint32_t helpers) {
        if (count <= 0) return;
        Batch batch;
        batch.requests = requests;
        batch.statuses = statuses;
        batch.count = count;
        // Nested dispatch stays on this thread: a job waiting for workers that are all busy
        // running jobs like it would never finish.
        if (tJobDepth > 0) helpers = 0;
        if (static_cast<intptr_t>(helpers) > count - 1) helpers = static_cast<uint32_t>(count - 1);
        if (helpers > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (helpers > workerCount_) helpers = workerCount_;
            if (stopping_) helpers = 0;
            if (helpers > 0) enqueue(batch, helpers);
        }
        for (uint32_t i = 0; i < helpers; ++i) work_.notify_one();
        drain(batch, 0);
        std::unique_lock<std::mutex> lock(mutex_);
        if (batch.queued) unlink(batch);
        batch.finished.wait(lock, [&] { return batch.helpersActive == 0; });
    }

    uint32_t workerCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return workerCount_;
    }

    void failStarts(uint32_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        failStarts_ = n;
    }

private:
    void enqueue(Batch& batch, uint32_t helpers) {
        batch.helpersWanted = helpers;
        batch.queued = true;
        Batch** tail = &head_;
        while (*tail != nullptr) tail = &(*tail)->queueNext;
        *tail = &batch;
    }

    void unlink(Batch& batch) {
        for (Batch** p = &head_; *p != nullptr; p = &(*p)->queueNext) {
            if (*p == &batch) {
                *p = batch.queueNext;
                break;
            }
        }
        batch.queued = false;
        batch.queueNext = nullptr;
    }

    void workerLoop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return stopping_ || head_ != nullptr; });
            if (stopping_) return;
            Batch& batch = *head_;
            // A batch whose requests are all claimed needs no more help.
            const bool exhausted = batch.next.load(std::memory_order_relaxed) >= batch.count;
            if (exhausted || --batch.helpersWanted == 0) unlink(batch);
            if (exhausted) continue;
            ++batch.helpersActive;
            const uint32_t index = ++batch.helpersJoined;
            lock.unlock();
            drain(batch, index);
            lock.lock();
            // Notified under the lock: once it is released the caller may return and the batch,
            // on its stack, is gone.
            if (--batch.helpersActive == 0) batch.finished.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_;
    Batch* head_ = nullptr;
    bool stopping_ = false;
    uint32_t failStarts_ = 0;
    uint32_t workerCount_ = 0;
    std::thread workers_[kMaxThreads - 1];
};

// Built on first use, so a process that never dispatches starts no thread; stopped and joined
// by its destructor at exit.
Pool& pool() {
    static Pool instance;
    return instance;
}

}  // namespace

kip_status ensureWorkers(uint32_t workers) { return pool().ensure(workers); }

void runAll(const Request* requests, kip_status* statuses, intptr_t count, uint32_t helpers) {
    pool().run(requests, statuses, count, helpers);
}

bool insideJob() { return tJobDepth > 0; }

uint32_t workerCountForTest() { return pool().workerCount(); }

void failThreadStartsForTest(uint32_t n) { pool().failStarts(n); }

}  // namespace kip::job
