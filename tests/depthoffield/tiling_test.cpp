// The tiled blur's frame: the tile grid over the destination, the per-thread chunk buffers
// and their refinement when the host refuses memory, and the parallel run that shares the
// tiles out. A recording worker stands in for the tile renderer: it takes tiles as the
// renderer does, marks the destination pixels each tile covers and touches the last byte of
// each buffer its padded tile needs (so an undersized buffer shows under the sanitizers).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../core/core_test_support.h"
#include "depthoffield/depth_of_field_filter.h"
#include "dof_test_support.h"

using namespace dof_test;

namespace {

using Filter = ov::DepthOfFieldFilter<ov::ImgHostRGBA_U8, ov::ImgDepth8>;

struct Recorder {
    std::mutex mutex;
    std::vector<int> tileTakes;     // per tile: how often it was taken
    std::vector<int> pixelHits;     // per destination pixel: how many tiles covered it
    std::vector<uint32_t> threadIDs;
    std::vector<uint32_t> iterations;
    std::vector<int32_t> slots;       // the buffer slot each worker took
    bool touchBuffers = true;

    void attach(Filter& f) {
        f.tile_job = [this, &f](uint32_t, uint32_t n, uint32_t id) -> uint32_t {
            {
                std::lock_guard<std::mutex> lock(mutex);
                threadIDs.push_back(id);
                iterations.push_back(n);
            }
            // As the renderer: the worker's buffers are those of the slot it takes.
            const int32_t slot = f.take_slot();
            {
                std::lock_guard<std::mutex> lock(mutex);
                slots.push_back(slot);
            }
            if (slot >= f.buffer_slots) return 0;
            for (;;) {
                const int32_t t = f.take_tile();
                if (t >= f.tiles.rows * f.tiles.cols) return 0;
                const ov::Rectangle r = f.tiles.tile(t);
                if (touchBuffers) {
                    const ov::Rectangle& o = f.tiles.overflow;
                    const int64_t padX = std::max(std::abs(o.left), std::abs(o.right));
                    const int64_t padY = std::max(std::abs(o.top), std::abs(o.bottom));
                    const int64_t n = (r.right - r.left + 2 * padX) * (r.bottom - r.top + 2 * padY);
                    const int64_t core = int64_t(r.right - r.left) * (r.bottom - r.top);
                    const ov::ChunkBuffers& c = f.chunk_buffers[slot];
                    static_cast<unsigned char*>(c.composite)[core * Filter::P - 1] = 1;
                    c.highlight_keep[core - 1] = 1.0f;
                    c.coverage_excess[core - 1] = 1.0f;
                    c.min_index[n - 1] = 1;
                    static_cast<unsigned char*>(c.records)[n * ov::sourceRecordBytes(Filter::P, Filter::kWideGather) - 1] = 1;
                    c.list_heads[n - 1] = 0;
                    c.record_links[n - 1] = 0;
                }
                std::lock_guard<std::mutex> lock(mutex);
                tileTakes.at(size_t(t))++;
                for (int32_t y = r.top; y < r.bottom; ++y)
                    for (int32_t x = r.left; x < r.right; ++x) pixelHits.at(size_t(y) * f.tiles.width + x)++;
            }
        };
    }
};

}  // namespace

