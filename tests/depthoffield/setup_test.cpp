// The depth-of-field set-up: lookup tables, the depth curve, level radii and tile margins,
// the kernel store, the per-depth kernels (from the iris settings and from an iris image)
// and the limits that turn unusable settings into out of memory.
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "depthoffield/depth_of_field_filter.h"
#include "dof_test_support.h"

using namespace dof_test;

namespace {

// Published BT.709 transfer, written with divisions (not the engine's reciprocal factors).
double bt709Decode(double x) { return x > 0.081 ? std::pow((x + 0.099) / 1.099, 1.0 / 0.45) : x / 4.5; }
double bt709Encode(double x) { return x >= 0.018 ? 1.099 * std::pow(x, 0.45) - 0.099 : 4.5 * x; }

struct Tables {
    std::vector<float> decode, encode, curve;
    Tables(double depthCurve, double max)
        : decode(ov::kDepthTableSize), encode(ov::kDepthTableSize), curve(ov::kDepthTableSize) {
        ov::fillDepthTables(decode.data(), encode.data(), curve.data(), depthCurve, max);
    }
};

}  // namespace

TEST(DepthTables, EndpointsAndBranchPointsAtEveryScale) {
    for (double max : {255.0, 32768.0, 1.0}) {
        SCOPED_TRACE(max);
        const Tables t(1.0, max);
        EXPECT_EQ(t.decode[0], 0.0f);
        EXPECT_EQ(t.encode[0], 0.0f);
        EXPECT_EQ(t.decode[32767], float(max));  // exactly MAX: x is exactly 1
        EXPECT_EQ(t.encode[32767], float(max));
        EXPECT_EQ(t.curve[32767], 1.0f);
        // Decode changes branch at the first x above 0.081 (entry 2655), encode at the first
        // x at or above 0.018 (entry 590); both agree with the published transfer there.
        for (int i : {589, 590, 2654, 2655, 16384, 30000}) {
            const double x = i / 32767.0;
            EXPECT_NEAR(t.decode[i], bt709Decode(x) * max, 1e-6 * max) << i;
            EXPECT_NEAR(t.encode[i], bt709Encode(x) * max, 1e-6 * max) << i;
        }
    }
    // The decode is not monotonic across its branch change.
    const Tables t8(1.0, 255.0);
    EXPECT_NEAR(t8.decode[2654], 4.5898, 1e-4);
    EXPECT_NEAR(t8.decode[2655], 4.5775, 1e-4);
    EXPECT_GT(t8.decode[2654], t8.decode[2655]);
}

TEST(DepthTables, CurveExponent) {
    const Tables flat(0.0, 255.0);  // pow(x, 0) = 1, also pow(0, 0)
    for (int i : {0, 1, 16383, 32767}) EXPECT_EQ(flat.curve[i], 1.0f);
    const Tables linear(1.0, 255.0);
    for (int i : {0, 1, 12345, 32767}) EXPECT_EQ(linear.curve[i], float(i * 3.051850947599719e-05));
    const Tables square(2.0, 255.0);
    EXPECT_EQ(square.curve[0], 0.0f);
    EXPECT_NEAR(square.curve[16384], 0.25, 1e-4);
}

