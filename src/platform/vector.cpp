// The generic vector: a buffer of fixed-size elements with optional element and memory tables.
//
// Elements are relocated bitwise when the buffer grows or when elements shift; the element
// table's copyConstruct only makes copies of elements handed in, and destruct only ends
// elements that leave the vector. Every operation that can fail does its fallible work
// (allocation, element copies) before it changes the vector, so a failure leaves it as it was.
#include <cstdint>
#include <cstring>

#include "platform/assert.hpp"

namespace {

using Byte = unsigned char;

// How the elements of a gap are brought to life.
enum class Fill { Zero, Uninit, Copy, Repeat };

bool hasCopy(const kstd_vector_* v) { return v->vtable != nullptr && v->vtable->copyConstruct != nullptr; }
bool hasDestruct(const kstd_vector_* v) { return v->vtable != nullptr && v->vtable->destruct != nullptr; }

Byte* at(const kstd_vector_* v, intptr_t index) { return static_cast<Byte*>(v->begin) + index * v->elementSize; }

// count * elementSize in bytes, refusing anything that does not fit intptr_t.
bool byteCount(intptr_t count, intptr_t elementSize, intptr_t* bytes) {
    if (count < 0 || elementSize <= 0) return false;
    if (count > INTPTR_MAX / elementSize) return false;
    *bytes = count * elementSize;
    return true;
}

bool customMemory(const kstd_vector_* v) {
    return v->mtable != nullptr && v->mtable->alloc != nullptr && v->mtable->free != nullptr;
}

kip_status allocElements(const kstd_vector_* v, intptr_t count, void** block) {
    intptr_t bytes = 0;
    if (!byteCount(count, v->elementSize, &bytes)) return kstd_errInvalidArgument;
    void* p = nullptr;
    kip_status s = customMemory(v) ? v->mtable->alloc(static_cast<size_t>(bytes), &p)
                                   : ksys_memory_alloc_internal(static_cast<size_t>(bytes), &p);
    if (kip::failed(s)) return s;
    *block = p;
    return 0;
}

kip_status freeBlock(const kstd_vector_* v, void* block) {
    if (block == nullptr) return 0;
    return customMemory(v) ? v->mtable->free(&block) : ksys_memory_free_internal(&block);
}

// Ends count elements at first; reports the first failing destruct but ends them all.
kip_status destroyRange(const kstd_vector_* v, Byte* first, intptr_t count) {
    kip_status result = 0;
    if (!hasDestruct(v)) return 0;
    for (intptr_t i = 0; i < count; ++i) {
        kip_status s = v->vtable->destruct(first + i * v->elementSize);
        if (kip::failed(s) && !kip::failed(result)) result = s;
    }
    return result;
}

// Brings count elements to life at gap. On failure the copies made so far are ended again.
kip_status fillGap(const kstd_vector_* v, Byte* gap, intptr_t count, Fill fill, const void* source) {
    const intptr_t es = v->elementSize;
    if (fill == Fill::Zero) {
        std::memset(gap, 0, static_cast<size_t>(count * es));
        return 0;
    }
    if (fill == Fill::Uninit) return 0;
    const Byte* src = static_cast<const Byte*>(source);
    if (!hasCopy(v)) {
        if (fill == Fill::Copy) {
            std::memcpy(gap, src, static_cast<size_t>(count * es));
        } else {
            for (intptr_t i = 0; i < count; ++i) std::memcpy(gap + i * es, src, static_cast<size_t>(es));
        }
        return 0;
    }
    for (intptr_t i = 0; i < count; ++i) {
        kip_status s = v->vtable->copyConstruct(gap + i * es, fill == Fill::Copy ? src + i * es : src);
        if (kip::failed(s)) {
            (void)destroyRange(v, gap, i);
            return s;
        }
    }
    return 0;
}

// Whether [p, p + bytes) touches the vector's buffer (compared as integers: unrelated pointers
// must not be ordered directly).
bool aliasesBuffer(const kstd_vector_* v, const void* p, intptr_t bytes) {
    if (p == nullptr || v->begin == nullptr || bytes <= 0) return false;
    const uintptr_t lo = reinterpret_cast<uintptr_t>(v->begin);
    const uintptr_t hi = lo + static_cast<uintptr_t>(v->capacity * v->elementSize);
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    return a < hi && a + static_cast<uintptr_t>(bytes) > lo;
}

intptr_t grownCapacity(const kstd_vector_* v, intptr_t needed) {
    const intptr_t maxCount = INTPTR_MAX / v->elementSize;
    const intptr_t doubled = v->capacity > maxCount / 2 ? maxCount : v->capacity * 2;
    return doubled > needed ? doubled : needed;
}

// Opens a gap of count elements before index and fills it. The one place that grows a vector.
kip_status insertGap(kstd_vector_* v, intptr_t index, intptr_t count, Fill fill, const void* source) {
    if (count < 0) return kstd_errInvalidArgument;
    if (index < 0 || index > v->size) return kstd_errIndexRange;
    if (count == 0) return 0;
    if (count > INTPTR_MAX - v->size) return kstd_errInvalidArgument;
    const intptr_t newSize = v->size + count;
    intptr_t bytes = 0;
    if (!byteCount(newSize, v->elementSize, &bytes)) return kstd_errInvalidArgument;
    const intptr_t es = v->elementSize;
    const intptr_t tail = v->size - index;
    const intptr_t sourceBytes = fill == Fill::Copy ? count * es : (fill == Fill::Repeat ? es : 0);
    // Shifting the tail in place would move elements out from under a source inside the buffer.
    const bool inPlace = newSize <= v->capacity && !(tail > 0 && aliasesBuffer(v, source, sourceBytes));

    if (inPlace) {
        Byte* gap = at(v, index);
        if (tail > 0) std::memmove(gap + count * es, gap, static_cast<size_t>(tail * es));
        kip_status s = fillGap(v, gap, count, fill, source);
        if (kip::failed(s)) {
            if (tail > 0) std::memmove(gap, gap + count * es, static_cast<size_t>(tail * es));
            return s;
        }
        v->size = newSize;
        return 0;
    }

    const intptr_t capacity = grownCapacity(v, newSize);
    void* block = nullptr;
    kip_status s = allocElements(v, capacity, &block);
    if (kip::failed(s)) return s;
    Byte* fresh = static_cast<Byte*>(block);
    // The old buffer stays intact until the copies are made, so a source inside it stays valid.
    s = fillGap(v, fresh + index * es, count, fill, source);
    if (kip::failed(s)) {
        (void)freeBlock(v, block);
        return s;
    }
    if (index > 0) std::memcpy(fresh, v->begin, static_cast<size_t>(index * es));
    if (tail > 0) std::memcpy(fresh + (index + count) * es, at(v, index), static_cast<size_t>(tail * es));
    void* old = v->begin;
    v->begin = fresh;
    v->size = newSize;
    v->capacity = capacity;
    return freeBlock(v, old);
}

kip_status eraseRange(kstd_vector_* v, intptr_t index, intptr_t count) {
    if (count < 0) return kstd_errInvalidArgument;
    if (index < 0 || index > v->size || count > v->size - index) return kstd_errIndexRange;
    if (count == 0) return 0;
    const intptr_t es = v->elementSize;
    Byte* first = at(v, index);
    kip_status s = destroyRange(v, first, count);
    const intptr_t tail = v->size - index - count;
    if (tail > 0) std::memmove(first, first + count * es, static_cast<size_t>(tail * es));
    v->size -= count;
    return s;
}

// Replaces the contents with count elements from source (which may lie inside v).
kip_status assignFrom(kstd_vector_* v, const void* source, intptr_t count) {
    if (count < 0) return kstd_errInvalidArgument;
    intptr_t bytes = 0;
    if (!byteCount(count, v->elementSize, &bytes)) return kstd_errInvalidArgument;
    if (count > 0) KIP_REQUIRE(source);
    // Byte copies cannot fail, so the buffer is reused when it is big enough; not when
    // destructors would end the very elements about to be copied.
    const bool reuse = !hasCopy(v) && count <= v->capacity && !(hasDestruct(v) && aliasesBuffer(v, source, bytes));
    if (reuse) {
        kip_status s = destroyRange(v, at(v, 0), v->size);
        if (count > 0) std::memmove(v->begin, source, static_cast<size_t>(bytes));
        v->size = count;
        return s;
    }
    kstd_vector_ fresh = *v;
    fresh.begin = nullptr;
    fresh.size = 0;
    fresh.capacity = 0;
    kip_status s = insertGap(&fresh, 0, count, Fill::Copy, source);
    if (kip::failed(s)) return s;
    s = destroyRange(v, at(v, 0), v->size);
    kip_status f = freeBlock(v, v->begin);
    *v = fresh;
    return kip::failed(s) ? s : f;
}

kip_status constructWith(kstd_vector_* v, intptr_t elementSize, intptr_t count, const kstd_vectorVtable* vtable,
                         const kstd_vectorMtable* mtable, Fill fill, const void* source) {
    KIP_REQUIRE(v);
    intptr_t bytes = 0;
    if (!byteCount(count, elementSize, &bytes)) return kstd_errInvalidArgument;
    if ((fill == Fill::Copy && count > 0) || fill == Fill::Repeat) KIP_REQUIRE(source);
    kstd_vector_ fresh{nullptr, 0, 0, elementSize, vtable, mtable};
    kip_status s = insertGap(&fresh, 0, count, fill, source);
    if (kip::failed(s)) return s;
    // Construction reserves exactly what was asked; growth doubles later.
    *v = fresh;
    return 0;
}

kip_status resizeTo(kstd_vector_* v, intptr_t count, Fill fill, const void* element) {
    KIP_REQUIRE(v);
    if (count < 0) return kstd_errInvalidArgument;
    if (count < v->size) return eraseRange(v, count, v->size - count);
    return insertGap(v, v->size, count - v->size, fill, element);
}

}  // namespace