// Every destination pixel is handed to exactly one tile, every tile is taken once, thread
// ids stay below the thread count, and the grid is the same whatever the thread count (so
// every machine renders the same tiles), for several sizes and 1..64 threads.
TEST(TileGrid, EveryPixelOnceEveryTileOnceForAnyThreadCount) {
    struct Size {
        uint32_t w, h;
        double radius;
    };
    const Size sizes[] = {{1, 1, 3},     {7, 5, 1},     {24, 16, 12}, {61, 3, 2}, {40, 37, 40},
                          {300, 200, 2}, {2000, 9, 1}, {900, 1, 3},  {1, 900, 3}};
    std::vector<std::pair<int32_t, int32_t>> grids;
    for (int32_t threads : {1, 2, 3, 5, 8, 13, 31, 64}) {
        TestHost host(threads);
        for (const Size& s : sizes) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " on " << threads << " threads");
            Rig<ov::ImgHostRGBA_U8> rig(host, s.w, s.h, defaultParams(s.radius));
            Recorder rec;
            rec.attach(rig.filter);
            // Tiles are known only once the grid is laid; size the records generously.
            rec.tileTakes.assign(size_t(s.w) * s.h, 0);
            rec.pixelHits.assign(size_t(s.w) * s.h, 0);
            ASSERT_EQ(rig.filter.render(0, 1), 0u);
            const int32_t tiles = rig.filter.tiles.rows * rig.filter.tiles.cols;
            const int32_t cpus = std::min(threads, 64);
            const std::pair<int32_t, int32_t> grid{rig.filter.tiles.rows, rig.filter.tiles.cols};
            const size_t at = size_t(&s - sizes);
            if (threads == 1) grids.push_back(grid);
            else EXPECT_EQ(grid, grids[at]);
            for (int32_t t = 0; t < tiles; ++t) EXPECT_EQ(rec.tileTakes[size_t(t)], 1) << t;
            for (int hits : rec.pixelHits) ASSERT_EQ(hits, 1);
            const uint32_t items = uint32_t(std::min(cpus, tiles));
            for (uint32_t n : rec.iterations) EXPECT_EQ(n, items);
            for (uint32_t id : rec.threadIDs) {
                EXPECT_LT(id, items);
                EXPECT_LT(int32_t(id), cpus);
            }
            // One ChunkBuffers record per worker that can have a tile, not per pool thread,
            // and every worker took its own slot.
            const auto asked = [&](size_t bytes) { return std::count(host.sizes.begin(), host.sizes.end(), bytes); };
            EXPECT_GE(asked(items * sizeof(ov::ChunkBuffers)), 1);
            std::vector<int32_t> slots = rec.slots;
            std::sort(slots.begin(), slots.end());
            ASSERT_EQ(slots.size(), size_t(items));
            for (size_t k = 0; k < slots.size(); ++k) EXPECT_EQ(slots[k], int32_t(k));
            EXPECT_EQ(rig.filter.chunk_buffers, nullptr);
            EXPECT_EQ(host.liveBlocks(), 0u);
        }
    }
    EXPECT_GT(grids[5].first * grids[5].second, 1) << "300x200 is cut into tiles";
    EXPECT_GT(grids[6].second, 1) << "2000x9 is cut into columns";
    // A margin of 4 gives squares of 128: seven along a strip of 900, whichever way it lies.
    EXPECT_EQ(grids[7], std::make_pair(1, 7)) << "900x1";
    EXPECT_EQ(grids[8], std::make_pair(7, 1)) << "1x900";
}

