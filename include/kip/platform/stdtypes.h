/* Standard types: rectangle and pair operations, typed vectors, the optimisation-inhibit hook. */
#ifndef KIP_PLATFORM_STDTYPES_H
#define KIP_PLATFORM_STDTYPES_H

#include "kip/platform/system.h"

KIP_EXTERN_C_BEGIN

/* ---- Optimisation-inhibit hook ------------------------------------------------------------- */

/* Null by default. When set, every optimised path calls it with its label (UTF-16, zero
   terminated) before running; a non-zero answer makes the library take the general path. The
   pointer is read on every call, so it may be changed between calls. It may be called from
   several threads at once. */
extern KIP_API int32_t (*kprt_isOptimizationInhibitedFP)(const uint16_t* label);

/* ---- Rectangles ---------------------------------------------------------------------------- */

/* A rectangle is "null" (no pixels) when its width or height is <= 0. Every computation that
   finds nothing produces the null rectangle with all four fields 0. */
KIP_API kip_status kstd_rect32_init(kstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height);
KIP_API kip_status kstd_rect32_initNull(kstd_rect32* rect);
KIP_API kip_status kstd_rect32_getIsNull(const kstd_rect32* rect, uint32_t* isNull);
/* equal = 1 when all four fields are equal. */
KIP_API kip_status kstd_rect32_compareEqual(const kstd_rect32* a, const kstd_rect32* b, uint32_t* equal);
/* rect becomes its intersection with other. Rectangles that only touch intersect to an empty
   rectangle that keeps its position (for example a zero-width strip on the shared edge); only
   disjoint rectangles give the all-zero null rectangle. Edges are computed in 64 bits. */
KIP_API kip_status kstd_rect32_intersect(kstd_rect32* rect, const kstd_rect32* other);
/* Removes left, right, top and bottom pixels from the sides. A negative amount grows that side
   unless clampNegative is 1, when it counts as 0. When nothing would remain (width or height
   <= 0): with reportEmpty 1 returns kip_errRectEmpty and leaves rect unchanged; with reportEmpty
   0 makes rect null and succeeds. Edges beyond the 32-bit range give kstd_errInvalidArgument. */
KIP_API kip_status kstd_rect32_trim(kstd_rect32* rect, int32_t left, int32_t right, int32_t top, int32_t bottom,
                                    uint32_t reportEmpty, uint32_t clampNegative);
KIP_API kip_status kstd_pair32_init(kstd_pair32* pair, int32_t x, int32_t y);
KIP_API kip_status kstd_pair32_initNull(kstd_pair32* pair);

/* ---- Typed vectors ------------------------------------------------------------------------- */

/* A typed vector named V over elements of type T: a typed front end over kstd_vector__* with no
   element table (elements are copied as bytes). Counts and indices are intptr_t; getSize,
   getSize32 and the *Size32 accessors give 32-bit counts. new/newClone/delete are the heap
   variants: new destroys what *pp holds first; newClone with a null source acts as delete;
   delete on a null pointer returns 0. */
