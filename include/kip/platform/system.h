/* System layer: assertions, memory with fault injection, the cleanup registry, CPU information,
   the attention (cancellation) check and the generic vector. */
#ifndef KIP_PLATFORM_SYSTEM_H
#define KIP_PLATFORM_SYSTEM_H

#include "kip/status.h"

KIP_EXTERN_C_BEGIN

/* ---- Assertions ---------------------------------------------------------------------------- */

/* Reports a violated precondition at a source line. The default handler prints the line to
   stderr and aborts; a handler that returns lets the call continue (tests use this to count
   assertions; results are then unspecified). */
KIP_API void kstd_assert_(int32_t line);
/* Installs the assertion handler; null restores the default. */
KIP_API void kstd_assert_setHandler(void (*handler)(int32_t line));

/* ---- Memory -------------------------------------------------------------------------------- */

/* Allocates bytes (0 gives a valid unique block) and stores the block in *block. On failure,
   or above the allocation limit, returns ksys_errOutOfMemory and leaves *block unchanged.
   Blocks are aligned as malloc's. */
KIP_API kip_status ksys_memory_alloc_internal(size_t bytes, void** block);
/* Frees *block (null is allowed) and sets *block to null. */
KIP_API kip_status ksys_memory_free_internal(void** block);
/* Sets bytes bytes at destination to value. */
KIP_API kip_status ksys_memory_fill(void* destination, uint8_t value, size_t bytes);
/* Copies bytes bytes; the ranges may overlap. */
KIP_API kip_status ksys_memory_copy(void* destination, const void* source, size_t bytes);

/* Fault injector: the allocation after that many more successes fails, once (the injector then
   disarms); negative: never fail (the default). Process-wide. */
KIP_API void ksys_memory_setFailAfter(int64_t successes);
/* Successes left before the injected failure; negative when disarmed (or after it fired). */
KIP_API int64_t ksys_memory_getFailAfter(void);
/* Blocks allocated and not yet freed, process-wide. */
KIP_API int64_t ksys_memory_getLiveBlocks(void);
/* Largest single allocation, process-wide (default and 0: a quarter of physical memory). */
KIP_API void ksys_memory_setAllocationLimit(uint64_t bytes);
KIP_API uint64_t ksys_memory_getAllocationLimit(void);

/* ---- Cleanup registry ---------------------------------------------------------------------- */

/* Entry kinds: bit 0x20 marks a destructor entry, bit 0x10 a release on every exit. */
#define ksys_cleanupFreeOnFailure 33u    /* address of a block pointer, freed on failure */
#define ksys_cleanupDestroyOnFailure 34u /* address of an object, destroyed on failure */
#define ksys_cleanupFreeAlways 49u       /* as 33, on every exit */
#define ksys_cleanupDestroyAlways 50u    /* as 34, on every exit */

typedef kip_status (*ksys_cleanupDestructor)(void* address);

typedef struct ksys_cleanupEntry {
    uint32_t id;
    uint32_t kind;
    void* address;
    ksys_cleanupDestructor destructor;
} ksys_cleanupEntry;

/* A fresh tag for a new table (a process-wide counter; tags only label tables). */
KIP_API uint32_t ksys_cleanup_getNextTag(void);
/* Runs a table on exit: every entry of kind 49/50, and of kind 33/34 only when *status is
   negative, newest first. *count becomes 0. A destructor's failure does not change *status: the
   call's outcome is already decided. Returns *status. */
KIP_API kip_status ksys_cleanupExecute_(ksys_cleanupEntry* table, int32_t* count, kip_status* status, uint32_t tag);
/* Removes the entry with the given id; runs its destructor when execute is 1. Returns the
   destructor's status (0 when not run); kstd_errIndexRange when no entry has that id;
   kstd_errInvalidArgument when execute is neither 0 nor 1. When the destructor fails and *status
   is success, *status takes the failure. The other entries keep their order. */
KIP_API kip_status ksys_cleanup_doId_(ksys_cleanupEntry* table, int32_t* count, kip_status* status, uint32_t id,
                                      uint32_t execute);

/* ---- CPU information ----------------------------------------------------------------------- */

#define ksys_cpuKindOther 0u /* not x86-64: no SIMD path runs */
#define ksys_cpuKindIntel 1u /* x86-64, any vendor but AMD */
#define ksys_cpuKindAmd 5u   /* x86-64, AMD */

