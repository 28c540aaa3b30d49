// Forward plus inverse real 2-D transform of an N x N grid of 4-sample float pixels (RGBA):
// ov::RealFFFFilter on one thread and on all cores, and FFTW (single precision,
// FFTW_ESTIMATE plans, the same thread count) on the same data size. Prints seconds, the
// ratio to FFTW and the thread scaling.
//
//   build/release/bench/fft_bench                      (N = 8192)
//   PEL_FFT_BENCH_SIZE=4096 build/release/bench/fft_bench
//
// FFTW gets its natural layout: four planes of N x (N + 2) floats, transformed in place by
// one plan of four 2-D r2c (and c2r) transforms. Our filter transforms the interleaved
// pixels of its own half-spectrum layout. The work is the same: four 2-D real transforms of
// N x N values and back.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/host.h"
#include "fft/real_fft_filter.h"

#if PEL_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

using Pixel = ov::FftRgbA;
using View = ov::WorkView<Pixel>;

uint32_t gridSize() {
    const char* e = std::getenv("PEL_FFT_BENCH_SIZE");
    const long v = e ? std::strtol(e, nullptr, 10) : 8192;
    return v >= 2 ? uint32_t(ov::nextPowerOfTwo(int32_t(v))) : 8192u;
}

int allThreads() { return std::min(64, int(std::max(1u, std::thread::hardware_concurrency()))); }

struct FloatBlock {
    float* p = nullptr;
    explicit FloatBlock(size_t n) : p(static_cast<float*>(std::malloc(n * sizeof(float)))) {}
    ~FloatBlock() { std::free(p); }
};

void fill(float* f, size_t count) {
    uint32_t x = 12345;
    for (size_t i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        f[i] = float(x >> 8) * (1.0f / 16777216.0f) - 0.5f;
    }
}

std::map<std::string, double> g_seconds;

void BM_Pelidorn(benchmark::State& state) {
    const uint32_t N = gridSize(), M = N;
    const int threads = int(state.range(0)) == 0 ? allThreads() : int(state.range(0));
    const size_t pixels = size_t(N + 2) * M;
    FloatBlock block(pixels * 4);
    ov::OstrovanneHost host("bench", "bench", 1, 0, 0, "");
    host.threadCountSetting = threads;
    for (auto _ : state) {
        state.PauseTiming();
        fill(block.p, pixels * 4);
        state.ResumeTiming();
        ov::RealFFFFilter<View> f(&host);
        f.array = ov::make_packed_view<View>(block.p, N + 2, M);
        f.rowsUsed = M;
        if (f.forward(0, 1) != 0 || f.inverse(0, 1) != 0) state.SkipWithError("transform failed");
    }
    state.SetLabel(std::to_string(N) + "x" + std::to_string(M) + ", " + std::to_string(threads) + " threads");
}

#if PEL_HAVE_FFTW
void BM_FFTW(benchmark::State& state) {
    const uint32_t N = gridSize(), M = N;
    const int threads = int(state.range(0)) == 0 ? allThreads() : int(state.range(0));
    const size_t plane = size_t(N + 2) * M;
    FloatBlock block(plane * 4);
#if PEL_HAVE_FFTW_THREADS
    fftwf_plan_with_nthreads(threads);
#endif
    const int n[2] = {int(M), int(N)};
    const int realEmbed[2] = {int(M), int(N + 2)};
    const int complexEmbed[2] = {int(M), int(N / 2 + 1)};
    float* r = block.p;
    auto* c = reinterpret_cast<fftwf_complex*>(block.p);
    fftwf_plan fwd = fftwf_plan_many_dft_r2c(2, n, 4, r, realEmbed, 1, int(plane), c, complexEmbed, 1,
                                             int(plane / 2), FFTW_ESTIMATE);
    fftwf_plan inv = fftwf_plan_many_dft_c2r(2, n, 4, c, complexEmbed, 1, int(plane / 2), r, realEmbed,
                                             1, int(plane), FFTW_ESTIMATE);
    for (auto _ : state) {
        state.PauseTiming();
        fill(block.p, plane * 4);
        state.ResumeTiming();
        fftwf_execute(fwd);
        fftwf_execute(inv);
    }
    fftwf_destroy_plan(fwd);
    fftwf_destroy_plan(inv);
    state.SetLabel(std::to_string(N) + "x" + std::to_string(M) + ", " + std::to_string(threads) + " threads");
}
#endif

// Keeps the mean real time of every run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                g_seconds[run.benchmark_name()] =
                    run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
#if PEL_HAVE_FFTW && PEL_HAVE_FFTW_THREADS
    fftwf_init_threads();
#endif
    for (int t : {1, 0}) {
        benchmark::RegisterBenchmark(t ? "pelidorn/1thread" : "pelidorn/allthreads", BM_Pelidorn)
            ->Arg(t)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
#if PEL_HAVE_FFTW
        benchmark::RegisterBenchmark(t ? "fftw/1thread" : "fftw/allthreads", BM_FFTW)
            ->Arg(t)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
#endif
    }
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto get = [](const char* prefix) {
        for (const auto& [name, s] : g_seconds)
            if (name.rfind(prefix, 0) == 0) return s;
        return 0.0;
    };
    const double p1 = get("pelidorn/1thread"), pa = get("pelidorn/allthreads");
    std::printf("\nforward + inverse, %ux%u RGBA float, %d cores\n", gridSize(), gridSize(), allThreads());
    std::printf("  pelidorn: %.3f s on 1 thread, %.3f s on all (scaling %.2fx)\n", p1, pa, pa > 0 ? p1 / pa : 0.0);
#if PEL_HAVE_FFTW
    const double f1 = get("fftw/1thread"), fa = get("fftw/allthreads");
#if PEL_HAVE_FFTW_THREADS
    std::printf("  fftw:     %.3f s on 1 thread, %.3f s on all (scaling %.2fx)\n", f1, fa, fa > 0 ? f1 / fa : 0.0);
#else
    std::printf("  fftw:     %.3f s (fftw3f_threads not found: FFTW ran on one thread both times)\n", f1);
#endif
    std::printf("  ratio pelidorn / fftw: %.2f on 1 thread, %.2f on all cores (target: at most 2.5)\n",
                f1 > 0 ? p1 / f1 : 0.0, fa > 0 ? pa / fa : 0.0);
#else
    std::printf("  fftw: not found at configure time, no comparison\n");
#endif
    return 0;
}