#define KSTD_DECLARE_TYPED_VECTOR(V, T)                                                                \
    typedef struct V {                                                                                 \
        kstd_vector_ base;                                                                             \
    } V;                                                                                               \
    KIP_API kip_status V##_construct(V* v, intptr_t count);                                            \
    KIP_API kip_status V##_constructEmpty(V* v);                                                       \
    KIP_API kip_status V##_constructWithMtable(V* v, intptr_t count, const kstd_vectorMtable* mtable); \
    KIP_API kip_status V##_constructEmptyWithMtable(V* v, const kstd_vectorMtable* mtable);            \
    KIP_API kip_status V##_constructUninit(V* v, intptr_t count);                                      \
    KIP_API kip_status V##_constructFill(V* v, intptr_t count, const T* element);                      \
    KIP_API kip_status V##_constructFromBlock(V* v, const T* block, intptr_t count);                   \
    KIP_API kip_status V##_constructCopy(V* v, const V* source);                                       \
    KIP_API kip_status V##_assign(V* v, const V* source);                                              \
    KIP_API kip_status V##_assignElements(V* v, const T* elements, intptr_t count);                    \
    KIP_API kip_status V##_destruct(V* v);                                                             \
    KIP_API kip_status V##_resize(V* v, intptr_t count);                                               \
    KIP_API kip_status V##_resizeUninit(V* v, intptr_t count);                                         \
    KIP_API kip_status V##_resizeFill(V* v, intptr_t count, const T* element);                         \
    KIP_API kip_status V##_reserve(V* v, intptr_t capacity);                                           \
    KIP_API kip_status V##_clear(V* v);                                                                \
    KIP_API kip_status V##_clearAndFreeMemory(V* v);                                                   \
    KIP_API kip_status V##_swap(V* a, V* b);                                                           \
    KIP_API kip_status V##_append(V* v, const V* source);                                              \
    KIP_API kip_status V##_getSize(const V* v, int32_t* size);                                         \
    KIP_API kip_status V##_getSize32(const V* v, int32_t* size);                                       \
    KIP_API kip_status V##_getSizeIntPtr(const V* v, intptr_t* size);                                  \
    KIP_API kip_status V##_getCapacity(const V* v, intptr_t* capacity);                                \
    KIP_API kip_status V##_getElementSize(const V* v, intptr_t* elementSize);                          \
    KIP_API kip_status V##_getBegin(V* v, T** begin);                                                  \
    KIP_API kip_status V##_getBeginConst(const V* v, const T** begin);                                 \
    KIP_API kip_status V##_getBeginEnd(V* v, T** begin, T** end);                                      \
    KIP_API kip_status V##_getBeginEndConst(const V* v, const T** begin, const T** end);               \
    KIP_API kip_status V##_getBeginSize(V* v, T** begin, int32_t* size);                               \
    KIP_API kip_status V##_getBeginSizeConst(const V* v, const T** begin, int32_t* size);              \
    KIP_API kip_status V##_getBeginSize32(V* v, T** begin, int32_t* size);                             \
    KIP_API kip_status V##_getBeginSize32Const(const V* v, const T** begin, int32_t* size);            \
    KIP_API kip_status V##_getBeginSizeIntPtr(V* v, T** begin, intptr_t* size);                        \
    KIP_API kip_status V##_getBeginSizeIntPtrConst(const V* v, const T** begin, intptr_t* size);       \
    KIP_API kip_status V##_getElement(V* v, intptr_t index, T** element);                              \
    KIP_API kip_status V##_getElementConst(const V* v, intptr_t index, const T** element);             \
    KIP_API kip_status V##_getNextElement(V* v, T* current, T** next);                                 \
    KIP_API kip_status V##_getNextElementConst(const V* v, const T* current, const T** next);          \
    KIP_API kip_status V##_insert(V* v, intptr_t index, const T* elements, intptr_t count);            \
    KIP_API kip_status V##_insertElement(V* v, intptr_t index, const T* element);                      \
    KIP_API kip_status V##_erase(V* v, intptr_t index, intptr_t count);                                \
    KIP_API kip_status V##_eraseElement(V* v, intptr_t index);                                         \
    KIP_API kip_status V##_pushBack(V* v, const T* element);                                           \
    KIP_API kip_status V##_popBack(V* v);                                                              \
    KIP_API kip_status V##_new(V** pp);                                                                \
    KIP_API kip_status V##_newClone(V** pp, const V* source);                                          \
    KIP_API kip_status V##_delete(V** pp);                                                             \
    KSYS_DECLARE_TYPE_CHECKS(V)

KSTD_DECLARE_TYPED_VECTOR(kstd_vector32s, int32_t)
KSTD_DECLARE_TYPED_VECTOR(kstd_vector_kstd_pair32, kstd_pair32)

KIP_EXTERN_C_END

#endif
