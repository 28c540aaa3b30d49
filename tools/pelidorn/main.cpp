// pelidorn: the stand-in host. Blurs an image file with the Pelidorn plug-in module, calling
// it exactly as a Photoshop-compatible host calls a filter (see plugin_host.h).
//
//   pelidorn INPUT OUTPUT [KEY=VALUE ...] [--selection FILE] [options]
//
// Exit codes: 0 done; 1 the filter or a file failed; 2 wrong use (arguments, keys, values);
// 130 cancelled with Ctrl-C. Every error is one line on standard error.
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/resources/plugin_resources.h"
#include "lens/lens_terminology.h"
#include "tools/pelidorn/document.h"
#include "tools/pelidorn/image_io.h"
#include "tools/pelidorn/module_loader.h"
#include "tools/pelidorn/plugin_host.h"

namespace {

using namespace pelidorn;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;
// The module's answer for the depth-of-field blur views (a selection used as depth map,
// SelectionIs 1, SHOW 1 or 6) in a build without the engine's tile renderer. The host's
// "filter cannot handle this document" code.
constexpr int16_t kResultDepthOfFieldUnavailable = -30101;

std::atomic<int> interrupts{0};

extern "C" void OnInterrupt(int) {
    if (interrupts.fetch_add(1) >= 1) {
        // A second Ctrl-C ends at once; the output file has not been touched yet unless the
        // final rename is running, which is atomic.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

[[noreturn]] void Fail(int code, const std::string& message) {
    std::fprintf(stderr, "pelidorn: %s\n", message.c_str());
    std::exit(code);
}

std::string KeyText(uint32_t key) { return ov::resources::FourCCText(key); }

std::string TypeWord(uint32_t type) {
    if (type == typeInteger) return "integer";
    if (type == typeFloat) return "number";
    if (type == typeBoolean) return "0 or 1";
    return "?";
}

void PrintHelp(const std::vector<ov::resources::TerminologyParameter>& keys) {
    std::printf(
        "Usage: pelidorn INPUT OUTPUT [KEY=VALUE ...] [--selection FILE] [options]\n"
        "\n"
        "Blurs INPUT with the Pelidorn lens-blur plug-in and writes OUTPUT in the input's format.\n"
        "The plug-in module is loaded and called as a Photoshop-compatible host calls a filter;\n"
        "KEY=VALUE pairs are handed to it as a host plays back a recorded step.\n"
        "\n"
        "Files: PNG (8 or 16 bits) and TIFF (8 or 16 bits, or 32-bit float), gray or RGB, with or\n"
        "without alpha. OUTPUT must have the input's kind (.png or .tif/.tiff); it is written only\n"
        "when the filter succeeds, and an existing OUTPUT is left as it was otherwise.\n"
        "\n"
        "Options:\n"
        "  --selection FILE   an 8-bit gray image of the same size used as the selection\n"
        "                     (255 selected). The plug-in uses it as the iris shape with SEIS=2;\n"
        "                     as a depth map (SEIS=1, the default) the depth-of-field engine runs,\n"
        "                     and SHOW takes its list: 1 normal blur, 2 iris, 3 depth buffer,\n"
        "                     4 highlight selection, 5 highlight selection only, 6 info density,\n"
        "                     7 sharp zone.\n"
        "  --print-values     print the values the plug-in records (KEY=VALUE, one a line)\n"
        "  --module PATH      the plug-in module (default: pelidorn_plugin.so beside this program,\n"
        "                     or $PELIDORN_MODULE)\n"
        "  --quiet            no progress display\n"
        "  --help             this text\n"
        "\n"
        "Keys (as the plug-in's scripting terminology names them):\n");
    for (const auto& k : keys)
        std::printf("  %s  %-8s %s\n", KeyText(k.key).c_str(), TypeWord(k.type).c_str(), k.name.c_str());
    std::printf(
        "\n"
        "SHOW selects the view: 1 normal blur, 2 iris, 3 highlight selection, 4 highlight selection\n"
        "only. RADI is relative to an image diagonal of 800 pixels. OUIM: 1 border colour, 2 mirror,\n"
        "3 repeat, 4 the colour OUCR/OUCG/OUCB (0..1). SEIS: 1 depth map, 2 iris.\n"
        "\n"
        "Example: pelidorn photo.png blurred.png RADI=40 IRFA=6 SHOW=1\n"
        "Exit codes: 0 done, 1 failed, 2 wrong arguments, 130 cancelled (Ctrl-C).\n");
}

bool ParseValue(const std::string& text, uint32_t type, DescriptorItem& item) {
    const char* b = text.data();
    const char* e = b + text.size();
    if (text.empty()) return false;
    if (type == typeInteger) {
        int32_t v = 0;
        auto r = std::from_chars(b, e, v);
        if (r.ec != std::errc() || r.ptr != e) return false;
        item.integer = v;
        return true;
    }
    if (type == typeFloat) {
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
        item.number = v;
        return true;
    }
    if (type == typeBoolean) {
        if (text == "1" || text == "true" || text == "yes" || text == "on") item.boolean = true;
        else if (text == "0" || text == "false" || text == "no" || text == "off") item.boolean = false;
        else return false;
        return true;
    }
    return false;
}

// A progress display on standard error (only when it is a terminal): the elapsed time while
// the filter runs, and the bar the progress procedure drives.
class ProgressDisplay {
public:
    explicit ProgressDisplay(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO)) {
        if (!enabled_) return;
        start_ = std::chrono::steady_clock::now();
        thread_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!stop_) {
                Draw();
                wake_.wait_for(lock, std::chrono::milliseconds(200));
            }
        });
    }
    ~ProgressDisplay() { Finish(); }
    void Update(int32_t done, int32_t total) {
        if (!enabled_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        fraction_ = total > 0 ? std::min(1.0, std::max(0.0, double(done) / total)) : 0.0;
        Draw();
    }
    void Finish() {
        if (!enabled_ || finished_) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        finished_ = true;
    }

private:
    void Draw() {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const int width = 30;
        const int filled = int(fraction_ * width + 0.5);
        std::string bar(size_t(filled), '#');
        bar.append(size_t(width - filled), '.');
        std::fprintf(stderr, "\rpelidorn: rendering [%s] %3d%%  %.1f s%s\033[K", bar.c_str(), int(fraction_ * 100 + 0.5),
                     seconds, interrupts.load() ? "  (cancelling)" : "");
        std::fflush(stderr);
    }
    bool enabled_;
    bool stop_ = false;
    bool finished_ = false;
    double fraction_ = 0.0;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

std::string ResultText(int16_t r) {
    switch (r) {
        case memFullErr: return "out of memory (-108)";
        case userCanceledErr: return "cancelled (-128)";
        case errShownToUser: return "the plug-in reported an error (1)";
        default: return "error " + std::to_string(r);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Ctrl-C from here on answers the host's abort procedure (see OnInterrupt).
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);

    const auto keys = ov::resources::ParseTerminology(ov::lens::PelidornTerminology().data(),
                                                      ov::lens::PelidornTerminology().size());
    std::vector<std::string> positional;
    std::vector<DescriptorItem> values;
    std::string selectionPath, modulePath;
    bool printValues = false, quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            PrintHelp(keys.parameters);
            return 0;
        } else if (a == "--selection" || a == "--module") {
            if (i + 1 >= argc) Fail(kExitUsage, a + " needs a file name");
            (a == "--selection" ? selectionPath : modulePath) = argv[++i];
        } else if (a == "--print-values") {
            printValues = true;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-' && a.find('=') == std::string::npos) {
            Fail(kExitUsage, "unknown option " + a + " (see pelidorn --help)");
        } else if (a.find('=') != std::string::npos && positional.size() >= 2) {
            const size_t eq = a.find('=');
            const std::string key = a.substr(0, eq), text = a.substr(eq + 1);
            const ov::resources::TerminologyParameter* found = nullptr;
            for (const auto& k : keys.parameters)
                if (KeyText(k.key) == key) found = &k;
            if (!found) Fail(kExitUsage, "unknown key " + key + " (see pelidorn --help for the keys)");
            DescriptorItem item;
            item.key = found->key;
            item.type = found->type;
            if (!ParseValue(text, found->type, item))
                Fail(kExitUsage, "malformed value for " + key + ": '" + text + "' (" + found->name + " takes " +
                                     (found->type == typeInteger ? "an integer" : found->type == typeFloat ? "a number" : "0 or 1") + ")");
            for (const auto& v : values)
                if (v.key == item.key) Fail(kExitUsage, "key " + key + " given twice");
            values.push_back(item);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) {
        std::fprintf(stderr, "pelidorn: %s\nUsage: pelidorn INPUT OUTPUT [KEY=VALUE ...] [--selection FILE] (see --help)\n",
                     positional.size() < 2 ? "INPUT and OUTPUT are needed" : ("unexpected argument " + positional[2]).c_str());
        return kExitUsage;
    }
    const std::string inputPath = positional[0], outputPath = positional[1];

    Image image;
    std::string error;
    if (!ReadImage(inputPath, image, error)) Fail(kExitFailed, inputPath + ": " + error);
    FileFormat outFormat;
    if (!FormatFromPath(outputPath, outFormat))
        Fail(kExitUsage, "OUTPUT must end in " + std::string(image.format == FileFormat::Png ? ".png" : ".tif or .tiff") +
                             " (the input's kind)");
    if (outFormat != image.format)
        Fail(kExitUsage, "OUTPUT must be a " + std::string(image.format == FileFormat::Png ? "PNG" : "TIFF") +
                             " file like the input (the output keeps the input's format)");
    if (image.width > 32767 || image.height > 32767)
        Fail(kExitFailed, inputPath + ": the filter interface takes at most 32767 pixels a side");

    HostDocument document = DocumentFromImage(image);
    if (!selectionPath.empty()) {
        Image mask;
        if (!ReadImage(selectionPath, mask, error)) Fail(kExitFailed, selectionPath + ": " + error);
        if (mask.colorChannels != 1 || mask.alpha || mask.bits != 8)
            Fail(kExitFailed, selectionPath + ": the selection must be an 8-bit gray image without alpha (it is " +
                                  Describe(mask) + ")");
        if (mask.width != image.width || mask.height != image.height)
            Fail(kExitFailed, selectionPath + ": the selection is " + std::to_string(mask.width) + "x" +
                                  std::to_string(mask.height) + ", the image " + std::to_string(image.width) + "x" +
                                  std::to_string(image.height));
        document.selection = mask.samples;
    }

    if (modulePath.empty()) {
        const char* env = std::getenv("PELIDORN_MODULE");
        modulePath = env && *env ? env : ProgramDirectory() + "pelidorn_plugin.so";
    }
    LoadedModule module;
    if (!LoadModule(modulePath, "ENTRYPOINT", module, error)) Fail(kExitFailed, error);

    if (interrupts.load() > 0) {
        std::fprintf(stderr, "pelidorn: cancelled by the user (-128); %s left untouched\n", outputPath.c_str());
        return kExitCancelled;
    }
    RunOptions options;
    options.playback = values;
    options.recorded = !values.empty();
    ProgressDisplay display(!quiet);
    options.progress = [&](int32_t done, int32_t total) { display.Update(done, total); };
    options.abort = [] { return interrupts.load() > 0; };
    RunResult run = RunFilter(module.entry, document, options);
    display.Finish();

    if (printValues && run.wroteDescriptor) {
        for (const auto& k : keys.parameters)
            for (const auto& w : run.written)
                if (w.key == k.key) std::printf("%s\n", FormatDescriptorValue(w).c_str());
    }
    if (!run.error.empty()) Fail(kExitFailed, run.error);
    if (run.result == kResultDepthOfFieldUnavailable)
        Fail(kExitFailed, "the blur with the selection as depth map (SEIS=1, SHOW=1 or 6) is not part of this "
                          "version: its other views work (SHOW=2 iris, 3 depth buffer, 4 and 5 highlight selection, "
                          "7 sharp zone); pass SEIS=2 to use the selection as the iris shape, or leave out "
                          "--selection");
    if (run.result == userCanceledErr || interrupts.load() > 0) {
        std::fprintf(stderr, "pelidorn: cancelled by the user (-128); %s left untouched\n", outputPath.c_str());
        return kExitCancelled;
    }
    if (run.result != 0) Fail(kExitFailed, "the filter failed: " + ResultText(run.result));

    // Nothing is lost: write beside the output, then rename into place.
    ImageFromDocument(document, image);
    const size_t slash = outputPath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : outputPath.substr(0, slash);
    const std::string base = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    std::string temp = dir + "/." + base + ".pelidorn-XXXXXX";
    std::vector<char> templ(temp.begin(), temp.end());
    templ.push_back(0);
    const int fd = mkstemp(templ.data());
    if (fd < 0) Fail(kExitFailed, "cannot create a file in " + dir + ": " + std::strerror(errno));
    close(fd);
    temp = templ.data();
    if (!WriteImage(temp, image, error)) {
        unlink(temp.c_str());
        Fail(kExitFailed, outputPath + ": " + error);
    }
    if (interrupts.load() > 0) {
        unlink(temp.c_str());
        std::fprintf(stderr, "pelidorn: cancelled by the user (-128); %s left untouched\n", outputPath.c_str());
        return kExitCancelled;
    }
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temp.c_str(), 0666 & ~mask);  // mkstemp made it 0600
    if (std::rename(temp.c_str(), outputPath.c_str()) != 0) {
        const int e = errno;
        unlink(temp.c_str());
        Fail(kExitFailed, "cannot replace " + outputPath + ": " + std::strerror(e));
    }
    return 0;
}
