// Bilinear sampling against a brute-force reference and the documented edge cases.
#include "refract/bilinear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "refract/info_buffer.h"
#include "refract_test_util.h"

namespace {

using namespace refract_test;

// Brute force: every pixel of the view weighted by the tent of its distance to (x, y), the
// weight that would fall beyond the last column (row) folded onto it. Long double throughout.
template <class View>
long double brute_force(const View& v, double x, double y, int sample) {
    auto weight = [](long double pos, long double i, long double extent) {
        long double w = std::fmax(0.0L, 1.0L - std::fabs(pos - i));
        if (i == extent - 1) w += std::fmax(0.0L, 1.0L - std::fabs(pos - extent));
        return w;
    };
    long double sum = 0;
    for (uint32_t j = 0; j < v.height; ++j) {
        const long double wy = weight(y, j, v.height);
        if (wy == 0) continue;
        for (uint32_t i = 0; i < v.width; ++i) {
            const long double wx = weight(x, i, v.width);
            if (wx == 0) continue;
            sum += wx * wy * static_cast<long double>(v.at(i, j).v[sample]);
        }
    }
    return sum;
}

template <class V>
class BilinearTyped : public ::testing::Test {};
TYPED_TEST_SUITE(BilinearTyped, HostViewTypes, HostViewNames);

// Random images and positions of every format, with a host pixel step above the packed size
// and padded rows; positions include the last column and row and views 1 pixel wide or high.
TYPED_TEST(BilinearTyped, MatchesBruteForce) {
    using V = TypeParam;
    using Px = typename V::pixel_type;
    const uint32_t sizes[][2] = {{7, 5}, {1, 6}, {6, 1}, {1, 1}, {2, 2}};
    std::mt19937 rng(1234);
    for (auto& sz : sizes) {
        Image<V> img(sz[0], sz[1], 3, 5);
        img.randomise(sz[0] * 31 + sz[1]);
        std::uniform_real_distribution<double> ux(0.0, std::nextafter(double(sz[0]), 0.0));
        std::uniform_real_distribution<double> uy(0.0, std::nextafter(double(sz[1]), 0.0));
        for (int k = 0; k < 200; ++k) {
            double x = ux(rng), y = uy(rng);
            if (k % 10 == 0) x = sz[0] - 0.25;  // inside the last column
            if (k % 10 == 1) y = sz[1] - 0.5;   // inside the last row
            if (k % 10 == 2) x = std::floor(x); // integer position
            ov::DoublePixel<Px> r;
            ov::sample_bilinear(img.view, x, y, r);
            for (int s = 0; s < Px::sample_count; ++s) {
                // Four double terms against an exact sum: a few ulps of MAX at most.
                const long double ref = brute_force(img.view, x, y, s);
                EXPECT_NEAR(r.v[s], static_cast<double>(ref), 1e-12 * Px::max_value)
                    << "at (" << x << ", " << y << ") sample " << s;
            }
        }
    }
}

TYPED_TEST(BilinearTyped, IntegerPositionIsThePixelExactly) {
    using V = TypeParam;
    using Px = typename V::pixel_type;
    Image<V> img(4, 3, 2);
    img.randomise(7);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            ov::DoublePixel<Px> r;
            ov::sample_bilinear(img.view, x, y, r);
            for (int s = 0; s < Px::sample_count; ++s)
                EXPECT_EQ(r.v[s], static_cast<double>(img.at(x, y).v[s]));
        }
}

// the last column interpolates only vertically, the last row only horizontally.
TEST(Bilinear, LastColumnAndRow) {
    Image<ov::ImgHostRGBA_F1> img(3, 3);
    img.randomise(11);
    ov::DoublePixel<ov::PxHostRGBA_F1> r;
    ov::sample_bilinear(img.view, 2.75, 0.5, r);
    for (int s = 0; s < 4; ++s) {
        const double want = 0.5 * img.at(2, 0).v[s] + 0.5 * img.at(2, 1).v[s];
        EXPECT_NEAR(r.v[s], want, 1e-15);
    }
    ov::sample_bilinear(img.view, 0.25, 2.9, r);
    for (int s = 0; s < 4; ++s) {
        const double want = 0.75 * img.at(0, 2).v[s] + 0.25 * img.at(1, 2).v[s];
        EXPECT_NEAR(r.v[s], want, 1e-15);
    }
    ov::sample_bilinear(img.view, 2.6, 2.3, r);
    for (int s = 0; s < 4; ++s) EXPECT_NEAR(r.v[s], img.at(2, 2).v[s], 1e-15);
}

// Halfway between 8-bit 0 and 255 is 127.5; alpha is interpolated like a colour, and colours
// are the plain mean (not weighted by alpha).
TEST(Bilinear, HalfwayKeepsTheSampleRange) {
    Image<ov::ImgHostRGBA_U8> img(2, 1);
    img.fill([](uint32_t x, uint32_t, int s) { return x == 0 ? (s == 3 ? 255 : 0) : (s == 3 ? 0 : 255); });
    ov::DoublePixel<ov::PxHostRGBA_U8> r;
    ov::sample_bilinear(img.view, 0.5, 0.0, r);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(r.v[s], 127.5);
    Image<ov::ImgHostGray_U16> g(2, 1);
    g.fill([](uint32_t x, uint32_t, int) { return x == 0 ? 0 : 32768; });
    ov::DoublePixel<ov::PxHostGray_U16> rg;
    ov::sample_bilinear(g.view, 0.5, 0.0, rg);
    EXPECT_EQ(rg.v[0], 16384.0);
}

// The InfoBuffer overload: within float rounding of the brute force, and exactly the
// documented four-step single-precision sum.
TEST(Bilinear, InfoBufferSumsInSinglePrecision) {
    Image<ov::InfoBuffer> info(5, 4);
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    info.fill([&](uint32_t, uint32_t, int) { return u(rng); });
    std::uniform_real_distribution<double> ux(0.0, 4.999), uy(0.0, 3.999);
    for (int k = 0; k < 500; ++k) {
        const double x = ux(rng), y = uy(rng);
        ov::PxRefractInfo r;
        ov::sample_bilinear(info.view, x, y, r);
        const int x0 = int(x), y0 = int(y);
        const int x1 = x0 + 1 < 5 ? x0 + 1 : x0, y1 = y0 + 1 < 4 ? y0 + 1 : y0;
        const double fx = x - x0, fy = y - y0;
        for (int s = 0; s < 3; ++s) {
            const long double ref = brute_force(info.view, x, y, s);
            EXPECT_NEAR(r.v[s], static_cast<double>(ref), 4e-7);
            float e = float((1 - fx) * (1 - fy) * double(info.at(x0, y0).v[s]));
            e = float(double(e) + fx * (1 - fy) * double(info.at(x1, y0).v[s]));
            e = float(double(e) + fx * fy * double(info.at(x1, y1).v[s]));
            e = float(double(e) + (1 - fx) * fy * double(info.at(x0, y1).v[s]));
            EXPECT_EQ(r.v[s], e);
        }
    }
}

// Float work views (packed, B = 0) go through the same template.
TEST(Bilinear, PackedWorkView) {
    Image<ov::ImgWorkRGB_F255> img(3, 2);
    img.randomise(5);
    ov::DoublePixel<ov::PxWorkRGB_F255> r;
    ov::sample_bilinear(img.view, 1.5, 0.5, r);
    for (int s = 0; s < 3; ++s)
        EXPECT_NEAR(r.v[s], double(brute_force(img.view, 1.5, 0.5, s)), 1e-12);
}

}  // namespace