#define ksys_cpuFeatureSse2 0x8u
#define ksys_cpuFeatureSse3 0x10u
#define ksys_cpuFeatureSsse3 0x20u
#define ksys_cpuFeatureSse41 0x100u
#define ksys_cpuFeatureSse42 0x200u
#define ksys_cpuFeaturePopcnt 0x400u
#define ksys_cpuFeatureAvx 0x1000u      /* set only when the OS saves YMM state */
#define ksys_cpuFeatureAvx2 0x2000u     /* set only with ksys_cpuFeatureAvx */
#define ksys_cpuFeatureAvx512bw 0x4000u /* AVX-512F and BW; set only when the OS saves ZMM and mask state */
#define ksys_cpuFeatureAvx512vl 0x8000u /* AVX-512F and VL; the same condition */
#define ksys_cpuFeatureFma 0x10000u     /* set only with ksys_cpuFeatureAvx */
#define ksys_cpuFeatureF16c 0x20000u    /* set only with ksys_cpuFeatureAvx */

typedef struct ksys_cpuinfo {
    uint32_t kind;         /* ksys_cpuKind* */
    uint32_t features;     /* ksys_cpuFeature* flags, after the test mask */
    uint32_t logicalCores; /* hardware threads, at least 1 */
} ksys_cpuinfo;

/* Fills the record from the processor (detected once, thread-safe). */
KIP_API kip_status ksys_cpuinfo_init(ksys_cpuinfo* info);
/* Test control: features reported are ANDed with mask (default all ones), so tests can make the
   library believe SIMD is missing. */
KIP_API void ksys_cpuinfo_setFeatureMask(uint32_t mask);

/* ---- Attention (cancellation) -------------------------------------------------------------- */

/* ksys_errCancelled while a cancellation is requested, else 0. */
KIP_API kip_status ksys_attention_check(void);
/* Requests (1) or clears (0) cancellation, process-wide; any thread may call it. */
KIP_API void ksys_attention_setRequested(uint32_t requested);

/* ---- Generic vector ------------------------------------------------------------------------ */

/* Element operations; null means elements are plain bytes. */
typedef struct kstd_vectorVtable {
    kip_status (*copyConstruct)(void* destination, const void* source);
    kip_status (*destruct)(void* element);
} kstd_vectorVtable;

/* Memory operations; null means the system allocator above. */
typedef struct kstd_vectorMtable {
    kip_status (*alloc)(size_t bytes, void** block);
    kip_status (*free)(void** block);
} kstd_vectorMtable;

/* Layout is private to the vector functions. */
typedef struct kstd_vector_ {
    void* begin;
    intptr_t size;
    intptr_t capacity;
    intptr_t elementSize;
    const kstd_vectorVtable* vtable;
    const kstd_vectorMtable* mtable;
} kstd_vector_;

/* Every function returns a status; a failed call leaves the vector as it was (strong guarantee),
   except that element copies already made by a failing vtable copy are destroyed again. Counts
   must be >= 0 and indices in range (kstd_errInvalidArgument / kstd_errIndexRange otherwise);
   sizes whose byte count would not fit intptr_t give kstd_errInvalidArgument.
   Elements are relocated bitwise when the buffer grows or elements shift: copyConstruct only
   copies elements handed in, destruct only ends elements that leave. Zeroed and uninitialised
   elements made by construct or resize count as constructed. Removing elements cannot be
   undone: a failing destruct is reported (the first failure) but the elements are gone.
   A failed construct leaves *v unwritten; do not destruct it. */
KIP_API kip_status kstd_vector__constructWithVtable(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                    const kstd_vectorVtable* vtable); /* zeroed */
KIP_API kip_status kstd_vector__constructWithVtableWithMtable(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                              const kstd_vectorVtable* vtable,
                                                              const kstd_vectorMtable* mtable);
KIP_API kip_status kstd_vector__constructWithVtableUninit(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                          const kstd_vectorVtable* vtable);
KIP_API kip_status kstd_vector__constructFillWithVtable(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                        const void* element, const kstd_vectorVtable* vtable);
KIP_API kip_status kstd_vector__constructFromBlockWithVtable(kstd_vector_* v, intptr_t elementSize, const void* block,
                                                             intptr_t count, const kstd_vectorVtable* vtable);
