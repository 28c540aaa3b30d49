// The stand-in host `pelidorn`, driven as a user drives it, on tiny files this test writes:
// PNG and TIFF in every supported depth and channel layout, with and without alpha; the
// "iris", "highlight selection" and "highlight selection only" views; the errors (one line,
// non-zero exit, an existing output untouched); the values the module writes back; Ctrl-C.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <zlib.h>
// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>
#include <jpeglib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/pelidorn/document.h"
#include "tools/pelidorn/image_io.h"

using pelidorn::FileFormat;
using pelidorn::Image;

namespace {

std::string Tool() { return PELIDORN_TOOL; }

std::string TempDir() {
    static const std::string dir = [] {
        char t[] = "/tmp/pelidorn-tool-test-XXXXXX";
        return std::string(mkdtemp(t) ? t : "/tmp");
    }();
    return dir;
}

// The folder goes when the test program ends (not in a child it forked), so that thousands of
// runs leave nothing behind.
class RemoveTempDir : public ::testing::Environment {
public:
    void TearDown() override {
        if (getpid() != owner_) return;
        const std::string dir = TempDir();
        if (dir.rfind("/tmp/pelidorn-tool-test-", 0) != 0) return;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

private:
    const pid_t owner_ = getpid();
};
[[maybe_unused]] ::testing::Environment* const kRemoveTempDir =
    ::testing::AddGlobalTestEnvironment(new RemoveTempDir);

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun Pelidorn(const std::string& args) {
    const std::string out = TempDir() + "/stdout.txt", err = TempDir() + "/stderr.txt";
    const int status = std::system((Tool() + " " + args + " >" + out + " 2>" + err).c_str());
    auto read = [](const std::string& p) {
        std::ifstream f(p);
        return std::string((std::istreambuf_iterator<char>(f)), {});
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(out), read(err)};
}

// A small scene: dark gradient, a few clipped highlights, a bright bar; alpha a ramp.
Image Scene(FileFormat format, int colors, bool alpha, int bits, int width = 40, int height = 30) {
    Image im;
    im.format = format;
    im.width = width;
    im.height = height;
    im.colorChannels = colors;
    im.alpha = alpha;
    im.bits = bits;
    im.samples.assign(im.rowBytes() * height, 0);
    const int ch = im.channels();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < ch; ++c) {
                double v = 0.2 + 0.2 * x / width + 0.05 * c;
                if ((x % 13 == 6 && y % 11 == 5)) v = c == 0 ? 1.0 : 0.92;   // highlights, reddish
                if (x >= 20 && x < 22) v = 0.9;
                if (alpha && c == ch - 1) v = 0.5 + 0.5 * y / (height - 1.0);
                uint8_t* s = im.samples.data() + (size_t(y) * width + x) * ch * im.sampleBytes() + c * im.sampleBytes();
                if (bits == 8) *s = uint8_t(std::lround(v * 255));
                else if (bits == 16) {
                    const uint16_t u = uint16_t(std::lround(v * 65535));
                    std::memcpy(s, &u, 2);
                } else {
                    const float f = float(v);
                    std::memcpy(s, &f, 4);
                }
            }
    return im;
}

// Overwrites every `every`-th sample byte with noise (a fixed linear congruential sequence).
void AddNoise(Image& im, uint32_t seed, size_t every = 1) {
    for (size_t i = 0; i < im.samples.size(); i += every)
        im.samples[i] = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
}

std::string Write(const Image& im, const std::string& name) {
    const std::string path = TempDir() + "/" + name;
    std::string error;
    EXPECT_TRUE(pelidorn::WriteImage(path, im, error)) << error;
    return path;
}

Image Read(const std::string& path) {
    Image im;
    std::string error;
    EXPECT_TRUE(pelidorn::ReadImage(path, im, error)) << path << ": " << error;
    return im;
}

double Sample(const Image& im, int x, int y, int c) {
    const uint8_t* s = im.samples.data() + (size_t(y) * im.width + x) * im.channels() * im.sampleBytes() + c * im.sampleBytes();
    if (im.bits == 8) return *s / 255.0;
    if (im.bits == 16) {
        uint16_t u;
        std::memcpy(&u, s, 2);
        return u / 65535.0;
    }
    float f;
    std::memcpy(&f, s, 4);
    return f;
}

// Sum of absolute differences between horizontal neighbours: a blur lowers it.
double Roughness(const Image& im) {
    double r = 0;
    for (int y = 0; y < im.height; ++y)
        for (int x = 1; x < im.width; ++x)
            for (int c = 0; c < im.colorChannels; ++c) r += std::fabs(Sample(im, x, y, c) - Sample(im, x - 1, y, c));
    return r;
}

bool FileExists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

// Whether the process has a handler for SIGINT (the SigCgt mask of /proc/PID/status).
bool CatchesInterrupt(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1;
    return false;
}

}  // namespace

TEST(PelidornTool, BlursEveryFormatAndLayout) {
    struct Row {
        FileFormat format;
        int bits;
        const char* ext;
    };
    const Row rows[] = {{FileFormat::Png, 8, "png"},   {FileFormat::Png, 16, "png"}, {FileFormat::Tiff, 8, "tif"},
                        {FileFormat::Tiff, 16, "tiff"}, {FileFormat::Tiff, 32, "tif"}};
    for (const Row& row : rows)
        for (int colors : {1, 3})
            for (bool alpha : {false, true}) {
                const Image in = Scene(row.format, colors, alpha, row.bits);
                const std::string name = std::string("in_") + std::to_string(row.bits) + "_" + std::to_string(colors) +
                                         (alpha ? "a" : "") + "." + row.ext;
                const std::string input = Write(in, name);
                const std::string output = TempDir() + "/out_" + name;
                const ToolRun r = Pelidorn(input + " " + output + " RADI=300 --quiet");
                const std::string what = pelidorn::Describe(in);
                ASSERT_EQ(r.code, 0) << what << ": " << r.err;
                EXPECT_TRUE(r.err.empty()) << r.err;
                const Image out = Read(output);
                EXPECT_EQ(int(out.format), int(in.format)) << what;
                EXPECT_EQ(out.bits, in.bits) << what;
                EXPECT_EQ(out.colorChannels, in.colorChannels) << what;
                EXPECT_EQ(out.alpha, in.alpha) << what;
                EXPECT_EQ(out.width, in.width);
                EXPECT_EQ(out.height, in.height);
                EXPECT_LT(Roughness(out), 0.5 * Roughness(in)) << what << ": not blurred";
            }
}

TEST(PelidornTool, RadiusZeroKeepsTheImageAndSixteenBitsMapExactly) {
    // Values a host can hold (0..32768 mapped out to 16 bits) come back unchanged.
    Image in = Scene(FileFormat::Png, 3, true, 16);
    for (size_t i = 0; i + 1 < in.samples.size(); i += 2) {
        uint16_t v;
        std::memcpy(&v, &in.samples[i], 2);
        v = pelidorn::HostToFile16(pelidorn::FileToHost16(v));
        std::memcpy(&in.samples[i], &v, 2);
    }
    const std::string input = Write(in, "exact16.png");
    const ToolRun r = Pelidorn(input + " " + TempDir() + "/exact16_out.png RADI=0 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(TempDir() + "/exact16_out.png").samples, in.samples);
}

TEST(PelidornTool, SixteenBitMappingRoundTrips) {
    for (uint32_t h = 0; h <= 32768; ++h) EXPECT_EQ(pelidorn::FileToHost16(pelidorn::HostToFile16(uint16_t(h))), h);
    for (uint32_t v = 0; v <= 65535; ++v) {
        const uint16_t h = pelidorn::FileToHost16(uint16_t(v));
        ASSERT_LE(h, 32768);
        EXPECT_LE(std::abs(int(pelidorn::HostToFile16(h)) - int(v)), 1);
    }
    EXPECT_EQ(pelidorn::FileToHost16(65535), 32768);
    EXPECT_EQ(pelidorn::HostToFile16(32768), 65535);
    EXPECT_EQ(pelidorn::HostToFile16(40000), 65535);  // above the host's range: clipped
}

TEST(PelidornTool, Views) {
    const Image in = Scene(FileFormat::Png, 3, false, 8, 48, 36);
    const std::string input = Write(in, "views.png");
    auto render = [&](const std::string& args, const std::string& name) {
        const ToolRun r = Pelidorn(input + " " + TempDir() + "/" + name + " " + args + " --quiet");
        EXPECT_EQ(r.code, 0) << args << ": " << r.err;
        return Read(TempDir() + "/" + name);
    };
    const Image blur = render("RADI=300", "v_blur.png");
    const Image iris = render("RADI=300 SHOW=2 IRFA=6", "v_iris.png");
    const Image selection = render("SHOW=3 SELL=240", "v_sel.png");
    const Image only = render("SHOW=4 SELL=240", "v_only.png");
    EXPECT_NE(iris.samples, blur.samples);
    EXPECT_NE(iris.samples, in.samples);
    // "highlight selection only": the weight alone, black away from the highlights and bright
    // on them; "highlight selection": the source weighted by it.
    EXPECT_LT(Sample(only, 2, 2, 0), 0.05);
    EXPECT_GT(Sample(only, 6, 5, 0), 0.5);
    EXPECT_NE(selection.samples, only.samples);
    EXPECT_LT(Sample(selection, 2, 2, 0), 0.05);
    EXPECT_GT(Sample(selection, 6, 5, 0), 0.5);
}

TEST(PelidornTool, SelectionAsIrisAndAsDepthMap) {
    const Image in = Scene(FileFormat::Png, 3, false, 8);
    const std::string input = Write(in, "sel_in.png");
    Image mask;
    mask.format = FileFormat::Png;
    mask.width = in.width;
    mask.height = in.height;
    mask.colorChannels = 1;
    mask.samples.assign(size_t(in.width) * in.height, 0);
    for (int y = 10; y < 20; ++y)
        for (int x = 15; x < 25; ++x) mask.samples[size_t(y) * in.width + x] = 255;
    const std::string sel = Write(mask, "sel_mask.png");
    const std::string output = TempDir() + "/sel_out.png";
    ToolRun r = Pelidorn(input + " " + output + " --selection " + sel + " SEIS=2 RADI=300 --quiet");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(FileExists(output));
    // As a depth map the depth-of-field engine runs. "depth buffer" (SHOW=3 of the
    // depth-of-field list) draws the map itself as gray; iris, highlight and sharp-zone views
    // render.
    const std::string depthOut = TempDir() + "/sel_depth.png";
    r = Pelidorn(input + " " + depthOut + " --selection " + sel + " SEIS=1 SHOW=3 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    const Image depth = Read(depthOut);
    for (int y = 0; y < int(in.height); ++y)
        for (int x = 0; x < int(in.width); ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(Sample(depth, x, y, c), mask.samples[size_t(y) * in.width + x] / 255.0) << x << "," << y;
    for (const char* view : {"2", "4", "5", "7"}) {
        r = Pelidorn(input + " " + depthOut + " --selection " + sel + " SHOW=" + view + " RADI=20 --quiet");
        EXPECT_EQ(r.code, 0) << view << ": " << r.err;
    }
    // The blur view end to end: the selected block is at the focal depth (255) and comes back
    // as it went in; the rest (depth 0) is blurred.
    r = Pelidorn(input + " " + output + " --selection " + sel + " RADI=20 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    const Image blurred = Read(output);
    ASSERT_EQ(blurred.width, in.width);
    ASSERT_EQ(blurred.height, in.height);
    int changed = 0;
    for (int y = 0; y < int(in.height); ++y)
        for (int x = 0; x < int(in.width); ++x)
            for (int c = 0; c < 3; ++c) {
                const bool sharp = y >= 10 && y < 20 && x >= 15 && x < 25;
                if (sharp) {
                    ASSERT_EQ(Sample(blurred, x, y, c), Sample(in, x, y, c)) << x << "," << y;
                } else {
                    changed += Sample(blurred, x, y, c) != Sample(in, x, y, c);
                }
            }
    EXPECT_GT(changed, 300);
    // A highlight of the background is spread: dimmer at its centre, lighting its neighbour.
    EXPECT_LT(Sample(blurred, 6, 5, 1), Sample(in, 6, 5, 1) - 0.1);
    EXPECT_GT(Sample(blurred, 7, 5, 1), Sample(in, 7, 5, 1) + 0.05);
}

// A gray PNG depth map of `in`'s size, every pixel `value`.
static Image UniformDepth(const Image& in, uint8_t value) {
    Image depth;
    depth.format = FileFormat::Png;
    depth.width = in.width;
    depth.height = in.height;
    depth.colorChannels = 1;
    depth.samples.assign(size_t(in.width) * in.height, value);
    return depth;
}

// A focal point far outside 0..255 asks a depth-map blur for a margin no work area holds: the
// plug-in refuses it before it works, and the message names the blur that focal point asks
// for and the focal point nearest it that fits (not the radius, which is not the cause). The
// search for that focal point renders trials within the memory the run may take: a small
// --memory keeps them quick.
TEST(PelidornTool, FarFocalPointNamesItsBlurAndTheNearestThatFits) {
    const Image in = Scene(FileFormat::Png, 3, false, 8);
    const std::string input = Write(in, "far_in.png");
    const std::string sel = Write(UniformDepth(in, 128), "far_depth.png");
    struct Case {
        const char* focal;
        const char* blur;   // RADI=20 on a 40 x 30 image: 1.25 pixels a unit of the radius
        const char* which;
    };
    // 1e7 x 1.25 / 255 + 1 = 49020.6 pixels; (1e7 + 255) x 1.25 / 255 + 1 = 49021.6.
    const Case cases[] = {{"10000000", "the blur of 49021 pixels that FOPO=1e+07 asks for at RADI=20", "largest"},
                          {"-10000000", "the blur of 49022 pixels that FOPO=-1e+07 asks for at RADI=20", "smallest"}};
    for (const Case& c : cases) {
        const std::string output = TempDir() + "/far_out.png";
        const ToolRun r =
            Pelidorn(input + " " + output + " --selection " + sel + " --memory 16 RADI=20 FOPO=" + c.focal + " --quiet");
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_FALSE(FileExists(output));
        EXPECT_NE(r.err.find("out of memory (-108): the work area for " + std::string(c.blur)), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(std::string("is the ") + c.which + " that fits"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("the work area at RADI"), std::string::npos) << r.err;
    }
    // Where not even the nearest focal point in range renders at that radius, that is said,
    // and it is so.
    const std::string output = TempDir() + "/far_out.png";
    const ToolRun none = Pelidorn(input + " " + output + " --selection " + sel + " --memory 1 RADI=250 FOPO=1e7 --quiet");
    EXPECT_EQ(none.code, 1) << none.err;
    EXPECT_NE(none.err.find("; not even FOPO=255 renders within this memory at RADI=250"), std::string::npos)
        << none.err;
    EXPECT_EQ(Pelidorn(input + " " + output + " --selection " + sel + " --memory 1 RADI=250 FOPO=255 --quiet").code, 1);
    EXPECT_FALSE(FileExists(output));
}

// A work area the plug-in can address but the memory it may take cannot hold: the message
// names the largest radius that fits, and that radius does render while the next does not.
TEST(PelidornTool, WorkAreaBeyondTheMemoryNamesTheLargestRadiusThatFits) {
    const Image in = Scene(FileFormat::Png, 3, false, 8, 80, 60);
    const std::string input = Write(in, "mem_in.png");
    const std::string sel = Write(UniformDepth(in, 64), "mem_depth.png");
    const std::string output = TempDir() + "/mem_out.png";
    const std::string common = input + " " + output + " --selection " + sel + " --memory 2 --quiet RADI=";
    const ToolRun r = Pelidorn(common + "1000");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_FALSE(FileExists(output));
    EXPECT_NE(r.err.find("out of memory (-108): the work area at RADI=1000 (a 80x60 image) needs more memory than "
                         "--memory 2 allows"),
              std::string::npos)
        << r.err;
    const size_t at = r.err.find("; RADI=");
    const size_t end = r.err.find(" is the largest that fits");
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_NE(end, std::string::npos) << r.err;
    const std::string largest = r.err.substr(at + 7, end - at - 7);
    const double value = std::stod(largest);
    EXPECT_GT(value, 1.0);
    EXPECT_LT(value, 1000.0);
    const ToolRun fits = Pelidorn(common + largest);
    EXPECT_EQ(fits.code, 0) << fits.err;
    EXPECT_TRUE(FileExists(output));
    std::remove(output.c_str());
    const ToolRun beyond = Pelidorn(common + std::to_string(value + 0.2));
    EXPECT_EQ(beyond.code, 1) << beyond.err;
    EXPECT_NE(beyond.err.find("out of memory (-108)"), std::string::npos) << beyond.err;
    // --memory takes a whole number of MiB from 1 up.
    for (const char* bad : {"0", "-5", "1.5", "x"}) {
        const ToolRun u = Pelidorn(input + " " + output + " --memory " + bad);
        EXPECT_EQ(u.code, 2) << bad << ": " << u.err;
        EXPECT_NE(u.err.find("--memory takes a number of MiB"), std::string::npos) << u.err;
    }
}

TEST(PelidornTool, ErrorsAreOneLineAndNonZero) {
    const Image in = Scene(FileFormat::Png, 1, false, 8);
    const std::string input = Write(in, "err_in.png");
    const std::string output = TempDir() + "/err_out.png";
    struct Row {
        std::string args;
        int code;
        const char* mentions;
    };
    Image small = Scene(FileFormat::Png, 1, false, 8, 10, 10);
    const std::string smallMask = Write(small, "small_mask.png");
    const std::string rgbMask = Write(Scene(FileFormat::Png, 3, false, 8), "rgb_mask.png");
    const std::string deepMask = Write(Scene(FileFormat::Png, 1, false, 16), "deep_mask.png");
    const std::string alphaMask = Write(Scene(FileFormat::Png, 1, true, 8), "alpha_mask.png");
    const std::string flatMask = Write(Scene(FileFormat::Png, 1, false, 8, 40, 10), "flat_mask.png");
    const std::string narrowMask = Write(Scene(FileFormat::Png, 1, false, 8, 10, 30), "narrow_mask.png");
    std::ofstream(TempDir() + "/garbage.png") << "not an image";
    const Row rows[] = {
        {input + " " + output + " FOO=1", 2, "FOO"},
        {input + " " + output + " RADI=abc", 2, "RADI"},
        {input + " " + output + " IRFA=2.5", 2, "IRFA"},
        {input + " " + output + " GACO=maybe", 2, "GACO"},
        {input + " " + output + " RADI=1 RADI=2", 2, "RADI"},
        {input + " " + output + " RADI=nan", 2, "malformed value for RADI: 'nan'"},
        {input + " " + output + " RADI=inf", 2, "malformed value for RADI: 'inf'"},
        {input + " " + output + " RADI=1e999", 2, "malformed value for RADI: '1e999'"},
        {input + " " + output + " IRFA=6x", 2, "malformed value for IRFA: '6x'"},
        {input + " " + output + " --quality 101", 2, "--quality takes a number from 1 to 100, not '101'"},
        {input + " " + output + " --quality 0", 2, "--quality takes a number from 1 to 100, not '0'"},
        {input + " " + output + " --selection", 2, "--selection needs a file name"},
        {input + " " + TempDir() + "/out.bmp", 2, "OUTPUT must end in .png (the input's kind)"},
        {input + " " + output + " --selection " + smallMask, 1, "10x10"},
        {input + " " + output + " --selection " + flatMask, 1, "40x10"},
        {input + " " + output + " --selection " + narrowMask, 1, "10x30"},
        {input + " " + output + " --selection " + rgbMask, 1, "8-bit gray image without alpha (it is PNG RGB, 40x30, 8 bits)"},
        {input + " " + output + " --selection " + deepMask, 1, "(it is PNG gray, 40x30, 16 bits)"},
        {input + " " + output + " --selection " + alphaMask, 1, "(it is PNG gray with alpha, 40x30, 8 bits)"},
        {input + " " + TempDir() + "/out.tif", 2, "PNG"},
        {TempDir() + "/missing.png " + output, 1, "missing.png"},
        {TempDir() + "/garbage.png " + output, 1, "garbage.png"},
        {input, 2, "OUTPUT"},
        {input + " " + output + " --bogus", 2, "--bogus"},
        {input + " " + output + " --module /nonexistent/plugin.so", 1, "plug-in module"},
    };
    for (const Row& row : rows) {
        const ToolRun r = Pelidorn(row.args);
        EXPECT_EQ(r.code, row.code) << row.args << ": " << r.err;
        EXPECT_NE(r.err.find(row.mentions), std::string::npos) << row.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("pelidorn: ", 0), 0u) << r.err;
        EXPECT_FALSE(FileExists(output)) << row.args;
    }
}

TEST(PelidornTool, HelpAndWrittenBackValues) {
    ToolRun r = Pelidorn("--help");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage: pelidorn INPUT OUTPUT"), std::string::npos);
    EXPECT_NE(r.out.find("RADI"), std::string::npos);
    EXPECT_NE(r.out.find("IRFA"), std::string::npos);
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8), "values.png");
    r = Pelidorn(input + " " + TempDir() + "/values_out.png RADI=40 SHOW=2 IRFA=6 --print-values --quiet");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 24) << r.out;
    EXPECT_NE(r.out.find("RADI=40\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SHOW=2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("IRFA=6\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SELL=200\n"), std::string::npos) << r.out;
    // The radius callback caps a value above 1000 as it is read, before it is written back.
    r = Pelidorn(input + " " + TempDir() + "/values_out.png RADI=5000 --print-values --quiet");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("RADI=1000\n"), std::string::npos) << r.out;
}

TEST(PelidornTool, CtrlCCancelsAndLeavesTheOutputAlone) {
    const std::string input = Write(Scene(FileFormat::Png, 3, false, 8, 1600, 1200), "big.png");
    const std::string output = TempDir() + "/big_out.png";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execl(Tool().c_str(), "pelidorn", input.c_str(), output.c_str(), "RADI=50", "--quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the tool catches SIGINT (its first act in main; the loader and, in the
    // sanitizer build, the runtime start-up come before), then interrupt it.
    for (int i = 0; i < 2000 && !CatchesInterrupt(pid); ++i) usleep(5000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(FileExists(output));
}

// ---- files written and read by the format libraries themselves --------------------------------

namespace {

std::string ReadFile(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

void WriteFile(const std::string& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// Files in a folder whose names start with '.' (a temporary output left behind).
int HiddenFiles(const std::string& dir) {
    const ToolRun r = [&] {
        const int status = std::system(("ls -A " + dir + " | grep -c '^\\.' > " + TempDir() + "/hidden.txt").c_str());
        (void)status;
        return ToolRun{0, ReadFile(TempDir() + "/hidden.txt"), ""};
    }();
    return std::atoi(r.out.c_str());
}

std::string Fresh(const std::string& name) {
    const std::string dir = TempDir() + "/" + name;
    const int status = std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str());
    (void)status;
    return dir;
}

// A PNG of any colour type and depth through libpng, with optional palette, tRNS and colour chunks.
struct PngSpec {
    int width = 4, height = 3, bitDepth = 8, colorType = PNG_COLOR_TYPE_GRAY;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;  // tRNS of a palette image
    bool grayKey = false;
    png_uint_16 keyGray = 0;
    std::vector<uint8_t> icc;
    double gamma = 0;
    int srgb = -1;
    bool interlaced = false;  // Adam7
    std::vector<uint8_t> exif;
    bool exifAfterImage = false;  // the eXIf chunk after the image data (PNG allows both)
    std::vector<std::vector<uint8_t>> rows;  // packed rows as the file holds them
};

void WriteLibPng(const std::string& path, const PngSpec& s) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
    if (!s.paletteAlpha.empty()) png_set_tRNS(png, info, s.paletteAlpha.data(), int(s.paletteAlpha.size()), nullptr);
    if (s.grayKey) {
        png_color_16 key{};
        key.gray = s.keyGray;
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (!s.icc.empty()) png_set_iCCP(png, info, "test profile", 0, s.icc.data(), png_uint_32(s.icc.size()));
    if (s.gamma > 0) png_set_gAMA(png, info, s.gamma);
    if (s.srgb >= 0) png_set_sRGB(png, info, s.srgb);
    std::vector<uint8_t> exif = s.exif;
    if (!exif.empty() && !s.exifAfterImage) png_set_eXIf_1(png, info, png_uint_32(exif.size()), exif.data());
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (const auto& r : s.rows) png_write_row(png, r.data());
    png_infop end = png_create_info_struct(png);
    if (!exif.empty() && s.exifAfterImage) png_set_eXIf_1(png, end, png_uint_32(exif.size()), exif.data());
    png_write_end(png, end);
    png_destroy_info_struct(png, &end);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// A PNG read by libpng as stored (16-bit samples big-endian), with its colour chunks.
struct PngRead {
    int width = 0, height = 0, bitDepth = 0, colorType = 0;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> icc;
    std::string iccName;
    png_fixed_point gamma = 0;
    int srgb = -1;
    std::vector<uint8_t> exif;
};

PngRead ReadLibPng(const std::string& path) {
    PngRead r;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return r;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_read_info(png, info);
    r.width = int(png_get_image_width(png, info));
    r.height = int(png_get_image_height(png, info));
    r.bitDepth = png_get_bit_depth(png, info);
    r.colorType = png_get_color_type(png, info);
    png_charp name;
    int compression;
    png_bytep profile;
    png_uint_32 length;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length)) {
        r.icc.assign(profile, profile + length);
        r.iccName = name;
    }
    png_get_gAMA_fixed(png, info, &r.gamma);
    int intent;
    if (png_get_sRGB(png, info, &intent)) r.srgb = intent;
    const size_t rowBytes = png_get_rowbytes(png, info);
    r.pixels.resize(rowBytes * r.height);
    std::vector<png_bytep> rows(r.height);
    for (int y = 0; y < r.height; ++y) rows[y] = r.pixels.data() + rowBytes * y;
    png_read_image(png, rows.data());
    png_read_end(png, info);
    png_uint_32 exifSize = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif) r.exif.assign(exif, exif + exifSize);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return r;
}

int ChannelsOf(int type) {
    return (type & PNG_COLOR_MASK_COLOR ? 3 : 1) + (type & PNG_COLOR_MASK_ALPHA ? 1 : 0);
}

// A made-up ICC profile: the tool keeps the bytes, it never interprets them.
std::vector<uint8_t> FakeProfile() {
    std::vector<uint8_t> p(132 + 40, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    put32(0, uint32_t(p.size()));
    put32(8, 0x02100000);  // version 2.1
    std::memcpy(&p[12], "mntr", 4);
    std::memcpy(&p[16], "RGB ", 4);
    std::memcpy(&p[20], "XYZ ", 4);
    std::memcpy(&p[36], "acsp", 4);
    put32(68, 0x0000F6D6), put32(72, 0x00010000), put32(76, 0x0000D32D);  // D50
    put32(128, 0);  // no tags
    for (size_t i = 132; i < p.size(); ++i) p[i] = uint8_t(i * 7 + 3);
    return p;
}

void WriteLibTiff(const std::string& path, int width, int height, int spp, int bits, uint16_t planar, uint16_t compression,
                  int pages, uint16_t orientation, const std::vector<uint8_t>& icc, const std::vector<uint8_t>& samples,
                  bool bigEndian = false) {
    TIFF* t = TIFFOpen(path.c_str(), bigEndian ? "wb" : "wl");
    ASSERT_TRUE(t);
    const int sb = bits / 8;
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp));
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(2));
        if (!icc.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.data());
        std::vector<uint8_t> line(size_t(width) * spp * sb);
        if (planar == PLANARCONFIG_CONTIG) {
            for (int y = 0; y < height; ++y) {
                std::memcpy(line.data(), samples.data() + line.size() * y, line.size());
                TIFFWriteScanline(t, line.data(), uint32_t(y), 0);
            }
        } else {
            for (int s = 0; s < spp; ++s)
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x)
                        std::memcpy(&line[size_t(x) * sb], &samples[((size_t(y) * width + x) * spp + s) * sb], size_t(sb));
                    TIFFWriteScanline(t, line.data(), uint32_t(y), uint16_t(s));
                }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
}

void WriteLibJpeg(const std::string& path, int width, int height, int components, J_COLOR_SPACE space,
                  const std::vector<uint8_t>& icc, const std::vector<uint8_t>& samples,
                  const std::vector<uint8_t>& exif = {}, bool progressive = false) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    if (!exif.empty()) c.write_JFIF_header = FALSE;
    jpeg_start_compress(&c, TRUE);
    if (!exif.empty()) {
        std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
        app1.insert(app1.end(), exif.begin(), exif.end());
        jpeg_write_marker(&c, JPEG_APP0 + 1, app1.data(), unsigned(app1.size()));
    }
    if (!icc.empty()) jpeg_write_icc_profile(&c, icc.data(), unsigned(icc.size()));
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(y) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

struct JpegRead {
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> pixels, icc;
    std::vector<uint8_t> exif;  // the first APP1 segment after "Exif\0\0"
    int firstMarker = 0;        // the first saved APPn segment
};

JpegRead ReadLibJpeg(const std::string& path) {
    JpegRead r;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return r;
    jpeg_decompress_struct d{};
    jpeg_error_mgr e{};
    d.err = jpeg_std_error(&e);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_save_markers(&d, JPEG_APP0, 0xFFFF);
    jpeg_save_markers(&d, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d, TRUE);
    if (d.marker_list) r.firstMarker = d.marker_list->marker;
    for (jpeg_saved_marker_ptr m = d.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            r.exif.assign(m->data + 6, m->data + m->data_length);
            break;
        }
    JOCTET* icc = nullptr;
    unsigned int length = 0;
    if (jpeg_read_icc_profile(&d, &icc, &length)) {
        r.icc.assign(icc, icc + length);
        std::free(icc);
    }
    jpeg_start_decompress(&d);
    r.width = int(d.output_width), r.height = int(d.output_height), r.components = d.output_components;
    r.pixels.resize(size_t(r.width) * r.height * r.components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = r.pixels.data() + size_t(d.output_scanline) * r.width * r.components;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return r;
}

// A file whose header claims a size that no pixel data follows.
// A PNG chunk: length, type, data and CRC.
std::string PngChunk(const char* type, const std::string& data) {
    std::string c;
    for (int i = 3; i >= 0; --i) c += char((data.size() >> (8 * i)) & 0xFF);
    std::string body = std::string(type, 4) + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    c += body;
    for (int i = 3; i >= 0; --i) c += char((crc >> (8 * i)) & 0xFF);
    return c;
}

std::string Big32(uint32_t v) {
    std::string b;
    for (int i = 3; i >= 0; --i) b += char((v >> (8 * i)) & 0xFF);
    return b;
}

std::string PngHeaderOnly(uint32_t width, uint32_t height, int depth = 8, int type = 2, bool interlaced = false) {
    std::string ihdr = Big32(width) + Big32(height);
    ihdr += char(depth), ihdr += char(type), ihdr += '\0', ihdr += '\0', ihdr += char(interlaced ? 1 : 0);
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) +
           PngChunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) +  // an empty zlib stream
           PngChunk("IEND", "");
}

