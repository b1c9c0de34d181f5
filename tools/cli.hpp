// Command-line parsing shared by kipf's commands.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kip/platform/types.h"

namespace kipf {

// A mistake in the command line: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line that is well formed but asks for something kipf will not do (write over an
// input): exit status 2, without pointing to the help.
struct Refusal : UsageError {
    using UsageError::UsageError;
};

struct OptionSpec {
    const char* name;   // long name without the dashes
    const char* value;  // placeholder for its value, null for a flag
    const char* help;
    char shortName = 0;
};

class Options {
public:
    // Splits args into options listed in specs and positional arguments. --name=value and
    // --name value both work; "--" ends the options. Unknown options are a UsageError.
    Options(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

    bool has(const std::string& name) const { return values_.count(name) != 0; }
    std::string get(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
};

// "5x7" or "5": odd, positive sizes of a neighbourhood.
kstd_pair32 parseSize(const std::string& text);
// "X,Y,W,H" with W and H positive.
kstd_rect32 parseRoi(const std::string& text);
// A whole number in [low, high]; option names the option for the message.
int64_t parseInteger(const std::string& text, const std::string& option, int64_t low, int64_t high);

// Option lines for --help: "  --size WxH     help".
std::string describeOptions(const std::vector<OptionSpec>& specs);

std::string sizeText(kstd_pair32 size);

}  // namespace kipf
