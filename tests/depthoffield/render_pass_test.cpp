// The depth-of-field render pass: its trace lines (exact, with their depths), and every
// allocation or progress report failing in turn on every road, which must end with the
// failure's status and nothing left allocated.
//
// The log file lives in a private HOME, set up before the logger writes anything.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../core/core_test_support.h"
#include "depthoffield/depth_of_field_filter.h"
#include "dof_test_support.h"

using namespace dof_test;

namespace {

// A job that takes every tile as the renderer does and writes nothing.
template <class Filter>
void takeAllTiles(Filter& f) {
    f.tile_job = [&f](uint32_t, uint32_t, uint32_t) -> uint32_t {
        while (f.take_tile() < f.tiles.rows * f.tiles.cols) {
        }
        return 0;
    };
}

}  // namespace

TEST(RenderPassLog, ViewLinesAndDepths) {
    pel_test::TempHome home(true);
    TestHost host;
    DepthOfFieldParams p = defaultParams(5.0);
    p.view = 3;
    Rig<ov::ImgHostRGB_U8> rig(host, 4, 3, p);
    ASSERT_EQ(rig.filter.render(0, 1), 0u);
    EXPECT_EQ(home.Log(), pel_test::InFile("render()\n"
                                           "    render frame:0 size:4x3\n"
                                           "    init_all()\n"
                                           "        return (0)\n"
                                           "    return (0)\n"));
}

TEST(RenderPassLog, OutOfMemoryIsWrittenUnsigned) {
    pel_test::TempHome home(true);
    TestHost host;
    DepthOfFieldParams p = defaultParams(5.0);
    p.view = 7;
    Rig<ov::ImgHostGray_U16> rig(host, 4, 3, p);
    host.failAllocation = 2;
    ASSERT_EQ(rig.filter.render(0, 1), kHostOutOfMemory);
    EXPECT_EQ(home.Log(), pel_test::InFile("render()\n"
                                           "    render frame:0 size:4x3\n"
                                           "    init_all()\n"
                                           "        return (4294967188)\n"
                                           "    return (4294967188)\n"));
    EXPECT_EQ(host.liveBlocks(), 0u);
}

