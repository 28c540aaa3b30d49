// The panel's control classes on real Win32 items (Windows build, under Wine): what each
// shows, what a typed or dragged value does to its parameter, and the binding rule.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "host/parameter.h"
#include "ui/parameter_ui_win32.h"

namespace ov {
namespace {

class Panel : public ::testing::Test {
protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
    dialog = CreateWindowExA(0, "STATIC", "panel", WS_OVERLAPPEDWINDOW, 10, 10, 400, 300, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOW);
    auto child = [&](const char* cls, DWORD style, int id) {
      CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 0, 24 * (id - 100), 80, 20, dialog,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    };
    child("EDIT", ES_AUTOHSCROLL, kEdit);
    child(TRACKBAR_CLASSA, TBS_HORZ, kTrackbar);
    child("BUTTON", BS_AUTO3STATE, kCheck);
    child("COMBOBOX", CBS_DROPDOWNLIST, kCombo);
    child("EDIT", ES_AUTOHSCROLL, kEdit2);
    child("STATIC", 0, kLabel);
  }
  void TearDown() override { DestroyWindow(dialog); }

  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  std::string Text(int id) const {
    char buffer[64] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
  }
  // Typing: the field has the focus and its text changes, then the panel reads the control.
  bool Type(pfParameterUI& control, int id, const char* text) {
    SetFocus(Item(id));
    SetDlgItemTextA(dialog, id, text);
    return control.ReadFocusedControl();
  }
  void Leave() { SetFocus(dialog); }

  static constexpr int kEdit = 100, kTrackbar = 101, kCheck = 102, kCombo = 103, kEdit2 = 104, kLabel = 105;
  HWND dialog = nullptr;
};

TEST_F(Panel, FloatFieldAndTrackbar) {
  pfParameterFloat radius; // 0 hard, 50 soft
  radius.SetMinimum(0, true);
  radius.SetMaximum(50, false);
  radius.SetValue(5);
  pfParameterUIFloatWin32 control;
  control.SetControlId(kEdit);
  control.SetTrackbarId(kTrackbar);
  control.SetLabelId(kLabel);
  control.AttachParameter(&radius);
  control.SetDialog(dialog);
  control.Init();
  EXPECT_EQ(SendMessageA(Item(kTrackbar), TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageA(Item(kTrackbar), TBM_GETRANGEMAX, 0, 0), 5000);
  EXPECT_EQ(SendMessageA(Item(kTrackbar), TBM_GETPAGESIZE, 0, 0), 500);
  EXPECT_EQ(Text(kEdit), "5");

  struct Row {
    const char* text;
    bool changed;
    double value;
  } rows[] = {
      {"80", true, 80},    // beyond the soft limit: accepted
      {"-3", true, 0},     // below the hard limit: clamped
      {"12abc", false, 0}, // not a whole number: nothing set
      {"12 ", false, 0},
      {" 12", true, 12},
      {"inf", false, 12},
      {"nan", false, 12},
      {"1e-1", true, 0.1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Type(control, kEdit, row.text), row.changed);
    EXPECT_EQ(radius.GetValue(), row.value);
    EXPECT_EQ(Text(kEdit), row.text); // the focused field keeps what was typed
  }
  Type(control, kEdit, "80");
  EXPECT_EQ(SendMessageA(Item(kTrackbar), TBM_GETPOS, 0, 0), 5000); // its end
  Type(control, kEdit, "x");
  control.OnEditKillFocus(kEdit);
  Leave();
  control.Update();
  EXPECT_EQ(Text(kEdit), "80"); // leaving the field shows the value again

  // A dragged trackbar sets value = position / 100; the field follows.
  SetFocus(Item(kTrackbar));
  SendMessageA(Item(kTrackbar), TBM_SETPOS, TRUE, 7);
  EXPECT_TRUE(control.ReadFocusedControl());
  EXPECT_DOUBLE_EQ(radius.GetValue(), 0.07);
  EXPECT_EQ(Text(kEdit), "0.07");

  // Disabled and hidden with its label; a second SetVisible(false) changes nothing.
  control.SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(Item(kEdit)));
  EXPECT_FALSE(IsWindowEnabled(Item(kLabel)));
  control.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(Item(kTrackbar)));
  EXPECT_FALSE(IsWindowVisible(Item(kLabel)));
  control.DetachParameter();
}

TEST_F(Panel, IntFieldTruncatesAndValidates) {
  pfParameterInt facets; // 3 hard, 15 soft
  facets.SetMinimum(3, true);
  facets.SetMaximum(15, false);
  facets.SetValue(5);
  pfParameterUIIntWin32 control;
  control.SetControlId(kEdit);
  control.SetTrackbarId(kTrackbar);
  control.AttachParameter(&facets);
  control.SetDialog(dialog);
  control.Init();
  EXPECT_EQ(SendMessageA(Item(kTrackbar), TBM_GETPAGESIZE, 0, 0), 1);
  struct Row {
    const char* text;
    int32_t value;
  } rows[] = {{"7.9", 7}, {"2", 3}, {"20", 20}, {"-7.9", 3}, {"1e999", 3}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Type(control, kEdit, row.text);
    EXPECT_EQ(facets.GetValue(), row.value);
  }
  control.DetachParameter();
}

