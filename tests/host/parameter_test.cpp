// The six parameter kinds: setter and callback matrix, limits, non-finite values, the
// reflection fold, randomising, channel names, copies.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "host/parameter.h"
#include "host/parameters.h"
#include "host/undo.h"
#include "ui/parameter_ui.h"

namespace ov {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A control that counts its refreshes.
struct CountingUI : pfParameterUI {
  int updates = 0;
  void Update() override { ++updates; }
};

struct Probe {
  CountingUI ui;
  int callbacks = 0;
  void Bind(pfParameter& p) {
    ui.AttachParameter(&p);
    p.SetChangeCallback([](pfParameter*, void* c) { ++static_cast<Probe*>(c)->callbacks; }, this);
  }
};

std::unique_ptr<pfParameter> MakeList(int items, int selection) {
  auto p = std::make_unique<pfParameterList>();
  for (int i = 0; i < items; ++i) p->AddItem("item " + std::to_string(i));
  p->Select(selection);
  return p;
}

// One row per setter situation: the setter's answer, the callbacks it fires, the control
// refreshes it causes and the value it leaves.
struct SetterRow {
  const char* name;
  std::function<std::unique_ptr<pfParameter>()> make;
  bool affectsImage;
  std::function<bool(pfParameter&)> set;
  bool result;
  int callbacks;
  int updates;
  std::function<bool(const pfParameter&)> holds;
};

template <class T>
T& As(pfParameter& p) {
  return static_cast<T&>(p);
}
template <class T>
const T& As(const pfParameter& p) {
  return static_cast<const T&>(p);
}

TEST(ParameterSetters, MatrixOfResultsCallbacksAndRefreshes) {
  auto position = [] {
    auto p = std::make_unique<pfParameterPosition>();
    p->SetPosition(0.25, 0.5);
    return std::unique_ptr<pfParameter>(std::move(p));
  };
  auto boolean = [] {
    auto p = std::make_unique<pfParameterBool>();
    p->SetValue(true);
    return std::unique_ptr<pfParameter>(std::move(p));
  };
  auto integer = [] {
    auto p = std::make_unique<pfParameterInt>();
    p->SetValue(4);
    return std::unique_ptr<pfParameter>(std::move(p));
  };
  auto real = [] {
    auto p = std::make_unique<pfParameterFloat>();
    p->SetValue(2.5);
    return std::unique_ptr<pfParameter>(std::move(p));
  };
  auto list = [] { return MakeList(3, 2); };
  auto rgb = [] {
    auto p = std::make_unique<pfParameterRGB>();
    p->SetColor(0.1, 0.2, 0.3);
    return std::unique_ptr<pfParameter>(std::move(p));
  };
  auto pos = [](double x, double y) {
    return [=](const pfParameter& p) { return As<pfParameterPosition>(p).GetX() == x && As<pfParameterPosition>(p).GetY() == y; };
  };
  auto bv = [](bool v) { return [=](const pfParameter& p) { return As<pfParameterBool>(p).GetValue() == v; }; };
  auto iv = [](int v) { return [=](const pfParameter& p) { return As<pfParameterInt>(p).GetValue() == v; }; };
  auto fv = [](double v) { return [=](const pfParameter& p) { return As<pfParameterFloat>(p).GetValue() == v; }; };
  auto lv = [](int v) { return [=](const pfParameter& p) { return As<pfParameterList>(p).GetSelection() == v; }; };
  auto cv = [](double r, double g, double b) {
    return [=](const pfParameter& p) {
      double x, y, z;
      As<pfParameterRGB>(p).GetColor(x, y, z);
      return x == r && y == g && z == b;
    };
  };
  auto setPos = [](double x, double y) { return [=](pfParameter& p) { return As<pfParameterPosition>(p).SetPosition(x, y); }; };
  auto setBool = [](bool v) { return [=](pfParameter& p) { return As<pfParameterBool>(p).SetValue(v); }; };
  auto setInt = [](int v) { return [=](pfParameter& p) { return As<pfParameterInt>(p).SetValue(v); }; };
  auto setFloat = [](double v) { return [=](pfParameter& p) { return As<pfParameterFloat>(p).SetValue(v); }; };
  auto select = [](int v) { return [=](pfParameter& p) { return As<pfParameterList>(p).Select(v); }; };
  auto setRgb = [](double r, double g, double b) { return [=](pfParameter& p) { return As<pfParameterRGB>(p).SetColor(r, g, b); }; };

  const SetterRow rows[] = {
      {"Position unchanged", position, true, setPos(0.25, 0.5), false, 0, 0, pos(0.25, 0.5)},
      {"Position changed", position, true, setPos(0.75, 0.5), true, 0, 1, pos(0.75, 0.5)},
      {"Position changed, no image effect", position, false, setPos(0.25, 0.0), false, 0, 1, pos(0.25, 0.0)},
      {"Bool unchanged", boolean, true, setBool(true), false, 1, 0, bv(true)},
      {"Bool changed", boolean, true, setBool(false), true, 1, 1, bv(false)},
      {"Bool changed, no image effect", boolean, false, setBool(false), false, 1, 1, bv(false)},
      {"Int unchanged", integer, true, setInt(4), false, 0, 0, iv(4)},
      {"Int changed", integer, true, setInt(-7), true, 0, 1, iv(-7)},
      {"Int changed, no image effect", integer, false, setInt(9), false, 0, 1, iv(9)},
      {"Float unchanged", real, true, setFloat(2.5), false, 1, 0, fv(2.5)},
      {"Float changed", real, true, setFloat(3.0), true, 1, 1, fv(3.0)},
      {"Float changed, no image effect", real, false, setFloat(-1.0), false, 1, 1, fv(-1.0)},
      {"List current index", list, true, select(2), false, 1, 0, lv(2)},
      {"List other index", list, true, select(3), true, 1, 1, lv(3)},
      {"List first index", list, true, select(1), true, 1, 1, lv(1)},
      {"List index 0", list, true, select(0), false, 0, 0, lv(2)},
      {"List index count + 1", list, true, select(4), false, 0, 0, lv(2)},
      {"List negative index", list, true, select(-1), false, 0, 0, lv(2)},
      {"List changed, no image effect", list, false, select(1), false, 1, 1, lv(1)},
      {"RGB unchanged", rgb, true, setRgb(0.1, 0.2, 0.3), false, 0, 0, cv(0.1, 0.2, 0.3)},
      {"RGB one channel changed", rgb, true, setRgb(0.1, 0.2, 0.4), true, 0, 1, cv(0.1, 0.2, 0.4)},
      {"RGB changed, no image effect", rgb, false, setRgb(1, 1, 1), false, 0, 1, cv(1, 1, 1)},
  };
  for (const SetterRow& row : rows) {
    SCOPED_TRACE(row.name);
    auto p = row.make();
    p->SetAffectsImage(row.affectsImage);
    Probe probe;
    probe.Bind(*p);
    EXPECT_EQ(row.set(*p), row.result);
    EXPECT_EQ(probe.callbacks, row.callbacks);
    EXPECT_EQ(probe.ui.updates, row.updates);
    EXPECT_TRUE(row.holds(*p));
  }
}

TEST(ParameterDefaults, EachKindStartsWithItsInitialValueAndLimits) {
  pfParameterPosition position;
  EXPECT_EQ(position.GetX(), 0.0);
  EXPECT_EQ(position.GetY(), 0.0);
  pfParameterInt integer;
  EXPECT_EQ(integer.GetMinimum(), 0);
  EXPECT_EQ(integer.GetMaximum(), 1);
  EXPECT_FALSE(integer.IsMinimumClamped());
  pfParameterFloat real;
  EXPECT_EQ(real.GetMaximum(), 1.0);
  pfParameterList list;
  EXPECT_EQ(list.GetSelection(), 1);
  EXPECT_EQ(list.GetItemText(0), "");
  pfParameterRGB rgb;
  double r, g, b;
  rgb.GetColor(r, g, b);
  EXPECT_EQ(r + g + b, 3.0);
  EXPECT_TRUE(rgb.IsSaved());
  EXPECT_TRUE(rgb.AffectsImage());
  EXPECT_TRUE(rgb.IsRandomizable());
  EXPECT_EQ(rgb.GetUI(), nullptr);
}

// Hard limits are enforced by Validate, soft ones never.
TEST(ParameterLimits, HardAndSoftEnds) {
  struct Row {
    double min;
    bool minHard;
    double max;
    bool maxHard;
    double value;
    double expected;
  };
  const Row floats[] = {
      {0, true, 50, false, 80, 80},   {0, true, 50, false, -3, 0},   {0, false, 50, false, -3, -3},
      {0, false, 1, true, 1.5, 1},    {-1, true, 1, true, -2, -1},   {-1, true, 1, true, 0.5, 0.5},
      {-0.75, true, 0.75, true, 0.8, 0.75},
  };
  for (const Row& row : floats) {
    SCOPED_TRACE(row.value);
    pfParameterFloat p;
    p.SetMinimum(row.min, row.minHard);
    p.SetMaximum(row.max, row.maxHard);
    p.SetValue(row.value);
    Probe probe;
    probe.Bind(p);
    p.Validate();
    EXPECT_EQ(p.GetValue(), row.expected);
    EXPECT_EQ(probe.callbacks, 1); // Float validation always calls back
    EXPECT_EQ(probe.ui.updates, row.value == row.expected ? 0 : 1);
  }
  const Row ints[] = {
      {3, true, 15, false, 1, 3}, {3, true, 15, false, 20, 20}, {3, false, 15, true, 20, 15},
      {3, false, 15, false, -5, -5}, {0, true, 1, true, 7, 1},
  };
  for (const Row& row : ints) {
    SCOPED_TRACE(row.value);
    pfParameterInt p;
    p.SetMinimum(int32_t(row.min), row.minHard);
    p.SetMaximum(int32_t(row.max), row.maxHard);
    p.SetValue(int32_t(row.value));
    Probe probe;
    probe.Bind(p);
    p.Validate();
    EXPECT_EQ(p.GetValue(), int32_t(row.expected));
    EXPECT_EQ(probe.callbacks, 0);
  }
}

TEST(ParameterLimits, ListValidateKeepsOneBasedSelectionInRange) {
  auto p = MakeList(5, 5);
  auto& list = static_cast<pfParameterList&>(*p);
  Probe probe;
  probe.Bind(list);
  list.ClearItems();
  list.Validate(); // no items: nothing at all
  EXPECT_EQ(list.GetSelection(), 5);
  EXPECT_EQ(probe.callbacks, 0);
  for (int i = 0; i < 3; ++i) list.AddItem("x");
  list.Validate();
  EXPECT_EQ(list.GetSelection(), 3);
  EXPECT_EQ(probe.callbacks, 1);
  EXPECT_EQ(list.GetItemText(2), "x");
  EXPECT_EQ(list.GetItemText(3), "");
  EXPECT_EQ(list.GetItemText(-1), "");
}

TEST(ParameterLimits, RGBValidateClampsEachChannel) {
  pfParameterRGB p;
  p.SetColor(-0.5, 0.5, 1.5);
  p.Validate();
  double r, g, b;
  p.GetColor(r, g, b);
  EXPECT_EQ(r, 0.0);
  EXPECT_EQ(g, 0.5);
  EXPECT_EQ(b, 1.0);
}

// After the hard-limit clamps, whatever is not finite becomes the hard minimum, else the default.
TEST(ParameterNonFinite, ValidateLeavesOnlyFiniteValues) {
  struct Row {
    const char* name;
    double min;
    bool minHard;
    double max;
    bool maxHard;
    double def;
    double value;
    double expected;
  };
  const Row rows[] = {
      {"NaN, hard minimum", 0, true, 50, false, 5, kNaN, 0},
      {"+inf, hard minimum, soft maximum", 0, true, 50, false, 5, kInf, 0},
      {"-inf, hard minimum", 0, true, 50, false, 5, -kInf, 0},
      {"NaN meets a hard maximum first", 0, true, 1, true, 0.5, kNaN, 1},
      {"+inf above a hard maximum", -1, true, 1, true, 0, kInf, 1},
      {"NaN, no hard limits", 0, false, 1, false, 0.25, kNaN, 0.25},
      {"+inf, no hard limits", 0, false, 255, false, 255, kInf, 255},
      {"-inf, hard maximum only", 0, false, 1, true, 0.5, -kInf, 0.5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    pfParameterFloat p;
    p.SetMinimum(row.min, row.minHard);
    p.SetMaximum(row.max, row.maxHard);
    p.SetDefault(row.def);
    p.SetValue(row.value);
    p.Validate();
    EXPECT_EQ(p.GetValue(), row.expected);
  }
  pfParameterRGB rgb;
  rgb.SetColor(kNaN, kInf, -kInf);
  rgb.Validate();
  double r, g, b;
  rgb.GetColor(r, g, b);
  EXPECT_EQ(r, 0.0);
  EXPECT_EQ(g, 1.0);
  EXPECT_EQ(b, 0.0);
  pfParameterPosition position;
  position.SetDefault(0.5, 0.25);
  position.SetPosition(kNaN, kInf);
  position.Validate();
  EXPECT_EQ(position.GetX(), 0.5);
  EXPECT_EQ(position.GetY(), 0.25);
}

// A negative zero from a descriptor or preset is one value with +0: after Validate it prints
// and saves as +0, so what is written reads back as the same line.
TEST(ParameterNonFinite, ValidateTurnsNegativeZeroIntoPlusZero) {
  pfParameterFloat f;
  f.SetMinimum(0, true);
  f.SetValue(0.5);
  f.SetValue(-0.0);
  f.Validate();
  EXPECT_FALSE(std::signbit(f.GetValue()));
  EXPECT_EQ(f.FormatPresetLine().find('-'), std::string::npos) << f.FormatPresetLine();
  pfParameterRGB rgb;
  rgb.SetColor(-0.0, 0.5, -0.0);
  rgb.Validate();
  double r, g, b;
  rgb.GetColor(r, g, b);
  EXPECT_FALSE(std::signbit(r));
  EXPECT_FALSE(std::signbit(b));
  pfParameterPosition position;
  position.SetPosition(-0.0, -0.0);
  position.Validate();
  EXPECT_FALSE(std::signbit(position.GetX()));
  EXPECT_FALSE(std::signbit(position.GetY()));
}

TEST(ParameterRandom, ReflectIntoRange) {
  struct Row {
    double value, width, expected;
  };
  const Row rows[] = {{1.3, 1, 0.7},  {-0.25, 1, 0.25}, {2.3, 1, 0.3},   {1.0, 1, 0.9999}, {-1.0, 1, 0.9999},
                      {0.5, 1, 0.5},  {0.0, 1, 0.0},    {7.5, 5, 2.5},   {12.5, 5, 2.5},   {-7.5, 5, 2.5},
                      {0.3, 0, 0.3},  {42, -1, 42}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_NEAR(ReflectIntoRange(row.value, row.width), row.expected, 1e-12);
  }
}

TEST(ParameterRandom, GeneratorIsTheSameEverywhere) {
  SeedParameterRandom(1);
  EXPECT_EQ(ParameterRandom(), 41); // (1 * 214013 + 2531011) >> 16
  EXPECT_EQ(ParameterRandom(), 18467);
  SeedParameterRandom(7);
  for (int i = 0; i < 10000; ++i) {
    const int32_t r = ParameterRandom();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
  }
}

TEST(ParameterRandom, FloatStepFollowsTheFormula) {
  pfParameterFloat p;
  p.SetMinimum(0, true);
  p.SetMaximum(10, true);
  p.SetValue(5);
  SeedParameterRandom(1); // first draw 41
  p.Randomize(1.0);
  EXPECT_DOUBLE_EQ(p.GetValue(), 10.0 * (41.0 / 32767.0 - 0.5) + 5.0);
}

// Whole-number kinds land on the nearest whole number of the formula: the second draw of
// seed 1 (18467) moves an integer 0..10 at 5 by 10 (18467 / 32767 - 0.5) = 0.636 to 6, and a
// list of 10 items at item 5 to item 6. An amount above 2 acts as 2 for colours.
TEST(ParameterRandom, StepsRoundToTheNearestWholeNumberAndColoursCapTheAmount) {
  SeedParameterRandom(1);
  ParameterRandom(); // 41
  pfParameterInt i;
  i.SetMinimum(0, true);
  i.SetMaximum(10, true);
  i.SetValue(5);
  i.Randomize(1.0);
  EXPECT_EQ(i.GetValue(), 6);
  SeedParameterRandom(1);
  ParameterRandom();
  auto l = MakeList(10, 5);
  l->Randomize(1.0);
  EXPECT_EQ(As<pfParameterList>(*l).GetSelection(), 6);
  for (const double amount : {2.5, 7.0, 100.0}) {
    pfParameterRGB capped, two;
    SeedParameterRandom(5);
    capped.Randomize(amount);
    SeedParameterRandom(5);
    two.Randomize(2.0);
    double r1, g1, b1, r2, g2, b2;
    capped.GetColor(r1, g1, b1);
    two.GetColor(r2, g2, b2);
    EXPECT_EQ(r1, r2) << amount;
    EXPECT_EQ(g1, g2) << amount;
    EXPECT_EQ(b1, b2) << amount;
  }
}

// Randomising the set is one undo step that brings back every parameter it changed.
TEST(ParameterRandom, RandomizingTheSetIsOneUndoStep) {
  pfParameterFloat f;
  pfParameterInt n;
  pfParameterRGB c;
  f.SetName("F");
  f.SetMinimum(0, true);
  f.SetMaximum(100, true);
  f.SetValue(50);
  n.SetName("N");
  n.SetMinimum(0, true);
  n.SetMaximum(1000, true);
  n.SetValue(500);
  c.SetName("C");
  c.SetColor(0.5, 0.5, 0.5);
  pfParameters set;
  set.Add(&f);
  set.Add(&n);
  set.Add(&c);
  pfUndoStack undo;
  undo.SetRecording(true);
  set.RandomizeAll(2.0, &undo);
  double r, g, b;
  c.GetColor(r, g, b);
  // With these widths a draw that keeps all five values is out of reach.
  EXPECT_FALSE(f.GetValue() == 50 && n.GetValue() == 500 && r == 0.5 && g == 0.5 && b == 0.5);
  EXPECT_TRUE(undo.Undo());
  c.GetColor(r, g, b);
  EXPECT_EQ(f.GetValue(), 50.0);
  EXPECT_EQ(n.GetValue(), 500);
  EXPECT_EQ(r, 0.5);
  EXPECT_EQ(g, 0.5);
  EXPECT_EQ(b, 0.5);
  EXPECT_FALSE(undo.Undo());
}

// Randomised values stay within the ranges, and a range of width 0 keeps the value.
TEST(ParameterRandom, ValuesStayInRange) {
  for (uint32_t seed = 1; seed < 400; ++seed) {
    SeedParameterRandom(seed);
    const double amount = (seed % 5) * 0.5;
    pfParameterFloat f;
    f.SetMinimum(-1, true);
    f.SetMaximum(1, true);
    f.SetValue(0.5);
    f.Randomize(amount);
    ASSERT_GE(f.GetValue(), -1.0);
    ASSERT_LE(f.GetValue(), 1.0);
    pfParameterInt i;
    i.SetMinimum(3, true);
    i.SetMaximum(15, true);
    i.SetValue(5);
    i.Randomize(amount);
    ASSERT_GE(i.GetValue(), 3);
    ASSERT_LE(i.GetValue(), 15);
    auto l = MakeList(4, 2);
    l->Randomize(amount);
    ASSERT_GE(static_cast<pfParameterList&>(*l).GetSelection(), 1);
    ASSERT_LE(static_cast<pfParameterList&>(*l).GetSelection(), 4);
    pfParameterRGB c;
    c.Randomize(amount * 2);
    double r, g, b;
    c.GetColor(r, g, b);
    ASSERT_TRUE(r >= 0 && r < 1 && g >= 0 && g < 1 && b >= 0 && b < 1);
    pfParameterPosition pos;
    pos.Randomize(amount);
    ASSERT_TRUE(pos.GetX() >= 0 && pos.GetX() < 1 && pos.GetY() >= 0 && pos.GetY() < 1);
  }
}

TEST(ParameterRandom, ZeroWidthRangesKeepTheirValues) {
  SeedParameterRandom(3);
  pfParameterFloat f;
  f.SetMinimum(2, false);
  f.SetMaximum(2, false);
  f.SetValue(2);
  Probe probe;
  probe.Bind(f);
  f.Randomize(1.0);
  EXPECT_EQ(f.GetValue(), 2.0);
  EXPECT_GE(probe.callbacks, 1);
  pfParameterFloat narrow; // whole part of the width is 0
  narrow.SetMinimum(0, false);
  narrow.SetMaximum(0.5, false);
  narrow.SetValue(0.25);
  narrow.Randomize(0.0);
  EXPECT_EQ(narrow.GetValue(), 0.25);
  pfParameterInt i;
  i.SetMinimum(7, false);
  i.SetMaximum(7, false);
  i.SetValue(7);
  i.Randomize(2.0);
  EXPECT_EQ(i.GetValue(), 7);
  pfParameterList empty;
  empty.Randomize(1.0);
  EXPECT_EQ(empty.GetSelection(), 1);
}

TEST(ParameterRandom, ListAmountAboveTwoKeepsTheSelectionButCallsBack) {
  auto p = MakeList(7, 4);
  Probe probe;
  probe.Bind(*p);
  SeedParameterRandom(99);
  p->Randomize(3.0);
  EXPECT_EQ(static_cast<pfParameterList&>(*p).GetSelection(), 4);
  EXPECT_EQ(probe.callbacks, 2); // the step's callback, then Validate's
}

TEST(ParameterRandom, NotRandomizableDoesNothing) {
  pfParameterBool p;
  p.SetRandomizable(false);
  Probe probe;
  probe.Bind(p);
  p.Randomize(1.0);
  EXPECT_EQ(probe.callbacks, 0);
}

TEST(ParameterChannels, FillChannelNames) {
  struct Row {
    const char* name;
    int16_t mode, planes, layer, transparency, nonLayer;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"RGB with transparency", plugInModeRGBColor, 4, 3, 1, 0, {" none", "red", "green", "blue", "transparency"}},
      {"gray", plugInModeGrayScale, 1, 0, 0, 0, {" none", "red"}},
      {"gray with an alpha channel", plugInModeGray16, 2, 1, 0, 1, {" none", "red", "alpha 0"}},
      {"multichannel of five", plugInModeMultichannel, 5, 0, 0, 0,
       {" none", "red", "green", "blue", "alpha 0", "alpha 1"}},
      {"CMYK", plugInModeCMYKColor, 4, 4, 0, 0, {" none"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FilterRecord record{};
    record.imageMode = row.mode;
    record.planes = row.planes;
    record.inLayerPlanes = row.layer;
    record.inTransparencyMask = row.transparency;
    record.inNonLayerPlanes = row.nonLayer;
    pfParameterList list;
    list.AddItem("old");
    list.FillChannelNames(&record);
    ASSERT_EQ(list.GetItemCount(), int(row.expected.size()));
    for (size_t i = 0; i < row.expected.size(); ++i) EXPECT_EQ(list.GetItemText(int(i)), row.expected[i]);
  }
}

TEST(ParameterCopies, AssignmentCopiesEverythingAndCopyParametersKeepsTheControl) {
  pfParameterList a, b;
  a.SetName("A");
  a.AddItem("one");
  a.AddItem("two");
  a.Select(2);
  a.SetScriptKey(0x41424344);
  a.SetSaved(false);
  CountingUI uiA, uiB;
  uiA.AttachParameter(&a);
  uiB.AttachParameter(&b);
  pfParameterList copy;
  copy = a;
  EXPECT_EQ(copy.GetName(), "A");
  EXPECT_EQ(copy.GetSelection(), 2);
  EXPECT_EQ(copy.GetUI(), &uiA);
  EXPECT_FALSE(copy.IsSaved());

  pfParameters source, destination;
  pfParameterFloat f1, f2;
  f1.SetValue(3.5);
  source.Add(&a);
  source.Add(&f1);
  destination.Add(&b);
  destination.Add(&f2);
  pfParameters::CopyParameters(&source, &destination);
  EXPECT_EQ(b.GetSelection(), 2);
  EXPECT_EQ(b.GetItemCount(), 2);
  EXPECT_EQ(b.GetUI(), &uiB);
  EXPECT_EQ(f2.GetValue(), 3.5);
  pfParameters::CopyParameters(nullptr, &destination); // logged, nothing else

  std::unique_ptr<pfParameters> generated(source.Generate());
  ASSERT_EQ(generated->GetCount(), 2);
  EXPECT_EQ(generated->GetParameter(0)->GetKind(), pfParameterKind::List);
  EXPECT_EQ(static_cast<pfParameterFloat*>(generated->GetParameter(1))->GetValue(), 0.0);
  EXPECT_EQ(generated->GetParameter(0)->GetName(), "");
  EXPECT_EQ(generated->GetParameter(2), nullptr);
  generated->DeleteAll();
  EXPECT_EQ(generated->GetCount(), 0);
}

TEST(ParameterKeys, KeysComeInComponentOrder) {
  pfParameterRGB rgb;
  rgb.SetScriptKey(1, 0, 3);
  DescriptorKeyID keys[3] = {};
  EXPECT_EQ(rgb.GetScriptKeyCount(), 2);
  rgb.GetScriptKeys(keys);
  EXPECT_EQ(keys[0], 1u);
  EXPECT_EQ(keys[1], 3u);
  pfParameterPosition position;
  EXPECT_EQ(position.GetScriptKeyCount(), 0);
  position.SetScriptKey(0, 9);
  position.GetScriptKeys(keys);
  EXPECT_EQ(keys[0], 9u);
  pfParameterBool flag;
  EXPECT_EQ(flag.GetScriptKeyCount(), 0);
}

// A real is written with six decimals after rounding to single precision: 2.0000005 is
// 2.00000048 as a float, so it is written 2.000000, not 2.000001.
TEST(ParameterPresetTokens, RealsAreWrittenAtSinglePrecision) {
  struct Row {
    double value;
    const char* line;
  } rows[] = {{2.0000005, "R 2.000000"}, {16777217.0, "R 16777216.000000"}, {0.1, "R 0.100000"},
              {255.0, "R 255.000000"}};
  for (const Row& row : rows) {
    pfParameterFloat f;
    f.SetName("R");
    f.SetValue(row.value);
    EXPECT_EQ(f.FormatPresetLine(), row.line) << row.value;
  }
}

TEST(ParameterPresetTokens, NumbersFromTheLongestDecimalPrefix) {
  EXPECT_EQ(ParsePresetInteger("42"), 42);
  EXPECT_EQ(ParsePresetInteger("-17abc"), -17);
  EXPECT_EQ(ParsePresetInteger("abc"), 0);
  EXPECT_EQ(ParsePresetInteger("0x10"), 0);
  EXPECT_EQ(ParsePresetInteger("99999999999999999999"), 2147483647);
  EXPECT_EQ(ParsePresetInteger("-99999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(ParsePresetReal("0.250000"), 0.25);
  EXPECT_EQ(ParsePresetReal("-1.5e2x"), -150.0);
  EXPECT_EQ(ParsePresetReal("3e"), 3.0);
  EXPECT_EQ(ParsePresetReal(".5"), 0.5);
  EXPECT_EQ(ParsePresetReal("nan"), 0.0);
  EXPECT_EQ(ParsePresetReal("inf"), 0.0);
  EXPECT_EQ(ParsePresetReal("1e999"), kInf);
  EXPECT_EQ(ParsePresetReal("1e-999"), 0.0);
  EXPECT_EQ(ParsePresetReal("+2"), 2.0);
}

} // namespace
} // namespace ov
