// ov::ZoomFilter: the conversion rules as a table, the footprint (a destination pixel equals
// its box integral), bands, progress, cancellation, allocation failure and the table kept by
// prepare_sum_table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "resample/zoom_filter.h"
#include "resample_test_util.h"

namespace {

using namespace ov;
using pel_test::Image;
using pel_test::TestHost;

// ---- conversion rules ----------------------------------------------------------------------

struct RuleRow {
    const char* what;
    std::vector<double> means;
    bool destinationPremultiplied;
    double expect;
};

template <class Zoom>
void checkRule(const std::vector<RuleRow>& rows) {
    for (const auto& r : rows) {
        typename Zoom::DstPixel out{};
        Zoom::convert(r.means.data(), out, r.destinationPremultiplied);
        EXPECT_EQ(double(out.v[0]), r.expect) << r.what;
    }
}

TEST(ZoomConvert, Rule1ColourWithAlphaToGray) {
    static_assert(ZoomFilter<ImgHostGrayA_U8, ImgPackedGray_U8>::rule == ZoomRule::ColourAlphaToGray);
    checkRule<ZoomFilter<ImgHostGrayA_U8, ImgPackedGray_U8>>({
        {"64 at alpha 128: 127.5 truncated", {64, 128}, false, 127},
        {"alpha 0 skips the division", {64, 0}, false, 64},
        {"premultiplied destination keeps the mean", {64, 128}, true, 64},
        {"clamped to MAX", {200, 100}, false, 255},
    });
    checkRule<ZoomFilter<ImgHostRGBA_U8, ImgPackedGray_U8>>({
        {"white opaque", {255, 255, 255, 255}, false, 255},
        {"alpha 0: colour kept, times 0", {10, 20, 30, 0}, false, 0},
        {"half alpha", {50, 100, 25, 127.5}, false,
         double(uint8_t((0.292687786 * (50 * (255 / double(127.5f))) +
                         0.552149646 * (100 * (255 / double(127.5f))) +
                         0.155162568 * (25 * (255 / double(127.5f)))) *
                        (127.5 * (1.0 / 255.0))))},
    });
    checkRule<ZoomFilter<ImgHostTwoChA_U16, ImgPackedGray_U16>>({
        {"two channels, full alpha", {32768, 0, 32768}, false, 9590},  // 0.292687786 x 32768
        {"alpha 0", {100, 100, 0}, false, 0},
    });
    checkRule<ZoomFilter<ImgHostRGBA_F1, ImgWorkGray_F1>>({
        {"float colour is not clamped", {2.0, 0, 0, 1.0}, false, double(float(0.292687786 * 2.0))},
        {"float alpha is clamped", {0.5, 0.5, 0.5, 2.0}, false,
         double(float((0.292687786 * (0.5 * (1 / double(2.0f))) + 0.552149646 * (0.5 * (1 / double(2.0f))) +
                       0.155162568 * (0.5 * (1 / double(2.0f)))) * 1.0))},
    });
}

TEST(ZoomConvert, Rule2NoAlphaToGray) {
    checkRule<ZoomFilter<ImgHostRGB_U8, ImgPackedGray_U8>>({
        {"white", {255, 255, 255}, false, 255},
        {"negative clamps to 0", {-3, 0, 0}, false, 0},
        {"truncated, not rounded", {100, 100, 100}, false,
         double(uint8_t(0.292687786 * 100.0 + 0.552149646 * 100.0 + 0.155162568 * 100.0))},
        {"truncated 99.9", {99.9, 99.9, 99.9}, false, 99},
    });
    checkRule<ZoomFilter<ImgHostGray_U16, ImgPackedGray_U16>>({
        {"gray itself, truncated", {1234.9}, false, 1234},
        {"above MAX", {40000}, false, 32768},
    });
    checkRule<ZoomFilter<ImgHostTwoCh_F1, ImgWorkGray_F1>>({
        {"float: no clamp", {-1.0, 2.0}, false, double(float(0.292687786 * -1.0 + 0.552149646 * 2.0))},
    });
    checkRule<ZoomFilter<ImgWorkGray_F1, ImgWorkGray_F1>>({
        {"float gray keeps a small negative", {-1e-7}, false, double(float(-1e-7))},
    });
}

TEST(ZoomConvert, Rule3MaskToKernel) {
    {
        using Z = ZoomFilter<ImgMask8, ImgWorkRGBA_F32768>;
        static_assert(Z::rule == ZoomRule::MaskToKernel);
        Z::DstPixel p{};
        const double one = 1.0, full = 255.0, zero = 0.0, over = 300.0;
        Z::convert(&one, p, false);
        EXPECT_EQ(p.v[0], float(128.50196078431372));
        EXPECT_EQ(p.v[2], float(128.50196078431372));
        EXPECT_EQ(p.v[3], 32768.0f);
        Z::convert(&full, p, false);
        EXPECT_EQ(p.v[1], 32768.0f);
        Z::convert(&over, p, false);
        EXPECT_EQ(p.v[1], 32768.0f);
        Z::convert(&zero, p, false);
        EXPECT_EQ(p.v[0], 0.0f);
        EXPECT_EQ(p.v[3], 32768.0f);
    }
    {
        using Z = ZoomFilter<ImgMask8, ImgWorkTwoChA_F1>;
        Z::DstPixel p{};
        const double full = 255.0, half = 127.5;
        Z::convert(&full, p, false);
        EXPECT_EQ(p.v[0], 1.0f);
        EXPECT_EQ(p.v[1], 1.0f);
        EXPECT_EQ(p.v[2], 1.0f);
        Z::convert(&half, p, false);
        EXPECT_EQ(p.v[0], float(127.5 * 0.00392156862745098));
    }
    {
        using Z = ZoomFilter<ImgMask8, ImgWorkGray_F255>;
        Z::DstPixel p{};
        const double v = 200.25;
        Z::convert(&v, p, false);
        EXPECT_EQ(p.v[0], 200.25f);
    }
}

// ---- the whole filter ---------------------------------------------------------------------

template <class Src, class Dst>
struct ZoomRun {
    TestHost host;
    Image<Src> src;
    std::vector<typename Dst::pixel_type> dst;
    ZoomFilter<Src, Dst> z;
    ZoomRun(uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, int threads = 3)
        : host(threads), src(sw, sh, sw * 31 + sh), dst(size_t(dw) * dh + 1), z(&host) {
        std::memset(static_cast<void*>(dst.data()), 0x5A, dst.size() * sizeof(dst[0]));
        z.source = src.view;
        z.destination = make_packed_view<Dst>(dst.data(), dw, dh);
        z.stepX = z.stepY = std::max(double(sh) / dh, double(sw) / dw);
    }
};

TEST(ZoomFilter, EqualSizeStepOneIsTheBoxIntegralOfEachPixel) {
    ZoomRun<ImgHostRGBA_U16, ImgPackedGray_U16> r(6, 5, 6, 5);
    ASSERT_EQ(r.z.render(0, 1), 0u);
    std::vector<float> t(6 * 5 * 4);
    const auto tv = makeSumTableView<4>(t.data(), r.src.view);
    fillSumTable(r.src.view, tv, 0, 1, &r.host);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 6; ++x) {
            double m[4];
            boxIntegral(r.src.view, tv, m, 4, 4, x - 0.5, x + 0.5, y - 0.5, y + 0.5);
            PxPackedGray_U16 want{};
            ZoomFilter<ImgHostRGBA_U16, ImgPackedGray_U16>::convert(m, want, false);
            ASSERT_EQ(r.dst[y * 6 + x].v[0], want.v[0]) << x << "," << y;
        }
    EXPECT_TRUE(r.host.live.empty());
}

