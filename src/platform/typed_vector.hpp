// Defines the members of a typed vector declared with KSTD_DECLARE_TYPED_VECTOR: each forwards
// to the generic vector with the element size added; elements are plain bytes (no vtable).
#pragma once

#include "kip/platform/stdtypes.h"
#include "platform/assert.hpp"
#include "platform/heap.hpp"
#include "platform/typecheck.hpp"

namespace kip {

template <class V, class T>
struct TypedVector {
    static constexpr intptr_t kSize = static_cast<intptr_t>(sizeof(T));
    static kstd_vector_* g(V* v) { return v ? &v->base : nullptr; }
    static const kstd_vector_* g(const V* v) { return v ? &v->base : nullptr; }

    static kip_status construct(V* v, intptr_t n) {
        KIP_REQUIRE(v);
        return kstd_vector__constructWithVtable(g(v), kSize, n, nullptr);
    }
    static kip_status constructEmpty(V* v) { return construct(v, 0); }
    static kip_status assign(V* v, const V* s) {
        KIP_REQUIRE(v);
        KIP_REQUIRE(s);
        return kstd_vector__assign(g(v), g(s));
    }
    static kip_status destruct(V* v) {
        KIP_REQUIRE(v);
        return kstd_vector__destruct(g(v));
    }
};

}  // namespace kip

