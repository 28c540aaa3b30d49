// The parameter panel's control classes over Win32 dialog items.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "host/parameter.h"
#include "host/pf_filter.h"
#include "ui/parameter_ui_win32.h"
#include "ui/preview_logic.h"

namespace ov {

namespace {

HWND Item(void* dialog, int32_t id) {
  return dialog && id != pfParameterUI::kNoId ? GetDlgItem(static_cast<HWND>(dialog), id) : nullptr;
}

// The text of a dialog item (at most 49 characters, as a 50-character buffer holds).
bool ItemText(void* dialog, int32_t id, std::string& text) {
  char buffer[50] = {};
  if (!dialog || id == pfParameterUI::kNoId) return false;
  const UINT n = GetDlgItemTextA(static_cast<HWND>(dialog), id, buffer, sizeof buffer);
  if (n == 0) return false;
  text.assign(buffer, n);
  return true;
}

bool ItemNumber(void* dialog, int32_t id, double& value) {
  std::string text;
  return ItemText(dialog, id, text) && ui::ParseFieldNumber(text.c_str(), value);
}

int32_t g_imageW = 0, g_imageH = 0;

} // namespace

void pfParameterUIWin32::ApplyFlags(const int32_t* ids, int count) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i <= count; ++i) {
      const int32_t id = i < count ? ids[i] : labelId_;
      HWND h = Item(dialog_, id);
      if (!h) continue;
      if (pass == 0) EnableWindow(h, enabled_ ? TRUE : FALSE);
      else ShowWindow(h, visible_ ? SW_SHOW : SW_HIDE);
    }
  }
}

bool pfParameterUIWin32::HasFocus(int32_t id) const {
  HWND h = Item(dialog_, id);
  return h && GetFocus() == h;
}

pfParameterUIWin32* FindParameterUIByControl(int32_t id, const pfFilter* filter) {
  if (!filter) return nullptr;
  for (int32_t i = 0; i < filter->GetControlCount(); ++i) {
    auto* c = dynamic_cast<pfParameterUIWin32*>(filter->GetControl(i));
    if (c && c->OwnsControl(id)) return c;
  }
  return nullptr;
}