TEST(ZoomFilter, UniformStaysUniformAndThreadsAgree) {
    // A uniform 8-bit mask reduced to a kernel: inside pixels carry the uniform value.
    for (int threads : {1, 3, 8}) {
        ZoomRun<ImgMask8, ImgWorkGrayA_F1> r(40, 30, 8, 6, threads);
        for (uint32_t y = 0; y < 30; ++y)
            for (uint32_t x = 0; x < 40; ++x) r.src.view.at(x, y).v[0] = 255;
        ASSERT_EQ(r.z.render(0, 1), 0u);
        for (uint32_t y = 1; y < 5; ++y)
            for (uint32_t x = 1; x < 7; ++x) {
                EXPECT_NEAR(r.dst[y * 8 + x].v[0], 1.0f, 1e-6);
                EXPECT_EQ(r.dst[y * 8 + x].v[1], 1.0f);
            }
        static std::vector<PxWorkGrayA_F1> first;
        if (threads == 1) first = r.dst;
        else EXPECT_EQ(std::memcmp(first.data(), r.dst.data(), first.size() * sizeof(first[0])), 0);
    }
}

TEST(ZoomFilter, OutsideFootprintIsBlackOrOpaqueZero) {
    ZoomRun<ImgMask8, ImgWorkRGBA_F255> far(4, 4, 40, 40);
    far.z.stepX = far.z.stepY = 1.0;  // the destination is much larger: its corners see nothing
    ASSERT_EQ(far.z.render(0, 0), 0u);
    EXPECT_EQ(far.dst[0].v[0], 0.0f);
    EXPECT_EQ(far.dst[0].v[3], 255.0f);
}

