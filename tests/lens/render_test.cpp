// The format table of SelectRenderTemplate (with the mended plane cap),
// the engine choice, the settings blocks' values and Render's answers.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "fake_host.h"
#include "lens/pelidorn_filter.h"
#include "lens/render.h"
#include "lens/render_template.h"
#include "lens/settings_blocks.h"

using ov::RenderFormat;
using ov::SampleType;

namespace {

FilterRecord Record(int16_t mode, int32_t depth, int16_t planes, int16_t layer, int16_t transparency,
                    int16_t nonLayer = 0) {
    FilterRecord r{};
    r.imageMode = mode;
    r.depth = depth;
    r.planes = planes;
    r.inLayerPlanes = layer;
    r.inTransparencyMask = transparency;
    r.inNonLayerPlanes = nonLayer;
    return r;
}

std::unique_ptr<ov::pfFilterPelidorn> MakeFilter() {
    return std::make_unique<ov::pfFilterPelidorn>("\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5, "desc\n");
}

}  // namespace

TEST(SelectRenderTemplate, FormatTable) {
    struct Row {
        FilterRecord record;
        bool supported;
        SampleType sample;
        int channels;
        bool alpha;
        int pixelBytes;
        int instance;
        const char* what;
    };
    const Row rows[] = {
        {Record(1, 8, 1, 0, 0, 1), true, SampleType::U8, 1, false, 1, 10, "8-bit gray"},
        {Record(11, 16, 4, 3, 1), true, SampleType::U16, 3, true, 8, 15, "RGB48 with transparency"},
        {Record(3, 8, 3, 3, 1), true, SampleType::U8, 3, false, 3, 14, "transparency flagged, planes = layer planes"},
        {Record(3, 8, 4, 0, 1), true, SampleType::U8, 3, true, 4, 13, "transparency, no layer planes, 4 planes"},
        {Record(7, 8, 5, 0, 0), true, SampleType::U8, 3, false, 5, 14, "multichannel with 5 planes"},
        {Record(7, 16, 5, 0, 0), true, SampleType::U16, 3, false, 10, 16, "deep multichannel planes"},
        {Record(3, 0, 3, 0, 0, 3), true, SampleType::U8, 3, false, 3, 14, "depth 0 is 8-bit"},
        {Record(17, 32, 2, 1, 1), true, SampleType::F32, 1, true, 8, 9, "gray 32 with alpha"},
        {Record(16, 32, 3, 0, 0, 3), true, SampleType::F32, 3, false, 12, 18, "RGB96"},
        {Record(16, 32, 4, 3, 1), true, SampleType::F32, 3, true, 16, 17, "RGB96 with alpha"},
        {Record(10, 16, 1, 0, 0, 1), true, SampleType::U16, 1, false, 2, 11, "gray 16"},
        {Record(3, 8, 2, 0, 0, 2), true, SampleType::U8, 2, false, 2, 4, "RGB mode, two planes"},
        {Record(3, 16, 3, 2, 1), true, SampleType::U16, 2, true, 6, 2, "two layer planes with alpha"},
        {Record(3, 32, 3, 2, 1), true, SampleType::F32, 2, true, 12, 3, "two float planes with alpha"},
        {Record(3, 32, 2, 0, 0, 2), true, SampleType::F32, 2, false, 8, 6, "two float planes"},
        {Record(1, 8, 2, 1, 1), true, SampleType::U8, 1, true, 2, 7, "gray with alpha"},
        {Record(10, 16, 2, 1, 1), true, SampleType::U16, 1, true, 4, 8, "gray 16 with alpha"},
        {Record(3, 16, 3, 0, 0, 3), true, SampleType::U16, 3, false, 6, 16, "RGB 16 in mode 3"},
        {Record(3, 8, 2, 2, 1), true, SampleType::U8, 2, false, 2, 4, "two layer planes, no room for alpha"},
        // Mended: transparency with inLayerPlanes 0 and three planes would read a fourth sample.
        {Record(3, 8, 3, 0, 1), true, SampleType::U8, 3, false, 3, 14, "mend: channels + alpha must fit"},
        {Record(1, 8, 1, 0, 1), true, SampleType::U8, 1, false, 1, 10, "mend: gray, one plane, transparency"},
        // Mended: more channels than planes.
        {Record(3, 8, 2, 0, 0, 3), true, SampleType::U8, 2, false, 2, 4, "mend: channels capped at planes"},
        // Unsupported.
        {Record(0, 8, 1, 0, 0, 1), false, SampleType::U8, 0, false, 0, 0, "bitmap"},
        {Record(2, 8, 1, 0, 0, 1), false, SampleType::U8, 0, false, 0, 0, "indexed"},
        {Record(4, 8, 4, 0, 0, 4), false, SampleType::U8, 0, false, 0, 0, "CMYK"},
        {Record(8, 8, 1, 0, 0, 1), false, SampleType::U8, 0, false, 0, 0, "duotone"},
        {Record(9, 8, 3, 0, 0, 3), false, SampleType::U8, 0, false, 0, 0, "Lab"},
        {Record(12, 16, 3, 0, 0, 3), false, SampleType::U8, 0, false, 0, 0, "Lab48"},
        {Record(13, 16, 4, 0, 0, 4), false, SampleType::U8, 0, false, 0, 0, "CMYK64"},
        {Record(3, 1, 3, 0, 0, 3), false, SampleType::U8, 0, false, 0, 0, "depth 1"},
        {Record(3, 24, 3, 0, 0, 3), false, SampleType::U8, 0, false, 0, 0, "depth 24"},
        {Record(3, 8, 0, 0, 0, 0), false, SampleType::U8, 0, false, 0, 0, "no planes"},
    };
    for (const Row& row : rows) {
        const RenderFormat f = ov::ChooseRenderFormat(row.record);
        EXPECT_EQ(f.supported, row.supported) << row.what;
        if (!row.supported) continue;
        EXPECT_EQ(int(f.sample), int(row.sample)) << row.what;
        EXPECT_EQ(f.channels, row.channels) << row.what;
        EXPECT_EQ(f.alpha, row.alpha) << row.what;
        EXPECT_EQ(f.pixelBytes, row.pixelBytes) << row.what;
        EXPECT_EQ(f.instance, row.instance) << row.what;
        // The format never reads more samples than the host's pixel holds.
        EXPECT_LE(f.channels + (f.alpha ? 1 : 0), row.record.planes) << row.what;
    }
}

TEST(SelectRenderTemplate, UnsupportedDocumentRendersNothingAndAnswersZero) {
    auto f = MakeFilter();
    lens_test::FakeHost host(4, 4, 4);
    host.rec.imageMode = plugInModeCMYKColor;
    ASSERT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    f->filterRecord = &host.rec;
    EXPECT_EQ(ov::SelectRenderTemplate(f.get(), &host.rec), 0);
    for (uint8_t v : host.out) EXPECT_EQ(v, 0);
}

TEST(Render, EngineChoice) {
    auto f = MakeFilter();
    uint8_t maskByte = 0;
    const ov::ImgMask8 mask(&maskByte, 1, 1, 1, 0, 0, false, 1, 1, 1, true, 1);
    const ov::ImgMask8 noMask(nullptr, 1, 1, 1, 0, 0, false, 1, 1, 1, false, 1);
    EXPECT_EQ(ov::ChooseEngine(*f, mask), ov::RenderEngine::DepthOfField);
    EXPECT_EQ(ov::ChooseEngine(*f, noMask), ov::RenderEngine::OutOfFocus);
    f->SelectionIs.Select(2);
    EXPECT_EQ(ov::ChooseEngine(*f, mask), ov::RenderEngine::OutOfFocus);
    EXPECT_EQ(ov::ChooseEngine(*f, noMask), ov::RenderEngine::OutOfFocus);
}

TEST(Render, DepthMapDocumentRunsTheDepthOfFieldEngine) {
    // "depth buffer": the selection, read as depth map, drawn as gray (depth curve 1).
    auto f = MakeFilter();
    lens_test::FakeHost host(6, 4, 3);
    host.rec.haveMask = 1;
    host.mask.assign(6 * 4, 0);
    for (size_t i = 0; i < host.mask.size(); i += 2) host.mask[i] = 255;
    ASSERT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    f->filterRecord = &host.rec;
    f->Show.Select(3);
    ASSERT_EQ(f->Render(&host.rec), 0);
    for (size_t i = 0; i < 6 * 4; ++i)
        for (size_t c = 0; c < 3; ++c) EXPECT_EQ(host.out[i * 3 + c], i % 2 == 0 ? 255 : 0) << i;
    // "normal blur" with a radius runs the tile renderer, which writes every pixel.
    std::fill(host.out.begin(), host.out.end(), uint8_t(7));
    f->Show.Select(1);
    EXPECT_EQ(f->Render(&host.rec), 0);
}

TEST(Render, EmptyDestinationRendersNothing) {
    // Mended scale accessor: a 3x3 image set up at scale 4 has an empty output rectangle.
    auto f = MakeFilter();
    lens_test::FakeHost host(3, 3, 3);
    ASSERT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 4), 0);
    f->filterRecord = &host.rec;
    EXPECT_EQ(f->GetScaleFactorX(), 4);
    EXPECT_EQ(ov::SelectRenderTemplate(f.get(), &host.rec), 0);
}

