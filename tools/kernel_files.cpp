// Kernels and weights from files: drawn masks and text grids of whole numbers.
#include <sstream>

#include "family.hpp"

namespace kipf {

kip::mask_kernel drawnKernel(const std::string& path) {
    const Raster r = readImage(path);
    std::vector<uint8_t> members(r.pixels());
    for (std::size_t i = 0; i < members.size(); ++i)
        members[i] = (r.bits == 8 ? r.grey8[i] != 0 : r.grey16[i] != 0) ? 255 : 0;
    if (r.width % 2 == 0 || r.height % 2 == 0)
        throw UsageError("--kernel " + path + ": the mask is " + std::to_string(r.width) + "x" +
                         std::to_string(r.height) + "; width and height must be odd");
    return kip::mask_kernel(r.width, r.height, std::span<const uint8_t>(members));
}

WeightGrid parseWeightGrid(std::istream& in, const std::string& path, int64_t low, int64_t high, bool allowGaps) {
    WeightGrid g;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == ',' || c == ';' || c == '\t' || c == '\r') c = ' ';
        std::istringstream fields(line);
        std::string field;
        int32_t count = 0;
        while (fields >> field) {
            const bool gap = allowGaps && field == ".";
            std::size_t used = 0;
            long long v = 0;
            if (!gap) {
                try {
                    v = std::stoll(field, &used);
                } catch (const std::exception&) {
                    used = 0;
                }
                if (used != field.size() || v < low || v > high)
                    throw InputError(path + ":" + std::to_string(lineNo) + ": '" + field +
                                     "' is not a weight (whole numbers from " + std::to_string(low) + " to " +
                                     std::to_string(high) + (allowGaps ? ", or . for no member" : "") + ")");
            }
            g.weights.push_back(v);
            g.members.push_back(gap ? 0 : 255);
            ++count;
        }
        if (count == 0) continue;
        if (g.size.y > 0 && count != g.size.x)
            throw InputError(path + ":" + std::to_string(lineNo) + ": row of " + std::to_string(count) +
                             " weights, the first had " + std::to_string(g.size.x));
        g.size.x = count;
        ++g.size.y;
    }
    if (g.size.y == 0) throw InputError(path + ": kernel file has no weights");
    if (g.size.x % 2 == 0 || g.size.y % 2 == 0)
        throw InputError(path + ": kernel is " + sizeText(g.size) + "; width and height must be odd");
    return g;
}

}  // namespace kipf