std::string TiffHeaderOnly(uint32_t width, uint32_t height, uint16_t compression = 1, uint16_t bits = 8) {
    // Little-endian TIFF: one directory of seven entries, one strip at offset 8 of 3 bytes.
    std::string b("II*\0\x08\0\0\0", 8);
    auto u16 = [&](uint16_t v) { b += char(v & 0xFF), b += char(v >> 8); };
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xFF);
    };
    u16(7);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        u16(tag), u16(type), u32(1), (type == 3 ? (u16(uint16_t(value)), u16(0)) : u32(value));
    };
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, bits);
    entry(259, 3, compression);
    entry(262, 3, 1);
    entry(273, 4, 8);
    entry(279, 4, 3);
    u32(0);
    return b;
}

// An animation of 4x4 gray frames (acTL, a frame control before every frame, the frames
// after the first in fdAT chunks). With `imageIsFrame` the image data is the first frame;
// without, it is the still shown where animations are not, and every frame follows it.
std::string AnimatedPng(uint32_t frames, bool imageIsFrame) {
    std::string ihdr = Big32(4) + Big32(4);
    ihdr += std::string("\x08\x00\x00\x00\x00", 5);
    std::string rows;
    for (int y = 0; y < 4; ++y) rows += std::string("\0\x40\x80\xc0\xff", 5);
    uLongf size = compressBound(uLong(rows.size()));
    std::string z(size, '\0');
    compress(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(rows.data()), uLong(rows.size()));
    z.resize(size);
    uint32_t sequence = 0;
    auto frameControl = [&] {
        std::string c = Big32(sequence++) + Big32(4) + Big32(4) + Big32(0) + Big32(0);
        c += std::string("\x00\x01\x00\x0a\x00\x00", 6);  // 1/10 s, no dispose, source blend
        return PngChunk("fcTL", c);
    };
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr);
    png += PngChunk("acTL", Big32(frames) + Big32(0));
    if (imageIsFrame) png += frameControl();
    png += PngChunk("IDAT", z);
    for (uint32_t f = imageIsFrame ? 1 : 0; f < frames; ++f) {
        png += frameControl();
        png += PngChunk("fdAT", Big32(sequence++) + z);
    }
    return png + PngChunk("IEND", "");
}

}  // namespace

TEST(PelidornTool, HostileFilesAndCarelessRunsLeaveTheOutputAlone) {
    const std::string dir = Fresh("hostile");
    const std::string good = Write(Scene(FileFormat::Png, 3, false, 8), "hostile_good.png");
    const std::string goodJpegSamples(size_t(8 * 8 * 4), '\x80');
    WriteFile(dir + "/huge.png", PngHeaderOnly(100000, 100000));
    WriteFile(dir + "/big.png", PngHeaderOnly(40000, 40000));
    WriteFile(dir + "/short.png", PngHeaderOnly(8000, 6000));  // 144 MB of rows from 8 bytes
    // A text chunk that declares 2 GiB in a file of 80 bytes (a reader that believed it would
    // take the memory before finding the file short).
    std::string overlong = PngHeaderOnly(4, 4);
    overlong.insert(33, std::string("\x7f\xff\xff\xf0tEXtComment\0hi", 18));
    WriteFile(dir + "/overlong.png", overlong);
    WriteFile(dir + "/huge.tif", TiffHeaderOnly(100000, 100000));
    WriteFile(dir + "/short.tif", TiffHeaderOnly(8000, 6000));  // 48 MB of rows from one 3-byte strip
    WriteLibTiff(dir + "/pages.tif", 4, 4, 1, 8, PLANARCONFIG_CONTIG, COMPRESSION_NONE, 2, 1, {},
                 std::vector<uint8_t>(16, 100));
    WriteLibJpeg(dir + "/cmyk.jpg", 8, 8, 4, JCS_CMYK, {}, std::vector<uint8_t>(goodJpegSamples.begin(), goodJpegSamples.end()));
    // Files cut off half-way through their image data (a JPEG decoder would fill the rest in).
    for (FileFormat format : {FileFormat::Png, FileFormat::Jpeg, FileFormat::Tiff}) {
        const std::string ext = format == FileFormat::Png ? ".png" : format == FileFormat::Jpeg ? ".jpg" : ".tif";
        const std::string whole = ReadFile(Write(Scene(format, 3, false, 8), "hostile_whole" + ext));
        const size_t scan = format == FileFormat::Jpeg ? whole.find("\xFF\xDA") : 0;  // JPEG: start of scan
        ASSERT_NE(scan, std::string::npos);
        WriteFile(dir + "/cut" + ext, whole.substr(0, (scan + whole.size()) / 2));
        // Without its final marker a JPEG still holds every pixel: that one is read.
        if (format == FileFormat::Jpeg) WriteFile(dir + "/noend.jpg", whole.substr(0, whole.size() - 2));
    }
    {
        TIFF* t = TIFFOpen((dir + "/premultiplied.tif").c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(4));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(4));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(2));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
        uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
        std::vector<uint8_t> line(8, 60);
        for (uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(t, line.data(), y, 0);
        TIFFClose(t);
    }
    // A tiled TIFF, signed samples, and gray with 0 as white (read as stored, it would be inverted).
    {
        TIFF* t = TIFFOpen((dir + "/tiled.tif").c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(16));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(16));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(16));
        TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(16));
        std::vector<uint8_t> tile(256, 90);
        TIFFWriteTile(t, tile.data(), 0, 0, 0, 0);
        TIFFClose(t);
    }
    for (const auto& [name, format, photometric] :
         {std::tuple<const char*, uint16_t, uint16_t>{"signed.tif", SAMPLEFORMAT_INT, PHOTOMETRIC_MINISBLACK},
          {"miniswhite.tif", SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISWHITE}}) {
        TIFF* t = TIFFOpen((dir + "/" + name).c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(4));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(4));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(16));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
        std::vector<uint8_t> line(8, 60);
        for (uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(t, line.data(), y, 0);
        TIFFClose(t);
    }
    {
        // Every scan whole, the last ones missing: the decoder would make up the finer detail.
        std::vector<uint8_t> rgb(size_t(32 * 24 * 3));
        uint32_t seed = 11;
        for (uint8_t& v : rgb) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        WriteLibJpeg(dir + "/progressive.jpg", 32, 24, 3, JCS_RGB, {}, rgb, {}, true);
        const std::string whole = ReadFile(dir + "/progressive.jpg");
        const size_t lastScan = whole.rfind("\xFF\xDA");
        ASSERT_NE(lastScan, std::string::npos);
        WriteFile(dir + "/cut_progressive.jpg", whole.substr(0, lastScan));
    }
    WriteFile(dir + "/animated.png", AnimatedPng(3, true));
    WriteFile(dir + "/animated2.png", AnimatedPng(2, true));
    WriteFile(dir + "/animated_hidden_still.png", AnimatedPng(1, false));  // the one frame is not the image
    const int made = std::system(("mkdir -p " + dir + "/folder.png").c_str());
    (void)made;
    struct Row {
        std::string input, output;
        int code;
        const char* mentions;
    };
    const std::string out = dir + "/out.png";
    const Row rows[] = {
        {dir + "/huge.png", out, 1, "32767"},
        {dir + "/big.png", out, 1, "32767"},
        {dir + "/short.png", out, 1, "too short for 8000x6000 pixels"},
        {dir + "/overlong.png", out, 1, "tEXt chunk runs past the end of the file"},
        {dir + "/huge.tif", dir + "/out.tif", 1, "32767"},
        {dir + "/short.tif", dir + "/out.tif", 1, "too short for 8000x6000 pixels"},
        {dir + "/pages.tif", dir + "/out.tif", 1, "multi-page"},
        {dir + "/premultiplied.tif", dir + "/out.tif", 1, "premultiplied (associated) alpha are not supported"},
        {dir + "/tiled.tif", dir + "/out.tif", 1, "tiled TIFF files are not supported"},
        {dir + "/signed.tif", dir + "/out.tif", 1, "TIFF samples of 16 bits signed are not supported"},
        {dir + "/miniswhite.tif", dir + "/out.tif", 1, "TIFF colour model 0 is not supported"},
        {dir + "/cut_progressive.jpg", dir + "/out.jpg", 1, "it ends before its image data does"},
        {dir + "/animated.png", out, 1, "animated PNG files are not supported (this one has 3 frames"},
        {dir + "/animated2.png", out, 1, "animated PNG files are not supported (this one has 2 frames"},
        {dir + "/animated_hidden_still.png", out, 1, "animated PNG files are not supported (this one has 1 frame;"},
        {dir + "/cmyk.jpg", dir + "/out.jpg", 1, "CMYK"},
        {dir + "/cut.png", out, 1, "not a readable PNG"},
        {dir + "/cut.jpg", dir + "/out.jpg", 1, "not a readable JPEG"},
        {dir + "/cut.tif", dir + "/out.tif", 1, "TIFF"},
        {good, dir + "/no/such/folder/out.png", 1, "does not exist"},
        {good, dir + "/folder.png", 1, "not a regular file"},
        {dir + "/folder.png", out, 1, "a folder, not an image file"},
    };
    for (const Row& row : rows) {
        WriteFile(row.output.find("no/such") == std::string::npos && row.output != dir + "/folder.png" ? row.output : out,
                  "keep me");
        const ToolRun r = Pelidorn(row.input + " " + row.output + " RADI=10 --quiet");
        EXPECT_EQ(r.code, row.code) << row.input << ": " << r.err;
        EXPECT_NE(r.err.find(row.mentions), std::string::npos) << row.input << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("pelidorn: ", 0), 0u) << r.err;
        if (row.output.find("no/such") == std::string::npos && row.output != dir + "/folder.png") {
            EXPECT_EQ(ReadFile(row.output), "keep me") << row.input;
        }
        EXPECT_EQ(HiddenFiles(dir), 0) << row.input;
    }
    const ToolRun noEnd = Pelidorn(dir + "/noend.jpg " + dir + "/noend_out.jpg RADI=3 --quiet");
    EXPECT_EQ(noEnd.code, 0) << noEnd.err;
    // An animation of one frame that is the image itself is a still.
    WriteFile(dir + "/one_frame.png", AnimatedPng(1, true));
    EXPECT_EQ(Pelidorn(dir + "/one_frame.png " + out + " RADI=3 --quiet").code, 0);
}