// The slot count: one per square of side max(128, 4 x the larger margin) of the area, and for
// a strip (short side below the square's side) one per whole square along its long side;
// 1 to 16 either way. Floor, not ceil, along the strip: every slot's share of the long side
// stays at least one square long, so the tiles' margins cannot outgrow their cores.
TEST(TileGrid, SlotsFollowTheAreaAndCutStripsAlongTheirLongSide) {
    struct Case {
        int64_t w, h, padX, padY;
        int32_t slots;
    };
    const Case cases[] = {
        // Both sides at least one square: the area alone decides.
        {128, 128, 0, 0, 1},
        {129, 128, 2, 2, 2},
        {300, 200, 2, 2, 4},         // 60000 / 128^2 = 3.7
        {6000, 4000, 45, 45, 16},    // capped
        {1280, 640, 160, 20, 2},     // side 640 from the larger margin
        // Strips: whole squares along the long side.
        {8000, 1, 160, 160, 12},     // side 640: 12.5 squares
        {1, 8000, 160, 160, 12},
        {8000, 1, 0, 160, 12},       // the larger margin sets the side, whichever axis
        {4000, 1, 160, 160, 6},
        {1279, 1, 160, 160, 1},      // not yet two whole squares
        {1280, 1, 160, 160, 2},
        {2000, 100, 2, 2, 15},       // area 12.2 squares, 15.6 along
        {32767, 1, 160, 160, 16},    // capped
        {2000000, 3, 0, 0, 16},
        // A strip whose area term is larger keeps it.
        {1919, 639, 160, 160, 3},    // area 2.99 squares, 2 whole ones along
        // Nothing to cut.
        {0, 5000, 1, 1, 1},
        {5000, 0, 1, 1, 1},
        {-4, 5000, 1, 1, 1},
        {1, 1, 0, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ov::tileGridSlots(c.w, c.h, c.padX, c.padY), c.slots)
            << c.w << "x" << c.h << " margins " << c.padX << "," << c.padY;
}

// Over many sizes and margins: an image whose two sides both reach the square's side has the
// slot count of its area (its tiles, and so its bits, are those it always had), and a strip
// gets at least that many, each slot's share of its long side at least one square long.
TEST(TileGrid, OnlyStripsGainSlots) {
    for (int64_t pad : {0, 3, 31, 32, 33, 100, 160, 1000}) {
        const int64_t side = std::max<int64_t>(128, 4 * pad);
        const auto byArea = [side](int64_t w, int64_t h) {
            const int64_t squares = (w * h + side * side - 1) / (side * side);
            return int32_t(std::clamp<int64_t>(squares, 1, 16));
        };
        std::vector<int64_t> lengths{1, 2, 5, side / 2, side - 1, side, side + 1, 2 * side - 1, 2 * side,
                                     3 * side + 7, 5 * side, 8 * side - 1, 16 * side, 17 * side + 5, 40 * side};
        for (int64_t w : lengths)
            for (int64_t h : lengths) {
                SCOPED_TRACE(testing::Message() << w << "x" << h << " margin " << pad);
                const int32_t slots = ov::tileGridSlots(w, h, pad, pad / 2);
                if (std::min(w, h) >= side) {
                    EXPECT_EQ(slots, byArea(w, h));
                } else {
                    EXPECT_GE(slots, byArea(w, h));
                    if (slots > byArea(w, h)) {
                        EXPECT_GE(std::max(w, h) / slots, side);
                    }
                    if (std::max(w, h) >= 16 * side) {
                        EXPECT_EQ(slots, 16);
                    }
                }
            }
    }
}

// With buffers capped per block the grid is refined until they fit; when even the finest grid
// does not fit, or the record array is never granted, the render is out of memory with
// nothing left allocated and no worker started.
TEST(TileGrid, RefinementUnderMemoryCaps) {
    const uint32_t arrayBytes = 4 * sizeof(ov::ChunkBuffers);
    struct Case {
        const char* what;
        std::function<bool(uint32_t)> refuse;
        uint32_t expected;
    };
    const Case cases[] = {
        {"cap of 80 KB", [](uint32_t s) { return s > 80000; }, 0},
        {"cap of 2 KB", [](uint32_t s) { return s > 2000; }, kHostOutOfMemory},
        // The array of min(4 threads, tiles) records, whatever grid is tried.
        {"no record array", [=](uint32_t s) { return s <= arrayBytes && s % sizeof(ov::ChunkBuffers) == 0; },
         kHostOutOfMemory},
    };
    for (const Case& c : cases) {
        TestHost host(4);
        Rig<ov::ImgHostRGBA_U8> rig(host, 48, 40, defaultParams(10.0));
        Recorder rec;
        rec.attach(rig.filter);
        rec.tileTakes.assign(48 * 40, 0);
        rec.pixelHits.assign(48 * 40, 0);
        ASSERT_EQ(rig.filter.init_all(), 0u) << c.what;
        host.refuse = c.refuse;
        rig.filter.next_tile = 0;
        EXPECT_EQ(rig.filter.render_tiled(), c.expected) << c.what;
        rig.filter.free_all();
        EXPECT_EQ(host.liveBlocks(), 0u) << c.what;
        EXPECT_EQ(rig.filter.chunk_buffers, nullptr) << c.what;
        if (c.expected == 0) {
            EXPECT_GT(rig.filter.tiles.rows * rig.filter.tiles.cols, 4) << c.what;
            for (int hits : rec.pixelHits) ASSERT_EQ(hits, 1) << c.what;
        } else {
            EXPECT_TRUE(rec.threadIDs.empty()) << c.what;
            // The grid was refined to its finest before giving up: tile sides of 4 or 5.
            EXPECT_LE(48 / rig.filter.tiles.cols, 5) << c.what;
            EXPECT_LE(40 / rig.filter.tiles.rows, 5) << c.what;
        }
    }
}

// Buffer sizes are formed in 64 bits: a request that does not fit 32 bits, or a padded tile
// side beyond 65535, is never made but refused, so the grid splits further. The host here
// only pretends to grant the large blocks (the recording worker does not touch them).
TEST(TileGrid, LargeImagesSplitInsteadOfWrapping) {
    struct Case {
        uint32_t w, h;
        double radius;
        int32_t threads;
    };
    // 20000 x 15000 at Radius 50 (1562.5 pixels) on 8 threads asks 5.5 GB for a grid of 8
    // tiles; 200000 x 8 has a tile side beyond 65535 on one thread.
    const Case cases[] = {{20000, 15000, 1562.5, 8}, {200000, 8, 1.0, 1}};
    for (const Case& c : cases) {
        TestHost host(c.threads);
        std::vector<uint32_t> asked;
        host.freeHook = [](void*) {};
        Filter f(&host);
        f.destination = ov::ImgHostRGBA_U8(nullptr, c.w, c.h, 0, 0, 0, false, 1.0, 1.0, 1.0, true, 4);
        f.params = defaultParams(c.radius);
        std::vector<ov::ChunkBuffers> records(64);
        host.allocateHook = [&](uint32_t size) -> void* {
            asked.push_back(size);
            if (size == uint32_t(c.threads) * sizeof(ov::ChunkBuffers)) return records.data();
            return reinterpret_cast<void*>(uintptr_t(0x1000));  // never dereferenced
        };
        std::atomic<int> runs{0};  // the job runs on several pool threads
        f.tile_job = [&](uint32_t, uint32_t, uint32_t) -> uint32_t {
            ++runs;
            return 0;
        };
        f.next_tile = 0;
        ASSERT_EQ(f.render_tiled(), 0u);
        EXPECT_GE(runs.load(), 1);
        // The buffers were asked for once, for the final grid, with their exact 64-bit sizes.
        const ov::Rectangle t = f.tiles.largest_tile();
        const ov::Rectangle& o = f.tiles.overflow;
        const int64_t pw = t.right - t.left + 2 * int64_t(o.right), ph = t.bottom - t.top + 2 * int64_t(o.bottom);
        EXPECT_LE(pw, 65535);
        EXPECT_LE(ph, 65535);
        const uint64_t n = uint64_t(pw) * uint64_t(ph);
        const uint64_t core = uint64_t(t.right - t.left) * uint64_t(t.bottom - t.top);
        ASSERT_EQ(asked.size(), 1u + 7u * uint32_t(c.threads));
        // RGBA: 16-byte work pixels, a composite, keep and excess value per core pixel,
        // a minimum-index byte, 52-byte records (20 + 2 x 16: the hole sums of an 8-bit format
        // are floats), 4-byte list heads and links per padded pixel.
        const uint64_t expect[7] = {core * 16, core * 4, core * 4, n, n * 52, n * 4, n * 4};
        for (size_t i = 0; i < 7; ++i) EXPECT_EQ(asked[1 + i], expect[i]) << i;
    }
}

// The tiles run side by side, so the progress they report is one count for the whole grid:
// it reaches its total exactly at the end, every report is within the reports made so far
// (plus those of the other threads still in flight), and the total never changes. A count per
// tile (tile number times its rows plus the rows done) would jump to the last tile's share at
// once and leave a host's progress bar nowhere near the work done.
TEST(TileGrid, ProgressCountsTheRowsOfAllTilesTogether) {
    for (int32_t threads : {1, 3, 8}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        TestHost host(threads);
        ProgressLog log;
        log.attach(host);
        const auto& reports = log.reports;
        Rig<ov::ImgHostRGBA_U8> rig(host, 300, 200, defaultParams(2));
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        ASSERT_GT(rig.filter.tiles.rows * rig.filter.tiles.cols, 1);
        // The tiled blur's reports are the ones after the set-up's (whose totals differ).
        const uint32_t total = reports.back().second;
        size_t first = reports.size();
        while (first > 0 && reports[first - 1].second == total) --first;
        uint32_t largest = 0;
        for (size_t i = first; i < reports.size(); ++i) {
            const auto [done, t] = reports[i];
            ASSERT_EQ(t, total);
            ASSERT_LE(done, uint32_t(i - first) + 1 + uint32_t(threads)) << "report " << i - first;
            largest = std::max(largest, done);
        }
        EXPECT_EQ(largest, total);
    }
}

namespace {

// A host with a memory budget: it counts the bytes it holds and refuses a block that would
// take them beyond `budget`; `peak` is the most it held at once.
class BudgetHost : public TestHost {
public:
    explicit BudgetHost(int32_t threads) : TestHost(threads) {
        allocateHook = [this](uint32_t size) -> void* {
            std::lock_guard<std::mutex> lock(budgetLock);
            if (held + size > budget) return nullptr;
            void* p = std::malloc(size == 0 ? 1 : size);
            if (!p) return nullptr;
            blocks[p] = size;
            held += size;
            peak = std::max(peak, held);
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(budgetLock);
            auto it = blocks.find(p);
            if (it == blocks.end()) return;
            held -= it->second;
            blocks.erase(it);
            std::free(p);
        };
    }
    ~BudgetHost() override {
        for (auto& [p, size] : blocks) std::free(p);
    }
    uint64_t budget = UINT64_MAX, held = 0, peak = 0;
    std::mutex budgetLock;
    std::map<void*, uint64_t> blocks;
};

// The bytes of one worker's buffers on the filter's current grid.
uint64_t workerBytes(const Filter& f) {
    const ov::Rectangle t = f.tiles.largest_tile();
    const ov::Rectangle& o = f.tiles.overflow;
    const int64_t pw = t.right - t.left + 2 * int64_t(o.right), ph = t.bottom - t.top + 2 * int64_t(o.bottom);
    const uint64_t core = uint64_t(t.right - t.left) * uint64_t(t.bottom - t.top);
    uint64_t sum = 0;
    for (uint64_t b : ov::chunkBufferBytes(uint64_t(pw) * uint64_t(ph), core, Filter::P, Filter::kWideGather).bytes) sum += b;
    return sum;
}

void fillDepthRamp(DepthMap& d) {
    for (uint32_t y = 0; y < d.height; ++y)
        for (uint32_t x = 0; x < d.width; ++x) d.at(x, y) = uint8_t((x * 255 / d.width + y * 3) % 256);
}

// The tiled blur's attempts as its trace lines show them: each init_memory with its worker
// count and result, each grid refinement with the grid it made, and the thread count.
struct Attempt {
    int32_t workers;
    bool granted;
    int32_t tiles;  // of the grid the attempt was made on
};
struct TiledBlurTrace {
    std::vector<Attempt> attempts;
    int32_t refinements = 0;
    int32_t threadCount = -1;
    bool refinedOnlyAfterRefusal = true;  // every refinement follows a refused attempt
    bool oneRefinementPerRetry = true;    // and is followed by exactly one attempt
};

TiledBlurTrace ReadTiledBlurTrace(const std::string& log, int32_t firstTiles) {
    TiledBlurTrace trace;
    std::vector<std::string> lines;
    for (size_t at = 0; at < log.size();) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    const auto indent = [](const std::string& l) { return l.find_first_not_of(' '); };
    int32_t tiles = firstTiles;
    int32_t pendingRefinements = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        const size_t in = indent(l);
        if (in == std::string::npos) continue;
        const std::string text = l.substr(in);
        if (text.rfind("init_memory (cpus: ", 0) == 0) {
            Attempt a{std::atoi(text.c_str() + 19), false, tiles};
            for (size_t j = i + 1; j < lines.size(); ++j)
                if (indent(lines[j]) == in + 4 && lines[j].compare(in + 4, 8, "return (") == 0) {
                    a.granted = lines[j].substr(in + 4) == "return (0)";
                    break;
                }
            if (!trace.attempts.empty() && pendingRefinements != 1) trace.oneRefinementPerRetry = false;
            pendingRefinements = 0;
            trace.attempts.push_back(a);
        } else if (text == "TileSet2D::increase ()") {
            if (trace.attempts.empty() || trace.attempts.back().granted) trace.refinedOnlyAfterRefusal = false;
            ++trace.refinements;
            ++pendingRefinements;
            if (i + 1 < lines.size()) {
                int cols = 0, rows = 0;
                if (std::sscanf(lines[i + 1].c_str() + indent(lines[i + 1]), "cols: %d rows: %d", &cols, &rows) == 2)
                    tiles = cols * rows;
            }
        } else if (text.rfind("thread count  = ", 0) == 0) {
            trace.threadCount = std::atoi(text.c_str() + 16);
        }
    }
    return trace;
}

}  // namespace

