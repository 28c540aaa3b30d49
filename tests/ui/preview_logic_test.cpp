// The dialog's window-free rules: zoom, the preview bitmap, the render turn, numeric and angle
// fields, placement, registry data and the last used values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "host/parameter.h"
#include "ui/preview_logic.h"

namespace ov::ui {
namespace {

TEST(Zoom, FactorsLabelsAndRatios) {
  struct Case {
    int32_t factor;
    uint32_t level;
    const char* label;
    double ratio;
    int32_t effective;
  } cases[] = {
      {1, 0, "100%", 1.0, 1},          {3, 0, "33.33%", 1.0, 3},        {2, 0, "50%", 1.0, 2},
      {0, 0, "133.3%", 0.75, 1},       {-1, 0, "200%", 0.5, 1},         {-2, 0, "266.7%", 0.375, 1},
      {2, 1, "50%", 2.0 / 3.0, 3},     {0, 1, "133.3%", 0.375, 2},
  };
  for (const Case& c : cases) {
    const Zoom z = ComputeZoom(c.factor, c.level);
    EXPECT_EQ(ZoomLabelText(z.label), c.label) << c.factor;
    EXPECT_DOUBLE_EQ(z.displayRatio, c.ratio) << c.factor << " " << c.level;
    EXPECT_EQ(z.effectiveFactor, c.effective) << c.factor;
  }
  // A coarser proxy keeps the apparent size: proxy size / ratio is the same at level 0 and 1.
  const double full = 600.0 / 2 / ComputeZoom(2, 0).displayRatio;
  const double coarse = 600.0 / 3 / ComputeZoom(2, 1).displayRatio;
  EXPECT_DOUBLE_EQ(full, coarse);
}

TEST(Zoom, FitStrideAndRecentre) {
  EXPECT_EQ(FitFactor(400, 100, 400, 400), 2); // fits exactly: the next factor
  EXPECT_EQ(FitFactor(399, 399, 400, 400), 1);
  EXPECT_EQ(FitFactor(1000, 3000, 400, 400), 8);
  EXPECT_EQ(FitFactor(100, 100, 0, 400), 1);
  EXPECT_EQ(BufferStride(64), 96);
  EXPECT_EQ(BufferStride(63), 64);
  EXPECT_EQ(BufferStride(1), 32);
  // All of a 100-pixel proxy visible in a 400-pixel frame: the centre is its middle.
  EXPECT_EQ(ViewCentre(400, 1.0, 37, 100), 50);
  // A 1000-pixel proxy panned by 100: centre 300; halving the proxy keeps that point centred.
  const int32_t c = ViewCentre(400, 1.0, 100, 1000);
  EXPECT_EQ(c, 300);
  EXPECT_EQ(PanForCentre(c, 500, 1000, 1.0, 400), 150 - 200);
  EXPECT_EQ(PanForCentre(c, 500, 0, 1.0, 400), 0);
}

// A host output of w x h pixels in one format.
struct Output {
  FilterRecord record{};
  std::vector<uint8_t> data;
  Output(int w, int h, int16_t mode, int32_t depth, int16_t colours, bool alpha) {
    record.imageMode = mode;
    record.depth = depth;
    record.planes = int16_t(colours + (alpha ? 1 : 0));
    if (alpha) {
      record.inLayerPlanes = colours;
      record.inTransparencyMask = 1;
    } else {
      record.inNonLayerPlanes = colours;
    }
    record.outRect = Rect{0, 0, int16_t(h), int16_t(w)};
    record.imageSize = Point{int16_t(h), int16_t(w)};
    const int bytes = depth == 16 ? 2 : depth == 32 ? 4 : 1;
    record.outRowBytes = w * record.planes * bytes;
    data.assign(size_t(record.outRowBytes) * h, 0);
    record.outData = data.data();
  }
  template <typename T>
  void Set(int x, int y, int plane, T v) {
    std::memcpy(data.data() + size_t(y) * record.outRowBytes + (size_t(x) * record.planes + plane) * sizeof(T), &v,
                sizeof(T));
  }
};

TEST(DrawToPreview, SamplesBecomeClampedBytes) {
  struct Case {
    int32_t depth;
    double sample;
    uint8_t expected;
  } cases[] = {
      {8, 200, 200},      {16, 32768, 255},  {16, 16384, 127}, {16, 65535, 255},
      {32, 1.5, 255},     {32, 0.5, 127},    {32, -0.25, 0},   {32, std::numeric_limits<double>::quiet_NaN(), 0},
      {32, -1e30, 0},
  };
  for (const Case& c : cases) {
    Output out(1, 1, c.depth == 8 ? 1 : c.depth == 16 ? 10 : 17, c.depth, 1, false);
    if (c.depth == 8) out.Set<uint8_t>(0, 0, 0, uint8_t(c.sample));
    else if (c.depth == 16) out.Set<uint16_t>(0, 0, 0, uint16_t(c.sample));
    else out.Set<float>(0, 0, 0, float(c.sample));
    std::vector<uint8_t> bitmap(32 * 3, 77);
    ASSERT_TRUE(DrawToPreviewBuffer(out.record, bitmap.data(), 32, 1, false));
    EXPECT_EQ(bitmap[0], c.expected) << c.depth << " " << c.sample;
    EXPECT_EQ(bitmap[1], c.expected);
    EXPECT_EQ(bitmap[2], c.expected);
  }
}

TEST(DrawToPreview, ByteOrderRowOrderAndCheckerboard) {
  // RGB: bottom-up BGR without the host's display callback, top-down RGB with it.
  Output rgb(2, 2, 3, 8, 3, false);
  rgb.Set<uint8_t>(0, 0, 0, 10);
  rgb.Set<uint8_t>(0, 0, 1, 20);
  rgb.Set<uint8_t>(0, 0, 2, 30);
  std::vector<uint8_t> b(32 * 2 * 3, 0);
  ASSERT_TRUE(DrawToPreviewBuffer(rgb.record, b.data(), 32, 2, false));
  EXPECT_EQ((std::vector<uint8_t>{b[96], b[97], b[98]}), (std::vector<uint8_t>{30, 20, 10}));
  ASSERT_TRUE(DrawToPreviewBuffer(rgb.record, b.data(), 32, 2, true));
  EXPECT_EQ((std::vector<uint8_t>{b[0], b[1], b[2]}), (std::vector<uint8_t>{10, 20, 30}));

  // Grey with alpha 0 everywhere: the board alone, squares of 16 full-image pixels. The proxy
  // is a quarter of the image, so its squares are 4 proxy pixels wide.
  Output grey(16, 8, 1, 8, 1, true);
  grey.record.imageSize = Point{32, 64};
  std::vector<uint8_t> g(32 * 8 * 3, 0);
  ASSERT_TRUE(DrawToPreviewBuffer(grey.record, g.data(), 32, 8, true));
  auto at = [&](int x, int y) { return g[(size_t(y) * 32 + x) * 3]; };
  EXPECT_EQ(at(0, 0), 208);
  EXPECT_EQ(at(3, 3), 208);
  EXPECT_EQ(at(4, 0), 255);
  EXPECT_EQ(at(0, 4), 255);
  EXPECT_EQ(at(4, 4), 208);
  // Opaque pixels show their own value.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) grey.Set<uint8_t>(x, y, 1, 255);
  grey.Set<uint8_t>(5, 5, 0, 42);
  ASSERT_TRUE(DrawToPreviewBuffer(grey.record, g.data(), 32, 8, true));
  EXPECT_EQ(at(5, 5), 42);
  EXPECT_EQ(at(4, 0), 0);
}

TEST(DrawToPreview, RefusesWithoutBufferDataOrKnownMode) {
  Output out(4, 4, 3, 8, 3, false);
  std::vector<uint8_t> b(32 * 4 * 3, 9);
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, nullptr, 32, 4, false));
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 2, 4, false)); // larger than the bitmap
  out.record.imageMode = 2;                                              // indexed
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 32, 4, false));
  out.record.imageMode = 3;
  out.record.outData = nullptr;
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 32, 4, false));
  EXPECT_EQ(b[0], 9);
}

