// The rendered pixels of every one of the 18 host formats, through SelectRenderTemplate: a
// uniform document comes back uniform, at its own depth, in every channel; a small
// non-uniform document in 8 or 16 bits comes back as the float format of the same layout
// renders the same values, within one step of the depth. A dispatch that sends a document to
// another format's instance reads its samples with the wrong type, width or channel count
// and fails both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fake_host.h"
#include "render_document.h"
#include "lens/pelidorn_filter.h"
#include "lens/render_template.h"

namespace {

constexpr int kWidth = 12, kHeight = 8;

struct Format {
    int instance;  // the row of the instance table
    const char* name;
    int16_t mode;
    int32_t depth;
    int16_t planes, layerPlanes, transparency, nonLayerPlanes;
    int floatPartner;  // 8 and 16 bits: the float instance of the same layout (0: a float format)
};

const Format kFormats[] = {
    {1, "two channels + alpha, 8-bit", 3, 8, 3, 2, 1, 0, 3},
    {2, "two channels + alpha, 16-bit", 3, 16, 3, 2, 1, 0, 3},
    {3, "two channels + alpha, float", 3, 32, 3, 2, 1, 0, 0},
    {4, "two channels, 8-bit", 3, 8, 2, 0, 0, 2, 6},
    {5, "two channels, 16-bit", 3, 16, 2, 0, 0, 2, 6},
    {6, "two channels, float", 3, 32, 2, 0, 0, 2, 0},
    {7, "gray + alpha, 8-bit", 1, 8, 2, 1, 1, 0, 9},
    {8, "gray + alpha, 16-bit", 10, 16, 2, 1, 1, 0, 9},
    {9, "gray + alpha, float", 17, 32, 2, 1, 1, 0, 0},
    {10, "gray, 8-bit", 1, 8, 1, 0, 0, 1, 12},
    {11, "gray, 16-bit", 10, 16, 1, 0, 0, 1, 12},
    {12, "gray, float", 17, 32, 1, 0, 0, 1, 0},
    {13, "RGB + alpha, 8-bit", 3, 8, 4, 3, 1, 0, 17},
    {14, "RGB, 8-bit", 3, 8, 3, 0, 0, 3, 18},
    {15, "RGB + alpha, 16-bit", 11, 16, 4, 3, 1, 0, 17},
    {16, "RGB, 16-bit", 11, 16, 3, 0, 0, 3, 18},
    {17, "RGB + alpha, float", 16, 32, 4, 3, 1, 0, 0},
    {18, "RGB, float", 16, 32, 3, 0, 0, 3, 0},
};

// One step of a depth in the 0..1 scale (8-bit 1/255, 16-bit 1/32768, float none).
double Step(int32_t depth) { return depth == 8 ? 1.0 / 255 : depth == 16 ? 1.0 / 32768 : 0.0; }

// How far an 8- or 16-bit render may lie from the float render of the same values: a step of
// the depth for 8 bits; four for 16 bits, whose road keeps 0..32768 in single precision and
// un-premultiplies by alphas down to 0.12 here (measured: up to 2.5 steps). Reading another
// format's samples moves values by tenths of the range.
double Tolerance(int32_t depth) { return (depth == 16 ? 4.0 : 1.0) * Step(depth) + 1e-6; }

// Samples in 0..1: a different value per pixel and plane (alpha included), rounded to the
// grid of `grid` bits (8 or 16), so that a float document can hold what an 8- or 16-bit one
// holds exactly.
double Sample(int x, int y, int plane, bool uniform, int32_t grid) {
    const double v = uniform ? (60.0 + 40.0 * plane) / 255.0 : double(30 + (37 * x + 91 * y + 53 * plane) % 200) / 255.0;
    const double scale = grid == 8 ? 255.0 : 32768.0;
    return std::round(v * scale) / scale;
}

void Store(std::vector<uint8_t>& bytes, size_t index, int32_t depth, double v) {
    lens_test::StoreSample(bytes, index, depth, v);
}

double Load(const std::vector<uint8_t>& bytes, size_t index, int32_t depth) {
    return lens_test::LoadSample(bytes, index, depth);
}

struct Pixels {
    std::vector<double> in, out;  // every sample in 0..1, planes interleaved
};

// The document (on the grid of `grid` bits) as the format holds it, and what the render made
// of it.
Pixels Rendered(const Format& f, bool uniform, int32_t grid) {
    auto filter = std::make_unique<ov::pfFilterPelidorn>("\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5, "desc\n");
    filter->Radius.SetValue(300);  // about 5 pixels on this document
    // Blur in the document's own values: the linear-light road goes through transfer tables of
    // 32768 entries, whose lookups move 16-bit and float values by a few 16-bit steps, more
    // than the step this oracle allows (and less than any other format's misreading moves them).
    filter->GammaCorrection.SetValue(false);
    lens_test::FakeHost host(kWidth, kHeight, f.planes, f.depth);
    host.rec.imageMode = f.mode;
    host.rec.inLayerPlanes = f.layerPlanes;
    host.rec.inTransparencyMask = f.transparency;
    host.rec.inNonLayerPlanes = f.nonLayerPlanes;
    const size_t samples = size_t(kWidth) * kHeight * size_t(f.planes);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int p = 0; p < f.planes; ++p)
                Store(host.in, (size_t(y) * kWidth + size_t(x)) * size_t(f.planes) + size_t(p), f.depth,
                      Sample(x, y, p, uniform, grid));
    EXPECT_EQ(ov::ChooseRenderFormat(host.rec).instance, f.instance) << f.name;
    EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    filter->filterRecord = &host.rec;
    EXPECT_EQ(ov::SelectRenderTemplate(filter.get(), &host.rec), 0) << f.name;
    Pixels pixels{std::vector<double>(samples), std::vector<double>(samples)};
    for (size_t i = 0; i < samples; ++i) {
        pixels.in[i] = Load(host.in, i, f.depth);
        pixels.out[i] = Load(host.out, i, f.depth);
    }
    return pixels;
}

}  // namespace

