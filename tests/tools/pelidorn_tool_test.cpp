// The stand-in host `pelidorn`, driven as a user drives it, on tiny files this test writes:
// PNG and TIFF in every supported depth and channel layout, with and without alpha; the
// "iris", "highlight selection" and "highlight selection only" views; the errors (one line,
// non-zero exit, an existing output untouched); the values the module writes back; Ctrl-C.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
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
    std::ofstream(TempDir() + "/garbage.png") << "not an image";
    const Row rows[] = {
        {input + " " + output + " FOO=1", 2, "FOO"},
        {input + " " + output + " RADI=abc", 2, "RADI"},
        {input + " " + output + " IRFA=2.5", 2, "IRFA"},
        {input + " " + output + " GACO=maybe", 2, "GACO"},
        {input + " " + output + " RADI=1 RADI=2", 2, "RADI"},
        {input + " " + output + " --selection " + smallMask, 1, "10x10"},
        {input + " " + output + " --selection " + rgbMask, 1, "8-bit gray"},
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