TEST(PreviewPoint, CentredAndPannedImages) {
  const FrameGeometry frame{10, 20, 400, 300};
  double u, v;
  // A 200 x 100 image in a 400 x 300 frame is centred: the frame's centre is (0.5, 0.5).
  PreviewToImagePoint(frame, 200, 100, 1.0, 0, 0, 10 + 200, 20 + 150, u, v);
  EXPECT_DOUBLE_EQ(u, 0.5);
  EXPECT_DOUBLE_EQ(v, 0.5);
  // A 1000 x 600 image panned by 100 horizontally; the vertical pan counts from the bottom.
  PreviewToImagePoint(frame, 1000, 600, 1.0, 100, 0, 10, 20, u, v);
  EXPECT_DOUBLE_EQ(u, 0.1);
  EXPECT_DOUBLE_EQ(v, 0.5); // pan 0 from the bottom: the frame's top is row 300 of 600
  EXPECT_DOUBLE_EQ(TitleCoordinate(0.33333, 300, 2), 199.9);
}

TEST(RenderTurn, InterruptedRendersGoCoarserAndEndWithAFullOne) {
  std::vector<uint32_t> levels;
  std::vector<int16_t> answers;
  size_t next = 0;
  int shows = 0, reassigns = 0;
  RenderHooks hooks{[&](uint32_t level) {
                      levels.push_back(level);
                      return next < answers.size() ? answers[next++] : int16_t(0);
                    },
                    [&] { ++reassigns; }, [&] { ++shows; }};
  uint32_t level = 0;
  bool changed = true;
  answers = {-128, -128, 0, 0};
  EXPECT_EQ(RunRenderTurn(level, 0, changed, hooks), 0);
  EXPECT_EQ(levels, (std::vector<uint32_t>{0, 1, 2, 0}));
  EXPECT_EQ(shows, 2);
  EXPECT_EQ(reassigns, 3);
  EXPECT_EQ(level, 0u);
  EXPECT_FALSE(changed);

  // Nothing changed: nothing renders.
  levels.clear();
  EXPECT_EQ(RunRenderTurn(level, 0, changed, hooks), 0);
  EXPECT_TRUE(levels.empty());

  // Another failure keeps the last image and ends the turn.
  changed = true;
  answers = {-108};
  next = 0;
  shows = 0;
  EXPECT_EQ(RunRenderTurn(level, 0, changed, hooks), -108);
  EXPECT_EQ(levels, (std::vector<uint32_t>{0}));
  EXPECT_EQ(shows, 0);

  // A change arriving during a render is rendered again at once.
  levels.clear();
  answers.clear();
  int changesLeft = 1;
  RenderHooks again{[&](uint32_t l) {
                      levels.push_back(l);
                      if (changesLeft-- > 0) changed = true;
                      return int16_t(0);
                    },
                    [] {}, [] {}};
  changed = true;
  RunRenderTurn(level, 0, changed, again);
  EXPECT_EQ(levels.size(), 2u);
}

