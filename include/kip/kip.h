/* kip: neighbourhood filters for 8-bit and 16-bit grey images. Umbrella header. */
#ifndef KIP_KIP_H
#define KIP_KIP_H

#include "kip/convolve.h"
#include "kip/encoded_kernel.h"
#include "kip/mask_kernel.h"
#include "kip/median.h"
#include "kip/morphology.h"
#include "kip/pelsub.h"
#include "kip/platform/image.h"
#include "kip/platform/job.h"
#include "kip/platform/math.h"
#include "kip/platform/pixel.h"
#include "kip/platform/stdtypes.h"
#include "kip/platform/system.h"
#include "kip/platform/types.h"
#include "kip/rank.h"
#include "kip/rle_image.h"
#include "kip/status.h"
#include "kip/version.h"
#include "kip/window.h"

#endif
