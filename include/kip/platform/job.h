/* Job library: a process-wide pool of persistent worker threads.

   A call builds a request set (one job function and one parameter block per request), then
   dispatches it to a thread group and waits until every request has run. Requests run exactly
   once each, on the group's workers and the calling thread; their order is unspecified.
   Record fields are private to these functions. */
#ifndef KIP_PLATFORM_JOB_H
#define KIP_PLATFORM_JOB_H

#include "kip/platform/system.h"

KIP_EXTERN_C_BEGIN

/* Job parameters: owns one data block and the function that releases it. */
typedef struct ksys_jobParams {
    void* data;
    kip_status (*release)(void** block);
} ksys_jobParams;

/* A job: reads its parameters; the second argument is the index of the thread running it within
   this dispatch, 0 .. threadCount - 1 (0 is the calling thread). Its status goes to the result
   set. */
typedef kip_status (*ksys_jobFunc)(const ksys_jobParams* params, uint32_t threadIndex);

typedef struct ksys_jobRequestSet {
    void* requests; /* private */
    intptr_t count;
    intptr_t capacity;
} ksys_jobRequestSet;

typedef struct ksys_jobResultSet {
    kip_status* statuses; /* one per request of the last dispatch, in request order */
    intptr_t count;
} ksys_jobResultSet;

typedef struct ksys_jobThreadGroup {
    uint32_t threadCount; /* threads a dispatch may use, fixed at construction */
} ksys_jobThreadGroup;

/* Threads offered to a call: 0 (the default) means one per hardware thread. Process-wide. */
KIP_API void ksys_jobSetThreadCount(uint32_t count);
/* threadCount receives the threads available to a call on this group (at least 1): the group's
   count, or 1 inside a job, whose own dispatches run on its thread. */
KIP_API kip_status ksys_jobGetCurrentThreadState(uint32_t* threadCount, const ksys_jobThreadGroup* group);

KIP_API kip_status ksys_jobParams_construct(ksys_jobParams* params);
/* Releases the block it holds, if any. */
KIP_API kip_status ksys_jobParams_destruct(ksys_jobParams* params);
/* Takes ownership of block (released later with release); a block already held is released
   first. On failure the caller still owns block. */
KIP_API kip_status ksys_jobParams_takeData(ksys_jobParams* params, void* block, kip_status (*release)(void** block));
KIP_API kip_status ksys_jobParams_getDataConst(const ksys_jobParams* params, const void** block);

KIP_API kip_status ksys_jobRequestSet_construct(ksys_jobRequestSet* set);
/* Releases every request's block. */
KIP_API kip_status ksys_jobRequestSet_destruct(ksys_jobRequestSet* set);
/* Adds a request; the request takes the block out of params (params is empty afterwards and may
   be refilled for the next request). On failure params keeps its block. */
KIP_API kip_status ksys_jobRequestSet_addFuncAndParams(ksys_jobRequestSet* set, ksys_jobFunc func,
                                                       ksys_jobParams* params);

KIP_API kip_status ksys_jobResultSet_construct(ksys_jobResultSet* set);
KIP_API kip_status ksys_jobResultSet_destruct(ksys_jobResultSet* set);

/* Takes the thread count offered now (ksys_jobSetThreadCount, at most 256) and makes sure the
   pool has the workers for it; ksys_errThread when a worker cannot be started (workers already
   running stay). */
KIP_API kip_status ksys_jobThreadGroup_construct(ksys_jobThreadGroup* group);
KIP_API kip_status ksys_jobThreadGroup_destruct(ksys_jobThreadGroup* group);
/* Runs every request of the set and waits for all of them. Statuses go to results; the return
   is the first failing status in request order, else 0. When results cannot be sized nothing
   runs. May be called from several threads at once and from inside a job (nested requests then
   run on the calling thread). */
KIP_API kip_status ksys_jobThreadGroup_dispatchAndWait(ksys_jobThreadGroup* group, ksys_jobRequestSet* requests,
                                                       ksys_jobResultSet* results);

KIP_EXTERN_C_END

#endif
