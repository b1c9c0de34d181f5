// The typed vectors of the standard-types layer.
#include "platform/typed_vector.hpp"

KSTD_DEFINE_TYPED_VECTOR(kstd_vector32s, int32_t)
KSTD_DEFINE_TYPED_VECTOR(kstd_vector_kstd_pair32, kstd_pair32)
