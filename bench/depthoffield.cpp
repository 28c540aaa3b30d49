// The depth-of-field blur of a 6000 x 4000 8-bit RGB photo-like image (smooth gradients, noise
// and sparse bright highlights) with a depth map that ramps from 0 at the top to 255 at the
// bottom, with the lens filter's defaults (focus at depth 255, gamma on, a six-facet iris,
// mirror edges, no highlight boosting), at Radius 5 and 20 (relative to an 800-pixel
// diagonal: 45 and 180 pixels here), on one thread and on all cores. One render per run.
//
// Counters: seconds per render, the peak of the work memory held through AllocateMemory
// (MiB) and the process's peak resident size so far (MiB). Scaling is the one-thread time
// over the all-cores time of the same radius.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#endif

#include "core/host.h"
#include "depthoffield/depth_of_field_filter.h"
#include "pixel/edge_mode.h"

#include "bench_image.h"

using namespace ov;

namespace {

using bench_image::kH;
using bench_image::kW;
using bench_image::image;

std::vector<uint8_t>& depthRamp() {
    static std::vector<uint8_t> d = [] {
        std::vector<uint8_t> v(size_t(kW) * kH);
        for (uint32_t y = 0; y < kH; ++y)
            std::fill_n(v.begin() + ptrdiff_t(size_t(y) * kW), kW, uint8_t(y * 255 / (kH - 1)));
        return v;
    }();
    return d;
}

class BenchHost : public OstrovanneHost {
public:
    explicit BenchHost(int32_t threads) : OstrovanneHost("bench", "Ostrovanne", 1, 0, 0, "dof bench") {
        threadCountSetting = threads;
        allocateHook = [this](uint32_t size) -> void* {
            void* p = std::malloc(size);
            if (p) {
                std::lock_guard<std::mutex> lock(mutex);
                live += size;
                blocks[p] = size;
                peak = std::max(peak, live);
            }
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            live -= blocks[p];
            blocks.erase(p);
            std::free(p);
        };
    }
    std::mutex mutex;
    std::map<void*, uint64_t> blocks;
    uint64_t live = 0, peak = 0;
};

double peakResidentMiB() {
#if defined(__unix__) || defined(__APPLE__)
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
#else
    return 0.0;
#endif
}

// The lens filter's defaults (focus at depth 255, gamma on, a six-facet iris, mirror edges,
// no highlight boosting) at a blur radius in pixels.
DepthOfFieldParams benchParams(double blurRadius) {
    DepthOfFieldParams p{};
    p.view = 1;
    p.gamma_correction = 1;
    p.blur_radius = blurRadius;
    p.iris_facets = 6;
    p.depth_curve = 1.0;
    p.depth_mode = 1;
    p.focal_point = 255.0;
    p.depth_high = 1.0;
    p.edge_mode_x = p.edge_mode_y = 2;
    p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = p.outside_color[3] = 1.0f;
    p.scale_x = p.scale_y = 1.0;
    return p;
}

void BM_DepthOfField(benchmark::State& state) {
    const double radiusParameter = double(state.range(0));
    const int32_t threads = int32_t(state.range(1));  // 0: all cores
    auto& pixels = image();
    auto& depth = depthRamp();
    std::vector<PxHostRGB_U8> out(pixels.size());
    BenchHost host(threads);
    const DepthOfFieldParams p =
        benchParams(radiusParameter * std::sqrt(double(kW) * kW + double(kH) * kH) / 800.0);
    double seconds = 0.0;
    for (auto _ : state) {
        DepthOfFieldFilter<ImgHostRGB_U8> f(&host);
        f.source = f.selection = ImgHostRGB_U8(pixels.data(), kW, kH, int32_t(kW * 3), 0, 0, false, 1.0, 1.0, 1.0, true, 3);
        f.destination = ImgHostRGB_U8(out.data(), kW, kH, int32_t(kW * 3), 0, 0, false, 1.0, 1.0, 1.0, true, 3);
        f.depth_map = ImgDepth8(depth.data(), kW, kH, int32_t(kW), 0, 0, false, 1.0, 1.0, 1.0, true, 1);
        f.params = p;
        const auto t0 = std::chrono::steady_clock::now();
        if (f.render(0, 1) != host.StatusOk()) state.SkipWithError("render failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    state.counters["seconds"] = seconds / double(state.iterations());
    state.counters["work_MiB"] = double(host.peak) / (1024.0 * 1024.0);
    state.counters["rss_MiB"] = peakResidentMiB();
    state.counters["threads"] = double(host.GetThreadCount(999999));
}

// The kernel changes a render of f applies (the scatter's unit of work): for every padded
// position of every tile, the change records of its kernel's rows that fall inside the padded
// tile. Needs f's kernels and tables (between init_all and free_all).
template <class F>
double kernelChanges(const F& f) {
    const TileSet2D& g = f.tiles;
    const int32_t padX = g.overflow.right, padY = g.overflow.bottom;
    double changes = 0.0;
    for (int32_t t = 0; t < g.count(); ++t) {
        const Rectangle r = g.tile(t);
        const int32_t W = r.width() + 2 * padX, H = r.height() + 2 * padY;
        for (int32_t py = 0; py < H; ++py) {
            int32_t iy = r.top - padY + py;
            edge_index(iy, int32_t(f.source.height), f.params.edge_mode_y);
            for (int32_t px = 0; px < W; ++px) {
                int32_t ix = r.left - padX + px;
                edge_index(ix, int32_t(f.source.width), f.params.edge_mode_x);
                const double v = sampleDepthCurve(f.depth_map, uint32_t(ix), uint32_t(iy), f.curve_lut, 1, false,
                                                  0.0, 1.0);
                const IrisKernel& k = f.kernels[int32_t(v * 255.0) & 0xff];
                for (int32_t kr = std::max(k.top_row, -py); kr <= k.bottom_row && py + kr < H; ++kr)
                    changes += double(k.rowCount(kr));
            }
        }
    }
    return changes;
}

// A crop of the picture (its top-left corner, depth 0..63: far from the focus at 255, so
// every pixel is blurred) at a blur radius in pixels, on a number of threads: seconds,
// nanoseconds per kernel change (the scatter's figure of merit; CPU-nanoseconds on one thread)
// and the peak work memory.
void BM_DepthOfFieldCrop(benchmark::State& state) {
    const double radiusPixels = double(state.range(0));
    const uint32_t w = uint32_t(state.range(1)), h = uint32_t(state.range(2));
    const int32_t threads = int32_t(state.range(3));
    auto& pixels = image();
    auto& depth = depthRamp();
    std::vector<PxHostRGB_U8> out(size_t(w) * h);
    BenchHost host(threads);
    const DepthOfFieldParams p = benchParams(radiusPixels);
    const auto wire = [&](DepthOfFieldFilter<ImgHostRGB_U8>& f) {
        f.source = f.selection = ImgHostRGB_U8(pixels.data(), w, h, int32_t(kW * 3), 0, 0, false, 1.0, 1.0, 1.0, true, 3);
        f.destination = ImgHostRGB_U8(out.data(), w, h, int32_t(w * 3), 0, 0, false, 1.0, 1.0, 1.0, true, 3);
        f.depth_map = ImgDepth8(depth.data(), w, h, int32_t(kW), 0, 0, false, 1.0, 1.0, 1.0, true, 1);
        f.params = p;
    };
    double seconds = 0.0;
    for (auto _ : state) {
        DepthOfFieldFilter<ImgHostRGB_U8> f(&host);
        wire(f);
        const auto t0 = std::chrono::steady_clock::now();
        if (f.render(0, 1) != host.StatusOk()) state.SkipWithError("render failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    seconds /= double(state.iterations());
    // The same grid and kernels again, for the count of changes.
    DepthOfFieldFilter<ImgHostRGB_U8> f(&host);
    wire(f);
    double changes = 0.0;
    if (f.init_all() == host.StatusOk()) {
        unsigned rx = 0, ry = 0;
        max_blur_extent(f.params, f.destination.scale, rx, ry);
        f.tiles.init(int32_t(w), int32_t(h), Rectangle{-int32_t(rx), int32_t(rx), -int32_t(ry), int32_t(ry)},
                     tileGridSlots(w, h, rx, ry));
        changes = kernelChanges(f);
        f.free_all();
    }
    state.counters["seconds"] = seconds;
    state.counters["changes_M"] = changes * 1e-6;
    state.counters["ns_per_change"] = changes > 0.0 ? seconds * 1e9 / changes : 0.0;
    state.counters["work_MiB"] = double(host.peak) / (1024.0 * 1024.0);
}

// Radius 45 pixels on 1500 x 1000 (16 tiles) on 1, 8 and 64 threads (the work memory at 64
// threads is that of 16), 180 pixels on 600 x 400 (one tile) on one thread.
BENCHMARK(BM_DepthOfFieldCrop)
    ->Args({45, 1500, 1000, 1})
    ->Args({45, 1500, 1000, 8})
    ->Args({45, 1500, 1000, 64})
    ->Args({180, 600, 400, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Radius parameter 5 and 20; threads 1 and 0 (all cores).
BENCHMARK(BM_DepthOfField)->ArgsProduct({{5, 20}, {1, 0}})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