TEST(PelidornTool, UnwritableFolderIsReportedBeforeTheRender) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    const std::string dir = Fresh("readonly");
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8), "readonly_in.png");
    chmod(dir.c_str(), 0500);
    const ToolRun r = Pelidorn(input + " " + dir + "/out.png RADI=10 --quiet");
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write in the output folder"), std::string::npos) << r.err;
}

TEST(PelidornTool, FileSizeLimitKeepsTheOldOutputAndLeavesNoTemporaryFile) {
    // Writing OUTPUT in place would cut the old file short at the limit; the tool writes a
    // temporary file beside it and renames it only when it is complete.
    const std::string dir = Fresh("ulimit");
    Image noise = Scene(FileFormat::Png, 3, false, 8, 64, 64);
    AddNoise(noise, 7);
    const std::string input = Write(noise, "ulimit_in.png");
    const std::string output = dir + "/out.png";
    const std::string old(4000, 'k');
    WriteFile(output, old);
    const int status = std::system(("bash -c 'ulimit -f 2; exec " + Tool() + " " + input + " " + output +
                                    " RADI=0 --quiet' 2>" + dir + "/err.txt")
                                       .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(output), old);
    EXPECT_EQ(HiddenFiles(dir), 0);
    EXPECT_NE(ReadFile(dir + "/err.txt").find("pelidorn: "), std::string::npos);
}

TEST(PelidornTool, ReplacingKeepsPermissionsAndWritesThroughLinks) {
    const std::string dir = Fresh("links");
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8), "links_in.png");
    const std::string kept = dir + "/kept.png";
    struct stat st;
    // Every permission bit, the set-group-id bit too, and a file only its owner may read.
    for (mode_t mode : {mode_t(0640), mode_t(0444), mode_t(0755), mode_t(02750), mode_t(0400)}) {
        WriteFile(kept, "old");
        ASSERT_EQ(chmod(kept.c_str(), mode), 0);
        const ToolRun replaced = Pelidorn(input + " " + kept + " RADI=3 --quiet");
        ASSERT_EQ(replaced.code, 0) << replaced.err;
        ASSERT_EQ(stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
        EXPECT_EQ(ReadLibPng(kept).width, 40);
        ASSERT_EQ(chmod(kept.c_str(), 0644), 0);
    }
    // The owner and group stay (only root may give a file away).
    if (geteuid() == 0) {
        ASSERT_EQ(chown(kept.c_str(), 4321, 8765), 0);
        const ToolRun replaced = Pelidorn(input + " " + kept + " RADI=3 --quiet");
        ASSERT_EQ(replaced.code, 0) << replaced.err;
        ASSERT_EQ(stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 8765u);
    }
    ToolRun r{};

    const std::string sub = dir + "/real";
    const int made = std::system(("mkdir -p " + sub).c_str());
    (void)made;
    WriteFile(sub + "/target.png", "old");
    ASSERT_EQ(symlink("real/target.png", (dir + "/link.png").c_str()), 0);
    r = Pelidorn(input + " " + dir + "/link.png RADI=3 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(lstat((dir + "/link.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadLibPng(sub + "/target.png").width, 40);
    EXPECT_EQ(HiddenFiles(dir) + HiddenFiles(sub), 0);
}

TEST(PelidornTool, TerminateWhileWritingLeavesNoTemporaryFile) {
    const std::string dir = Fresh("sigterm");
    Image noise = Scene(FileFormat::Png, 3, false, 16, 1500, 1000);
    AddNoise(noise, 11);
    const std::string input = Write(noise, "sigterm_in.png");
    const std::string output = dir + "/out.png";
    WriteFile(output, "keep me");
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            execl(Tool().c_str(), "pelidorn", input.c_str(), output.c_str(), "RADI=0", "--quiet", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait for the temporary file to appear, then terminate.
        int status = 0;
        bool exited = false;
        for (int i = 0; i < 20000; ++i) {
            if (HiddenFiles(dir) > 0) {
                kill(pid, SIGTERM);
                caught = true;
                break;
            }
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                break;
            }
        }
        if (!exited) waitpid(pid, &status, 0);
        if (caught) {
            ASSERT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                caught = false;  // it finished before the signal arrived
                WriteFile(output, "keep me");
                continue;
            }
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM);
            EXPECT_EQ(ReadFile(output), "keep me");
            EXPECT_EQ(HiddenFiles(dir), 0);
        } else {
            WriteFile(output, "keep me");
        }
    }
    if (!caught) GTEST_SKIP() << "the output was written before it could be interrupted";
}

// A value outside the dialog's range is warned about with the value the plug-in uses: the
// image rendered with it is the image rendered with the warned value, and a list (whose
// plug-in ignores an index outside the list and keeps its selection) records that value too.
TEST(PelidornTool, OutOfRangeValuesAreWarnedAboutWithTheValueUsed) {
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8), "range.png");
    Image depth = Scene(FileFormat::Png, 1, false, 8);
    for (size_t i = 0; i < depth.samples.size(); ++i) depth.samples[i] = uint8_t(i * 7);
    const std::string depthMap = Write(depth, "range_depth.png");
    struct Row {
        const char* arg;
        bool depthMap;  // --selection: the depth map, whose view list has seven entries
        const char* given;
        const char* used;
        bool list;
    };
    const Row rows[] = {
        {"RADI=-1", false, "RADI=-1", "RADI=0", false},
        {"IRRF=-5", false, "IRRF=-5", "IRRF=0", false},
        {"IRFA=1000", false, "IRFA=1000", "IRFA=1000", false},
        {"RADI=5000", false, "RADI=5000", "RADI=1000", false},
        {"IRFA=5000", false, "IRFA=5000", "IRFA=1000", false},
        {"SHOW=7", false, "SHOW=7", "SHOW=1", true},
        {"SHOW=0", false, "SHOW=0", "SHOW=1", true},
        {"OUIM=9", false, "OUIM=9", "OUIM=2", true},
        {"SHOW=8", true, "SHOW=8", "SHOW=1", true},
        {"SEIS=5", true, "SEIS=5", "SEIS=1", true},
        // SEIS=5 leaves the depth map: SHOW=7 is in its list.
        {"SEIS=5 SHOW=7", true, "SEIS=5", "SEIS=1", true},
        // The outside colour's components are taken within 0..1.
        {"OUIM=4 OUCR=1.5", false, "OUCR=1.5", "OUCR=1", false},
        {"OUIM=4 OUCG=-0.25", false, "OUCG=-0.25", "OUCG=0", false},
    };
    const std::string a = TempDir() + "/range_a.png", b = TempDir() + "/range_b.png";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arg);
        const std::string selection = row.depthMap ? " --selection " + depthMap : "";
        const ToolRun r = Pelidorn(input + " " + a + " " + row.arg + selection + " --print-values --quiet");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(std::string(row.given) + " is outside"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(std::string("uses ") + row.used + "\n"), std::string::npos) << r.err;
        if (row.list) {
            EXPECT_NE(("\n" + r.out).find(std::string("\n") + row.used + "\n"), std::string::npos) << r.out;
        }
        std::string usedArgs = row.arg;
        const size_t at = usedArgs.find(row.given);
        usedArgs.replace(at, std::strlen(row.given), row.used);
        const ToolRun u = Pelidorn(input + " " + b + " " + usedArgs + selection + " --quiet");
        ASSERT_EQ(u.code, 0) << u.err;
        EXPECT_EQ(Read(a).samples, Read(b).samples) << "rendered with " << usedArgs;
    }
    for (const char* quiet : {"RADI=300", "IRFA=15", "SHOW=4", "OUCR=1"}) {
        const ToolRun r = Pelidorn(input + " " + TempDir() + "/range_out.png " + quiet + " --quiet");
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.err.empty()) << quiet << ": " << r.err;
    }
}

TEST(PelidornTool, ParallelPngReadsBackBitExactWithLibpng) {
    // Bands of three rows on four threads: many full flushes, dictionaries and combined
    // checksums in one zlib stream (libpng checks the checksum and every CRC).
    for (int bits : {8, 16})
        for (int colors : {1, 3})
            for (bool alpha : {false, true}) {
                Image im = Scene(FileFormat::Png, colors, alpha, bits, 37, 29);
                AddNoise(im, 3, 5);
                const std::string path = TempDir() + "/parallel.png";
                pelidorn::WriteOptions options;
                options.threads = 4;
                options.pngBandRows = 3;
                std::string error;
                ASSERT_TRUE(pelidorn::WriteImage(path, im, error, options)) << error;
                const PngRead back = ReadLibPng(path);
                ASSERT_EQ(back.width, im.width);
                ASSERT_EQ(back.bitDepth, bits);
                EXPECT_EQ(back.colorType, (colors == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY) |
                                              (alpha ? PNG_COLOR_MASK_ALPHA : 0));
                std::vector<uint8_t> expected = im.samples;
                if (bits == 16)
                    for (size_t i = 0; i + 1 < expected.size(); i += 2) std::swap(expected[i], expected[i + 1]);
                EXPECT_EQ(back.pixels, expected) << bits << " bits, " << colors << " colours, alpha " << alpha;
            }
}

TEST(PelidornTool, PngPaletteLowBitAndTransparencyKeyAreExpanded) {
    const std::string dir = Fresh("expand");
    struct Row {
        const char* name;
        PngSpec spec;
        int colorType;                   // of the output
        std::vector<uint8_t> expected;   // the output's first row
    };
    PngSpec palette;
    palette.colorType = PNG_COLOR_TYPE_PALETTE;
    palette.palette = {{10, 20, 30}, {200, 100, 0}};
    palette.rows.assign(3, {0, 1, 1, 0});
    PngSpec paletteAlpha = palette;
    paletteAlpha.paletteAlpha = {128};
    PngSpec gray1;
    gray1.bitDepth = 1;
    gray1.rows.assign(3, {0xA0});  // 1 0 1 0
    PngSpec gray2;
    gray2.bitDepth = 2;
    gray2.rows.assign(3, {0x1B});  // 0 1 2 3
    PngSpec gray4;
    gray4.bitDepth = 4;
    gray4.rows.assign(3, {0x0F, 0x80});  // 0 15 8 0
    PngSpec key;
    key.grayKey = true;
    key.keyGray = 7;
    key.rows.assign(3, {7, 8, 7, 9});
    const Row rows[] = {
        {"palette", palette, PNG_COLOR_TYPE_RGB, {10, 20, 30, 200, 100, 0, 200, 100, 0, 10, 20, 30}},
        {"palette_trns", paletteAlpha, PNG_COLOR_TYPE_RGB_ALPHA,
         {10, 20, 30, 128, 200, 100, 0, 255, 200, 100, 0, 255, 10, 20, 30, 128}},
        {"gray1", gray1, PNG_COLOR_TYPE_GRAY, {255, 0, 255, 0}},
        {"gray2", gray2, PNG_COLOR_TYPE_GRAY, {0, 85, 170, 255}},
        {"gray4", gray4, PNG_COLOR_TYPE_GRAY, {0, 255, 136, 0}},
        {"gray_key", key, PNG_COLOR_TYPE_GRAY_ALPHA, {7, 0, 8, 255, 7, 0, 9, 255}},
    };
    for (const Row& row : rows) {
        const std::string in = dir + "/" + row.name + ".png", out = dir + "/" + row.name + "_out.png";
        WriteLibPng(in, row.spec);
        const ToolRun r = Pelidorn(in + " " + out + " RADI=0 --quiet");
        ASSERT_EQ(r.code, 0) << row.name << ": " << r.err;
        const PngRead back = ReadLibPng(out);
        EXPECT_EQ(back.colorType, row.colorType) << row.name;
        EXPECT_EQ(back.bitDepth, 8) << row.name;
        ASSERT_GE(back.pixels.size(), row.expected.size());
        EXPECT_EQ(std::vector<uint8_t>(back.pixels.begin(), back.pixels.begin() + long(row.expected.size())), row.expected)
            << row.name;
    }
}

TEST(PelidornTool, ColourMetadataAndOrientationGoFromInputToOutput) {
    const std::string dir = Fresh("metadata");
    const std::vector<uint8_t> icc = FakeProfile();
    PngSpec png;
    png.colorType = PNG_COLOR_TYPE_RGB;
    png.icc = icc;
    png.gamma = 1 / 2.2;
    png.rows.assign(3, std::vector<uint8_t>(12, 90));
    WriteLibPng(dir + "/icc.png", png);
    PngSpec srgb = png;
    srgb.icc.clear();
    srgb.srgb = PNG_sRGB_INTENT_SATURATION;  // not 0: an intent lost on the way would show
    WriteLibPng(dir + "/srgb.png", srgb);
    // Intent 0 (perceptual) is a value like the others, not "no sRGB chunk".
    PngSpec perceptual = srgb;
    perceptual.srgb = PNG_sRGB_INTENT_PERCEPTUAL;
    WriteLibPng(dir + "/srgb0.png", perceptual);
    // Both readers: stored rows (the fast one) and interlaced (libpng's).
    png.interlaced = srgb.interlaced = perceptual.interlaced = true;
    WriteLibPng(dir + "/icc_interlaced.png", png);
    WriteLibPng(dir + "/srgb_interlaced.png", srgb);
    WriteLibPng(dir + "/srgb0_interlaced.png", perceptual);
    for (const char* name : {"icc", "srgb", "srgb0", "icc_interlaced", "srgb_interlaced", "srgb0_interlaced"}) {
        const ToolRun r = Pelidorn(dir + "/" + name + ".png " + dir + "/" + name + "_out.png RADI=2 --quiet");
        ASSERT_EQ(r.code, 0) << r.err;
        const PngRead in = ReadLibPng(dir + "/" + name + ".png"), out = ReadLibPng(dir + "/" + name + "_out.png");
        EXPECT_EQ(out.icc, in.icc) << name;
        EXPECT_EQ(out.iccName, in.iccName) << name;
        EXPECT_EQ(out.gamma, in.gamma) << name;
        EXPECT_EQ(out.srgb, in.srgb) << name;
    }

    WriteLibTiff(dir + "/rot.tif", 5, 4, 3, 8, PLANARCONFIG_CONTIG, COMPRESSION_LZW, 1, ORIENTATION_RIGHTTOP, icc,
                 std::vector<uint8_t>(60, 77));
    ToolRun r = Pelidorn(dir + "/rot.tif " + dir + "/rot_out.tif RADI=2 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    TIFF* t = TIFFOpen((dir + "/rot_out.tif").c_str(), "r");
    ASSERT_TRUE(t);
    uint16_t orientation = 0;
    uint32_t length = 0;
    void* profile = nullptr;
    EXPECT_TRUE(TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation));
    EXPECT_EQ(orientation, ORIENTATION_RIGHTTOP);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_ICCPROFILE, &length, &profile));
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(profile), static_cast<uint8_t*>(profile) + length), icc);
    TIFFClose(t);

    std::vector<uint8_t> rgb(size_t(16 * 8 * 3));
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(40 + 4 * (i / 3 % 16) + 8 * (i / 48) + 20 * (i % 3));
    WriteLibJpeg(dir + "/photo.jpg", 16, 8, 3, JCS_RGB, icc, rgb);
    r = Pelidorn(dir + "/photo.jpg " + dir + "/photo_out.jpg RADI=0 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    const JpegRead in = ReadLibJpeg(dir + "/photo.jpg"), out = ReadLibJpeg(dir + "/photo_out.jpg");
    EXPECT_EQ(out.icc, icc);
    ASSERT_EQ(out.width, 16);
    ASSERT_EQ(out.components, 3);
    int worst = 0;
    for (size_t i = 0; i < in.pixels.size(); ++i) worst = std::max(worst, std::abs(int(in.pixels[i]) - int(out.pixels[i])));
    EXPECT_LE(worst, 6) << "quality 95 keeps the pixels close";
    // A lower quality makes a smaller file; gray stays gray.
    r = Pelidorn(dir + "/photo.jpg " + dir + "/photo_q10.jpg RADI=0 --quality 10 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_LT(ReadFile(dir + "/photo_q10.jpg").size(), ReadFile(dir + "/photo_out.jpg").size());
    WriteLibJpeg(dir + "/gray.jpg", 8, 8, 1, JCS_GRAYSCALE, {}, std::vector<uint8_t>(64, 60));
    r = Pelidorn(dir + "/gray.jpg " + dir + "/gray_out.jpg RADI=5 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    const JpegRead gray = ReadLibJpeg(dir + "/gray_out.jpg");
    EXPECT_EQ(gray.components, 1);
    for (uint8_t v : gray.pixels) EXPECT_NEAR(v, 60, 2);
}

// An Exif block as cameras write it, in either byte order: IFD0 with Orientation 6 (turn the
// picture a quarter right to show it) and the link to IFD1, the thumbnail's directory.
std::vector<uint8_t> CameraExif(bool little) {
    std::vector<uint8_t> e;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) e.push_back(uint8_t(v >> (8 * (little ? i : bytes - 1 - i))));
    };
    e.push_back(little ? 'I' : 'M'), e.push_back(little ? 'I' : 'M');
    put(42, 2), put(8, 4);                     // byte order, 42, IFD0 at 8
    put(1, 2);                                 // IFD0: one entry
    put(0x0112, 2), put(3, 2), put(1, 4), put(6, 2), put(0, 2);  // Orientation, SHORT, 1, 6
    put(26, 4);                                // IFD1 at 26
    put(0, 2), put(0, 4);                      // IFD1: no entries, no further directory
    return e;
}

// The Exif block goes from input to output unchanged but for the thumbnail's link, in JPEG
// (as the first segment, where an Exif file has it) and PNG (eXIf before or after the image).
TEST(PelidornTool, ExifGoesFromInputToOutputWithoutTheThumbnail) {
    const std::string dir = Fresh("exif");
    for (bool little : {true, false}) {
        const std::vector<uint8_t> exif = CameraExif(little);
        std::vector<uint8_t> expected = exif;
        std::fill_n(expected.begin() + 22, 4, uint8_t(0));
        SCOPED_TRACE(little ? "little-endian" : "big-endian");

        std::vector<uint8_t> rgb(size_t(16 * 8 * 3), 120);
        WriteLibJpeg(dir + "/cam.jpg", 16, 8, 3, JCS_RGB, {}, rgb, exif);
        ASSERT_EQ(ReadLibJpeg(dir + "/cam.jpg").exif, exif);
        ToolRun r = Pelidorn(dir + "/cam.jpg " + dir + "/cam_out.jpg RADI=3 --quiet");
        ASSERT_EQ(r.code, 0) << r.err;
        const JpegRead out = ReadLibJpeg(dir + "/cam_out.jpg");
        EXPECT_EQ(out.exif, expected);
        EXPECT_EQ(out.firstMarker, JPEG_APP0 + 1);

        for (bool after : {false, true})
        for (bool interlaced : {false, true}) {  // the fast reader's road and libpng's
            PngSpec png;
            png.colorType = PNG_COLOR_TYPE_RGB;
            png.interlaced = interlaced;
            png.exif = exif;
            png.exifAfterImage = after;
            png.rows.assign(3, std::vector<uint8_t>(12, 90));
            WriteLibPng(dir + "/cam.png", png);
            ASSERT_EQ(ReadLibPng(dir + "/cam.png").exif, exif);
            r = Pelidorn(dir + "/cam.png " + dir + "/cam_out.png RADI=3 --quiet");
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(ReadLibPng(dir + "/cam_out.png").exif, expected)
                << "eXIf after the image: " << after << ", interlaced: " << interlaced;
        }
    }
    // The largest block one JPEG segment holds (65533 bytes with the identifier) is kept.
    std::vector<uint8_t> largest = CameraExif(true);
    largest.resize(65533 - 6, 0x5A);
    std::vector<uint8_t> expected = largest;
    std::fill_n(expected.begin() + 22, 4, uint8_t(0));
    WriteLibJpeg(dir + "/largest.jpg", 16, 8, 3, JCS_RGB, {}, std::vector<uint8_t>(16 * 8 * 3, 120), largest);
    ASSERT_EQ(ReadLibJpeg(dir + "/largest.jpg").exif, largest);
    ASSERT_EQ(Pelidorn(dir + "/largest.jpg " + dir + "/largest_out.jpg RADI=1 --quiet").code, 0);
    EXPECT_EQ(ReadLibJpeg(dir + "/largest_out.jpg").exif, expected);
    // No Exif in, none out, and the JPEG keeps its JFIF segment.
    WriteLibJpeg(dir + "/plain.jpg", 8, 8, 1, JCS_GRAYSCALE, {}, std::vector<uint8_t>(64, 60));
    ASSERT_EQ(Pelidorn(dir + "/plain.jpg " + dir + "/plain_out.jpg RADI=1 --quiet").code, 0);
    const JpegRead plain = ReadLibJpeg(dir + "/plain_out.jpg");
    EXPECT_TRUE(plain.exif.empty());
    EXPECT_EQ(plain.firstMarker, JPEG_APP0);
}

