// The pieces the dialog programs run under Wine share: the checks they print, the host that
// asks for the dialog, the dialog's windows, screen pixels, and the scripted user that a
// thread timer plays from the dialog's own message loop. Each program is one source file that
// includes this once; everything here has internal linkage.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "tools/pelidorn/module_loader.h"
#include "tools/pelidorn/plugin_host.h"

namespace {

const char* kKey = "SOFTWARE\\Ostrovanne\\Photoshop\\Pelidorn";
const char* kPanelTitle = "Pelidorn V1.45 ~ www.ostrovanne.example";

int passed = 0, failed = 0;
void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  ok ? ++passed : ++failed;
}

// ---- the document ------------------------------------------------------------------------------

// A width x height 8-bit RGB document of coloured squares whose green rises by y / greenDivisor,
// white where `highlight` holds; with `depthRamp`, a left-to-right ramp (0 to 255) as its
// selection.
pelidorn::HostDocument Squares(int width, int height, int greenDivisor, const std::function<bool(int, int)>& highlight,
                               bool depthRamp) {
  pelidorn::HostDocument d;
  d.width = width;
  d.height = height;
  d.colorChannels = 3;
  d.depth = 8;
  d.pixels.assign(d.rowBytes() * d.height, 0);
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) {
      uint8_t* p = &d.pixels[(size_t(y) * d.width + x) * 3];
      const bool check = ((x / 24) + (y / 24)) % 2 == 0;
      p[0] = uint8_t(check ? 40 + x / 2 : 200 - y / 2);
      p[1] = uint8_t(check ? 60 + y / greenDivisor : 90);
      p[2] = uint8_t(check ? 180 : 40 + x / 3);
      if (highlight(x, y)) p[0] = p[1] = p[2] = 255;
    }
  if (depthRamp) {
    d.selection.assign(size_t(d.width) * d.height, 0);
    for (int y = 0; y < d.height; ++y)
      for (int x = 0; x < d.width; ++x) d.selection[size_t(y) * d.width + x] = uint8_t(x * 255 / (d.width - 1));
  }
  return d;
}

// ---- the host asks for the dialog --------------------------------------------------------------

pelidorn::EntryPointFn g_entry = nullptr;
void AskForDialog(uint16_t selector, void* block, intptr_t* data, int16_t* result) {
  if (selector == filterSelectorStart && block) {
    auto* record = static_cast<FilterRecord*>(block);
    if (record->descriptorParameters) record->descriptorParameters->playInfo = plugInDialogDisplay;
  }
  g_entry(selector, block, data, result);
}

// Loads the module named on the command line as a host loads it. Answers the exit code to end
// with (2 for a wrong command line, 1 for a module that does not load), or 0 to go on.
int OpenModule(int argc, char** argv, const char* program, pelidorn::LoadedModule& module) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODULE\n", program);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // Under Wine on a display without a window manager, windows that ask to be managed wait
  // two seconds for a manager at every show and destroy; this program's windows are not
  // managed. (A setting of Wine's own display driver, read when the first window appears;
  // nothing else reads it.)
  {
    HKEY wine;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_WRITE, nullptr, &wine,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(wine, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
      RegCloseKey(wine);
    }
  }
  std::string error;
  if (!pelidorn::LoadModule(argv[1], "ENTRYPOINT", module, error)) {
    std::printf("FAILED: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// ---- windows of the dialog ---------------------------------------------------------------------

HWND Panel() { return FindWindowA(nullptr, kPanelTitle); }
HWND Preview() { return Panel() ? GetWindow(Panel(), GW_OWNER) : nullptr; }
HWND Item(int id) { return GetDlgItem(Panel(), id); }

std::string Text(int id) {
  char buffer[256] = {};
  GetDlgItemTextA(Panel(), id, buffer, sizeof buffer);
  return buffer;
}

// ---- screen pixels -----------------------------------------------------------------------------

struct Pixels {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb; // top-down
};

Pixels Capture(const RECT& r) {
  Pixels p;
  p.w = r.right - r.left;
  p.h = r.bottom - r.top;
  if (p.w <= 0 || p.h <= 0) return p;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, p.w, p.h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, p.w, p.h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = p.w;
  info.bmiHeader.biHeight = -p.h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint8_t> bgra(size_t(p.w) * p.h * 4);
  GetDIBits(memory, bitmap, 0, UINT(p.h), bgra.data(), &info, DIB_RGB_COLORS);
  p.rgb.resize(size_t(p.w) * p.h * 3);
  for (size_t i = 0; i < size_t(p.w) * p.h; ++i) {
    p.rgb[i * 3 + 0] = bgra[i * 4 + 2];
    p.rgb[i * 3 + 1] = bgra[i * 4 + 1];
    p.rgb[i * 3 + 2] = bgra[i * 4 + 0];
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return p;
}

RECT ScreenRect(HWND w, bool client) {
  RECT r{};
  if (!client) {
    GetWindowRect(w, &r);
    return r;
  }
  GetClientRect(w, &r);
  POINT a{r.left, r.top}, b{r.right, r.bottom};
  ClientToScreen(w, &a);
  ClientToScreen(w, &b);
  return RECT{a.x, a.y, b.x, b.y};
}

// Distinct colours of a capture, looking at every `stride`-th pixel (a blank or black area
// has one or two).
size_t Colours(const Pixels& p, size_t stride = 1) {
  std::vector<uint32_t> seen;
  for (size_t i = 0; i < p.rgb.size() && seen.size() < 64; i += 3 * stride) {
    const uint32_t c = uint32_t(p.rgb[i]) << 16 | uint32_t(p.rgb[i + 1]) << 8 | p.rgb[i + 2];
    bool found = false;
    for (uint32_t s : seen) found = found || s == c;
    if (!found) seen.push_back(c);
  }
  return seen.size();
}

// ---- registry ----------------------------------------------------------------------------------

void WriteDword(const char* name, int32_t v) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
  RegCloseKey(key);
}

// ---- the scripted user -------------------------------------------------------------------------

// One step of the script: answers true when done (the next step follows on a later tick).
using Step = std::function<bool()>;
std::vector<Step> g_steps;
size_t g_next = 0;
DWORD g_waitUntil = 0;
DWORD g_deadline = 0;
bool g_inStep = false;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_inStep) return; // a step that opened a modal window is still running
  if (GetTickCount() > g_deadline) {
    // The script is stuck: end the dialog so that the run finishes and reports.
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

// Sets the script to play against the module's entry within `ms` and starts the thread timer
// that plays it; the caller kills the timer it answers when the dialog has ended.
UINT_PTR StartScript(pelidorn::EntryPointFn entry, std::vector<Step> steps, DWORD ms) {
  g_entry = entry;
  g_steps = std::move(steps);
  g_next = 0;
  g_waitUntil = 0;
  g_deadline = GetTickCount() + ms;
  return SetTimer(nullptr, 0, 40, Tick);
}

} // namespace
