#include "frame/isa.hpp"

#include "platform/assert.hpp"

namespace kip {

uint32_t isaFeatures(Isa isa) {
    switch (isa) {
        case Isa::Sse2:
            return kIsaSse2Features;
        case Isa::Sse41:
            return kIsaSse41Features;
        case Isa::Avx2:
            return kIsaAvx2Features;
        case Isa::Avx512:
            return kIsaAvx512Features;
    }
    return 0xFFFFFFFFu;
}

bool isaOffered(const ksys_cpuinfo& info, Isa isa) {
    // Other processors get the SIMD files built without flags: they hold no kernels.
    const uint32_t needed = isaFeatures(isa);
    return info.kind != ksys_cpuKindOther && (info.features & needed) == needed;
}

kip_status isaAvailable(Isa isa, bool* available) {
    KIP_REQUIRE(available);
    ksys_cpuinfo info;
    const kip_status s = ksys_cpuinfo_init(&info);
    if (failed(s)) return s;
    *available = isaOffered(info, isa);
    return s;
}

}  // namespace kip