TEST(DepthCurveSampling, WindowInvertModesAndOutside) {
    // A curve whose entry i holds i, so a sample reads back the index it chose: the entry at
    // or above t * 32767 (byte 128: 16447.76 gives 16448).
    std::vector<float> index(ov::kDepthTableSize);
    for (int i = 0; i < ov::kDepthTableSize; ++i) index[i] = float(i);
    DepthMap map(4, 2);
    map.at(0, 0) = 0;
    map.at(1, 0) = 128;
    map.at(2, 0) = 255;
    map.at(3, 0) = 204;  // 0.8
    map.at(0, 1) = 51;   // 0.2
    map.at(1, 1) = 127;
    const ov::ImgDepth8 depth = map.view();
    const ov::ImgDepth8 none;
    struct Case {
        const char* what;
        const ov::ImgDepth8* view;
        uint32_t x, y;
        int32_t mode;
        bool invert;
        double low, high;
        double expected;
    };
    const Case cases[] = {
        {"byte 0", &depth, 0, 0, 1, false, 0.0, 1.0, 0},
        {"byte 128", &depth, 1, 0, 1, false, 0.0, 1.0, 16448},
        {"byte 255", &depth, 2, 0, 1, false, 0.0, 1.0, 32767},
        {"inverted", &depth, 2, 0, 1, true, 0.0, 1.0, 0},
        {"mode 3 reads the byte", &depth, 1, 0, 3, false, 0.0, 1.0, 16448},
        {"mode 2 is 255", &depth, 0, 0, 2, false, 0.0, 1.0, 32767},
        {"mode 0 is 0", &depth, 2, 0, 0, false, 0.0, 1.0, 0},
        {"mode 4 is 0", &depth, 2, 0, 4, false, 0.0, 1.0, 0},
        {"no data", &none, 0, 0, 1, false, 0.0, 1.0, 0},
        {"no data inverted", &none, 0, 0, 1, true, 0.0, 1.0, 32767},
        {"beyond the width, mode 2", &depth, 4, 0, 2, false, 0.0, 1.0, 0},
        {"negative row", &depth, 0, uint32_t(-1), 2, false, 0.0, 1.0, 0},
        {"empty window below", &depth, 1, 1, 1, false, 0.5, 0.5, 0},
        {"empty window above", &depth, 1, 0, 1, false, 0.5, 0.5, 32767},
        {"window", &depth, 1, 0, 1, false, 0.25, 0.75, 16512},
        // A window given high to low is the same window, inverted.
        {"swapped, at 0.2", &depth, 0, 1, 1, false, 0.8, 0.2, 32767},
        {"swapped, at 0.8", &depth, 3, 0, 1, false, 0.8, 0.2, 0},
        {"swapped, at 0.5", &depth, 1, 0, 1, false, 0.8, 0.2, 16277},
        {"swapped and inverted", &depth, 1, 0, 1, true, 0.8, 0.2, 16491},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ov::sampleDepthCurve(*c.view, c.x, c.y, index.data(), c.mode, c.invert, c.low, c.high), c.expected)
            << c.what;
    // Swapping the bounds equals the straight window with the opposite flag, byte by byte.
    for (uint32_t b = 0; b < 256; ++b) {
        DepthMap one(1, 1, uint8_t(b));
        const ov::ImgDepth8 v = one.view();
        EXPECT_EQ(ov::sampleDepthCurve(v, 0, 0, index.data(), 1, false, 0.7, 0.3),
                  ov::sampleDepthCurve(v, 0, 0, index.data(), 1, true, 0.3, 0.7))
            << b;
    }
}

// On the straight curve (depth curve 1) every byte d is depth level d, trunc(value * 255),
// and inverted level 255 - d: the level the focal point names is the byte that stays sharp.
TEST(DepthCurveSampling, StraightCurveGivesEveryByteItsOwnLevel) {
    std::vector<float> decode(ov::kDepthTableSize), encode(ov::kDepthTableSize), curve(ov::kDepthTableSize);
    ov::fillDepthTables(decode.data(), encode.data(), curve.data(), 1.0, 255.0);
    for (uint32_t b = 0; b < 256; ++b) {
        DepthMap one(1, 1, uint8_t(b));
        const ov::ImgDepth8 v = one.view();
        EXPECT_EQ(int(ov::sampleDepthCurve(v, 0, 0, curve.data(), 1, false, 0.0, 1.0) * 255.0), int(b));
        EXPECT_EQ(int(ov::sampleDepthCurve(v, 0, 0, curve.data(), 1, true, 0.0, 1.0) * 255.0), int(255 - b));
    }
}

TEST(LevelGeometry, TileMargins) {
    struct Case {
        double radius, focal, aspect, sf, scale;
        unsigned rx, ry;
    };
    const Case cases[] = {
        {10, 255, 0, 1, 1, 11, 11},  {10, 255, 0.5, 1, 1, 17, 6},   {10, 255, -0.75, 1, 1, 3, 20},
        {10, 255, 0, 2, 1, 6, 6},    {10, 255, 0, 1, 2, 6, 11},     {10, 128, 0, 1, 1, 7, 7},
        {0, 255, 0, 1, 1, 1, 1},     {10, 300, 0, 1, 1, 13, 13},    {10, -20, 0, 1, 1, 12, 12},
    };
    for (const Case& c : cases) {
        DepthOfFieldParams p = defaultParams(c.radius);
        p.focal_point = c.focal;
        p.iris_aspect = c.aspect;
        p.scale_x = p.scale_y = c.sf;
        unsigned rx = 0, ry = 0;
        ov::max_blur_extent(p, c.scale, rx, ry);
        EXPECT_EQ(rx, c.rx) << c.radius << " " << c.focal << " " << c.aspect << " " << c.sf << " " << c.scale;
        EXPECT_EQ(ry, c.ry) << c.radius << " " << c.focal << " " << c.aspect << " " << c.sf << " " << c.scale;
    }
    // With a radius table the aspect plays no part and a zero radius still has a margin.
    std::vector<double> table(256, 0.0);
    table[17] = 4.5;
    DepthOfFieldParams p = defaultParams(0.0);
    p.iris_aspect = 0.5;
    p.radius_table = table.data();
    unsigned rx = 0, ry = 0;
    ov::max_blur_extent(p, 1.0, rx, ry);
    EXPECT_EQ(rx, 6u);
    EXPECT_EQ(ry, 6u);
}

