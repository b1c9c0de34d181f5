// The part every filter subcommand shares: inputs and outputs, mask, window, progress, errors.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "commands.hpp"

namespace kipf {
namespace {

const std::vector<OptionSpec>& commonOptions() {
    static const std::vector<OptionSpec> specs = {
        {"mask", "MASK", "8-bit image of the input's size: filter only where it is non-zero"},
        {"roi", "X,Y,W,H", "filter only this window of the input"},
        {"out-dir", "DIR", "write each result to DIR under its input's name\n(then every argument is an input)", 'o'},
        {"grey", nullptr, "convert colour input to grey (Rec. 601 luma) instead of refusing it"},
        {"threads", "N", "threads a filter may use (0, the default: one per hardware thread)"},
        {"quiet", nullptr, "no progress line", 'q'},
        {"help", nullptr, "show this help", 'h'},
    };
    return specs;
}

bool gProgressShown = false;

class Progress {
public:
    Progress(bool enabled, std::size_t total) : enabled_(enabled && isatty(STDERR_FILENO)), total_(total) {}
    ~Progress() { clear(); }
    void show(std::size_t index, const std::string& name) {
        if (!enabled_) return;
        std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", index + 1, total_, name.c_str());
        std::fflush(stderr);
        gProgressShown = true;
    }
    static void clear() {
        if (!gProgressShown) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        gProgressShown = false;
    }

private:
    bool enabled_;
    std::size_t total_;
};

struct Job {
    std::string input;
    std::string output;
};

std::vector<Job> planJobs(const Options& o) {
    const std::vector<std::string>& args = o.positional();
    std::vector<Job> jobs;
    FileFormat format;
    if (!o.has("out-dir")) {
        if (args.size() != 2) throw UsageError("expected INPUT OUTPUT (or inputs with --out-dir DIR)");
        if (!formatForPath(args[1], format))
            throw UsageError(args[1] + ": unknown output format (use .png, .pgm or .tif)");
        jobs.push_back({args[0], args[1]});
    } else {
        if (args.empty()) throw UsageError("no input files");
        std::set<std::string> outputs;
        for (const std::string& in : args) {
            std::filesystem::path name = std::filesystem::path(in).filename();
            if (name.empty()) throw UsageError(in + ": not a file name");
            if (!formatForPath(name.string(), format)) name += ".png";
            std::string out = (std::filesystem::path(o.get("out-dir")) / name).string();
            if (!outputs.insert(out).second) throw UsageError("two inputs would both be written to " + out);
            jobs.push_back({in, out});
        }
    }
    for (const Job& j : jobs)
        if (formatForPath(j.output, format) && format == FileFormat::tiff && !tiffSupported())
            throw UsageError(j.output + ": TIFF output needs libtiff, which this kipf was built without");
    return jobs;
}

Raster readMask(const std::string& path, const ReadOptions& options) {
    Raster m = readImage(path, options);
    if (m.bits == 16) {
        Raster selection = Raster::make(m.width, m.height, 8);
        for (std::size_t i = 0; i < m.grey16.size(); ++i) selection.grey8[i] = m.grey16[i] ? 255 : 0;
        return selection;
    }
    return m;
}

void filterOne(const Filter& filter, const Job& job, const Raster* mask, const std::string& maskPath,
               const std::optional<kstd_rect32>& roi, const ReadOptions& options) {
    Raster source = readImage(job.input, options);
    auto dims = [](const Raster& r) { return std::to_string(r.width) + "x" + std::to_string(r.height); };
    if (mask && !mask->sameSize(source))
        throw InputError(maskPath + ": mask is " + dims(*mask) + " but " + job.input + " is " + dims(source));
    if (roi && (int64_t{roi->x} + roi->width > source.width || int64_t{roi->y} + roi->height > source.height))
        throw InputError(job.input + ": --roi " + std::to_string(roi->x) + "," + std::to_string(roi->y) + "," +
                         std::to_string(roi->width) + "," + std::to_string(roi->height) + " reaches outside the " +
                         dims(source) + " image");
    Raster result;
    try {
        result = filter(FilterInput{job.input, source, mask, roi});
    } catch (const kip::error& e) {
        throw InputError(job.input + ": filter failed: " + e.name());
    }
    writeImage(job.output, result);
}

}  // namespace

void report(const std::string& message) {
    Progress::clear();
    std::fprintf(stderr, "kipf: %s\n", message.c_str());
}

std::string filterHelp(const Command& c) {
    std::vector<OptionSpec> all = c.options;
    all.insert(all.end(), commonOptions().begin(), commonOptions().end());
    return "usage: kipf " + c.name + " [options] INPUT OUTPUT\n" + "       kipf " + c.name +
           " [options] INPUT... --out-dir DIR\n\n" + c.description + "\nInputs are grey PNG, binary PGM (P5)" +
           (tiffSupported() ? " or TIFF" : "") +
           ", 8 or 16 bit; the output format follows OUTPUT's\nextension (.png, .pgm" +
           (tiffSupported() ? ", .tif" : "") + ").\n\noptions:\n" + describeOptions(all) + "\nexamples:\n" +
           c.examples + "\nExit status: 0 done, 1 bad input (the message names the file), 2 bad usage.\n";
}

int runFilter(const Command& command, const std::vector<std::string>& args) {
    std::vector<OptionSpec> specs = command.options;
    specs.insert(specs.end(), commonOptions().begin(), commonOptions().end());
    Options o(args, specs);
    if (o.has("help")) {
        std::fputs(filterHelp(command).c_str(), stdout);
        return 0;
    }
    std::vector<Job> jobs = planJobs(o);
    std::optional<kstd_rect32> roi;
    if (o.has("roi")) roi = parseRoi(o.get("roi"));
    if (o.has("threads"))
        ksys_jobSetThreadCount(static_cast<uint32_t>(parseInteger(o.get("threads"), "threads", 0, 1024)));
    ReadOptions readOptions{o.has("grey")};

    Filter filter;
    Raster mask;
    std::string maskPath = o.get("mask");
    try {
        filter = command.prepare(o);
        if (o.has("mask")) mask = readMask(maskPath, readOptions);
        if (o.has("out-dir")) {
            std::error_code ec;
            std::filesystem::create_directories(o.get("out-dir"), ec);
            if (ec) throw InputError(o.get("out-dir") + ": cannot create folder: " + ec.message());
        }
    } catch (const InputError& e) {
        report(e.what());
        return 1;
    } catch (const kip::error& e) {
        report(command.name + ": " + e.name());
        return 1;
    }

    int failures = 0;
    Progress progress(!o.has("quiet"), jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        progress.show(i, jobs[i].input);
        try {
            filterOne(filter, jobs[i], o.has("mask") ? &mask : nullptr, maskPath, roi, readOptions);
        } catch (const InputError& e) {
            report(e.what());
            ++failures;
        } catch (const std::bad_alloc&) {
            report(jobs[i].input + ": out of memory");
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

}  // namespace kipf
