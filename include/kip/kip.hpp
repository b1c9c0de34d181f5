// kip for C++: every family's C++ header. Include a family's own header (kip/convolve.hpp, ...)
// to pull in less; kip/image.hpp holds the images, windows and errors they share.
#ifndef KIP_KIP_HPP
#define KIP_KIP_HPP

#include "kip/convolve.hpp"
#include "kip/image.hpp"
#include "kip/mask_kernel.hpp"
#include "kip/median.hpp"
#include "kip/morphology.hpp"
#include "kip/pelsub.hpp"
#include "kip/rank.hpp"

#endif
