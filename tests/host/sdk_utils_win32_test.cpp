// The Windows-only families of the host-SDK utility layer, one table test per family. Message
// boxes are real: a thread timer reads their text and presses OK.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/sdk_utils_win32.h"
#include "host/string_table.h"

namespace ov {
namespace {

// Closes the next message boxes of this thread, keeping their texts.
struct BoxCloser {
  static inline std::vector<std::string> texts;
  UINT_PTR timer;
  BoxCloser() {
    texts.clear();
    timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
      EnumThreadWindows(
          GetCurrentThreadId(),
          [](HWND w, LPARAM) -> BOOL {
            char cls[32] = {};
            GetClassNameA(w, cls, sizeof(cls));
            if (std::string(cls) != "#32770" || !IsWindowVisible(w)) return TRUE;
            char text[512] = {};
            GetDlgItemTextA(w, 0xFFFF, text, sizeof(text)); // the message box's text
            texts.emplace_back(text);
            PostMessageA(w, WM_COMMAND, IDOK, 0);
            return TRUE;
          },
          0);
    });
  }
  ~BoxCloser() { KillTimer(nullptr, timer); }
};

struct P {
  uint8_t s[256] = {};
  explicit P(const std::string& t = "") { CStringToPString(t.c_str(), s); }
  std::string str() const { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }
};

TEST(SdkWin32Memory, GlobalBlocks) {
  for (size_t size : {size_t(0), size_t(1), size_t(100), size_t(1) << 20}) {
    void* block = NewGlobalBlock(size);
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(GetGlobalBlockSize(block), size);
    if (size) {
      EXPECT_EQ(static_cast<char*>(block)[size - 1], 0);
    }
    FreeGlobalBlock(block);
  }
  Handle h = NewHandleFallback(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSizeFallback(h), 0);
  DisposeHandleFallback(h);
}

