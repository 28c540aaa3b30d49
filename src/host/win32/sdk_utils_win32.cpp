// The Windows-only families of the host-SDK utility layer (see sdk_utils_win32.h).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/module_globals.h"
#include "host/host_os.h"
#include "host/sdk_utils_win32.h"
#include "host/string_table.h"

namespace ov {

namespace {

HWND Wnd(void* w) { return static_cast<HWND>(w); }

struct PString {
  uint8_t s[256] = {};
  explicit PString(const std::string& text = "") { CStringToPString(text.c_str(), s); }
  std::string str() const { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }
};

std::string ItemText(void* dialog, int item) {
  char buffer[256] = {};
  GetDlgItemTextA(Wnd(dialog), item, buffer, sizeof(buffer));
  return buffer;
}

bool Warn(HostProcPresence presence, const char* versionText) {
  if (presence == HostProcPresence::Present) return true;
  if (presence == HostProcPresence::NewerVersion) {
    ShowStringTableMessage(nullptr, kStringIntegerRange, kStringHostIncompatible, nullptr, nullptr);
  } else {
    PString version(versionText);
    ShowStringTableMessage(nullptr, kStringIntegerRange, kStringHostTooOld, version.s, nullptr);
  }
  return false;
}

HostProcPresence PresenceOfProc(const void* proc) {
  return proc ? HostProcPresence::Present : HostProcPresence::Absent;
}

// Decimals the user typed after the last "." or ",".
int TypedDecimals(const std::string& text) {
  const size_t split = text.find_last_of(".,");
  if (split == std::string::npos) return 0;
  int n = 0;
  for (size_t i = split + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++n;
  return n;
}

} // namespace

// ---- message boxes ---------------------------------------------------------------------------------

int ShowStringTableMessageIcon(void* owner, int alertId, int stringId, const uint8_t* arg1, const uint8_t* arg2,
                               int errorIcon) {
  if (alertId == 0) return 0;
  PString text;
  if (stringId > 0) CStringToPString(LoadModuleString(stringId, 255).c_str(), text.s);
  ExpandPlaceholders(text.s, nullptr, arg1, arg2);
  const UINT style = errorIcon == 1 ? (MB_ICONERROR | MB_OK) : (MB_ICONEXCLAMATION | MB_OK);
  return MessageBoxA(Wnd(owner), text.str().c_str(), nullptr, style);
}

int ShowStringTableMessage(void* owner, int alertId, int stringId, const uint8_t* arg1, const uint8_t* arg2) {
  return ShowStringTableMessageIcon(owner, alertId, stringId, arg1, arg2, 0);
}

bool CheckSuiteAvailable(const void* t) { return Warn(TestHostProcs(t, 2, 5, 5), "2.5"); }
bool WarnHostProcs3x4(const void* t) { return Warn(TestHostProcs(t, 3, 4, 4), "3.0"); }
bool WarnHostProcs1x8(const void* t) { return Warn(TestHostProcs(t, 1, 8, 4), "3.0"); }
bool WarnHostProcs1x2(const void* t) { return Warn(TestHostProcs(t, 1, 2, 2), "2.5"); }
bool WarnHostProcs1x3(const void* t) { return Warn(TestHostProcs(t, 1, 3, 3), "4.0"); }
bool WarnAdvanceState(AdvanceStateProc proc) {
  return Warn(PresenceOfProc(reinterpret_cast<const void*>(proc)), "3.0");
}
bool WarnHostProc252(const void* proc) { return Warn(PresenceOfProc(proc), HostVersionText(2.502, true).c_str()); }
bool WarnHostProc25(const void* proc) { return Warn(PresenceOfProc(proc), "2.5"); }
bool CheckDescriptorInterface(const PIDescriptorParameters* p) {
  return Warn(IsDescriptorInterfaceValid(p) ? HostProcPresence::Present : HostProcPresence::Missing, "4.0");
}

// ---- dialog items ---------------------------------------------------------------------------------------

void CenterDialog(void* dialog) {
  HWND d = Wnd(dialog);
  RECT own, area;
  GetWindowRect(d, &own);
  HWND parent = GetParent(d);
  if (parent) {
    GetClientRect(parent, &area);
    MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&area), 2);
  } else {
    GetWindowRect(GetDesktopWindow(), &area);
  }
  const int w = own.right - own.left, h = own.bottom - own.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 3;
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  x = std::max(0, std::min(x, screenW - w));
  y = std::max(0, std::min(y, screenH - h));
  SetWindowPos(d, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SelectTextItem(void* dialog, int item) {
  SendDlgItemMessageA(Wnd(dialog), item, EM_SETSEL, 0, -1);
  SetFocus(GetDlgItem(Wnd(dialog), item));
}

void SetDefaultButton(void* dialog, int item) {
  SendDlgItemMessageA(Wnd(dialog), item, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  SetFocus(GetDlgItem(Wnd(dialog), item));
}

void FetchText(void* dialog, int item, uint8_t* text) { CStringToPString(ItemText(dialog, item).c_str(), text); }

int ReadIntegerField(void* dialog, int item, int32_t min, int32_t max, int32_t* value) {
  PString text(ItemText(dialog, item));
  int32_t v = 0;
  if (PStringToNumber(text.s, &v) == 0) {
    if (value) *value = 0;
    return 2;
  }
  if (value) *value = v;
  return v < min || v > max ? 1 : 0;
}

void AlertIntegerField(void* dialog, int item, int32_t min, int32_t max, int32_t* value, bool show) {
  int32_t v = value ? *value : 0;
  v = v < min ? min : max;
  if (value) *value = v;
  SetDlgItemInt(Wnd(dialog), item, UINT(v), TRUE);
  MessageBeep(MB_ICONEXCLAMATION);
  if (show) {
    PString a(std::to_string(min)), b(std::to_string(max));
    ShowStringTableMessage(dialog, kStringIntegerRange, kStringIntegerRange, a.s, b.s);
  }
  SelectTextItem(dialog, item);
}

void StuffDouble(void* dialog, int item, double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", std::clamp(decimals, 0, 9), value);
  SetDlgItemTextA(Wnd(dialog), item, text);
}

int ReadDecimalField(void* dialog, int item, double min, double max, double* value) {
  PString text(ItemText(dialog, item));
  double v = 0.0;
  if (PStringToDouble(text.s, &v) == 0) {
    if (value) *value = 0.0;
    return 2;
  }
  if (value) *value = v;
  return v < min || v > max ? 1 : 0;
}

void AlertDecimalField(void* dialog, int item, double min, double max, double* value, bool show) {
  const int decimals = TypedDecimals(ItemText(dialog, item));
  double v = value ? *value : 0.0;
  v = v < min ? min : max;
  if (value) *value = v;
  StuffDouble(dialog, item, v, decimals);
  MessageBeep(MB_ICONEXCLAMATION);
  if (show) {
    char a[64], b[64];
    std::snprintf(a, sizeof(a), "%.*f", decimals, min);
    std::snprintf(b, sizeof(b), "%.*f", decimals, max);
    PString pa(a), pb(b);
    ShowStringTableMessage(dialog, kStringIntegerRange, kStringDecimalRange, pa.s, pb.s);
  }
  SelectTextItem(dialog, item);
}

bool ToggleCheckBox(void* dialog, int item) {
  const bool checked = IsDlgButtonChecked(Wnd(dialog), item) != BST_CHECKED;
  CheckDlgButton(Wnd(dialog), item, checked ? BST_CHECKED : BST_UNCHECKED);
  return checked;
}

int GetRadioGroupState(void* dialog, int first, int last) {
  for (int id = first; id <= last; ++id)
    if (IsDlgButtonChecked(Wnd(dialog), id) == BST_CHECKED) return id;
  return 0;
}

void ShowHideItem(void* dialog, int item, bool show) { ShowWindow(GetDlgItem(Wnd(dialog), item), show ? SW_SHOW : SW_HIDE); }
void ShowItem(void* dialog, int item) { ShowHideItem(dialog, item, true); }
void HideItem(void* dialog, int item) { ShowHideItem(dialog, item, false); }
void SetItemEnabled(void* dialog, int item, bool enabled) { EnableWindow(GetDlgItem(Wnd(dialog), item), enabled); }
void EnableItem(void* dialog, int item) { SetItemEnabled(dialog, item, true); }
void DisableItem(void* dialog, int item) { SetItemEnabled(dialog, item, false); }

namespace {
INT_PTR CALLBACK SdkAboutThunk(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return SdkAboutProcedure(dialog, message, wParam, lParam);
}

// Opens the web address of an About item through the GetFileList suite's fourth procedure
// (browse URL), acquired into its holder on first use.
void BrowseItemAddress(HWND dialog, int item) {
  HostSuiteHolder* holder = FindHostSuiteHolder("Photoshop GetFileList Suite for Plug-ins");
  if (!holder) return;
  if (!holder->suite) {
    if (!HostBasicSuite || !HostBasicSuite->AcquireSuite) return;
    const void* suite = nullptr;
    if (HostBasicSuite->AcquireSuite(holder->name, 4, &suite) || !suite) return;
    holder->suite = suite;
    holder->version = 4;
  }
  using BrowseUrl = SPErr (*)(const char* url);
  const BrowseUrl* procs = static_cast<const BrowseUrl*>(holder->suite);
  if (procs[3]) procs[3](ItemText(dialog, item).c_str());
}
} // namespace

void ShowSdkAbout(const AboutRecord* about) {
  HWND owner = nullptr;
  if (about && about->platformData) owner = reinterpret_cast<HWND>(static_cast<const PlatformData*>(about->platformData)->hwnd);
  DialogBoxParamA(static_cast<HINSTANCE>(GetModuleInstance()), MAKEINTRESOURCEA(16000), owner, SdkAboutThunk, 0);
}

intptr_t SdkAboutProcedure(void* dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  HWND d = Wnd(dialog);
  switch (message) {
  case WM_INITDIALOG:
    CenterDialog(dialog);
    SetDlgItemTextA(d, 3, LoadModuleString(kStringAboutText, 255).c_str());
    return TRUE;
  case WM_CHAR:
    if (wParam == VK_ESCAPE || wParam == VK_RETURN) EndDialog(d, 0);
    return TRUE;
  case WM_LBUTTONDOWN:
    EndDialog(d, 0);
    return TRUE;
  case WM_COMMAND: {
    const int item = LOWORD(wParam);
    if (item == IDOK || item == IDCANCEL) EndDialog(d, item);
    else if (item == 4 || item == 5) BrowseItemAddress(d, item);
    return TRUE;
  }
  default:
    return FALSE;
  }
}

// ---- host program version ---------------------------------------------------------------------------------

OSErr ReadHostVersionInfo(void*, HostVersionRecord* record) {
  if (!record) return paramErr;
  std::memset(record, 0, sizeof(*record));
  char path[MAX_PATH] = {};
  if (!GetModuleFileNameA(nullptr, path, MAX_PATH)) return paramErr;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return paramErr;
  std::string data;
  try {
    data.resize(size);
  } catch (...) {
    return memFullErr;
  }
  if (!GetFileVersionInfoA(path, 0, size, data.data())) return paramErr;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
    record->fileOsCode = FileOsCode(fixed->dwFileOS);
    record->fileFlagsCode = FileFlagsCode(fixed->dwFileFlags, fixed->dwFileFlagsMask, fixed->dwFileFlagsMask);
  }
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      !translation || length < sizeof(Translation))
    return noErr;
  char base[64];
  std::snprintf(base, sizeof(base), "\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
  // The host-name match (InternalName against the known hosts) answers 0 for every host.
  record->hostCode = 0;
  char* text = nullptr;
  if (VerQueryValueA(data.data(), (std::string(base) + "FileVersion").c_str(), reinterpret_cast<void**>(&text),
                     &length) &&
      text) {
    unsigned a = 0, b = 0, c = 0;
    std::sscanf(text, "%u.%u.%u", &a, &b, &c);
    record->major = uint16_t(a);
    record->minor = uint16_t(b);
    record->fix = uint16_t(c);
  }
  return noErr;
}

namespace {
const HostVersionRecord& HostVersion() {
  static HostVersionRecord record{};
  static bool read = false;
  if (!read) {
    ReadHostVersionInfo(nullptr, &record);
    read = true;
  }
  return record;
}
int32_t VersionNumber(const HostVersionRecord& r) {
  return int32_t((uint32_t(r.major) * 256u + uint32_t(r.minor) * 16u + uint32_t(r.fix)) * 65536u + r.last);
}
} // namespace

int32_t GetHostVersion(void*, const int32_t* codes) {
  const HostVersionRecord& r = HostVersion();
  for (const int32_t* c = codes; c && *c; ++c)
    if (*c == r.hostCode) return VersionNumber(r);
  return 0;
}

int32_t GetHostVersionByCode(void*, int32_t code) {
  const HostVersionRecord& r = HostVersion();
  return code >= 1 && code <= 11 && code == r.hostCode ? VersionNumber(r) : 0;
}

// ---- global memory ---------------------------------------------------------------------------------------

void* NewGlobalBlock(size_t size) { return hostos::GlobalBlockNew(size); }
void FreeGlobalBlock(void* block) { hostos::GlobalBlockFree(block); }
size_t GetGlobalBlockSize(const void* block) { return hostos::GlobalBlockSize(block); }

} // namespace ov
