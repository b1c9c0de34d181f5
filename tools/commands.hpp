// kipf's top-level commands.
#pragma once

#include <string>
#include <vector>

#include "family.hpp"

namespace kipf {

// Both return the exit status; UsageError escapes to the caller.
int runFilter(const Command& command, const std::vector<std::string>& args);
int runDemo(const std::vector<std::string>& args);

std::string filterHelp(const Command& command);
std::string demoHelp();

// One line on stderr: "kipf: message", after clearing a progress line if one is shown.
void report(const std::string& message);

}  // namespace kipf