TEST(PelidornTool, PlanarSeparateCompressedTiffIsRead) {
    const std::string dir = Fresh("planar");
    std::vector<uint8_t> samples(size_t(6 * 5 * 4 * 2));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 13 + 1);
    for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
        const std::string path = dir + "/planar" + std::to_string(compression) + ".tif";
        WriteLibTiff(path, 6, 5, 4, 16, PLANARCONFIG_SEPARATE, compression, 1, 1, {}, samples);
        Image im;
        std::string error;
        ASSERT_TRUE(pelidorn::ReadImage(path, im, error)) << compression << ": " << error;
        EXPECT_EQ(im.channels(), 4);
        EXPECT_EQ(im.samples, samples) << "compression " << compression;
    }
}

TEST(PelidornTool, EverySixteenBitValueRoundsToNearestBothWays) {
    // All 65536 values through the tool at RADI=0: each comes back as the nearest file value of
    // the nearest host value, never more than one level away.
    Image im;
    im.format = FileFormat::Png;
    im.width = im.height = 256;
    im.colorChannels = 1;
    im.bits = 16;
    im.samples.resize(size_t(65536) * 2);
    for (uint32_t v = 0; v < 65536; ++v) {
        const uint16_t u = uint16_t(v);
        std::memcpy(&im.samples[size_t(v) * 2], &u, 2);
    }
    const std::string input = Write(im, "all16.png");
    const ToolRun r = Pelidorn(input + " " + TempDir() + "/all16_out.png RADI=0 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    const PngRead back = ReadLibPng(TempDir() + "/all16_out.png");
    ASSERT_EQ(back.pixels.size(), size_t(65536) * 2);
    for (uint32_t v = 0; v < 65536; ++v) {
        const uint32_t got = uint32_t(back.pixels[size_t(v) * 2]) << 8 | back.pixels[size_t(v) * 2 + 1];
        const uint32_t host = uint32_t(std::lround(v * 32768.0 / 65535.0));
        const uint32_t want = uint32_t(std::lround(host * 65535.0 / 32768.0));
        ASSERT_EQ(got, want) << v;
    }
}

TEST(PelidornTool, FloatSamplesFarAboveWhiteStayLocal) {
    // A 10x10 block at 1e4 and one sample at 1e18 on 0.5: the blur stays finite, and far from
    // them the image keeps its level instead of turning black or to noise.
    Image im = Scene(FileFormat::Tiff, 1, false, 32, 120, 90);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            float v = 0.5f;
            if (x >= 10 && x < 20 && y >= 10 && y < 20) v = 1e4f;
            if (x == 100 && y == 80) v = 1e18f;
            std::memcpy(&im.samples[(size_t(y) * im.width + x) * 4], &v, 4);
        }
    const std::string input = Write(im, "hot.tif");
    for (const char* gamma : {"GACO=1", "GACO=0"}) {
        const ToolRun r = Pelidorn(input + " " + TempDir() + "/hot_out.tif RADI=20 " + gamma + " --quiet");
        ASSERT_EQ(r.code, 0) << r.err;
        const Image out = Read(TempDir() + "/hot_out.tif");
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x) {
                const double v = Sample(out, x, y, 0);
                ASSERT_TRUE(std::isfinite(v)) << x << "," << y;
                if (x > 40 && x < 80 && y > 35 && y < 60) {
                    ASSERT_NEAR(v, 0.5, 2e-3) << gamma << " " << x << "," << y;
                }
            }
    }
}

TEST(PelidornTool, IrisSoftnessFarBeyondTheWindowCostsNoMoreAndChangesNothing) {
    const std::string input = Write(Scene(FileFormat::Png, 3, false, 8, 48, 36), "soft.png");
    const ToolRun a = Pelidorn(input + " " + TempDir() + "/soft_a.png RADI=200 IRSO=1e6 --quiet");
    const ToolRun b = Pelidorn(input + " " + TempDir() + "/soft_b.png RADI=200 IRSO=1e8 --quiet");
    ASSERT_EQ(a.code, 0) << a.err;
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(Read(TempDir() + "/soft_a.png").samples, Read(TempDir() + "/soft_b.png").samples);
}

TEST(PelidornTool, PngFilesOfLibpngReadExactlyAndCorruptOnesAreRefused) {
    // libpng chooses among all five row filters; every layout of 8 and 16 bits, stored row
    // after row and interlaced (seven passes over a 23x9 image).
    for (bool interlaced : {false, true})
    for (int bits : {8, 16})
        for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
            PngSpec spec;
            spec.width = 23, spec.height = 9, spec.bitDepth = bits, spec.colorType = type;
            spec.interlaced = interlaced;
            const int channels = ChannelsOf(type);
            const size_t rowBytes = size_t(spec.width) * channels * (bits / 8);
            uint32_t seed = 5;
            for (int y = 0; y < spec.height; ++y) {
                std::vector<uint8_t> row(rowBytes);
                for (size_t i = 0; i < rowBytes; ++i)
                    row[i] = (y % 3 == 0) ? uint8_t((seed = seed * 1664525u + 1013904223u) >> 24) : uint8_t(i * y);
                spec.rows.push_back(row);
            }
            const std::string path = TempDir() + "/libpng_read.png";
            WriteLibPng(path, spec);
            const Image im = Read(path);
            const PngRead ref = ReadLibPng(path);
            std::vector<uint8_t> expected = ref.pixels;
            if (bits == 16)
                for (size_t i = 0; i + 1 < expected.size(); i += 2) std::swap(expected[i], expected[i + 1]);
            EXPECT_EQ(im.samples, expected) << bits << " bits, colour type " << type << ", interlaced " << interlaced;
            EXPECT_EQ(im.channels(), channels);
            // Bytes after the end chunk (some programs leave them) are not read.
            WriteFile(path, ReadFile(path) + std::string(16, '\xff'));
            EXPECT_EQ(Read(path).samples, expected) << "with bytes after the end";
        }
    // One flipped byte in the pixel data: refused with one line (the CRC no longer matches).
    const std::string path = Write(Scene(FileFormat::Png, 3, false, 8), "corrupt.png");
    std::string bytes = ReadFile(path);
    const size_t idat = bytes.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    bytes[idat + 10] = char(bytes[idat + 10] ^ 0x40);
    WriteFile(path, bytes);
    Image im;
    std::string error;
    EXPECT_FALSE(pelidorn::ReadImage(path, im, error));
    EXPECT_NE(error.find("PNG"), std::string::npos) << error;
}

// A caller's bound on the pixel memory refuses a larger file in every format before its
// pixels are read (the fuzzer reads with one), and lets the same file through at its size.
TEST(PelidornTool, ReadRefusesPixelsOverTheCallersBound) {
    for (FileFormat format : {FileFormat::Png, FileFormat::Jpeg, FileFormat::Tiff}) {
        const Image source = Scene(format, 3, false, 8, 64, 32);
        const std::string path = Write(source, std::string("bound.") + (format == FileFormat::Png    ? "png"
                                                                           : format == FileFormat::Tiff ? "tif"
                                                                                                        : "jpg"));
        pelidorn::ReadOptions options;
        options.memoryLimit = 64 * 32 * 3 - 1;
        Image im;
        std::string error;
        EXPECT_FALSE(pelidorn::ReadImage(path, im, error, options)) << FormatName(format);
        EXPECT_NE(error.find("64x32"), std::string::npos) << error;
        options.memoryLimit = 64 * 32 * 3;
        EXPECT_TRUE(pelidorn::ReadImage(path, im, error, options)) << FormatName(format) << ": " << error;
    }
    // A progressive JPEG also needs its coefficients (2 bytes a sample) while it is decoded.
    const std::string progressive = Fresh("bound") + "/progressive.jpg";
    WriteLibJpeg(progressive, 64, 32, 3, JCS_RGB, {}, std::vector<uint8_t>(64 * 32 * 3, 99), {}, true);
    pelidorn::ReadOptions options;
    options.memoryLimit = 64 * 32 * 3;
    Image im;
    std::string error;
    EXPECT_FALSE(pelidorn::ReadImage(progressive, im, error, options));
    options.memoryLimit = 64 * 32 * 9;
    EXPECT_TRUE(pelidorn::ReadImage(progressive, im, error, options)) << error;
}

TEST(PelidornTool, PngSizeStaysWithinFivePercentOfLibpngDefaults) {
    // A smooth drawing and the same with grain, 8 and 16 bits: our parallel writer against
    // libpng's default filters and compression.
    for (int bits : {8, 16})
        for (bool grain : {false, true}) {
            Image im = Scene(FileFormat::Png, 3, false, bits, 300, 200);
            uint32_t seed = 9;
            if (grain)
                for (size_t i = 0; i < im.samples.size(); i += size_t(bits / 8)) {
                    seed = seed * 1664525u + 1013904223u;
                    im.samples[i] = uint8_t(im.samples[i] + (seed >> 29));
                }
            const std::string ours = TempDir() + "/size_ours.png", theirs = TempDir() + "/size_libpng.png";
            pelidorn::WriteOptions options;
            options.pngBandRows = 100;  // two bands
            std::string error;
            ASSERT_TRUE(pelidorn::WriteImage(ours, im, error, options)) << error;
            PngSpec spec;
            spec.width = im.width, spec.height = im.height, spec.bitDepth = bits, spec.colorType = PNG_COLOR_TYPE_RGB;
            for (int y = 0; y < im.height; ++y) {
                std::vector<uint8_t> row(im.samples.begin() + long(im.rowBytes()) * y,
                                         im.samples.begin() + long(im.rowBytes()) * (y + 1));
                if (bits == 16)
                    for (size_t i = 0; i + 1 < row.size(); i += 2) std::swap(row[i], row[i + 1]);
                spec.rows.push_back(row);
            }
            WriteLibPng(theirs, spec);
            const double ratio = double(ReadFile(ours).size()) / double(ReadFile(theirs).size());
            EXPECT_LE(ratio, 1.05) << bits << " bits, grain " << grain;
            EXPECT_EQ(ReadLibPng(ours).pixels, ReadLibPng(theirs).pixels);
        }
}

namespace {

// A JPEG whose frame header (the first with `marker`) claims width x height.
std::string ClaimSize(std::string jpeg, const char* marker, uint16_t width, uint16_t height) {
    const size_t sof = jpeg.find(marker);
    EXPECT_NE(sof, std::string::npos);
    if (sof == std::string::npos) return jpeg;
    jpeg[sof + 5] = char(height >> 8), jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8), jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

// A JPEG of the given kind whose frame header claims width x height: its data holds the
// blocks of 16x16 pixels only.
std::string JpegClaiming(uint16_t width, uint16_t height, bool progressive, const std::string& path) {
    WriteLibJpeg(path, 16, 16, 3, JCS_RGB, {}, std::vector<uint8_t>(16 * 16 * 3, 77), {}, progressive);
    return ClaimSize(ReadFile(path), progressive ? "\xFF\xC2" : "\xFF\xC0", width, height);
}

// ReadImage in a child process: its answer, its error and how far the child's peak memory
// grew while it read (KiB), so that a reader that takes the pixels' memory before refusing
// shows, whatever this process did before.
struct ChildRead {
    bool ok = false;
    std::string error;
    long grownKiB = -1;
};

ChildRead ReadInChild(const std::string& path, uint64_t memoryLimit) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        pelidorn::ReadOptions options;
        options.memoryLimit = memoryLimit;
        Image im;
        std::string error;
        const bool ok = pelidorn::ReadImage(path, im, error, options);
        getrusage(RUSAGE_SELF, &after);
        const std::string answer = std::string(ok ? "1" : "0") + std::to_string(after.ru_maxrss - before.ru_maxrss) +
                                   " " + error;
        if (write(fds[1], answer.data(), answer.size()) < 0) {}
        _exit(0);
    }
    close(fds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ChildRead r;
    if (answer.empty()) return r;
    r.ok = answer[0] == '1';
    const size_t space = answer.find(' ');
    r.grownKiB = std::atol(answer.substr(1, space - 1).c_str());
    r.error = space == std::string::npos ? "" : answer.substr(space + 1);
    return r;
}

}  // namespace

// A file whose header claims more pixels than its data can hold is refused by a check of the
// file's length, before the pixels' memory is taken: the reader's peak memory stays far below
// the claim. Each claim is 64 to 128 MiB (a reader that took it would show, and nothing takes
// gigabytes), within the caller's bound so that only the data check can refuse it.
TEST(PelidornTool, ClaimsBeyondTheDataAreRefusedBeforeThePixelsAreTaken) {
    const std::string dir = Fresh("claims");
    // A baseline JPEG claiming four times the blocks its file can code at a bit each (three
    // blocks of 8x8 for every 16x8 pixels in the default sampling; 16 KiB of bytes after its
    // end make the claim about 64 MiB): a bound a few times too loose would let it through.
    const std::string padding(16384, '\0');
    const size_t jpegLength = JpegClaiming(16, 16, false, dir + "/small.jpg").size() + padding.size();
    const int near = int(std::sqrt(4.0 * 8 * double(jpegLength) * 64 / 1.5));
    const std::string nearClaim = "too short for " + std::to_string(near) + "x" + std::to_string(near);
    struct Row {
        const char* name;
        std::string bytes;
        const char* mentions;
        uint64_t pixelBytes;
    };
    const Row rows[] = {
        // PNG on libpng's road: interlaced, below 8 bits, palette; and the fast reader's.
        {"interlaced16.png", PngHeaderOnly(4096, 2048, 16, 6, true), "too short for 4096x2048", 4096ull * 2048 * 8},
        {"gray1.png", PngHeaderOnly(8192, 8192, 1, 0), "too short for 8192x8192", 8192ull * 8192},
        {"palette2.png", PngHeaderOnly(4096, 4096, 2, 3), "too short for 4096x4096", 4096ull * 4096 * 3},
        {"rgba16.png", PngHeaderOnly(4096, 2048, 16, 6), "too short for 4096x2048", 4096ull * 2048 * 8},
        {"lzw.tif", TiffHeaderOnly(8192, 8192, COMPRESSION_LZW), "too short for 8192x8192", 8192ull * 8192},
        {"deflate.tif", TiffHeaderOnly(8192, 8192, COMPRESSION_ADOBE_DEFLATE), "too short for 8192x8192",
         8192ull * 8192},
        {"zip.tif", TiffHeaderOnly(8192, 8192, COMPRESSION_DEFLATE), "too short for 8192x8192", 8192ull * 8192},
        {"packbits.tif", TiffHeaderOnly(8192, 8192, COMPRESSION_PACKBITS), "too short for 8192x8192", 8192ull * 8192},
        {"baseline.jpg", JpegClaiming(6000, 6000, false, dir + "/small.jpg"), "too short for 6000x6000",
         6000ull * 6000 * 3},
        {"progressive.jpg", JpegClaiming(3000, 3000, true, dir + "/small.jpg"), "too short for 3000x3000",
         3000ull * 3000 * 9},
        {"near.jpg", JpegClaiming(uint16_t(near), uint16_t(near), false, dir + "/small.jpg") + padding, nearClaim.c_str(),
         uint64_t(near) * near * 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir + "/" + row.name;
        WriteFile(path, row.bytes);
        const ChildRead r = ReadInChild(path, row.pixelBytes);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(row.mentions), std::string::npos) << r.error;
        EXPECT_GE(r.grownKiB, 0);
        EXPECT_LT(uint64_t(r.grownKiB) * 1024, row.pixelBytes / 4) << "the reader took the claimed memory";
    }
}

// The bounds never refuse a valid file: images of one value, the most any encoder can
// shrink, read back exactly in every codec the bounds cover (LZW shrinks such data further
// than deflate can, PackBits exactly 64 to 1, and JPEG spends a few bits on a block).
TEST(PelidornTool, TheMostCompressibleValidFilesRead) {
    const std::string dir = Fresh("compressible");
    const int w = 1024, h = 1024;
    // PNG through libpng's default compression, stored and interlaced (the two readers).
    for (bool interlaced : {false, true}) {
        PngSpec spec;
        spec.width = w, spec.height = h, spec.bitDepth = 16, spec.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        spec.interlaced = interlaced;
        spec.rows.assign(size_t(h), std::vector<uint8_t>(size_t(w) * 8, 0));
        const std::string path = dir + (interlaced ? "/interlaced.png" : "/plain.png");
        WriteLibPng(path, spec);
        const Image im = Read(path);
        EXPECT_EQ(im.samples, std::vector<uint8_t>(size_t(w) * h * 8, 0)) << path;
    }
    for (uint16_t compression : {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
        const std::string path = dir + "/flat" + std::to_string(compression) + ".tif";
        const std::vector<uint8_t> samples(size_t(w) * h, 0);
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(w));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(h));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(h));  // one strip: the best ratio
        if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(t, TIFFTAG_ZIPQUALITY, 9);
        for (int y = 0; y < h; ++y) TIFFWriteScanline(t, const_cast<uint8_t*>(&samples[size_t(y) * w]), uint32_t(y), 0);
        TIFFClose(t);
        const Image im = Read(path);
        EXPECT_EQ(im.samples, samples) << "compression " << compression << ", " << ReadFile(path).size() << " bytes";
    }
    for (bool progressive : {false, true}) {
        const std::string path = dir + (progressive ? "/flat_progressive.jpg" : "/flat.jpg");
        WriteLibJpeg(path, 2 * w, 2 * h, 1, JCS_GRAYSCALE, {}, std::vector<uint8_t>(size_t(4) * w * h, 128), {},
                     progressive);
        const Image im = Read(path);
        EXPECT_EQ(im.samples, std::vector<uint8_t>(size_t(4) * w * h, 128)) << path;
    }
}

