// Format dispatch, the grey check, and writing through a temporary that signals clean up.
#include "image_io.hpp"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "formats.hpp"

namespace kipf {
namespace io {

std::string systemError(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

void checkDimensions(const std::string& path, uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) throw InputError(path + ": image has no pixels");
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || width * height > kMaxPixels)
        throw InputError(path + ": image too large (" + std::to_string(width) + "x" + std::to_string(height) + ")");
}

namespace {

const char* describeChannels(int channels) {
    switch (channels) {
        case 2:
            return "grey image with an alpha channel";
        case 3:
            return "colour image (RGB)";
        default:
            return "colour image with an alpha channel (RGBA)";
    }
}

template <class T>
void toGrey(const std::vector<T>& in, int channels, std::vector<T>& out) {
    std::size_t n = in.size() / static_cast<std::size_t>(channels);
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const T* p = &in[i * static_cast<std::size_t>(channels)];
        if (channels < 3) {
            out[i] = p[0];
        } else {
            // Rec. 601 luma, rounded.
            uint64_t y = (299u * uint64_t{p[0]} + 587u * uint64_t{p[1]} + 114u * uint64_t{p[2]} + 500u) / 1000u;
            out[i] = static_cast<T>(y);
        }
    }
}

File openForReading(const std::string& path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) throw InputError(systemError(path, "cannot open"));
    struct stat st;
    if (fstat(fileno(f.get()), &st) == 0 && S_ISDIR(st.st_mode)) throw InputError(path + ": is a folder, not an image");
    return f;
}

}  // namespace

Raster finish(const std::string& path, Samples&& s, const ReadOptions& options) {
    if (s.channels != 1 && !options.toGrey)
        throw InputError(path + ": " + describeChannels(s.channels) + "; kipf filters grey images (pass --grey to " +
                         (s.channels == 2 ? "drop the alpha channel)" : "convert it)"));
    Raster r;
    r.width = s.width;
    r.height = s.height;
    r.bits = s.bits;
    if (s.bits == 8) {
        if (s.channels == 1)
            r.grey8 = std::move(s.bytes8);
        else
            toGrey(s.bytes8, s.channels, r.grey8);
    } else {
        if (s.channels == 1)
            r.grey16 = std::move(s.bytes16);
        else
            toGrey(s.bytes16, s.channels, r.grey16);
    }
    return r;
}

}  // namespace io

namespace {

// ---- Writing through a temporary ----------------------------------------------------------------

// The temporary of the write in progress, for the signal handler: a fixed buffer, since the
// handler may only call async-signal-safe functions.
char gTemporary[4096];
volatile std::sig_atomic_t gTemporaryActive = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signal) {
    if (gTemporaryActive) ::unlink(gTemporary);
    // End the way the signal would have ended us, so a calling shell sees 128 + signal.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Holds the cleanup signals while the temporary's name and the file change together.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanupSignals) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

class PendingFile {
public:
    explicit PendingFile(const std::string& path) : path_(path) {
        std::size_t slash = path.find_last_of('/');
        std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.empty()) throw InputError(path + ": cannot write: no file name");
        temp_ = folder + (slash == std::string::npos ? "/." : ".") + name + ".kipf-XXXXXX";
        if (temp_.size() >= sizeof gTemporary) throw InputError(path + ": cannot write: path too long");
        std::vector<char> buffer(temp_.begin(), temp_.end());
        buffer.push_back(0);
        {
            SignalsHeld held;
            fd_ = mkstemp(buffer.data());
            if (fd_ >= 0) {
                std::memcpy(gTemporary, buffer.data(), buffer.size());
                gTemporaryActive = 1;
            }
        }
        if (fd_ < 0) throw InputError(io::systemError(path, "cannot write"));
        temp_ = buffer.data();
        // mkstemp makes the file private; give it the permissions a plain create would.
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
    ~PendingFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) {
            SignalsHeld held;
            ::unlink(temp_.c_str());
            gTemporaryActive = 0;
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // The descriptor for a stream or library that will close it.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void commit() {
        SignalsHeld held;
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) throw InputError(io::systemError(path_, "cannot write"));
        committed_ = true;
        gTemporaryActive = 0;
    }

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace

void removeTemporaryOnSignals() {
    for (int s : kCleanupSignals) {
        struct sigaction current;
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(s, &action, nullptr);
    }
}

Raster Raster::make(int32_t width, int32_t height, int bits) {
    Raster r;
    r.width = width;
    r.height = height;
    r.bits = bits;
    if (bits == 8)
        r.grey8.assign(r.pixels(), 0);
    else
        r.grey16.assign(r.pixels(), 0);
    return r;
}

Raster readImage(const std::string& path, const ReadOptions& options, std::vector<std::string>* notes) {
    io::File file = io::openForReading(path);
    uint8_t magic[8] = {};
    std::size_t got = std::fread(magic, 1, sizeof magic, file.get());
    if (std::ferror(file.get())) throw InputError(io::systemError(path, "cannot read"));
    if (got == 0) throw InputError(path + ": empty file");
    std::rewind(file.get());
    if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) return io::readPng(path, file.get(), options);
    if (got >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7')
        return io::readPnm(path, file.get(), options);
    bool tiff =
        got >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43)));
    if (tiff) {
#ifdef KIPF_HAVE_TIFF
        file.reset();
        return io::readTiff(path, options, notes);
#else
        throw InputError(path + ": TIFF file, but this kipf was built without libtiff");
#endif
    }
    (void)notes;
    throw InputError(path + ": not a PNG, PGM or TIFF file");
}

bool formatForPath(const std::string& path, FileFormat& format) {
    std::size_t dot = path.find_last_of('.');
    std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == "png")
        format = FileFormat::png;
    else if (ext == "pgm" || ext == "pnm")
        format = FileFormat::pgm;
    else if (ext == "tif" || ext == "tiff")
        format = FileFormat::tiff;
    else
        return false;
    return true;
}

bool tiffSupported() {
#ifdef KIPF_HAVE_TIFF
    return true;
#else
    return false;
#endif
}

const char* formatExtension(FileFormat format) {
    switch (format) {
        case FileFormat::png:
            return ".png";
        case FileFormat::pgm:
            return ".pgm";
        default:
            return ".tif";
    }
}

void writeImage(const std::string& path, const Raster& r, const WriteOptions& options) {
    FileFormat format;
    if (!formatForPath(path, format)) throw InputError(path + ": unknown output format (use .png, .pgm or .tif)");
    if (r.width <= 0 || r.height <= 0) throw InputError(path + ": the result has no pixels");
    PendingFile pending(path);
    if (format == FileFormat::tiff) {
#ifdef KIPF_HAVE_TIFF
        std::string message;
        if (!io::writeTiff(pending.release(), path, r, message)) throw InputError(path + ": cannot write: " + message);
        pending.commit();
        return;
#else
        throw InputError(path + ": TIFF output needs libtiff, which this kipf was built without");
#endif
    }
    int fd = pending.release();
    io::File file(fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
        throw InputError(io::systemError(path, "cannot write"));
    }
    errno = 0;
    bool ok = format == FileFormat::pgm ? io::writePgm(file.get(), r) : io::writePng(file.get(), r, options);
    if (!ok || std::fflush(file.get()) != 0 || std::ferror(file.get()) || std::fclose(file.release()) != 0)
        throw InputError(path + ": cannot write: " + (errno ? std::strerror(errno) : "write failed"));
    pending.commit();
}

}  // namespace kipf