TEST(SdkWin32Messages, StringTableBoxesAndWarnings) {
  EXPECT_EQ(ShowStringTableMessage(nullptr, 0, kStringIntegerRange, nullptr, nullptr), 0);
  EXPECT_EQ(LoadModuleString(kStringDecimalRange), ModuleStringText(kStringDecimalRange));

  struct Row {
    const char* name;
    std::function<bool()> call;
    bool result;
    std::vector<std::string> boxes;
  };
  struct Table {
    int16_t version, count;
    void (*procs[8])(void);
  };
  static Table present{2, 5, {}}, newer{3, 5, {}};
  for (auto* t : {&present, &newer})
    for (auto& p : t->procs) p = [] {};
  const std::string tooOld = "This plug-in requires Adobe Photoshop\xAE ";
  const Row rows[] = {
      {"integer range", [] {
         P a("1"), b("100");
         return ShowStringTableMessage(nullptr, kStringIntegerRange, kStringIntegerRange, a.s, b.s) == IDOK;
       }, true, {"An integer is required between 1 and 100."}},
      {"error icon twin", [] {
         return ShowStringTableMessageIcon(nullptr, 1, kStringHostIncompatible, nullptr, nullptr, 1) == IDOK;
       }, true, {"This plug-in is incompatible with this version of the host program."}},
      {"2x5 present", [] { return CheckSuiteAvailable(&present); }, true, {}},
      {"2x5 newer", [] { return CheckSuiteAvailable(&newer); }, false,
       {"This plug-in is incompatible with this version of the host program."}},
      {"2x5 absent", [] { return CheckSuiteAvailable(nullptr); }, false, {tooOld + "2.5 or later functionality."}},
      {"advance state", [] { return WarnAdvanceState(nullptr); }, false, {tooOld + "3.0 or later functionality."}},
      {"procedure 2.5.2", [] { return WarnHostProc252(nullptr); }, false, {tooOld + "2.5.2 or later functionality."}},
      {"procedure present", [] { return WarnHostProc25(reinterpret_cast<const void*>(&present)); }, true, {}},
      {"descriptor interface", [] { return CheckDescriptorInterface(nullptr); }, false,
       {tooOld + "4.0 or later functionality."}},
      {"1x3 absent", [] { return WarnHostProcs1x3(nullptr); }, false, {tooOld + "4.0 or later functionality."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BoxCloser closer;
    EXPECT_EQ(row.call(), row.result);
    EXPECT_EQ(BoxCloser::texts, row.boxes);
  }
}

// Dialog items on a window with child controls (any parent works for the item functions).
class DialogItems : public ::testing::Test {
protected:
  void SetUp() override {
    dialog = CreateWindowExA(0, "STATIC", "items", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(dialog, nullptr);
    auto child = [&](const char* cls, DWORD style, int id) {
      CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 50, 20, dialog,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    };
    child("EDIT", ES_AUTOHSCROLL, 100);
    child("BUTTON", BS_CHECKBOX, 101);
    child("BUTTON", BS_RADIOBUTTON, 102);
    child("BUTTON", BS_RADIOBUTTON, 103);
    child("BUTTON", BS_PUSHBUTTON, 104);
  }
  void TearDown() override { DestroyWindow(dialog); }
  void Type(const char* text) { SetDlgItemTextA(dialog, 100, text); }
  HWND dialog = nullptr;
};

TEST_F(DialogItems, FieldsButtonsAndVisibility) {
  struct IntRow {
    const char* text;
    int result;
    int32_t value;
  };
  for (IntRow row : {IntRow{"42", 0, 42}, IntRow{" -3 ", 1, -3}, IntRow{"101", 1, 101}, IntRow{"4 2", 2, 0},
                     IntRow{"", 2, 0}}) {
    SCOPED_TRACE(row.text);
    Type(row.text);
    int32_t v = -99;
    EXPECT_EQ(ReadIntegerField(dialog, 100, 0, 100, &v), row.result);
    EXPECT_EQ(v, row.value);
  }
  struct DecimalRow {
    const char* text;
    int result;
    double value;
  };
  for (DecimalRow row : {DecimalRow{"2,5", 0, 2.5}, DecimalRow{"7.25", 1, 7.25}, DecimalRow{"x", 2, 0.0}}) {
    SCOPED_TRACE(row.text);
    Type(row.text);
    double v = -99;
    EXPECT_EQ(ReadDecimalField(dialog, 100, 0.0, 5.0, &v), row.result);
    EXPECT_DOUBLE_EQ(v, row.value);
  }
  StuffDouble(dialog, 100, 3.14159, 2);
  P fetched;
  FetchText(dialog, 100, fetched.s);
  EXPECT_EQ(fetched.str(), "3.14");
  int32_t low = -5;
  AlertIntegerField(dialog, 100, 0, 10, &low, false);
  EXPECT_EQ(low, 0);
  FetchText(dialog, 100, fetched.s);
  EXPECT_EQ(fetched.str(), "0");
  int32_t high = 50;
  {
    BoxCloser closer;
    AlertIntegerField(dialog, 100, 0, 10, &high, true);
    EXPECT_EQ(BoxCloser::texts, (std::vector<std::string>{"An integer is required between 0 and 10."}));
  }
  EXPECT_EQ(high, 10);
  Type("9.50");
  double d = 9.5;
  {
    BoxCloser closer;
    AlertDecimalField(dialog, 100, 0.0, 5.0, &d, true);
    EXPECT_EQ(BoxCloser::texts, (std::vector<std::string>{"A decimal number is required between 0.00 and 5.00."}));
  }
  EXPECT_EQ(d, 5.0);
  FetchText(dialog, 100, fetched.s);
  EXPECT_EQ(fetched.str(), "5.00");

  EXPECT_TRUE(ToggleCheckBox(dialog, 101));
  EXPECT_FALSE(ToggleCheckBox(dialog, 101));
  EXPECT_EQ(GetRadioGroupState(dialog, 102, 103), 0);
  CheckDlgButton(dialog, 103, BST_CHECKED);
  EXPECT_EQ(GetRadioGroupState(dialog, 102, 103), 103);
  HideItem(dialog, 104);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 104)));
  ShowWindow(dialog, SW_SHOW);
  ShowItem(dialog, 104);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 104)));
  DisableItem(dialog, 104);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 104)));
  EnableItem(dialog, 104);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 104)));
  SetItemEnabled(dialog, 104, false);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 104)));
  SetDefaultButton(dialog, 104);
  EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, 104), GWL_STYLE) & BS_DEFPUSHBUTTON);
  Type("abc");
  SelectTextItem(dialog, 100);
  DWORD from = 1, to = 0;
  SendDlgItemMessageA(dialog, 100, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 3u);
  CenterDialog(dialog);
  RECT r;
  GetWindowRect(dialog, &r);
  EXPECT_GE(r.left, 0);
  EXPECT_GE(r.top, 0);
}

TEST(SdkWin32Version, TheTestProgramHasNoHostVersion) {
  HostVersionRecord record{};
  const OSErr e = ReadHostVersionInfo(nullptr, &record);
  EXPECT_TRUE(e == paramErr || e == noErr);
  EXPECT_EQ(record.hostCode, 0);
  const int32_t codes[] = {1, 2, 3, 0};
  EXPECT_EQ(GetHostVersion(nullptr, codes), 0);
  EXPECT_EQ(GetHostVersionByCode(nullptr, 1), 0);
  EXPECT_EQ(GetHostVersionByCode(nullptr, 0), 0);
}

} // namespace
} // namespace ov