extern "C" {

kip_status kstd_vector__constructWithVtable(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                            const kstd_vectorVtable* vtable) {
    return constructWith(v, elementSize, count, vtable, nullptr, Fill::Zero, nullptr);
}

kip_status kstd_vector__constructWithVtableWithMtable(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                      const kstd_vectorVtable* vtable,
                                                      const kstd_vectorMtable* mtable) {
    return constructWith(v, elementSize, count, vtable, mtable, Fill::Zero, nullptr);
}

kip_status kstd_vector__constructWithVtableUninit(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                  const kstd_vectorVtable* vtable) {
    return constructWith(v, elementSize, count, vtable, nullptr, Fill::Uninit, nullptr);
}

kip_status kstd_vector__constructFillWithVtable(kstd_vector_* v, intptr_t elementSize, intptr_t count,
                                                const void* element, const kstd_vectorVtable* vtable) {
    return constructWith(v, elementSize, count, vtable, nullptr, Fill::Repeat, element);
}

kip_status kstd_vector__constructFromBlockWithVtable(kstd_vector_* v, intptr_t elementSize, const void* block,
                                                     intptr_t count, const kstd_vectorVtable* vtable) {
    return constructWith(v, elementSize, count, vtable, nullptr, Fill::Copy, block);
}

kip_status kstd_vector__constructCopy(kstd_vector_* v, const kstd_vector_* source) {
    KIP_REQUIRE(source);
    return constructWith(v, source->elementSize, source->size, source->vtable, source->mtable, Fill::Copy,
                         source->begin);
}

kip_status kstd_vector__assign(kstd_vector_* v, const kstd_vector_* source) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(source);
    if (v == source) return 0;
    if (v->elementSize != source->elementSize) return kstd_errInvalidArgument;
    return assignFrom(v, source->begin, source->size);
}