TEST_F(Panel, CheckBoxAndList) {
  pfParameterBool invert;
  pfParameterUIBoolWin32 check;
  check.SetControlId(kCheck);
  check.AttachParameter(&invert);
  check.SetDialog(dialog);
  check.Init();
  SendMessageA(Item(kCheck), BM_SETCHECK, BST_CHECKED, 0);
  Leave();
  EXPECT_FALSE(check.ReadFocusedControl()); // read only with the focus
  SetFocus(Item(kCheck));
  EXPECT_TRUE(check.ReadFocusedControl());
  EXPECT_TRUE(invert.GetValue());
  SendMessageA(Item(kCheck), BM_SETCHECK, BST_INDETERMINATE, 0);
  EXPECT_FALSE(check.ReadFocusedControl());
  EXPECT_TRUE(invert.GetValue());

  pfParameterList show;
  for (const char* item : {"normal blur", "iris", "highlight selection", "highlight selection only"})
    show.AddItem(item);
  show.Select(3);
  pfParameterUIListWin32 list;
  list.SetControlId(kCombo);
  list.AttachParameter(&show);
  list.SetDialog(dialog);
  list.Init();
  EXPECT_EQ(SendMessageA(Item(kCombo), CB_GETCOUNT, 0, 0), 4);
  EXPECT_EQ(SendMessageA(Item(kCombo), CB_GETCURSEL, 0, 0), 2);
  Leave(); // a list is read whatever has the focus
  SendMessageA(Item(kCombo), CB_SETCURSEL, 0, 0);
  EXPECT_TRUE(list.ReadFocusedControl());
  EXPECT_EQ(show.GetSelection(), 1);
  SendMessageA(Item(kCombo), CB_SETCURSEL, WPARAM(-1), 0); // no selection: ignored
  EXPECT_FALSE(list.ReadFocusedControl());
  EXPECT_EQ(show.GetSelection(), 1);
  // The item list is rebuilt on every refresh.
  show.ClearItems();
  show.AddItem("one");
  show.UpdateUI();
  EXPECT_EQ(SendMessageA(Item(kCombo), CB_GETCOUNT, 0, 0), 1);

  // A control bound to a parameter of another kind never changes it.
  pfParameterFloat other;
  other.SetValue(0.5);
  pfParameterUIBoolWin32 wrong;
  wrong.SetControlId(kCheck);
  wrong.AttachParameter(&other);
  wrong.SetDialog(dialog);
  SetFocus(Item(kCheck));
  SendMessageA(Item(kCheck), BM_SETCHECK, BST_UNCHECKED, 0);
  EXPECT_FALSE(wrong.ReadFocusedControl());
  EXPECT_EQ(other.GetValue(), 0.5);
  wrong.DetachParameter();
  check.DetachParameter();
  list.DetachParameter();
}

TEST_F(Panel, AngleAndPositionFields) {
  pfParameterFloat angle;
  angle.SetValue(725);
  pfParameterUIAngleWin32 dial;
  dial.SetControlId(kLabel); // the dial placeholder
  dial.SetEditId(kEdit);
  dial.AttachParameter(&angle);
  dial.SetDialog(dialog);
  Leave();
  dial.Init();
  EXPECT_EQ(Text(kEdit), "5.00");
  angle.SetValue(-30);
  EXPECT_EQ(Text(kEdit), "330.00");
  Type(dial, kEdit, "400");
  EXPECT_EQ(angle.GetValue(), 400);
  dial.OnEditKillFocus(kEdit);
  Leave();
  dial.Update();
  EXPECT_EQ(Text(kEdit), "40.00");
  EXPECT_TRUE(dial.AngleFromDialPoint(0, 10)); // straight below: 180 in the turn of 400
  EXPECT_DOUBLE_EQ(angle.GetValue(), 540);
  EXPECT_FALSE(dial.AngleFromDialPoint(0, 0));
  dial.DetachParameter();

  pfParameterPosition point;
  pfParameterUIPositionWin32::SetImageSize(1000, 500);
  point.SetPosition(0.25, 0.5);
  pfParameterUIPositionWin32 fields;
  fields.SetControlId(kEdit);
  fields.SetTrackbarId(kEdit2);
  fields.AttachParameter(&point);
  fields.SetDialog(dialog);
  fields.Init();
  EXPECT_EQ(Text(kEdit), "250");
  EXPECT_EQ(Text(kEdit2), "250");
  Type(fields, kEdit, "500");
  EXPECT_EQ(point.GetX(), 0.5);
  EXPECT_EQ(point.GetY(), 0.5);
  fields.Update();
  EXPECT_EQ(Text(kEdit), "500");
  fields.DetachParameter();
}

} // namespace
} // namespace ov