// Input from a FIFO or a pipe (read once, without seeking) gives the output the same file
// gives, in every format and through both PNG readers.
TEST(PelidornTool, PipesAndFifosReadLikeTheirFile) {
    const std::string dir = Fresh("fifo");
    PngSpec interlaced;
    interlaced.width = 23, interlaced.height = 9, interlaced.colorType = PNG_COLOR_TYPE_RGB, interlaced.interlaced = true;
    for (int y = 0; y < interlaced.height; ++y) {
        std::vector<uint8_t> row(size_t(interlaced.width) * 3);
        for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 11 + y * 29);
        interlaced.rows.push_back(row);
    }
    WriteLibPng(dir + "/interlaced.png", interlaced);
    const std::string inputs[] = {Write(Scene(FileFormat::Png, 3, true, 16), "fifo_in.png"), dir + "/interlaced.png",
                                  Write(Scene(FileFormat::Jpeg, 3, false, 8), "fifo_in.jpg"),
                                  Write(Scene(FileFormat::Tiff, 1, true, 32, 160, 120), "fifo_in.tif")};  // 150 KiB
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        const std::string ext = input.substr(input.rfind('.'));
        const ToolRun plain = Pelidorn(input + " " + dir + "/plain" + ext + " RADI=4 --quiet");
        ASSERT_EQ(plain.code, 0) << plain.err;
        const std::string expected = ReadFile(dir + "/plain" + ext);
        const std::string fifo = dir + "/fifo" + ext;
        unlink(fifo.c_str());
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int fed = std::system(("timeout 30 cat " + input + " > " + fifo + " &").c_str());
        (void)fed;
        const ToolRun viaFifo = Pelidorn(fifo + " " + dir + "/fifo_out" + ext + " RADI=4 --quiet");
        EXPECT_EQ(viaFifo.code, 0) << viaFifo.err;
        EXPECT_EQ(ReadFile(dir + "/fifo_out" + ext), expected);
        const int piped = std::system(("cat " + input + " | " + Tool() + " /dev/stdin " + dir + "/pipe_out" + ext +
                                       " RADI=4 --quiet 2>" + dir + "/err.txt")
                                          .c_str());
        EXPECT_TRUE(WIFEXITED(piped) && WEXITSTATUS(piped) == 0) << ReadFile(dir + "/err.txt");
        EXPECT_EQ(ReadFile(dir + "/pipe_out" + ext), expected);
    }
}

namespace {

// ReadImage in a child on a FIFO that a second child feeds with `head` and then zeros without
// end: the reader's answer, and how many bytes the writer could hand over before the reader
// gave up.
struct EndlessRead {
    ChildRead read;
    uint64_t written = 0;
};

EndlessRead ReadEndlessFifo(const std::string& name, const std::string& head, uint64_t memoryLimit) {
    const std::string fifo = Fresh(name) + "/stream";
    EndlessRead r;
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int counted[2];
    EXPECT_EQ(pipe(counted), 0);
    const pid_t writer = fork();
    EXPECT_GE(writer, 0);
    if (writer == 0) {
        alarm(60);
        std::signal(SIGPIPE, SIG_IGN);
        const int fd = open(fifo.c_str(), O_WRONLY);
        uint64_t total = 0;
        if (fd >= 0 && write(fd, head.data(), head.size()) == ssize_t(head.size())) total = head.size();
        std::vector<char> zeros(size_t(1) << 16, 0);
        for (ssize_t n; fd >= 0 && (n = write(fd, zeros.data(), zeros.size())) > 0;) total += uint64_t(n);
        if (write(counted[1], &total, sizeof total) < 0) {}
        _exit(0);
    }
    close(counted[1]);
    r.read = ReadInChild(fifo, memoryLimit);
    EXPECT_EQ(read(counted[0], &r.written, sizeof r.written), ssize_t(sizeof r.written));
    close(counted[0]);
    waitpid(writer, nullptr, 0);
    return r;
}

}  // namespace

// A pipe or device is copied once, up to the most the pixels may take (and 64 MiB of
// metadata): an endless one is refused once that much has come, not read until the disk is
// full. The writer counts what it could hand over before the reader gave up. (A TIFF whose
// IFD0 is yet to come: nothing but that rule bounds it.)
TEST(PelidornTool, EndlessPipeIsRefusedAfterTheBound) {
    const EndlessRead r = ReadEndlessFifo("endless", std::string("II*\0\xf0\xff\xff\x7f", 8), uint64_t(1) << 20);
    EXPECT_FALSE(r.read.ok);
    EXPECT_NE(r.read.error.find("more than 65 MiB"), std::string::npos) << r.read.error;
    EXPECT_GT(r.written, uint64_t(65) << 20);
    EXPECT_LT(r.written, uint64_t(66) << 20) << "read on past the bound";
}

// An OUTPUT that cannot be made fails before the render, with one line that names why: the
// module cannot even be loaded in these runs, and that is not what is reported. No
// temporary file stays behind, and a link loop stays as it was.
TEST(PelidornTool, OutputsThatCannotBeMadeFailBeforeTheRender) {
    const std::string dir = Fresh("early");
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8), "early_in.png");
    ASSERT_EQ(symlink("loop_b.png", (dir + "/loop_a.png").c_str()), 0);
    ASSERT_EQ(symlink("loop_a.png", (dir + "/loop_b.png").c_str()), 0);
    ASSERT_EQ(symlink("loop_a.png", (dir + "/to_loop.png").c_str()), 0);
    const int made = std::system(("mkdir -p " + dir + "/folder.png").c_str());
    (void)made;
    struct Row {
        std::string output;
        const char* mentions;
    };
    // The longest name a folder takes is 255 bytes; the temporary file adds 17 to it.
    const Row rows[] = {
        {dir + "/" + std::string(245, 'n') + ".png", "File name too long"},
        {dir + "/" + std::string(238, 'n') + ".png", "File name too long"},
        {dir + "/loop_a.png", "Too many levels of symbolic links"},
        {dir + "/to_loop.png", "Too many levels of symbolic links"},
        {dir + "/none/out.png", "does not exist"},
        {dir + "/folder.png", "not a regular file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output.substr(dir.size()));
        const ToolRun r = Pelidorn(input + " " + row.output + " --module " + dir + "/no_module.so --quiet");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(row.mentions), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(HiddenFiles(dir), 0);
    }
    struct stat st;
    for (const char* link : {"/loop_a.png", "/loop_b.png", "/to_loop.png"}) {
        ASSERT_EQ(lstat((dir + link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    // The longest name that fits is written.
    const ToolRun fits = Pelidorn(input + " " + dir + "/" + std::string(234, 'n') + ".png --quiet");
    EXPECT_EQ(fits.code, 0) << fits.err;
}

// A new OUTPUT gets the permissions the umask leaves of 0666, as any program's new file does
// (the temporary file it starts as is made 0600).
TEST(PelidornTool, NewOutputTakesTheUmasksPermissions) {
    const std::string dir = Fresh("umask");
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8), "umask_in.png");
    const std::pair<const char*, mode_t> rows[] = {{"022", 0644}, {"027", 0640}, {"077", 0600}, {"002", 0664}};
    for (const auto& [mask, mode] : rows) {
        const std::string output = dir + "/out" + mask + ".png";
        const int status = std::system(("bash -c 'umask " + std::string(mask) + "; exec " + Tool() + " " + input +
                                        " " + output + " RADI=2 --quiet'")
                                           .c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << mask;
        struct stat st;
        ASSERT_EQ(stat(output.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << "umask " << mask;
    }
}

// A TIFF is written with the compression it came with (those every TIFF reader takes; others,
// such as Zstandard, as stored rows), and its samples come back unchanged at radius 0.
TEST(PelidornTool, TiffKeepsItsCompression) {
    const std::string dir = Fresh("compression");
    std::vector<uint8_t> samples(size_t(6 * 5 * 3 * 2));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i % 7 == 0 ? 0 : i * 13 + 1);
    // Samples a host can hold exactly (16-bit values that map to 0..32768 and back).
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        uint16_t v;
        std::memcpy(&v, &samples[i], 2);
        v = pelidorn::HostToFile16(pelidorn::FileToHost16(v));
        std::memcpy(&samples[i], &v, 2);
    }
    for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE,
                                 COMPRESSION_PACKBITS, COMPRESSION_ZSTD}) {
        if (!TIFFIsCODECConfigured(compression)) continue;
        SCOPED_TRACE(compression);
        const std::string input = dir + "/in" + std::to_string(compression) + ".tif";
        const std::string output = dir + "/out" + std::to_string(compression) + ".tif";
        WriteLibTiff(input, 6, 5, 3, 16, PLANARCONFIG_CONTIG, compression, 1, 1, {}, samples);
        const ToolRun r = Pelidorn(input + " " + output + " RADI=0 --quiet");
        ASSERT_EQ(r.code, 0) << r.err;
        TIFF* t = TIFFOpen(output.c_str(), "r");
        ASSERT_TRUE(t);
        uint16_t written = 0;
        TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &written);
        TIFFClose(t);
        EXPECT_EQ(written, compression == COMPRESSION_ZSTD ? COMPRESSION_NONE : compression);
        EXPECT_EQ(Read(output).samples, samples);
    }
}

// Either byte order of a TIFF gives the same samples in every depth (16-bit and float samples
// of a big-endian file are turned around on reading), with and without alpha.
TEST(PelidornTool, BigEndianTiffReadsLikeLittleEndian) {
    const std::string dir = Fresh("byte_order");
    for (int bits : {8, 16, 32})
        for (int spp : {1, 4}) {
            std::vector<uint8_t> samples(size_t(5 * 3 * spp * (bits / 8)));
            uint32_t seed = uint32_t(bits * 10 + spp);
            for (uint8_t& v : samples) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
            if (bits == 32)  // finite floats in 0..1
                for (size_t i = 0; i < samples.size(); i += 4) {
                    const float f = float(samples[i]) / 255.0f;
                    std::memcpy(&samples[i], &f, 4);
                }
            for (bool big : {false, true}) {
                SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(spp) + " samples, " +
                             (big ? "big-endian" : "little-endian"));
                const std::string path = dir + "/" + std::to_string(bits) + "_" + std::to_string(spp) + (big ? "mm" : "ii") + ".tif";
                WriteLibTiff(path, 5, 3, spp, bits, PLANARCONFIG_CONTIG, COMPRESSION_NONE, 1, 1, {}, samples, big);
                ASSERT_EQ(ReadFile(path).substr(0, 2), big ? "MM" : "II");
                const Image im = Read(path);
                EXPECT_EQ(im.bits, bits);
                EXPECT_EQ(im.channels(), spp);
                EXPECT_EQ(im.samples, samples);
            }
        }
}

// A side of 32767 pixels is the most the filter interface takes: read in every format, and one
// more refused with a message that names the bound.
TEST(PelidornTool, TheLongestSideIsReadAndOneMoreRefused) {
    for (FileFormat format : {FileFormat::Png, FileFormat::Jpeg, FileFormat::Tiff})
        for (const auto& [width, height] : {std::pair<int, int>{32767, 1}, {1, 32767}, {32768, 1}, {1, 32768}}) {
            const char* ext = format == FileFormat::Png ? "png" : format == FileFormat::Jpeg ? "jpg" : "tif";
            SCOPED_TRACE(std::string(ext) + " " + std::to_string(width) + "x" + std::to_string(height));
            Image im = Scene(format, 1, false, 8, width, height);
            const std::string path = Write(im, std::string("longest.") + ext);
            Image back;
            std::string error;
            const bool ok = pelidorn::ReadImage(path, back, error);
            if (width <= 32767 && height <= 32767) {
                ASSERT_TRUE(ok) << error;
                EXPECT_EQ(back.width, width);
                EXPECT_EQ(back.height, height);
            } else {
                EXPECT_FALSE(ok);
                EXPECT_NE(error.find("at most 32767 pixels a side"), std::string::npos) << error;
            }
        }
}

// Names without a folder are in the working folder, for INPUT, OUTPUT, the selection and a
// link that OUTPUT is: as a user types them in a shell.
TEST(PelidornTool, BareNamesAreInTheWorkingFolder) {
    const std::string dir = Fresh("bare");
    Write(Scene(FileFormat::Png, 1, false, 8), "bare/in.png");
    Write(Scene(FileFormat::Png, 1, false, 8), "bare/mask.png");
    ASSERT_EQ(symlink("in_place.png", (dir + "/link.png").c_str()), 0);
    for (const std::string output : {"out.png", "./out2.png", "link.png"}) {
        const int status = std::system(("cd " + dir + " && " + Tool() + " in.png " + output +
                                        " --selection mask.png RADI=3 --quiet 2>" + dir + "/err.txt")
                                           .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output << ": " << ReadFile(dir + "/err.txt");
    }
    for (const char* made : {"out.png", "out2.png", "in_place.png"}) EXPECT_EQ(ReadLibPng(dir + "/" + made).width, 40) << made;
    struct stat st;
    ASSERT_EQ(lstat((dir + "/link.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(HiddenFiles(dir), 0);
}

// A 0-or-1 key takes each of its spellings, and the plug-in records the value meant.
TEST(PelidornTool, EverySpellingOfAYesOrNoKey) {
    const std::string input = Write(Scene(FileFormat::Png, 1, false, 8, 8, 8), "spellings.png");
    const std::pair<const char*, const char*> rows[] = {{"1", "1"},   {"true", "1"},  {"yes", "1"}, {"on", "1"},
                                                        {"0", "0"},   {"false", "0"}, {"no", "0"},  {"off", "0"}};
    for (const auto& [text, recorded] : rows) {
        const ToolRun r = Pelidorn(input + " " + TempDir() + "/spellings_out.png GACO=" + text + " --print-values --quiet");
        EXPECT_EQ(r.code, 0) << text << ": " << r.err;
        EXPECT_NE(r.out.find("GACO=" + std::string(recorded) + "\n"), std::string::npos) << text << ": " << r.out;
    }
}

// OUTPUT's kind comes from its extension, in any case; a name that only contains one has none.
TEST(PelidornTool, FormatFromTheExtensionInAnyCase) {
    struct Row {
        const char* name;
        bool known;
        FileFormat format;
    };
    const Row rows[] = {
        {"a.png", true, FileFormat::Png},        {"A.PNG", true, FileFormat::Png},
        {"dir.tif/a.Png", true, FileFormat::Png}, {"a.tif", true, FileFormat::Tiff},
        {"a.TIFF", true, FileFormat::Tiff},      {"a.tiff", true, FileFormat::Tiff},
        {"a.jpg", true, FileFormat::Jpeg},       {"a.JPEG", true, FileFormat::Jpeg},
        {"a.jpeg", true, FileFormat::Jpeg},      {"a.png.bak", false, FileFormat::Png},
        {"png", false, FileFormat::Png},         {"a.tifff", false, FileFormat::Png},
        {"a.bmp", false, FileFormat::Png},       {"a.jpe", false, FileFormat::Png},
    };
    for (const Row& row : rows) {
        FileFormat format = FileFormat::Png;
        EXPECT_EQ(pelidorn::FormatFromPath(row.name, format), row.known) << row.name;
        if (row.known) {
            EXPECT_EQ(format, row.format) << row.name;
        }
    }
}

// ---- image readers: YCbCr TIFF, claims beyond the data in every TIFF compression, JPEG data
// ---- that ends early or is corrupt, streams looked at as they arrive; TIFF alpha; animations

namespace {

// A JPEG through libjpeg in either entropy coding, sequential or progressive, with a restart
// marker after every row of blocks when asked.
std::string CodedJpeg(const std::string& path, int width, int height, int components, bool arithmetic,
                      bool progressive, const std::vector<uint8_t>& samples, bool restarts = false) {
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(f);
    if (!f) return "";
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    c.arith_code = arithmetic ? TRUE : FALSE;
    if (restarts) c.restart_in_rows = 1;
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(y) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return ReadFile(path);
}

}  // namespace

namespace {

// A TIFF opened for writing through libtiff with the fields every test file sets; null when it
// cannot be made.
TIFF* NewTiff(const std::string& path, int width, int height, int bits, int samples, uint16_t photometric) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return nullptr;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    return t;
}

// A TIFF in YCbCr through libtiff: JPEG-compressed from RGB samples (libtiff converts them, as
// `tiffcp -c jpeg` does), or, given `raw`, one strip of stored data units as the file holds them.
void WriteYCbCrTiff(const std::string& path, int width, int height, uint16_t compression, int bits,
                    const std::vector<uint8_t>& rgb, const std::string& raw = "", uint16_t rowsPerStrip = 16) {
    TIFF* t = NewTiff(path, width, height, bits, 3, PHOTOMETRIC_YCBCR);
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(raw.empty() ? rowsPerStrip : height));
    if (!raw.empty()) {
        TIFFWriteRawStrip(t, 0, const_cast<char*>(raw.data()), tmsize_t(raw.size()));
    } else {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, 90);
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        for (int y = 0; y < height; ++y)
            TIFFWriteScanline(t, const_cast<uint8_t*>(&rgb[size_t(y) * width * 3]), uint32_t(y), 0);
    }
    TIFFClose(t);
}

}  // namespace

// A TIFF in YCbCr is read as RGB: JPEG-compressed (what libtiff writes for JPEG compression)
// and stored with 2x2 subsampling; one the tool cannot read is refused naming its colour model.
TEST(PelidornTool, YCbCrTiffReadsAsRgb) {
    const std::string dir = Fresh("ycbcr");
    const int w = 48, h = 40;
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(200 - x), p[1] = uint8_t(60 + 2 * y), p[2] = uint8_t(90 + x + y);
        }
    WriteYCbCrTiff(dir + "/jpeg.tif", w, h, COMPRESSION_JPEG, 8, rgb);
    Image im;
    std::string error;
    ASSERT_TRUE(pelidorn::ReadImage(dir + "/jpeg.tif", im, error)) << error;
    ASSERT_EQ(im.colorChannels, 3);
    ASSERT_EQ(im.width, w);
    ASSERT_EQ(im.samples.size(), rgb.size());
    int worst = 0;
    for (size_t i = 0; i < rgb.size(); ++i) worst = std::max(worst, std::abs(int(im.samples[i]) - int(rgb[i])));
    EXPECT_LE(worst, 12) << "JPEG at quality 90 of a smooth image";
    // Through the tool, at radius 0: the RGB samples come out (as stored rows, in a stored TIFF).
    const ToolRun r = Pelidorn(dir + "/jpeg.tif " + dir + "/out.tif RADI=0 --quiet");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(dir + "/out.tif").samples, im.samples);
    // Stored data units of 2x2 pixels (four Y, Cb, Cr) of Y 100, Cb 150, Cr 90: RGB 47, 120, 139
    // by the standard coefficients and reference levels.
    std::string units;
    for (int i = 0; i < (8 / 2) * (4 / 2); ++i) units += std::string("\x64\x64\x64\x64\x96\x5a", 6);
    WriteYCbCrTiff(dir + "/stored.tif", 8, 4, COMPRESSION_NONE, 8, {}, units);
    ASSERT_TRUE(pelidorn::ReadImage(dir + "/stored.tif", im, error)) << error;
    ASSERT_EQ(im.samples.size(), size_t(8 * 4 * 3));
    for (size_t i = 0; i < im.samples.size(); i += 3) {
        EXPECT_NEAR(im.samples[i], 47, 2) << i;
        EXPECT_NEAR(im.samples[i + 1], 120, 2) << i;
        EXPECT_NEAR(im.samples[i + 2], 139, 2) << i;
    }
    // A JPEG strip whose data ends early: libtiff's JPEG decoder would make up the rest.
    {
        std::vector<uint8_t> noise(size_t(64) * 48 * 3);
        uint32_t seed = 3;
        for (uint8_t& v : noise) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        const std::string stream = CodedJpeg(dir + "/strip.jpg", 64, 48, 3, false, false, noise);
        for (const bool cut : {false, true}) {
            const std::string path = dir + (cut ? "/cut_strip.tif" : "/whole_strip.tif");
            WriteYCbCrTiff(path, 64, 48, COMPRESSION_JPEG, 8, {}, cut ? stream.substr(0, stream.size() * 2 / 3) : stream);
            const bool ok = pelidorn::ReadImage(path, im, error);
            EXPECT_EQ(ok, !cut) << path << ": " << error;
            if (cut) {
                EXPECT_NE(error.find("JPEG"), std::string::npos) << error;
            }
        }
    }
    // The same Y, Cb, Cr in planes of their own, JPEG-compressed without subsampling.
    {
        TIFF* t = NewTiff(dir + "/planes.tif", 16, 16, 8, 3, PHOTOMETRIC_YCBCR);
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_JPEG));
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_SEPARATE));
        TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(1), uint16_t(1));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
        for (const auto& [plane, value] : {std::pair<uint16_t, uint8_t>{0, 100}, {1, 150}, {2, 90}}) {
            std::vector<uint8_t> line(16, value);
            for (uint32_t y = 0; y < 16; ++y) TIFFWriteScanline(t, line.data(), y, plane);
        }
        TIFFClose(t);
    }
    ASSERT_TRUE(pelidorn::ReadImage(dir + "/planes.tif", im, error)) << error;
    ASSERT_EQ(im.samples.size(), size_t(16 * 16 * 3));
    for (size_t i = 0; i < im.samples.size(); i += 3) {
        EXPECT_NEAR(im.samples[i], 47, 3) << i;
        EXPECT_NEAR(im.samples[i + 1], 120, 3) << i;
        EXPECT_NEAR(im.samples[i + 2], 139, 3) << i;
    }
    // Refused, in words: 16-bit YCbCr, and a palette.
    WriteYCbCrTiff(dir + "/sixteen.tif", 8, 4, COMPRESSION_NONE, 16, {}, std::string(8 * 4 * 2 * 2, '\x40'));
    EXPECT_FALSE(pelidorn::ReadImage(dir + "/sixteen.tif", im, error));
    EXPECT_NE(error.find("YCbCr"), std::string::npos) << error;
    {
        TIFF* t = NewTiff(dir + "/palette.tif", 4, 4, 8, 1, PHOTOMETRIC_PALETTE);
        ASSERT_TRUE(t);
        std::vector<uint16_t> map(256, 0);
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
        std::vector<uint8_t> line(4, 1);
        for (uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(t, line.data(), y, 0);
        TIFFClose(t);
    }
    EXPECT_FALSE(pelidorn::ReadImage(dir + "/palette.tif", im, error));
    EXPECT_NE(error.find("TIFF colour model 3 is not supported (a colour palette"), std::string::npos) << error;
}

