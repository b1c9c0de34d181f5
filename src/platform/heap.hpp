// Heap variants of an object type: T_new, T_newWith..., T_newClone, T_delete.
#pragma once

#include <utility>

#include "platform/assert.hpp"

namespace kip {

// T_delete: null pointer is fine; a failing destruct keeps the block.
template <class T, kip_status (*Destruct)(T*)>
kip_status heapDelete(T** pp) {
    KIP_REQUIRE(pp);
    if (*pp == nullptr) return 0;
    kip_status s = Destruct(*pp);
    if (failed(s)) return s;
    void* block = *pp;
    s = ksys_memory_free_internal(&block);
    *pp = nullptr;
    return s;
}

// T_new / T_newWithSize / ...: destroys what *pp holds, then allocates and constructs.
template <class T, kip_status (*Destruct)(T*), class Construct, class... Args>
kip_status heapNewWith(T** pp, Construct construct, Args&&... args) {
    KIP_REQUIRE(pp);
    kip_status s = heapDelete<T, Destruct>(pp);
    if (failed(s)) return s;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(sizeof(T), &block);
    if (failed(s)) return s;
    T* object = static_cast<T*>(block);
    s = construct(object, std::forward<Args>(args)...);
    if (failed(s)) {
        ksys_memory_free_internal(&block);
        return s;
    }
    *pp = object;
    return s;
}

// T_newClone: null source acts as delete; a failing assign deletes the new object.
template <class T, kip_status (*Construct)(T*), kip_status (*Destruct)(T*), kip_status (*Assign)(T*, const T*)>
kip_status heapNewClone(T** pp, const T* source) {
    KIP_REQUIRE(pp);
    if (source == nullptr) return heapDelete<T, Destruct>(pp);
    kip_status s = heapNewWith<T, Destruct>(pp, Construct);
    if (failed(s)) return s;
    s = Assign(*pp, source);
    if (failed(s)) heapDelete<T, Destruct>(pp);
    return s;
}

}  // namespace kip