TEST(Render, EmptyViewOfEachFormat) {
    const auto rgb8 = ov::EmptyView<ov::ImgHostRGB_U8>();
    EXPECT_EQ(rgb8.pixelBytes, 3);
    EXPECT_EQ(rgb8.data, nullptr);
    EXPECT_EQ(rgb8.valid, 1);
    EXPECT_EQ(rgb8.width, 0u);
    EXPECT_EQ(rgb8.scale, 1.0);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostTwoChA_U8>().pixelBytes, 3);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostTwoChA_U16>().pixelBytes, 6);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostTwoCh_F1>().pixelBytes, 8);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostGray_U8>().pixelBytes, 1);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostGrayA_U16>().pixelBytes, 4);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostRGBA_F1>().pixelBytes, 16);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostRGB_U16>().pixelBytes, 6);
    EXPECT_EQ(ov::EmptyView<ov::ImgHostRGB_F1>().pixelBytes, 12);
}

// ---- settings blocks ----------------------------------------------------------------------------

namespace {

struct Scaled {
    std::unique_ptr<ov::pfFilterPelidorn> filter = MakeFilter();
    lens_test::FakeHost host;
    Scaled(int w, int h, uint32_t scale) : host(w, h, 3) {
        ov::pfFilter::SetupFilterRecord(&host.rec, scale);
        filter->filterRecord = &host.rec;
    }
    uint32_t W() const { return uint32_t(host.rec.outRect.right); }
    uint32_t H() const { return uint32_t(host.rec.outRect.bottom); }
};

}  // namespace