// A TIFF claiming far more rows than its data holds takes no memory ahead of what its data
// gives, in every compression libtiff decodes (those the length check cannot bound as well):
// each claim is refused having taken far less than the pixels claimed. Images of one value,
// the most these codecs shrink, still read.
TEST(PelidornTool, TiffClaimsBeyondTheDataTakeNoMemoryInAnyCompression) {
    const std::string dir = Fresh("tiff_claims");
    const uint32_t side = 5000;
    const uint64_t pixelBytes = uint64_t(side) * side * 3;
    for (uint16_t compression : {COMPRESSION_JPEG, COMPRESSION_LZMA, COMPRESSION_ZSTD, COMPRESSION_PIXARLOG,
                                 COMPRESSION_SGILOG, COMPRESSION_CCITTFAX4, COMPRESSION_WEBP, COMPRESSION_LERC}) {
        if (!TIFFIsCODECConfigured(compression)) continue;
        SCOPED_TRACE(compression);
        // RGB: TiffHeaderOnly's gray file with its photometric patched and SamplesPerPixel (277)
        // added after StripOffsets (273), eight entries.
        std::string bytes = TiffHeaderOnly(side, side, compression);
        bytes[8 + 2 + 4 * 12 + 8] = 2;
        bytes.insert(8 + 2 + 6 * 12, std::string("\x15\x01\x03\x00\x01\x00\x00\x00\x03\x00\x00\x00", 12));
        bytes[8] = 8;
        bytes += std::string(200 - std::min<size_t>(200, bytes.size()), 'Z');
        const std::string path = dir + "/claim" + std::to_string(compression) + ".tif";
        WriteFile(path, bytes);
        const ChildRead r = ReadInChild(path, pixelBytes);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("TIFF"), std::string::npos) << r.error;
        EXPECT_GE(r.grownKiB, 0);
        // (Half: an address-space reservation costs a sanitizer's shadow an eighth of it, and
        // PixarLog's own strip buffer, at two bytes a sample, a quarter of the claim.)
        EXPECT_LT(uint64_t(r.grownKiB) * 1024, pixelBytes / 2) << "the reader took the claimed memory: " << r.error;
    }
    const int w = 1024, h = 1024;
    for (uint16_t compression : {COMPRESSION_JPEG, COMPRESSION_ZSTD, COMPRESSION_LZMA}) {
        if (!TIFFIsCODECConfigured(compression)) continue;
        const std::string path = dir + "/flat" + std::to_string(compression) + ".tif";
        const std::vector<uint8_t> samples(size_t(w) * h * 3, 128);
        if (compression == COMPRESSION_JPEG) {
            WriteYCbCrTiff(path, w, h, compression, 8, samples, "", uint16_t(h));
        } else {
            WriteLibTiff(path, w, h, 3, 8, PLANARCONFIG_CONTIG, compression, 1, 1, {}, samples);
        }
        const Image im = Read(path);
        EXPECT_EQ(im.samples, samples) << "compression " << compression << ", " << ReadFile(path).size() << " bytes";
    }
}

// A stream is judged by its first bytes and its header as they arrive: one that is no image
// is refused at once, and one whose header is known is refused once it holds more than the
// header's image can take and the metadata allowance (64 MiB), however much more the memory
// would allow. Before its header, a PNG or JPEG has the allowance only.
TEST(PelidornTool, StreamsAreBoundedByTheirSignatureAndHeaderAsTheyArrive) {
    const uint64_t limit = uint64_t(512) << 20;
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", Big32(64) + Big32(64) + std::string("\x08\x00\x00\x00\x00", 5));
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) +
                             std::string("\xFF\xC0\x00\x11\x08\x00\x40\x00\x40\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 19);
    std::string tiff = TiffHeaderOnly(64, 64);
    struct Row {
        const char* name;
        std::string head;
        const char* mentions;
        uint64_t most;  // the most the writer may hand over
    };
    const Row rows[] = {
        {"zeros", "", "not a PNG, JPEG or TIFF file", uint64_t(1) << 20},
        {"text", "P6\n64 64\n255\n", "not a PNG, JPEG or TIFF file", uint64_t(1) << 20},
        {"png", png, "the most a pipe is read for a 64x64 PNG", uint64_t(65) << 20},
        {"jpeg", jpeg, "the most a pipe is read for a 64x64 JPEG", uint64_t(65) << 20},
        {"tiff", tiff, "the most a pipe is read for a 64x64 TIFF", uint64_t(65) << 20},
        {"jpeg_no_frame", std::string("\xFF\xD8\xFF\xE1\x00\x02", 6), "more than 64 MiB without an image header the readers take", uint64_t(65) << 20},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const EndlessRead r = ReadEndlessFifo(std::string("stream_") + row.name, row.head, limit);
        EXPECT_FALSE(r.read.ok);
        EXPECT_NE(r.read.error.find(row.mentions), std::string::npos) << r.read.error;
        EXPECT_LT(r.written, row.most) << "read on past the bound: " << r.read.error;
    }
    // /dev/zero as INPUT: refused at once with the message a regular file gets, OUTPUT untouched.
    const std::string dir = Fresh("dev_zero");
    WriteFile(dir + "/out.png", "keep me");
    const ToolRun zero = Pelidorn("/dev/zero " + dir + "/out.png --quiet");
    EXPECT_EQ(zero.code, 1);
    EXPECT_NE(zero.err.find("/dev/zero: not a PNG, JPEG or TIFF file"), std::string::npos) << zero.err;
    EXPECT_EQ(ReadFile(dir + "/out.png"), "keep me");
}

namespace {

// The head of an 8-bit gray TIFF whose IFD0 comes first, its strip tables (out of line) next;
// the stored strips of `rowsPerStrip` rows would follow, and after them the `layers` bytes of
// a layered file's layer data (an entry of IFD0 too).
std::string TiffStripsAfterIfd(uint32_t width, uint32_t height, uint32_t rowsPerStrip, uint32_t layers,
                               bool bigEndian, bool subIfd = false) {
    const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip, entries = 10;
    const uint32_t tables = 8 + 2 + 12 * entries + 4, data = tables + 8 * strips;
    std::string b(bigEndian ? "MM\0*\0\0\0\x08" : "II*\0\x08\0\0\0", 8);
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b += char((v >> (8 * (bigEndian ? bytes - 1 - i : i))) & 0xFF);
    };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put(tag, 2), put(type, 2), put(count, 4);
        if (type == 3 && count == 1) put(value, 2), put(0, 2);
        else put(value, 4);
    };
    put(entries, 2);
    entry(256, 4, 1, width), entry(257, 4, 1, height), entry(258, 3, 1, 8), entry(259, 3, 1, 1), entry(262, 3, 1, 1);
    entry(273, 4, strips, tables), entry(277, 3, 1, 1), entry(278, 4, 1, rowsPerStrip);
    entry(279, 4, strips, tables + 4 * strips);
    if (subIfd) entry(330, 4, 1, data + height * width);  // one sub-IFD, after the strips
    else entry(37724, 7, layers, data + height * width);
    put(0, 4);
    for (uint32_t i = 0; i < strips; ++i) put(data + i * rowsPerStrip * width, 4);
    for (uint32_t i = 0; i < strips; ++i) put(std::min(rowsPerStrip, height - i * rowsPerStrip) * width, 4);
    return b;
}

// A little-endian TIFF whose IFD0 claims width x height.
std::string TiffClaimingSize(std::string tiff, uint32_t width, uint32_t height) {
    auto get = [&](size_t at, int bytes) {
        uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(tiff[at + size_t(i)]);
        return v;
    };
    const uint32_t ifd = get(4, 4);
    for (uint32_t i = 0; i < get(ifd, 2); ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = get(e, 2), value = tag == 256 ? width : tag == 257 ? height : 0;
        const int bytes = get(e + 2, 2) == 3 ? 2 : 4;
        for (int k = 0; value && k < bytes; ++k) tiff[e + 8 + size_t(k)] = char((value >> (8 * k)) & 0xFF);
    }
    return tiff;
}

}  // namespace

// Once its header is known, a JPEG or TIFF stream is refused as soon as it holds more than the
// header's image can take and the metadata allowance (64 MiB), never sooner:
// - a Huffman-coded JPEG by its frame header: 420 bytes a block of 8x8 in sequential coding,
//   10790 in a progression, the blocks of each component in its own sampling (RGB in 4:2:0 has
//   six blocks in each MCU of 16x16 pixels);
// - an arithmetic-coded one by 20228 bytes a block (16 bits a decision at the most), or by
//   the caller's memory rule where that is less;
// - a TIFF by the end of the strips and values its IFD0 gives, wherever IFD0 lies (by the
//   memory rule when IFD0 has sub-IFDs, whose own strips may lie anywhere).
TEST(PelidornTool, JpegAndTiffStreamsAreBoundedByWhatTheirHeaderImageCanTake) {
    const std::string dir = Fresh("coded_bounds");
    constexpr uint64_t MiB = uint64_t(1) << 20, allowance = 64 * MiB;
    const std::vector<uint8_t> gray(64 * 64, 90);
    const std::string arithmetic = CodedJpeg(dir + "/arithmetic.jpg", 64, 64, 1, true, false, gray);
    const std::string small = Write(Scene(FileFormat::Tiff, 1, false, 8, 64, 64), "ifd_last.tif");
    const std::string ifdLast = TiffClaimingSize(ReadFile(small), 2048, 2048);
    const std::string ifdFirst = TiffStripsAfterIfd(2048, 2048, 1024, 8 * MiB, true);
    struct Row {
        const char* name;
        std::string head;
        uint64_t memoryLimit;
        uint64_t most;  // the most the stream may hold
        const char* mentions;
    };
    const Row rows[] = {
        {"baseline RGB 4:2:0", JpegClaiming(1024, 1024, false, dir + "/small.jpg"), 512 * MiB,
         64 * 64 * 6 * 420 + allowance, "more than 73 MiB, the most a pipe is read for a 1024x1024 JPEG"},
        {"progressive RGB 4:2:0", JpegClaiming(256, 256, true, dir + "/small.jpg"), 512 * MiB,
         16 * 16 * 6 * 10790 + allowance, "more than 79 MiB, the most a pipe is read for a 256x256 JPEG"},
        {"arithmetic gray", arithmetic, 512 * MiB, 8 * 8 * 20228 + allowance,
         "more than 65 MiB, the most a pipe is read for a 64x64 JPEG"},
        {"arithmetic gray beyond the memory", ClaimSize(arithmetic, "\xFF\xC9", 1024, 1024), 8 * MiB,
         8 * MiB + allowance, "more than 72 MiB, the most a pipe is read for any image: what the memory allows its pixels (8 MiB)"},
        {"TIFF, IFD0 last", ifdLast, 512 * MiB, ifdLast.size() + allowance,
         "more than 64 MiB, the most a pipe is read for a 2048x2048 TIFF"},
        {"TIFF, IFD0 first, layers after the strips", ifdFirst, 512 * MiB,
         ifdFirst.size() + 2048 * 2048 + 8 * MiB + allowance, "more than 76 MiB, the most a pipe is read for a 2048x2048 TIFF"},
        {"TIFF, IFD0 first, a sub-IFD", TiffStripsAfterIfd(2048, 2048, 1024, 0, false, true), 8 * MiB,
         8 * MiB + allowance, "more than 72 MiB, the most a pipe is read for any image: what the memory allows its pixels (8 MiB)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const EndlessRead r = ReadEndlessFifo("coded_bound", row.head, row.memoryLimit);
        EXPECT_FALSE(r.read.ok);
        EXPECT_NE(r.read.error.find(row.mentions), std::string::npos) << r.read.error;
        EXPECT_GT(r.written, row.most) << "refused before the bound: " << r.read.error;
        EXPECT_LT(r.written, row.most + MiB) << "read on past the bound: " << r.read.error;
    }
}


// ---- a pipe's copy and what its bound says ----------------------------------------------------

namespace {

// `cat input | pelidorn /dev/stdin output --quiet`, with `environment` (such as "TMPDIR=/x")
// set for the tool.
ToolRun PipedTool(const std::string& input, const std::string& output, const std::string& environment = "") {
    const std::string out = TempDir() + "/stdout.txt", err = TempDir() + "/stderr.txt";
    const int status = std::system(("cat " + input + " | " + environment + " " + Tool() + " /dev/stdin " + output +
                                    " --quiet >" + out + " 2>" + err)
                                       .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

// A 16-bit RGBA PNG of zeros whose zlib stream (stored blocks) is cut into IDAT chunks of
// one byte each: 13 bytes of file for every byte of data.
std::string PngInOneByteChunks(uint32_t width, uint32_t height) {
    const std::string raw((1 + size_t(width) * 8) * height, '\0');  // filter byte 0, zero samples
    std::string z("\x78\x01", 2);
    for (size_t at = 0; at < raw.size(); at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z += char(at + n == raw.size() ? 1 : 0);
        z += char(n & 0xFF), z += char(n >> 8), z += char(~n & 0xFF), z += char((~n >> 8) & 0xFF);
        z.append(raw, at, n);
    }
    z += Big32(uint32_t(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size()))));
    std::string chunks[256];
    for (int b = 0; b < 256; ++b) chunks[b] = PngChunk("IDAT", std::string(1, char(b)));
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) +
                      PngChunk("IHDR", Big32(width) + Big32(height) + std::string("\x10\x06\x00\x00\x00", 5));
    png.reserve(png.size() + 13 * z.size() + 12);
    for (char c : z) png += chunks[uint8_t(c)];
    return png + PngChunk("IEND", "");
}

// A little-endian 8-bit gray TIFF of two pages, each one stored strip of zeros: 50x40 and
// `width` x `height`. With `directoriesFirst` each page's IFD comes before its strip (IFD1
// right after the first strip), else after it as libtiff writes them (IFD1 last).
std::string TwoPageTiff(uint32_t width, uint32_t height, bool directoriesFirst) {
    const uint32_t sizes[2][2] = {{50, 40}, {width, height}};
    const uint32_t entries = 9, ifdBytes = 2 + 12 * entries + 4;
    uint32_t ifdAt[2], stripAt[2], end = 8;
    for (int p = 0; p < 2; ++p) {
        const uint32_t strip = sizes[p][0] * sizes[p][1];
        ifdAt[p] = directoriesFirst ? end : end + strip;
        stripAt[p] = directoriesFirst ? end + ifdBytes : end;
        end += ifdBytes + strip;
    }
    std::string b(end, '\0');
    size_t at = 0;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b[at++] = char((v >> (8 * i)) & 0xFF);
    };
    put('I' | 'I' << 8, 2), put(42, 2), put(ifdAt[0], 4);
    for (int p = 0; p < 2; ++p) {
        at = ifdAt[p];
        auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
            put(tag, 2), put(type, 2), put(1, 4);
            type == 3 ? (put(value, 2), put(0, 2)) : put(value, 4);
        };
        put(entries, 2);
        const uint32_t width = sizes[p][0], height = sizes[p][1];
        entry(256, 4, width), entry(257, 4, height), entry(258, 3, 8), entry(259, 3, 1), entry(262, 3, 1);
        entry(273, 4, stripAt[p]), entry(277, 3, 1), entry(278, 4, height), entry(279, 4, width * height);
        put(p == 0 ? ifdAt[1] : 0, 4);
    }
    return b;
}

}  // namespace

// Valid files with more than 64 MiB beside their image (a private chunk, text, bytes after
// the image, APP segments, chunk framing) read from their paths; through a pipe they pass the
// bound and are refused with what the bound is made of and that the path has none, in one
// line, the OUTPUT untouched. Each file is made in memory (zeros; spaces for text) and removed
// after its row.
TEST(PelidornTool, ValidFilesOverThePipeBoundReadFromTheirPathAndThePipeSaysWhy) {
    const std::string dir = Fresh("over_bound");
    const auto seventy = [] { return std::string(size_t(70) << 20, '\0'); };
    const Image scene = Scene(FileFormat::Png, 3, false, 8, 50, 40);
    const std::string png = ReadFile(Write(scene, "over_bound.png"));
    const size_t afterIhdr = 8 + 25, beforeIend = png.size() - 12;
    Image gray = scene;
    gray.format = FileFormat::Tiff, gray.colorChannels = 1, gray.samples.resize(50 * 40);
    const std::string tiff = ReadFile(Write(gray, "over_bound.tif"));
    const std::string jpegPath = Write([&] {
        Image j = scene;
        j.format = FileFormat::Jpeg;
        return j;
    }(), "over_bound.jpg");
    const std::string jpeg = ReadFile(jpegPath);
    const std::vector<uint8_t> jpegSamples = Read(jpegPath).samples;
    struct Row {
        const char* name;
        std::function<std::string()> bytes;
        std::vector<uint8_t> samples;  // as read from the path
        std::string mentions;
    };
    const std::string smallPng = "the most a pipe is read for a 50x40 PNG: what its compressed rows can take";
    const std::string bigPng = "the most a pipe is read for a 1200x800 PNG: what its compressed rows can take";
    const Row rows[] = {
        {"png, a private chunk after IDAT",
         [&] { return png.substr(0, beforeIend) + PngChunk("prVt", seventy()) + png.substr(beforeIend); }, scene.samples,
         smallPng},
        {"png, text before IDAT",
         [&] {
             std::string texts;
             for (int i = 0; i < 5; ++i)
                 texts += PngChunk("iTXt", std::string("Comment\0\0\0\0\0", 12) + std::string(size_t(14) << 20, ' '));
             return png.substr(0, afterIhdr) + texts + png.substr(afterIhdr);
         },
         scene.samples, smallPng},
        {"png, one-byte IDAT chunks", [] { return PngInOneByteChunks(1200, 800); },
         std::vector<uint8_t>(1200 * 800 * 8, 0), bigPng},
        {"jpeg, bytes after EOI", [&] { return jpeg + seventy(); }, jpegSamples,
         "the most a pipe is read for a 50x40 JPEG: what its coded blocks can take"},
        {"jpeg, APP segments before the frame",
         [&] {
             std::string segments;
             for (int i = 0; i < 1130; ++i) segments += std::string("\xFF\xEF\xFF\xFF", 4) + std::string(65533, '\0');
             return jpeg.substr(0, 2) + segments + jpeg.substr(2);
         },
         jpegSamples, "the most a pipe is read before its image header"},
        {"tiff, bytes after the strip", [&] { return tiff + seventy(); }, gray.samples,
         "the most a pipe is read for a 50x40 TIFF: the strips and values its first page points at"},
    };
    const std::string input = dir + "/input", output = dir + "/out.png";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(input, row.bytes());
        EXPECT_GT(std::filesystem::file_size(input), uintmax_t(64) << 20);
        EXPECT_EQ(Read(input).samples, row.samples);
        WriteFile(output, "keep me");
        const ToolRun piped = PipedTool(input, output);
        EXPECT_EQ(piped.code, 1);
        EXPECT_NE(piped.err.find(row.mentions), std::string::npos) << piped.err;
        EXPECT_NE(piped.err.find("64 MiB of "), std::string::npos) << piped.err;
        EXPECT_NE(piped.err.find("a file given by its path has no such bound"), std::string::npos) << piped.err;
        EXPECT_EQ(std::count(piped.err.begin(), piped.err.end(), '\n'), 1) << piped.err;
        EXPECT_EQ(ReadFile(output), "keep me");
        std::remove(input.c_str());
    }
}