TEST(NumericFields, TypedTextAndTrackbarUnits) {
  struct Parse {
    const char* text;
    bool ok;
    double value;
  } parses[] = {
      {"12", true, 12},   {" 12", true, 12}, {"1e-1", true, 0.1}, {"-3", true, -3},   {"12abc", false, 0},
      {"12 ", false, 0},  {"", false, 0},    {"abc", false, 0},   {"nan", false, 0},  {"inf", false, 0},
      {"-INF", false, 0}, {"1e999", false, 0}, {"NaN(1)", false, 0},
  };
  for (const Parse& p : parses) {
    double v = -99;
    EXPECT_EQ(ParseFieldNumber(p.text, v), p.ok) << p.text;
    if (p.ok) EXPECT_DOUBLE_EQ(v, p.value) << p.text;
    else EXPECT_EQ(v, -99) << p.text;
  }
  EXPECT_EQ(FormatFloatField(5), "5");
  EXPECT_EQ(FormatFloatField(0.2), "0.2");
  EXPECT_EQ(FormatFloatField(1234567), "1.23457e+06");
  EXPECT_EQ(FormatFloatField(0.123456789), "0.123457");
  EXPECT_EQ(FloatTrackbarPosition(2.555), 255);
  EXPECT_EQ(FloatTrackbarPosition(-0.75), -75);
  EXPECT_EQ(FloatTrackbarPosition(1e300), INT32_MAX);
  EXPECT_EQ(IntPageSize(3, 15), 1);
  EXPECT_EQ(IntPageSize(0, 5), 1);
  EXPECT_EQ(FloatPageSize(0, 255), 2550);
  EXPECT_EQ(FloatPageSize(0, 3), 30);
  EXPECT_EQ(FloatPageSize(-0.75, 0.75), 15);
  // Radius: 0 hard, 50 soft; IrisRoundFacets 0..1 hard.
  EXPECT_EQ(ClampTypedFloat(80, 0, true, 50, false), 80);
  EXPECT_EQ(ClampTypedFloat(-3, 0, true, 50, false), 0);
  EXPECT_EQ(ClampTypedFloat(1.5, 0, true, 1, true), 1);
  EXPECT_EQ(TypedInt(7.9), 7);
  EXPECT_EQ(TypedInt(-7.9), -7);
  EXPECT_EQ(TypedInt(1e12), INT32_MAX);
}

