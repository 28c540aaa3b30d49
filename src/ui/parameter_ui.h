// parameter_ui.h - the dialog control bound to one parameter.
//
// ov::pfParameterUI is the base of the parameter panel's controls. It holds a non-owning
// link to its parameter (the parameter holds one back), the dialog ids of its window
// controls (-1: none), the dialog window (none until the panel exists) and two flags,
// enabled and visible, both true when built. SetEnabled and SetVisible refresh the control
// (Update) only when the flag changes. Update never calls a setter of the parameter, so a
// parameter's UpdateUI may call it from inside a setter. The Win32 control classes derive
// from it; in this base Init, Update and ReadFocusedControl do nothing.
#pragma once

#include <cstdint>

namespace ov {

class pfParameter;

class pfParameterUI {
public:
  static constexpr int32_t kNoId = -1;

  pfParameterUI() = default;
  virtual ~pfParameterUI() = default;
  pfParameterUI(const pfParameterUI&) = delete;
  pfParameterUI& operator=(const pfParameterUI&) = delete;

  // Called once the dialog window exists (the Win32 controls set their ranges here).
  virtual void Init() {}
  // Shows the bound parameter's value and applies the enabled and visible flags.
  virtual void Update() {}
  // Takes the control that has the keyboard focus into the parameter; true when the
  // parameter changed and affects the image.
  virtual bool ReadFocusedControl() { return false; }

  // The main id: the edit field of a Float or Int, the combo box of a List, the check box or
  // push button of a Bool, the colour swatch of an RGB, the dial of an Angle control.
  void SetControlId(int32_t id) { controlId_ = id; }
  // The trackbar of a Float or Int control.
  void SetTrackbarId(int32_t id) { trackbarId_ = id; }
  // The edit field that shows an angle in degrees beside its dial.
  void SetEditId(int32_t id) { editId_ = id; }
  // The static label enabled and shown together with the control.
  void SetLabelId(int32_t id) { labelId_ = id; }
  int32_t GetControlId() const { return controlId_; }
  int32_t GetTrackbarId() const { return trackbarId_; }
  int32_t GetEditId() const { return editId_; }
  int32_t GetLabelId() const { return labelId_; }

  // Links both ways when the parameter is given and differs from the current one; an
  // earlier parameter keeps its link (call DetachParameter first to clear it).
  void AttachParameter(pfParameter* parameter);
  // Clears both links; answers the parameter it was bound to, or null.
  pfParameter* DetachParameter();
  pfParameter* GetParameter() const { return parameter_; }

  void SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
  }
  void SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Update();
  }
  bool IsEnabled() const { return enabled_; }
  bool IsVisible() const { return visible_; }

  // The dialog window the control lives in (an HWND in the Windows build); null until set.
  void SetDialogWindow(void* window) { dialog_ = window; }
  void* GetDialogWindow() const { return dialog_; }

protected:
  pfParameter* parameter_ = nullptr;
  void* dialog_ = nullptr;
  int32_t controlId_ = kNoId;
  int32_t trackbarId_ = kNoId;
  int32_t editId_ = kNoId;
  int32_t labelId_ = kNoId;
  bool enabled_ = true;
  bool visible_ = true;
};

} // namespace ov
