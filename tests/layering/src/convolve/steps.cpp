// Allowed: own folder, folders below, public headers, system headers.
#include <cstdint>

#include "convolve/variants.hpp"
#include "frame/cleanup.hpp"
#include "kip/convolve.h"
#include "platform/assert.hpp"
// Refused: a path that climbs out of the folder, and a folder convolve does not stand on.
#include "../kernel/mask_kernel.cpp"
#include "rank/engine.hpp"
