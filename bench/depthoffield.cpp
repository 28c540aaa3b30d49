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

void BM_DepthOfField(benchmark::State& state) {
    const double radiusParameter = double(state.range(0));
    const int32_t threads = int32_t(state.range(1));  // 0: all cores
    auto& pixels = image();
    auto& depth = depthRamp();
    std::vector<PxHostRGB_U8> out(pixels.size());
    BenchHost host(threads);
    DepthOfFieldParams p{};
    p.view = 1;
    p.gamma_correction = 1;
    p.blur_radius = radiusParameter * std::sqrt(double(kW) * kW + double(kH) * kH) / 800.0;
    p.iris_facets = 6;
    p.depth_curve = 1.0;
    p.depth_mode = 1;
    p.focal_point = 255.0;
    p.depth_high = 1.0;
    p.edge_mode_x = p.edge_mode_y = 2;
    p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = p.outside_color[3] = 1.0f;
    p.scale_x = p.scale_y = 1.0;
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

// Radius parameter 5 and 20; threads 1 and 0 (all cores).
BENCHMARK(BM_DepthOfField)->ArgsProduct({{5, 20}, {1, 0}})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