TEST(RenderPassLog, TiledBlurLines) {
    pel_test::TempHome home(true);
    TestHost host(2);
    Rig<ov::ImgHostRGBA_U8> rig(host, 8, 6, defaultParams(1.0));  // margin 2 (r = 2 at depth 0)
    takeAllTiles(rig.filter);
    host.refuse = [](uint32_t size) { return size == 8 * 6 * 16; };  // the first grid's composite
    ASSERT_EQ(rig.filter.render(0, 1), 0u);
    const std::string log = home.Log();
    const std::vector<std::string> lines = {
        "render()\n",
        "    render frame:0 size:8x6\n",
        "    init_all()\n",
        "        return (0)\n",
        "    TileSet2D::init (width=8, height=6, overflow =(Rectangle - left: -2, right: 2, top: -2, bottom: 2), "
        "cpus=1)\n",
        "        rows = 1cols = 1\n",
        "    init_memory (cpus: 1)\n",  // buffers for min(threads, tiles) workers
        "        free_memory (cpus: 1)\n",
        "        return (4294967188)\n",
        "    TileSet2D::increase ()\n",
        "    init_memory (cpus: 2)\n",
        "        return (0)\n",
        "    thread count  = 2\n",
        "    highlights=0\n",
        "    free_memory (cpus: 2)\n",
        "    return (0)\n",
    };
    size_t at = 0;
    for (const std::string& line : lines) {
        const size_t found = log.find(pel_test::InFile(line), at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << log;
        at = found + 1;
    }
    // Highlight boosting is announced when the selection is on and the strength positive.
    rig.filter.params.highlight_preservative = 2.0;
    ASSERT_EQ(rig.filter.render(0, 1), 0u);
    EXPECT_NE(home.Log().find(pel_test::InFile("    highlights=1\n")), std::string::npos);
}

// Each tile's entry and exit lines name the work item's buffers as its threadID.
TEST(RenderPassLog, TileEntryAndExitLines) {
    pel_test::TempHome home(true);
    TestHost host(1);
    Rig<ov::ImgHostRGBA_U8> rig(host, 8, 6, defaultParams(1.0));
    ASSERT_EQ(rig.filter.render(0, 1), 0u);
    ASSERT_EQ(rig.filter.tiles.rows * rig.filter.tiles.cols, 1);
    const std::string log = home.Log();
    for (const char* line :
         {"tread index: 0 - entering render_chunk (thread_index (0), thread_iterations (1), threadID (0)\n",
          "tread index: 0 - return (0) thread_index (0), thread_iterations (1), threadID (0)\n"})
        EXPECT_NE(log.find(pel_test::InFile(line)), std::string::npos) << line << "\n" << log;
}

// Every allocation failing in turn, and every progress report refused in turn: the status is
// out of memory (or cancelled), except where a refused chunk buffer is retried on a finer
// grid, and no block is left.
TEST(RenderPassFailures, EveryAllocationAndReportInTurn) {
    struct Road {
        const char* what;
        int view;
        double radius;
        bool irisImage;
    };
    const Road roads[] = {
        {"tiled blur", 1, 4.0, false},     {"info density", 6, 4.0, false}, {"plain copy", 1, 0.0, false},
        {"iris", 2, 4.0, false},           {"depth buffer", 3, 4.0, false}, {"highlights", 4, 4.0, false},
        {"highlights only", 5, 4.0, false}, {"sharp zone", 7, 4.0, false},  {"iris image", 1, 4.0, true},
    };
    Image<ov::ImgHostRGBA_U8> iris(5, 5);
    iris.fill(makePixel<ov::PxHostRGBA_U8>(255, 255));
    for (const Road& road : roads) {
        int32_t lastTiles = 0;
        auto run = [&](TestHost& host, uint64_t failAt, uint64_t refuseAt, uint32_t& status) {
            DepthOfFieldParams p = defaultParams(road.radius);
            p.view = road.view;
            Rig<ov::ImgHostRGBA_U8> rig(host, 12, 8, p);
            takeAllTiles(rig.filter);
            if (road.irisImage) rig.filter.iris_image = iris.view();
            host.reset();
            host.failAllocation = failAt;
            host.refuseReport = refuseAt;
            const std::vector<unsigned char> before = rig.dst.bytes;
            status = rig.filter.render(0, 1);
            lastTiles = rig.filter.tiles.count();
            if (failAt != 0 && status != 0) {
                EXPECT_EQ(rig.dst.bytes, before) << road.what << " allocation " << failAt;
            }
            return host.allocations.load();
        };
        TestHost clean(2);
        uint32_t status = 1;
        const uint64_t allocations = run(clean, 0, 0, status);
        ASSERT_EQ(status, 0u) << road.what;
        const uint64_t reports = clean.reports.load();
        // Chunk buffers are held for min(threads, tiles) workers: the array and 7 blocks each.
        const uint64_t chunkBlocks = 1 + 7 * uint64_t(std::min(2, lastTiles));
        ASSERT_EQ(clean.liveBlocks(), 0u);
        std::vector<uint64_t> turns;
        for (uint64_t k = 1; k <= allocations; ++k)
            if (!road.irisImage || k <= 8 || k + 4 > allocations || k % 97 == 0) turns.push_back(k);
        TestHost host(2);  // one host (and thread pool) for every turn
        for (uint64_t k : turns) {
            run(host, k, 0, status);
            // The last blocks of a tiled blur are its chunk buffers: a refusal there is retried
            // on a finer grid.
            const bool retried =
                (road.view == 1 || road.view == 6) && road.radius > 0 && k + chunkBlocks > allocations;
            EXPECT_EQ(status, retried ? 0u : kHostOutOfMemory) << road.what << " allocation " << k;
            EXPECT_EQ(host.liveBlocks(), 0u) << road.what << " allocation " << k;
            EXPECT_EQ(host.doubleFrees, 0) << road.what;
        }
        for (uint64_t k = 1; k <= reports; k += (reports > 40 ? reports / 20 : 1)) {
            run(host, 0, k, status);
            EXPECT_EQ(status, 2u) << road.what << " report " << k;
            EXPECT_EQ(host.liveBlocks(), 0u) << road.what << " report " << k;
        }
    }
}