TEST(ZoomFilter, BandsOfTheDestination) {
    ZoomRun<ImgPackedGray_U8, ImgPackedGray_U8> r(10, 10, 3, 10);
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 10; ++x) r.src.view.at(x, y).v[0] = 0;
    ASSERT_EQ(r.z.prepare_sum_table(0, 0), 0u);
    const uint32_t expectFirst[4] = {0, 2, 4, 6}, expectEnd[4] = {2, 4, 6, 10};
    for (uint32_t band = 0; band < 4; ++band) {
        std::memset(r.dst.data(), 0xEE, r.dst.size());
        r.host.reset();
        ASSERT_EQ(r.z.render_slice(band, 4, 0), 0u);
        for (uint32_t y = 0; y < 10; ++y) {
            const bool inBand = y >= expectFirst[band] && y < expectEnd[band];
            EXPECT_EQ(r.dst[y * 3].v[0] != 0xEE, inBand) << band << " " << y;
        }
        EXPECT_EQ(r.host.reports.size(), expectEnd[band] - expectFirst[band]);
    }
    r.host.FreeMemory(r.z.table);
    EXPECT_TRUE(r.host.live.empty());
}

TEST(ZoomFilter, ProgressHalvesOfThePass) {
    ZoomRun<ImgHostRGB_U8, ImgPackedGray_U8> r(9, 12, 4, 5);
    ASSERT_EQ(r.z.render(2, 7), 0u);
    const uint32_t srcH = 12;
    uint32_t table = 0, slices = 0;
    for (const auto& [done, total] : r.host.reports) {
        EXPECT_EQ(total, 2 * 7 * srcH);
        if (done < (2 * 2 + 1) * srcH) {
            EXPECT_GE(done, 2 * 2 * srcH);
            ++table;
        } else {
            EXPECT_LT(done, (2 * 2 + 2) * srcH);
            ++slices;
        }
    }
    EXPECT_EQ(table, srcH);
    EXPECT_EQ(slices, 5u);
    // Width 0 writes nothing but every row reports; passCount 0 gives totals 0.
    ZoomRun<ImgHostRGB_U8, ImgPackedGray_U8> empty(9, 12, 0, 5);
    ASSERT_EQ(empty.z.render(0, 0), 0u);
    EXPECT_EQ(empty.host.reports.size(), 12u + 5u);
    for (const auto& rep : empty.host.reports) EXPECT_EQ(rep.second, 0u);
}

