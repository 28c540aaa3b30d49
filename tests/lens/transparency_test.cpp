// Transparency and gray pictures through both engines, on the host's render road:
// - a flat colour under any transparency comes back that colour wherever it shows (the blur
//   works in linear light on premultiplied colour, so the colour must be linearised before it
//   is premultiplied and divided by alpha before it is encoded);
// - a float alpha outside 0..1 is coverage clamped to 0..1, never a factor on the colour;
// - a gray picture shows its highlights as its RGB twin does (gray v is the colour (v, v, v)).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "render_document.h"

namespace {

using lens_test::DocumentFormat;
using lens_test::RenderDocument;

const DocumentFormat kGrayAlpha8{"gray + alpha, 8-bit", 1, 8, 2, 1, 1, 0};
const DocumentFormat kGrayAlpha16{"gray + alpha, 16-bit", 10, 16, 2, 1, 1, 0};
const DocumentFormat kGrayAlphaFloat{"gray + alpha, float", 17, 32, 2, 1, 1, 0};
const DocumentFormat kRgba8{"RGB + alpha, 8-bit", 3, 8, 4, 3, 1, 0};
const DocumentFormat kRgba16{"RGB + alpha, 16-bit", 11, 16, 4, 3, 1, 0};
const DocumentFormat kRgbaFloat{"RGB + alpha, float", 16, 32, 4, 3, 1, 0};
const DocumentFormat kGray8{"gray, 8-bit", 1, 8, 1, 0, 0, 1};
const DocumentFormat kGray16{"gray, 16-bit", 10, 16, 1, 0, 0, 1};
const DocumentFormat kGrayFloat{"gray, float", 17, 32, 1, 0, 0, 1};
const DocumentFormat kRgb8{"RGB, 8-bit", 3, 8, 3, 0, 0, 3};
const DocumentFormat kRgb16{"RGB, 16-bit", 11, 16, 3, 0, 0, 3};
const DocumentFormat kRgbFloat{"RGB, float", 16, 32, 3, 0, 0, 3};

// The engine a render runs: the out-of-focus blur (no selection), or the depth-of-field blur
// with the selection as depth map, far from the focal point (blurred at full radius) or at it.
enum class Engine { OutOfFocus, DepthFar, DepthInFocus };

const char* EngineName(Engine e) {
    return e == Engine::OutOfFocus ? "out of focus" : e == Engine::DepthFar ? "depth, far" : "depth, in focus";
}

std::vector<uint8_t> Selection(Engine e, int width, int height) {
    if (e == Engine::OutOfFocus) return {};
    return std::vector<uint8_t>(size_t(width) * size_t(height), e == Engine::DepthFar ? 0 : 200);
}

// A sample value as the format holds it.
double Quantised(int32_t depth, double v) {
    if (depth == 8) return std::round(v * 255) / 255;
    if (depth == 16) return std::round(v * 32768) / 32768;
    return double(float(v));
}

// The rounding of a premultiplied colour held in single precision, twice 2^-24 of full
// intensity: what the division by a faint alpha magnifies even where the blur is exact.
constexpr double kPremultipliedRounding = 0x1p-23;

// One level of the format (float: the 1e-4 a float render may move a colour).
double Level(int32_t depth) { return depth == 8 ? 1 / 255.0 : depth == 16 ? 1 / 32768.0 : 1e-4; }

// A flat colour (gray 0.5, or RGB 0.5, 0.25, 0.75) under the alpha alpha(x, y).
template <class Alpha>
std::vector<double> FlatColour(const DocumentFormat& f, int width, int height, Alpha alpha) {
    const int colours = f.planes - 1;
    const double colour[3] = {0.5, 0.25, 0.75};
    std::vector<double> s;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < colours; ++c) s.push_back(Quantised(f.depth, colour[c]));
            s.push_back(alpha(x, y));
        }
    return s;
}

// The largest distance of an output colour from the input's colour over the pixels whose
// output alpha is above 0, each weighed by that alpha (the error of the premultiplied value
// the blur computed). `shown` counts those pixels, `faint` those with alpha below 1/2.
struct ColourError {
    double premultiplied = 0;  // largest |out - in| * alpha
    double straight = 0;       // largest |out - in| beyond what `allowed` lets pass
    int shown = 0, faint = 0;
    std::string worst;
};