TEST(RenderFormats, EveryInstanceRendersItsOwnPixels) {
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        const int32_t grid = f.depth == 32 ? 16 : f.depth;
        // Uniform stays uniform, in every channel, at the document's own depth and value.
        const Pixels flat = Rendered(f, true, grid);
        for (size_t i = 0; i < flat.out.size(); ++i)
            ASSERT_NEAR(flat.out[i], flat.in[i], Step(f.depth) + 1e-6) << "sample " << i;
        if (!f.floatPartner) continue;
        // The non-uniform document: what the float format of the layout makes of the same values.
        const Format& partner = kFormats[f.floatPartner - 1];
        const Pixels mine = Rendered(f, false, grid);
        const Pixels theirs = Rendered(partner, false, grid);
        double worst = 0, moved = 0;
        for (size_t i = 0; i < mine.out.size(); ++i) {
            ASSERT_NEAR(mine.in[i], theirs.in[i], 1e-7);  // the same values (float holds them to 1e-8)
            worst = std::max(worst, std::fabs(mine.out[i] - theirs.out[i]));
            moved = std::max(moved, std::fabs(mine.out[i] - mine.in[i]));
        }
        EXPECT_LE(worst, Tolerance(f.depth)) << "against " << partner.name;
        EXPECT_GT(moved, 0.05);  // the blur moved samples well beyond a step
    }
}

namespace {

// A fixed linear congruential sequence: the same cases on every compiler and library.
struct Lcg {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    }
    double Unit() { return Next() / 2147483648.0; }  // 0 <= u < 1
    int Below(int n) { return int(Next() % uint32_t(n)); }
};