TEST(ZoomFilter, CancellationAndOutOfMemoryLeakNothing) {
    for (size_t after : {1u, 5u, 14u, 16u}) {
        ZoomRun<ImgHostGrayA_U16, ImgPackedGray_U16> r(8, 12, 4, 4);
        r.host.cancelAfter = after;
        EXPECT_EQ(r.z.render(0, 1), r.host.StatusCancelled()) << after;
        EXPECT_TRUE(r.host.live.empty());
    }
    ZoomRun<ImgHostGrayA_U16, ImgPackedGray_U16> r(8, 12, 4, 4);
    r.host.failAt = 1;
    const auto before = r.dst;
    EXPECT_EQ(r.z.render(0, 1), r.host.StatusOutOfMemory());
    EXPECT_TRUE(r.host.reports.empty());
    EXPECT_EQ(std::memcmp(before.data(), r.dst.data(), before.size() * sizeof(before[0])), 0);
    EXPECT_TRUE(r.host.live.empty());
    r.host.reset();
    r.host.failAt = 1;
    EXPECT_EQ(r.z.prepare_sum_table(0, 0), r.host.StatusOutOfMemory());
    EXPECT_EQ(r.z.table, nullptr);
    // A table beyond 32 bits of bytes is refused before any allocation.
    ZoomRun<ImgPackedGray_U8, ImgPackedGray_U8> huge(1, 1, 1, 1);
    huge.z.source.width = 70000;
    huge.z.source.height = 70000;
    huge.host.reset();
    EXPECT_EQ(huge.z.render(0, 1), huge.host.StatusOutOfMemory());
    EXPECT_EQ(huge.host.allocations, 0u);
}

TEST(ZoomFilter, GuardsForEmptySourcesAndBadSteps) {
    for (uint32_t mode = 1; mode <= 4; ++mode) {
        ZoomRun<ImgWorkGray_F1, ImgWorkGray_F1> r(3, 3, 2, 2);
        r.z.source.width = 0;  // zero-sized source, even in wrap mode: zeros
        r.z.edgeModeX = r.z.edgeModeY = mode;
        ASSERT_EQ(r.z.render(0, 1), 0u);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(r.dst[i].v[0], 0.0f);
        ZoomRun<ImgWorkGray_F1, ImgWorkGray_F1> nanStep(3, 3, 2, 2);
        nanStep.z.stepX = std::numeric_limits<double>::quiet_NaN();
        nanStep.z.edgeModeX = nanStep.z.edgeModeY = mode;
        ASSERT_EQ(nanStep.z.render(0, 1), 0u);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(nanStep.dst[i].v[0], 0.0f);
    }
}

TEST(ZoomFilter, PreparedTableServesManyRuns) {
    ZoomRun<ImgPackedGray_U16, ImgPackedGray_U16> r(20, 16, 5, 4);
    ASSERT_EQ(r.z.prepare_sum_table(0, 0), 0u);
    ASSERT_NE(r.z.table, nullptr);
    for (uint32_t size : {5u, 3u, 1u}) {
        std::vector<PxPackedGray_U16> out(size * size);
        r.z.destination = make_packed_view<ImgPackedGray_U16>(out.data(), size, size);
        r.z.stepX = r.z.stepY = 20.0 / size;
        ASSERT_EQ(r.host.ParallelRun(3, r.z.slice_job()), 0u);
        // The same result as a render of its own.
        ZoomRun<ImgPackedGray_U16, ImgPackedGray_U16> own(20, 16, size, size);
        own.z.stepX = own.z.stepY = 20.0 / size;
        ASSERT_EQ(own.z.render(0, 0), 0u);
        EXPECT_EQ(std::memcmp(out.data(), own.dst.data(), out.size() * sizeof(out[0])), 0) << size;
    }
    r.host.FreeMemory(r.z.table);
    EXPECT_TRUE(r.host.live.empty());
}

}  // namespace