#define KSTD_DEFINE_TYPED_VECTOR(V, T)                                                                                 \
    namespace {                                                                                                        \
    using V##_ops = kip::TypedVector<V, T>;                                                                            \
    }                                                                                                                  \
    extern "C" {                                                                                                       \
    kip_status V##_construct(V* v, intptr_t n) { return V##_ops::construct(v, n); }                                    \
    kip_status V##_constructEmpty(V* v) { return V##_ops::constructEmpty(v); }                                         \
    kip_status V##_constructWithMtable(V* v, intptr_t n, const kstd_vectorMtable* m) {                                 \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__constructWithVtableWithMtable(&v->base, V##_ops::kSize, n, nullptr, m);                    \
    }                                                                                                                  \
    kip_status V##_constructEmptyWithMtable(V* v, const kstd_vectorMtable* m) {                                        \
        return V##_constructWithMtable(v, 0, m);                                                                       \
    }                                                                                                                  \
    kip_status V##_constructUninit(V* v, intptr_t n) {                                                                 \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__constructWithVtableUninit(&v->base, V##_ops::kSize, n, nullptr);                           \
    }                                                                                                                  \
    kip_status V##_constructFill(V* v, intptr_t n, const T* e) {                                                       \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        return kstd_vector__constructFillWithVtable(&v->base, V##_ops::kSize, n, e, nullptr);                          \
    }                                                                                                                  \
    kip_status V##_constructFromBlock(V* v, const T* b, intptr_t n) {                                                  \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__constructFromBlockWithVtable(&v->base, V##_ops::kSize, b, n, nullptr);                     \
    }                                                                                                                  \
    kip_status V##_constructCopy(V* v, const V* s) {                                                                   \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(s);                                                                                                \
        return kstd_vector__constructCopy(&v->base, &s->base);                                                         \
    }                                                                                                                  \
    kip_status V##_assign(V* v, const V* s) { return V##_ops::assign(v, s); }                                          \
    kip_status V##_assignElements(V* v, const T* e, intptr_t n) {                                                      \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__assignElements(&v->base, e, n);                                                            \
    }                                                                                                                  \
    kip_status V##_destruct(V* v) { return V##_ops::destruct(v); }                                                     \
    kip_status V##_resize(V* v, intptr_t n) {                                                                          \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__resize(&v->base, n);                                                                       \
    }                                                                                                                  \
    kip_status V##_resizeUninit(V* v, intptr_t n) {                                                                    \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__resizeUninit(&v->base, n);                                                                 \
    }                                                                                                                  \
    kip_status V##_resizeFill(V* v, intptr_t n, const T* e) {                                                          \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        return kstd_vector__resizeFill(&v->base, n, e);                                                                \
    }                                                                                                                  \
    kip_status V##_reserve(V* v, intptr_t n) {                                                                         \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__reserve(&v->base, n);                                                                      \
    }                                                                                                                  \
    kip_status V##_clear(V* v) {                                                                                       \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__clear(&v->base);                                                                           \
    }                                                                                                                  \
    kip_status V##_clearAndFreeMemory(V* v) {                                                                          \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__clearAndFreeMemory(&v->base);                                                              \
    }                                                                                                                  \
    kip_status V##_swap(V* a, V* b) {                                                                                  \
        KIP_REQUIRE(a);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        return kstd_vector__swap(&a->base, &b->base);                                                                  \
    }                                                                                                                  \
    kip_status V##_append(V* v, const V* s) {                                                                          \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(s);                                                                                                \
        return kstd_vector__append(&v->base, &s->base);                                                                \
    }                                                                                                                  \
    kip_status V##_getSize(const V* v, int32_t* n) {                                                                   \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__getSize32(&v->base, n);                                                                    \
    }                                                                                                                  \
    kip_status V##_getSize32(const V* v, int32_t* n) { return V##_getSize(v, n); }                                     \
    kip_status V##_getSizeIntPtr(const V* v, intptr_t* n) {                                                            \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__getSize(&v->base, n);                                                                      \
    }                                                                                                                  \
    kip_status V##_getCapacity(const V* v, intptr_t* n) {                                                              \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__getCapacity(&v->base, n);                                                                  \
    }                                                                                                                  \
    kip_status V##_getElementSize(const V* v, intptr_t* n) {                                                           \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__getElementSize(&v->base, n);                                                               \
    }                                                                                                                  \
    kip_status V##_getBegin(V* v, T** b) {                                                                             \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        void* tmp_ = nullptr;                                                                                          \
        kip_status s_ = kstd_vector__getBegin(&v->base, &tmp_);                                                        \
        if (kip::succeeded(s_)) *b = static_cast<T*>(tmp_);                                                            \
        return s_;                                                                                                     \
    }                                                                                                                  \
    kip_status V##_getBeginConst(const V* v, const T** b) {                                                            \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        const void* tmp_ = nullptr;                                                                                    \
        kip_status s_ = kstd_vector__getBeginConst(&v->base, &tmp_);                                                   \
        if (kip::succeeded(s_)) *b = static_cast<const T*>(tmp_);                                                      \
        return s_;                                                                                                     \
    }                                                                                                                  \
    kip_status V##_getBeginEnd(V* v, T** b, T** e) {                                                                   \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        void *b_ = nullptr, *e_ = nullptr;                                                                             \
        kip_status s = kstd_vector__getBeginEnd(&v->base, &b_, &e_);                                                   \
        if (kip::succeeded(s)) *b = static_cast<T*>(b_), *e = static_cast<T*>(e_);                                     \
        return s;                                                                                                      \
    }                                                                                                                  \
    kip_status V##_getBeginEndConst(const V* v, const T** b, const T** e) {                                            \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        const void *b_ = nullptr, *e_ = nullptr;                                                                       \
        kip_status s = kstd_vector__getBeginEndConst(&v->base, &b_, &e_);                                              \
        if (kip::succeeded(s)) *b = static_cast<const T*>(b_), *e = static_cast<const T*>(e_);                         \
        return s;                                                                                                      \
    }                                                                                                                  \
    kip_status V##_getBeginSize32(V* v, T** b, int32_t* n) {                                                           \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        void* b_ = nullptr;                                                                                            \
        kip_status s = kstd_vector__getBeginSize32(&v->base, &b_, n);                                                  \
        if (kip::succeeded(s)) *b = static_cast<T*>(b_);                                                               \
        return s;                                                                                                      \
    }                                                                                                                  \
    kip_status V##_getBeginSize32Const(const V* v, const T** b, int32_t* n) {                                          \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        const void* b_ = nullptr;                                                                                      \
        kip_status s = kstd_vector__getBeginSize32Const(&v->base, &b_, n);                                             \
        if (kip::succeeded(s)) *b = static_cast<const T*>(b_);                                                         \
        return s;                                                                                                      \
    }                                                                                                                  \
    kip_status V##_getBeginSize(V* v, T** b, int32_t* n) { return V##_getBeginSize32(v, b, n); }                       \
    kip_status V##_getBeginSizeConst(const V* v, const T** b, int32_t* n) { return V##_getBeginSize32Const(v, b, n); } \
    kip_status V##_getBeginSizeIntPtr(V* v, T** b, intptr_t* n) {                                                      \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        void* b_ = nullptr;                                                                                            \
        kip_status s = kstd_vector__getBeginSizeIntPtr(&v->base, &b_, n);                                              \
        if (kip::succeeded(s)) *b = static_cast<T*>(b_);                                                               \
        return s;                                                                                                      \
    }                                                                                                                  \
    kip_status V##_getBeginSizeIntPtrConst(const V* v, const T** b, intptr_t* n) {                                     \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(b);                                                                                                \
        const void* b_ = nullptr;                                                                                      \
        kip_status s = kstd_vector__getBeginSizeIntPtrConst(&v->base, &b_, n);                                         \
        if (kip::succeeded(s)) *b = static_cast<const T*>(b_);                                                         \
        return s;                                                                                                      \
    }                                                                                                                  \
    kip_status V##_getElement(V* v, intptr_t i, T** e) {                                                               \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        void* tmp_ = nullptr;                                                                                          \
        kip_status s_ = kstd_vector__getElement(&v->base, i, &tmp_);                                                   \
        if (kip::succeeded(s_)) *e = static_cast<T*>(tmp_);                                                            \
        return s_;                                                                                                     \
    }                                                                                                                  \
    kip_status V##_getElementConst(const V* v, intptr_t i, const T** e) {                                              \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        const void* tmp_ = nullptr;                                                                                    \
        kip_status s_ = kstd_vector__getElementConst(&v->base, i, &tmp_);                                              \
        if (kip::succeeded(s_)) *e = static_cast<const T*>(tmp_);                                                      \
        return s_;                                                                                                     \
    }                                                                                                                  \
    kip_status V##_getNextElement(V* v, T* c, T** e) {                                                                 \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        void* tmp_ = nullptr;                                                                                          \
        kip_status s_ = kstd_vector__getNextElement(&v->base, c, &tmp_);                                               \
        if (kip::succeeded(s_)) *e = static_cast<T*>(tmp_);                                                            \
        return s_;                                                                                                     \
    }                                                                                                                  \
    kip_status V##_getNextElementConst(const V* v, const T* c, const T** e) {                                          \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        const void* tmp_ = nullptr;                                                                                    \
        kip_status s_ = kstd_vector__getNextElementConst(&v->base, c, &tmp_);                                          \
        if (kip::succeeded(s_)) *e = static_cast<const T*>(tmp_);                                                      \
        return s_;                                                                                                     \
    }                                                                                                                  \
    kip_status V##_insert(V* v, intptr_t i, const T* e, intptr_t n) {                                                  \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__insert(&v->base, i, e, n);                                                                 \
    }                                                                                                                  \
    kip_status V##_insertElement(V* v, intptr_t i, const T* e) {                                                       \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        return kstd_vector__insertElement(&v->base, i, e);                                                             \
    }                                                                                                                  \
    kip_status V##_erase(V* v, intptr_t i, intptr_t n) {                                                               \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__erase(&v->base, i, n);                                                                     \
    }                                                                                                                  \
    kip_status V##_eraseElement(V* v, intptr_t i) {                                                                    \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__eraseElement(&v->base, i);                                                                 \
    }                                                                                                                  \
    kip_status V##_pushBack(V* v, const T* e) {                                                                        \
        KIP_REQUIRE(v);                                                                                                \
        KIP_REQUIRE(e);                                                                                                \
        return kstd_vector__pushBack(&v->base, e);                                                                     \
    }                                                                                                                  \
    kip_status V##_popBack(V* v) {                                                                                     \
        KIP_REQUIRE(v);                                                                                                \
        return kstd_vector__popBack(&v->base);                                                                         \
    }                                                                                                                  \
    kip_status V##_new(V** pp) { return kip::heapNewWith<V, V##_destruct>(pp, V##_constructEmpty); }                   \
    kip_status V##_newClone(V** pp, const V* s) {                                                                      \
        return kip::heapNewClone<V, V##_constructEmpty, V##_destruct, V##_assign>(pp, s);                              \
    }                                                                                                                  \
    kip_status V##_delete(V** pp) { return kip::heapDelete<V, V##_destruct>(pp); }                                     \
    }                                                                                                                  \
    KSYS_DEFINE_TYPE_CHECKS(V)
