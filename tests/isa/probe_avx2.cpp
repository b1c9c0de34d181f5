// Built with the flags of the library's *_avx2.cpp files.
#include "kip/platform/system.h"

namespace {
#include "isa/probe.inc"
}  // namespace

uint32_t isaProbe_avx2() { return compiledFeatures(); }