void InvalidateControl(int32_t id, void* dialog) {
  HWND h = Item(dialog, id);
  if (!h) return;
  RECT r;
  GetWindowRect(h, &r);
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ScreenToClient(static_cast<HWND>(dialog), &corners[0]);
  ScreenToClient(static_cast<HWND>(dialog), &corners[1]);
  RECT c{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  InvalidateRect(static_cast<HWND>(dialog), &c, FALSE);
}

// ---- check box ---------------------------------------------------------------------------------

pfParameterBool* pfParameterUIBoolWin32::Parameter() const { return dynamic_cast<pfParameterBool*>(parameter_); }

void pfParameterUIBoolWin32::Update() {
  if (!dialog_) return;
  if (pfParameterBool* p = Parameter()) {
    SendDlgItemMessageA(static_cast<HWND>(dialog_), controlId_, BM_SETCHECK, p->GetValue() ? 1 : 0, 0);
    const int32_t ids[] = {controlId_};
    ApplyFlags(ids, 1);
  }
  InvalidateControl(controlId_, dialog_);
}

bool pfParameterUIBoolWin32::ReadFocusedControl() { return HasFocus(controlId_) && ReadFromControl(); }

bool pfParameterUIBoolWin32::ReadFromControl() {
  pfParameterBool* p = Parameter();
  if (controlId_ == kNoId || !dialog_ || !p) return false;
  const LRESULT state = SendDlgItemMessageA(static_cast<HWND>(dialog_), controlId_, BM_GETCHECK, 0, 0);
  if (state == BST_INDETERMINATE) return false;
  return p->SetValue(state == BST_CHECKED);
}

// ---- drop-down list ----------------------------------------------------------------------------

pfParameterList* pfParameterUIListWin32::Parameter() const { return dynamic_cast<pfParameterList*>(parameter_); }

void pfParameterUIListWin32::Update() {
  if (!dialog_) return;
  if (pfParameterList* p = Parameter()) {
    HWND dialog = static_cast<HWND>(dialog_);
    SendDlgItemMessageA(dialog, controlId_, CB_RESETCONTENT, 0, 0);
    for (int32_t i = 0; i < p->GetItemCount(); ++i) {
      const std::string text = p->GetItemText(i);
      SendDlgItemMessageA(dialog, controlId_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendDlgItemMessageA(dialog, controlId_, CB_SETCURSEL, WPARAM(p->GetSelection() - 1), 0);
    const int32_t ids[] = {controlId_};
    ApplyFlags(ids, 1);
  }
  InvalidateControl(controlId_, dialog_);
}

bool pfParameterUIListWin32::ReadFromControl() {
  pfParameterList* p = Parameter();
  if (!p || !dialog_ || controlId_ == kNoId) return false;
  const LRESULT index = SendDlgItemMessageA(static_cast<HWND>(dialog_), controlId_, CB_GETCURSEL, 0, 0);
  return p->Select(int32_t(index) + 1);
}

// ---- colour swatch -----------------------------------------------------------------------------

pfParameterRGB* pfParameterUIRGBWin32::Parameter() const { return dynamic_cast<pfParameterRGB*>(parameter_); }

void pfParameterUIRGBWin32::Update() {
  if (!dialog_ || !Parameter()) return;
  ApplyFlags(nullptr, 0); // the swatch itself stays a hidden placeholder
  InvalidateControl(controlId_, dialog_);
}

// ---- trackbar and edit field -------------------------------------------------------------------

namespace {

// Four positions so that the thumb always moves and repaints, even onto its old place.
void SetTrackbar(void* dialog, int32_t id, int32_t below, int32_t at, int32_t above) {
  HWND h = Item(dialog, id);
  if (!h) return;
  SendMessageA(h, TBM_SETPOS, FALSE, below);
  SendMessageA(h, TBM_SETPOS, TRUE, at);
  SendMessageA(h, TBM_SETPOS, FALSE, above);
  SendMessageA(h, TBM_SETPOS, TRUE, at);
}

} // namespace

pfParameterInt* pfParameterUIIntWin32::Parameter() const { return dynamic_cast<pfParameterInt*>(parameter_); }

void pfParameterUIIntWin32::Init() {
  pfParameterInt* p = Parameter();
  HWND h = Item(dialog_, trackbarId_);
  if (!p || !h) return;
  SendMessageA(h, TBM_SETRANGEMIN, FALSE, p->GetMinimum());
  SendMessageA(h, TBM_SETRANGEMAX, FALSE, p->GetMaximum());
  SendMessageA(h, TBM_SETPAGESIZE, 0, ui::IntPageSize(p->GetMinimum(), p->GetMaximum()));
  Update();
}

void pfParameterUIIntWin32::Update() {
  if (!dialog_) return;
  if (pfParameterInt* p = Parameter()) {
    const int32_t v = p->GetValue();
    if (!HasFocus(trackbarId_)) SetTrackbar(dialog_, trackbarId_, v - 1, v, v + 1);
    if (controlId_ != kNoId && !HasFocus(controlId_))
      SetDlgItemInt(static_cast<HWND>(dialog_), controlId_, UINT(v), TRUE);
    const int32_t ids[] = {controlId_, trackbarId_};
    ApplyFlags(ids, 2);
  }
  InvalidateControl(controlId_, dialog_);
  InvalidateControl(trackbarId_, dialog_);
}

bool pfParameterUIIntWin32::ReadFocusedControl() {
  if (HasFocus(controlId_)) return ReadFromEdit();
  if (HasFocus(trackbarId_)) return ReadFromTrackbar();
  return false;
}

void pfParameterUIIntWin32::OnEditKillFocus(int32_t id) {
  if (id != controlId_) return;
  ReadFromEdit();
  Update();
}

bool pfParameterUIIntWin32::ReadFromTrackbar() {
  pfParameterInt* p = Parameter();
  HWND h = Item(dialog_, trackbarId_);
  if (!p || !h) return false;
  const bool changed = p->SetValue(int32_t(SendMessageA(h, TBM_GETPOS, 0, 0)));
  p->Validate();
  return changed;
}

bool pfParameterUIIntWin32::ReadFromEdit() {
  pfParameterInt* p = Parameter();
  double typed;
  if (!p || !ItemNumber(dialog_, controlId_, typed)) return false;
  const bool changed = p->SetValue(ui::TypedInt(typed));
  p->Validate();
  return changed;
}

pfParameterFloat* pfParameterUIFloatWin32::Parameter() const { return dynamic_cast<pfParameterFloat*>(parameter_); }

void pfParameterUIFloatWin32::Init() {
  pfParameterFloat* p = Parameter();
  HWND h = Item(dialog_, trackbarId_);
  if (!p || !h) return;
  SendMessageA(h, TBM_SETRANGEMIN, FALSE, ui::FloatTrackbarPosition(p->GetMinimum()));
  SendMessageA(h, TBM_SETRANGEMAX, FALSE, ui::FloatTrackbarPosition(p->GetMaximum()));
  SendMessageA(h, TBM_SETPAGESIZE, 0, ui::FloatPageSize(p->GetMinimum(), p->GetMaximum()));
  Update();
}

void pfParameterUIFloatWin32::Update() {
  if (!dialog_) return;
  if (pfParameterFloat* p = Parameter()) {
    const double v = p->GetValue();
    if (!HasFocus(trackbarId_))
      SetTrackbar(dialog_, trackbarId_, ui::FloatTrackbarPosition(v + 1.0), ui::FloatTrackbarPosition(v),
                  ui::FloatTrackbarPosition(v - 1.0));
    if (controlId_ != kNoId && !HasFocus(controlId_))
      SetDlgItemTextA(static_cast<HWND>(dialog_), controlId_, ui::FormatFloatField(v).c_str());
    const int32_t ids[] = {controlId_, trackbarId_};
    ApplyFlags(ids, 2);
  }
  InvalidateControl(controlId_, dialog_);
  InvalidateControl(trackbarId_, dialog_);
}

bool pfParameterUIFloatWin32::ReadFocusedControl() {
  if (HasFocus(controlId_)) return ReadFromEdit();
  if (HasFocus(trackbarId_)) return ReadFromTrackbar();
  return false;
}

void pfParameterUIFloatWin32::OnEditKillFocus(int32_t id) {
  if (id != controlId_) return;
  ReadFromEdit();
  Update();
}

bool pfParameterUIFloatWin32::ReadFromTrackbar() {
  pfParameterFloat* p = Parameter();
  HWND h = Item(dialog_, trackbarId_);
  if (!p || !h) return false;
  const bool changed = p->SetValue(double(int32_t(SendMessageA(h, TBM_GETPOS, 0, 0))) * 0.01);
  p->Validate();
  return changed;
}

bool pfParameterUIFloatWin32::ReadFromEdit() {
  pfParameterFloat* p = Parameter();
  double typed;
  if (!p || !ItemNumber(dialog_, controlId_, typed)) return false;
  const bool changed = p->SetValue(ui::ClampTypedFloat(typed, p->GetMinimum(), p->IsMinimumClamped(),
                                                       p->GetMaximum(), p->IsMaximumClamped()));
  p->Validate();
  return changed;
}

// ---- angle dial --------------------------------------------------------------------------------

pfParameterFloat* pfParameterUIAngleWin32::Parameter() const { return dynamic_cast<pfParameterFloat*>(parameter_); }

void pfParameterUIAngleWin32::Update() {
  if (!dialog_) return;
  if (pfParameterFloat* p = Parameter()) {
    int32_t turns;
    double degrees;
    ui::SplitTurns(p->GetValue(), turns, degrees);
    if (trackbarId_ != kNoId && !HasFocus(trackbarId_))
      SetDlgItemInt(static_cast<HWND>(dialog_), trackbarId_, UINT(turns), TRUE);
    if (editId_ != kNoId && !HasFocus(editId_))
      SetDlgItemTextA(static_cast<HWND>(dialog_), editId_, ui::FormatDegrees(degrees).c_str());
    const int32_t ids[] = {editId_, trackbarId_};
    ApplyFlags(ids, 2);
  }
  InvalidateControl(trackbarId_, dialog_);
  InvalidateControl(editId_, dialog_);
  InvalidateControl(controlId_, dialog_);
}

bool pfParameterUIAngleWin32::ReadFocusedControl() {
  if (!HasFocus(trackbarId_) && !HasFocus(editId_)) return false;
  pfParameterFloat* p = Parameter();
  if (!p || !dialog_) return false;
  double degrees = 0.0, turnsTyped = 0.0;
  double typed;
  if (editId_ != kNoId && ItemNumber(dialog_, editId_, typed)) degrees = typed;
  if (trackbarId_ != kNoId && ItemNumber(dialog_, trackbarId_, typed)) turnsTyped = ui::TypedInt(typed);
  // The setter's refresh must leave the whole-turns field as typed.
  const int32_t turnsId = trackbarId_;
  trackbarId_ = kNoId;
  const bool changed = p->SetValue(360.0 * turnsTyped + degrees);
  trackbarId_ = turnsId;
  p->Validate();
  return changed;
}

void pfParameterUIAngleWin32::OnEditKillFocus(int32_t) {
  ReadFocusedControl();
  Update();
}

bool pfParameterUIAngleWin32::AngleFromDialPoint(int32_t dx, int32_t dy) {
  pfParameterFloat* p = Parameter();
  double value;
  if (!p || !ui::AngleFromDialPoint(p->GetValue(), dx, dy, value)) return false;
  return p->SetValue(value);
}

// ---- position fields ---------------------------------------------------------------------------

pfParameterPosition* pfParameterUIPositionWin32::Parameter() const {
  return dynamic_cast<pfParameterPosition*>(parameter_);
}

void pfParameterUIPositionWin32::SetImageSize(int32_t w, int32_t h) {
  g_imageW = w;
  g_imageH = h;
}

void pfParameterUIPositionWin32::GetImageSize(int32_t& w, int32_t& h) {
  w = g_imageW;
  h = g_imageH;
}

void pfParameterUIPositionWin32::Update() {
  if (!dialog_) return;
  pfParameterPosition* p = Parameter();
  if (p && controlId_ != kNoId) {
    auto field = [&](int32_t id, double coordinate, int32_t size) {
      if (id == kNoId) return;
      std::string current;
      ItemText(dialog_, id, current);
      const std::string text = ui::PositionFieldText(current.c_str(), coordinate, size);
      if (text != current) SetDlgItemTextA(static_cast<HWND>(dialog_), id, text.c_str());
    };
    field(controlId_, p->GetX(), g_imageW);
    field(trackbarId_, p->GetY(), g_imageH);
  }
  const int32_t ids[] = {controlId_, trackbarId_};
  ApplyFlags(ids, 2);
  InvalidateControl(controlId_, dialog_);
  InvalidateControl(trackbarId_, dialog_);
}

bool pfParameterUIPositionWin32::ReadFocusedControl() {
  pfParameterPosition* p = Parameter();
  if (!p || !dialog_) return false;
  double x = p->GetX(), y = p->GetY(), typed;
  if (HasFocus(controlId_) && g_imageW != 0 && ItemNumber(dialog_, controlId_, typed)) x = typed / g_imageW;
  if (HasFocus(trackbarId_) && g_imageH != 0 && ItemNumber(dialog_, trackbarId_, typed)) y = typed / g_imageH;
  return p->SetPosition(x, y);
}

} // namespace ov
