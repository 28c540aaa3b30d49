// blendPixel's modes, as a table of cases per layout.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pixel/blend.h"
#include "pixel/formats.h"

using namespace ov;

namespace {

// One case: pixels given as R, G, B, A on the format's scale (absent channels ignored).
struct Case {
    const char* what;
    int mode;
    double dst[4];
    double src[4];
    double expect[4];
    double tolerance;  // absolute, on the format's scale
};

template <class P>
DoublePixel<P> make(const double v[4]) {
    DoublePixel<P> p{};
    for (int c = 0; c < 3; ++c) p.set_colour(c, v[c]);
    p.set_alpha(v[3]);
    return p;
}

template <class P>
void run_cases(const std::vector<Case>& cases, const char* format) {
    for (const Case& c : cases) {
        auto d = make<P>(c.dst);
        const auto s = make<P>(c.src);
        blendPixel(d, s, c.mode);
        const auto e = make<P>(c.expect);
        for (int i = 0; i < DoublePixel<P>::sample_count; ++i)
            EXPECT_NEAR(d.v[i], e.v[i], c.tolerance)
                << format << " mode " << c.mode << " (" << c.what << ") sample " << i;
    }
}

TEST(Blend, RgbaEightBit) {
    const double M = 255;
    const std::vector<Case> cases = {
        {"opaque source wins", 1, {10, 20, 30, 100}, {200, 100, 50, M}, {200, 100, 50, M}, 1e-9},
        {"transparent source keeps dst", 1, {10, 20, 30, 100}, {200, 100, 50, 0}, {10, 20, 30, 100}, 1e-9},
        {"transparent over transparent", 1, {10, 20, 30, 0}, {200, 100, 50, 0}, {0, 0, 0, 0}, 1e-9},
        {"onto transparent dst", 1, {10, 20, 30, 0}, {200, 100, 50, 60}, {200, 100, 50, 60}, 1e-9},
        {"half over opaque", 1, {0, 0, 0, M}, {200, 100, 50, 127.5}, {100, 50, 25, M}, 1e-9},
        {"mode 0 copies", 0, {1, 2, 3, 4}, {5, 6, 7, 8}, {5, 6, 7, 8}, 0},
        {"mode -1 copies", -1, {1, 2, 3, 4}, {5, 6, 7, 8}, {5, 6, 7, 8}, 0},
        {"mode 23 copies", 23, {1, 2, 3, 4}, {5, 6, 7, 8}, {5, 6, 7, 8}, 0},
        {"keyed black source", 2, {10, 20, 30, 100}, {0, 0, 0, M}, {10, 20, 30, 100}, 1e-9},
        {"keyed full source", 2, {10, 20, 30, 100}, {M, 100, 50, M}, {M, 100, 50, M}, 1e-9},
        {"screen black", 3, {10, 20, 30, 100}, {0, 0, 0, M}, {10, 20, 30, 100}, 1e-9},
        {"screen transparent src", 3, {10, 20, 30, 100}, {90, 90, 90, 0}, {10, 20, 30, 100}, 1e-9},
        {"screen onto transparent", 3, {10, 20, 30, 0}, {0, 0, 0, M}, {0, 0, 0, 0}, 1e-9},
        {"add", 5, {100, 50, 0, M}, {100, 100, 100, M}, {200, 150, 100, M}, 1e-9},
        {"subtract", 6, {100, 50, 0, M}, {60, 60, 60, M}, {40, 0, 0, M}, 1e-9},
        {"divide by black", 8, {100, 0, 0, M}, {0, 0, 0, M}, {1e6, 0, 0, M}, 1e-6},
        {"difference", 9, {100, 50, 0, M}, {60, 60, 60, M}, {40, 10, 60, M}, 1e-9},
        {"lighten transparent", 11, {10, 20, 30, 100}, {250, 250, 250, 0}, {10, 20, 30, 100}, 1e-9},
        {"lighten", 11, {10, 200, 30, M}, {100, 100, 100, M}, {100, 200, 100, M}, 1e-9},
        {"darken transparent", 12, {10, 20, 30, 100}, {0, 0, 0, 0}, {10, 20, 30, 100}, 1e-9},
        {"darken", 12, {10, 200, 30, M}, {100, 100, 100, M}, {10, 100, 30, M}, 1e-9},
        {"lighter luminance copies", 13, {10, 20, 30, 100}, {200, 200, 200, 50}, {200, 200, 200, 50}, 0},
        {"lighter luminance keeps", 13, {200, 200, 200, 200}, {10, 20, 30, 50}, {200, 200, 200, 200}, 0},
        {"lighter, equal luminance", 13, {50, 50, 50, M}, {50, 50, 50, M}, {50, 50, 50, M}, 0},
        {"darker luminance copies", 14, {200, 200, 200, 200}, {10, 20, 30, 50}, {10, 20, 30, 50}, 0},
        {"darker, equal luminance", 14, {50, 50, 50, M}, {50, 50, 50, M}, {50, 50, 50, M}, 0},
        {"alpha plus luminance", 19, {10, 20, 30, 100}, {M, M, M, M}, {10, 20, 30, M}, 1e-9},
        {"alpha minus luminance", 20, {10, 20, 30, 100}, {M, M, M, M}, {10, 20, 30, 0}, 1e-9},
        {"alpha times luminance", 21, {10, 20, 30, 128}, {M, M, M, M}, {10, 20, 30, 128}, 1e-9},
        {"alpha from luminance", 22, {10, 20, 30, 128}, {0, 0, 0, M}, {10, 20, 30, 0}, 1e-9},
        {"alpha from luminance 2", 22, {10, 20, 30, 128}, {M, M, M, M}, {10, 20, 30, M}, 1e-9},
    };
    run_cases<PxHostRGBA_U8>(cases, "RGBA_U8");
}

TEST(Blend, RgbaFloat) {
    const std::vector<Case> cases = {
        {"multiply", 7, {0.5, 0.5, 1, 1}, {0.5, 1, 0.5, 1}, {0.25, 0.5, 0.5, 1}, 1e-12},
        {"overlay low", 4, {0.25, 0.25, 0.25, 1}, {0.5, 0.5, 0.5, 1}, {0.25, 0.25, 0.25, 1}, 1e-12},
        {"overlay high", 4, {0.75, 0.75, 0.75, 1}, {0.5, 0.5, 0.5, 1}, {0.75, 0.75, 0.75, 1}, 1e-12},
        {"exclusion", 10, {0.5, 0, 1, 1}, {0.5, 0.5, 0.5, 1}, {0.5, 0.5, 0.5, 1}, 1e-12},
        {"hue of grey source", 15, {1, 0, 0, 1}, {0.3, 0.3, 0.3, 1}, {0.5, 0.5, 0.5, 1}, 1e-7},
        {"saturation", 16, {0.5, 0.5, 0.5, 1}, {1, 0, 0, 1}, {1, 0, 0, 1}, 1e-7},
        {"colour", 17, {0.5, 0.5, 0.5, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}, 1e-7},
        {"hue and lightness", 18, {1, 0, 0, 1}, {0, 0, 0.5, 1}, {0, 0, 0.5, 1}, 1e-7},
        {"normal half alpha", 1, {1, 0, 0, 0.5}, {0, 0, 1, 0.5}, {1.0 / 3, 0, 2.0 / 3, 0.75}, 1e-7},
        {"multiply transparent dst", 7, {0.2, 0.2, 0.2, 0}, {0.4, 0.6, 0.8, 1}, {0.4, 0.6, 0.8, 1}, 1e-7},
    };
    run_cases<PxHostRGBA_F1>(cases, "RGBA_F1");
}

// Layouts without alpha: alpha reads MAX, mode 1 replaces exactly, the alpha modes do nothing.
TEST(Blend, WithoutAlpha) {
    const double M = 32768;
    const std::vector<Case> rgb = {
        {"normal replaces", 1, {1, 2, 3, M}, {30000, 20000, 10000, M}, {30000, 20000, 10000, M}, 0},
        {"alpha plus", 19, {1, 2, 3, M}, {M, M, M, M}, {1, 2, 3, M}, 0},
        {"alpha minus", 20, {1, 2, 3, M}, {M, M, M, M}, {1, 2, 3, M}, 0},
        {"alpha times", 21, {1, 2, 3, M}, {M, M, M, M}, {1, 2, 3, M}, 0},
        {"alpha from", 22, {1, 2, 3, M}, {M, M, M, M}, {1, 2, 3, M}, 0},
        {"add, no fixup", 5, {30000, 2, 3, M}, {30000, 2, 3, M}, {60000, 4, 6, M}, 0},
    };
    run_cases<PxHostRGB_U16>(rgb, "RGB_U16");
    const std::vector<Case> two = {
        {"normal replaces", 1, {1, 2, 0, 0}, {300, 200, 0, 0}, {300, 200, 0, 0}, 0},
        {"hue in two channels", 15, {M, 0, 0, 0}, {0, M, 0, 0}, {0, M, 0, 0}, 1e-3},
    };
    run_cases<PxHostTwoCh_U16>(two, "TwoCh_U16");
    const std::vector<Case> gray = {
        {"normal replaces", 1, {5, 0, 0, 0}, {7, 0, 0, 0}, {7, 0, 0, 0}, 0},
        {"luminance is the gray", 13, {5, 0, 0, 0}, {7, 0, 0, 0}, {7, 0, 0, 0}, 0},
    };
    run_cases<PxHostGray_U8>(gray, "Gray_U8");
}

TEST(Blend, GrayAndTwoChannelWithAlpha) {
    const std::vector<Case> grayA = {
        {"normal half", 1, {0.2, 0, 0, 1}, {0.8, 0, 0, 0.5}, {0.5, 0, 0, 1}, 1e-12},
        {"luminance is gray times alpha", 22, {0.2, 0, 0, 1}, {0.8, 0, 0, 0.5}, {0.2, 0, 0, 0.4}, 1e-12},
        {"hsl converts (gray, 0, 0)", 17, {0.5, 0, 0, 1}, {0.25, 0, 0, 1}, {0.5, 0, 0, 1}, 1e-7},
    };
    run_cases<PxHostGrayA_F1>(grayA, "GrayA_F1");
    const double M = 255;
    const std::vector<Case> twoA = {
        {"normal", 1, {100, 50, 0, M}, {200, 0, 0, M}, {200, 0, 0, M}, 1e-9},
        {"alpha plus two-channel luminance", 19, {1, 2, 0, 10}, {M, M, 0, M}, {1, 2, 0, 10 + 0.844837432 * M}, 1e-9},
    };
    run_cases<PxHostTwoChA_U8>(twoA, "TwoChA_U8");
}

// Invariants over all modes and the 18 formats: modes 19 to 22 never change colour, 19 never
// yields alpha above MAX, 20 never below 0.
template <class P>
void alpha_mode_invariants() {
    const double M = P::max_value;
    const double dst[4] = {0.3 * M, 0.6 * M, 0.9 * M, 0.7 * M};
    const double src[4] = {0.9 * M, 0.8 * M, 0.7 * M, 0.9 * M};
    for (int mode = 19; mode <= 22; ++mode) {
        auto d = make<P>(dst);
        blendPixel(d, make<P>(src), mode);
        for (int c = 0; c < P::colour_count; ++c) EXPECT_EQ(d.v[c], dst[c]);
        if (mode == 19) { EXPECT_LE(d.alpha(), M); }
        if (mode == 20) { EXPECT_GE(d.alpha(), 0.0); }
    }
    for (int mode = -1; mode <= 23; ++mode) {
        auto d = make<P>(dst);
        blendPixel(d, make<P>(src), mode);
        for (int i = 0; i < DoublePixel<P>::sample_count; ++i) EXPECT_TRUE(std::isfinite(d.v[i]));
    }
}

template <class... Ps>
void all_invariants(TypeList<Ps...>) {
    (alpha_mode_invariants<Ps>(), ...);
}

TEST(Blend, InvariantsOverTheHostFormats) { all_invariants(HostPixelTypes{}); }

}  // namespace
