// Rectangle and TileSet2D.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/logger.h"
#include "core/tile_set.h"
#include "platform/platform.h"

using namespace ov;

namespace {

TileSet2D make(int32_t w, int32_t h, Rectangle overflow, int32_t cpus) {
    TileSet2D t{};  // the owner zero-fills it
    t.init(w, h, overflow, cpus);
    return t;
}

// The grid choice, computed independently in 64 bits.
void reference_grid(int32_t w, int32_t h, Rectangle o, int32_t cpus, int32_t& rows, int32_t& cols) {
    rows = cols = 1;
    double best = DBL_MAX;
    const int64_t ow = int64_t(o.right) - o.left, oh = int64_t(o.bottom) - o.top;
    for (int32_t r = 1; r <= cpus; ++r) {
        const int32_t c = cpus / r;
        double sum = 0;
        for (int32_t row = 0; row < r; ++row)
            for (int32_t col = 0; col < c; ++col) {
                const int64_t tw = (col == c - 1 ? w : (col + 1) * (w / c)) - col * (w / c);
                const int64_t th = (row == r - 1 ? h : (row + 1) * (h / r)) - row * (h / r);
                sum += double((tw + ow) * (th + oh));
            }
        if (sum / (r * c) < best) {
            best = sum / (r * c);
            rows = r;
            cols = c;
        }
    }
    while (w / cols < 4 && cols > 1) --cols;
    while (h / rows < 4 && rows > 1) --rows;
}

void expect_partition(const TileSet2D& t) {
    std::vector<uint8_t> hits(size_t(t.width) * t.height, 0);
    for (int32_t i = 0; i < t.rows * t.cols; ++i) {
        const Rectangle r = t.tile(i);
        EXPECT_EQ(r.left, (i % t.cols) * (t.width / t.cols));
        EXPECT_EQ(r.top, (i / t.cols) * (t.height / t.rows));
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x) ++hits[size_t(y) * t.width + x];
    }
    for (size_t i = 0; i < hits.size(); ++i)
        ASSERT_EQ(hits[i], 1) << "pixel " << i << " of " << t.width << "x" << t.height << " grid " << t.rows << "x" << t.cols;
}

TEST(Rectangle, LogForm) {
    std::ostringstream os;
    os << Rectangle{-10, 10, -3, 7} << "|";
    EXPECT_EQ(os.str(), "(Rectangle - left: -10, right: 10, top: -3, bottom: 7)|");
}

TEST(TileSet2D, PartExamples) {
    auto t = make(1000, 1000, {}, 8);
    EXPECT_EQ(t.rows, 1);
    EXPECT_EQ(t.cols, 8);
    t = make(1000, 1000, {-10, 10, -10, 10}, 8);
    EXPECT_EQ(t.rows, 2);
    EXPECT_EQ(t.cols, 4);
    t = make(10, 600, {}, 8);
    EXPECT_EQ(t.rows, 1);
    EXPECT_EQ(t.cols, 2);
    t = make(50, 50, {}, 0);
    EXPECT_EQ(t.rows, 1);
    EXPECT_EQ(t.cols, 1);
    EXPECT_EQ(t.cpus, 0);
    t = make(10, 10, {}, 3);
    EXPECT_EQ(t.cols, 2);  // 10 / 3 < 4
    t.cols = 3;
    const Rectangle largest = t.largest_tile();
    EXPECT_EQ(largest, (Rectangle{6, 10, 0, 10}));
}

TEST(TileSet2D, GridsForSizesAndThreadCounts) {
    const int32_t sizes[][2] = {{1000, 1000}, {10, 600}, {1, 1}, {3, 7}, {4096, 17}, {333, 777}, {64, 64}, {5, 300}};
    const int32_t cpuCounts[] = {-1, 0, 1, 2, 3, 4, 7, 8, 12, 16, 64};
    const Rectangle overflows[] = {{}, {-10, 10, -10, 10}, {-3, 5, -7, 2}, {-100, 0, 0, 1}};
    for (auto& s : sizes)
        for (int32_t cpus : cpuCounts)
            for (const Rectangle& o : overflows) {
                const auto t = make(s[0], s[1], o, cpus);
                int32_t rows, cols;
                reference_grid(s[0], s[1], o, cpus, rows, cols);
                EXPECT_EQ(t.rows, rows) << s[0] << "x" << s[1] << " cpus " << cpus;
                EXPECT_EQ(t.cols, cols) << s[0] << "x" << s[1] << " cpus " << cpus;
                EXPECT_LE(t.rows * t.cols, std::max(cpus, 1));
                EXPECT_TRUE(t.cols == 1 || t.width / t.cols >= 4);
                EXPECT_TRUE(t.rows == 1 || t.height / t.rows >= 4);
                EXPECT_EQ(t.overflow, o);
                expect_partition(t);
            }
}

