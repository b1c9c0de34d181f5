// Built with the flags of the library's *_avx512.cpp files.
#include "kip/platform/system.h"

namespace {
#include "isa/probe.inc"
}  // namespace

uint32_t isaProbe_avx512() { return compiledFeatures(); }
