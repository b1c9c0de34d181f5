// kipf demo: runs every filter family on a synthetic scene and reports its speed.
#include <cstdio>
#include <filesystem>

#include "commands.hpp"
#include "sheet.hpp"

namespace kipf {
namespace {

const std::vector<OptionSpec>& demoOptions() {
    static const std::vector<OptionSpec> specs = {
        {"scene", "WxH", "size of the synthetic scene (default 1280x960)"},
        {"threads", "N", "threads a filter may use (0, the default: one per hardware thread)"},
        {"help", nullptr, "show this help", 'h'},
    };
    return specs;
}

kstd_pair32 parseScene(const std::string& text) {
    std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) throw UsageError("--scene " + text + ": expected WIDTHxHEIGHT, for example 640x480");
    int64_t w = parseInteger(text.substr(0, x), "scene", 16, 16384);
    int64_t h = parseInteger(text.substr(x + 1), "scene", 16, 16384);
    return kstd_pair32{static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

}  // namespace

std::string demoHelp() {
    return "usage: kipf demo [options] [DIR]\n\n"
           "Synthesises a test scene (parts under uneven light, sensor noise, salt-and-pepper specks,\n"
           "small bright and dark features) at 8 and 16 bit, runs every filter on it and writes into\n"
           "DIR (default kip-demo/): the scenes, each result, and contact-sheet.png with the scene and\n"
           "every result side by side. Prints one line per filter: its name, kernel size and speed in\n"
           "million pixels per second (best of three runs of the library call).\n\noptions:\n" +
           describeOptions(demoOptions()) +
           "\nexamples:\n  kipf demo\n  kipf demo --scene 4096x4096 --threads 1 /tmp/demo\n";
}

int runDemo(const std::vector<std::string>& args) {
    Options o(args, demoOptions());
    if (o.has("help")) {
        std::fputs(demoHelp().c_str(), stdout);
        return 0;
    }
    if (o.positional().size() > 1) throw UsageError("expected at most one folder");
    std::string dir = o.positional().empty() ? std::string("kip-demo") : o.positional()[0];
    kstd_pair32 size = o.has("scene") ? parseScene(o.get("scene")) : kstd_pair32{1280, 960};
    if (o.has("threads"))
        ksys_jobSetThreadCount(static_cast<uint32_t>(parseInteger(o.get("threads"), "threads", 0, 1024)));

    try {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) throw InputError(dir + ": cannot create folder: " + ec.message());
        auto in = [&](const std::string& file) { return (std::filesystem::path(dir) / file).string(); };

        Scene scene = makeScene(size.x, size.y);
        writeImage(in("scene-8bit.png"), scene.grey8);
        writeImage(in("scene-16bit.png"), scene.grey16);
        std::printf("scene %dx%d, 8 and 16 bit, results in %s/\n\n", size.x, size.y, dir.c_str());
        std::printf("%-22s %-7s %10s   %s\n", "filter", "size", "Mpixel/s", "file shows");

        std::vector<DemoOutput> outputs;
        std::vector<const DemoStep*> steps = demoSteps();
        outputs.reserve(steps.size());
        for (const DemoStep* step : steps) {
            try {
                outputs.push_back(step->run(scene));
            } catch (const kip::error& e) {
                throw InputError(step->filter + " " + step->size + ": " + e.name());
            }
            const DemoOutput& out = outputs.back();
            writeImage(in(step->file), out.file);
            double mpix = static_cast<double>(scene.grey8.pixels()) / std::max(out.seconds, 1e-9) / 1e6;
            std::printf("%-22s %-7s %10.1f   %s\n", step->filter.c_str(), step->size.c_str(), mpix, out.shown.c_str());
            std::fflush(stdout);
        }

        // The whole scene, then one detail at full size through every filter.
        std::vector<Tile> tiles{{"scene", &scene.grey8, true}, {"scene detail", &scene.grey8}};
        for (std::size_t i = 0; i < steps.size(); ++i)
            tiles.push_back({steps[i]->filter + " " + steps[i]->size, &outputs[i].preview});
        Detail detail = busiestDetail(scene.grey8, 320, 240);
        writeImage(in("contact-sheet.png"), contactSheet(tiles, detail, 320, 3));
        std::printf("\ncontact sheet: %s\n", in("contact-sheet.png").c_str());
    } catch (const InputError& e) {
        report(e.what());
        return 1;
    }
    return 0;
}

}  // namespace kipf