// Under a budget that holds the buffers of only k of the 8 workers of the first grid, every
// refused init_memory is followed by one refinement of the grid and a new init_memory for as
// many workers as the refined grid has tiles (at most 8), until the buffers fit; the run then
// has min(8, tiles of the final grid) work items. The budget is never passed and nothing is
// left held.
TEST(TileGrid, TightBudgetRefinesTheGridAfterEveryRefusal) {
    constexpr uint32_t W = 520, H = 260;
    BudgetHost free(8);
    Rig<ov::ImgHostRGBA_U8> wide(free, W, H, defaultParams(2.0));
    fillDepthRamp(wide.depth);
    ASSERT_EQ(wide.filter.render(0, 1), 0u);
    const int32_t firstTiles = wide.filter.tiles.rows * wide.filter.tiles.cols;
    ASSERT_GE(firstTiles, 8);
    const uint64_t worker = workerBytes(wide.filter);
    // What the render holds besides the workers' buffers (tables, kernels, the record array).
    const uint64_t base = free.peak - 8 * worker;
    for (int32_t k : {1, 3, 7}) {
        SCOPED_TRACE(testing::Message() << k << " workers fit");
        pel_test::TempHome home(true);
        BudgetHost tight(8);
        tight.budget = base + uint64_t(k) * worker + worker / 2;
        Rig<ov::ImgHostRGBA_U8> rig(tight, W, H, defaultParams(2.0));
        fillDepthRamp(rig.depth);
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        const int32_t finalTiles = rig.filter.tiles.rows * rig.filter.tiles.cols;
        EXPECT_GT(finalTiles, firstTiles);
        const TiledBlurTrace trace = ReadTiledBlurTrace(home.Log(), firstTiles);
        ASSERT_GE(trace.attempts.size(), 2u) << home.Log();
        EXPECT_EQ(trace.refinements, int32_t(trace.attempts.size()) - 1);
        EXPECT_TRUE(trace.refinedOnlyAfterRefusal);
        EXPECT_TRUE(trace.oneRefinementPerRetry);
        for (size_t i = 0; i < trace.attempts.size(); ++i) {
            const Attempt& a = trace.attempts[i];
            EXPECT_EQ(a.workers, std::min(8, a.tiles)) << "attempt " << i;
            EXPECT_EQ(a.granted, i + 1 == trace.attempts.size()) << "attempt " << i;
        }
        EXPECT_EQ(trace.attempts.back().tiles, finalTiles);
        EXPECT_EQ(trace.threadCount, std::min(8, finalTiles));
        EXPECT_LE(tight.peak, tight.budget);
        EXPECT_EQ(tight.held, 0u);
    }
}

