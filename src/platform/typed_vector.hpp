// The members of a typed vector declared with KSTD_DECLARE_TYPED_VECTOR. The code is one template
// over the vector and element types; each member forwards to the generic vector with the element
// size added, and elements are plain bytes (no vtable). The macro only generates the C names.
#pragma once

#include <type_traits>

#include "kip/platform/stdtypes.h"
#include "platform/assert.hpp"
#include "platform/heap.hpp"
#include "platform/typecheck.hpp"

namespace kip {

template <class V, class T>
struct TypedVector {
    static constexpr intptr_t kSize = static_cast<intptr_t>(sizeof(T));

    // Runs a generic getter and hands its pointer out typed, only on success.
    template <class P, class Get>
    static kip_status typed(P** out, Get get) {
        std::conditional_t<std::is_const_v<P>, const void*, void*> raw = nullptr;
        const kip_status s = get(&raw);
        if (succeeded(s)) *out = static_cast<P*>(raw);
        return s;
    }
    template <class P, class Get>
    static kip_status typedRange(P** begin, P** end, Get get) {
        std::conditional_t<std::is_const_v<P>, const void*, void*> b = nullptr, e = nullptr;
        const kip_status s = get(&b, &e);
        if (succeeded(s)) *begin = static_cast<P*>(b), *end = static_cast<P*>(e);
        return s;
    }

    static kip_status construct(V* v, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__constructWithVtable(&v->base, kSize, n, nullptr);
    }
    static kip_status constructEmpty(V* v) { return construct(v, 0); }
    static kip_status constructWithMtable(V* v, intptr_t n, const kstd_vectorMtable* m) {
        KIP_REQUIRE(v);
        return kstd_vector__constructWithVtableWithMtable(&v->base, kSize, n, nullptr, m);
    }
    static kip_status constructEmptyWithMtable(V* v, const kstd_vectorMtable* m) {
        return constructWithMtable(v, 0, m);
    }
    static kip_status constructUninit(V* v, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__constructWithVtableUninit(&v->base, kSize, n, nullptr);
    }
    static kip_status constructFill(V* v, intptr_t n, const T* e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return kstd_vector__constructFillWithVtable(&v->base, kSize, n, e, nullptr);
    }
    static kip_status constructFromBlock(V* v, const T* b, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__constructFromBlockWithVtable(&v->base, kSize, b, n, nullptr);
    }
    static kip_status constructCopy(V* v, const V* s) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(s);
        return kstd_vector__constructCopy(&v->base, &s->base);
    }
    static kip_status assign(V* v, const V* s) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(s);
        return kstd_vector__assign(&v->base, &s->base);
    }
    static kip_status assignElements(V* v, const T* e, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__assignElements(&v->base, e, n);
    }
    static kip_status destruct(V* v) {
        KIP_REQUIRE(v);
        return kstd_vector__destruct(&v->base);
    }
    static kip_status resize(V* v, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__resize(&v->base, n);
    }
    static kip_status resizeUninit(V* v, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__resizeUninit(&v->base, n);
    }
    static kip_status resizeFill(V* v, intptr_t n, const T* e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return kstd_vector__resizeFill(&v->base, n, e);
    }
    static kip_status reserve(V* v, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__reserve(&v->base, n);
    }
    static kip_status clear(V* v) {
        KIP_REQUIRE(v);
        return kstd_vector__clear(&v->base);
    }
    static kip_status clearAndFreeMemory(V* v) {
        KIP_REQUIRE(v);
        return kstd_vector__clearAndFreeMemory(&v->base);
    }
    static kip_status swap(V* a, V* b) {
        KIP_REQUIRE(a);
        KIP_REQUIRE(b);
        return kstd_vector__swap(&a->base, &b->base);
    }
    static kip_status append(V* v, const V* s) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(s);
        return kstd_vector__append(&v->base, &s->base);
    }
    static kip_status getSize32(const V* v, int32_t* n) {
        KIP_REQUIRE(v);
        return kstd_vector__getSize32(&v->base, n);
    }
    static kip_status getSizeIntPtr(const V* v, intptr_t* n) {
        KIP_REQUIRE(v);
        return kstd_vector__getSize(&v->base, n);
    }
    static kip_status getCapacity(const V* v, intptr_t* n) {
        KIP_REQUIRE(v);
        return kstd_vector__getCapacity(&v->base, n);
    }
    static kip_status getElementSize(const V* v, intptr_t* n) {
        KIP_REQUIRE(v);
        return kstd_vector__getElementSize(&v->base, n);
    }
    static kip_status getBegin(V* v, T** b) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        return typed(b, [&](void** r) { return kstd_vector__getBegin(&v->base, r); });
    }
    static kip_status getBeginConst(const V* v, const T** b) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        return typed(b, [&](const void** r) { return kstd_vector__getBeginConst(&v->base, r); });
    }
    static kip_status getBeginEnd(V* v, T** b, T** e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        KIP_REQUIRE(e);
        return typedRange(b, e, [&](void** rb, void** re) { return kstd_vector__getBeginEnd(&v->base, rb, re); });
    }
    static kip_status getBeginEndConst(const V* v, const T** b, const T** e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        KIP_REQUIRE(e);
        return typedRange(
            b, e, [&](const void** rb, const void** re) { return kstd_vector__getBeginEndConst(&v->base, rb, re); });
    }
    static kip_status getBeginSize32(V* v, T** b, int32_t* n) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        return typed(b, [&](void** r) { return kstd_vector__getBeginSize32(&v->base, r, n); });
    }
    static kip_status getBeginSize32Const(const V* v, const T** b, int32_t* n) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        return typed(b, [&](const void** r) { return kstd_vector__getBeginSize32Const(&v->base, r, n); });
    }
    static kip_status getBeginSizeIntPtr(V* v, T** b, intptr_t* n) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        return typed(b, [&](void** r) { return kstd_vector__getBeginSizeIntPtr(&v->base, r, n); });
    }
    static kip_status getBeginSizeIntPtrConst(const V* v, const T** b, intptr_t* n) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(b);
        return typed(b, [&](const void** r) { return kstd_vector__getBeginSizeIntPtrConst(&v->base, r, n); });
    }
    static kip_status getElement(V* v, intptr_t i, T** e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return typed(e, [&](void** r) { return kstd_vector__getElement(&v->base, i, r); });
    }
    static kip_status getElementConst(const V* v, intptr_t i, const T** e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return typed(e, [&](const void** r) { return kstd_vector__getElementConst(&v->base, i, r); });
    }
    static kip_status getNextElement(V* v, T* c, T** e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return typed(e, [&](void** r) { return kstd_vector__getNextElement(&v->base, c, r); });
    }
    static kip_status getNextElementConst(const V* v, const T* c, const T** e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return typed(e, [&](const void** r) { return kstd_vector__getNextElementConst(&v->base, c, r); });
    }
    static kip_status insert(V* v, intptr_t i, const T* e, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__insert(&v->base, i, e, n);
    }
    static kip_status insertElement(V* v, intptr_t i, const T* e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return kstd_vector__insertElement(&v->base, i, e);
    }
    static kip_status erase(V* v, intptr_t i, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__erase(&v->base, i, n);
    }
    static kip_status eraseElement(V* v, intptr_t i) {
        KIP_REQUIRE(v);
        return kstd_vector__eraseElement(&v->base, i);
    }
    static kip_status pushBack(V* v, const T* e) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(e);
        return kstd_vector__pushBack(&v->base, e);
    }
    static kip_status popBack(V* v) {
        KIP_REQUIRE(v);
        return kstd_vector__popBack(&v->base);
    }
    static kip_status heapNew(V** pp) { return heapNewWith<V, destruct>(pp, constructEmpty); }
    static kip_status heapClone(V** pp, const V* s) { return heapNewClone<V, constructEmpty, destruct, assign>(pp, s); }
    static kip_status heapFree(V** pp) { return heapDelete<V, destruct>(pp); }
};

}  // namespace kip

