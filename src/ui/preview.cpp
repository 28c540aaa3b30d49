// The module-wide flags of the dialog and the dialog object's construction, shared by both
// builds; Show and the window machinery are in win32/ (Windows) and posix/ (headless).
#include "ui/preview.h"

namespace ov {

uint32_t PreviewRenderTick = 0;
bool PreviewChanged = false;
uint8_t LivePreview = 1;
uint32_t DefaultPreviewLevel = 0;

pfPreviewWin32::pfPreviewWin32() : previewLevel(DefaultPreviewLevel) {}

} // namespace ov