TEST(SettingsBlocks, BlurRadiusRelativeToAnEightHundredPixelDiagonal) {
    Scaled full(1600, 1200, 1);
    Scaled preview(1600, 1200, 4);
    const auto a = ov::MakeOutOfFocusParams(*full.filter, full.W(), full.H());
    const auto b = ov::MakeOutOfFocusParams(*preview.filter, preview.W(), preview.H());
    EXPECT_EQ(a.blur_radius, 12.5);
    EXPECT_EQ(b.blur_radius, 12.5);
    EXPECT_EQ(b.scale_x, 4.0);
    const auto d = ov::MakeDepthOfFieldParams(*full.filter, full.W(), full.H());
    EXPECT_EQ(d.blur_radius, 12.5);
    // Whole-number scale factors: 1000 wide shown 300 wide is 3.
    lens_test::FakeHost host(1000, 600, 3);
    auto f = MakeFilter();
    host.rec.outRect = {0, 0, 200, 300};
    host.rec.imageSize = {600, 1000};
    f->filterRecord = &host.rec;
    EXPECT_EQ(ov::MakeOutOfFocusParams(*f, 300, 200).scale_x, 3.0);
    // The preview level is added to both factors.
    f->SetPreviewLevel(2);
    const auto p = ov::MakeOutOfFocusParams(*f, 300, 200);
    EXPECT_EQ(p.scale_x, 5.0);
    EXPECT_EQ(p.scale_y, 5.0);
    EXPECT_EQ(ov::MakeDepthOfFieldParams(*f, 300, 200).scale_y, 5.0);
    // Radius 0 gives 0 on both paths.
    full.filter->Radius.SetValue(0);
    EXPECT_EQ(ov::MakeOutOfFocusParams(*full.filter, full.W(), full.H()).blur_radius, 0.0);
    EXPECT_EQ(ov::MakeDepthOfFieldParams(*full.filter, full.W(), full.H()).blur_radius, 0.0);
}