// A TIFF of two pages is refused as multi-page both from its path and through a pipe, also
// when its second page passes the pipe's bound: IFD0's link to the next page is known first,
// whether IFD1 comes before the large strip or after it.
TEST(PelidornTool, PipedMultiPageTiffIsRefusedAsMultiPageWhateverItsSize) {
    const std::string dir = Fresh("two_pages");
    struct Row {
        const char* name;
        uint32_t width, height;
        bool directoriesFirst;
    };
    const Row rows[] = {
        {"small second page", 64, 64, true},
        {"second page past the bound, its IFD first", 8192, 8600, true},
        {"second page past the bound, its IFD last", 8192, 8600, false},
    };
    const std::string input = dir + "/pages.tif", output = dir + "/out.tif";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(input, TwoPageTiff(row.width, row.height, row.directoriesFirst));
        Image im;
        std::string error;
        EXPECT_FALSE(pelidorn::ReadImage(input, im, error));
        EXPECT_NE(error.find("multi-page TIFF files are not supported"), std::string::npos) << error;
        WriteFile(output, "keep me");
        const ToolRun piped = PipedTool(input, output);
        EXPECT_EQ(piped.code, 1);
        EXPECT_NE(piped.err.find("multi-page TIFF files are not supported"), std::string::npos) << piped.err;
        EXPECT_EQ(ReadFile(output), "keep me");
        std::remove(input.c_str());
    }
}

// A pipe's copy is made in $TMPDIR (else /tmp) and has no name there: a folder that cannot
// hold it is named in the one-line refusal, OUTPUT untouched; one that can is left as empty
// as it was, also when the tool is killed while the copy is open (it shows among the tool's
// descriptors as a file in that folder, so it is not made anywhere else).
TEST(PelidornTool, PipeCopyIsUnnamedInTheTemporaryFolder) {
    const std::string dir = Fresh("tmpdir");
    const std::string input = Write(Scene(FileFormat::Png, 3, true, 16), "tmpdir_in.png");
    const ToolRun plain = Pelidorn(input + " " + dir + "/plain.png RADI=4 --quiet");
    ASSERT_EQ(plain.code, 0) << plain.err;
    WriteFile(dir + "/a_file", "");
    struct Row {
        std::string tmpdir;
        const char* mentions;
    };
    const Row refused[] = {
        {dir + "/missing", "No such file or directory"},
        {dir + "/a_file", "Not a directory"},
    };
    for (const Row& row : refused) {
        SCOPED_TRACE(row.tmpdir);
        WriteFile(dir + "/out.png", "keep me");
        const ToolRun r = PipedTool(input, dir + "/out.png", "TMPDIR=" + row.tmpdir);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("no temporary file for its data in " + row.tmpdir + " (TMPDIR): " + row.mentions),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(ReadFile(dir + "/out.png"), "keep me");
    }
    const std::string folder = dir + "/tmp";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    auto empty = [&] { return std::filesystem::is_empty(folder); };
    const ToolRun piped = PipedTool(input, dir + "/piped.png RADI=4", "TMPDIR=" + folder);
    EXPECT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(ReadFile(dir + "/piped.png"), ReadFile(dir + "/plain.png"));
    EXPECT_TRUE(empty());

    // Killed while the copy is open: the FIFO has given the signature and IHDR, no more.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t tool = fork();
    ASSERT_GE(tool, 0);
    if (tool == 0) {
        setenv("TMPDIR", folder.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1), dup2(null, 2);
        execl(Tool().c_str(), Tool().c_str(), fifo.c_str(), (dir + "/killed.png").c_str(), "--quiet", nullptr);
        _exit(127);
    }
    // Read and write ends at once: the open does not wait for the tool, whatever becomes of it.
    const int feed = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(feed, 0);
    const std::string head = ReadFile(input).substr(0, 64);
    EXPECT_EQ(write(feed, head.data(), head.size()), ssize_t(head.size()));
    bool copyOpen = false;
    const std::string fds = "/proc/" + std::to_string(tool) + "/fd";
    for (int tries = 0; tries < 1000 && !copyOpen; ++tries) {
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
            const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
            copyOpen = copyOpen || target.rfind(folder + "/", 0) == 0;
        }
        if (!copyOpen) usleep(10000);
    }
    EXPECT_TRUE(copyOpen) << "no copy open in " << folder;
    EXPECT_TRUE(empty());
    kill(tool, SIGKILL);
    int status = 0;
    waitpid(tool, &status, 0);
    close(feed);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(empty());
    EXPECT_FALSE(FileExists(dir + "/killed.png"));
}

// A JPEG whose data ends early, or whose decoder meets corrupt data, is refused in either
// entropy coding, sequential or progressive (libjpeg would make up the rest), and the same
// files whole read; so do images of one value, which arithmetic coding holds in a few bytes
// (no bound on the data's length can refuse a small arithmetic file claiming a large image
// without refusing these).
TEST(PelidornTool, JpegDataThatEndsEarlyOrIsCorruptIsRefusedInEitherCoding) {
    const std::string dir = Fresh("jpeg_data");
    const int w = 64, h = 48;
    std::vector<uint8_t> noise(size_t(w) * h * 3);
    uint32_t seed = 5;
    for (uint8_t& v : noise) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    for (bool arithmetic : {false, true})
        for (bool progressive : {false, true}) {
            const std::string kind = std::string(arithmetic ? "arithmetic" : "huffman") + (progressive ? "_progressive" : "");
            SCOPED_TRACE(kind);
            const std::string whole = CodedJpeg(dir + "/" + kind + ".jpg", w, h, 3, arithmetic, progressive, noise);
            Image im;
            std::string error;
            ASSERT_TRUE(pelidorn::ReadImage(dir + "/" + kind + ".jpg", im, error)) << error;
            // Cut to a third of its length.
            WriteFile(dir + "/cut_" + kind + ".jpg", whole.substr(0, whole.size() / 3));
            EXPECT_FALSE(pelidorn::ReadImage(dir + "/cut_" + kind + ".jpg", im, error));
            EXPECT_NE(error.find("it ends before its image data does"), std::string::npos) << error;
            // A restart marker out of sequence: the decoder loses its place and makes up blocks.
            if (!progressive) {
                std::string wrong = CodedJpeg(dir + "/rst_" + kind + ".jpg", w, h, 3, arithmetic, false, noise, true);
                const size_t rst = wrong.find("\xFF\xD1");
                ASSERT_NE(rst, std::string::npos);
                wrong[rst + 1] = '\xD5';
                WriteFile(dir + "/rst_" + kind + ".jpg", wrong);
                EXPECT_FALSE(pelidorn::ReadImage(dir + "/rst_" + kind + ".jpg", im, error));
                EXPECT_NE(error.find("not a readable JPEG file (Corrupt JPEG data"), std::string::npos) << error;
            }
            // Cut to a twentieth, a large file takes no more memory than the rows its data gave
            // (and, under a sanitizer, the shadow of the reserved address space: an eighth).
            if (!progressive) {
                std::vector<uint8_t> large(size_t(4800) * 3200);
                for (uint8_t& v : large) v = uint8_t(120 + ((seed = seed * 1664525u + 1013904223u) >> 28));
                const std::string bytes = CodedJpeg(dir + "/large.jpg", 4800, 3200, 1, arithmetic, false, large);
                WriteFile(dir + "/large.jpg", bytes.substr(0, bytes.size() / 20));
                const ChildRead r = ReadInChild(dir + "/large.jpg", 0);
                EXPECT_FALSE(r.ok);
                EXPECT_NE(r.error.find("it ends before its image data does"), std::string::npos) << r.error;
                EXPECT_GE(r.grownKiB, 0);
                EXPECT_LT(uint64_t(r.grownKiB) * 1024, large.size() / 2)
                    << "the reader took the whole image's memory: " << r.grownKiB << " KiB";
            }
            const std::vector<uint8_t> flat(size_t(2048) * 1536, 128);
            const std::string small = CodedJpeg(dir + "/flat_" + kind + ".jpg", 2048, 1536, 1, arithmetic, progressive, flat);
            ASSERT_TRUE(pelidorn::ReadImage(dir + "/flat_" + kind + ".jpg", im, error)) << small.size() << " bytes: " << error;
            EXPECT_EQ(im.samples, flat);
        }
}

// A TIFF the tool writes with alpha marks its last channel as unassociated alpha (ExtraSamples
// 2), read back by libtiff itself: other readers see alpha only through that tag, and the
// tool's own reader would take an unmarked extra channel as alpha all the same.
TEST(PelidornTool, TiffWrittenWithAlphaMarksItsLastChannelAsAlpha) {
    const std::string dir = Fresh("tiff_alpha");
    struct Row {
        Image in;
        const char* name;
    };
    const Row rows[] = {{Scene(FileFormat::Tiff, 3, true, 8), "rgba8.tif"},
                        {Scene(FileFormat::Tiff, 1, true, 16), "graya16.tif"},
                        {Scene(FileFormat::Tiff, 3, true, 32), "rgbaf.tif"},
                        {Scene(FileFormat::Tiff, 3, false, 8), "rgb8.tif"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string input = Write(row.in, std::string("alpha_") + row.name);
        const std::string output = dir + "/" + row.name + ".out.tif";
        const ToolRun r = Pelidorn(input + " " + output + " RADI=2 --quiet");
        ASSERT_EQ(r.code, 0) << r.err;
        TIFF* t = TIFFOpen(output.c_str(), "r");
        ASSERT_TRUE(t);
        uint16_t spp = 0, count = 0;
        uint16_t* types = nullptr;
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
        const bool tagged = TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &count, &types) != 0;
        EXPECT_EQ(spp, row.in.channels());
        if (row.in.alpha) {
            ASSERT_TRUE(tagged);
            ASSERT_EQ(count, 1);
            EXPECT_EQ(types[0], 2);  // unassociated alpha
        } else {
            EXPECT_TRUE(!tagged || count == 0);
        }
        TIFFClose(t);
    }
}

// ---- limits and signals: address space, cgroup memory limits, interrupts at every stage --------

namespace {

// RLIMIT_AS cannot be used with a sanitizer's runtime (its shadow memory is reserved up front).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The tool started in a child: its standard error goes to `errPath`, under an address-space
// limit of `limitMib` MiB (0: none).
pid_t StartTool(const std::vector<std::string>& args, const std::string& errPath, uint64_t limitMib = 0) {
    std::vector<char*> argv;
    const std::string tool = Tool();
    argv.push_back(const_cast<char*>("pelidorn"));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(err, 2);
    dup2(devnull, 1);
    dup2(devnull, 0);
    if (limitMib) {
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = rlim_t(limitMib) << 20;
        setrlimit(RLIMIT_AS, &limit);
    }
    execv(tool.c_str(), argv.data());
    _exit(127);
}

struct Ended {
    bool exited = false;  // by exit (not by a signal), within the time allowed
    int code = -1;
    double seconds = 0;   // from the call to the end
};

// Waits up to `allowSeconds` for the child to end; one that is still running is killed.
Ended WaitFor(pid_t pid, double allowSeconds) {
    const auto start = std::chrono::steady_clock::now();
    Ended e;
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        e.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (e.seconds > allowSeconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return e;
        }
        usleep(2000);
    }
    e.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    e.exited = WIFEXITED(status);
    e.code = e.exited ? WEXITSTATUS(status) : -1;
    return e;
}

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

// Under an address-space limit (ulimit -v) from too small to read the image up to enough,
// every run ends cleanly: done, or one line and exit 1 with OUTPUT as it was and no
// temporary file beside it. A thread that cannot be started (its stack and malloc arena
// take address space) means fewer threads, never std::terminate; the render's own -108
// names the address space.
TEST(PelidornTool, TightAddressSpaceEndsCleanlyAtEveryStage) {
    if (kSanitized) GTEST_SKIP() << "an address-space limit does not work with a sanitizer's runtime";
    const std::string dir = Fresh("address_space");
    Image black = Scene(FileFormat::Png, 3, false, 8, 2000, 1400);
    std::fill(black.samples.begin(), black.samples.end(), uint8_t(0));
    const std::string input = Write(black, "address_space_in.png");
    const std::string output = dir + "/out.png", err = TempDir() + "/address_space_err.txt";
    int done = 0, failed = 0;
    for (const char* radius : {"RADI=0", "RADI=30"}) {
        // The copy at 48 MiB fails while writing, at 560 MiB it is done; the blur fails
        // during its render at 80 and 144 MiB.
        const bool copy = std::string(radius) == "RADI=0";
        for (uint64_t mib : {16, 48, 80, 112, 144, 176, 560}) {
            if (copy == (mib == 80 || mib == 144)) continue;
            WriteFile(output, "keep me");
            const Ended e = WaitFor(StartTool({input, output, radius, "--quiet"}, err, mib), 60);
            const std::string text = ReadFile(err);
            const std::string at = std::string(radius) + " under " + std::to_string(mib) + " MiB: ";
            ASSERT_TRUE(e.exited) << at << "ended by a signal: " << text;
            EXPECT_TRUE(e.code == 0 || e.code == 1) << at << e.code << " " << text;
            EXPECT_EQ(HiddenFiles(dir), 0) << at << text;
            if (e.code == 0) {
                ++done;
                EXPECT_EQ(text, "") << at;
                continue;
            }
            ++failed;
            EXPECT_EQ(Lines(text), 1) << at << text;
            EXPECT_EQ(text.find("terminate"), std::string::npos) << at << text;
            EXPECT_EQ(ReadFile(output), "keep me") << at << text;
            // What ran short is the address space, not the machine's free memory.
            EXPECT_NE(text.find("ulimit -v"), std::string::npos) << at << text;
        }
    }
    EXPECT_GT(done, 0) << "no limit was enough";
    EXPECT_GT(failed, 0) << "no limit was too small";
}

// Ctrl-C and SIGTERM end the program within a second at every stage: while a pipe that
// stalls is read (130, 143) and while the largest radius that fits is searched for (a
// cancel, not a failure naming a radius), OUTPUT untouched and nothing left beside it.
TEST(PelidornTool, InterruptsAreAnsweredWhileReadingAndSearching) {
    const std::string dir = Fresh("interrupts");
    const std::string output = dir + "/out.png", err = TempDir() + "/interrupts_err.txt";
    const std::string png = ReadFile(Write(Scene(FileFormat::Png, 3, false, 8, 64, 48), "interrupts_in.png"));
    for (int sig : {SIGINT, SIGTERM}) {
        const std::string fifo = TempDir() + "/interrupts.fifo";
        std::remove(fifo.c_str());
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        // The writer gives the first bytes of a PNG and then stalls.
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            const int fd = open(fifo.c_str(), O_WRONLY);
            if (fd >= 0 && write(fd, png.data(), 40) < 0) _exit(1);
            sleep(60);
            _exit(0);
        }
        WriteFile(output, "keep me");
        const pid_t pid = StartTool({fifo, output, "RADI=0", "--quiet"}, err);
        for (int i = 0; i < 2000 && !CatchesInterrupt(pid); ++i) usleep(5000);
        usleep(300000);  // it is now waiting for the rest of the stream
        kill(pid, sig);
        const Ended e = WaitFor(pid, 10);
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        const std::string text = ReadFile(err);
        EXPECT_TRUE(e.exited) << strsignal(sig) << ": still reading after 10 s";
        EXPECT_EQ(e.code, 128 + sig) << strsignal(sig) << ": " << text;
        EXPECT_LT(e.seconds, 5.0) << strsignal(sig);
        EXPECT_EQ(Lines(text), 1) << text;
        EXPECT_EQ(ReadFile(output), "keep me");
        EXPECT_EQ(HiddenFiles(dir), 0);
    }
    // The search for the largest radius that fits: a whole run first (it names a radius),
    // then one interrupted halfway through its time, which the render's refusal takes little
    // of.
    const Image in = Scene(FileFormat::Png, 3, false, 8, 400, 300);
    const std::string input = Write(in, "search_in.png");
    const std::string depth = Write(UniformDepth(in, 64), "search_depth.png");
    const std::vector<std::string> args = {input, output, "--selection", depth, "--memory", "2", "RADI=1000", "--quiet"};
    WriteFile(output, "keep me");
    const Ended whole = WaitFor(StartTool(args, err), 120);
    ASSERT_TRUE(whole.exited);
    ASSERT_EQ(whole.code, 1) << ReadFile(err);
    ASSERT_NE(ReadFile(err).find("is the largest that fits"), std::string::npos) << ReadFile(err);
    const pid_t pid = StartTool(args, err);
    usleep(useconds_t(whole.seconds * 0.5e6));
    kill(pid, SIGINT);
    const Ended e = WaitFor(pid, 30);
    const std::string text = ReadFile(err);
    EXPECT_TRUE(e.exited);
    EXPECT_EQ(e.code, 130) << text;
    EXPECT_EQ(text.find("largest that fits"), std::string::npos) << text;
    EXPECT_LT(e.seconds, std::max(5.0, whole.seconds)) << text;
    EXPECT_EQ(ReadFile(output), "keep me");
    EXPECT_EQ(HiddenFiles(dir), 0);
}

