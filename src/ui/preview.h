// preview.h - the dialog object that the filter's Start request shows, and the three values
// the dialog shares with the adapter's progress operation.
//
// ov::pfPreview is the abstract base (slots: destructor, Show, Invalidate,
// AlternativeColorSelection); ov::pfPreviewWin32 adds FitScaleFactor. The filter protocol
// adapter holds one pfPreviewWin32 by value and calls it through the base's slots.
//
// Windows build: Show creates the preview window (dialog 105) and the parameter panel
// (dialog 101) from the module's resources, runs its own message loop on the host's thread
// and renders the preview in idle time through the filter's Render on a reduced proxy (a
// render answered -128 is repeated one level coarser, a coarse preview is followed by a full
// one). OK answers true and stores the last used values in the registry; Cancel answers
// false. The window placements, the presets file and the fixed-preview switch are kept in
// the registry whichever way the dialog ends. (ui/win32/preview_win32.cpp)
//
// Native build (no window system): Show answers true at once, as if OK had been pressed
// without a change: the parameters keep the values they hold, nothing is stored, and it does
// not call the filter's AdaptToHostMask, so a descriptor's view choice stands.
// AlternativeColorSelection answers false (like Cancel); FitScaleFactor keeps the scale at 1.
// PreviewRenderTick stays 0, so the progress operation never takes the dialog's path.
// (ui/posix/preview_posix.cpp)
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "host/host_api.h"

namespace ov {

class pfFilter; // host/pf_filter.h
class pfParameterUI;
class pfParameterPosition;
class pfParameterRGB;
class pfParameterUIAngleWin32;

// The filter's list of dialog controls, in registration order (the list owns its nodes,
// not the controls).
using pfParameterUIList = std::list<pfParameterUI*>;

// Milliseconds tick at which the running preview render started; 0 outside a dialog.
extern uint32_t PreviewRenderTick;
// Set when a parameter change invalidates the preview; cleared when a preview render starts.
extern bool PreviewChanged;
// 1 at start: a parameter change may interrupt a running preview render. The dialog's
// fixed-preview box is checked while it is 0; the byte is stored and restored unchanged.
extern uint8_t LivePreview;
// The preview level of a finished preview.
extern uint32_t DefaultPreviewLevel;

class pfPreview {
public:
  virtual ~pfPreview() = default;
  // Runs the modal dialog for the filter; true when the user accepted (OK).
  virtual bool Show(pfFilter* filter, FilterRecord* record, pfParameterUIList& controls) = 0;
  // The preview no longer matches the parameters.
  virtual void Invalidate() = 0;
  // The system colour chooser (values 0..1 in and out); true when a colour was chosen.
  virtual bool AlternativeColorSelection(FilterRecord* record, double& red, double& green, double& blue) = 0;
};

class pfPreviewWin32 : public pfPreview {
public:
  pfPreviewWin32();
  ~pfPreviewWin32() override = default;
  pfPreviewWin32(const pfPreviewWin32&) = delete;
  pfPreviewWin32& operator=(const pfPreviewWin32&) = delete;

  bool Show(pfFilter* filter, FilterRecord* record, pfParameterUIList& controls) override;
  void Invalidate() override;
  bool AlternativeColorSelection(FilterRecord* record, double& red, double& green, double& blue) override;
  // Chooses the zoom that shows the whole image.
  virtual void FitScaleFactor();

  int32_t GetCurrentScale() const { return currentScale; }
  int32_t GetRequestedScale() const { return requestedScale; }
  int32_t GetScaleFactor() const { return currentScale; }

  // The operations below exist in the Windows build; the window procedures of the panel and
  // the preview window reach the object's state directly (one dialog at a time).
  void AssignScaleFactor(int32_t factor);
  bool RequestScaleFactor(int32_t factor);
  void DrawToPreview();
  void PreviewToImagePoint(int32_t x, int32_t y, double& u, double& v);
  void InvalidatePreviewFrame();
  void UpdateUndoButtons();
  void UpdateSettingsList();
  void SavePresetAs();
  void DeletePreset();
  void LoadSelectedPreset();
  void OnChangeSettingFile();
  void SetPresetPath(const std::string& path);
  void WriteLastUsedSettings();
  void ReadLastUsedSettings();
  // Releases the preview bitmap (null afterwards) and forgets the set-up scale.
  void ReleasePreviewBuffer();

  int32_t currentScale = 1;
  int32_t requestedScale = 1;
  void* interfaceWindow = nullptr; // HWND of the panel (dialog 101)
  void* previewWindow = nullptr;   // HWND of the preview window (dialog 105)
  FilterRecord* filterRecord = nullptr;
  pfFilter* filter = nullptr;
  pfParameterUIList* controls = nullptr;
  pfParameterPosition* draggedPosition = nullptr;
  pfParameterRGB* colorPickTarget = nullptr;
  pfParameterUIAngleWin32* draggedAngle = nullptr;
  int32_t bufferStride = 0;
  int32_t bufferHeight = 0;
  int32_t panStartX = 0, panStartY = 0;
  int32_t panX = 0, panY = 0;
  int32_t mouseDownX = 0, mouseDownY = 0;
  int32_t panMouseX = 0, panMouseY = 0;
  bool positionDragArmed = false;
  bool panning = false;
  bool imageReady = false;
  double displayRatio = 1.0;
  uint32_t previewLevel = 0;
  char presetName[255] = {};
  uint8_t* previewBuffer = nullptr;
  void* pickCursor = nullptr;  // HCURSOR loaded by the module (destroyed by it)
  void* savedCursor = nullptr; // the dialog class's cursor before Show (the host's; restored)
  void* savedIcon = nullptr;   // the dialog class's icon before Show
  std::string presetPath;
};

} // namespace ov