ColourError Compare(const DocumentFormat& f, const std::vector<double>& in, const std::vector<double>& out,
                    double opaquePremultiplied = -1) {
    ColourError e;
    const size_t P = size_t(f.planes);
    for (size_t i = 0; i + P <= out.size(); i += P) {
        const double a = out[i + P - 1];
        EXPECT_GE(a, 0.0);
        EXPECT_LE(a, 1.0);
        if (!(a > 0)) continue;
        ++e.shown;
        if (a < 0.5) ++e.faint;
        for (size_t c = 0; c + 1 < P; ++c) {
            const double d = std::fabs(out[i + c] - in[i + c]);
            e.premultiplied = std::max(e.premultiplied, d * a);
            if (opaquePremultiplied >= 0) {
                // The premultiplied error of the opaque render and the single-precision
                // rounding of the premultiplied value, both magnified by the division by alpha,
                // plus one level.
                const double over = d - ((opaquePremultiplied + kPremultipliedRounding) / a + Level(f.depth));
                if (over > e.straight) {
                    e.straight = over;
                    e.worst = "pixel " + std::to_string(i / P) + ": " + std::to_string(out[i + c]) + " for " +
                              std::to_string(in[i + c]) + " at alpha " + std::to_string(a);
                }
            }
        }
    }
    return e;
}

}  // namespace

// A flat colour whose alpha steps from full to 1/16 to 0 comes back that colour wherever the
// blur in linear light (the default) shows it, within what the same render does to the colour
// fully opaque.
TEST(Transparency, FlatColourComesBackWhereverItShows) {
    constexpr int W = 60, H = 12;
    for (const DocumentFormat* f : {&kGrayAlpha8, &kGrayAlpha16, &kGrayAlphaFloat, &kRgba8, &kRgba16, &kRgbaFloat})
        for (Engine engine : {Engine::OutOfFocus, Engine::DepthFar}) {
            SCOPED_TRACE(std::string(f->name) + ", " + EngineName(engine));
            auto settings = [&](ov::pfFilterPelidorn& p) {
                p.Radius.SetValue(100);  // about 8 pixels
                p.GammaCorrection.SetValue(true);
            };
            const auto opaqueIn = FlatColour(*f, W, H, [](int, int) { return 1.0; });
            const auto opaqueOut = RenderDocument(*f, W, H, opaqueIn, Selection(engine, W, H), settings);
            ASSERT_FALSE(opaqueOut.empty());
            const ColourError opaque = Compare(*f, opaqueIn, opaqueOut);
            ASSERT_EQ(opaque.shown, W * H);
            const double sixteenth = Quantised(f->depth, 1.0 / 16);
            const auto in = FlatColour(*f, W, H, [&](int x, int) {
                return x < W / 3 ? 1.0 : x < 2 * W / 3 ? sixteenth : 0.0;
            });
            const auto out = RenderDocument(*f, W, H, in, Selection(engine, W, H), settings);
            ASSERT_FALSE(out.empty());
            const ColourError e = Compare(*f, in, out, opaque.premultiplied);
            EXPECT_GT(e.faint, W * H / 4);  // the blur spread the faint third and the edges
            EXPECT_LE(e.straight, 0.0) << e.worst << " (opaque error " << opaque.premultiplied << ")";
        }
}

// Float alpha outside 0..1 is coverage: 1.5, 20 and 60000 count as 1, -0.5 as 0. A colour of
// 0.25 comes back 0.25 wherever it shows, blurred by either engine or kept in focus, and alpha
// stays within 0..1.
TEST(Transparency, FloatAlphaOutsideZeroToOneIsCoverage) {
    constexpr int W = 48, H = 16;
    const DocumentFormat& f = kRgbaFloat;
    const double blocks[4] = {1.5, 20.0, 60000.0, -0.5};
    std::vector<double> in;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int b = (x - 2) / 12;
            const bool inBlock = x >= 2 && (x - 2) % 12 < 8 && y >= 4 && y < 12;
            in.insert(in.end(), {0.25, 0.25, 0.25, inBlock ? blocks[b] : 1.0});
        }
    for (Engine engine : {Engine::OutOfFocus, Engine::DepthFar, Engine::DepthInFocus}) {
        SCOPED_TRACE(EngineName(engine));
        auto settings = [&](ov::pfFilterPelidorn& p) {
            p.Radius.SetValue(100);
            p.FocalPoint.SetValue(engine == Engine::DepthInFocus ? 200 : 255);
        };
        const auto out = RenderDocument(f, W, H, in, Selection(engine, W, H), settings);
        ASSERT_FALSE(out.empty());
        // The input's alpha as coverage, for the comparison's colour only.
        const ColourError e = Compare(f, in, out, 0.0);
        EXPECT_LE(e.straight, 0.0) << e.worst;
        if (engine == Engine::DepthInFocus) {
            // In focus every pixel keeps its coverage: the -0.5 block is clear, the rest opaque.
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const size_t i = (size_t(y) * W + size_t(x)) * 4;
                    const bool clear = x >= 38 && x < 46 && y >= 4 && y < 12;
                    ASSERT_EQ(out[i + 3], clear ? 0.0 : 1.0) << x << "," << y;
                }
        }
    }
}

