// Copy-convert throughput: a 6000 x 4000 (24-megapixel) 8-bit RGBA host image
// converted to the float work format at MAX 255 and back, each through the parallel run with
// one thread and with all threads, against a single-threaded memcpy of the same bytes
// (the 96 MB host image and the 384 MB work image). After the runs it prints each convert's
// time as a multiple of the memcpy of the 384 MB image (each conversion reads or writes it),
// of the 96 MB image, and the round trip against both memcpys.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/host.h"
#include "pixel/copy_image_filter.h"

using namespace ov;

namespace {

constexpr uint32_t kW = 6000, kH = 4000;

struct Images {
    Images() : host(size_t(kW) * kH), work(size_t(kW) * kH), back(size_t(kW) * kH) {
        uint32_t seed = 12345;
        for (auto& p : host)
            for (auto& s : p.v) s = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    }
    std::vector<PxHostRGBA_U8> host;
    std::vector<PxWorkRGBA_F255> work;
    std::vector<PxHostRGBA_U8> back;
};

Images& images() {
    static Images im;
    return im;
}

ImgHostRGBA_U8 host_view(PxHostRGBA_U8* data) {
    return ImgHostRGBA_U8(data, kW, kH, int32_t(kW * 4), 0, 0, false, 1.0, 1.0, 1.0, true, 4);
}

struct BenchHost : OstrovanneHost {
    explicit BenchHost(int32_t threads) : OstrovanneHost("bench", "m", 1, 0, 0, "d") {
        threadCountSetting = threads;
    }
};

void BM_Memcpy(benchmark::State& state, bool workBytes) {
    auto& im = images();
    const size_t bytes = workBytes ? im.work.size() * sizeof(PxWorkRGBA_F255) : im.host.size() * 4;
    std::vector<unsigned char> a(bytes, 1), b(bytes);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_HostToWork(benchmark::State& state) {
    auto& im = images();
    BenchHost host(int32_t(state.range(0)));
    const auto src = host_view(im.host.data());
    const auto dst = make_packed_view<ImgWorkRGBA_F255>(im.work.data(), kW, kH);
    for (auto _ : state) {
        CopyImageFilter<ImgHostRGBA_U8, ImgWorkRGBA_F255> f(&host, src, dst, 0, 0, 0);
        benchmark::DoNotOptimize(f.render(0, 1));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(im.work.size() * sizeof(PxWorkRGBA_F255)));
}

void BM_WorkToHost(benchmark::State& state) {
    auto& im = images();
    BenchHost host(int32_t(state.range(0)));
    const auto src = make_packed_view<ImgWorkRGBA_F255>(im.work.data(), kW, kH);
    const auto dst = host_view(im.back.data());
    for (auto _ : state) {
        CopyImageFilter<ImgWorkRGBA_F255, ImgHostRGBA_U8> f(&host, src, dst, 0, 0, 0);
        benchmark::DoNotOptimize(f.render(0, 1));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(im.back.size() * 4));
    if (std::memcmp(im.back.data(), im.host.data(), im.host.size() * 4) != 0) state.SkipWithError("round trip differs");
}

BENCHMARK_CAPTURE(BM_Memcpy, host_bytes_96MB, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Memcpy, work_bytes_384MB, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HostToWork)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WorkToHost)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's real time per iteration (ms) for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.times;
    auto ratio = [&](const char* what, const char* name, const char* base) {
        if (t.count(name) && t.count(base))
            std::printf("ratio %-44s %7.2f x memcpy (%s)\n", what, t[name] / t[base], base);
    };
    const char* big = "BM_Memcpy/work_bytes_384MB/real_time";
    const char* small = "BM_Memcpy/host_bytes_96MB/real_time";
    std::printf("\n24-megapixel RGBA copy-convert against memcpy of the 384 MB float image (the larger side):\n");
    ratio("8-bit host -> float work, 1 thread", "BM_HostToWork/1/real_time", big);
    ratio("8-bit host -> float work, all threads", "BM_HostToWork/0/real_time", big);
    ratio("float work -> 8-bit host, 1 thread", "BM_WorkToHost/1/real_time", big);
    ratio("float work -> 8-bit host, all threads", "BM_WorkToHost/0/real_time", big);
    std::printf("against memcpy of the 96 MB 8-bit image:\n");
    ratio("8-bit host -> float work, 1 thread", "BM_HostToWork/1/real_time", small);
    ratio("float work -> 8-bit host, 1 thread", "BM_WorkToHost/1/real_time", small);
    if (t.count("BM_HostToWork/1/real_time") && t.count("BM_WorkToHost/1/real_time") && t.count(big) && t.count(small))
        std::printf("ratio %-44s %7.2f x memcpy (both images once)\n", "round trip, 1 thread",
                    (t["BM_HostToWork/1/real_time"] + t["BM_WorkToHost/1/real_time"]) / (t[big] + t[small]));
    benchmark::Shutdown();
    return 0;
}