TEST(Angle, TurnsDegreesAndDialPoints) {
  int32_t t;
  double d;
  SplitTurns(725, t, d);
  EXPECT_EQ(t, 2);
  EXPECT_DOUBLE_EQ(d, 5);
  SplitTurns(-30, t, d);
  EXPECT_EQ(t, -1);
  EXPECT_DOUBLE_EQ(d, 330);
  EXPECT_EQ(FormatDegrees(45), "45.00");
  EXPECT_EQ(FormatDegrees(40), "40.00");

  double a;
  EXPECT_FALSE(AngleFromDialPoint(0, 0, 0, a));
  ASSERT_TRUE(AngleFromDialPoint(0, 10, 0, a));
  EXPECT_NEAR(a, 90.00000000257, 1e-9);
  ASSERT_TRUE(AngleFromDialPoint(0, 0, 10, a));
  EXPECT_DOUBLE_EQ(a, 180.0);
  // Straight left of the centre from 0: the direction nearest to the current value, -90.
  ASSERT_TRUE(AngleFromDialPoint(0, -10, 0, a));
  EXPECT_NEAR(a, -90.0, 1e-8);
  ASSERT_TRUE(AngleFromDialPoint(200, -10, 0, a));
  EXPECT_NEAR(a, 270.0, 1e-8);
  // Across the top: from 350 a point just right of the top continues past 360 ...
  ASSERT_TRUE(AngleFromDialPoint(350, 1, -20, a));
  EXPECT_GT(a, 360);
  EXPECT_LT(a, 365);
  // ... and from there a point just left of the top comes back below 360.
  ASSERT_TRUE(AngleFromDialPoint(a, -1, -20, a));
  EXPECT_LT(a, 360);
  EXPECT_GT(a, 355);
  ASSERT_TRUE(AngleFromDialPoint(10, -1, -20, a));
  EXPECT_LT(a, 0);
  EXPECT_GT(a, -5);

  int32_t x, y;
  DialHandEnd(0, 50, 50, 10, x, y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 40);
  DialHandEnd(180, 50, 50, 10, x, y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 60);
}

TEST(PositionFields, TextKeptWhileItMeansThePoint) {
  EXPECT_EQ(PositionFieldText("", 0.25, 1000), "250");
  EXPECT_EQ(PositionFieldText("500", 0.5, 1000), "500");
  EXPECT_EQ(PositionFieldText("500.0", 0.5, 1000), "500.0");
  EXPECT_EQ(PositionFieldText("501", 0.5, 1000), "500");
  EXPECT_EQ(PositionFieldText("nan", 0.5, 1000), "500");
}

