#include "family.hpp"

#include <algorithm>

namespace kipf {
namespace {
struct Family {
    Command command;
    std::vector<DemoStep> steps;
};
// Function-local so registrations from any file's static initialisers find it constructed.
std::vector<Family>& families() {
    static std::vector<Family> all;
    return all;
}
}  // namespace

Registration::Registration(Command command, std::vector<DemoStep> steps) {
    auto& all = families();
    all.push_back(Family{std::move(command), std::move(steps)});
    std::stable_sort(all.begin(), all.end(),
                     [](const Family& a, const Family& b) { return a.command.order < b.command.order; });
}

const std::vector<Command>& commands() {
    static const std::vector<Command> list = [] {
        std::vector<Command> out;
        for (const Family& f : families()) out.push_back(f.command);
        return out;
    }();
    return list;
}

std::vector<const DemoStep*> demoSteps() {
    std::vector<const DemoStep*> out;
    for (const Family& f : families())
        for (const DemoStep& s : f.steps) out.push_back(&s);
    return out;
}

}  // namespace kipf
