#include "cli.hpp"

#include <charconv>

namespace kipf {

Options::Options(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
    auto find = [&](const std::string& name, char shortName) -> const OptionSpec* {
        for (const OptionSpec& s : specs)
            if ((shortName == 0 && name == s.name) || (shortName != 0 && shortName == s.shortName)) return &s;
        return nullptr;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* option;
        std::string name, value;
        bool inlineValue = false;
        if (arg[1] == '-') {
            std::size_t eq = arg.find('=');
            name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                inlineValue = true;
            }
            option = find(name, 0);
        } else {
            if (arg.size() != 2) throw UsageError("unknown option " + arg);
            option = find("", arg[1]);
        }
        if (!option) throw UsageError("unknown option " + arg);
        name = option->name;
        if (option->value == nullptr) {
            if (inlineValue) throw UsageError("--" + name + " takes no value");
        } else if (!inlineValue) {
            if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value (" + option->value + ")");
            value = args[++i];
        }
        values_[name] = value;
    }
}

std::string Options::get(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

namespace {
bool toInt(const std::string& text, int64_t& out) {
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, out);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}
}  // namespace

int64_t parseInteger(const std::string& text, const std::string& option, int64_t low, int64_t high) {
    int64_t v;
    if (!toInt(text, v) || v < low || v > high)
        throw UsageError("--" + option + " " + text + ": expected a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    return v;
}

kstd_pair32 parseSize(const std::string& text) {
    std::size_t x = text.find_first_of("xX");
    std::string ws = text.substr(0, x), hs = x == std::string::npos ? ws : text.substr(x + 1);
    int64_t w, h;
    if (!toInt(ws, w) || !toInt(hs, h)) throw UsageError("--size " + text + ": expected WIDTHxHEIGHT, for example 5x5");
    if (w < 1 || h < 1 || w % 2 == 0 || h % 2 == 0 || w > 4095 || h > 4095)
        throw UsageError("--size " + text + ": width and height must be odd, from 1 to 4095");
    return kstd_pair32{static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

kstd_rect32 parseRoi(const std::string& text) {
    int64_t v[4];
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t comma = i < 3 ? text.find(',', at) : text.size();
        if (comma == std::string::npos || !toInt(text.substr(at, comma - at), v[i]))
            throw UsageError("--roi " + text + ": expected X,Y,WIDTH,HEIGHT");
        at = comma + 1;
    }
    if (at <= text.size()) throw UsageError("--roi " + text + ": expected X,Y,WIDTH,HEIGHT");
    if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1 || v[0] + v[2] > INT32_MAX || v[1] + v[3] > INT32_MAX)
        throw UsageError("--roi " + text + ": X and Y must be 0 or more, WIDTH and HEIGHT 1 or more");
    return kstd_rect32{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2]),
                       static_cast<int32_t>(v[3])};
}

std::string describeOptions(const std::vector<OptionSpec>& specs) {
    std::string out;
    for (const OptionSpec& s : specs) {
        std::string left = "  ";
        left += s.shortName ? std::string("-") + s.shortName + ", " : std::string("    ");
        left += std::string("--") + s.name + (s.value ? std::string(" ") + s.value : std::string());
        if (left.size() < 28)
            left.resize(28, ' ');
        else
            left += "\n" + std::string(28, ' ');
        std::string help = s.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 29))
            help.insert(at + 1, 28, ' ');
        out += left + help + "\n";
    }
    return out;
}

std::string sizeText(kstd_pair32 size) { return std::to_string(size.x) + "x" + std::to_string(size.y); }

}  // namespace kipf
