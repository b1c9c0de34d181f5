// Built with the flags of the library's *_sse41.cpp files.
#include "kip/platform/system.h"

namespace {
#include "isa/probe.inc"
}  // namespace

uint32_t isaProbe_sse41() { return compiledFeatures(); }