TEST(Placement, VirtualScreenClampAndFirstUse) {
  int32_t x = -20, y = 5000;
  ClampToVirtualScreen(x, y, 1920, 1080);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 1030);
  x = 3000;
  y = 10;
  ClampToVirtualScreen(x, y, 1920, 1080);
  EXPECT_EQ(x, 1870);
  EXPECT_EQ(y, 10);
  x = -5;
  ClampToVirtualScreen(x, y, 0, 1080);
  EXPECT_EQ(x, -5);
  int32_t side;
  DefaultPreviewPlacement(1920, 1080, x, y, side);
  EXPECT_EQ(side, 1280);
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, -100);
  EXPECT_TRUE(IsGreySwatchMode(1));
  EXPECT_TRUE(IsGreySwatchMode(10));
  EXPECT_FALSE(IsGreySwatchMode(17));
  EXPECT_FALSE(IsGreySwatchMode(3));
  EXPECT_NEAR(SwatchGrey(1, 1, 1), 1.0, 1e-8);
}

RegistryData Data(uint32_t type, std::vector<uint8_t> bytes) { return RegistryData{type, std::move(bytes)}; }

TEST(RegistryData, TypeAndSizeChecked) {
  int32_t v = 7;
  EXPECT_TRUE(DecodeDword(Data(kRegDword, {0xEC, 0xFF, 0xFF, 0xFF}), v));
  EXPECT_EQ(v, -20);
  v = 7;
  EXPECT_FALSE(DecodeDword(Data(kRegBinary, {1, 0, 0, 0}), v));
  EXPECT_FALSE(DecodeDword(Data(kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}), v));
  EXPECT_FALSE(DecodeDword(Data(kRegDword, {1, 0}), v));
  EXPECT_EQ(v, 7);

  std::string s = "old";
  EXPECT_TRUE(DecodeString(Data(kRegString, {'a', 'b', 0}), 256, s));
  EXPECT_EQ(s, "ab");
  EXPECT_TRUE(DecodeString(Data(kRegString, {'a', 'b'}), 256, s)); // unterminated: cut at its end
  EXPECT_EQ(s, "ab");
  EXPECT_TRUE(DecodeString(Data(kRegString, {'x', 0, 'y', 'z'}), 256, s));
  EXPECT_EQ(s, "x");
  std::vector<uint8_t> longPath(300, 'p');
  s = "old";
  EXPECT_FALSE(DecodeString(Data(kRegString, longPath), 256, s)); // does not fit: ignored
  longPath.resize(255);
  EXPECT_TRUE(DecodeString(Data(kRegString, longPath), 256, s));
  EXPECT_EQ(s.size(), 255u);
  EXPECT_FALSE(DecodeString(Data(kRegBinary, {'a', 0}), 256, s));
  uint8_t b = 9;
  EXPECT_FALSE(DecodeBinary(Data(kRegBinary, {1, 2}), 1, &b));
  EXPECT_FALSE(DecodeBinary(Data(kRegDword, {1}), 1, &b));
  EXPECT_TRUE(DecodeBinary(Data(kRegBinary, {0}), 1, &b));
  EXPECT_EQ(b, 0);
}

