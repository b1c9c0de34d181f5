// The part every filter subcommand shares: inputs and outputs, mask, window, progress, errors.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "commands.hpp"

namespace kipf {
namespace {

const std::vector<OptionSpec>& commonOptions() {
    static const std::vector<OptionSpec> specs = {
        {"mask", "MASK", "image of the input's size (8 or 16 bit): filter only where it is\nnon-zero"},
        {"roi", "X,Y,W,H", "filter only this window of the input"},
        {"output", "FILE", "write the result to FILE (then the one argument is the input)", 'o'},
        {"out-dir", "DIR", "write each result to DIR under its input's name\n(then every argument is an input)"},
        {"in-place", nullptr,
         "replace each input by its result (then every argument is an input);\nwithout it kipf refuses to write over "
         "an "
         "input"},
        {"png-level", "N", "zlib level of PNG output, 0 (none) to 9 (smallest, slowest);\ndefault 1"},
        {"grey", nullptr, "convert colour input to grey (Rec. 601 luma) instead of refusing it"},
        {"threads", "N", "threads a filter may use (0, the default: one per hardware thread)"},
        {"quiet", nullptr, "no progress line", 'q'},
        {"help", nullptr, "show this help", 'h'},
    };
    return specs;
}

// The progress line is drawn by the main thread (file changes, messages) and by the ticker that
// shows the elapsed time of a long file; the lock keeps their writes whole.
std::mutex gProgressLock;
bool gProgressShown = false;

// "[i/n] name", and after the first second of a file its elapsed seconds, so that a long filter
// run on a terminal is seen to be working.
class Progress {
public:
    Progress(bool enabled, std::size_t total) : enabled_(enabled && isatty(STDERR_FILENO)), total_(total) {
        if (enabled_) ticker_ = std::thread([this] { tick(); });
    }
    ~Progress() {
        if (ticker_.joinable()) {
            {
                std::lock_guard<std::mutex> hold(gProgressLock);
                stop_ = true;
            }
            wake_.notify_one();
            ticker_.join();
        }
        clear();
    }
    void show(std::size_t index, const std::string& name) {
        if (!enabled_) return;
        std::lock_guard<std::mutex> hold(gProgressLock);
        char counter[48];
        std::snprintf(counter, sizeof counter, "[%zu/%zu] ", index + 1, total_);
        label_ = counter;
        label_ += name;
        started_ = std::chrono::steady_clock::now();
        draw("");
    }
    static void clear() {
        std::lock_guard<std::mutex> hold(gProgressLock);
        clearLocked();
    }
    static void clearLocked() {
        if (!gProgressShown) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        gProgressShown = false;
    }

private:
    void draw(const std::string& suffix) {
        std::fprintf(stderr, "\r\033[K%s%s", label_.c_str(), suffix.c_str());
        std::fflush(stderr);
        gProgressShown = true;
    }
    void tick() {
        std::unique_lock<std::mutex> hold(gProgressLock);
        while (!wake_.wait_for(hold, std::chrono::milliseconds(500), [this] { return stop_; })) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
            if (label_.empty() || seconds < 1) continue;
            char elapsed[32];
            std::snprintf(elapsed, sizeof elapsed, "  %lld s", static_cast<long long>(seconds));
            draw(elapsed);
        }
    }