TEST(KernelStore, SizesUnroundedAndRounded) {
    struct Case {
        double radius, bias;
        uint64_t unrounded;
    };
    const Case cases[] = {{0, 0, 272640}, {5, 0, 429200}, {5, 0.5, 767840}};
    for (const Case& c : cases) {
        DepthOfFieldParams p = defaultParams(c.radius);
        p.iris_border_brightness = c.bias;
        const ov::KernelStoreSize s = ov::kernelStoreSize(p, 1.0);
        EXPECT_EQ(s.unrounded, c.unrounded) << c.radius;
        EXPECT_EQ(s.rounded % 16, 0u);
        EXPECT_GE(s.rounded, s.unrounded);
        EXPECT_LT(s.rounded - s.unrounded, 256u * 16u);
    }
    // Radius 0: every slice is 1065 bytes, rounded to 1072.
    EXPECT_EQ(ov::kernelStoreSize(defaultParams(0.0), 1.0).rounded, 256u * 1072u);
}

TEST(KernelStore, KernelsLieOnSixteenByteBoundariesInsideTheStore) {
    TestHost host;
    DepthOfFieldParams p = defaultParams(7.0);
    p.focal_point = 100.0;
    p.iris_border = 0.3;
    p.iris_border_brightness = 0.4;
    Rig<ov::ImgHostGray_U8> rig(host, 4, 4, p);
    ASSERT_EQ(rig.filter.init_all(), 0u);
    const auto* store = static_cast<const unsigned char*>(rig.filter.kernel_store);
    const uint64_t size = ov::kernelStoreSize(p, 1.0).rounded;
    ASSERT_EQ(host.sizes[3], size);  // the fourth request, after the three tables
    for (int d = 0; d < 256; ++d) {
        const auto* k = reinterpret_cast<const unsigned char*>(rig.filter.kernels[d].row_count);
        EXPECT_EQ(uintptr_t(k - store) % 16, 0u) << d;
        EXPECT_LT(uint64_t(k - store), size) << d;
    }
    rig.filter.free_all();
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// The margin must hold every column and row that any level's kernel reaches, for settings
// whose radii are not whole numbers.
TEST(PerDepthKernels, MarginCoversEveryKernel) {
    struct Case {
        double radius, focal, aspect, sx, sy, scale;
    };
    const Case cases[] = {{7.3, 200, 0.3, 3, 3, 1}, {12.9, 17, -0.6, 1, 7, 1}, {5.5, 255, 0.75, 1, 1, 3},
                          {9.99, 128, 0, 6, 6, 1}};
    TestHost host;
    for (const Case& c : cases) {
        DepthOfFieldParams p = defaultParams(c.radius);
        p.focal_point = c.focal;
        p.iris_aspect = c.aspect;
        p.scale_x = c.sx;
        p.scale_y = c.sy;
        p.iris_roundness = 1.0;
        Rig<ov::ImgHostGray_U8> rig(host, 4, 4, p);
        rig.filter.destination.scale = c.scale;
        ASSERT_EQ(rig.filter.init_all(), 0u);
        unsigned rx = 0, ry = 0;
        ov::max_blur_extent(p, c.scale, rx, ry);
        for (const IrisKernel& k : rig.filter.kernels) {
            ASSERT_FALSE(k.empty());
            EXPECT_GE(k.top_row, -int32_t(ry));
            EXPECT_LE(k.bottom_row, int32_t(ry));
            for (int32_t r = k.top_row; r <= k.bottom_row; ++r) {
                const int32_t n = k.rowCount(r);
                if (n == 0) continue;
                const KernelDeltaRecord* rec = k.rowRecords(r);
                EXPECT_GE(rec[0].x, -int32_t(rx));
                EXPECT_LE(rec[n - 1].x, int32_t(rx) + 1);  // the closing change lies one past
            }
        }
        rig.filter.free_all();
    }
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// A border of width 0 with full border brightness draws no weight at all: every level then
// gets a one-pixel kernel, never an empty one (which would blur the image to black).
TEST(PerDepthKernels, EmptyApertureGivesOnePixelKernels) {
    TestHost host;
    DepthOfFieldParams p = defaultParams(6.0);
    p.iris_border = 0.0;
    p.iris_border_brightness = 1.0;
    Rig<ov::ImgHostRGB_U8> rig(host, 4, 4, p);
    ASSERT_EQ(rig.filter.init_all(), 0u);
    for (const IrisKernel& k : rig.filter.kernels) {
        ASSERT_FALSE(k.empty());
        EXPECT_GT(k.sum, 0.0);
        double total = 0.0;
        for (int32_t r = k.top_row; r <= k.bottom_row; ++r)
            k.forEachRun(r, [&](int32_t x0, int32_t x1, double w, double) { total += (x1 - x0) * w * k.inv_sum; });
        EXPECT_NEAR(total, 1.0, 1e-6);
    }
    rig.filter.free_all();
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// Level radii that are not finite or too large for the store and the margins end set-up with
// out of memory and nothing left allocated; focal points outside 0..255 are legal.
TEST(PerDepthKernels, UnusableRadiiAreOutOfMemory) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> table(256, 2.0);
    table[40] = nan;
    struct Case {
        const char* what;
        double radius, focal, scaleX, aspect, bias;
        const double* table;
        uint32_t expected;
    };
    const Case cases[] = {
        {"focal 300", 10, 300, 1, 0, 0, nullptr, 0},
        {"focal -20", 10, -20, 1, 0, 0, nullptr, 0},
        {"focal not a number", 10, nan, 1, 0, 0, nullptr, kHostOutOfMemory},
        {"focal infinite", 10, inf, 1, 0, 0, nullptr, kHostOutOfMemory},
        {"focal 1e300", 10, 1e300, 1, 0, 0, nullptr, kHostOutOfMemory},
        {"radius 1e9", 1e9, 255, 1, 0, 0, nullptr, kHostOutOfMemory},
        {"scale factor 0", 10, 255, 0, 0, 0, nullptr, kHostOutOfMemory},
        {"table entry not a number", 0, 255, 1, 0, 0, table.data(), kHostOutOfMemory},
        // Radii within the margin limit whose store would pass 2^31 bytes.
        {"store beyond 2 GB", 32500, 255, 1, 0, 0.5, nullptr, kHostOutOfMemory},
    };
    for (const Case& c : cases) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(c.radius);
        p.focal_point = c.focal;
        p.scale_x = c.scaleX;
        p.iris_aspect = c.aspect;
        p.iris_border = 0.2;
        p.iris_border_brightness = c.bias;
        p.radius_table = c.table;
        p.view = 3;  // sizes the store, builds no kernel
        Rig<ov::ImgHostGray_U8> rig(host, 4, 4, p);
        EXPECT_EQ(rig.filter.init_all(), c.expected) << c.what;
        rig.filter.free_all();
        EXPECT_EQ(host.liveBlocks(), 0u) << c.what;
        for (uint32_t s : host.sizes) EXPECT_LE(s, 0x7fffffffu) << c.what;
    }
}

// A margin that no tile grid can hold (a 4 x 4 tile padded by 12001 pixels on every side needs
// record buffers beyond 32-bit sizes) is refused by the set-up, before the kernel store
// (hundreds of MB here) is asked for or any kernel is built.
TEST(PerDepthKernels, MarginNoGridCanHoldIsRefusedBeforeTheStore) {
    for (int view : {1, 6}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(12000.0);
        p.view = view;
        Rig<ov::ImgHostGray_U8> rig(host, 4, 4, p);
        EXPECT_EQ(rig.filter.init_all(), kHostOutOfMemory) << "view " << view;
        rig.filter.free_all();
        EXPECT_EQ(host.liveBlocks(), 0u) << "view " << view;
        for (uint32_t s : host.sizes) EXPECT_LT(s, 1u << 20) << "view " << view;
    }
}

// Level radii beyond 32767 pixels are refused only where padded tiles address them with 16-bit
// positions (the blur views 1 and 6); the other views need no kernel and render them.
TEST(PerDepthKernels, WideRadiiRefusedOnlyInTheBlurViews) {
    for (int view = 1; view <= 7; ++view) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(40000.0);  // level 0: 40001 pixels
        p.view = view;
        Rig<ov::ImgHostGray_U8> rig(host, 4, 4, p);
        const bool blurView = view == 1 || view == 6;
        EXPECT_EQ(rig.filter.init_all(), blurView ? kHostOutOfMemory : 0u) << "view " << view;
        rig.filter.free_all();
        EXPECT_EQ(host.liveBlocks(), 0u) << "view " << view;
    }
}

