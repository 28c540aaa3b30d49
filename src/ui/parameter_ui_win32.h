// parameter_ui_win32.h - the parameter panel's control classes (Windows build).
//
// Each class serves one parameter kind; an operation first takes the attached parameter as
// that kind (checked downcast) and does nothing without it or without a dialog window.
// Update writes the value into the dialog items (never into the item that has the keyboard
// focus), enables or disables and shows or hides the items and the label by the control's
// flags, and invalidates the items so that the panel repaints them. Ids of -1 are skipped.
// Window handles are kept as void* so that this header does not pull in <windows.h>.
#pragma once

#include <cstdint>

#include "ui/parameter_ui.h"

namespace ov {

class pfFilter;
class pfParameterBool;
class pfParameterFloat;
class pfParameterInt;
class pfParameterList;
class pfParameterPosition;
class pfParameterRGB;

class pfParameterUIWin32 : public pfParameterUI {
public:
  void SetDialog(void* dialog) { SetDialogWindow(dialog); }
  void* GetDialog() const { return GetDialogWindow(); }
  // Whether the dialog item belongs to this control (labels do not).
  virtual bool OwnsControl(int32_t id) = 0;
  // An edit field of this control lost the keyboard focus.
  virtual void OnEditKillFocus(int32_t /*id*/) {}

protected:
  // EnableWindow and ShowWindow of the items (in this order) and the label by the flags.
  void ApplyFlags(const int32_t* ids, int count);
  bool HasFocus(int32_t id) const;
};

// The first control of the filter's list that owns the dialog item; null when none does.
pfParameterUIWin32* FindParameterUIByControl(int32_t id, const pfFilter* filter);
// Invalidates a dialog item's rectangle (no erase); nothing without a dialog or for id -1.
void InvalidateControl(int32_t id, void* dialog);

class pfParameterUIBoolWin32 : public pfParameterUIWin32 {
public:
  void Init() override { Update(); }
  void Update() override;
  bool ReadFocusedControl() override;
  bool ReadFromControl();
  bool OwnsControl(int32_t id) override { return id != kNoId && id == controlId_; }

private:
  pfParameterBool* Parameter() const;
};

class pfParameterUIListWin32 : public pfParameterUIWin32 {
public:
  void Init() override { Update(); }
  void Update() override;
  bool ReadFocusedControl() override { return ReadFromControl(); }
  bool ReadFromControl();
  bool OwnsControl(int32_t id) override { return id != kNoId && id == controlId_; }

private:
  pfParameterList* Parameter() const;
};

class pfParameterUIRGBWin32 : public pfParameterUIWin32 {
public:
  void Update() override;
  bool OwnsControl(int32_t id) override { return id != kNoId && id == controlId_; }
  pfParameterRGB* Parameter() const;
};

class pfParameterUIIntWin32 : public pfParameterUIWin32 {
public:
  void Init() override;
  void Update() override;
  bool ReadFocusedControl() override;
  bool OwnsControl(int32_t id) override { return id != kNoId && (id == controlId_ || id == trackbarId_); }
  void OnEditKillFocus(int32_t id) override;
  bool ReadFromTrackbar();
  bool ReadFromEdit();

private:
  pfParameterInt* Parameter() const;
};

class pfParameterUIFloatWin32 : public pfParameterUIWin32 {
public:
  void Init() override;
  void Update() override;
  bool ReadFocusedControl() override;
  bool OwnsControl(int32_t id) override { return id != kNoId && (id == controlId_ || id == trackbarId_); }
  void OnEditKillFocus(int32_t id) override;
  bool ReadFromTrackbar();
  bool ReadFromEdit();

private:
  pfParameterFloat* Parameter() const;
};

// The dial (main id), a whole-turns field (trackbar id) and a degrees field (edit id).
class pfParameterUIAngleWin32 : public pfParameterUIWin32 {
public:
  void Init() override { Update(); }
  void Update() override;
  bool ReadFocusedControl() override;
  bool OwnsControl(int32_t id) override {
    return id != kNoId && (id == controlId_ || id == trackbarId_ || id == editId_);
  }
  void OnEditKillFocus(int32_t id) override;
  // Sets the angle from a point relative to the dial's centre (screen y downward).
  bool AngleFromDialPoint(int32_t dx, int32_t dy);
  pfParameterFloat* Parameter() const;
};

// X field (main id) and Y field (trackbar id) in pixels of the whole image.
class pfParameterUIPositionWin32 : public pfParameterUIWin32 {
public:
  void Init() override { Update(); }
  void Update() override;
  bool ReadFocusedControl() override;
  bool OwnsControl(int32_t id) override { return id != kNoId && (id == controlId_ || id == trackbarId_); }
  pfParameterPosition* Parameter() const;

  static void SetImageSize(int32_t w, int32_t h);
  static void GetImageSize(int32_t& w, int32_t& h);
};

} // namespace ov
