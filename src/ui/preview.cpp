// The dialog object as a headless host answers it (see preview.h); the Win32 panel and
// preview replace these bodies when the Win32 dialog is built.
#include "ui/preview.h"

#include "core/logger.h"

namespace ov {

uint32_t PreviewRenderTick = 0;
bool PreviewChanged = false;
bool LivePreview = true;

bool pfPreviewWin32::Show(pfFilter* filter, FilterRecord* record, pfParameterUIList& controls) {
  LogTrace("pfPreviewWin32::Show( pFilter(0x", HexPtr(filter), "), pFilterRecord(0x", HexPtr(record), ") )\n");
  LogScope scope;
  filter_ = filter;
  filterRecord_ = record;
  controls_ = &controls;
  const bool result = true; // no window: accepted as it stands
  PreviewRenderTick = 0;
  LogTrace("pfPreviewWin32::Show( return(", result, ") )\n");
  return result;
}

void pfPreviewWin32::Invalidate() { PreviewChanged = true; }

bool pfPreviewWin32::AlternativeColorSelection(FilterRecord*, double&, double&, double&) {
  return false; // no colour chooser without a window: as if cancelled
}

void pfPreviewWin32::FitScaleFactor() {
  requestedScale_ = 1;
  currentScale_ = 1;
}

} // namespace ov