TEST(SettingsBlocks, IrisAngleColourEdgesAndConstants) {
    Scaled s(100, 100, 1);
    auto& f = *s.filter;
    f.IrisAngle.SetValue(90);
    EXPECT_EQ(ov::MakeOutOfFocusParams(f, 100, 100).iris_angle, 90 * -std::numbers::pi * 2 * (1.0 / 360));
    EXPECT_NEAR(ov::MakeOutOfFocusParams(f, 100, 100).iris_angle, -std::numbers::pi / 2, 1e-15);
    f.IrisAngle.SetValue(-45);
    EXPECT_NEAR(ov::MakeDepthOfFieldParams(f, 100, 100).iris_angle, std::numbers::pi / 4, 1e-15);
    const auto o = ov::MakeOutOfFocusParams(f, 100, 100);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(o.outside_color[i], 1.0f);
    EXPECT_EQ(o.edge_mode_x, 2);
    EXPECT_EQ(o.edge_mode_y, 2);
    EXPECT_EQ(o.refraction_amount, 0.0);
    EXPECT_EQ(o.refraction_samples, 0);
    EXPECT_EQ(o.keep_color, 0);
    EXPECT_EQ(o.gamma_correction, 1);
    EXPECT_EQ(o.iris_facets, 5);
    EXPECT_EQ(o.iris_border, 0.2);
    EXPECT_EQ(o.iris_roundness, 1.0);
    EXPECT_EQ(o.highlight_preservative, 5.0);
    EXPECT_EQ(o.highlight_additive, 0.0);
    f.ColorOutside.SetColor(0.1, 0.5, 0.9);
    f.Outside.Select(4);
    const auto d = ov::MakeDepthOfFieldParams(f, 100, 100);
    EXPECT_EQ(d.outside_color[0], 0.1f);
    EXPECT_EQ(d.outside_color[1], 0.5f);
    EXPECT_EQ(d.outside_color[2], 0.9f);
    EXPECT_EQ(d.outside_color[3], 1.0f);
    EXPECT_EQ(d.edge_mode_x, 4);
    EXPECT_EQ(d.edge_mode_y, 4);
    EXPECT_EQ(d.depth_mode, 1);
    EXPECT_EQ(d.depth_low, 0.0);
    EXPECT_EQ(d.depth_high, 1.0);
    EXPECT_EQ(d.radius_table, nullptr);
    EXPECT_EQ(d.focal_point, 255.0);
    EXPECT_EQ(d.depth_curve, 1.0);
    EXPECT_EQ(d.depth_invert, 0);
}

// Every control of the depth-of-field road reaches its own field: all set at once to values
// that differ from their defaults and from each other, so a dropped or swapped field shows.
TEST(SettingsBlocks, EachDepthOfFieldControlReachesItsField) {
    Scaled s(100, 100, 1);
    auto& f = *s.filter;
    f.FocalPoint.SetValue(100);
    f.DepthCurve.SetValue(2.5);
    f.DepthInvert.SetValue(true);
    f.GammaCorrection.SetValue(false);
    f.IrisFacets.SetValue(7);
    f.IrisRoundFacets.SetValue(0.3);
    f.IrisBorder.SetValue(0.6);
    f.IrisBorderBrightness.SetValue(-0.4);
    f.IrisAspect.SetValue(0.45);
    f.HighlightPreservative.SetValue(11);
    const auto d = ov::MakeDepthOfFieldParams(f, 100, 100);
    EXPECT_EQ(d.focal_point, 100.0);
    EXPECT_EQ(d.depth_curve, 2.5);
    EXPECT_EQ(d.depth_invert, 1);
    EXPECT_EQ(d.gamma_correction, 0);
    EXPECT_EQ(d.iris_facets, 7);
    EXPECT_EQ(d.iris_roundness, 0.3);
    EXPECT_EQ(d.iris_border, 0.6);
    EXPECT_EQ(d.iris_border_brightness, -0.4);
    EXPECT_EQ(d.iris_aspect, 0.45);
    EXPECT_EQ(d.highlight_preservative, 11.0);
}