TEST(LastUsed, EachKindRoundTripsThroughItsPublishedLayout) {
  pfParameterFloat radius;
  radius.SetName("Radius");
  radius.SetValue(12.5);
  pfParameterInt facets;
  facets.SetName("IrisFacets");
  facets.SetMaximum(100, false);
  facets.SetValue(-7);
  pfParameterBool invert;
  invert.SetName("DepthInvert");
  invert.SetValue(true);
  pfParameterList show;
  show.SetName("Show");
  for (const char* item : {"a", "b", "c"}) show.AddItem(item);
  show.Select(3);
  pfParameterRGB colour;
  colour.SetName("ColorOutside");
  colour.SetColor(0.25, 0.5, 0.75);
  pfParameterPosition point;
  point.SetName("Centre");
  point.SetPosition(0.125, 0.875);

  std::map<std::string, RegistryData> store;
  for (pfParameter* p : std::initializer_list<pfParameter*>{&radius, &facets, &invert, &show, &colour, &point})
    for (NamedValue& v : EncodeLastUsed(*p)) store[v.name] = v.data;
  // The published layout: little-endian binary values of fixed sizes.
  const double half = 0.5;
  std::vector<uint8_t> halfBytes(8);
  std::memcpy(halfBytes.data(), &half, 8);
  EXPECT_EQ(store.at("ColorOutside_green").bytes, halfBytes);
  EXPECT_EQ(store.at("IrisFacets").bytes, (std::vector<uint8_t>{0xF9, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(store.at("DepthInvert").bytes, (std::vector<uint8_t>{1}));
  EXPECT_EQ(store.at("Show").bytes, (std::vector<uint8_t>{3, 0, 0, 0}));
  EXPECT_EQ(store.at("Radius").bytes.size(), 8u);
  EXPECT_EQ(store.size(), 9u);
  for (auto& [name, data] : store) EXPECT_EQ(data.type, kRegBinary) << name;

  auto lookup = [&](const std::string& name, RegistryData& d) {
    auto it = store.find(name);
    if (it == store.end()) return false;
    d = it->second;
    return true;
  };
  radius.SetValue(1);
  facets.SetValue(5);
  invert.SetValue(false);
  show.Select(1);
  colour.SetColor(1, 1, 1);
  point.SetPosition(0, 0);
  for (pfParameter* p : std::initializer_list<pfParameter*>{&radius, &facets, &invert, &show, &colour, &point})
    EXPECT_TRUE(ApplyLastUsed(*p, lookup)) << p->GetName();
  EXPECT_EQ(radius.GetValue(), 12.5);
  EXPECT_EQ(facets.GetValue(), -7);
  EXPECT_TRUE(invert.GetValue());
  EXPECT_EQ(show.GetSelection(), 3);
  double r, g, b;
  colour.GetColor(r, g, b);
  EXPECT_EQ(r, 0.25);
  EXPECT_EQ(g, 0.5);
  EXPECT_EQ(b, 0.75);
  EXPECT_EQ(point.GetX(), 0.125);
  EXPECT_EQ(point.GetY(), 0.875);

  // Wrong size, wrong type, a missing component, a selection beyond the list: ignored.
  store["Radius"].bytes.push_back(0);
  store["IrisFacets"].type = kRegDword;
  store.erase("ColorOutside_green");
  store["Show"].bytes = {7, 0, 0, 0};
  radius.SetValue(3);
  colour.SetColor(1, 0, 0);
  EXPECT_FALSE(ApplyLastUsed(radius, lookup));
  EXPECT_FALSE(ApplyLastUsed(facets, lookup));
  EXPECT_FALSE(ApplyLastUsed(colour, lookup));
  ApplyLastUsed(show, lookup);
  EXPECT_EQ(radius.GetValue(), 3);
  EXPECT_EQ(facets.GetValue(), -7);
  colour.GetColor(r, g, b);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(show.GetSelection(), 3);
}

TEST(Presets, NamesAndNeighbours) {
  EXPECT_EQ(PresetNameFromInput("my preset"), "my_preset");
  EXPECT_EQ(PresetNameFromInput(" a  b "), "_a__b_");
  EXPECT_EQ(NeighbourAfterDelete(0), 1);
  EXPECT_EQ(NeighbourAfterDelete(2), 1);
  const std::vector<std::string> names{"Alpha", "beta", "Gamma"};
  EXPECT_EQ(FindPresetName(names, "BETA"), 1);
  EXPECT_EQ(FindPresetName(names, "gamma"), 2);
  EXPECT_EQ(FindPresetName(names, "delta"), -1);
}

} // namespace
} // namespace ov::ui
