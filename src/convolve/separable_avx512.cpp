// AVX-512BW kernels of the separable convolution (separable_kernels.hpp over this set's lanes).
#include "convolve/separable_isa.hpp"

#if defined(__AVX512BW__)
#include "convolve/lanes_avx512.hpp"
#include "convolve/separable_kernels.hpp"

namespace kip::convolve {
const SeparableIsa kSeparableIsaAvx512 = SeparableKernels<avx512::Lanes>::table();
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const SeparableIsa kSeparableIsaAvx512 = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
