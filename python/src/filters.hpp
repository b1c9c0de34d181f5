#pragma once

#include <pybind11/pybind11.h>

namespace kippy {
// Registers the filter calls on the extension module.
void addFilters(pybind11::module_& m);
}  // namespace kippy
