// The process-wide pool of persistent worker threads behind the job library.
#pragma once

#include <cstdint>

#include "kip/platform/job.h"

namespace kip::job {

// Most threads one dispatch may use, the caller included. Worker slots are preallocated so
// the pool never allocates through the counted allocator (its threads outlive every call).
constexpr uint32_t kMaxThreads = 256;

// One request as the request set stores it.
struct Request {
    ksys_jobFunc func;
    ksys_jobParams params;
};

// Makes sure at least workers worker threads run. ksys_errThread when one cannot be started;
// the workers that did start stay.
kip_status ensureWorkers(uint32_t workers);

// Runs requests[0..count) once each on the calling thread and up to helpers workers, writes
// statuses[i] and returns when all have finished. Inside a job (nested) everything runs on the
// calling thread.
void runAll(const Request* requests, kip_status* statuses, intptr_t count, uint32_t helpers);

// True while the calling thread is running a job.
bool insideJob();

// Test controls: worker threads started so far, and making the next n thread starts fail.
uint32_t workerCountForTest();
void failThreadStartsForTest(uint32_t n);

}  // namespace kip::job
