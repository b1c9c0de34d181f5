// The typed vectors of row records and run-block pointers.
#include "kip/rle_image.h"
#include "platform/typed_vector.hpp"

KSTD_DEFINE_TYPED_VECTOR(kstd_vector_kip_rleRow8, kip_rleRow8)
KSTD_DEFINE_TYPED_VECTOR(kstd_vector_kip_rleRun8Ptr, kip_rleRun8Ptr)
