// pelidorn: the stand-in host. Blurs an image file with the Pelidorn plug-in module, calling
// it exactly as a Photoshop-compatible host calls a filter (see plugin_host.h).
//
//   pelidorn INPUT OUTPUT [KEY=VALUE ...] [--selection FILE] [options]
//
// Exit codes: 0 done; 1 the filter or a file failed; 2 wrong use (arguments, keys, values);
// 130 cancelled with Ctrl-C (143 with SIGTERM, 129 with SIGHUP). Every error is one line on
// standard error.
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
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/resources/plugin_resources.h"
#include "lens/lens_parameter_table.h"
#include "lens/lens_terminology.h"
#include "tools/pelidorn/document.h"
#include "tools/pelidorn/image_io.h"
#include "tools/pelidorn/module_loader.h"
#include "tools/pelidorn/plugin_host.h"

namespace {

using namespace pelidorn;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Interrupts (SIGINT, SIGTERM, SIGHUP). During the render (and the trial runs that find the
// largest radius that fits) the first answers the host's abort procedure, so that the
// plug-in stops and frees what it took; at any other stage, and at a second one, the handler
// itself ends the program: it removes the temporary output file if there is one, writes the
// cancel line and exits (all async-signal-safe). OUTPUT has not been touched.
std::atomic<int> interrupts{0};
std::atomic<int> firstSignal{0};
std::atomic<bool> rendering{false};  // the abort procedure answers the first interrupt
char tempForSignal[4096];        // the temporary output file while it exists, else ""
char cancelLine[4096 + 128];     // "pelidorn: cancelled ...\n", written by the handler
std::atomic<size_t> cancelLineLength{0};
std::string tempPath;            // the same, for the ordinary exit paths
std::string stage;               // what the program is doing, for an out-of-memory message

int CancelledCode() {
    const int sig = firstSignal.load();
    return 128 + (sig ? sig : SIGINT);
}

extern "C" void OnInterrupt(int sig) {
    int expected = 0;
    firstSignal.compare_exchange_strong(expected, sig);
    const int before = interrupts.fetch_add(1);
    if (rendering.load() && before == 0 && !tempForSignal[0]) return;
    if (tempForSignal[0]) unlink(tempForSignal);
    const size_t n = cancelLineLength.load();
    if (n && write(STDERR_FILENO, cancelLine, n) < 0) {}
    _exit(CancelledCode());
}

// The line the handler writes when it ends the program.
void SetCancelLine(const std::string& line) {
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    const size_t n = std::min(line.size(), sizeof cancelLine);
    std::memcpy(cancelLine, line.data(), n);
    cancelLineLength = n;
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void RemoveTemp() {
    if (tempPath.empty()) return;
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    unlink(tempPath.c_str());
    tempForSignal[0] = 0;
    tempPath.clear();
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

[[noreturn]] void Fail(int code, const std::string& message) {
    RemoveTemp();
    std::fprintf(stderr, "pelidorn: %s\n", message.c_str());
    std::exit(code);
}

// The render is over: from here an interrupt ends the program at once, and one that came
// during the render (or just after it) ends it now.
void EndRendering() {
    rendering = false;
    if (interrupts.load() > 0) {
        RemoveTemp();
        const size_t n = cancelLineLength.load();
        if (n && write(STDERR_FILENO, cancelLine, n) < 0) {}
        std::exit(CancelledCode());
    }
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
        "Files: PNG (1 to 16 bits; palette images and transparency keys are expanded), JPEG (8-bit\n"
        "gray or RGB) and TIFF (8 or 16 bits, or 32-bit float), gray or RGB, with or without alpha.\n"
        "OUTPUT must have the input's kind (.png, .jpg/.jpeg or .tif/.tiff); it is written only\n"
        "when the filter succeeds, and an existing OUTPUT is left as it was otherwise.\n"
        "\n"
        "Options:\n"
        "  --selection FILE   an 8-bit gray image of the same size used as the selection\n"
        "                     (255 selected). The plug-in uses it as the iris shape with SEIS=2;\n"
        "                     as a depth map (SEIS=1, the default) the depth-of-field engine runs,\n"
        "                     and SHOW takes its list: 1 normal blur, 2 iris, 3 depth buffer,\n"
        "                     4 highlight selection, 5 highlight selection only, 6 info density,\n"
        "                     7 sharp zone.\n"
        "  --quality N        JPEG quality of OUTPUT, 1..100 (default 95)\n"
        "  --memory MIB       the most memory the plug-in may take, in MiB, 1 to 2^40 (default:\n"
        "                     what the machine, the container or ulimit -v leaves free)\n"
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
        "Exit codes: 0 done, 1 failed, 2 wrong arguments, 130 cancelled (Ctrl-C; 143 SIGTERM).\n");
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
        // The elapsed time is redrawn by a thread of its own; where none can be started (no
        // memory or address space for its stack), the display is redrawn by the plug-in's
        // progress calls alone.
        try {
            thread_ = std::thread([this] {
                std::unique_lock<std::mutex> lock(mutex_);
                while (!stop_) {
                    Draw();
                    wake_.wait_for(lock, std::chrono::milliseconds(200));
                }
            });
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
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
        if (thread_.joinable()) thread_.join();
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        finished_ = true;
    }

private:
    void Draw() {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        // No memory is taken here: the display thread draws it too.
        constexpr int width = 30;
        const int filled = std::min(width, std::max(0, int(fraction_ * width + 0.5)));
        char bar[width + 1];
        std::memset(bar, '#', size_t(filled));
        std::memset(bar + filled, '.', size_t(width - filled));
        bar[width] = 0;
        std::fprintf(stderr, "\rpelidorn: rendering [%s] %3d%%  %.1f s%s\033[K", bar, int(fraction_ * 100 + 0.5),
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


std::string Mib(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

std::string NumberText(double v) {
    char text[64];
    auto r = std::to_chars(text, text + sizeof text - 1, v);
    *r.ptr = 0;
    return text;
}

// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The pattern (for mkstemp) of the temporary file OUTPUT is written to, beside it.
std::string TemporaryName(const std::string& folder, const std::string& target) {
    const size_t slash = target.find_last_of('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "/." + base + ".pelidorn-XXXXXX";
}

// The file OUTPUT names: symbolic links are followed to the file they point at (which need
// not exist yet), so that the link itself stays and its target is replaced.
std::string ResolveLinks(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : 4095) + 1);
        const ssize_t n = readlink(p.c_str(), target.data(), target.size());
        if (n <= 0 || size_t(n) >= target.size()) return p;
        std::string t(target.data(), size_t(n));
        p = t[0] == '/' ? t : FolderOf(p) + "/" + t;
    }
    return p;
}

// The range a user can set for a key in the dialog, and the value the plug-in uses for a
// given one (its hard limits, the list's items, the radius cap, the facet cap).
struct KeyRange {
    double low, high;
    bool known;
};

KeyRange DialogRange(uint32_t key, bool depthList) {
    using namespace ov::lens;
    const ParamSpec* p = SpecForKey(key);
    if (!p) return {0, 0, false};
    switch (p->kind) {
        case Kind::List: {
            double items = p->id == Outside ? double(kOutsideItems.size())
                           : p->id == SelectionIs ? double(kSelectionIsItems.size())
                           : depthList ? double(kFullViewList.size()) : double(kShortViewList.size());
            return {1, items, true};
        }
        case Kind::RGB: return {0, 1, true};
        case Kind::Bool: return {0, 1, false};
        default: break;
    }
    const double inf = std::numeric_limits<double>::infinity();
    double low = p->minimum.set ? p->minimum.value : -inf;
    double high = p->maximum.set ? p->maximum.value : inf;
    if (p->id == Radius) high = 1000;  // the radius field takes up to 1000
    return {low, high, true};
}

// A list index outside the list is ignored when the plug-in reads it: the list keeps its
// selection, which is what it records and renders (`recorded`, the value the plug-in wrote
// back, or its default when it wrote none).
double UsedValue(uint32_t key, double v, bool depthList, const std::vector<DescriptorItem>& recorded) {
    using namespace ov::lens;
    const ParamSpec* p = SpecForKey(key);
    if (!p) return v;
    if (p->kind == Kind::List) {
        const KeyRange r = DialogRange(key, depthList);
        if (v >= r.low && v <= r.high) return v;
        for (const DescriptorItem& w : recorded)
            if (w.key == key && w.type == typeInteger) return w.integer;
        return p->value;
    }
    if (p->kind == Kind::RGB) {
        const KeyRange r = DialogRange(key, depthList);
        return std::min(std::max(v, r.low), r.high);
    }
    if (p->minimum.set && p->minimum.hard && v < p->minimum.value) v = p->minimum.value;
    if (p->maximum.set && p->maximum.hard && v > p->maximum.value) v = p->maximum.value;
    if ((p->id == Radius || p->id == IrisFacets) && v > 1000) v = 1000;
    return v;
}

// One warning line for each value outside what the dialog lets a user set.
void WarnOutOfRange(const std::vector<DescriptorItem>& values, bool depthList,
                    const std::vector<DescriptorItem>& recorded) {
    for (const DescriptorItem& item : values) {
        if (item.type == typeBoolean) continue;
        const double given = item.type == typeInteger ? double(item.integer) : item.number;
        const KeyRange r = DialogRange(item.key, depthList);
        if (!r.known || (given >= r.low && given <= r.high)) continue;
        const std::string key = ov::resources::FourCCText(item.key);
        std::string range = std::isinf(r.low) ? "up to " + NumberText(r.high)
                            : std::isinf(r.high) ? NumberText(r.low) + " and up"
                                                 : NumberText(r.low) + ".." + NumberText(r.high);
        std::fprintf(stderr, "pelidorn: warning: %s=%s is outside the dialog's range (%s); the plug-in uses %s=%s\n",
                     key.c_str(), NumberText(given).c_str(), range.c_str(), key.c_str(),
                     NumberText(UsedValue(item.key, given, depthList, recorded)).c_str());
    }
}



// Under ulimit -v the plug-in's blocks are not all that the render maps: the host's copy of
// the output image (and of the selection it hands out), every worker thread's stack and the
// C library's heap for small blocks take their share of the limit too. The plug-in is given
// what remains after them, so that a block it is given is never refused by the system and a
// larger limit never renders less: the shares below do not grow with the limit.
struct AddressShares {
    uint64_t mapped = 0;  // mapped before the render: the program, its libraries, the image
    uint64_t images = 0;  // the output image the host keeps beside the input, and the selection
    int threads = 0;      // the most threads the render runs beside the host's own
    uint64_t stacks = 0;  // their stacks, guard pages included
    uint64_t heap = 0;    // small blocks of the plug-in and the host, a tile area handed out
    uint64_t blocks = 0;  // what the limit leaves for the plug-in's blocks
};

// The stack a new thread maps (the C library's default: RLIMIT_STACK's soft limit, or its
// own size when that is unlimited), and its guard page.
uint64_t ThreadStackBytes() {
    uint64_t bytes = uint64_t(8) << 20;
#ifdef __GLIBC__
    pthread_attr_t attr;
    if (pthread_getattr_default_np(&attr) == 0) {
        size_t stack = 0, guard = 0;
        if (pthread_attr_getstacksize(&attr, &stack) == 0 && stack > 0) bytes = stack;
        if (pthread_attr_getguardsize(&attr, &guard) == 0) bytes += guard;
        pthread_attr_destroy(&attr);
    }
#endif
    return bytes;
}

// The processors this process may run on: the plug-in starts a worker for each (one more
// while the host's thread watches for a cancel).
int ProcessorsAllowed() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) >= 1) return CPU_COUNT(&set);
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n >= 1 ? int(n) : 1;
}

// Bytes of address space mapped now, from /proc/self/statm, without taking memory (it is
// asked at a refusal, when there may be none).
uint64_t MappedBytesNow() {
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[128];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    uint64_t pages = 0;
    std::from_chars(text, text + n, pages);
    return pages * uint64_t(sysconf(_SC_PAGESIZE));
}

// The shares of an address-space limit for a render of `document`; state.addressLimit set.
// `display`: the progress display runs a thread of its own.
AddressShares ShareAddressSpace(const MemoryState& state, const HostDocument& document, bool display) {
    AddressShares a;
    a.mapped = state.addressMapped;
    a.images = document.pixels.size() + document.selection.size();
    // The plug-in's pool runs a worker for each processor (the host's thread being the
    // first of them, or watching beside them), and the display has its own.
    a.threads = std::min(ProcessorsAllowed(), 64) + (display ? 1 : 0);
    a.stacks = uint64_t(a.threads) * ThreadStackBytes();
    // The host hands out the image's own rows; an area beyond the image (or of some planes)
    // is a copy, a band of the image at a time; small blocks take well under a MiB. What is
    // left over is the margin for what varies from run to run.
    a.heap = (uint64_t(8) << 20) + document.pixels.size() / 16;
    const uint64_t shares = a.images + a.stacks + a.heap;
    a.blocks = state.addressLeft > shares ? state.addressLeft - shares : 0;
    return a;
}

// The memory the plug-in may take: what the machine, the container or ulimit -v leaves
// (`state`; under ulimit -v after the shares in `address`), or less by the user's own
// --memory (`user`).
struct Budget {
    MemoryState state;
    AddressShares address;
    bool user = false;
    uint64_t bytes = 0;
};

// MiB to a tenth, rounded up or down.
std::string TenthsOfMib(uint64_t bytes, bool up) {
    const uint64_t tenth = (uint64_t(1) << 20) / 10;
    const uint64_t n = up ? (bytes + tenth - 1) / tenth : bytes / tenth;
    return std::to_string(n / 10) + "." + std::to_string(n % 10) + " MiB";
}

// The limit and its shares to a tenth of a MiB: the shares rounded up, what they leave for
// the plug-in's blocks rounded down (a refused block and what was taken, rounded up, add up
// to more than it).
std::string AddressSharesText(const MemoryState& m, const AddressShares& a) {
    return "the limit is " + std::to_string(m.addressLimit >> 10) + " KiB (" + TenthsOfMib(m.addressLimit, false) +
           "): the program and the image had " + TenthsOfMib(a.mapped, true) +
           " mapped before the render, the output image takes " + TenthsOfMib(a.images, true) + ", " +
           std::to_string(a.threads) + " threads' stacks " + TenthsOfMib(a.stacks, true) + " and small blocks up to " +
           TenthsOfMib(a.heap, true) + ", which leaves " + TenthsOfMib(a.blocks, false) + " for the plug-in's blocks";
}

// "needs more memory than ... (a block of ... was refused ...)": what ran short when the
// Buffer suite refused the largest block, and its figures.
std::string ShortOfBudget(const RunResult& run, const Budget& budget) {
    const std::string block = "a block of " + Mib(run.largestRefused) + " was refused" +
                              (run.takenWhenRefused ? " with " + Mib(run.takenWhenRefused) + " already taken" : "");
    if (budget.user && run.largestOverBudget)
        return "needs more memory than --memory " + std::to_string(budget.bytes >> 20) + " allows (" + block + ")";
    const MemoryState& m = budget.state;
    switch (m.bound) {
        case MemoryState::Bound::AddressSpace:
            if (!run.largestOverBudget)
                return "needs more address space than ulimit -v leaves (" + block + " when " +
                       Mib(run.mappedWhenRefused) + " of the limit of " + std::to_string(m.addressLimit >> 10) +
                       " KiB was mapped)";
            return "needs more address space than ulimit -v leaves (" + AddressSharesText(m, budget.address) +
                   "; a block of " + TenthsOfMib(run.largestRefused, true) + " was refused with " +
                   TenthsOfMib(run.takenWhenRefused, true) + " already taken)";
        case MemoryState::Bound::Cgroup:
            return "needs more memory than the container's limit leaves (" + block + "; the limit is " +
                   Mib(m.cgroupLimit) + ", of which " + Mib(m.cgroupLeft) + " was unused before the render)";
        default:
            return "needs more memory than the machine could give (" + block + "; " + Mib(m.free) + " was free)";
    }
}

// Why the plug-in answered -108: a request of the Buffer suite the machine could not serve,
// or (no request refused) a work area beyond what the plug-in can address at this radius;
// then trial runs whose large memory requests are refused find the largest radius whose work
// area the plug-in would still ask for (or that renders in small blocks alone). A focal point
// outside 0..255 asks for a blur of up to its distance from the far end of the depth range
// times the radius: that blur is named, and the focal point nearest the given one that fits.
std::string ExplainOutOfMemory(EntryPointFn entry, HostDocument& document, const std::vector<DescriptorItem>& values,
                               const RunResult& run, const RunOptions& options, const Budget& budget) {
    const uint32_t radiusKey = ov::lens::Key("RADI"), focalKey = ov::lens::Key("FOPO");
    double radius = 5, focal = 255;
    for (const auto& w : run.written) {
        if (w.key == radiusKey) radius = w.type == typeFloat ? w.number : w.integer;
        if (w.key == focalKey) focal = w.type == typeFloat ? w.number : w.integer;
    }
    const std::string image =
        " (a " + std::to_string(document.width) + "x" + std::to_string(document.height) + " image)";
    std::vector<DescriptorItem> trialValues = values;
    // The value of `key` among the trial values (added when missing).
    auto slot = [&](uint32_t key) -> DescriptorItem* {
        for (auto& v : trialValues)
            if (v.key == key) return &v;
        DescriptorItem item;
        item.key = key;
        item.type = typeFloat;
        trialValues.push_back(item);
        return &trialValues.back();
    };
    // Whether the trial values start within `bufferBudget`: a trial stopped as soon as its
    // tiles start (its large buffers granted). Cheap, but a render asks for more later (a
    // transform's scratch rows, say), so it proves nothing by itself.
    auto startsWithin = [&](uint64_t bufferBudget) {
        bool started = false;
        RunOptions trial;
        trial.recorded = true;
        trial.bufferBudget = bufferBudget;
        trial.mappedBytes = options.mappedBytes;
        trial.playback = trialValues;
        trial.progress = [&](int32_t done, int32_t) { started = started || done > 0; };
        trial.abort = [&] { return started || interrupts.load() > 0; };
        const RunResult t = RunFilter(entry, document, trial);
        return t.result == 0 || (t.result == userCanceledErr && started);
    };
    auto startsWithinBudget = [&] { return startsWithin(options.bufferBudget); };
    // The whole render of the trial values within this run's memory, its output dropped.
    auto renderTrial = [&] {
        RunOptions trial;
        trial.recorded = true;
        trial.bufferBudget = options.bufferBudget;
        trial.mappedBytes = options.mappedBytes;
        trial.playback = trialValues;
        trial.discardOutput = true;
        trial.abort = [] { return interrupts.load() > 0; };
        return RunFilter(entry, document, trial);
    };
    // "; RADI=x is the largest that fits": the largest radius in tenths below `radius` that
    // renders whole within this run's memory, the next tenth failing. `starts(value, budget)`
    // is the cheap test at a radius (addressable, and its tiles start within `budget`):
    // bisection with it names a candidate, which a whole render proves. Where the candidate
    // fails later in its render, the search starts again with the start budget short by what
    // that render lacked, and whole renders settle the tenths between the last that rendered
    // and the first that failed. Where not even 0.1 renders, that is said.
    const std::string noRadius = "; no radius above 0 fits (RADI=0 copies the image without a work area)";
    auto largestRadius = [&](const std::function<bool(double, uint64_t)>& starts) -> std::string {
        DescriptorItem* const r = slot(radiusKey);
        auto renders = [&](long tenths) {
            r->type = typeFloat;
            r->number = double(tenths) / 10;
            const RunResult t = renderTrial();
            return t.result == 0 && t.error.empty();
        };
        long good = 0, bad = std::lround(std::ceil(radius * 10));  // renders(good) or good 0; !renders(bad)
        if (bad <= 1) return noRadius;
        uint64_t startBudget = options.bufferBudget;
        for (int round = 0; round < 4 && bad - good > 1 && interrupts.load() == 0; ++round) {
            long low = good, high = bad;  // low starts (or is 0), high is ruled out
            while (high - low > 1 && interrupts.load() == 0) {
                const long mid = low == 0 ? 1 : (low + high) / 2;
                (starts(double(mid) / 10, startBudget) ? low : high) = mid;
            }
            if (low == good || interrupts.load() > 0) break;
            r->type = typeFloat;
            r->number = double(low) / 10;
            const RunResult t = renderTrial();
            if (t.result == 0 && t.error.empty()) {
                good = low;
                break;
            }
            bad = low;
            // What the render lacked: the block refused beyond what was already taken.
            uint64_t lacked = t.largestRefused;
            if (t.largestOverBudget && t.takenWhenRefused + t.largestRefused > options.bufferBudget)
                lacked = t.takenWhenRefused + t.largestRefused - options.bufferBudget;
            lacked = std::max<uint64_t>(lacked, uint64_t(1) << 20);
            startBudget = startBudget > lacked ? startBudget - lacked : 1;
        }
        while (bad - good > 1 && interrupts.load() == 0) {
            const long mid = good == 0 ? 1 : (good + bad) / 2;
            (renders(mid) ? good : bad) = mid;
        }
        if (good == 0) return noRadius;
        return "; RADI=" + NumberText(double(good) / 10) + " is the largest that fits";
    };
    if (run.refusedBuffers > 0) {
        // The work area is addressable but larger than the memory the machine could give:
        // trials with the same budget find the largest radius that fits.
        std::string text = "the work area at RADI=" + NumberText(radius) + image + " " + ShortOfBudget(run, budget);
        DescriptorItem* const r = slot(radiusKey);
        return text + largestRadius([&](double value, uint64_t startBudget) {
                   r->type = typeFloat;
                   r->number = value;
                   return startsWithin(startBudget);
               });
    }
    RunOptions trial;
    trial.recorded = true;
    trial.refuseBuffers = true;
    trial.grantBelow = uint64_t(1) << 20;
    trial.abort = [] { return interrupts.load() > 0; };
    // Whether the plug-in gets as far as asking for its work area with `key` at `value`.
    auto fitsWith = [&](uint32_t key, double value) {
        for (auto& v : trialValues)
            if (v.key == key) {
                v.type = typeFloat;
                v.number = value;
            }
        trial.playback = trialValues;
        const RunResult t = RunFilter(entry, document, trial);
        return t.refusedBuffers > 0 || t.result == 0;
    };
    if (!(focal >= 0 && focal <= 255) && std::isfinite(focal)) {
        slot(radiusKey)->number = radius;
        slot(radiusKey)->type = typeFloat;
        slot(focalKey);
        const double diagonal = std::hypot(double(document.width), double(document.height));
        const double blur = std::max(std::fabs(focal), std::fabs(focal - 255)) * radius * diagonal / 800 / 255 + 1;
        std::string text = "the work area for the blur of " + NumberText(std::ceil(blur)) + " pixels that FOPO=" +
                           NumberText(focal) + " asks for at RADI=" + NumberText(radius) + image +
                           " is larger than the plug-in can address";
        const double inRange = focal > 255 ? 255 : 0;
        if (fitsWith(focalKey, focal)) return text;
        // The focal point named must render: addressable (fitsWith sets it among the trial
        // values), and its tiles start within the memory this run may take.
        auto renders = [&](double value) { return fitsWith(focalKey, value) && startsWithinBudget(); };
        if (!renders(inRange))
            return text + "; not even FOPO=" + NumberText(inRange) + " renders within this memory at RADI=" +
                   NumberText(radius);
        // Whole focal points: the one named renders and the next beyond it does not.
        const double step = focal > 255 ? 1 : -1;
        double good = inRange, bad = focal > 255 ? std::ceil(focal) : std::floor(focal);  // renders(good), !renders(bad)
        while (std::fabs(bad - good) > 1 && interrupts.load() == 0) {
            const double mid = good + step * std::floor(std::fabs(bad - good) / 2);
            (renders(mid) ? good : bad) = mid;
        }
        return text + "; FOPO=" + NumberText(good) + " is the " + (focal > 255 ? "largest" : "smallest") +
               " that fits";
    }
    slot(radiusKey);
    auto fits = [&](double radiusValue) { return fitsWith(radiusKey, radiusValue); };
    std::string text = "the work area at RADI=" + NumberText(radius) + image + " is larger than the plug-in can address";
    // The search starts at 0.1 (every radius above 0 blurs, with a work area; 0 copies the
    // image without one). A trial that fits at the given radius has found no limit to name.
    if (radius > 0.1 && fits(radius)) return text;
    // The radius named must render with the same options: addressable, and its tiles start
    // within the memory this run may take (--memory included).
    return text + largestRadius([&](double value, uint64_t startBudget) {
               return fits(value) && startsWithin(startBudget);
           });
}


int Run(int argc, char** argv) {
    // Ctrl-C, SIGTERM and SIGHUP from here on answer the host's abort procedure (see
    // OnInterrupt). A file-size limit makes a write fail (EFBIG) instead of ending the program
    // with the temporary file left behind.
    SetCancelLine("pelidorn: cancelled\n");
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
    // Under an address-space limit (ulimit -v) a thread's own malloc arena would reserve 64
    // MiB of it (128 MiB while it is made), and only where that much is left: a larger limit
    // would leave the render less. Every thread takes its small blocks from the one heap
    // instead. Blocks of 256 KiB and up are mapped on their own and given back when freed
    // (by default the threshold grows with the blocks freed, and the heap keeps up to twice
    // it unreturned), so that what is mapped is what is in use.
    struct rlimit as {};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        mallopt(M_ARENA_MAX, 1);
        mallopt(M_MMAP_THRESHOLD, 256 << 10);
        mallopt(M_TRIM_THRESHOLD, 1 << 20);
        // A new thread's stack is as large as the main thread's may grow (8 MiB by default),
        // all of it counted against the limit: the plug-in's workers, which keep their work in
        // the blocks they are given, get 2 MiB each (a Windows host gives its threads 1 MiB).
        // Eight workers then leave 48 MiB more to the blocks, the difference between a render
        // on a fine grid of small tiles and one on the grid the image would have anyway.
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) == 0) {
            if (pthread_attr_setstacksize(&attr, size_t(2) << 20) == 0) pthread_setattr_default_np(&attr);
            pthread_attr_destroy(&attr);
        }
    }
