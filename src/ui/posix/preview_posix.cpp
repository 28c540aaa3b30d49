// The dialog object as a headless host answers it (see preview.h).
#include "core/logger.h"
#include "ui/preview.h"

namespace ov {

bool pfPreviewWin32::Show(pfFilter* filter_, FilterRecord* record, pfParameterUIList& controls_) {
  LogTrace("pfPreviewWin32::Show( pFilter(0x", HexPtr(filter_), "), pFilterRecord(0x", HexPtr(record), ") )\n");
  LogScope scope;
  filter = filter_;
  filterRecord = record;
  controls = &controls_;
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
  requestedScale = 1;
  currentScale = 1;
}

} // namespace ov
