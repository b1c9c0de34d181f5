// Picks the widest table of instruction-set kernels the processor runs. For the baseline files
// that dispatch; the instruction-set files never include it.
#pragma once

#include <initializer_list>
#include <utility>

#include "frame/isa.hpp"
#include "kip/status.h"

namespace kip::convolve {

// *out := the first table, widest first, whose set is available and that holds kernels (ready);
// null when none. A table without kernels comes from a build for another processor.
template <class Table, class Ready>
kip_status selectWidest(const Table** out, std::initializer_list<std::pair<Isa, const Table*>> widestFirst,
                        Ready ready) {
    *out = nullptr;
    for (const auto& [set, table] : widestFirst) {
        bool available = false;
        const kip_status s = isaAvailable(set, &available);
        if (s < 0) return s;
        if (available && ready(*table)) {
            *out = table;
            break;
        }
    }
    return 0;
}

}  // namespace kip::convolve