// Kernels cut from an iris image: every level centred on its mask, black images and masks of
// no pixels give one-pixel kernels, and each kernel's block goes back with free_all.
TEST(PerDepthKernels, FromAnIrisImage) {
    TestHost host;
    Image<ov::ImgHostRGBA_U8> iris(9, 5);
    iris.fill(makePixel<ov::PxHostRGBA_U8>(255, 255));
    std::vector<double> table(256);
    for (int d = 0; d < 256; ++d) table[d] = d % 3 == 0 ? -1.0 : d * 0.05;  // -1: a radius of 0
    for (bool black : {false, true}) {
        if (black) iris.fill(makePixel<ov::PxHostRGBA_U8>(0, 255));
        DepthOfFieldParams p = defaultParams(0.0);
        p.radius_table = table.data();
        Rig<ov::ImgHostRGBA_U8> rig(host, 4, 4, p);
        rig.filter.iris_image = iris.view();
        ASSERT_EQ(rig.filter.init_all(), 0u);
        for (int d = 0; d < 256; ++d) {
            const IrisKernel& k = rig.filter.kernels[d];
            ASSERT_NE(k.buffer, nullptr) << d;
            ASSERT_FALSE(k.empty()) << d;
            EXPECT_GT(k.sum, 0.0) << d;
            const double r = table[d] + 1.0;
            const int32_t half = int32_t(std::ceil(r));
            if (d % 3 == 0 || black) {
                EXPECT_EQ(k.sum, 1.0) << d;  // the one-pixel kernel
                continue;
            }
            EXPECT_GE(k.top_row, -half) << d;
            EXPECT_LE(k.bottom_row, half - 1) << d;
        }
        rig.filter.free_all();
        EXPECT_EQ(host.liveBlocks(), 0u);
        rig.filter.free_all();  // a second release frees nothing twice
        EXPECT_EQ(host.doubleFrees, 0);
    }
}

