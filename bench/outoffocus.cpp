// The out-of-focus effect on a 6000 x 4000 8-bit RGB image with the lens filter's default
// settings (gamma on, mirror edges, highlight weight 5, a 5-facet iris), at Radius 5 (the
// default) and 50 (the slider's end), on one thread and on all cores.
//
// Each runs with fresh memory from the heap for every render (pooled 0: the first touch of
// the grids' pages is part of the time) and with a pool that hands the blocks of the render
// before out again (pooled 1: a host buffer pool's steady state).
//
// Reported per run (counters of each benchmark): seconds per render, the peak of the work
// memory the render holds through the host's AllocateMemory (MiB), the process's peak
// resident size so far (MiB), and the share of the render's time in the transforms (the
// forward transforms of kernel and image and the inverse, steps 4, 5 and 7 of the nine) and in
// the spectrum product (step 6). Step times come from the progress reports: each of the nine
// steps reports against a total of 9 N, so done x 9 / total is the step a report belongs to,
// and a step lasts from its first report to the first report of the next.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#endif

#include "core/host.h"
#include "outoffocus/out_of_focus_effect.h"

#include "bench_image.h"

using namespace ov;

namespace {

using bench_image::kH;
using bench_image::kW;
using bench_image::image;
using Clock = std::chrono::steady_clock;

class BenchHost : public OstrovanneHost {
public:
    // pooled: freed blocks are kept and handed out again for the same size (as a host's
    // buffer pool does), so that a render after the first touches no fresh pages.
    BenchHost(int32_t threads, bool pooled_)
        : OstrovanneHost("bench", "Ostrovanne", 1, 0, 0, "oof bench"), pooled(pooled_) {
        threadCountSetting = threads;
        allocateHook = [this](uint32_t size) -> void* {
            void* p = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex);
                auto it = pool.find(size);
                if (it != pool.end() && !it->second.empty()) {
                    p = it->second.back();
                    it->second.pop_back();
                }
            }
            if (!p) p = std::malloc(size);
            if (p) {
                std::lock_guard<std::mutex> lock(mutex);
                live += size;
                sizes.push_back({p, size});
                peak = std::max(peak, live);
            }
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            for (auto it = sizes.begin(); it != sizes.end(); ++it)
                if (it->first == p) {
                    live -= it->second;
                    if (pooled) pool[uint32_t(it->second)].push_back(p);
                    else std::free(p);
                    sizes.erase(it);
                    break;
                }
        };
        progressHook = [this](uint32_t done, uint32_t total) {
            if (total >= 9 && total % 9 == 0) {
                const int step = int(uint64_t(done) * 9 / total);
                if (step >= 0 && step < 9) {
                    const int64_t now = (Clock::now() - start).count();
                    int64_t seen = firstReport[step].load();
                    while ((seen < 0 || now < seen) && !firstReport[step].compare_exchange_weak(seen, now)) {
                    }
                }
            }
            return true;
        };
    }
    ~BenchHost() override {
        for (auto& [size, blocks] : pool)
            for (void* p : blocks) std::free(p);
    }
    void begin() {
        for (auto& f : firstReport) f = -1;
        peak = live = 0;
        start = Clock::now();
    }

    const bool pooled;
    std::mutex mutex;
    std::map<uint32_t, std::vector<void*>> pool;
    std::vector<std::pair<void*, uint64_t>> sizes;
    uint64_t live = 0, peak = 0;
    Clock::time_point start;
    std::atomic<int64_t> firstReport[9];
};

double peakResidentMiB() {
#if defined(__unix__) || defined(__APPLE__)
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
#else
    return 0.0;
#endif
}

void BM_OutOfFocusEffect(benchmark::State& state) {
    const double radiusParameter = double(state.range(0));
    const int32_t threads = int32_t(state.range(1));  // 0: all cores
    const bool pooled = state.range(2) != 0;
    auto& pixels = image();
    std::vector<PxHostRGB_U8> out(pixels.size());
    BenchHost host(threads, pooled);

    OutOfFocusParams p{};
    p.view = 1;
    p.blur_radius = radiusParameter * std::sqrt(double(kW) * kW + double(kH) * kH) / 800.0;
    p.gamma_correction = 1;
    p.edge_mode_x = p.edge_mode_y = 2;
    p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = p.outside_color[3] = 1.0f;
    p.iris_roundness = 1.0;
    p.iris_border = 0.2;
    p.iris_facets = 5;
    p.highlight_preservative = 5.0;
    HighlightSelectionParams& h = p.highlight_selection;
    h.enabled = 1;
    h.hueHigh = h.hueClimax = h.saturationHigh = h.saturationClimax = 1.0;
    h.lightnessLow = 200.0 / 255.0;
    h.lightnessHigh = 1.0;
    h.lightnessClimax = 1.0;
    p.scale_x = p.scale_y = 1.0;

    double seconds = 0, transformShare = 0, productShare = 0, peakMiB = 0;
    double stepShare[9] = {};
    auto render = [&] {
        OutOfFocusEffectOf<ImgHostRGB_U8> effect(&host);
        effect.source = effect.highlightSource =
            ImgHostRGB_U8(pixels.data(), kW, kH, int32_t(kW * 3), 0, 0, false, 1.0, 1.0, 1.0, true, 3);
        effect.destination =
            ImgHostRGB_U8(out.data(), kW, kH, int32_t(kW * 3), 0, 0, false, 1.0, 1.0, 1.0, true, 3);
        effect.params = p;
        host.begin();
        return effect.render(0, 1);
    };
    if (pooled) render();  // fills the pool: the timed renders reuse its blocks
    for (auto _ : state) {
        const uint32_t status = render();
        const int64_t end = (Clock::now() - host.start).count();
        if (status != host.StatusOk()) state.SkipWithError("render failed");
        // Step k starts at its first report; a step that reported nothing (the kernel drawing
        // of a layout without alpha reports only through the rasteriser's (0, 1) polls) starts
        // where the next one does.
        double starts[10];
        starts[9] = double(end);
        for (int k = 8; k >= 0; --k) {
            const int64_t first = host.firstReport[k].load();
            starts[k] = first >= 0 ? double(first) : starts[k + 1];
        }
        auto at = [&](int step) { return starts[step]; };
        const double total = double(end);
        seconds += total * 1e-9;
        transformShare += (at(6) - at(4) + at(8) - at(7)) / total;
        productShare += (at(7) - at(6)) / total;
        for (int k = 0; k < 9; ++k) stepShare[k] += (at(k + 1) - at(k)) / total;
        peakMiB = std::max(peakMiB, double(host.peak) / (1024.0 * 1024.0));
    }
    const double n = double(state.iterations());
    state.counters["seconds"] = seconds / n;
    state.counters["work_MiB"] = peakMiB;
    state.counters["peak_RSS_MiB"] = peakResidentMiB();
    state.counters["transform_share"] = transformShare / n;
    state.counters["product_share"] = productShare / n;
    state.counters["threads"] = double(host.GetThreadCount(999999));
    // Each step's share: 0 clear kernel, 1 draw kernel, 2 prepare image, 3 place kernel,
    // 4 kernel transform, 5 image transform, 6 product, 7 inverse, 8 write result.
    for (int k = 0; k < 9; ++k) state.counters["step" + std::to_string(k)] = stepShare[k] / n;
}

BENCHMARK(BM_OutOfFocusEffect)
    ->ArgNames({"Radius", "threads", "pooled"})
    ->ArgsProduct({{5, 50}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
