// preview_cancel_wine_test: a slow preview does not hold the dialog (Windows build, run under
// Wine on a virtual display). The module is loaded as a host loads it and opens its dialog on
// a document with a depth map and a large radius, so that a preview render takes seconds. A
// thread timer plays the user: while the first preview renders, the dialog must answer (its
// messages are pumped from the render), a radius typed then makes the running preview stale,
// which stops it so that a coarse preview of the new radius shows soon, and OK (Enter) while
// the next full preview renders ends the dialog promptly. The time of the final render
// (after OK) is the yardstick: each of those waits must stay well below it.
//
//   preview_cancel_wine_test MODULE
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/resources/plugin_resources.h"
#include "tools/pelidorn/module_loader.h"
#include "tools/pelidorn/plugin_host.h"

using namespace pelidorn;

namespace {

const char* kKey = "SOFTWARE\\Ostrovanne\\Photoshop\\Pelidorn";
const char* kPanelTitle = "Pelidorn V1.45 ~ www.ostrovanne.example";

int passed = 0, failed = 0;
void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  ok ? ++passed : ++failed;
}

// A 400 x 300 RGB scene with a left-to-right depth ramp as its selection.
HostDocument Scene() {
  HostDocument d;
  d.width = 400;
  d.height = 300;
  d.colorChannels = 3;
  d.depth = 8;
  d.pixels.assign(d.rowBytes() * d.height, 0);
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) {
      uint8_t* p = &d.pixels[(size_t(y) * d.width + x) * 3];
      const bool check = ((x / 24) + (y / 24)) % 2 == 0;
      p[0] = uint8_t(check ? 40 + x / 2 : 200 - y / 2);
      p[1] = uint8_t(check ? 60 + y / 2 : 90);
      p[2] = uint8_t(check ? 180 : 40 + x / 3);
      if ((x * 7 + y * 13) % 97 == 0) p[0] = p[1] = p[2] = 255;
    }
  d.selection.assign(size_t(d.width) * d.height, 0);
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) d.selection[size_t(y) * d.width + x] = uint8_t(x * 255 / (d.width - 1));
  return d;
}

EntryPointFn g_entry = nullptr;
void AskForDialog(uint16_t selector, void* block, intptr_t* data, int16_t* result) {
  if (selector == filterSelectorStart && block) {
    auto* record = static_cast<FilterRecord*>(block);
    if (record->descriptorParameters) record->descriptorParameters->playInfo = plugInDialogDisplay;
  }
  g_entry(selector, block, data, result);
}

HWND Panel() { return FindWindowA(nullptr, kPanelTitle); }
HWND Preview() { return Panel() ? GetWindow(Panel(), GW_OWNER) : nullptr; }
HWND Item(int id) { return GetDlgItem(Panel(), id); }

std::string Text(int id) {
  char buffer[256] = {};
  GetDlgItemTextA(Panel(), id, buffer, sizeof buffer);
  return buffer;
}

// Distinct colours in the preview window's client area (a blank preview has one or two).
size_t PreviewColours() {
  HWND w = Preview();
  if (!w) return 0;
  RECT r{};
  GetClientRect(w, &r);
  POINT a{r.left, r.top};
  ClientToScreen(w, &a);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return 0;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, a.x, a.y, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> bgra(size_t(width) * height);
  GetDIBits(memory, bitmap, 0, UINT(height), bgra.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  std::vector<uint32_t> seen;
  for (size_t i = 0; i < bgra.size() && seen.size() < 64; i += 7) {
    const uint32_t c = bgra[i] & 0xFFFFFFu;
    bool found = false;
    for (uint32_t s : seen) found = found || s == c;
    if (!found) seen.push_back(c);
  }
  return seen.size();
}

// ---- the scripted user: one step per timer tick until it answers true ----

using Step = std::function<bool()>;
std::vector<Step> g_steps;
size_t g_next = 0;
DWORD g_deadline = 0;
bool g_inStep = false;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_inStep) return;
  if (GetTickCount() > g_deadline) {
    Check(false, "the script finished in time (stuck at step " + std::to_string(g_next) + ")");
    g_next = g_steps.size();
    if (HWND panel = Panel()) PostMessageA(panel, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    return;
  }
  if (g_next >= g_steps.size()) return;
  g_inStep = true;
  if (g_steps[g_next]()) ++g_next;
  g_inStep = false;
}

