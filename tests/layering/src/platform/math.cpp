// A platform file reaching up into a family: the layering check must refuse it.
#include "convolve/variants.hpp"