// The memory limit of the process's own cgroup, found through /proc/self/cgroup, and of each
// parent up to the root: the one that leaves least binds (v2 memory.max/memory.current, v1
// memory.limit_in_bytes/usage_in_bytes, "max" and v1's 2^63 are no limit). The inactive page
// cache in memory.stat (v2 inactive_file, v1 total_inactive_file) counts as unused; without
// a readable figure there, the usage counts whole.
TEST(PelidornTool, CgroupMemoryLimitIsTheTightestOnTheWayToTheRoot) {
    constexpr uint64_t MiB = uint64_t(1) << 20;
    struct File {
        const char* path;  // under the fake root
        std::string text;
    };
    struct Case {
        const char* name;
        std::vector<File> files;
        bool limited;
        uint64_t limit, left;
    };
    const std::string noLimitV1 = "9223372036854771712\n";
    const std::vector<Case> cases = {
        {"v2, a parent is tighter",
         {{"proc/self/cgroup", "0::/machine/job\n"},
          {"sys/fs/cgroup/machine/job/memory.max", "max\n"},
          {"sys/fs/cgroup/machine/job/memory.current", std::to_string(50 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/memory.max", std::to_string(700 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/memory.current", std::to_string(300 * MiB) + "\n"}},
         true, 700 * MiB, 400 * MiB},
        {"v2, the own cgroup is tighter",
         {{"proc/self/cgroup", "0::/machine/job\n"},
          {"sys/fs/cgroup/machine/job/memory.max", std::to_string(500 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/job/memory.current", std::to_string(450 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/memory.max", std::to_string(700 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/memory.current", std::to_string(460 * MiB) + "\n"}},
         true, 500 * MiB, 50 * MiB},
        {"v2, no limit anywhere",
         {{"proc/self/cgroup", "0::/job\n"},
          {"sys/fs/cgroup/job/memory.max", "max\n"},
          {"sys/fs/cgroup/job/memory.current", "4096\n"}},
         false, 0, 0},
        {"v1 memory among other controllers, next to v2",
         {{"proc/self/cgroup", "5:devices:/\n4:cpu,memory:/docker/abc\n0::/\n"},
          {"sys/fs/cgroup/memory/docker/abc/memory.limit_in_bytes", std::to_string(1024 * MiB) + "\n"},
          {"sys/fs/cgroup/memory/docker/abc/memory.usage_in_bytes", std::to_string(256 * MiB) + "\n"},
          {"sys/fs/cgroup/memory/docker/memory.limit_in_bytes", noLimitV1},
          {"sys/fs/cgroup/memory/docker/memory.usage_in_bytes", std::to_string(900 * MiB) + "\n"},
          {"sys/fs/cgroup/memory/memory.limit_in_bytes", noLimitV1},
          {"sys/fs/cgroup/memory/memory.usage_in_bytes", std::to_string(2048 * MiB) + "\n"}},
         true, 1024 * MiB, 768 * MiB},
        {"v1 used beyond its limit",
         {{"proc/self/cgroup", "4:memory:/job\n"},
          {"sys/fs/cgroup/memory/job/memory.limit_in_bytes", std::to_string(100 * MiB) + "\n"},
          {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", std::to_string(120 * MiB) + "\n"}},
         true, 100 * MiB, 1},
        {"the own folder is not visible: its parents still are",
         {{"proc/self/cgroup", "0::/outer/inner\n"},
          {"sys/fs/cgroup/memory.max", std::to_string(800 * MiB) + "\n"},
          {"sys/fs/cgroup/memory.current", std::to_string(100 * MiB) + "\n"}},
         true, 800 * MiB, 700 * MiB},
        {"v1, most of the usage inactive page cache (total_inactive_file; inactive_file leaves out the children)",
         {{"proc/self/cgroup", "4:memory:/job\n"},
          {"sys/fs/cgroup/memory/job/memory.limit_in_bytes", std::to_string(3600 * MiB) + "\n"},
          {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", std::to_string(3300 * MiB) + "\n"},
          {"sys/fs/cgroup/memory/job/memory.stat",
           "cache " + std::to_string(3240 * MiB) + "\nrss " + std::to_string(2 * MiB) + "\ninactive_file " +
               std::to_string(10 * MiB) + "\ntotal_inactive_file " + std::to_string(3230 * MiB) + "\n"}},
         true, 3600 * MiB, 3530 * MiB},
        {"v2, a parent without memory.stat is tighter once the child's inactive cache counts as unused",
         {{"proc/self/cgroup", "0::/machine/job\n"},
          {"sys/fs/cgroup/machine/job/memory.max", std::to_string(2000 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/job/memory.current", std::to_string(1900 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/job/memory.stat",
           "anon " + std::to_string(300 * MiB) + "\nactive_file " + std::to_string(100 * MiB) + "\ninactive_file " +
               std::to_string(1500 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/memory.max", std::to_string(1000 * MiB) + "\n"},
          {"sys/fs/cgroup/machine/memory.current", std::to_string(750 * MiB) + "\n"}},
         true, 1000 * MiB, 250 * MiB},
        {"v2, inactive cache beyond the usage leaves the whole limit",
         {{"proc/self/cgroup", "0::/job\n"},
          {"sys/fs/cgroup/job/memory.max", std::to_string(500 * MiB) + "\n"},
          {"sys/fs/cgroup/job/memory.current", std::to_string(100 * MiB) + "\n"},
          {"sys/fs/cgroup/job/memory.stat", "inactive_file " + std::to_string(300 * MiB) + "\n"}},
         true, 500 * MiB, 500 * MiB},
        {"v2, a malformed memory.stat: the usage counts whole",
         {{"proc/self/cgroup", "0::/job\n"},
          {"sys/fs/cgroup/job/memory.max", std::to_string(500 * MiB) + "\n"},
          {"sys/fs/cgroup/job/memory.current", std::to_string(450 * MiB) + "\n"},
          {"sys/fs/cgroup/job/memory.stat", "inactive_file lots\ninactive_file -300\ninactive_file\n"}},
         true, 500 * MiB, 50 * MiB},
        {"no cgroup file", {}, false, 0, 0},
    };
    for (const Case& c : cases) {
        const std::string root = Fresh("cgroup");
        for (const File& f : c.files) {
            const std::string path = root + "/" + f.path;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            WriteFile(path, f.text);
        }
        uint64_t limit = 12345, left = 12345;
        EXPECT_EQ(pelidorn::CgroupMemoryLimit(root + "/proc", root + "/sys", limit, left), c.limited) << c.name;
        if (!c.limited) continue;
        EXPECT_EQ(limit, c.limit) << c.name;
        EXPECT_EQ(left, c.left) << c.name;
        // With more memory free than the cgroup leaves, the cgroup is what binds.
        WriteFile(root + "/proc/meminfo", "MemTotal: 67108864 kB\nMemAvailable: 33554432 kB\n");
        struct rlimit as {};
        if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) continue;
        const pelidorn::MemoryState state = pelidorn::ReadMemoryState(root + "/proc", root + "/sys");
        EXPECT_EQ(state.available, c.left) << c.name;
        EXPECT_EQ(int(state.bound), int(pelidorn::MemoryState::Bound::Cgroup)) << c.name;
        EXPECT_NE(pelidorn::ShortageText(state).find("container"), std::string::npos) << c.name;
    }
}

// --memory names its cap when refused, and an out-of-memory message under --memory names it.
TEST(PelidornTool, MemoryOptionNamesItsCapAndItsLimit) {
    const std::string input = Write(Scene(FileFormat::Png, 3, false, 8, 300, 200), "memopt_in.png");
    const std::string output = TempDir() + "/memopt_out.png";
    const ToolRun huge = Pelidorn(input + " " + output + " --memory 99999999999999");
    EXPECT_EQ(huge.code, 2);
    EXPECT_NE(huge.err.find("1099511627776"), std::string::npos) << huge.err;
    const ToolRun most = Pelidorn(input + " " + output + " --memory 1099511627776 --quiet RADI=0");
    EXPECT_EQ(most.code, 0) << most.err;
    const ToolRun one = Pelidorn(input + " " + output + " --memory 1 --quiet RADI=20");
    EXPECT_EQ(one.code, 1);
    EXPECT_NE(one.err.find("needs more memory than --memory 1 allows"), std::string::npos) << one.err;
    EXPECT_EQ(one.err.find("the machine could give"), std::string::npos) << one.err;
}

// ---- the out-of-memory message's focal point, and the range warnings at their bounds ----------

// The focal point the out-of-memory message names as the largest (or smallest) that fits does
// render within the same memory, and the next whole value beyond it does not: the proof the
// radius gets above, for a focal point far outside the depth range.
TEST(PelidornTool, FocalPointNamedAsTheLastThatFitsRendersAndTheNextDoesNot) {
    const Image in = Scene(FileFormat::Png, 3, false, 8);
    const std::string input = Write(in, "focal_fit_in.png");
    const std::string sel = Write(UniformDepth(in, 128), "focal_fit_depth.png");
    const std::string output = TempDir() + "/focal_fit_out.png";
    const std::string common = input + " " + output + " --selection " + sel + " --memory 2 --quiet RADI=20 FOPO=";
    struct Case {
        const char* focal;
        const char* which;
        double beyond;  // the step past the named value
    };
    // Searches from different far values end on different last steps.
    for (const Case c : {Case{"10000000", "largest", 1.0}, Case{"4321987", "largest", 1.0},
                         Case{"-10000000", "smallest", -1.0}, Case{"-2345678.5", "smallest", -1.0}}) {
        SCOPED_TRACE(c.focal);
        const ToolRun r = Pelidorn(common + c.focal);
        EXPECT_EQ(r.code, 1) << r.err;
        const size_t at = r.err.find("; FOPO=");
        const size_t end = r.err.find(std::string(" is the ") + c.which + " that fits");
        ASSERT_NE(at, std::string::npos) << r.err;
        ASSERT_NE(end, std::string::npos) << r.err;
        const std::string named = r.err.substr(at + 7, end - at - 7);
        const double value = std::stod(named);
        EXPECT_EQ(value, std::round(value)) << named;
        EXPECT_GT(std::fabs(value), 255.0) << named;
        const ToolRun fits = Pelidorn(common + named);
        EXPECT_EQ(fits.code, 0) << "FOPO=" << named << ": " << fits.err;
        EXPECT_TRUE(FileExists(output));
        std::remove(output.c_str());
        const std::string next = std::to_string(int64_t(value + c.beyond));
        const ToolRun beyond = Pelidorn(common + next);
        EXPECT_EQ(beyond.code, 1) << "FOPO=" << next << ": " << beyond.err;
        EXPECT_NE(beyond.err.find("out of memory (-108)"), std::string::npos) << beyond.err;
        EXPECT_FALSE(FileExists(output));
    }
}

// The range warnings at each bound, from both sides: a value exactly at a bound is inside and
// gets no warning; the nearest value beyond it (the next double for a number, away from zero
// the smallest normal one; the next whole number for an integer or a list item) is outside and
// is named with the dialog's range. Numbers with hard and soft bounds, the radius field's cap,
// an integer, the outside colour, and lists short and long (the view list grows with a depth
// map).
TEST(PelidornTool, RangeWarningsAtEachBoundFromBothSides) {
    Image scene = Scene(FileFormat::Png, 1, false, 8, 12, 9);
    const std::string input = Write(scene, "bounds.png");
    const std::string depthMap = Write(UniformDepth(scene, 100), "bounds_depth.png");
    const std::string output = TempDir() + "/bounds_out.png";
    struct Bound {
        const char* key;
        double bound;
        int side;           // -1: a lower bound, +1: an upper bound
        bool integer;       // integer and list values step by 1
        bool depthMap;
        const char* range;  // as the warning names it
        const char* extra;  // other values the run needs
    };
    const Bound bounds[] = {
        {"RADI", 0, -1, false, false, "0..1000", ""},
        {"RADI", 1000, +1, false, false, "0..1000", ""},
        {"FOPO", 0, -1, false, true, "0..255", ""},
        {"FOPO", 255, +1, false, true, "0..255", ""},
        {"IRAS", -0.75, -1, false, false, "-0.75..0.75", ""},
        {"IRAS", 0.75, +1, false, false, "-0.75..0.75", ""},
        {"SELS", 3, +1, false, false, "0..3", ""},
        {"OUCB", 0, -1, false, false, "0..1", "OUIM=4 "},
        {"OUCR", 1, +1, false, false, "0..1", "OUIM=4 "},
        {"IRFA", 3, -1, true, false, "3..15", ""},
        {"IRFA", 15, +1, true, false, "3..15", ""},
        {"SHOW", 1, -1, true, false, "1..4", ""},
        {"SHOW", 4, +1, true, false, "1..4", ""},
        {"SHOW", 7, +1, true, true, "1..7", ""},
        {"SEIS", 2, +1, true, true, "1..2", ""},
        {"OUIM", 1, -1, true, false, "1..4", ""},
        {"OUIM", 4, +1, true, false, "1..4", ""},
    };
    auto text = [](double v) {
        char t[64];
        *std::to_chars(t, t + sizeof t - 1, v).ptr = 0;
        return std::string(t);
    };
    for (const Bound& b : bounds) {
        const std::string where = std::string(b.key) + (b.side < 0 ? " at its lower bound " : " at its upper bound ") +
                                  text(b.bound);
        SCOPED_TRACE(where);
        double outside;
        if (b.integer) {
            outside = b.bound + b.side;
        } else if (b.bound == 0) {
            outside = b.side * std::numeric_limits<double>::min();
        } else {
            outside = std::nextafter(b.bound, b.side * std::numeric_limits<double>::infinity());
        }
        const std::string selection = b.depthMap ? " --selection " + depthMap : "";
        const std::string run = input + " " + output + selection + " --quiet " + b.extra + b.key + "=";
        const ToolRun at = Pelidorn(run + text(b.bound));
        EXPECT_EQ(at.code, 0) << at.err;
        EXPECT_EQ(at.err, "");
        const std::string given = std::string(b.key) + "=" + text(outside);
        const ToolRun beyond = Pelidorn(run + text(outside));
        EXPECT_EQ(beyond.code, 0) << beyond.err;
        EXPECT_EQ(std::count(beyond.err.begin(), beyond.err.end(), '\n'), 1) << beyond.err;
        EXPECT_NE(beyond.err.find("pelidorn: warning: " + given + " is outside the dialog's range (" + b.range + ")"),
                  std::string::npos)
            << beyond.err;
    }
}

// The radius an out-of-memory message `err` names as the largest that fits is a whole tenth,
// renders with `run` + it, and the next tenth fails with `beyondMentions` in its message and
// leaves no `output`.
void ExpectNamedRadiusIsTheLastTenthThatRenders(const std::string& err, const std::string& run,
                                                const std::string& output, const std::string& beyondMentions) {
    const size_t at = err.find("; RADI=");
    const size_t end = err.find(" is the largest that fits");
    ASSERT_NE(at, std::string::npos) << err;
    ASSERT_NE(end, std::string::npos) << err;
    const std::string named = err.substr(at + 7, end - at - 7);
    const long tenths = std::lround(std::stod(named) * 10);
    EXPECT_EQ(std::stod(named), tenths / 10.0) << named;
    const ToolRun fits = Pelidorn(run + named);
    EXPECT_EQ(fits.code, 0) << "RADI=" << named << ": " << fits.err;
    std::remove(output.c_str());
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", (tenths + 1) / 10.0);
    const ToolRun beyond = Pelidorn(run + text);
    EXPECT_EQ(beyond.code, 1) << "RADI=" << text << ": " << beyond.err;
    EXPECT_NE(beyond.err.find(beyondMentions), std::string::npos) << beyond.err;
    EXPECT_FALSE(FileExists(output));
}

// The radius the out-of-memory message names is the last tenth that fits: it renders within
// the same memory and the next tenth does not (a search that stopped between two tenths named
// one a tenth or two short of the largest), under a few budgets.
TEST(PelidornTool, RadiusNamedAsTheLargestIsTheLastTenthThatFits) {
    const Image in = Scene(FileFormat::Png, 3, false, 8, 80, 60);
    const std::string input = Write(in, "tenth_in.png");
    const std::string sel = Write(UniformDepth(in, 64), "tenth_depth.png");
    const std::string output = TempDir() + "/tenth_out.png";
    for (const char* memory : {"1", "2"}) {
        SCOPED_TRACE(testing::Message() << "--memory " << memory);
        const std::string common = input + " " + output + " --selection " + sel + " --memory " + memory + " --quiet RADI=";
        const ToolRun r = Pelidorn(common + "1000");
        EXPECT_EQ(r.code, 1) << r.err;
        ExpectNamedRadiusIsTheLastTenthThatRenders(r.err, common, output, "out of memory (-108)");
    }
}

// A depth map of one value d with the focal point at d gives the picture back: byte d is the
// depth level d that FOPO=d keeps sharp (each byte from 1 to 254 used to land a level lower,
// and was blurred), and one level off blurs. Noise shows any blur.
TEST(PelidornTool, DepthEqualToTheFocalPointStaysSharp) {
    Image in = Scene(FileFormat::Png, 3, false, 8);
    AddNoise(in, 5);
    const std::string input = Write(in, "focus_in.png");
    const std::string output = TempDir() + "/focus_out.png";
    for (int d : {0, 1, 64, 128, 254, 255}) {
        SCOPED_TRACE(testing::Message() << "depth " << d);
        const std::string sel = Write(UniformDepth(in, uint8_t(d)), "focus_depth.png");
        for (const char* gamma : {"0", "1"}) {
            const ToolRun r = Pelidorn(input + " " + output + " --selection " + sel + " --quiet RADI=40 FOPO=" +
                                       std::to_string(d) + " GACO=" + gamma);
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(Read(output).samples, in.samples) << "GACO=" << gamma;
        }
        const ToolRun off = Pelidorn(input + " " + output + " --selection " + sel + " --quiet RADI=40 GACO=0 FOPO=" +
                                     std::to_string(d == 255 ? 254 : d + 1));
        ASSERT_EQ(off.code, 0) << off.err;
        EXPECT_NE(Read(output).samples, in.samples) << "one level off";
    }
}

// Where the work area at the radius given is larger than the plug-in can address, the radius
// the message names renders within the same --memory, and the next tenth does not (it named
// the largest addressable radius, whatever the memory). A float image 3200 pixels wide and 4
// high: at RADI=1000 its margin of 3876 pixels makes even a 4x4 tile's buffers exceed 4 GiB.
TEST(PelidornTool, RadiusNamedBeyondTheAddressableRendersWithinTheMemory) {
    const Image in = Scene(FileFormat::Tiff, 3, true, 32, 3200, 4);
    const std::string input = Write(in, "thin_in.tif");
    Image depth = UniformDepth(in, 0);
    for (int x = 0; x < depth.width; ++x)
        for (int y = 0; y < depth.height; ++y) depth.samples[size_t(y) * depth.width + x] = uint8_t(x * 255 / depth.width);
    const std::string sel = Write(depth, "thin_depth.png");
    const std::string output = TempDir() + "/thin_out.tif";
    const std::string common = input + " " + output + " --selection " + sel + " --memory 4 --quiet RADI=";
    const ToolRun r = Pelidorn(common + "1000");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("the work area at RADI=1000 (a 3200x4 image) is larger than the plug-in can address"),
              std::string::npos)
        << r.err;
    ExpectNamedRadiusIsTheLastTenthThatRenders(r.err, common, output, "needs more memory than --memory 4 allows");
}

// ---- address-space limits around the edge of a render --------------------------------------

namespace {

struct LimitedRun {
    bool rendered = false;
    std::string err;
};

// The tool under `ulimit -v` of `limitMib` MiB.
LimitedRun RunUnderLimit(const std::vector<std::string>& args, uint64_t limitMib) {
    const std::string err = TempDir() + "/edge_err.txt";
    const Ended e = WaitFor(StartTool(args, err, limitMib), 120);
    LimitedRun r;
    r.err = ReadFile(err);
    EXPECT_TRUE(e.exited && (e.code == 0 || e.code == 1)) << limitMib << " MiB: " << e.code << " " << r.err;
    r.rendered = e.exited && e.code == 0;
    return r;
}

// The figure before " MiB" that ends just before `end` in `text` (-1 when there is none).
double FigureBefore(const std::string& text, const std::string& end) {
    const size_t at = text.find(end);
    if (at == std::string::npos || at < 5 || text.compare(at - 4, 4, " MiB") != 0) return -1;
    size_t from = at - 4;
    while (from > 0 && (std::isdigit(static_cast<unsigned char>(text[from - 1])) || text[from - 1] == '.')) --from;
    return from < at - 4 ? std::stod(text.substr(from, at - 4 - from)) : -1;
}

}  // namespace

// A render that fits under one address-space limit fits under every larger one: the threads'
// stacks and the C library's arenas, mapped only where the limit leaves room for them, took
// the room a transform's scratch rows needed at one limit in four (every 8 MiB, one more
// stack). On a ladder of limits in 2 MiB steps from the lowest that renders, every one
// renders; below it each refusal's figures add up (the block refused and what was taken are
// more than the limit leaves for the plug-in), and the radius it names renders under the same
// limit.
TEST(PelidornTool, AddressSpaceLimitsAboveOneThatRendersRenderToo) {
    if (kSanitized) GTEST_SKIP() << "an address-space limit does not work with a sanitizer's runtime";
    const std::string input = Write(Scene(FileFormat::Png, 3, false, 8, 1000, 750), "edge_in.png");
    const std::string output = TempDir() + "/edge_out.png";
    const std::vector<std::string> args = {input, output, "RADI=5", "--quiet"};
    // The lowest limit that renders, by bisection between one far too small and one ample.
    uint64_t low = 16, high = 1024;
    ASSERT_TRUE(RunUnderLimit(args, high).rendered);
    while (high - low > 2) {
        const uint64_t mid = (low + high) / 2;
        (RunUnderLimit(args, mid).rendered ? high : low) = mid;
    }
    for (uint64_t mib = high; mib <= high + 16; mib += 2)
        EXPECT_TRUE(RunUnderLimit(args, mib).rendered) << "renders at " << high << " MiB, not at " << mib << " MiB";
    // Just below the edge: the figures and the radius named.
    for (uint64_t mib : {high - 2, high - 6}) {
        SCOPED_TRACE(testing::Message() << "ulimit -v of " << mib << " MiB");
        const LimitedRun r = RunUnderLimit(args, mib);
        ASSERT_FALSE(r.rendered);
        const double leaves = FigureBefore(r.err, " for the plug-in's blocks");
        const double block = FigureBefore(r.err, " was refused with ");
        const double taken = FigureBefore(r.err, " already taken");
        ASSERT_GT(leaves, 0) << r.err;
        ASSERT_GE(block, 0) << r.err;
        ASSERT_GE(taken, 0) << r.err;
        EXPECT_GT(block + taken, leaves) << r.err;
        const size_t at = r.err.find("; RADI=");
        if (at == std::string::npos) {
            EXPECT_NE(r.err.find("no radius above 0 fits"), std::string::npos) << r.err;
            continue;
        }
        const std::string named = r.err.substr(at + 7, r.err.find(' ', at) - at - 7);
        EXPECT_TRUE(RunUnderLimit({input, output, "RADI=" + named, "--quiet"}, mib).rendered)
            << "RADI=" << named << " named under the same limit: " << r.err;
    }
}
