// The portable families of the host-SDK utility layer, one table test per family.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/module_globals.h"
#include "host/host_os.h"
#include "host/sdk_utils.h"
#include "host/string_table.h"

namespace ov {
namespace {

// A length-prefixed string from text.
struct P {
  uint8_t s[256] = {};
  explicit P(const std::string& t = "") { CStringToPString(t.c_str(), s); }
  std::string str() const { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }
};

void Dummy() {}

TEST(SdkModule, EntryStoresTheInstance) {
  int marker = 0;
  EXPECT_EQ(DllMain(&marker, 1, nullptr), 1);
  EXPECT_EQ(GetModuleInstance(), &marker);
  EXPECT_EQ(GetPluginInstance(nullptr), &marker);
  EXPECT_TRUE(IsAdvanceStateAvailable([]() -> OSErr { return noErr; }));
  EXPECT_FALSE(IsAdvanceStateAvailable(nullptr));
  DllMain(nullptr, 0, nullptr);
}

TEST(SdkPresence, ProcedureTables) {
  struct Table {
    int16_t version, count;
    void (*procs[8])(void);
  };
  struct Row {
    const char* name;
    bool (*test)(const void*, bool*);
    int16_t version, count;
    int missing; // index of a null procedure, -1 none
    bool expected, newer;
  };
  const Row rows[] = {
      {"2x5 present", HasHostProcs2x5, 2, 5, -1, true, false},
      {"2x5 older", HasHostProcs2x5, 1, 5, -1, false, false},
      {"2x5 newer", HasHostProcs2x5, 3, 5, -1, false, true},
      {"2x5 too few", HasHostProcs2x5, 2, 4, -1, false, false},
      {"2x5 fifth missing", HasHostProcs2x5, 2, 5, 4, false, false},
      {"3x4 present", HasHostProcs3x4, 3, 4, -1, true, false},
      {"3x4 second missing", HasHostProcs3x4, 3, 4, 1, false, false},
      {"1x8 present", HasHostProcs1x8, 1, 8, -1, true, false},
      {"1x8 lock missing is fine", HasHostProcs1x8, 1, 8, 4, true, false},
      {"1x8 size missing", HasHostProcs1x8, 1, 8, 3, false, false},
      {"1x8 seven", HasHostProcs1x8, 1, 7, -1, false, false},
      {"1x2 present", HasHostProcs1x2, 1, 2, -1, true, false},
      {"1x2 newer", HasHostProcs1x2, 2, 2, -1, false, true},
      {"1x3 present", HasHostProcs1x3, 1, 3, -1, true, false},
      {"1x3 third missing", HasHostProcs1x3, 1, 3, 2, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Table t{row.version, row.count, {}};
    for (auto& p : t.procs) p = Dummy;
    if (row.missing >= 0) t.procs[row.missing] = nullptr;
    bool newer = false;
    EXPECT_EQ(row.test(&t, &newer), row.expected);
    EXPECT_EQ(newer, row.newer);
    EXPECT_EQ(row.test(&t, nullptr), row.expected);
  }
  EXPECT_FALSE(HasHostProcs2x5(nullptr));
  EXPECT_TRUE(HasHostProc(reinterpret_cast<const void*>(&Dummy)));
  EXPECT_FALSE(HasHostProc(nullptr));
  EXPECT_EQ(HostVersionText(2.502, true), "2.5.2");
  EXPECT_EQ(HostVersionText(2.5, false), "2.5");
  EXPECT_EQ(HostVersionText(3.0, false), "3.0");
  EXPECT_EQ(HostVersionText(4.0, false), "4.0");
}

TEST(SdkFallbackHandles, NewResizeDuplicateDispose) {
  Handle h = NewHandleFallback(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetLastHandleError(), noErr);
  EXPECT_EQ(GetHandleSizeFallback(h), 0);
  EXPECT_EQ(std::memcmp(reinterpret_cast<FallbackHandleRecord*>(h)->tag, "OTOF", 4), 0);
  SetHandleSizeFallback(h, 16);
  EXPECT_EQ(GetLastHandleError(), noErr);
  ASSERT_EQ(GetHandleSizeFallback(h), 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ((*h)[i], 0); // zero-initialised
  std::memcpy(*h, "0123456789abcdef", 16);
  SetHandleSizeFallback(h, 32);
  EXPECT_EQ(std::memcmp(*h, "0123456789abcdef", 16), 0);
  EXPECT_EQ((*h)[31], 0);
  Handle copy = DuplicateHandleFallback(h);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(GetHandleSizeFallback(copy), 32);
  EXPECT_EQ(std::memcmp(*copy, *h, 32), 0);
  EXPECT_EQ(DerefHandle(h), *h);
  EXPECT_EQ(DisposeHandleFallback(copy), noErr);
  EXPECT_EQ(DisposeHandleFallback(h), noErr);

  struct Row {
    const char* name;
    std::function<void()> call;
    OSErr error;
  };
  FallbackHandleRecord stranger{&stranger, {'O', 'T', 'O', 'F'}};
  const Row rows[] = {
      {"dispose null", [] { EXPECT_EQ(DisposeHandleFallback(nullptr), nilHandleErr); }, nilHandleErr},
      {"size of null", [] { EXPECT_EQ(GetHandleSizeFallback(nullptr), 0); }, nilHandleErr},
      {"size of a foreign block",
       [&] { EXPECT_EQ(GetHandleSizeFallback(reinterpret_cast<Handle>(&stranger)), 0); }, nilHandleErr},
      {"resize null", [] { SetHandleSizeFallback(nullptr, 4); }, memWZErr},
      {"new clears the error", [] { DisposeHandleFallback(NewHandleFallback(8)); }, noErr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.call();
    EXPECT_EQ(GetLastHandleError(), row.error);
  }
}

// State of the fake buffer procedures below.
struct Buffers {
  static inline int32_t space = 0;
  static inline std::vector<int32_t> asked;
  static inline int32_t grantAtMost = 0;
};

// The same handle procedures with the host's table and with the fallback.
struct FakeHandleHost {
  static inline int news = 0, disposes = 0;
  HandleProcs procs{};
  FakeHandleHost() {
    news = disposes = 0;
    procs.handleProcsVersion = 1;
    procs.numHandleProcs = 8;
    procs.newProc = [](int32_t size) -> Handle {
      ++news;
      return NewHandleFallback(size); // the fake host keeps its memory the same way
    };
    procs.disposeProc = [](Handle h) {
      ++disposes;
      DisposeHandleFallback(h);
    };
    procs.getSizeProc = [](Handle h) { return GetHandleSizeFallback(h); };
    procs.setSizeProc = [](Handle h, int32_t s) -> OSErr {
      SetHandleSizeFallback(h, s);
      return GetLastHandleError();
    };
    procs.lockProc = [](Handle h, Boolean) -> Ptr { return *h; };
    procs.unlockProc = [](Handle) {};
  }
};

TEST(SdkHandleProcedures, WithTheHostAndWithTheFallback) {
  FakeHandleHost host;
  for (const HandleProcs* procs : {static_cast<const HandleProcs*>(&host.procs), static_cast<const HandleProcs*>(nullptr)}) {
    SCOPED_TRACE(procs ? "host" : "fallback");
    EXPECT_EQ(HandleProcsUsable(procs), procs != nullptr);
    Handle a = HostCStringToHandle(procs, "abc");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(HostGetHandleSize(procs, a), 3);
    P pstring("de");
    Handle b = HostPStringToHandle(procs, pstring.s);
    EXPECT_EQ(HostAppendHandle(procs, &a, b), noErr);
    char text[16];
    HostHandleToCString(procs, a, text, sizeof(text));
    EXPECT_STREQ(text, "abcde");
    HostHandleToCString(procs, a, text, 3);
    EXPECT_STREQ(text, "ab");
    P back;
    HostHandleToPString(procs, a, back.s);
    EXPECT_EQ(back.str(), "abcde");
    Handle created = nullptr;
    EXPECT_EQ(HostAppendHandle(procs, &created, b), noErr);
    EXPECT_EQ(HostGetHandleSize(procs, created), 2);
    EXPECT_EQ(HostAppendHandle(procs, nullptr, b), paramErr);
    EXPECT_EQ(HostSetHandleSize(procs, created, 12), noErr);
    const uint8_t version[12] = {0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 1, 5};
    std::memcpy(HostLockHandle(procs, created, 0), version, 12);
    HostUnlockHandle(procs, created);
    int32_t x, y, z;
    HostReadVersionHandle(procs, created, &x, &y, &z);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 4);
    EXPECT_EQ(z, 261);
    P versionText;
    HostVersionHandleToString(procs, created, versionText.s);
    EXPECT_EQ(versionText.str(), "1.4.261");
    int32_t size = 0;
    Handle str = HostResourceToHandle(procs, FourCC("STR "), kStringIntegerRange, &size);
    ASSERT_NE(str, nullptr);
    const std::string expected = ModuleStringText(kStringIntegerRange);
    EXPECT_EQ(size, int32_t(expected.size() + 2));
    EXPECT_EQ(uint8_t((*str)[0]), expected.size());
    EXPECT_EQ((*str)[size - 1], 0);
    P resource;
    HostGetStringResource(procs, kStringIntegerRange, resource.s);
    EXPECT_EQ(resource.str(), expected);
    EXPECT_EQ(HostResourceToHandle(procs, FourCC("PIPL"), 1, &size), nullptr);
    for (Handle h : {a, b, created, str}) DisposeHostHandle(procs, h);
  }
  EXPECT_EQ(FakeHandleHost::news, FakeHandleHost::disposes);
  EXPECT_GT(FakeHandleHost::news, 0);
}

TEST(SdkHandleProcedures, GlobalsBlockAndRowBuffers) {
  Handle globals = nullptr;
  int16_t result = -1;
  int parameterBlock = 0;
  static int initialised = 0;
  void* block = AllocateGlobalsBlock(&result, &parameterBlock, nullptr, 64, &globals,
                                     [](void*) { ++initialised; });
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(initialised, 1);
  void* words[2];
  std::memcpy(words, block, sizeof(words));
  EXPECT_EQ(words[0], &result);
  EXPECT_EQ(words[1], &parameterBlock);
  EXPECT_EQ(AllocateGlobalsBlock(&result, nullptr, nullptr, 64, &globals, [](void*) { ++initialised; }), block);
  EXPECT_EQ(initialised, 1); // an existing block is not initialised again
  DisposeHandleFallback(globals);

  BufferProcs procs{2, 5, nullptr, nullptr, nullptr, nullptr, nullptr};
  procs.allocateProc = [](int32_t size, BufferID* id) -> OSErr {
    Buffers::asked.push_back(size);
    if (size > Buffers::grantAtMost) return memFullErr;
    *id = reinterpret_cast<BufferID>(0x1000);
    return noErr;
  };
  procs.lockProc = [](BufferID, Boolean) -> Ptr { return nullptr; };
  procs.unlockProc = [](BufferID) {};
  procs.freeProc = [](BufferID) {};
  procs.spaceProc = []() -> int32_t { return Buffers::space; };
  struct Row {
    int32_t space, grant, minRows, maxRows;
    OSErr error;
    int32_t rows;
    std::vector<int32_t> asked;
  };
  const Row rows[] = {
      {1000, 1000, 0, 50, noErr, 10, {1000}},           // 1000 / 1 / 100 = 10 rows fit
      {1000, 700, 0, 50, noErr, 7, {1000, 900, 800, 700}},
      {1000, 100, 2, 50, memFullErr, 0, {1000, 900, 800, 700, 600, 500, 400, 300, 200}},
      {100000, 100000, 0, 3, noErr, 3, {300}},            // capped by the maximum
  };
  for (const Row& row : rows) {
    Buffers::space = row.space;
    Buffers::grantAtMost = row.grant;
    Buffers::asked.clear();
    int32_t gotRows = -1;
    BufferID id = nullptr;
    EXPECT_EQ(AllocateRowBuffer(&procs, 100, row.minRows, row.maxRows, 1, &gotRows, &id), row.error);
    EXPECT_EQ(gotRows, row.rows);
    EXPECT_EQ(Buffers::asked, row.asked);
  }
  int32_t gotRows = -1;
  BufferID id = nullptr;
  EXPECT_EQ(AllocateRowBuffer(nullptr, 100, 0, 2, 1, &gotRows, &id), memFullErr); // -108 per attempt
  EXPECT_EQ(AllocateRowBuffer(&procs, 0, 0, 2, 1, &gotRows, &id), paramErr);
}

TEST(SdkStrings, LengthPrefixedStringsAndNumbers) {
  struct NumberRow {
    const char* text;
    int kind;
    int32_t value;
  };
  const NumberRow numbers[] = {{"  -42 ", 2, -42}, {"4 2", 0, 0},   {"17", 1, 17},       {"", 0, 0},
                               {"-", 0, 0},       {"  0", 1, 0},    {"1234567890", 1, 2147483647},
                               {"x1", 0, 0},       {"123456789", 1, 123456789}};
  for (const NumberRow& row : numbers) {
    SCOPED_TRACE(row.text);
    int32_t v = 0;
    EXPECT_EQ(PStringToNumber(P(row.text).s, &v), row.kind);
    if (row.kind) {
      EXPECT_EQ(v, row.value);
    }
  }
  struct DoubleRow {
    const char* text;
    int kind;
    double value;
  };
  const DoubleRow doubles[] = {{"3.25", 1, 3.25}, {"-3,5", 2, -3.5}, {" 7 ", 1, 7.0}, {".5", 1, 0.5},
                               {"1.2.5", 0, 0},   {"abc", 0, 0},     {"2.", 1, 2.0}};
  for (const DoubleRow& row : doubles) {
    SCOPED_TRACE(row.text);
    double v = 0;
    EXPECT_EQ(PStringToDouble(P(row.text).s, &v), row.kind);
    if (row.kind) {
      EXPECT_DOUBLE_EQ(v, row.value);
    }
  }
  struct FormatRow {
    double value;
    int decimals;
    const char* text;
  };
  const FormatRow formats[] = {{2.502, 3, "2.502"}, {2.5, 3, "2.5"},   {3.0, 1, "3.0"},    {0.125, 2, "0.13"},
                               {-1.5, 2, "-1.5"},   {100, 3, "100.0"}, {0.0049, 2, "0.0"}, {7.25, 1, "7.3"}};
  for (const FormatRow& row : formats) {
    SCOPED_TRACE(row.text);
    P out;
    DoubleToPString(out.s, row.value, row.decimals);
    EXPECT_EQ(out.str(), row.text);
  }
  P n;
  NumberToPString(-305, n.s);
  EXPECT_EQ(n.str(), "-305");
  EXPECT_EQ(PowerOf(10, 3), 1000.0);
  EXPECT_EQ(PowerOf(2, 0), 1.0);

  struct ExpandRow {
    const char* text;
    const char* a1;
    const char* a2;
    const char* expected;
  };
  const ExpandRow expands[] = {
      {"An integer is required between ^1 and ^2.", "1", "100", "An integer is required between 1 and 100."},
      {"^3 and ^ stay^", "x", "y", "^3 and ^ stay^"},
      {"[^0|^1|^2]", "", nullptr, "[||]"},
      {"^2^1", "a", "b", "ba"},
  };
  for (const ExpandRow& row : expands) {
    SCOPED_TRACE(row.text);
    P text(row.text), a1(row.a1 ? row.a1 : ""), a2(row.a2 ? row.a2 : "");
    ExpandPlaceholders(text.s, nullptr, row.a1 ? a1.s : nullptr, row.a2 ? a2.s : nullptr);
    EXPECT_EQ(text.str(), row.expected);
  }
  P longText(std::string(200, 'a') + "^1"), longArg(std::string(100, 'b'));
  ExpandPlaceholders(longText.s, nullptr, longArg.s, nullptr);
  EXPECT_EQ(longText.s[0], kPStringMax);
  EXPECT_EQ(longText.s[kPStringMax + 1], 0);

  P s("abc");
  AppendCharToPString(s.s, 'd');
  AppendPString(s.s, P("ef").s);
  PrependPString(s.s, P(">").s);
  AppendToPString(s.s, reinterpret_cast<const uint8_t*>("xyz"), 1, 2);
  EXPECT_EQ(s.str(), ">abcdefyz");
  P full(std::string(254, 'f'));
  AppendCharToPString(full.s, 'g');
  EXPECT_EQ(full.s[0], 254);
  EXPECT_EQ(CopyPString(s.s, full.s), errReportString);
  char c[300];
  PStringToCString(s.s, c);
  EXPECT_STREQ(c, ">abcdefyz");
  CStringAppend(c, "!");
  EXPECT_EQ(CStringLength(c), 10);
  EXPECT_EQ(CStringLength(nullptr), 0);

  char code[5];
  OSTypeToString(FourCC("8BIM"), code);
  EXPECT_STREQ(code, "8BIM");
  EXPECT_EQ(StringToOSType("QC09"), FourCC("QC09"));
  uint32_t word = 0x11223344;
  SwapBytes32(&word);
  EXPECT_EQ(word, 0x44332211u);
  char bytes[4] = {1, 2, 3, 4}, copy[4] = {};
  CopyBytes(bytes, copy, 4);
  EXPECT_EQ(std::memcmp(bytes, copy, 4), 0);
  CopyBytes(nullptr, copy, 4);
  int16_t w = 9;
  ClearWord(&w);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(ToLowerAscii('Q'), 'q');
  EXPECT_EQ(ToLowerAscii('1'), '1');
  EXPECT_EQ(FindText(s.s, s.s), -1);
  EXPECT_TRUE(IsValue10to12(11));
  EXPECT_FALSE(IsValue10to12(13));
  EXPECT_TRUE(IsValue1to3(1));
  EXPECT_FALSE(IsValue1to3(0));
  EXPECT_TRUE(IsNonZero(-1));
  EXPECT_EQ(LoadModuleString(kStringHostTooOld), "This plug-in requires Adobe Photoshop\xAE ^1 or later functionality.");
  EXPECT_EQ(LoadModuleString(kStringIntegerRange, 10), "An integer");
  EXPECT_EQ(LoadModuleString(1), "");
}

TEST(SdkColour, ServicesAndModes) {
  struct ModeRow {
    int16_t mode;
    int channels;
    int16_t space;
  };
  const ModeRow modes[] = {{0, 1, -1},  {1, 1, 4},  {2, 3, -1}, {3, 3, 0},  {4, 4, 2},   {5, 3, 5},   {6, 3, 1},
                           {7, 9, -1},  {8, 1, 4},  {9, 3, 3},  {10, 1, 4}, {11, 3, 0},  {12, 3, 3},  {13, 4, 2},
                           {14, 9, -1}, {15, 1, 4}, {16, 3, 0}, {17, 1, 4}, {18, 9, -1}, {-1, 9, -1}};
  for (const ModeRow& row : modes) {
    SCOPED_TRACE(row.mode);
    EXPECT_EQ(ColorChannelCount(row.mode, 9), row.channels);
    EXPECT_EQ(ImageModeToColorSpace(row.mode), row.space);
  }
  int16_t colour[4];
  EXPECT_EQ(SetColor4(colour, 1, 2, 3, 0x7F), noErr);
  int16_t wide[4];
  EXPECT_EQ(Color8To16(wide, colour), noErr);
  EXPECT_EQ(wide[3], 0x7F00);
  int16_t narrow[4];
  EXPECT_EQ(Color16To8(narrow, wide), noErr);
  EXPECT_EQ(narrow[1], 2);
  EXPECT_EQ(CopyColor4(narrow, colour), noErr);
  EXPECT_EQ(SetColor4(nullptr, 0, 0, 0, 0), errAEParamMissed);
  EXPECT_EQ(CopyColor4(nullptr, colour), errAEParamMissed);

  ColorServicesInfo info;
  InitColorServicesInfo(&info);
  EXPECT_EQ(info.infoSize, int32_t(sizeof(ColorServicesInfo)));
  EXPECT_EQ(info.selector, plugIncolorServicesConvertColor);
  EXPECT_EQ(info.resultSpace, -1);
  EXPECT_EQ(info.sourceSpace, 0);

  static ColorServicesInfo seen;
  ColorServicesProc invert = [](ColorServicesInfo* i) -> OSErr {
    seen = *i;
    for (auto& c : i->colorComponents) c = int16_t(255 - c);
    i->resultSpace = plugIncolorServicesHSBSpace;
    return noErr;
  };
  int16_t rgb[4] = {10, 20, 30, 0};
  EXPECT_EQ(ConvertColorServices(invert, 0, 4, rgb), noErr);
  EXPECT_EQ(seen.selector, 1);
  EXPECT_EQ(seen.sourceSpace, 0);
  EXPECT_EQ(seen.resultSpace, 4);
  EXPECT_EQ(rgb[0], 245);
  int16_t space = plugIncolorServicesRGBSpace;
  const uint8_t prompt[] = {4, 'p', 'i', 'c', 'k', 0};
  EXPECT_EQ(PickColorServices(invert, prompt, &space, rgb), noErr);
  EXPECT_EQ(seen.selector, 0);
  EXPECT_EQ(seen.resultSpace, -1);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(seen.selectorParameter.pickerPrompt), prompt);
  EXPECT_EQ(space, plugIncolorServicesHSBSpace);
  EXPECT_EQ(rgb[0], 10);
  ColorServicesProc failing = [](ColorServicesInfo*) -> OSErr { return -9; };
  EXPECT_EQ(ConvertColorServices(failing, 0, 4, rgb), -9);
  EXPECT_EQ(rgb[0], 10);
  EXPECT_EQ(ConvertColorServices(invert, 0, 4, nullptr), errAEParamMissed);
  EXPECT_EQ(ConvertColorServices(nullptr, 0, 4, rgb), errPlugInHostInsufficient);
  EXPECT_EQ(PickColorServices(nullptr, prompt, &space, rgb), errPlugInHostInsufficient);

  HostVersionRecord record{7, 8, 9, 1, 2, 3, 4};
  ClearVersionRecord(&record);
  EXPECT_EQ(record.hostCode + record.fileOsCode + record.fileFlagsCode, 0);
  EXPECT_EQ(record.major, 1);
  EXPECT_EQ(FileOsCode(1), 11);
  EXPECT_EQ(FileOsCode(0x40000), 10);
  EXPECT_EQ(FileOsCode(0x40004), 12);
  EXPECT_EQ(FileFlagsCode(1, 1, 1), 0);
  EXPECT_EQ(FileFlagsCode(3, 2, 3), 2);
  EXPECT_EQ(FileFlagsCode(0, 3, 3), 3);
}

TEST(SdkRectangles, RectanglesTimeAndRatios) {
  Rect r{};
  EXPECT_TRUE(SetRect16(&r, 10, 20, 110, 220));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 110);
  EXPECT_EQ(r.bottom, 220);
  EXPECT_FALSE(SetRect16(nullptr, 0, 0, 0, 0));
  OffsetRect16(&r, 5, -5);
  EXPECT_EQ(r.left, 15);
  EXPECT_EQ(r.bottom, 215);
  InsetRect16(&r, 5, 10);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.right, 110);
  EXPECT_EQ(r.top, 25);
  EXPECT_EQ(r.bottom, 205);
  struct PointRow {
    int16_t h, v;
    int32_t inside;
  };
  for (PointRow row : {PointRow{20, 25, 1}, PointRow{109, 204, 1}, PointRow{110, 30, 0}, PointRow{50, 205, 0},
                       PointRow{19, 30, 0}}) {
    const uint32_t point = (uint32_t(uint16_t(row.h)) << 16) | uint16_t(row.v);
    EXPECT_EQ(PointInRect16(point, &r) & 1, row.inside) << row.h << "," << row.v;
  }
  struct RatioRow {
    int32_t a, b;
    Fixed expected;
  };
  for (RatioRow row : {RatioRow{1, 2, 0x8000}, RatioRow{3, 1, 0x30000}, RatioRow{-1, 4, -0x4000},
                       RatioRow{5, 0, 2147483647}, RatioRow{-5, 0, -2147483647}}) {
    EXPECT_EQ(FixedRatio(row.a, row.b), row.expected) << row.a << "/" << row.b;
  }
  const uint32_t t0 = TickCount60();
  EXPECT_LE(TickCount60() - t0, 2u);
}

TEST(SdkSuites, ReleaseAllSuitesAndPluginInstance) {
  static std::vector<std::string> released;
  static SPBasicSuite basic{};
  static SPAccessSuite access{};
  static int accessInstance = 0;
  basic.AcquireSuite = [](const char* name, int32_t, const void** suite) -> SPErr {
    if (std::string(name) != "SP Access Suite") return -1;
    *suite = &access;
    return 0;
  };
  basic.ReleaseSuite = [](const char* name, int32_t) -> SPErr {
    released.emplace_back(name);
    return 0;
  };
  access.GetPluginAccess = [](SPPluginRef, SPAccessRef* ref) -> SPErr {
    *ref = reinterpret_cast<SPAccessRef>(&access);
    return 0;
  };
  access.GetAccessInfo = [](SPAccessRef, SPPlatformAccessInfo* info) -> SPErr {
    info->defaultModule = &basic;
    info->resourceAccess = &accessInstance;
    return 0;
  };
  SPBasicSuite* saved = HostBasicSuite;
  HostBasicSuite = nullptr;
  int ref = 0;
  EXPECT_THROW(GetPluginInstance(&ref), HostSuiteError);
  HostBasicSuite = &basic;
  EXPECT_EQ(GetPluginInstance(&ref), &accessInstance);
  EXPECT_EQ(GetModuleInstance(), &accessInstance);
  HostSuiteHolder* buffer = FindHostSuiteHolder("Photoshop Buffer Suite for Plug-ins");
  ASSERT_NE(buffer, nullptr);
  buffer->suite = &basic;
  buffer->version = 1;
  ReleaseAllSuites();
  // Holder order: the access suite stands before the Buffer suite.
  EXPECT_EQ(released, (std::vector<std::string>{"SP Access Suite", "Photoshop Buffer Suite for Plug-ins"}));
  EXPECT_EQ(buffer->suite, nullptr);
  EXPECT_EQ(FindHostSuiteHolder("SP Access Suite")->suite, nullptr);
  EXPECT_TRUE(ReleaseThroughHostBasicSuite("x", 1));
  HostBasicSuite = nullptr;
  EXPECT_FALSE(ReleaseThroughHostBasicSuite("x", 1));
  HostBasicSuite = saved;
  DllMain(nullptr, 0, nullptr);
}

} // namespace
} // namespace ov