KIP_API kip_status kstd_vector__constructCopy(kstd_vector_* v, const kstd_vector_* source); /* same tables */
/* v keeps its own tables; element sizes must match (kstd_errInvalidArgument). */
KIP_API kip_status kstd_vector__assign(kstd_vector_* v, const kstd_vector_* source);
KIP_API kip_status kstd_vector__assignElements(kstd_vector_* v, const void* elements, intptr_t count);
KIP_API kip_status kstd_vector__destruct(kstd_vector_* v);
KIP_API kip_status kstd_vector__resize(kstd_vector_* v, intptr_t count); /* new elements zeroed */
KIP_API kip_status kstd_vector__resizeUninit(kstd_vector_* v, intptr_t count);
KIP_API kip_status kstd_vector__resizeFill(kstd_vector_* v, intptr_t count, const void* element);
KIP_API kip_status kstd_vector__reserve(kstd_vector_* v, intptr_t capacity);
KIP_API kip_status kstd_vector__clear(kstd_vector_* v); /* keeps the capacity */
KIP_API kip_status kstd_vector__clearAndFreeMemory(kstd_vector_* v);
KIP_API kip_status kstd_vector__swap(kstd_vector_* a, kstd_vector_* b);
/* Appends the elements of source (same element size) to v. */
KIP_API kip_status kstd_vector__append(kstd_vector_* v, const kstd_vector_* source);
/* kstd_errInvalidArgument above INT32_MAX. */
KIP_API kip_status kstd_vector__getSize32(const kstd_vector_* v, int32_t* size);
KIP_API kip_status kstd_vector__getSize(const kstd_vector_* v, intptr_t* size);
KIP_API kip_status kstd_vector__getCapacity(const kstd_vector_* v, intptr_t* capacity);
KIP_API kip_status kstd_vector__getElementSize(const kstd_vector_* v, intptr_t* elementSize);
KIP_API kip_status kstd_vector__getBegin(kstd_vector_* v, void** begin);
KIP_API kip_status kstd_vector__getBeginConst(const kstd_vector_* v, const void** begin);
KIP_API kip_status kstd_vector__getBeginEnd(kstd_vector_* v, void** begin, void** end);
KIP_API kip_status kstd_vector__getBeginEndConst(const kstd_vector_* v, const void** begin, const void** end);
KIP_API kip_status kstd_vector__getBeginSize32(kstd_vector_* v, void** begin, int32_t* size);
KIP_API kip_status kstd_vector__getBeginSize32Const(const kstd_vector_* v, const void** begin, int32_t* size);
KIP_API kip_status kstd_vector__getBeginSizeIntPtr(kstd_vector_* v, void** begin, intptr_t* size);
KIP_API kip_status kstd_vector__getBeginSizeIntPtrConst(const kstd_vector_* v, const void** begin, intptr_t* size);
KIP_API kip_status kstd_vector__getElement(kstd_vector_* v, intptr_t index, void** element);
KIP_API kip_status kstd_vector__getElementConst(const kstd_vector_* v, intptr_t index, const void** element);
/* The element after current (which must point at an element); the end pointer after the last. */
KIP_API kip_status kstd_vector__getNextElement(kstd_vector_* v, void* current, void** next);
KIP_API kip_status kstd_vector__getNextElementConst(const kstd_vector_* v, const void* current, const void** next);
/* Inserts count elements copied from elements before index (0..size). */
KIP_API kip_status kstd_vector__insert(kstd_vector_* v, intptr_t index, const void* elements, intptr_t count);
KIP_API kip_status kstd_vector__insertElement(kstd_vector_* v, intptr_t index, const void* element);
/* Removes count elements starting at index. */
KIP_API kip_status kstd_vector__erase(kstd_vector_* v, intptr_t index, intptr_t count);
KIP_API kip_status kstd_vector__eraseElement(kstd_vector_* v, intptr_t index);
KIP_API kip_status kstd_vector__pushBack(kstd_vector_* v, const void* element);
KIP_API kip_status kstd_vector__popBack(kstd_vector_* v); /* kstd_errIndexRange when empty */

/* ---- Type-check exports -------------------------------------------------------------------- */

/* Four do-nothing functions per exported type T; registering an object of T and its destructor
   in a cleanup table passes both through them, which binds both to T at compile time. */
#define KSYS_DECLARE_TYPE_CHECKS(T)                                          \
    KIP_API kip_status ksys_typeCheck_##T(const T* object);                  \
    KIP_API kip_status ksys_typeCheckPtr_##T(T* const* objectPointer);       \
    KIP_API kip_status ksys_typeCheckFunc_##T(kip_status (*destructor)(T*)); \
    KIP_API kip_status ksys_typeCheckFuncPtr_##T(kip_status (*const* destructorPointer)(T*));

KIP_EXTERN_C_END

#endif
