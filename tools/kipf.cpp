// kipf: kip's filters from the command line.
#include <png.h>

#include <cstdio>
#include <cstring>

#include "commands.hpp"

#ifdef KIPF_HAVE_TIFF
#include <tiffio.h>
#endif

namespace kipf {
namespace {

std::string overview() {
    std::string text =
        "usage: kipf COMMAND [options] INPUT OUTPUT\n"
        "       kipf COMMAND [options] INPUT -o OUTPUT\n"
        "       kipf COMMAND [options] INPUT... --out-dir DIR\n"
        "       kipf demo [DIR]\n\n"
        "Neighbourhood filters for 8-bit and 16-bit grey images (PNG, PGM";
    text += tiffSupported() ? ", TIFF).\n\ncommands:\n" : ").\n\ncommands:\n";
    for (const Command* c : commands()) {
        std::string name = "  " + c->name;
        name.resize(std::max<std::size_t>(name.size() + 1, 14), ' ');
        text += name + c->summary + "\n";
    }
    text +=
        "  demo        filter a synthetic scene with every command, write the results and a\n"
        "              contact sheet, and print each filter's speed\n\n"
        "options:\n"
        "  -h, --help  show this help, or a command's (kipf COMMAND --help)\n"
        "  --version   show the version\n\n"
        "examples:\n"
        "  kipf demo\n"
        "  kipf convolve --kernel gauss --size 5x5 part.png -o smooth.png\n"
        "  kipf convolve --kernel sobel-x --signed offset8 *.png --out-dir edges/\n\n"
        "Exit status: 0 done, 1 bad input (the message names the file), 2 bad usage; an\ninterrupted run (Ctrl-C: 130) "
        "removes the output it was writing.\n";
    return text;
}

std::string version() {
    std::string text = std::string("kipf ") + KIPF_VERSION + " (libpng " + png_get_libpng_ver(nullptr);
#ifdef KIPF_HAVE_TIFF
    // "LIBTIFF, Version 4.5.0\n..." -> "libtiff 4.5.0"
    std::string tiff = TIFFGetVersion();
    tiff = tiff.substr(0, tiff.find('\n'));
    std::size_t v = tiff.find("Version ");
    text += ", libtiff " + (v == std::string::npos ? tiff : tiff.substr(v + 8));
#endif
    return text + ")\n";
}

int run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(overview().c_str(), stderr);
        return 2;
    }
    std::string name = args[0];
    args.erase(args.begin());
    if (name == "-h" || name == "--help" || name == "help") {
        if (!args.empty()) {
            for (const Command* c : commands())
                if (c->name == args[0]) return std::fputs(filterHelp(*c).c_str(), stdout), 0;
            if (args[0] == "demo") return std::fputs(demoHelp().c_str(), stdout), 0;
        }
        std::fputs(overview().c_str(), stdout);
        return 0;
    }
    if (name == "--version" || name == "-V") {
        std::fputs(version().c_str(), stdout);
        return 0;
    }
    try {
        if (name == "demo") return runDemo(args);
        for (const Command* c : commands())
            if (c->name == name) return runFilter(*c, args);
    } catch (const Refusal& e) {
        report(name + ": " + e.what());
        return 2;
    } catch (const UsageError& e) {
        report(name + ": " + e.what() + " (see kipf " + name + " --help)");
        return 2;
    }
    report("unknown command '" + name + "' (see kipf --help)");
    return 2;
}

}  // namespace
}  // namespace kipf

int main(int argc, char** argv) {
    kipf::removeTemporaryOnSignals();
    try {
        return kipf::run(argc, argv);
    } catch (const std::bad_alloc&) {
        kipf::report("out of memory");
    } catch (const std::exception& e) {
        kipf::report(e.what());
    }
    return 1;
}