// The iris image's gray copy, its summed-area table and every resampling run report against
// a total of 0, the kernels from an iris image and the iris view alike: the gray copy row y as
// (y, 0); only the kernel builder reports against 100 (50 of 100 after each mask row).
TEST(PerDepthKernels, IrisImageStepsReportAgainstATotalOfZero) {
    Image<ov::ImgHostRGBA_U8> iris(9, 5);
    iris.fill(makePixel<ov::PxHostRGBA_U8>(255, 255));
    for (int view : {1, 2}) {
        TestHost host;
        ProgressLog log;
        log.attach(host);
        const auto& reports = log.reports;
        DepthOfFieldParams p = defaultParams(4.0);
        p.view = view;
        Rig<ov::ImgHostRGBA_U8> rig(host, 12, 8, p);
        rig.filter.iris_image = iris.view();
        if (view == 1) {
            ASSERT_EQ(rig.filter.init_all(), 0u);
            rig.filter.free_all();
        } else {
            ASSERT_EQ(rig.filter.render(0, 1), 0u);
        }
        std::set<uint32_t> copyRows;
        size_t zeroTotals = 0;
        for (const auto& [done, total] : reports) {
            if (total == 100) {
                EXPECT_EQ(done, 50u) << "view " << view;
                continue;
            }
            EXPECT_EQ(total, 0u) << "view " << view << ": report " << done << " of " << total;
            ++zeroTotals;
            copyRows.insert(done);
        }
        // The table's rows (and, for the kernels, the gray copy's) at least.
        EXPECT_GE(zeroTotals, view == 1 ? 2 * 5u : 5u) << "view " << view;
        for (uint32_t y = 0; y < 5; ++y) EXPECT_EQ(copyRows.count(y), 1u) << "view " << view << " row " << y;
        EXPECT_EQ(host.liveBlocks(), 0u);
    }
}