    bool enabled_;
    std::size_t total_;
    std::string label_;
    std::chrono::steady_clock::time_point started_;
    bool stop_ = false;
    std::condition_variable wake_;
    std::thread ticker_;
};

struct Job {
    std::string input;
    std::string output;
};

std::vector<Job> planJobs(const Options& o) {
    const std::vector<std::string>& args = o.positional();
    int forms = int{o.has("output")} + int{o.has("out-dir")} + int{o.has("in-place")};
    if (forms > 1) throw UsageError("give only one of -o FILE, --out-dir DIR and --in-place");
    std::vector<Job> jobs;
    if (o.has("out-dir")) {
        if (args.empty()) throw UsageError("no input files");
        std::set<std::string> outputs;
        for (const std::string& in : args) {
            std::filesystem::path name = std::filesystem::path(in).filename();
            if (name.empty()) throw UsageError(in + ": not a file name");
            FileFormat format;
            if (!formatForPath(name.string(), format)) name += ".png";
            std::string out = (std::filesystem::path(o.get("out-dir")) / name).string();
            if (!outputs.insert(std::filesystem::path(out).lexically_normal().string()).second)
                throw UsageError("two inputs would both be written to " + out);
            jobs.push_back({in, out});
        }
    } else if (o.has("in-place")) {
        if (args.empty()) throw UsageError("no input files");
        for (const std::string& in : args) jobs.push_back({in, in});
    } else if (o.has("output")) {
        if (args.size() != 1) throw UsageError("expected one INPUT with -o OUTPUT");
        jobs.push_back({args[0], o.get("output")});
    } else {
        if (args.size() != 2)
            throw UsageError("expected INPUT OUTPUT (or INPUT -o OUTPUT, or inputs with --out-dir DIR)");
        jobs.push_back({args[0], args[1]});
    }
    for (const Job& j : jobs) {
        FileFormat format;
        if (!formatForPath(j.output, format))
            throw UsageError(j.output + ": unknown output format (use .png, .pgm or .tif)");
        if (format == FileFormat::tiff && !tiffSupported())
            throw UsageError(j.output + ": TIFF output needs libtiff, which this kipf was built without");
    }
    return jobs;
}

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

// Follows links, so a link, a hard link or another spelling of a path all give the same file.
std::optional<FileId> identify(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// Before anything is written: no output may be a file that some input of the run (or the mask)
// is, unless --in-place asks for exactly that, one input over itself.
void refuseToOverwriteInputs(const std::vector<Job>& jobs, const std::string& maskPath, bool inPlace) {
    struct Named {
        FileId id;
        std::string path;
        bool mask;
    };
    std::vector<Named> inputs;
    for (const Job& j : jobs)
        if (auto id = identify(j.input)) inputs.push_back({*id, j.input, false});
    if (!maskPath.empty())
        if (auto id = identify(maskPath)) inputs.push_back({*id, maskPath, true});
    for (const Job& j : jobs) {
        std::optional<FileId> out = identify(j.output);
        if (!out) continue;
        for (const Named& in : inputs) {
            if (in.id != *out || (inPlace && !in.mask && in.path == j.input)) continue;
            if (in.mask) throw Refusal(j.output + " is the mask file " + in.path + "; kipf will not write over it");
            if (inPlace) throw Refusal(j.output + " and " + in.path + " are the same file; give it once");
            throw Refusal(j.output + " is the input file " + in.path + "; pass --in-place to replace it");
        }
    }
}

// Notes about a file that do not stop the run, one line each.
void reportNotes(const std::vector<std::string>& notes);

Raster readMask(const std::string& path, const ReadOptions& options) {
    std::vector<std::string> notes;
    Raster m = readImage(path, options, &notes);
    reportNotes(notes);
    // Filters select by non-zero mask pixels; morphology reads them as 0 or 255.
    Raster selection = Raster::make(m.width, m.height, 8);
    for (std::size_t i = 0; i < selection.grey8.size(); ++i)
        selection.grey8[i] = (m.bits == 16 ? m.grey16[i] != 0 : m.grey8[i] != 0) ? 255 : 0;
    return selection;
}

void filterOne(const Filter& filter, const Job& job, const Raster* mask, const std::string& maskPath,
               const std::optional<kstd_rect32>& roi, const ReadOptions& options, const WriteOptions& writeOptions) {
    std::vector<std::string> notes;
    Raster source = readImage(job.input, options, &notes);
    reportNotes(notes);
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
    writeImage(job.output, result, writeOptions);
}

void reportNotes(const std::vector<std::string>& notes) {
    for (const std::string& n : notes) report(n);
}

}  // namespace

void report(const std::string& message) {
    std::lock_guard<std::mutex> hold(gProgressLock);
    Progress::clearLocked();
    std::fprintf(stderr, "kipf: %s\n", message.c_str());
}

std::string filterHelp(const Command& c) {
    std::vector<OptionSpec> all = c.options;
    all.insert(all.end(), commonOptions().begin(), commonOptions().end());
    return "usage: kipf " + c.name + " [options] INPUT OUTPUT\n" + "       kipf " + c.name +
           " [options] INPUT -o OUTPUT\n" + "       kipf " + c.name + " [options] INPUT... --out-dir DIR\n" +
           "       kipf " + c.name + " [options] --in-place INPUT...\n\n" + c.description +
           "\nInputs are grey PNG, binary PGM (P5)" + (tiffSupported() ? " or TIFF" : "") +
           ", 8 or 16 bit; the output format follows OUTPUT's\nextension (.png, .pgm" +
           (tiffSupported() ? ", .tif" : "") + ").\n\noptions:\n" + describeOptions(all) + "\nexamples:\n" +
           c.examples +
           "\nExit status: 0 done, 1 bad input (the message names the file), 2 bad usage; an\ninterrupted run (Ctrl-C: "
           "130) removes the output it was writing.\n";
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
    WriteOptions writeOptions;
    if (o.has("png-level"))
        writeOptions.pngLevel = static_cast<int>(parseInteger(o.get("png-level"), "png-level", 0, 9));
    refuseToOverwriteInputs(jobs, o.get("mask"), o.has("in-place"));

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
            filterOne(filter, jobs[i], o.has("mask") ? &mask : nullptr, maskPath, roi, readOptions, writeOptions);
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
