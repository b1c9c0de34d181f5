// The cleanup table a function keeps in its own frame. Members and scratch are registered as
// they are built; finish() runs the table with the final status: kinds 49/50 always, kinds
// 33/34 only on failure. A table that was never finished runs at scope exit with its status.
#pragma once

#include "platform/assert.hpp"

namespace kip {

template <class T, kip_status (*Destroy)(T*)>
kip_status destroyThunk(void* address) {
    return Destroy(static_cast<T*>(address));
}

template <class T>
kip_status freeThunk(void* address) {
    T** typed = static_cast<T**>(address);
    void* block = *typed;
    kip_status s = ksys_memory_free_internal(&block);
    *typed = nullptr;
    return s;
}

// Puts a freshly built object in place of a constructed one. The old one is destroyed first; if
// that fails the built one is destroyed as well, so nothing leaks, and the failure is returned.
template <class T, kip_status (*Destroy)(T*)>
kip_status replaceWithBuilt(T* destination, T* built) {
    const kip_status s = Destroy(destination);
    if (failed(s)) {
        Destroy(built);
        return s;
    }
    *destination = *built;
    return s;
}

template <int N>
class Cleanup {
    static_assert(N >= 1 && N <= 5, "a cleanup table holds 1 to 5 entries");

public:
    Cleanup() : tag_(ksys_cleanup_getNextTag()) {}
    ~Cleanup() {
        if (count_ > 0) ksys_cleanupExecute_(table_, &count_, &status_, tag_);
    }
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;

    // Registers an object with its destruct operation (kind 34 or 50). Returns the entry's id.
    template <class T, kip_status (*Destroy)(T*)>
    uint32_t addObject(uint32_t kind, T* object) {
        KIP_ASSERT(kind == ksys_cleanupDestroyOnFailure || kind == ksys_cleanupDestroyAlways);
        return add(kind, object, &destroyThunk<T, Destroy>);
    }
    // Registers the address of a block pointer, freed with the system allocator (kind 33 or 49).
    template <class T>
    uint32_t addBlock(uint32_t kind, T** blockPointer) {
        KIP_ASSERT(kind == ksys_cleanupFreeOnFailure || kind == ksys_cleanupFreeAlways);
        return add(kind, blockPointer, &freeThunk<T>);
    }

    // Destroys the entry with that id now and drops it from the table.
    kip_status destroyId(uint32_t id) { return ksys_cleanup_doId_(table_, &count_, &status_, id, 1); }

    // Runs the table with the call's final status and returns it.
    kip_status finish(kip_status status) {
        status_ = status;
        KIP_ASSERT(count_ >= 0 && count_ <= N);
        return ksys_cleanupExecute_(table_, &count_, &status_, tag_);
    }

    int32_t count() const { return count_; }
    uint32_t nextId() const { return nextId_; }
    void setNextIdForTest(uint32_t id) { nextId_ = id; }

private:
    uint32_t add(uint32_t kind, void* address, ksys_cleanupDestructor destructor) {
        KIP_ASSERT(count_ >= 0 && count_ < N);
        if (count_ < 0 || count_ >= N) return 0xFFFFFFFFu;
        if (nextId_ == 0xFFFFFFFFu) nextId_ = 0;
        uint32_t id = nextId_++;
        table_[count_] = ksys_cleanupEntry{id, kind, address, destructor};
        ++count_;
        return id;
    }

    ksys_cleanupEntry table_[N] = {};
    int32_t count_ = 0;
    uint32_t nextId_ = 0;
    uint32_t tag_;
    kip_status status_ = 0;
};

}  // namespace kip