// A gray picture (level 60, white 4 x 4 spots) and its RGB twin render alike: the gray sample
// equals each RGB channel, in the blur (whose spots bloom) and in the highlight-selection
// view, in both engines, at every depth, with and without alpha.
TEST(GrayHighlights, GrayPictureRendersAsItsRgbTwin) {
    constexpr int W = 40, H = 20;
    struct Pair {
        const DocumentFormat* gray;
        const DocumentFormat* rgb;
    };
    const Pair pairs[] = {{&kGray8, &kRgb8},           {&kGray16, &kRgb16},         {&kGrayFloat, &kRgbFloat},
                          {&kGrayAlpha8, &kRgba8}, {&kGrayAlpha16, &kRgba16}, {&kGrayAlphaFloat, &kRgbaFloat}};
    struct View {
        Engine engine;
        int show;  // the out-of-focus list: 1 blur, 3 highlight selection; depth: 1 blur, 4 highlight selection
        bool selectionView;
    };
    const View views[] = {{Engine::OutOfFocus, 1, false},
                          {Engine::OutOfFocus, 3, true},
                          {Engine::DepthFar, 1, false},
                          {Engine::DepthFar, 4, true}};
    auto spot = [](int x, int y) { return (x >= 6 && x < 10 && y >= 8 && y < 12) || (x >= 26 && x < 30 && y >= 4 && y < 8); };
    for (const Pair& pair : pairs)
        for (const View& view : views) {
            const bool alpha = pair.gray->planes == 2;
            SCOPED_TRACE(std::string(pair.gray->name) + ", " + EngineName(view.engine) + ", view " +
                         std::to_string(view.show));
            const int32_t depth = pair.gray->depth;
            std::vector<double> gray, rgb;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const double v = spot(x, y) ? 1.0 : Quantised(depth, 60 / 255.0);
                    gray.push_back(v);
                    rgb.insert(rgb.end(), {v, v, v});
                    if (alpha) {
                        // Full on the left, half on the right, where the spots are too dim to count.
                        const double a = x < W / 2 ? 1.0 : 0.5;
                        gray.push_back(a);
                        rgb.push_back(a);
                    }
                }
            auto settings = [&](ov::pfFilterPelidorn& p) {
                p.Radius.SetValue(150);
                p.Show.Select(view.show);
            };
            const auto grayOut = RenderDocument(*pair.gray, W, H, gray, Selection(view.engine, W, H), settings);
            const auto rgbOut = RenderDocument(*pair.rgb, W, H, rgb, Selection(view.engine, W, H), settings);
            ASSERT_FALSE(grayOut.empty());
            ASSERT_FALSE(rgbOut.empty());
            const size_t gp = size_t(pair.gray->planes), rp = size_t(pair.rgb->planes);
            double brightest = 0, worst = 0;
            for (size_t p = 0; p < size_t(W) * H; ++p) {
                for (size_t c = 0; c < 3; ++c)
                    worst = std::max(worst, std::fabs(grayOut[p * gp] - rgbOut[p * rp + c]));
                if (alpha) worst = std::max(worst, std::fabs(grayOut[p * gp + 1] - rgbOut[p * rp + 3]));
                brightest = std::max(brightest, grayOut[p * gp]);
            }
            EXPECT_LE(worst, Level(depth)) << "gray and RGB differ";
            // Both views show the spots: the selection view as they are, the blur bloomed.
            EXPECT_GT(brightest, 0.5);
        }
}
