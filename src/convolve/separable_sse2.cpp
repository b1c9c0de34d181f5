// SSE2 kernels of the separable convolution (separable_kernels.hpp over this set's lanes).
#include "convolve/separable_isa.hpp"

#if defined(__SSE2__)
#include "convolve/lanes_sse2.hpp"
#include "convolve/separable_kernels.hpp"

namespace kip::convolve {
const SeparableIsa kSeparableIsaSse2 = SeparableKernels<sse2::Lanes>::table();
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const SeparableIsa kSeparableIsaSse2 = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