// The C names of one typed vector, each a call of the template above.
#define KSTD_TYPED_VECTOR_MEMBER_(V, name, member, params, args) \
    kip_status V##_##name params { return V##_ops::member args; }

#define KSTD_DEFINE_TYPED_VECTOR(V, T)                                                                               \
    namespace {                                                                                                      \
    using V##_ops = kip::TypedVector<V, T>;                                                                          \
    }                                                                                                                \
    extern "C" {                                                                                                     \
    KSTD_TYPED_VECTOR_MEMBER_(V, construct, construct, (V * v, intptr_t n), (v, n))                                  \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructEmpty, constructEmpty, (V * v), (v))                                       \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructWithMtable, constructWithMtable,                                           \
                              (V * v, intptr_t n, const kstd_vectorMtable* m), (v, n, m))                            \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructEmptyWithMtable, constructEmptyWithMtable,                                 \
                              (V * v, const kstd_vectorMtable* m), (v, m))                                           \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructUninit, constructUninit, (V * v, intptr_t n), (v, n))                      \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructFill, constructFill, (V * v, intptr_t n, const T* e), (v, n, e))           \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructFromBlock, constructFromBlock, (V * v, const T* b, intptr_t n), (v, b, n)) \
    KSTD_TYPED_VECTOR_MEMBER_(V, constructCopy, constructCopy, (V * v, const V* s), (v, s))                          \
    KSTD_TYPED_VECTOR_MEMBER_(V, assign, assign, (V * v, const V* s), (v, s))                                        \
    KSTD_TYPED_VECTOR_MEMBER_(V, assignElements, assignElements, (V * v, const T* e, intptr_t n), (v, e, n))         \
    KSTD_TYPED_VECTOR_MEMBER_(V, destruct, destruct, (V * v), (v))                                                   \
    KSTD_TYPED_VECTOR_MEMBER_(V, resize, resize, (V * v, intptr_t n), (v, n))                                        \
    KSTD_TYPED_VECTOR_MEMBER_(V, resizeUninit, resizeUninit, (V * v, intptr_t n), (v, n))                            \
    KSTD_TYPED_VECTOR_MEMBER_(V, resizeFill, resizeFill, (V * v, intptr_t n, const T* e), (v, n, e))                 \
    KSTD_TYPED_VECTOR_MEMBER_(V, reserve, reserve, (V * v, intptr_t n), (v, n))                                      \
    KSTD_TYPED_VECTOR_MEMBER_(V, clear, clear, (V * v), (v))                                                         \
    KSTD_TYPED_VECTOR_MEMBER_(V, clearAndFreeMemory, clearAndFreeMemory, (V * v), (v))                               \
    KSTD_TYPED_VECTOR_MEMBER_(V, swap, swap, (V * a, V* b), (a, b))                                                  \
    KSTD_TYPED_VECTOR_MEMBER_(V, append, append, (V * v, const V* s), (v, s))                                        \
    KSTD_TYPED_VECTOR_MEMBER_(V, getSize, getSize32, (const V* v, int32_t* n), (v, n))                               \
    KSTD_TYPED_VECTOR_MEMBER_(V, getSize32, getSize32, (const V* v, int32_t* n), (v, n))                             \
    KSTD_TYPED_VECTOR_MEMBER_(V, getSizeIntPtr, getSizeIntPtr, (const V* v, intptr_t* n), (v, n))                    \
    KSTD_TYPED_VECTOR_MEMBER_(V, getCapacity, getCapacity, (const V* v, intptr_t* n), (v, n))                        \
    KSTD_TYPED_VECTOR_MEMBER_(V, getElementSize, getElementSize, (const V* v, intptr_t* n), (v, n))                  \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBegin, getBegin, (V * v, T** b), (v, b))                                         \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginConst, getBeginConst, (const V* v, const T** b), (v, b))                    \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginEnd, getBeginEnd, (V * v, T** b, T** e), (v, b, e))                         \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginEndConst, getBeginEndConst, (const V* v, const T** b, const T** e),         \
                              (v, b, e))                                                                             \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginSize, getBeginSize32, (V * v, T** b, int32_t* n), (v, b, n))                \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginSizeConst, getBeginSize32Const, (const V* v, const T** b, int32_t* n),      \
                              (v, b, n))                                                                             \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginSize32, getBeginSize32, (V * v, T** b, int32_t* n), (v, b, n))              \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginSize32Const, getBeginSize32Const, (const V* v, const T** b, int32_t* n),    \
                              (v, b, n))                                                                             \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginSizeIntPtr, getBeginSizeIntPtr, (V * v, T** b, intptr_t* n), (v, b, n))     \
    KSTD_TYPED_VECTOR_MEMBER_(V, getBeginSizeIntPtrConst, getBeginSizeIntPtrConst,                                   \
                              (const V* v, const T** b, intptr_t* n), (v, b, n))                                     \
    KSTD_TYPED_VECTOR_MEMBER_(V, getElement, getElement, (V * v, intptr_t i, T** e), (v, i, e))                      \
    KSTD_TYPED_VECTOR_MEMBER_(V, getElementConst, getElementConst, (const V* v, intptr_t i, const T** e), (v, i, e)) \
    KSTD_TYPED_VECTOR_MEMBER_(V, getNextElement, getNextElement, (V * v, T* c, T** e), (v, c, e))                    \
    KSTD_TYPED_VECTOR_MEMBER_(V, getNextElementConst, getNextElementConst, (const V* v, const T* c, const T** e),    \
                              (v, c, e))                                                                             \
    KSTD_TYPED_VECTOR_MEMBER_(V, insert, insert, (V * v, intptr_t i, const T* e, intptr_t n), (v, i, e, n))          \
    KSTD_TYPED_VECTOR_MEMBER_(V, insertElement, insertElement, (V * v, intptr_t i, const T* e), (v, i, e))           \
    KSTD_TYPED_VECTOR_MEMBER_(V, erase, erase, (V * v, intptr_t i, intptr_t n), (v, i, n))                           \
    KSTD_TYPED_VECTOR_MEMBER_(V, eraseElement, eraseElement, (V * v, intptr_t i), (v, i))                            \
    KSTD_TYPED_VECTOR_MEMBER_(V, pushBack, pushBack, (V * v, const T* e), (v, e))                                    \
    KSTD_TYPED_VECTOR_MEMBER_(V, popBack, popBack, (V * v), (v))                                                     \
    KSTD_TYPED_VECTOR_MEMBER_(V, new, heapNew, (V * *pp), (pp))                                                      \
    KSTD_TYPED_VECTOR_MEMBER_(V, newClone, heapClone, (V * *pp, const V* s), (pp, s))                                \
    KSTD_TYPED_VECTOR_MEMBER_(V, delete, heapFree, (V * *pp), (pp))                                                  \
    }                                                                                                                \
    KSYS_DEFINE_TYPE_CHECKS(V)