// Every parameter set to a random value of its kind: within its limits, or (one time in ten)
// up to a range's width beyond them, which Validate then brings back.
void RandomParameters(ov::pfFilterPelidorn& filter, Lcg& rng) {
    for (int i = 0; i < filter.parameters.GetCount(); ++i) {
        ov::pfParameter* p = filter.parameters.GetParameter(i);
        switch (p->GetKind()) {
        case ov::pfParameterKind::Float: {
            auto* f = static_cast<ov::pfParameterFloat*>(p);
            const double lo = f->GetMinimum(), hi = f->GetMaximum(), w = hi - lo;
            const bool beyond = rng.Below(10) == 0;
            f->SetValue(beyond ? lo - w + 3 * w * rng.Unit() : lo + w * rng.Unit());
            break;
        }
        case ov::pfParameterKind::Int: {
            auto* n = static_cast<ov::pfParameterInt*>(p);
            const int32_t lo = n->GetMinimum(), hi = std::min(n->GetMaximum(), lo + 64);
            n->SetValue(lo + rng.Below(hi - lo + 1));
            break;
        }
        case ov::pfParameterKind::List: {
            auto* l = static_cast<ov::pfParameterList*>(p);
            if (l->GetItemCount() > 0) l->Select(1 + rng.Below(l->GetItemCount()));
            break;
        }
        case ov::pfParameterKind::Bool:
            static_cast<ov::pfParameterBool*>(p)->SetValue(rng.Below(2) == 1);
            break;
        case ov::pfParameterKind::RGB:
            static_cast<ov::pfParameterRGB*>(p)->SetColor(rng.Unit(), rng.Unit(), rng.Unit());
            break;
        default:
            break;
        }
    }
}

}  // namespace

// Random documents of every format (1 to 24 pixels a side, float samples beyond white and not
// finite among them, with or without a selection as iris or depth map) rendered with random
// settings in every view: each render succeeds and writes only samples of its format's range
// (16-bit at most 32768, float finite; a view that shows the document itself may show a
// pixel that is not finite where the document has one, but no blur spreads one). Under the sanitizers this also checks every engine's
// memory accesses across the settings' whole space.
TEST(RenderFormats, RandomDocumentsAndSettingsRenderSoundly) {
    Lcg rng{20261210};
    for (int n = 0; n < 2000; ++n) {
        const Format& f = kFormats[size_t(rng.Below(18))];
        const int w = 1 + rng.Below(24), h = 1 + rng.Below(24);
        const bool mask = rng.Below(2) == 1;
        SCOPED_TRACE(std::string(f.name) + ", case " + std::to_string(n) + ", " + std::to_string(w) + "x" +
                     std::to_string(h) + (mask ? ", selection" : ""));
        auto filter = std::make_unique<ov::pfFilterPelidorn>("\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5, "desc\n");
        lens_test::FakeHost host(w, h, f.planes, f.depth);
        host.rec.imageMode = f.mode;
        host.rec.inLayerPlanes = f.layerPlanes;
        host.rec.inTransparencyMask = f.transparency;
        host.rec.inNonLayerPlanes = f.nonLayerPlanes;
        const size_t samples = size_t(w) * size_t(h) * size_t(f.planes);
        for (size_t i = 0; i < samples; ++i) {
            double v = rng.Unit();
            if (f.depth == 32) {
                const int odd = rng.Below(50);
                if (odd == 0) v = std::numeric_limits<double>::quiet_NaN();
                else if (odd == 1) v = std::numeric_limits<double>::infinity();
                else if (odd < 6) v *= 20.0;
            }
            Store(host.in, i, f.depth, v);
        }
        if (mask) {
            host.rec.haveMask = 1;
            host.mask.resize(size_t(w) * size_t(h));
            for (auto& m : host.mask) m = uint8_t(rng.Below(256));
        }
        filter->PrepareScriptRead(&host.rec);
        RandomParameters(*filter, rng);
        filter->parameters.ValidateAll();
        ASSERT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
        filter->filterRecord = &host.rec;
        ASSERT_EQ(ov::SelectRenderTemplate(filter.get(), &host.rec), 0)
            << "view " << filter->Show.GetSelection() << ", radius " << filter->Radius.GetValue();
        // Whether every sample of the pixel of sample i is finite in the document.
        auto finitePixel = [&](size_t i) {
            const size_t first = i / size_t(f.planes) * size_t(f.planes);
            for (size_t j = first; j < first + size_t(f.planes); ++j)
                if (!std::isfinite(Load(host.in, j, f.depth))) return false;
            return true;
        };
        for (size_t i = 0; i < samples; ++i) {
            const double v = Load(host.out, i, f.depth);
            if (f.depth == 16) {
                ASSERT_LE(v, 1.0) << "sample " << i;
            } else if (f.depth == 32 && finitePixel(i)) {
                ASSERT_TRUE(std::isfinite(v)) << "sample " << i << " of " << Load(host.in, i, f.depth) << ", view "
                                              << filter->Show.GetSelection() << ", radius " << filter->Radius.GetValue();
            }
        }
    }
}
