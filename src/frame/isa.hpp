// Instruction sets of the SIMD files and the run-time check for each. A file named *_sse2.cpp,
// *_sse41.cpp, *_avx2.cpp or *_avx512.cpp is built with the compiler flags of its set
// (src/CMakeLists.txt); the features below are everything those flags let the compiler use, and
// a set is offered only when the processor reports all of them.
//
// Plain data and declarations only: files built with wider flags may include this header, and an
// inline function compiled there could be the copy the linker keeps for everyone.
#pragma once

#include <cstdint>

#include "kip/platform/system.h"

namespace kip {

enum class Isa : uint32_t { Sse2, Sse41, Avx2, Avx512 };

// -msse2
inline constexpr uint32_t kIsaSse2Features = ksys_cpuFeatureSse2;
// -msse4.1 (with SSE3 and SSSE3)
inline constexpr uint32_t kIsaSse41Features =
    kIsaSse2Features | ksys_cpuFeatureSse3 | ksys_cpuFeatureSsse3 | ksys_cpuFeatureSse41;
// -mavx2 (with AVX, SSE4.2, POPCNT and XSAVE; the AVX bit already requires the OS's XSAVE support)
inline constexpr uint32_t kIsaAvx2Features =
    kIsaSse41Features | ksys_cpuFeatureSse42 | ksys_cpuFeaturePopcnt | ksys_cpuFeatureAvx | ksys_cpuFeatureAvx2;
// -mavx512bw -mavx512vl (with AVX-512F and AVX2; with FMA and F16C as well under clang)
inline constexpr uint32_t kIsaAvx512Features =
    kIsaAvx2Features | ksys_cpuFeatureAvx512bw | ksys_cpuFeatureAvx512vl | ksys_cpuFeatureFma | ksys_cpuFeatureF16c;

// The features a set needs.
uint32_t isaFeatures(Isa isa);

// Whether a CPU information record offers the set: an x86 processor reporting every feature.
bool isaOffered(const ksys_cpuinfo& info, Isa isa);

// *available := whether this build holds code for the set and the processor, as reported by
// ksys_cpuinfo_init (after its test mask), offers it. Fails only when ksys_cpuinfo_init does.
kip_status isaAvailable(Isa isa, bool* available);

}  // namespace kip