kip_status kstd_vector__assignElements(kstd_vector_* v, const void* elements, intptr_t count) {
    KIP_REQUIRE(v);
    return assignFrom(v, elements, count);
}

kip_status kstd_vector__destruct(kstd_vector_* v) {
    KIP_REQUIRE(v);
    kip_status s = destroyRange(v, at(v, 0), v->size);
    kip_status f = freeBlock(v, v->begin);
    v->begin = nullptr;
    v->size = 0;
    v->capacity = 0;
    return kip::failed(s) ? s : f;
}

kip_status kstd_vector__resize(kstd_vector_* v, intptr_t count) { return resizeTo(v, count, Fill::Zero, nullptr); }

kip_status kstd_vector__resizeUninit(kstd_vector_* v, intptr_t count) {
    return resizeTo(v, count, Fill::Uninit, nullptr);
}

kip_status kstd_vector__resizeFill(kstd_vector_* v, intptr_t count, const void* element) {
    KIP_REQUIRE(element);
    return resizeTo(v, count, Fill::Repeat, element);
}

kip_status kstd_vector__reserve(kstd_vector_* v, intptr_t capacity) {
    KIP_REQUIRE(v);
    if (capacity < 0) return kstd_errInvalidArgument;
    if (capacity <= v->capacity) return 0;
    void* block = nullptr;
    kip_status s = allocElements(v, capacity, &block);
    if (kip::failed(s)) return s;
    if (v->size > 0) std::memcpy(block, v->begin, static_cast<size_t>(v->size * v->elementSize));
    void* old = v->begin;
    v->begin = block;
    v->capacity = capacity;
    return freeBlock(v, old);
}