void WriteDword(const char* name, DWORD value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: preview_cancel_wine_test MODULE\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  {
    // Unmanaged windows (no window manager on the virtual display; see dialog_wine_test).
    HKEY wine;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_WRITE, nullptr, &wine,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(wine, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
      RegCloseKey(wine);
    }
  }
  LoadedModule module;
  std::string error;
  if (!LoadModule(argv[1], "ENTRYPOINT", module, error)) {
    std::printf("FAILED: %s\n", error.c_str());
    return 1;
  }
  // A preview window large enough to show the whole document at 100%.
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  WriteDword("Interface Position X", 0);
  WriteDword("Interface Position Y", 0);
  WriteDword("Preview Position X", 340);
  WriteDword("Preview Position Y", 0);
  WriteDword("Preview Position Width", 620);
  WriteDword("Preview Position Height", 520);

  DWORD opened = 0, answered = 0, coarseShown = 0, okPressed = 0;
  g_entry = module.entry;
  g_steps = {
      [&] {
        if (!Panel() || !Preview()) return false;
        opened = GetTickCount();
        return true;
      },
      // The next tick: it can only come while the first (slow) preview renders when the render
      // pumps the dialog's messages. Typing a radius makes that preview stale.
      [&] {
        answered = GetTickCount();
        Check(Text(1007) == "100%", "the document is shown at 100% (" + Text(1007) + ")");
        // Whether a coarse first preview is already on the screen by now depends on the
        // machine's load, so the colours are only reported; the timing checks at the end
        // tell whether the dialog answered while the previews rendered.
        std::printf("preview colours when the dialog first answers: %zu\n", PreviewColours());
        SetFocus(Item(1013));
        SetWindowTextA(Item(1013), "280");
        SetFocus(Item(IDOK));
        Check(Text(1013) == "280", "radius typed: 280");
        return true;
      },
      [&] {
        if (PreviewColours() <= 8) return false;
        coarseShown = GetTickCount();
        return true;
      },
      // OK while the full preview of the new radius renders.
      [&] {
        okPressed = GetTickCount();
        PostMessageA(Panel(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(Item(IDOK)));
        return true;
      },
  };
  g_next = 0;
  g_deadline = GetTickCount() + 90000;
  const UINT_PTR timer = SetTimer(nullptr, 0, 40, Tick);
  HostDocument doc = Scene();
  RunOptions options;
  options.recorded = true;
  options.playback = {{ov::resources::FourCC("RADI"), typeFloat, 0, 300.0, false}};
  RunResult run = RunFilter(AskForDialog, doc, options);
  const DWORD ended = GetTickCount();
  KillTimer(nullptr, timer);
  Check(g_next == g_steps.size(), "every step of the script ran");
  Check(run.error.empty() && run.result == 0, "OK renders the image (result " + std::to_string(run.result) + ")");
  double radius = std::nan("");
  for (const DescriptorItem& i : run.written)
    if (i.key == ov::resources::FourCC("RADI")) radius = i.number;
  Check(radius == 280.0, "the radius typed in the dialog is recorded");

  // The final render (full size, radius 280) follows OK; it takes about as long as the full
  // preview, and the waits above must each be a small part of it.
  const DWORD yardstick = ended - okPressed;
  std::printf("first answer after %lu ms, coarse preview %lu ms after the change, OK to the end %lu ms\n",
              static_cast<unsigned long>(answered - opened), static_cast<unsigned long>(coarseShown - answered),
              static_cast<unsigned long>(yardstick));
  Check(yardstick >= 1500, "the final render takes long enough to measure the dialog by it");
  Check(answered - opened < yardstick / 3, "the dialog answers while the first preview renders");
  Check(coarseShown - answered < yardstick / 3,
        "the stale preview stops and a coarse preview of the new radius shows soon");

  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
