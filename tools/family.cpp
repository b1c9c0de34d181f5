#include "family.hpp"

namespace kipf {

const std::vector<Family>& families() {
    static const std::vector<Family> all = {
#define KIPF_FAMILY(name) name##Family(),
#include "families.def"
#undef KIPF_FAMILY
    };
    return all;
}

std::vector<const Command*> commands() {
    std::vector<const Command*> out;
    for (const Family& f : families()) out.push_back(&f.command);
    return out;
}

std::vector<const DemoStep*> demoSteps() {
    std::vector<const DemoStep*> out;
    for (const Family& f : families())
        for (const DemoStep& s : f.steps) out.push_back(&s);
    return out;
}

}  // namespace kipf