kip_status kstd_vector__clear(kstd_vector_* v) {
    KIP_REQUIRE(v);
    return eraseRange(v, 0, v->size);
}

kip_status kstd_vector__clearAndFreeMemory(kstd_vector_* v) { return kstd_vector__destruct(v); }

kip_status kstd_vector__swap(kstd_vector_* a, kstd_vector_* b) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    const kstd_vector_ t = *a;
    *a = *b;
    *b = t;
    return 0;
}

kip_status kstd_vector__append(kstd_vector_* v, const kstd_vector_* source) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(source);
    if (v->elementSize != source->elementSize) return kstd_errInvalidArgument;
    // Appending v to itself copies from the old buffer before it is released.
    return insertGap(v, v->size, source->size, Fill::Copy, source->begin);
}

kip_status kstd_vector__getSize32(const kstd_vector_* v, int32_t* size) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(size);
    if (v->size > INT32_MAX) return kstd_errInvalidArgument;
    *size = static_cast<int32_t>(v->size);
    return 0;
}

kip_status kstd_vector__getSize(const kstd_vector_* v, intptr_t* size) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(size);
    *size = v->size;
    return 0;
}

kip_status kstd_vector__getCapacity(const kstd_vector_* v, intptr_t* capacity) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(capacity);
    *capacity = v->capacity;
    return 0;
}

kip_status kstd_vector__getElementSize(const kstd_vector_* v, intptr_t* elementSize) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(elementSize);
    *elementSize = v->elementSize;
    return 0;
}

kip_status kstd_vector__getBegin(kstd_vector_* v, void** begin) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(begin);
    *begin = v->begin;
    return 0;
}

kip_status kstd_vector__getBeginConst(const kstd_vector_* v, const void** begin) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(begin);
    *begin = v->begin;
    return 0;
}

kip_status kstd_vector__getBeginEnd(kstd_vector_* v, void** begin, void** end) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(begin);
    KIP_REQUIRE(end);
    *begin = v->begin;
    *end = v->size > 0 ? at(v, v->size) : v->begin;
    return 0;
}

kip_status kstd_vector__getBeginEndConst(const kstd_vector_* v, const void** begin, const void** end) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(begin);
    KIP_REQUIRE(end);
    *begin = v->begin;
    *end = v->size > 0 ? at(v, v->size) : v->begin;
    return 0;
}