// The progress total of the tiled blur is the number of padded rows the tiles really report:
// each tile counts its own rows and its margin above and below. The count the filter keeps
// ends exactly at the total, and on one thread no report before the last reaches it, so a
// host's bar is not full while tiles are still running.
TEST(TileGrid, ProgressTotalIsTheRowsReallyDone) {
    for (int32_t threads : {1, 4}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        TestHost host(threads);
        ProgressLog log;
        log.attach(host);
        Rig<ov::ImgHostRGB_U8> rig(host, 300, 200, defaultParams(6));
        fillDepthRamp(rig.depth);
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        ASSERT_GT(rig.filter.tiles.rows, 1);
        ASSERT_GT(rig.filter.tiles.overflow.bottom, 0);
        const auto& reports = log.reports;
        const uint32_t total = reports.back().second;
        EXPECT_EQ(uint64_t(total), rig.filter.rows_reported.load());
        if (threads == 1) {
            size_t first = reports.size();
            while (first > 0 && reports[first - 1].second == total) --first;
            size_t full = 0;
            for (size_t i = first; i < reports.size(); ++i) full += reports[i].first >= total ? 1 : 0;
            EXPECT_EQ(reports.back().first, total);
            EXPECT_EQ(full, 1u) << "the bar was full before the last row was done";
        }
    }
}

