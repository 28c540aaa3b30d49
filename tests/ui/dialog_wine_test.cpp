// dialog_wine_test: the plug-in's dialog as a user meets it (Windows build, run under Wine on
// a virtual display). The module is loaded as a host loads it and run on a synthetic
// document through its Start selector with the host asking for the dialog; a thread timer,
// dispatched by the dialog's own message loop, plays the user: it changes controls by
// message and checks that the parameters and the preview follow, that a trackbar drag is one
// undo step, that undo and redo restore values (reset as one step), that a preset is saved,
// replaced, listed, loaded and deleted, that the preview zooms about its centre, pans with the
// mouse and names the image point under it in its title, that a colour chosen or picked from
// the preview reaches the parameter, and ends the dialog with Enter (OK) or Escape (Cancel,
// -128); on a document with a depth map the depth controls are enabled and the preview follows
// the focal point. Afterwards the registry holds the window values and, only after OK, the
// last used values; stored values are read by their size whatever their type.
// A screenshot of the panel and the preview is written to dialog.png in the working folder.
//
//   dialog_wine_test MODULE
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/resources/plugin_resources.h"
#include "tests/ui/dialog_wine_support.h"

using namespace pelidorn;

namespace {

// ---- the document ------------------------------------------------------------------------------

HostDocument Scene(bool withSelection) {
  const auto highlight = [](int x, int y) {
    return (x - 60) * (x - 60) + (y - 50) * (y - 50) < 30 || (x - 170) * (x - 170) + (y - 110) * (y - 110) < 20;
  };
  return Squares(240, 160, 1, highlight, withSelection);
}

// ---- windows of the dialog ---------------------------------------------------------------------

void Command(int id, int code) {
  SendMessageA(Panel(), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
}

// Typing into a field: it has the focus, then its text changes (EN_CHANGE reaches the panel).
void Type(int id, const char* text) {
  SetFocus(Item(id));
  SetWindowTextA(Item(id), text);
}

void Drag(int trackbar, std::initializer_list<int> positions) {
  HWND t = Item(trackbar);
  SetFocus(t);
  for (int p : positions) {
    SendMessageA(t, TBM_SETPOS, TRUE, p);
    SendMessageA(Panel(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, p), reinterpret_cast<LPARAM>(t));
  }
  SendMessageA(Panel(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(t));
}

void Choose(int combo, int index) {
  SetFocus(Item(combo));
  SendMessageA(Item(combo), CB_SETCURSEL, WPARAM(index), 0);
  Command(combo, CBN_SELCHANGE);
}

// A point of a panel item in the panel's client coordinates (offset from its top-left).
POINT ItemPoint(int id, int dx, int dy) {
  RECT r;
  GetWindowRect(Item(id), &r);
  POINT p{(r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2 + dy};
  ScreenToClient(Panel(), &p);
  return p;
}

void Mouse(UINT message, POINT p, bool post = false) {
  const LPARAM at = MAKELPARAM(p.x, p.y);
  if (post) PostMessageA(Panel(), message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, at);
  else SendMessageA(Panel(), message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, at);
}

// A window of this thread owned by `owner` (a modal dialog it opened), or null.
HWND OwnedWindow(HWND owner) {
  struct Search {
    HWND owner, found;
  } search{owner, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM l) -> BOOL {
        auto* s = reinterpret_cast<Search*>(l);
        if (GetWindow(w, GW_OWNER) == s->owner && IsWindowVisible(w)) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// ---- screen pixels -----------------------------------------------------------------------------

// Share of pixels that differ between two captures of one place.
double Difference(const Pixels& a, const Pixels& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1.0;
  size_t n = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3)
    if (std::abs(a.rgb[i] - b.rgb[i]) + std::abs(a.rgb[i + 1] - b.rgb[i + 1]) + std::abs(a.rgb[i + 2] - b.rgb[i + 2]) > 24)
      ++n;
  return double(n) / (a.rgb.size() / 3);
}

// ---- PNG ---------------------------------------------------------------------------------------

uint32_t Crc(const uint8_t* data, size_t n, uint32_t crc = 0xFFFFFFFFu) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  const uint32_t n = uint32_t(data.size());
  const uint8_t length[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  out.insert(out.end(), length, length + 4);
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  const uint32_t c = Crc(body.data(), body.size()) ^ 0xFFFFFFFFu;
  const uint8_t crc[4] = {uint8_t(c >> 24), uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
  out.insert(out.end(), crc, crc + 4);
}

// An 8-bit RGB PNG with stored (uncompressed) deflate blocks.
bool WritePng(const std::string& path, const Pixels& p) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < p.h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), p.rgb.begin() + size_t(y) * p.w * 3, p.rgb.begin() + size_t(y + 1) * p.w * 3);
  }
  std::vector<uint8_t> z{0x78, 0x01};
  for (size_t at = 0; at < raw.size() || at == 0;) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(uint8_t(n));
    z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n));
    z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
    if (last) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  const uint32_t adler = b << 16 | a;
  for (int s = 24; s >= 0; s -= 8) z.push_back(uint8_t(adler >> s));
  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header(13, 0);
  for (int i = 0; i < 4; ++i) {
    header[i] = uint8_t(uint32_t(p.w) >> (24 - 8 * i));
    header[4 + i] = uint8_t(uint32_t(p.h) >> (24 - 8 * i));
  }
  header[8] = 8; // bit depth
  header[9] = 2; // RGB
  Chunk(out, "IHDR", header);
  Chunk(out, "IDAT", z);
  Chunk(out, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

// The panel at the left, the preview window at its right, on a grey ground.
Pixels SideBySide(const Pixels& left, const Pixels& right) {
  Pixels s;
  s.w = left.w + 8 + right.w;
  s.h = std::max(left.h, right.h);
  s.rgb.assign(size_t(s.w) * s.h * 3, 96);
  auto blit = [&](const Pixels& p, int x0) {
    for (int y = 0; y < p.h; ++y)
      std::memcpy(&s.rgb[(size_t(y) * s.w + x0) * 3], &p.rgb[size_t(y) * p.w * 3], size_t(p.w) * 3);
  };
  blit(left, 0);
  blit(right, left.w + 8);
  return s;
}

// ---- registry ----------------------------------------------------------------------------------

bool ReadValue(const std::string& path, const char* name, DWORD& type, std::vector<uint8_t>& data) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  bool ok = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  if (ok) {
    data.resize(size);
    ok = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

DWORD ValueCount(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD values = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  return values;
}

void WriteString(const char* name, const std::string& s) {
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()), DWORD(s.size() + 1));
  RegCloseKey(key);
}

void WriteValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

void DeleteValue(const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

// Presets in a presets file: the lines that begin with "name ".
int PresetBlocks(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  std::string text(1, '\n');
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  std::fclose(f);
  int blocks = 0;
  for (size_t at = text.find("\nname "); at != std::string::npos; at = text.find("\nname ", at + 1)) ++blocks;
  return blocks;
}

double LastUsedDouble(const char* name) {
  DWORD type = 0;
  std::vector<uint8_t> data;
  double v = std::nan("");
  if (ReadValue(std::string(kKey) + "\\LastUsed", name, type, data) && type == REG_BINARY && data.size() == 8)
    std::memcpy(&v, data.data(), 8);
  return v;
}

// ---- the scripted user -------------------------------------------------------------------------

// A pause for the preview to render in the dialog's idle time.
Step Wait(DWORD ms) {
  return [ms]() {
    if (g_waitUntil == 0) g_waitUntil = GetTickCount() + ms;
    if (GetTickCount() < g_waitUntil) return false;
    g_waitUntil = 0;
    return true;
  };
}

// Polls a condition (renders take their time, more so on a loaded machine) and checks it
// once it holds or the time is up; an empty description checks nothing.
Step Until(std::function<bool()> condition, DWORD ms, std::string what) {
  return [=]() {
    if (g_waitUntil == 0) g_waitUntil = GetTickCount() + ms;
    const bool holds = condition();
    if (!holds && GetTickCount() < g_waitUntil) return false;
    g_waitUntil = 0;
    if (!what.empty()) Check(holds, what);
    return true;
  };
}

Step Do(std::function<void()> f) {
  return [f]() {
    f();
    return true;
  };
}

// Steps run one after the other as a single step of the script.
Step Sequence(std::vector<Step> steps) {
  auto next = std::make_shared<size_t>(0);
  return [steps, next]() {
    if (*next < steps.size() && steps[*next]()) ++*next;
    return *next >= steps.size();
  };
}

// "save ..." with a name typed into the name dialog; `answer` (IDYES or IDNO) answers the
// overwrite prompt when one is expected, 0 when none is.
Step SavePreset(std::string name, int answer) {
  std::vector<Step> steps{
      Do([] { PostMessageA(Panel(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), LPARAM(Item(1002))); }),
      [name] {
        HWND dialog = FindWindowA(nullptr, "save as");
        if (!dialog) return false;
        SetDlgItemTextA(dialog, 1073, name.c_str());
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
      }};
  if (answer)
    steps.push_back([answer] {
      HWND ask = FindWindowA(nullptr, "Overwrite Setting?");
      if (!ask) return false;
      SendMessageA(ask, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
      return true;
    });
  steps.push_back([] { return !FindWindowA(nullptr, "save as") && !FindWindowA(nullptr, "Overwrite Setting?"); });
  return Sequence(std::move(steps));
}

// "delete" answered Yes.
Step DeleteSelectedPreset() {
  return Sequence({Do([] { PostMessageA(Panel(), WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), LPARAM(Item(1003))); }),
                   [] {
                     HWND box = FindWindowA(nullptr, "Delete Preset?");
                     if (!box) return false;
                     SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
                     return true;
                   },
                   [] { return FindWindowA(nullptr, "Delete Preset?") == nullptr; }});
}

// A zoom button pressed and its request taken up by the dialog's loop.
Step ZoomStep(int button) { return Sequence({Do([button] { Command(button, BN_CLICKED); }), Wait(250)}); }

// ---- the preview window under the mouse ----------------------------------------------------------

// A point of the preview window's client area, offset from the centre of its image frame.
POINT FrameCentre(int dx, int dy) {
  RECT r;
  GetWindowRect(GetDlgItem(Preview(), 1022), &r);
  POINT p{(r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2 + dy};
  ScreenToClient(Preview(), &p);
  return p;
}

void PreviewMouse(UINT message, POINT p) {
  const WPARAM keys = message == WM_RBUTTONDOWN ? MK_RBUTTON : 0;
  SendMessageA(Preview(), message, keys, MAKELPARAM(p.x, p.y));
}

// The image coordinates the preview's title shows with the mouse at `p`.
bool TitleAt(POINT p, double& x, double& y) {
  PreviewMouse(WM_MOUSEMOVE, p);
  char title[128] = {};
  GetWindowTextA(Preview(), title, sizeof title);
  return std::sscanf(title, "Preview:  x: %lf y: %lf", &x, &y) == 2;
}

bool TitleNear(POINT p, double x, double y, std::string& shown) {
  double tx = -1, ty = -1;
  const bool ok = TitleAt(p, tx, ty);
  char text[64];
  std::snprintf(text, sizeof text, " (shows %.1f, %.1f)", tx, ty);
  shown = text;
  return ok && std::fabs(tx - x) <= 1.5 && std::fabs(ty - y) <= 1.5;
}

RunResult RunWithScript(EntryPointFn entry, HostDocument& doc, std::vector<Step> steps) {
  const UINT_PTR timer = StartScript(entry, std::move(steps), 45000);
  RunOptions options;
  options.recorded = true; // a descriptor is there; the host asks for the dialog (AskForDialog)
  RunResult run = RunFilter(AskForDialog, doc, options);
  KillTimer(nullptr, timer);
  Check(g_next == g_steps.size(), "every step of the script ran");
  return run;
}

int32_t WrittenInteger(const RunResult& run, const char (&key)[5]) {
  for (const DescriptorItem& i : run.written)
    if (i.key == ov::resources::FourCC(key)) return i.integer;
  return INT32_MIN;
}
double WrittenNumber(const RunResult& run, const char (&key)[5]) {
  for (const DescriptorItem& i : run.written)
    if (i.key == ov::resources::FourCC(key)) return i.number;
  return std::nan("");
}

} // namespace

int main(int argc, char** argv) {
  const DWORD started = GetTickCount();
  LoadedModule module;
  if (const int code = OpenModule(argc, argv, "dialog_wine_test", module)) return code;

  // Settings as a returning user has them: the panel at the top left, the preview beside it,
  // a presets file in the working folder (not there yet).
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  char presets[MAX_PATH];
  GetFullPathNameA("dialog_presets.cfg", MAX_PATH, presets, nullptr);
  DeleteFileA(presets);
  WriteDword("Interface Position X", -40); // put back on the screen
  WriteDword("Interface Position Y", 0);
  WriteDword("Preview Position X", 340);
  WriteDword("Preview Position Y", 0);
  WriteDword("Preview Position Width", 420);
  WriteDword("Preview Position Height", 330);
  WriteString("Preset Path", presets);
  // The outside colour last used: (1.0, 0.5, 0.0).
  const std::string lastUsed = std::string(kKey) + "\\LastUsed";
  const double orange[3] = {1.0, 0.5, 0.0};
  WriteValue(lastUsed, "ColorOutside_red", REG_BINARY, &orange[0], 8);
  WriteValue(lastUsed, "ColorOutside_green", REG_BINARY, &orange[1], 8);
  WriteValue(lastUsed, "ColorOutside_blue", REG_BINARY, &orange[2], 8);

  // ---- OK: edits, drag, undo and redo, presets, a view, Enter ----
  Pixels before, after, shot;
  HostDocument doc = Scene(false);
  RunResult ok = RunWithScript(
      module.entry, doc,
      {
          [] { return Panel() != nullptr && Preview() != nullptr; },
          Until(
              [&] {
                before = Capture(ScreenRect(Preview(), true));
                return Colours(before) > 8;
              },
              5000, "the preview shows the first render"),
          Do([] {
            RECT r;
            GetWindowRect(Panel(), &r);
            Check(r.left == 0 && r.top == 0, "a stored panel position left of the screen opens at the screen's edge");
            GetWindowRect(Preview(), &r);
            Check(r.left == 340 && r.top == 0 && r.right == 760 && r.bottom == 330,
                  "the preview window opens at its stored place and size (340, 0, 420 x 330)");
            // Published window style bits: WS_POPUP 0x80000000, WS_CHILD 0x40000000, WS_CAPTION
            // 0x00C00000, WS_SYSMENU 0x00080000; WS_EX_DLGMODALFRAME 0x00000001.
            const uint32_t style = uint32_t(GetWindowLongPtrA(Panel(), GWL_STYLE));
            const uint32_t exStyle = uint32_t(GetWindowLongPtrA(Panel(), GWL_EXSTYLE));
            Check((style & 0xC0000000u) == 0 && (style & 0x00C00000u) == 0x00C00000u && (style & 0x00080000u) != 0 &&
                      (exStyle & 1u) != 0,
                  "the panel is an overlapped window with caption, system menu and modal frame");
            Check(SendMessageA(Item(1011), TBM_GETRANGEMIN, 0, 0) == 0 && SendMessageA(Item(1011), TBM_GETRANGEMAX, 0, 0) == 5000,
                  "the radius trackbar spans 0 to 5000 (0 to 50 in hundredths)");
            Check(SendMessageA(Item(1035), TBM_GETPAGESIZE, 0, 0) == 1, "the facets trackbar pages by 1");
            Check(Text(1013) == "5" && Text(1037) == "0.00", "the fields show the defaults (radius 5, angle 0.00)");
            Check(Text(1007) == "100%", "the whole image fits at 100%");
            Check(!IsWindowEnabled(Item(1004)) && !IsWindowEnabled(Item(1010)), "nothing to undo or redo at first");
            Check(IsWindowEnabled(Item(1002)) && !IsWindowEnabled(Item(1003)),
                  "a new presets file: save enabled, delete disabled");
            Check(!IsWindowEnabled(Item(1031)) && IsWindowEnabled(Item(1053)),
                  "without a selection the depth controls are disabled, the additive highlights enabled");
          }),
          // Typing: a finite number is applied at once; "nan" is ignored and replaced on leaving.
          Do([] {
            Type(1013, "12");
            Check(SendMessageA(Item(1011), TBM_GETPOS, 0, 0) == 1200, "typing 12 moves the radius trackbar to 1200");
            Type(1013, "nan");
            Check(SendMessageA(Item(1011), TBM_GETPOS, 0, 0) == 1200, "typing nan changes nothing");
            Type(1013, "1e999");
            SetFocus(Item(IDOK));
            Check(Text(1013) == "12", "leaving the field shows the value again: 12");
          }),
          // A drag of several steps.
          Do([] {
            Drag(1011, {1300, 1400, 1500});
            Check(Text(1013) == "15", "dragging the trackbar to 1500 sets the radius to 15");
            Check(IsWindowEnabled(Item(1004)) != 0, "undo is enabled");
          }),
          Do([] {
            SetFocus(Item(IDOK));
            Command(1004, BN_CLICKED);
            Check(Text(1013) == "12", "one undo takes the whole drag back (15 -> 12)");
            Command(1004, BN_CLICKED);
            Check(Text(1013) == "5", "a second undo takes the typing back (12 -> 5)");
            Check(IsWindowEnabled(Item(1010)) != 0, "redo is enabled");
            Command(1010, BN_CLICKED);
            Command(1010, BN_CLICKED);
            Check(Text(1013) == "15", "two redos restore 15");
            Check(!IsWindowEnabled(Item(1010)), "nothing left to redo");
          }),
          // A trackbar message that changes nothing (a click on the thumb) records nothing and
          // leaves the next drag free to record its own step.
          Do([] {
            HWND t = Item(1011);
            SetFocus(t);
            SendMessageA(Panel(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 1500), reinterpret_cast<LPARAM>(t));
            Drag(1011, {1550});
            const bool dragged = Text(1013) == "15.5";
            SetFocus(Item(IDOK));
            Command(1004, BN_CLICKED);
            Check(dragged && Text(1013) == "15", "after a click that changes nothing, a drag is its own undo step");
          }),
          Until(
              [&] {
                after = Capture(ScreenRect(Preview(), true));
                return Colours(after) > 8 && Difference(before, after) > 0.05;
              },
              5000, "the preview follows the radius (5 -> 15)"),
          Wait(300),
          Do([&] { shot = SideBySide(Capture(ScreenRect(Panel(), false)), Capture(ScreenRect(Preview(), false))); }),
          // Presets: save under a name with a blank (opens the name dialog).
          Do([] { PostMessageA(Panel(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), LPARAM(Item(1002))); }),
          [] {
            HWND name = FindWindowA(nullptr, "save as");
            if (!name) return false;
            SetDlgItemTextA(name, 1073, "my preset");
            SendMessageA(name, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
          },
          [] { return FindWindowA(nullptr, "save as") == nullptr; },
          Do([] {
            Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 1 && Text(1001) == "my_preset",
                  "the preset is listed as my_preset and selected");
            Check(IsWindowEnabled(Item(1003)) != 0, "delete is enabled");
            Type(1013, "33");
            SetFocus(Item(IDOK));
            Check(Text(1013) == "33", "radius typed: 33");
            Choose(1001, 0);
            SetFocus(Item(IDOK));
            Check(Text(1013) == "15", "loading my_preset brings the radius back to 15");
          }),
          // Saving under a name that exists (whatever its case) asks first; No keeps the name
          // dialog open, and its Cancel saves nothing.
          Do([] { PostMessageA(Panel(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), LPARAM(Item(1002))); }),
          [] {
            HWND name = FindWindowA(nullptr, "save as");
            if (!name) return false;
            SetDlgItemTextA(name, 1073, "MY PRESET");
            PostMessageA(name, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
          },
          [] {
            HWND ask = FindWindowA(nullptr, "Overwrite Setting?");
            if (!ask) return false;
            SendMessageA(ask, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
            return true;
          },
          [] {
            if (FindWindowA(nullptr, "Overwrite Setting?")) return false;
            HWND name = FindWindowA(nullptr, "save as");
            char text[64] = {};
            GetDlgItemTextA(name, 1073, text, sizeof text);
            Check(name != nullptr && std::string(text) == "MY_PRESET",
                  "No keeps the name dialog open with the name as it would be saved (MY_PRESET)");
            if (name) PostMessageA(name, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return true;
          },
          [] { return FindWindowA(nullptr, "save as") == nullptr; },
          Do([] { Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 1, "Cancel in the name dialog saves nothing"); }),
          // Yes replaces the preset the prompt named: "MY PRESET" over my_preset leaves one
          // preset, listed as my_preset, that holds the new radius.
          Do([] {
            Type(1013, "27");
            SetFocus(Item(IDOK));
          }),
          SavePreset("MY PRESET", IDYES),
          Do([&] {
            Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 1 && Text(1001) == "my_preset" &&
                      PresetBlocks(presets) == 1,
                  "Yes to the overwrite prompt replaces my_preset (one preset in the list and in the file, got " +
                      std::to_string(PresetBlocks(presets)) + ")");
            Type(1013, "33");
            SetFocus(Item(IDOK));
            Choose(1001, 0);
            SetFocus(Item(IDOK));
            Check(Text(1013) == "27", "my_preset now holds the radius 27");
            Type(1013, "22");
            SetFocus(Item(IDOK));
          }),
          // Deleting a preset selects and loads its neighbour: the next one for the first item,
          // the one above for any other.
          SavePreset("b second", 0),
          Do([] {
            Type(1013, "24");
            SetFocus(Item(IDOK));
          }),
          SavePreset("c third", 0),
          Do([] {
            Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 3, "three presets listed");
            Choose(1001, 0);
            SetFocus(Item(IDOK));
            Check(Text(1001) == "b_second" && Text(1013) == "22", "the first preset, b_second, loads the radius 22");
          }),
          DeleteSelectedPreset(),
          Do([] {
            Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 2 && Text(1001) == "c_third" && Text(1013) == "24",
                  "deleting the first of three presets selects and loads the former second (c_third, radius 24), got " +
                      Text(1001) + " " + Text(1013));
            Choose(1001, 1);
            SetFocus(Item(IDOK));
            Check(Text(1001) == "my_preset" && Text(1013) == "27", "my_preset loads the radius 27");
          }),
          DeleteSelectedPreset(),
          Do([] {
            Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 1 && Text(1001) == "c_third" && Text(1013) == "24",
                  "deleting the last item selects and loads the one above it (c_third, radius 24), got " + Text(1001) +
                      " " + Text(1013));
          }),
          DeleteSelectedPreset(),
          Do([] {
            Type(1013, "15");
            SetFocus(Item(IDOK));
            Check(SendMessageA(Item(1001), CB_GETCOUNT, 0, 0) == 0 && !IsWindowEnabled(Item(1003)),
                  "after deleting the only preset the list is empty and delete disabled");
          }),
          // The angle dial: a press right of its centre turns it to 90 degrees, a drag below
          // the centre to 180; the whole drag is one undo step.
          Do([] {
            SetFocus(Item(IDOK));
            Mouse(WM_LBUTTONDOWN, ItemPoint(1081, 8, 0));
            Check(Text(1037) == "90.00", "a press right of the dial's centre sets 90.00 degrees");
            Mouse(WM_MOUSEMOVE, ItemPoint(1081, 0, 8));
            Mouse(WM_LBUTTONUP, ItemPoint(1081, 0, 8));
            Check(Text(1037) == "180.00", "dragging below the centre sets 180.00 degrees");
            Command(1004, BN_CLICKED);
            Check(Text(1037) == "0.00" && Text(1013) == "15", "one undo takes the dial drag back to 0.00");
          }),
          // The page buttons: "Highlights" shows its page in place of the iris page, "Iris"
          // brings the iris page back; neither is an undo step.
          Do([] {
            const bool redo = IsWindowEnabled(Item(1010)) != 0;
            SendMessageA(Item(1106), BM_CLICK, 0, 0);
            Check(!IsWindowVisible(Item(1036)) && IsWindowVisible(Item(1049)) &&
                      SendMessageA(Item(1105), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
                  "Highlights shows the highlight page and releases Iris");
            SendMessageA(Item(1105), BM_CLICK, 0, 0);
            Check(IsWindowVisible(Item(1036)) && !IsWindowVisible(Item(1049)), "Iris brings the iris page back");
            Check((IsWindowEnabled(Item(1010)) != 0) == redo, "switching pages records no undo step");
          }),
          // The zoom buttons: "-" halves the view, "+" returns to 100%.
          Do([] { Command(1006, BN_CLICKED); }),
          Wait(300),
          Do([] {
            Check(Text(1007) == "50%", "zoom out shows 50%");
            Command(1005, BN_CLICKED);
          }),
          Wait(300),
          Do([] { Check(Text(1007) == "100%", "zoom in returns to 100%"); }),
          // The title shows the full-image point under the mouse: 30, 20 screen pixels right of
          // and below the frame's centre lie at (150, 100) at 100% and at (180, 120) at 50%.
          Do([] {
            std::string shown;
            Check(TitleNear(FrameCentre(30, 20), 150, 100, shown), "at 100% the title shows the image point (150, 100)" + shown);
          }),
          ZoomStep(1006),
          Do([] {
            std::string shown;
            Check(Text(1007) == "50%" && TitleNear(FrameCentre(30, 20), 180, 120, shown),
                  "at 50% the title shows the full-image point (180, 120)" + shown);
          }),
          // Zooming in keeps the image point under the frame's centre there (the middle of the
          // image, 120, 80), also past the size of the frame at 200% and 266.7%.
          Sequence({ZoomStep(1005), Do([] {
                      std::string shown;
                      Check(Text(1007) == "100%" && TitleNear(FrameCentre(0, 0), 120, 80, shown),
                            "at 100% the frame's centre shows the image's middle (120, 80)" + shown);
                    })}),
          Sequence({ZoomStep(1005), Do([] {
                      std::string shown;
                      Check(Text(1007) == "133.3%" && TitleNear(FrameCentre(0, 0), 120, 80, shown),
                            "at 133.3% the frame's centre shows the image's middle (120, 80)" + shown);
                    })}),
          Sequence({ZoomStep(1005), Do([] {
                      std::string shown;
                      Check(Text(1007) == "200%" && TitleNear(FrameCentre(0, 0), 120, 80, shown),
                            "at 200% the frame's centre shows the image's middle (120, 80)" + shown);
                    })}),
          Sequence({ZoomStep(1005), Do([] {
                      std::string shown;
                      Check(Text(1007) == "266.7%" && TitleNear(FrameCentre(0, 0), 120, 80, shown),
                            "at 266.7% the frame's centre shows the image's middle (120, 80)" + shown);
                    })}),
          // Dragging with the right button moves the image with the mouse: after a drag of
          // 40 right and 30 down at 266.7% the point under the mouse lies 15 and 11.25 image
          // pixels further left and up.
          Do([] {
            const POINT c = FrameCentre(0, 0), moved{c.x + 40, c.y + 30};
            double x0 = -1, y0 = -1, x1 = -1, y1 = -1;
            const bool before = TitleAt(c, x0, y0);
            PreviewMouse(WM_RBUTTONDOWN, c);
            PreviewMouse(WM_MOUSEMOVE, moved);
            PreviewMouse(WM_RBUTTONUP, moved);
            const bool after = TitleAt(c, x1, y1);
            char text[96];
            std::snprintf(text, sizeof text, " (%.1f, %.1f -> %.1f, %.1f)", x0, y0, x1, y1);
            Check(Text(1007) == "266.7%" && before && after && std::fabs(x1 - (x0 - 15)) <= 1.5 &&
                      std::fabs(y1 - (y0 - 11.25)) <= 1.5,
                  std::string("a right-button drag pans the preview in the drag's direction") + text);
          }),
          ZoomStep(1006),
          ZoomStep(1006),
          ZoomStep(1006),
          Do([] { Check(Text(1007) == "100%", "back at 100%"); }),
          // The colour chooser (the host offers no colour services): a click on the swatch opens
          // it over disabled windows; Cancel changes nothing and enables them again.
          Do([] { Mouse(WM_LBUTTONDOWN, ItemPoint(1082, 0, 0), true); }),
          [] {
            HWND chooser = OwnedWindow(Panel());
            if (!chooser) return false;
            Check(!IsWindowEnabled(Panel()) && !IsWindowEnabled(Preview()),
                  "the colour chooser opens over the disabled panel and preview");
            SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return true;
          },
          [] { return OwnedWindow(Panel()) == nullptr; },
          Do([] {
            Check(IsWindowEnabled(Panel()) && IsWindowEnabled(Preview()), "after Cancel both windows are enabled again");
            Check(IsWindowEnabled(Item(1010)) != 0, "a refused colour records no undo step (the dial's redo is kept)");
          }),
          // Confirmed, the chooser's colour reaches the parameter on its 0..1 scale (checked in
          // the last used values after OK).
          Do([] { Mouse(WM_LBUTTONDOWN, ItemPoint(1082, 0, 0), true); }),
          [] {
            HWND chooser = OwnedWindow(Panel());
            if (!chooser) return false;
            // The chooser's red, green and blue fields (706 to 708).
            char r[16] = {}, g[16] = {}, b[16] = {};
            GetDlgItemTextA(chooser, 706, r, sizeof r);
            GetDlgItemTextA(chooser, 707, g, sizeof g);
            GetDlgItemTextA(chooser, 708, b, sizeof b);
            Check(std::string(r) == "255" && std::string(g) == "127" && std::string(b) == "0",
                  std::string("the chooser opens at the last used colour (1.0, 0.5, 0.0) as 255, 127, 0: ") + r + " " + g +
                      " " + b);
            SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
          },
          [] { return OwnedWindow(Panel()) == nullptr; },
          Do([] {
            Check(IsWindowEnabled(Panel()) && IsWindowEnabled(Item(1004)) && !IsWindowEnabled(Item(1010)),
                  "a confirmed colour is an undo step");
          }),
          // The view "highlight selection" (third of the short list without a selection).
          Do([&] {
            before = Capture(ScreenRect(Preview(), true));
            Choose(1009, 2);
          }),
          Until(
              [&] {
                after = Capture(ScreenRect(Preview(), true));
                return Difference(before, after) > 0.05; // the selection view has few colours
              },
              5000, "the preview follows the view (highlight selection)"),
          Do([&] {
            // Enter in a field presses the default button OK.
            SetFocus(Item(1013));
            PostMessageA(Item(1013), WM_KEYDOWN, VK_RETURN, 0);
          }),
      });
  Check(ok.result == 0 && ok.error.empty(), "Enter answers OK: the filter renders (result " + std::to_string(ok.result) + ")");
  Check(WrittenInteger(ok, "SHOW") == 3 && WrittenNumber(ok, "RADI") == 15.0,
        "the values chosen in the dialog go back to the host (view 3, radius 15)");
  if (!shot.rgb.empty()) Check(WritePng("dialog.png", shot), "screenshot written to dialog.png");

  // The final render is the one the dialog's values give: replaying them without the dialog
  // gives the same pixels.
  HostDocument replay = Scene(false);
  RunOptions options;
  options.recorded = true;
  options.playback = ok.written;
  const RunResult again = RunFilter(module.entry, replay, options);
  Check(again.result == 0 && replay.pixels == doc.pixels, "the view chosen in the dialog is the one rendered");

  const char* windowValues[] = {"Interface Position X", "Interface Position Y", "Preset Path", "Interface FixedPreview",
                                "Preview Position X",   "Preview Position Y",   "Preview Position Width",
                                "Preview Position Height", "Preview State"};
  const DWORD types[] = {REG_DWORD, REG_DWORD, REG_SZ, REG_BINARY, REG_DWORD, REG_DWORD, REG_DWORD, REG_DWORD, REG_DWORD};
  int present = 0;
  for (int i = 0; i < 9; ++i) {
    DWORD type = 0;
    std::vector<uint8_t> data;
    if (ReadValue(kKey, windowValues[i], type, data) && type == types[i]) ++present;
  }
  Check(present == 9, "after OK the nine window values are in the registry (" + std::to_string(present) + ")");
  Check(ValueCount(std::string(kKey) + "\\LastUsed") == 24, "after OK the 24 last used values are in the registry");
  Check(LastUsedDouble("Radius") == 15.0, "the last used radius is 15");
  Check(std::fabs(LastUsedDouble("ColorOutside_red") - 1.0) < 1e-12 &&
            std::fabs(LastUsedDouble("ColorOutside_green") - 127.0 / 255.0) < 1e-12 &&
            LastUsedDouble("ColorOutside_blue") == 0.0,
        "the confirmed colour 255, 127, 0 is the outside colour (1.0, 127/255, 0.0)");

  // Values read by their size whatever type they were stored with; a lone panel coordinate is
  // used as stored; the live-preview byte goes back as it came.
  const int32_t thirty = 30;
  WriteValue(kKey, "Interface Position X", REG_BINARY, &thirty, 4);
  DeleteValue("Interface Position Y");
  const uint8_t five = 5;
  WriteValue(kKey, "Interface FixedPreview", REG_BINARY, &five, 1);

  // ---- Cancel: the last used values open the dialog, Escape leaves them as they were ----
  HostDocument doc2 = Scene(false);
  const std::vector<uint8_t> original = doc2.pixels;
  RunResult cancel = RunWithScript(module.entry, doc2,
                                   {
                                       [] { return Panel() != nullptr; },
                                       Wait(300),
                                       Do([] {
                                         Check(Text(1013) == "15", "the dialog opens with the last used radius 15");
                                         Check(SendMessageA(Item(1085), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
                                               "the preview is live (the stored byte 5 is not 0)");
                                         RECT r;
                                         GetWindowRect(Panel(), &r);
                                         Check(r.left == 30 && r.top == 0,
                                               "a lone stored x of 30 (a binary value) places the panel at (30, 0), got (" +
                                                   std::to_string(r.left) + ", " + std::to_string(r.top) + ")");
                                         Type(1013, "40");
                                         SetFocus(Item(1013));
                                         PostMessageA(Item(1013), WM_KEYDOWN, VK_ESCAPE, 0);
                                       }),
                                   });
  Check(cancel.result == -128, "Escape answers Cancel (-128), got " + std::to_string(cancel.result));
  Check(doc2.pixels == original, "after Cancel the document is untouched");
  Check(LastUsedDouble("Radius") == 15.0, "after Cancel the last used radius is still 15");
  DWORD type = 0;
  std::vector<uint8_t> data;
  Check(ReadValue(kKey, "Preview Position X", type, data), "the window values are kept after Cancel too");
  Check(ReadValue(kKey, "Interface FixedPreview", type, data) && type == REG_BINARY && data == std::vector<uint8_t>{5},
        "the live-preview byte 5 is written back unchanged");
  const uint8_t zero = 0;
  WriteValue(kKey, "Interface FixedPreview", REG_BINARY, &zero, 1);

  // ---- a document with a depth map: the depth controls are enabled and the preview follows
  // the focal point ----
  HostDocument doc3 = Scene(true);
  POINT pickPoint{0, 0};
  uint8_t pickColour[3] = {0, 0, 0};
  RunResult depth = RunWithScript(
      module.entry, doc3,
      {
          [] { return Panel() != nullptr; },
          // Reset is one undo step of its own: the change after it is undone alone, one more
          // undo restores every value the reset changed, and the change before it is a step
          // of its own.
          Do([] {
            SetFocus(Item(IDOK));
            const std::string facets = Text(1036);
            Type(1036, "9");
            SetFocus(Item(IDOK));
            Command(1084, BN_CLICKED);
            const bool reset = Text(1013) == "5" && Text(1036) == facets;
            Type(1013, "30");
            SetFocus(Item(IDOK));
            Command(1004, BN_CLICKED);
            Check(reset && Text(1013) == "5" && Text(1036) == facets,
                  "an undo after reset takes back only the change made after it");
            Command(1004, BN_CLICKED);
            Check(Text(1013) == "15" && Text(1036) == "9", "one undo takes the whole reset back (radius 15, facets 9)");
            Command(1004, BN_CLICKED);
            Check(Text(1013) == "15" && Text(1036) == facets, "the change before the reset is a step of its own");
          }),
          // The view "sharp zone" (seventh of the full list) marks where the focal point lies.
          Do([] { Choose(1009, 6); }),
          Until(
              [&] {
                before = Capture(ScreenRect(Preview(), true));
                return Colours(before) > 8;
              },
              5000, "the depth-map preview shows the sharp zone"),
          Do([&] {
            Check(IsWindowEnabled(Item(1031)) && IsWindowEnabled(Item(1079)) && IsWindowEnabled(Item(1032)) &&
                      !IsWindowEnabled(Item(1053)) && !IsWindowEnabled(Item(1051)) && IsWindowEnabled(Item(1019)),
                  "with a depth map the focus, invert and curve controls are enabled, additive and soften not");
            Check(SendMessageA(Item(1009), CB_GETCOUNT, 0, 0) == 7, "with a depth map the view list has 7 entries");
            Check(SendMessageA(Item(1085), BM_GETCHECK, 0, 0) == BST_CHECKED, "the fixed-preview switch is restored");
            // Below the soft minimum 0: kept, not clamped.
            Type(1031, "-5");
            SetFocus(Item(IDOK));
            Check(Text(1031) == "-5", "a focal point typed below its soft minimum is kept (-5), shows " + Text(1031));
            Type(1031, "0");
          }),
          Until(
              [&] {
                after = Capture(ScreenRect(Preview(), true));
                return Difference(before, after) > 0.02;
              },
              5000, "the preview follows the focal point (255 -> 0)"),
          // A colour picked from the preview: a right click on the swatch starts the pick under
          // the pick cursor, the colour under the mouse in the preview becomes the outside colour
          // (each byte / 255), and the left button's release ends it: the cursor is back and a
          // later move over the grey margin changes nothing (checked in the last used values).
          Do([&] {
            SetFocus(Item(IDOK));
            const ULONG_PTR cursor = GetClassLongPtrA(Panel(), GCLP_HCURSOR);
            Mouse(WM_RBUTTONUP, ItemPoint(1082, 0, 0));
            const bool picking = GetClassLongPtrA(Panel(), GCLP_HCURSOR) != cursor;
            const Pixels client = Capture(ScreenRect(Preview(), true));
            RECT frame;
            GetWindowRect(GetDlgItem(Preview(), 1022), &frame);
            MapWindowPoints(nullptr, Preview(), reinterpret_cast<POINT*>(&frame), 2);
            bool found = false;
            for (int y = frame.top + frame.bottom / 3; y < frame.bottom && y < client.h && !found; ++y)
              for (int x = frame.left + frame.right / 3; x < frame.right && x < client.w && !found; ++x) {
                const uint8_t* c = &client.rgb[(size_t(y) * client.w + x) * 3];
                if (c[0] != c[1] && c[1] != c[2] && c[0] != c[2]) {
                  found = true;
                  pickPoint = POINT{x, y};
                  std::memcpy(pickColour, c, 3);
                }
              }
            PreviewMouse(WM_MOUSEMOVE, pickPoint);
            PreviewMouse(WM_LBUTTONUP, pickPoint);
            const bool restored = GetClassLongPtrA(Panel(), GCLP_HCURSOR) == cursor;
            PreviewMouse(WM_MOUSEMOVE, POINT{frame.left + 2, frame.top + 2});
            Check(found && picking && restored,
                  "a pick from the preview runs under the pick cursor until the left button's release");
          }),
          Do([] {
            // Sized below 100 pixels, the preview window grows back to 100 (the system keeps a
            // captioned window at least its minimum tracking width, which may be wider).
            SetWindowPos(Preview(), nullptr, 0, 0, 300, 40, SWP_NOMOVE | SWP_NOZORDER);
            RECT r;
            GetWindowRect(Preview(), &r);
            Check(r.right - r.left == 300 && r.bottom - r.top == 100,
                  "a preview window sized 300 x 40 grows back to 300 x 100, got " + std::to_string(r.right - r.left) +
                      " x " + std::to_string(r.bottom - r.top));
          }),
          Do([] {
            SendMessageA(Item(1085), BM_CLICK, 0, 0); // live preview again: the byte becomes 1
            SetFocus(Item(1013));
            PostMessageA(Item(1013), WM_KEYDOWN, VK_RETURN, 0);
          }),
      });
  Check(depth.result == 0 && WrittenNumber(depth, "FOPO") == 0.0 && WrittenInteger(depth, "SHOW") == 7,
        "OK renders the depth map with the view and focal point chosen (result " + std::to_string(depth.result) + ")");
  Check(ReadValue(kKey, "Interface FixedPreview", type, data) && data == std::vector<uint8_t>{1},
        "unchecking fixed preview stores the live-preview byte 1");
  char picked[96];
  std::snprintf(picked, sizeof picked, " (%u, %u, %u at %ld, %ld)", pickColour[0], pickColour[1], pickColour[2],
                long(pickPoint.x), long(pickPoint.y));
  Check(std::fabs(LastUsedDouble("ColorOutside_red") - pickColour[0] / 255.0) < 1e-12 &&
            std::fabs(LastUsedDouble("ColorOutside_green") - pickColour[1] / 255.0) < 1e-12 &&
            std::fabs(LastUsedDouble("ColorOutside_blue") - pickColour[2] / 255.0) < 1e-12,
        std::string("the colour picked from the preview is the outside colour") + picked);
  int32_t height = 0;
  Check(ReadValue(kKey, "Preview Position Height", type, data) && data.size() == 4 &&
            (std::memcpy(&height, data.data(), 4), height == 100),
        "the preview's restored height is stored (100)");

  // ---- the About box ----
  {
    std::string aboutText;
    const UINT_PTR timer = StartScript(module.entry, {[&] {
      HWND about = FindWindowA(nullptr, "About");
      if (!about) return false;
      char text[512] = {};
      GetDlgItemTextA(about, 1083, text, sizeof text);
      aboutText = text;
      SendMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return true;
    }}, 10000);
    RunAbout(module.entry);
    KillTimer(nullptr, timer);
    Check(aboutText.find("Pelidorn\xAB v1.4.5") != std::string::npos,
          "the About box shows the name and version (" + aboutText.substr(0, 24) + ")");
  }

  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  DeleteFileA(presets);
  std::printf("%d passed, %d failed (%lu ms)\n", passed, failed, static_cast<unsigned long>(GetTickCount() - started));
  return failed == 0 ? 0 : 1;
}