kip_status kstd_vector__getBeginSize32(kstd_vector_* v, void** begin, int32_t* size) {
    KIP_REQUIRE(begin);
    kip_status s = kstd_vector__getSize32(v, size);
    if (kip::failed(s)) return s;
    *begin = v->begin;
    return 0;
}

kip_status kstd_vector__getBeginSize32Const(const kstd_vector_* v, const void** begin, int32_t* size) {
    KIP_REQUIRE(begin);
    kip_status s = kstd_vector__getSize32(v, size);
    if (kip::failed(s)) return s;
    *begin = v->begin;
    return 0;
}

kip_status kstd_vector__getBeginSizeIntPtr(kstd_vector_* v, void** begin, intptr_t* size) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(begin);
    KIP_REQUIRE(size);
    *begin = v->begin;
    *size = v->size;
    return 0;
}

kip_status kstd_vector__getBeginSizeIntPtrConst(const kstd_vector_* v, const void** begin, intptr_t* size) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(begin);
    KIP_REQUIRE(size);
    *begin = v->begin;
    *size = v->size;
    return 0;
}

kip_status kstd_vector__getElement(kstd_vector_* v, intptr_t index, void** element) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(element);
    if (index < 0 || index >= v->size) return kstd_errIndexRange;
    *element = at(v, index);
    return 0;
}

kip_status kstd_vector__getElementConst(const kstd_vector_* v, intptr_t index, const void** element) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(element);
    if (index < 0 || index >= v->size) return kstd_errIndexRange;
    *element = at(v, index);
    return 0;
}

kip_status kstd_vector__getNextElementConst(const kstd_vector_* v, const void* current, const void** next) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(current);
    KIP_REQUIRE(next);
    if (v->size == 0) return kstd_errIndexRange;
    const uintptr_t base = reinterpret_cast<uintptr_t>(v->begin);
    const uintptr_t p = reinterpret_cast<uintptr_t>(current);
    const uintptr_t es = static_cast<uintptr_t>(v->elementSize);
    if (p < base || p - base >= static_cast<uintptr_t>(v->size) * es || (p - base) % es != 0) return kstd_errIndexRange;
    *next = at(v, static_cast<intptr_t>((p - base) / es) + 1);
    return 0;
}

kip_status kstd_vector__getNextElement(kstd_vector_* v, void* current, void** next) {
    KIP_REQUIRE(next);
    const void* n = nullptr;
    kip_status s = kstd_vector__getNextElementConst(v, current, &n);
    if (kip::failed(s)) return s;
    *next = const_cast<void*>(n);
    return 0;
}

kip_status kstd_vector__insert(kstd_vector_* v, intptr_t index, const void* elements, intptr_t count) {
    KIP_REQUIRE(v);
    if (count > 0) KIP_REQUIRE(elements);
    return insertGap(v, index, count, Fill::Copy, elements);
}

kip_status kstd_vector__insertElement(kstd_vector_* v, intptr_t index, const void* element) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(element);
    return insertGap(v, index, 1, Fill::Copy, element);
}

kip_status kstd_vector__erase(kstd_vector_* v, intptr_t index, intptr_t count) {
    KIP_REQUIRE(v);
    return eraseRange(v, index, count);
}

kip_status kstd_vector__eraseElement(kstd_vector_* v, intptr_t index) {
    KIP_REQUIRE(v);
    if (index < 0 || index >= v->size) return kstd_errIndexRange;
    return eraseRange(v, index, 1);
}

kip_status kstd_vector__pushBack(kstd_vector_* v, const void* element) {
    KIP_REQUIRE(v);
    KIP_REQUIRE(element);
    return insertGap(v, v->size, 1, Fill::Copy, element);
}

kip_status kstd_vector__popBack(kstd_vector_* v) {
    KIP_REQUIRE(v);
    if (v->size == 0) return kstd_errIndexRange;
    return eraseRange(v, v->size - 1, 1);
}

}  // extern "C"