TEST(TileSet2D, PaddedAreasIn64Bits) {
    // A padded tile of 2.301e9 pixels (beyond 32 bits) against one of 1.151e9: the smaller
    // mean wins, two rows of one column.
    auto t = make(2000, 1000, {-1150000, 1150000, 0, 0}, 2);
    EXPECT_EQ(t.rows, 2);
    EXPECT_EQ(t.cols, 1);
    // largest_tile compares areas of 2.5e9 and 2.50005e9 pixels.
    t = make(100001, 50000, {}, 2);
    EXPECT_EQ(t.cols, 2);
    EXPECT_EQ(t.largest_tile(), (Rectangle{50000, 100001, 0, 50000}));
}

TEST(TileSet2D, IncreaseDownToItsLimit) {
    auto t = make(100, 40, {}, 2);
    EXPECT_EQ(t.rows, 1);
    EXPECT_EQ(t.cols, 2);
    EXPECT_EQ(t.increase(), 1);  // tiles 50 x 40: a column is added
    EXPECT_EQ(t.cols, 3);
    EXPECT_EQ(t.rows, 1);
    const int32_t sizes[][2] = {{100, 40}, {37, 211}, {1000, 1000}, {4, 4}, {9, 5}};
    for (auto& s : sizes) {
        auto g = make(s[0], s[1], {-2, 2, -2, 2}, 4);
        int steps = 0;
        while (g.increase() == 1) {
            ASSERT_LT(++steps, 2000);
            expect_partition(g);
        }
        const int32_t tw = g.width / g.cols, th = g.height / g.rows;
        if (tw > th) { EXPECT_LE(tw, 4); }
        else { EXPECT_LE(th, 4); }
        const auto before = g;
        EXPECT_EQ(g.increase(), 0);  // nothing changes any more
        EXPECT_EQ(g.rows, before.rows);
        EXPECT_EQ(g.cols, before.cols);
    }
    auto small = make(16, 16, {}, 16);  // 4 x 4 tiles
    small.rows = small.cols = 4;
    EXPECT_EQ(small.increase(), 0);
    EXPECT_EQ(small.rows, 4);
    EXPECT_EQ(small.cols, 4);
}

TEST(TileSet2D, LargestTileTakesTheFirstOfLargestArea) {
    TileSet2D t{};
    t.init(10, 9, {}, 1);
    t.rows = 2;
    t.cols = 3;  // tiles 3/3/4 wide, 4/5 high: the last tile is the largest
    EXPECT_EQ(t.largest_tile(), (Rectangle{6, 10, 4, 9}));
    t.init(0, 0, {}, 4);
    EXPECT_EQ(t.largest_tile(), (Rectangle{0, 0, 0, 0}));  // every area 0: tile 0
}

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    // The log file is opened in text mode: line ends are CR LF in the Windows build.
    std::string text = os.str();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST(TileSet2D, LogLines) {
    namespace fs = std::filesystem;
    const fs::path home = fs::temp_directory_path() / ("pel_tile_log_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(home / "ostrovanne");
    const fs::path logPath = home / "ostrovanne" / "pelidorn_ps.log";
    { std::ofstream(logPath, std::ios::binary); }
    pel::platform::SetEnvironmentVariableValue("HOMEDRIVE", nullptr);
    pel::platform::SetEnvironmentVariableValue("HOME", home.string().c_str());
    Logger& logger = GetLogger();
    logger.path = (home / "ostrovanne" / "pelidorn_ps.log").string();
    const int32_t depth = logger.indent;
    auto t = make(1000, 1000, {-10, 10, -10, 10}, 8);
    EXPECT_EQ(t.increase(), 1);
    TileSet2D tiny{};
    tiny.init(4, 4, {}, 1);
    EXPECT_EQ(tiny.increase(), 0);
    EXPECT_EQ(logger.indent, depth);
    std::string pad(size_t(depth) * 4, ' ');
    const std::string expected =
        pad + "TileSet2D::init (width=1000, height=1000, overflow =(Rectangle - left: -10, right: 10, top: -10, bottom: 10), cpus=8)\n" +
        pad + "    rows = 2cols = 4\n" +
        pad + "TileSet2D::increase ()\n" +
        pad + "    cols: 4 rows: 3\n" +
        pad + "TileSet2D::init (width=4, height=4, overflow =(Rectangle - left: 0, right: 0, top: 0, bottom: 0), cpus=1)\n" +
        pad + "    rows = 1cols = 1\n" +
        pad + "TileSet2D::increase ()\n";
    EXPECT_EQ(read_file(logPath), expected);
    std::error_code ec;
    fs::remove_all(home, ec);
}

}  // namespace
