// preview.h - the dialog object that the filter's Start request shows, and the three values
// the dialog shares with the adapter's progress operation.
//
// ov::pfPreview is the abstract base (slots: destructor, Show, Invalidate,
// AlternativeColorSelection); ov::pfPreviewWin32 adds FitScaleFactor. The filter protocol
// adapter holds one pfPreviewWin32 by value and calls it through the base's slots.
//
// This round has no window behind it (the Win32 panel and preview are not built yet).
// Until then both builds answer as a headless host does:
// - Show answers true at once, as if OK had been pressed without a change: the parameters
//   keep the values they hold (defaults, last values, or what the scripting descriptor
//   set), nothing is stored as last-used values, and the filter renders with them. It does
//   not call the filter's AdaptToHostMask, so a descriptor's view choice (Show) stands.
// - AlternativeColorSelection answers false (like Cancel) and leaves the colour unchanged.
// - Invalidate sets PreviewChanged; FitScaleFactor keeps the scale at 1.
// - PreviewRenderTick stays 0, so the progress operation never takes the dialog's path.
#pragma once

#include <cstdint>
#include <list>

#include "host/host_api.h"

namespace ov {

class pfFilter; // host/pf_filter.h
class pfParameterUI;

// The filter's list of dialog controls, in registration order (the list owns its nodes,
// not the controls).
using pfParameterUIList = std::list<pfParameterUI*>;

// Milliseconds tick at which the running preview render started; 0 outside a dialog.
extern uint32_t PreviewRenderTick;
// Set when a parameter change invalidates the preview; cleared when a preview render starts.
extern bool PreviewChanged;
// On at start; the dialog's fixed-preview box shows its negation.
extern bool LivePreview;

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
  pfPreviewWin32() = default;
  ~pfPreviewWin32() override = default;
  pfPreviewWin32(const pfPreviewWin32&) = delete;
  pfPreviewWin32& operator=(const pfPreviewWin32&) = delete;

  bool Show(pfFilter* filter, FilterRecord* record, pfParameterUIList& controls) override;
  void Invalidate() override;
  bool AlternativeColorSelection(FilterRecord* record, double& red, double& green, double& blue) override;
  // Chooses the zoom that shows the whole image.
  virtual void FitScaleFactor();

  int32_t GetCurrentScale() const { return currentScale_; }
  int32_t GetRequestedScale() const { return requestedScale_; }

private:
  int32_t currentScale_ = 1;
  int32_t requestedScale_ = 1;
  FilterRecord* filterRecord_ = nullptr;
  pfFilter* filter_ = nullptr;
  pfParameterUIList* controls_ = nullptr;
};

} // namespace ov