#endif

    const auto keys = ov::resources::ParseTerminology(ov::lens::PelidornTerminology().data(),
                                                      ov::lens::PelidornTerminology().size());
    std::vector<std::string> positional;
    std::vector<DescriptorItem> values;
    std::string selectionPath, modulePath;
    bool printValues = false, quiet = false;
    int jpegQuality = 95;
    uint64_t memoryLimit = 0;  // bytes; 0: what the machine has free
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            PrintHelp(keys.parameters);
            return 0;
        } else if (a == "--selection" || a == "--module") {
            if (i + 1 >= argc) Fail(kExitUsage, a + " needs a file name");
            (a == "--selection" ? selectionPath : modulePath) = argv[++i];
        } else if (a == "--quality") {
            if (i + 1 >= argc) Fail(kExitUsage, "--quality needs a number from 1 to 100");
            const std::string q = argv[++i];
            auto r = std::from_chars(q.data(), q.data() + q.size(), jpegQuality);
            if (r.ec != std::errc() || r.ptr != q.data() + q.size() || jpegQuality < 1 || jpegQuality > 100)
                Fail(kExitUsage, "--quality takes a number from 1 to 100, not '" + q + "'");
        } else if (a == "--memory") {
            if (i + 1 >= argc) Fail(kExitUsage, "--memory needs a number of MiB");
            const std::string m = argv[++i];
            uint64_t mib = 0;
            auto r = std::from_chars(m.data(), m.data() + m.size(), mib);
            if (r.ec != std::errc() || r.ptr != m.data() + m.size() || mib < 1 || mib > (uint64_t(1) << 40))
                Fail(kExitUsage, "--memory takes a number of MiB from 1 to 1099511627776 (2^40), not '" + m + "'");
            memoryLimit = mib << 20;
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
    SetCancelLine("pelidorn: cancelled; " + outputPath + " left untouched\n");

    Image image;
    std::string error;
    stage = "reading " + inputPath;
    if (!ReadImage(inputPath, image, error)) Fail(kExitFailed, inputPath + ": " + error);
    FileFormat outFormat;
    if (!FormatFromPath(outputPath, outFormat))
        Fail(kExitUsage, "OUTPUT must end in " + std::string(FormatExtensions(image.format)) + " (the input's kind)");
    if (outFormat != image.format)
        Fail(kExitUsage, "OUTPUT must be a " + std::string(FormatName(image.format)) +
                             " file like the input (the output keeps the input's format)");

    // The output file: links followed, its folder there and writable, before any work.
    const std::string target = ResolveLinks(outputPath);
    {
        // A chain of links that never ends (a loop) would be replaced by a regular file.
        struct stat link {};
        if (lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            Fail(kExitFailed, outputPath + ": " + std::strerror(ELOOP));
    }
    struct stat existing {};
    const bool replacing = stat(target.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode))
        Fail(kExitFailed, outputPath + ": not a regular file (OUTPUT must name an image file)");
    const std::string folder = FolderOf(target);
    {
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0)
            Fail(kExitFailed, "the output folder " + folder + " does not exist");
        if (!S_ISDIR(st.st_mode)) Fail(kExitFailed, "the output folder " + folder + " is not a folder");
        // The temporary file the output is written to, made and removed: a name too long for
        // the folder fails here, before the render.
        std::string probe = TemporaryName(folder, target);
        const int fd = mkstemp(probe.data());
        if (fd < 0) Fail(kExitFailed, "cannot write in the output folder " + folder + ": " + std::strerror(errno));
        close(fd);
        unlink(probe.c_str());
    }

    Image mask;
    if (!selectionPath.empty()) {
        stage = "reading " + selectionPath;
        if (!ReadImage(selectionPath, mask, error)) Fail(kExitFailed, selectionPath + ": " + error);
        if (mask.colorChannels != 1 || mask.alpha || mask.bits != 8)
            Fail(kExitFailed, selectionPath + ": the selection must be an 8-bit gray image without alpha (it is " +
                                  Describe(mask) + ")");
        if (mask.width != image.width || mask.height != image.height)
            Fail(kExitFailed, selectionPath + ": the selection is " + std::to_string(mask.width) + "x" +
                                  std::to_string(mask.height) + ", the image " + std::to_string(image.width) + "x" +
                                  std::to_string(image.height));
    }
    HostDocument document = DocumentFromImage(image);
    document.selection = std::move(mask.samples);

    // The long view list is offered when the selection is the depth map (SEIS 1, the default;
    // a SEIS outside its list is ignored and leaves the default).
    bool depthList = !selectionPath.empty();
    for (const auto& v : values)
        if (ov::resources::FourCCText(v.key) == "SEIS" && v.integer == 2) depthList = false;

    if (modulePath.empty()) {
        const char* env = std::getenv("PELIDORN_MODULE");
        modulePath = env && *env ? env : ProgramDirectory() + "pelidorn_plugin.so";
    }
    LoadedModule module;
    stage = "loading the plug-in";
    if (!LoadModule(modulePath, "ENTRYPOINT", module, error)) Fail(kExitFailed, error);

    RunOptions options;
    // The plug-in may take what the machine has free, or what --memory allows.
    Budget budget;
    budget.state = ReadMemoryState();
    if (budget.state.addressLimit) {
        budget.address = ShareAddressSpace(budget.state, document, !quiet && isatty(STDERR_FILENO));
        // What the limit leaves for the blocks binds where it is the least (at least a byte:
        // a budget of 0 would be none).
        const uint64_t blocks = std::max<uint64_t>(budget.address.blocks, 1);
        if (budget.state.available == 0 || blocks <= budget.state.available) {
            budget.state.available = blocks;
            budget.state.bound = MemoryState::Bound::AddressSpace;
        }
        options.mappedBytes = MappedBytesNow;
    }
    budget.user = memoryLimit > 0 && (budget.state.available == 0 || memoryLimit < budget.state.available);
    options.bufferBudget = budget.bytes = budget.user ? memoryLimit : budget.state.available;
    options.playback = values;
    options.recorded = !values.empty();
    ProgressDisplay display(!quiet);
    options.progress = [&](int32_t done, int32_t total) { display.Update(done, total); };
    options.abort = [] { return interrupts.load() > 0; };
    stage = "rendering";
    rendering = true;
    RunResult run = RunFilter(module.entry, document, options);
    display.Finish();
    // After the run: a list names the value the plug-in recorded.
    WarnOutOfRange(values, depthList, run.wroteDescriptor ? run.written : std::vector<DescriptorItem>());

    if (printValues && run.wroteDescriptor) {
        for (const auto& k : keys.parameters)
            for (const auto& w : run.written)
                if (w.key == k.key) std::printf("%s\n", FormatDescriptorValue(w).c_str());
    }
    if (run.hostOutOfMemory && (run.result != 0 || !run.error.empty()))
        Fail(kExitFailed, "out of memory while rendering: " + ShortageText(ReadMemoryState()) + " ran short");
    if (!run.error.empty()) Fail(kExitFailed, run.error);
    if (run.result == userCanceledErr || interrupts.load() > 0) {
        std::fprintf(stderr, "pelidorn: cancelled by the user (-128); %s left untouched\n", outputPath.c_str());
        return CancelledCode();
    }
    if (run.result == memFullErr) {
        const std::string why = ExplainOutOfMemory(module.entry, document, values, run, options, budget);
        // An interrupt stops the search for the largest radius that fits: a cancel, not an
        // answer.
        EndRendering();
        Fail(kExitFailed, "the filter failed: " + ResultText(run.result) + ": " + why);
    }
    EndRendering();
    if (run.result != 0) Fail(kExitFailed, "the filter failed: " + ResultText(run.result));

    // Nothing is lost: write beside the output file, then rename into place. The new file
    // takes the old one's permission bits (and owner, where allowed).
    ImageFromDocument(document, image);
    std::string temp = TemporaryName(folder, target);
    stage = "writing " + outputPath;
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    const int fd = mkstemp(temp.data());
    const int createError = errno;
    if (fd >= 0) {
        tempPath = temp;
        std::snprintf(tempForSignal, sizeof tempForSignal, "%s", temp.c_str());
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (fd < 0) Fail(kExitFailed, "cannot create a file in " + folder + ": " + std::strerror(createError));
    if (replacing) {
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {}  // only root may give a file away
        fchmod(fd, existing.st_mode & 07777);
    } else {
        const mode_t umaskBits = umask(0);
        umask(umaskBits);
        fchmod(fd, 0666 & ~umaskBits);  // mkstemp made it 0600
    }
    close(fd);
    WriteOptions writeOptions;
    writeOptions.jpegQuality = jpegQuality;
    if (!WriteImage(temp, image, error, writeOptions)) Fail(kExitFailed, outputPath + ": " + error);
    {
        const int sync = open(temp.c_str(), O_RDONLY);
        const bool synced = sync >= 0 && fsync(sync) == 0;
        const int e = errno;
        if (sync >= 0) close(sync);
        if (!synced) Fail(kExitFailed, outputPath + ": " + std::strerror(e));
    }
    sigprocmask(SIG_BLOCK, &all, &old);
    const bool renamed = std::rename(temp.c_str(), target.c_str()) == 0;
    const int renameError = errno;
    if (renamed) {
        tempPath.clear();
        tempForSignal[0] = 0;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (!renamed) Fail(kExitFailed, "cannot replace " + outputPath + ": " + std::strerror(renameError));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // No exception ends the program without its one-line error (and the temporary file gone).
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Whatever was taken is given back by now: name the limit that binds.
        const MemoryState state = ReadMemoryState();
        Fail(kExitFailed, "out of memory while " + (stage.empty() ? std::string("starting") : stage) + ": " +
                              ShortageText(state) + " ran short");
    } catch (const std::exception& e) {
        Fail(kExitFailed, std::string("unexpected failure: ") + e.what());
    } catch (...) {
        Fail(kExitFailed, "unexpected failure");
    }
}