TEST(SettingsBlocks, ViewAndMaskMode) {
    struct Row {
        int show;
        int oofView;
        int oofMask;
        int dofView;
        int dofMask;
    };
    const Row rows[] = {{1, 1, 0, 1, 0}, {2, 2, 0, 2, 0}, {3, 3, 0, 3, 0}, {4, 4, 1, 4, 0},
                        {5, 5, 0, 5, 1}, {6, 9, 0, 6, 0}, {7, 9, 0, 7, 0}};
    for (const Row& row : rows) {
        Scaled s(10, 10, 1);
        s.filter->Show.Select(row.show);  // the full list after construction
        const auto o = ov::MakeOutOfFocusParams(*s.filter, 10, 10);
        const auto d = ov::MakeDepthOfFieldParams(*s.filter, 10, 10);
        EXPECT_EQ(o.view, row.oofView) << row.show;
        EXPECT_EQ(o.highlight_selection.maskMode, row.oofMask) << row.show;
        EXPECT_EQ(d.view, row.dofView) << row.show;
        EXPECT_EQ(d.highlight_selection.maskMode, row.dofMask) << row.show;
        EXPECT_EQ(o.highlight_selection.enabled, 1);
        EXPECT_EQ(d.highlight_selection.enabled, 1);
    }
}

TEST(SettingsBlocks, HighlightSelectionWindow) {
    Scaled s(10, 10, 1);
    s.filter->HighlightPreservative.SetValue(0);  // enable stays 1
    s.filter->HighlightSelectionSoften.SetValue(2);
    s.filter->HighlightSelectionClimax.SetValue(-0.5);
    const auto h = ov::MakeOutOfFocusParams(*s.filter, 10, 10).highlight_selection;
    EXPECT_EQ(h.enabled, 1);
    EXPECT_EQ(h.hueLow, 0.0);
    EXPECT_EQ(h.hueHigh, 1.0);
    EXPECT_EQ(h.hueClimax, 1.0);
    EXPECT_EQ(h.hueSoften, 0.0);
    EXPECT_EQ(h.saturationLow, 0.0);
    EXPECT_EQ(h.saturationHigh, 1.0);
    EXPECT_EQ(h.saturationClimax, 1.0);
    EXPECT_EQ(h.saturationSoften, 0.0);
    EXPECT_EQ(h.lightnessLow, 200 * (1.0 / 255));
    EXPECT_NEAR(h.lightnessLow, 0.784313725, 1e-9);
    EXPECT_EQ(h.lightnessHigh, 255 * (1.0 / 255));
    EXPECT_EQ(h.lightnessClimax, -0.5);
    EXPECT_EQ(h.lightnessSoften, 2.0);
    EXPECT_EQ(h.hueOffset + h.saturationOffset + h.lightnessOffset, 0.0);
}

TEST(Render, RequestBeyondTheHostsThirtyTwoBitSizeIsOutOfMemory) {
    // Mend: sizes are computed in 64 bits; a 30000 x 30000 RGBA float document needs blocks
    // far above 4 GiB, which the host's 32-bit Buffer suite cannot give: -108, nothing
    // allocated, the (tiny) host buffers never touched.
    auto f = MakeFilter();
    lens_test::FakeHost host(1, 1, 4, 32);
    host.rec.imageMode = plugInModeRGB96;
    host.rec.imageSize = {30000, 30000};
    host.rec.inLayerPlanes = 3;
    host.rec.inTransparencyMask = 1;
    host.rec.inNonLayerPlanes = 0;
    ASSERT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    f->filterRecord = &host.rec;
    f->Radius.SetValue(5);
    EXPECT_EQ(f->Render(&host.rec), -108);
}
