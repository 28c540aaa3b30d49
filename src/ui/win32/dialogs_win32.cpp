// About box (dialog 111) and error box.
#include <windows.h>

#include "core/logger.h"
#include "core/module_globals.h"
#include "platform/platform.h"
#include "ui/dialogs.h"

namespace ov {

namespace {
constexpr int kAboutDialog = 111;
constexpr int kAboutTextItem = 1083;

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    SetDlgItemTextA(dialog, kAboutTextItem, AboutText().c_str());
    return TRUE;
  case WM_COMMAND: // OK, Escape
  case WM_CLOSE:   // the close box
    EndDialog(dialog, 0);
    return TRUE;
  default:
    return FALSE;
  }
}
} // namespace

void ShowAbout(const std::string& text) {
  LogTrace("ShowAbout()\n");
  LogScope scope;
  if (&text != &AboutText()) AboutText() = text;
  // The module instance that DllMain stored (pel_ui cannot link pel_host, so it asks the
  // platform layer, which DllMain fills too).
  DialogBoxParamA(static_cast<HINSTANCE>(pel::platform::ModuleHandle()), MAKEINTRESOURCEA(kAboutDialog), nullptr,
                  AboutProcedure, 0);
}

void ShowErrorBox(const std::string& title, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_ICONERROR | MB_OK);
}

} // namespace ov