// An image wide against a large radius, which only the finest grid (4-pixel tiles, the last
// column taking the rest) can hold within 32-bit buffer sizes, is rendered, not refused as
// out of memory: at 999 x 8 and a margin of 4541, tiles at most 8 wide fit, and the columns
// must go on being split after the tiles are 4 wide (at 200 columns the division gives 4 and
// the last column is 203 wide; 249 columns give 4 x 248 and a rest of 7). The host only
// pretends to grant the large blocks the stand-in job never touches.
TEST(TileGrid, WideImageOnTheFinestGridIsRendered) {
    TestHost host(2);
    Filter f(&host);
    constexpr uint32_t W = 999, H = 8;
    f.destination = ov::ImgHostRGBA_U8(nullptr, W, H, 0, 0, 0, false, 1.0, 1.0, 1.0, true, 4);
    f.params = defaultParams(4540.0);
    unsigned rx = 0, ry = 0;
    ov::max_blur_extent(f.params, 1.0, rx, ry);
    ASSERT_EQ(rx, 4541u);
    ASSERT_TRUE(ov::tiledWorkAreaFits(f.params, 1.0, W, H, Filter::P, Filter::kWideGather));
    std::vector<ov::ChunkBuffers> records(64);
    host.freeHook = [](void*) {};
    host.allocateHook = [&](uint32_t size) -> void* {
        if (size % sizeof(ov::ChunkBuffers) == 0 && size <= 64 * sizeof(ov::ChunkBuffers)) return records.data();
        return reinterpret_cast<void*>(uintptr_t(0x1000));  // never dereferenced
    };
    std::atomic<int> runs{0};
    f.tile_job = [&](uint32_t, uint32_t, uint32_t) -> uint32_t {
        ++runs;
        return 0;
    };
    f.next_tile = 0;
    ASSERT_EQ(f.render_tiled(), 0u);
    EXPECT_GE(runs.load(), 1);
    const ov::Rectangle t = f.tiles.largest_tile();
    EXPECT_LE(t.right - t.left, 8);
}
