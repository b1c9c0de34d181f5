#include "kip/platform/stdtypes.h"

extern "C" {
KIP_API int32_t (*kprt_isOptimizationInhibitedFP)(const uint16_t* label) = nullptr;
}
