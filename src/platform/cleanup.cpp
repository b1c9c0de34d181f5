// The cleanup registry: runs a function's cleanup table on exit and destroys single entries.
#include <atomic>

#include "platform/assert.hpp"

namespace {

std::atomic<uint32_t> gNextTag{1};

constexpr uint32_t kDestructorBit = 0x20u;
constexpr uint32_t kAlwaysBit = 0x10u;

bool validKind(uint32_t kind) {
    return kind == ksys_cleanupFreeOnFailure || kind == ksys_cleanupDestroyOnFailure ||
           kind == ksys_cleanupFreeAlways || kind == ksys_cleanupDestroyAlways;
}

}  // namespace

extern "C" uint32_t ksys_cleanup_getNextTag(void) { return gNextTag.fetch_add(1, std::memory_order_relaxed); }

extern "C" kip_status ksys_cleanupExecute_(ksys_cleanupEntry* table, int32_t* count, kip_status* status,
                                           uint32_t /*tag*/) {
    KIP_REQUIRE(count);
    KIP_REQUIRE(status);
    KIP_ASSERT(*count >= 0);
    if (*count > 0) KIP_REQUIRE(table);
    const bool failure = kip::failed(*status);
    // Newest first, so a later entry that was built from an earlier one goes before it.
    for (int32_t i = *count - 1; i >= 0; --i) {
        const ksys_cleanupEntry& e = table[i];
        KIP_ASSERT(validKind(e.kind));
        if ((e.kind & kDestructorBit) == 0 || e.destructor == nullptr) continue;
        // The call's outcome is already decided, so a destructor's own failure is dropped.
        if ((e.kind & kAlwaysBit) != 0 || failure) (void)e.destructor(e.address);
    }
    *count = 0;
    return *status;
}

extern "C" kip_status ksys_cleanup_doId_(ksys_cleanupEntry* table, int32_t* count, kip_status* status, uint32_t id,
                                         uint32_t execute) {
    KIP_REQUIRE(count);
    KIP_REQUIRE(status);
    if (execute > 1) return kstd_errInvalidArgument;
    if (*count <= 0) return kstd_errIndexRange;
    KIP_REQUIRE(table);
    int32_t found = -1;
    for (int32_t i = *count - 1; i >= 0; --i) {
        if (table[i].id == id) {
            found = i;
            break;
        }
    }
    if (found < 0) return kstd_errIndexRange;
    const ksys_cleanupEntry entry = table[found];
    // Keep the remaining entries in registration order so execute still runs newest first.
    for (int32_t i = found + 1; i < *count; ++i) table[i - 1] = table[i];
    --*count;
    kip_status s = 0;
    if (execute == 1 && entry.destructor != nullptr) s = entry.destructor(entry.address);
    if (kip::failed(s) && !kip::failed(*status)) *status = s;
    return s;
}
