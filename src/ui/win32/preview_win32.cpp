// The dialog of the Windows build: the preview dialog object with its message loop, the
// parameter panel (dialog 101), the preview window (dialog 105), the preview bitmap and zoom,
// presets, the registry settings and the colour chooser fallback. The arithmetic lives in
// ui/preview_logic.cpp; this file moves its results into windows.
//
// Guarded cases:
// - The preview bitmap pointer is cleared whenever the bitmap is released, and no
//   conversion runs without a bitmap, so a failed set-up never leads to a write into freed
//   memory; Show returns it and the set-up scale to their initial state when it ends.
// - Registry values are used only with the expected size, whatever type they were stored
//   with; the presets path is read into a bounded, terminated string and ignored when it
//   does not fit.
// - The overwrite prompt of a preset name matches without regard to case, the presets file
//   exactly: Yes saves under the name as listed, so that the preset the prompt named is
//   replaced rather than joined by a second one.
// - Both dialogs share the system's dialog window class with the host: its icon and cursor
//   are put back when Show ends and after every colour pick, and only the cursor this module
//   loaded (not a shared one) is destroyed.
// - A zoom that keeps the proxy clears the wake-up of the zoom buttons only, never a pending
//   parameter change.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "core/logger.h"
#include "core/module_globals.h"
#include "host/parameter.h"
#include "host/parameters.h"
#include "host/pf_filter.h"
#include "host/undo.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "ui/parameter_ui_win32.h"
#include "ui/preview.h"
#include "ui/preview_logic.h"
#include "ui/registry_values_win32.h"

namespace ov {

namespace {

// Dialog resources and items.
constexpr int kPanelDialog = 101;
constexpr int kPreviewDialog = 105;
constexpr int kSaveAsDialog = 113;
constexpr int kIconId = 116;
constexpr int kPickCursorId = 102;
constexpr int kFrame = 1022;
constexpr int kPresetList = 1001, kSaveButton = 1002, kDeleteButton = 1003, kUndoButton = 1004;
constexpr int kZoomIn = 1005, kZoomOut = 1006, kZoomLabel = 1007, kRedoButton = 1010, kOpenButton = 1015;
constexpr int kResetButton = 1084, kFixedPreview = 1085, kPresetNameEdit = 1073;

pfPreviewWin32* PanelOwner = nullptr;
pfPreviewWin32* PreviewOwner = nullptr;
bool TrackbarDragging = false;
int32_t LastSetupFactor = -1;
// A parameter change waits for its render (the zoom buttons only wake the loop).
bool ParameterPending = false;
COLORREF CustomColors[16] = {};

HWND H(void* w) { return static_cast<HWND>(w); }
HINSTANCE Instance() { return static_cast<HINSTANCE>(pel::platform::ModuleHandle()); }

// ---- registry values -----------------------------------------------------------------------

void WriteDword(const pel::platform::RegistryKey& key, const char* name, int32_t value) {
  key.Write(name, REG_DWORD, &value, 4);
}

// ---- geometry ------------------------------------------------------------------------------

RECT ItemRectInClient(HWND dialog, int id) {
  RECT r{0, 0, 0, 0};
  HWND item = dialog ? GetDlgItem(dialog, id) : nullptr;
  if (!item) return r;
  GetWindowRect(item, &r);
  POINT a{r.left, r.top}, b{r.right, r.bottom};
  ScreenToClient(dialog, &a);
  ScreenToClient(dialog, &b);
  return RECT{a.x, a.y, b.x, b.y};
}

ui::FrameGeometry FrameOf(HWND preview) {
  const RECT r = ItemRectInClient(preview, kFrame);
  return ui::FrameGeometry{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int32_t RectW(const Rect& r) { return r.right - r.left; }
int32_t RectH(const Rect& r) { return r.bottom - r.top; }

void RestoreClassCursor(pfPreviewWin32* p, HWND window) {
  if (window) SetClassLongPtrA(window, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(p->savedCursor));
  SetCursor(static_cast<HCURSOR>(p->savedCursor));
}

void PushUndoStep(pfPreviewWin32* p, pfParameter* parameter) {
  if (!p->filter || !parameter) return;
  p->filter->undo.Push(parameter->CreateUndo());
  p->filter->undo.BeginStep();
  p->UpdateUndoButtons();
}

// ---- panel helpers ---------------------------------------------------------------------------

bool ApplyControlChange(pfPreviewWin32* p, int id, bool recordUndo) {
  pfParameterUIWin32* control = FindParameterUIByControl(id, p->filter);
  if (!control) return false;
  pfUndo* record = nullptr;
  pfParameter* parameter = control->GetParameter();
  if (recordUndo && parameter && parameter->AffectsImage()) record = parameter->CreateUndo();
  const bool changed = control->ReadFocusedControl();
  if (changed) {
    p->Invalidate();
    if (record) {
      p->filter->undo.Push(record);
      p->filter->undo.BeginStep();
      p->UpdateUndoButtons();
      record = nullptr;
    }
  }
  delete record;
  return changed;
}

template <typename Control>
Control* FindControlAt(pfPreviewWin32* p, HWND panel, int x, int y) {
  if (!p->filter) return nullptr;
  for (int32_t i = 0; i < p->filter->GetControlCount(); ++i) {
    auto* c = dynamic_cast<Control*>(p->filter->GetControl(i));
    if (!c || !c->GetDialog() || c->GetControlId() == 0 || c->GetControlId() == pfParameterUI::kNoId) continue;
    const RECT r = ItemRectInClient(panel, c->GetControlId());
    if (x >= r.left && x <= r.right && y >= r.top && y <= r.bottom) return c;
  }
  return nullptr;
}

void DialCentre(HWND panel, pfParameterUIAngleWin32* dial, int& cx, int& cy) {
  const RECT r = ItemRectInClient(panel, dial->GetControlId());
  cx = r.left + (r.right - r.left) / 2;
  cy = r.top + (r.bottom - r.top) / 2;
}

void HandlePanelClick(pfPreviewWin32* p, HWND panel, int x, int y) {
  if (auto* swatch = FindControlAt<pfParameterUIRGBWin32>(p, panel, x, y)) {
    if (pfParameterRGB* c = swatch->Parameter()) {
      double r, g, b;
      c->GetColor(r, g, b);
      EnableWindow(H(p->previewWindow), FALSE);
      EnableWindow(panel, FALSE);
      if (p->filter && p->filter->RequestColor(p->filterRecord, r, g, b)) {
        PushUndoStep(p, c);
        const bool changed = c->SetColor(r, g, b);
        c->UpdateUI();
        if (changed) p->Invalidate();
      }
      EnableWindow(H(p->previewWindow), TRUE);
      EnableWindow(panel, TRUE);
    }
  }
  p->draggedAngle = FindControlAt<pfParameterUIAngleWin32>(p, panel, x, y);
  if (pfParameterUIAngleWin32* dial = p->draggedAngle) {
    SetFocus(nullptr);
    int cx, cy;
    DialCentre(panel, dial, cx, cy);
    PushUndoStep(p, dial->GetParameter());
    const bool changed = dial->AngleFromDialPoint(x - cx, y - cy);
    dial->Update();
    SetCapture(panel);
    if (changed) p->Invalidate();
  }
}

void BeginColorPick(pfPreviewWin32* p, HWND panel, int x, int y) {
  auto* swatch = FindControlAt<pfParameterUIRGBWin32>(p, panel, x, y);
  p->colorPickTarget = swatch ? swatch->Parameter() : nullptr;
  if (!p->colorPickTarget) {
    RestoreClassCursor(p, panel);
    return;
  }
  PushUndoStep(p, p->colorPickTarget);
  SetClassLongPtrA(panel, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(p->pickCursor));
  SetCursor(static_cast<HCURSOR>(p->pickCursor));
}

void EndPick(pfPreviewWin32* p, HWND panel) {
  if (p->draggedAngle) {
    p->draggedAngle = nullptr;
    if (GetCapture() == panel) ReleaseCapture();
  }
  if (p->colorPickTarget) {
    p->colorPickTarget = nullptr;
    RestoreClassCursor(p, panel);
  }
}

void PaintColorSwatch(pfPreviewWin32* p, HWND panel, HDC dc) {
  if (!p->filter) return;
  for (int32_t i = 0; i < p->filter->GetControlCount(); ++i) {
    auto* c = dynamic_cast<pfParameterUIRGBWin32*>(p->filter->GetControl(i));
    if (!c || !c->GetDialog() || c->GetControlId() == pfParameterUI::kNoId || !c->IsVisible() || !c->Parameter())
      continue;
    double r, g, b;
    c->Parameter()->GetColor(r, g, b);
    if (p->filterRecord && ui::IsGreySwatchMode(p->filterRecord->imageMode)) {
      r = g = b = ui::SwatchGrey(r, g, b);
      c->Parameter()->SetColor(r, g, b);
    }
    RECT rect = ItemRectInClient(panel, c->GetControlId());
    FrameRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&rect, -1, -1);
    HBRUSH brush = CreateSolidBrush(RGB(int(r * 255), int(g * 255), int(b * 255)));
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
  }
}

void PaintAngleDial(pfPreviewWin32* p, HWND panel, HDC dc) {
  if (!p->filter) return;
  for (int32_t i = 0; i < p->filter->GetControlCount(); ++i) {
    auto* c = dynamic_cast<pfParameterUIAngleWin32*>(p->filter->GetControl(i));
    if (!c || !c->GetDialog() || c->GetControlId() == pfParameterUI::kNoId || !c->IsVisible() || !c->Parameter())
      continue;
    const RECT rect = ItemRectInClient(panel, c->GetControlId());
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    const int cx = rect.left + w / 2, cy = rect.top + h / 2, radius = (w < h ? w : h) / 2;
    HGDIOBJ old = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    Ellipse(dc, cx - 5, cy - 5, cx + 5, cy + 5);
    int ex, ey;
    ui::DialHandEnd(c->Parameter()->GetValue(), cx, cy, radius, ex, ey);
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        MoveToEx(dc, cx + dx, cy + dy, nullptr);
        LineTo(dc, ex, ey);
      }
    SelectObject(dc, old);
  }
}

void ReadPanelSettings(pfPreviewWin32* p, HWND panel) {
  int32_t x = 0, y = 0;
  pel::platform::RegistryKey key;
  if (key.OpenForReading(RegistryKeyPath())) {
    SetFocus(GetDlgItem(panel, IDOK));
    // A lone readable coordinate is used as stored; only a pair is put back on the screen.
    const bool gotX = ui::ReadDword(key, ui::kInterfacePositionX.name, x);
    const bool gotY = ui::ReadDword(key, ui::kInterfacePositionY.name, y);
    if (gotX && gotY)
      ui::ClampToVirtualScreen(x, y, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    std::string path;
    if (ui::ReadPath(key, ui::kPresetPath.name, path)) {
      p->presetPath = path;
      LogTrace("UIProcedure - WM_INITDIALOG: PresetPath(", path, ")\n");
    }
    ui::ReadByte(key, ui::kFixedPreview.name, LivePreview);
    CheckDlgButton(panel, kFixedPreview, LivePreview == 0 ? BST_CHECKED : BST_UNCHECKED);
    key.Close();
  }
  SetWindowPos(panel, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void WritePanelSettings(pfPreviewWin32* p, HWND panel) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(panel, &placement)) return;
  pel::platform::RegistryKey key;
  if (!key.CreateForWriting(RegistryKeyPath())) return;
  WriteDword(key, ui::kInterfacePositionX.name, placement.rcNormalPosition.left);
  WriteDword(key, ui::kInterfacePositionY.name, placement.rcNormalPosition.top);
  key.Write(ui::kPresetPath.name, REG_SZ, p->presetPath.c_str(), uint32_t(p->presetPath.size() + 1));
  key.Write(ui::kFixedPreview.name, REG_BINARY, &LivePreview, 1);
}

INT_PTR CALLBACK UIProcedure(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  pfPreviewWin32* p = PanelOwner;
  switch (message) {
    case WM_INITDIALOG:
      PanelOwner = p = reinterpret_cast<pfPreviewWin32*>(lParam);
      p->interfaceWindow = panel;
      ReadPanelSettings(p, panel);
      p->ReadLastUsedSettings();
      return TRUE;
    case WM_DESTROY:
      if (p) WritePanelSettings(p, panel);
      return 0;
    case WM_PAINT: {
      if (!p) return 0;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(panel, &ps);
      PaintColorSwatch(p, panel, dc);
      PaintAngleDial(p, panel, dc);
      EndPaint(panel, &ps);
      return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, RGB(255, 0, 0));
      SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    }
    case WM_COMMAND: {
      if (!p) return 0;
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      switch (id) {
        case IDOK:
          if (code == 0) {
            LogTrace("UIProcedure - WM_COMMAND OK pressed.\n");
            PostQuitMessage(1);
          }
          return 0;
        case IDCANCEL:
          if (code == 0) {
            LogTrace("UIProcedure - WM_COMMAND CANCEL pressed.\n");
            PostQuitMessage(0);
          }
          return TRUE;
        case kPresetList:
          if (code == CBN_SELCHANGE) {
            p->LoadSelectedPreset();
            if (p->filter) p->filter->parameters.UpdateAllUI();
            p->Invalidate();
          }
          return 0;
        case kSaveButton: p->SavePresetAs(); return 0;
        case kDeleteButton: p->DeletePreset(); return 0;
        case kUndoButton:
          if (p->filter && p->filter->undo.Undo()) p->Invalidate();
          p->UpdateUndoButtons();
          return 0;
        case kRedoButton:
          if (p->filter && p->filter->undo.Redo()) p->Invalidate();
          p->UpdateUndoButtons();
          return 0;
        case kZoomIn:
          if (code == 0) p->RequestScaleFactor(p->currentScale - 1);
          return TRUE;
        case kZoomOut:
          if (code == 0) p->RequestScaleFactor(p->currentScale + 1);
          return TRUE;
        case kOpenButton: p->OnChangeSettingFile(); return 0;
        case kResetButton:
          if (p->filter) {
            p->filter->ResetParameters(true);
            p->filter->undo.BeginStep();
          }
          p->UpdateUndoButtons();
          p->Invalidate();
          return 0;
        case kFixedPreview: LivePreview = LivePreview == 0 ? 1 : 0; return 0;
        default:
          if (code == BN_CLICKED || code == CBN_SELCHANGE || code == EN_CHANGE) ApplyControlChange(p, id, true);
          else if (code == EN_KILLFOCUS) {
            if (pfParameterUIWin32* c = FindParameterUIByControl(id, p->filter)) c->OnEditKillFocus(id);
          }
          return 0;
      }
    }
    case WM_HSCROLL:
    case WM_VSCROLL: {
      if (!p || !lParam) return 0;
      bool record = false;
      if (LOWORD(wParam) == TB_ENDTRACK) TrackbarDragging = false;
      else if (!TrackbarDragging) record = TrackbarDragging = true;
      if (!ApplyControlChange(p, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), record)) TrackbarDragging = false;
      return 0;
    }
    case WM_LBUTTONDOWN:
      if (p) HandlePanelClick(p, panel, LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_MOUSEMOVE:
      if (p && p->draggedAngle) {
        int cx, cy;
        DialCentre(panel, p->draggedAngle, cx, cy);
        const int x = int16_t(LOWORD(lParam)), y = int16_t(HIWORD(lParam));
        const bool changed = p->draggedAngle->AngleFromDialPoint(x - cx, y - cy);
        p->draggedAngle->Update();
        if (changed) p->Invalidate();
      }
      return 0;
    case WM_LBUTTONUP:
      if (p) EndPick(p, panel);
      return 0;
    case WM_RBUTTONUP:
      if (p) BeginColorPick(p, panel, LOWORD(lParam), HIWORD(lParam));
      return 0;
    default: return 0;
  }
}

// ---- preview window ----------------------------------------------------------------------------

void PlacePreviewWindow(HWND window) {
  int32_t x = 200, y = 200, w = 400, h = 400, state = 0;
  pel::platform::RegistryKey key;
  if (key.OpenForReading(RegistryKeyPath())) {
    const bool all = ui::ReadDword(key, ui::kPreviewPositionX.name, x) &
                     ui::ReadDword(key, ui::kPreviewPositionY.name, y) &
                     ui::ReadDword(key, ui::kPreviewWidth.name, w) & ui::ReadDword(key, ui::kPreviewHeight.name, h);
    ui::ReadDword(key, ui::kPreviewState.name, state);
    key.Close();
    if (all) ui::ClampToVirtualScreen(x, y, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
  } else {
    ui::DefaultPreviewPlacement(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), x, y, w);
    h = w;
  }
  SetWindowPos(window, nullptr, x, y, w, h, SWP_NOZORDER);
  if ((state & 3) == 3) ShowWindow(window, SW_MAXIMIZE);
}

void WritePreviewPlacement(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window, &placement)) return;
  pel::platform::RegistryKey key;
  if (!key.CreateForWriting(RegistryKeyPath())) return;
  const RECT& r = placement.rcNormalPosition;
  WriteDword(key, ui::kPreviewPositionX.name, r.left);
  WriteDword(key, ui::kPreviewPositionY.name, r.top);
  WriteDword(key, ui::kPreviewWidth.name, r.right - r.left);
  WriteDword(key, ui::kPreviewHeight.name, r.bottom - r.top);
  WriteDword(key, ui::kPreviewState.name, int32_t(placement.showCmd));
}

void PaintPreview(pfPreviewWin32* p) {
  HWND window = H(p->previewWindow);
  if (!window) return;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  const ui::FrameGeometry frame = FrameOf(window);
  const int32_t outW = p->filterRecord ? RectW(p->filterRecord->outRect) : 0;
  const int32_t outH = p->filterRecord ? RectH(p->filterRecord->outRect) : 0;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = p->bufferStride;
  info.bmiHeader.biHeight = p->bufferHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = DWORD(outW) * DWORD(outH) * 3;
  const void* bits = p->previewBuffer;
  HDC memory = nullptr;
  HBITMAP section = nullptr;
  if (p->filterRecord && p->filterRecord->displayPixels && p->previewBuffer) {
    memory = CreateCompatibleDC(nullptr);
    void* sectionBits = nullptr;
    section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    if (memory && section) {
      SelectObject(memory, section);
      PSPixelMap map{};
      map.version = 1;
      map.bounds = VRect{0, 0, p->bufferHeight, p->bufferStride};
      map.imageMode = 3;
      map.rowBytes = p->bufferStride * 3;
      map.colBytes = 3;
      map.planeBytes = 1;
      map.baseAddr = p->previewBuffer;
      VRect source{0, 0, p->bufferHeight, p->bufferStride};
      p->filterRecord->displayPixels(&map, &source, 0, 0, memory);
      bits = sectionBits;
    }
  }
  const double ratio = p->displayRatio;
  const int32_t imgW = int32_t(outW / ratio), imgH = int32_t(outH / ratio);
  if (p->panX > outW - frame.width * ratio) p->panX = int32_t(outW - frame.width * ratio);
  if (p->panX < 0) p->panX = 0;
  if (p->panY > outH - frame.height * ratio) p->panY = int32_t(outH - frame.height * ratio);
  if (p->panY < 0) p->panY = 0;
  int32_t drawnW, drawnH, x0, y0;
  if (imgW > frame.width) {
    drawnW = frame.width;
    x0 = frame.left;
  } else {
    drawnW = imgW;
    x0 = frame.left + (frame.width - imgW) / 2;
  }
  if (imgH > frame.height) {
    drawnH = frame.height;
    y0 = frame.top;
  } else {
    drawnH = imgH;
    y0 = frame.top + (frame.height - imgH) / 2;
  }
  if (!p->imageReady || !bits) {
    RECT r{x0, y0, x0 + drawnW, y0 + drawnH};
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  } else {
    SetStretchBltMode(dc, COLORONCOLOR);
    if (!StretchDIBits(dc, x0, y0, drawnW, drawnH, p->panX, p->panY, int(drawnW * ratio), int(drawnH * ratio), bits,
                       &info, DIB_RGB_COLORS, SRCCOPY))
      LogWarning("StretchDIBBits failed. GetLastError(", uint32_t(GetLastError()), ")\n");
  }
  if (section) DeleteObject(section);
  if (memory) DeleteDC(memory);
  HBRUSH grey = CreateSolidBrush(RGB(187, 187, 187));
  const int32_t right = frame.left + frame.width, bottom = frame.top + frame.height;
  RECT strips[4] = {{frame.left, frame.top, right, y0},
                    {frame.left, y0 + drawnH, right, bottom + 200},
                    {frame.left, frame.top, x0, bottom + 200},
                    {x0 + drawnW, frame.top, right, bottom + 200}};
  for (const RECT& s : strips)
    if (s.right > s.left && s.bottom > s.top) FillRect(dc, &s, grey);
  if (p->filter) {
    for (int32_t i = 0; i < p->filter->GetControlCount(); ++i) {
      auto* c = dynamic_cast<pfParameterUIPositionWin32*>(p->filter->GetControl(i));
      if (!c || !c->Parameter()) continue;
      const int mx = int(x0 - p->panX / ratio + imgW * c->Parameter()->GetX());
      const int my = int(imgH * c->Parameter()->GetY() + y0 - (imgH - drawnH) + p->panY / ratio);
      const COLORREF colours[5] = {0xEEEEEE, 0xBBBBBB, 0x999999, 0x666666, 0x333333};
      HGDIOBJ oldPen = nullptr;
      HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
      for (int k = 0; k < 6; ++k) {
        HPEN pen = CreatePen(PS_SOLID, 1, k < 5 ? colours[k] : 0);
        HGDIOBJ previous = SelectObject(dc, pen);
        if (!oldPen) oldPen = previous;
        const int s = 1 + 2 * k;
        Rectangle(dc, mx - s, my - s, mx + s + 1, my + s + 1);
        if (k == 5) {
          MoveToEx(dc, mx - s, my - s, nullptr);
          LineTo(dc, mx + s, my + s);
          MoveToEx(dc, mx + s, my - s, nullptr);
          LineTo(dc, mx - s, my + s);
        }
        SelectObject(dc, oldPen);
        DeleteObject(pen);
      }
      SelectObject(dc, oldBrush);
    }
  }
  EndPaint(window, &ps);
  DeleteObject(grey);
}

pfParameterPosition* FindPositionControlAt(pfPreviewWin32* p, double u, double v) {
  pfParameterPosition* found = nullptr;
  if (!p->filter) return nullptr;
  for (int32_t i = 0; i < p->filter->GetControlCount(); ++i) {
    auto* c = dynamic_cast<pfParameterUIPositionWin32*>(p->filter->GetControl(i));
    if (!c || !c->Parameter()) continue;
    const double dx = c->Parameter()->GetX() - u, dy = c->Parameter()->GetY() - v;
    if (dx * dx + dy * dy < 999999999.0 * 999999999.0) found = c->Parameter();
  }
  return found;
}

INT_PTR CALLBACK PreviewProcedure(HWND window, UINT message, WPARAM, LPARAM lParam) {
  pfPreviewWin32* p = PreviewOwner;
  switch (message) {
    case WM_INITDIALOG:
      PreviewOwner = p = reinterpret_cast<pfPreviewWin32*>(lParam);
      p->previewWindow = window;
      if (p->filterRecord)
        pfParameterUIPositionWin32::SetImageSize(p->filterRecord->wholeSize.h, p->filterRecord->wholeSize.v);
      PlacePreviewWindow(window);
      return TRUE;
    case WM_SIZE: {
      RECT r;
      GetWindowRect(window, &r);
      int w = r.right - r.left, h = r.bottom - r.top;
      if (w < 100 || h < 100) {
        w = w < 100 ? 100 : w;
        h = h < 100 ? 100 : h;
        MoveWindow(window, r.left, r.top, w, h, TRUE);
      }
      HWND frame = GetDlgItem(window, kFrame);
      if (frame)
        MoveWindow(frame, 0, 0, w - 2 * GetSystemMetrics(SM_CXSIZEFRAME),
                   h - 2 * GetSystemMetrics(SM_CYSIZEFRAME) - GetSystemMetrics(SM_CYCAPTION), FALSE);
      if (p) p->InvalidatePreviewFrame();
      return 0;
    }
    case WM_PAINT:
      if (p) PaintPreview(p);
      return 0;
    case WM_DESTROY: WritePreviewPlacement(window); return 0;
    case WM_CLOSE: return TRUE; // only the panel ends the dialog
    case WM_MOUSEMOVE: {
      if (!p) return 0;
      const int x = int16_t(LOWORD(lParam)), y = int16_t(HIWORD(lParam));
      double u, v;
      p->PreviewToImagePoint(x, y, u, v);
      if (p->filterRecord) {
        const int32_t factor = (p->currentScale > 1 ? p->currentScale : 1) + int32_t(p->previewLevel);
        std::string title = "Preview:  x: ";
        title += ui::FormatFloatField(ui::TitleCoordinate(u, RectW(p->filterRecord->outRect), factor));
        title += " y: ";
        title += ui::FormatFloatField(ui::TitleCoordinate(v, RectH(p->filterRecord->outRect), factor));
        SetWindowTextA(window, title.c_str());
      }
      if (p->panning) {
        p->panX = int32_t(p->panStartX - (x - p->panMouseX) * p->displayRatio);
        p->panY = int32_t(p->panStartY + (y - p->panMouseY) * p->displayRatio);
        p->InvalidatePreviewFrame();
      }
      if (p->positionDragArmed && p->draggedPosition) {
        p->draggedPosition->SetPosition(u, v);
        p->draggedPosition->UpdateUI();
        p->Invalidate();
      }
      if (p->colorPickTarget) {
        InvalidateRect(window, nullptr, FALSE);
        p->InvalidatePreviewFrame();
        HDC dc = GetDC(window);
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(window, dc);
        if (c != CLR_INVALID &&
            p->colorPickTarget->SetColor(GetRValue(c) * 0.00392156862745098, GetGValue(c) * 0.00392156862745098,
                                         GetBValue(c) * 0.00392156862745098)) {
          p->colorPickTarget->UpdateUI();
          p->Invalidate();
        }
      }
      return 0;
    }
    case WM_LBUTTONDOWN: {
      if (!p) return 0;
      const int x = LOWORD(lParam), y = HIWORD(lParam);
      const ui::FrameGeometry f = FrameOf(window);
      if (x >= f.left && x <= f.left + f.width && y >= f.top && y <= f.top + f.height) {
        p->mouseDownX = x;
        p->mouseDownY = y;
        p->positionDragArmed = true;
        SetCapture(window);
      }
      double u, v;
      p->PreviewToImagePoint(p->mouseDownX, p->mouseDownY, u, v);
      if (p->colorPickTarget) return 0;
      p->draggedPosition = FindPositionControlAt(p, u, v);
      if (p->draggedPosition) {
        PushUndoStep(p, p->draggedPosition);
        p->draggedPosition->SetPosition(u, v);
        p->draggedPosition->UpdateUI();
        p->Invalidate();
      }
      return 0;
    }
    case WM_LBUTTONUP:
      if (!p) return 0;
      p->draggedPosition = nullptr;
      p->positionDragArmed = false;
      if (GetCapture() == window) ReleaseCapture();
      if (p->colorPickTarget) {
        p->colorPickTarget = nullptr;
        RestoreClassCursor(p, window);
        p->Invalidate();
      }
      return 0;
    case WM_RBUTTONDOWN: {
      if (!p) return 0;
      const int x = LOWORD(lParam), y = HIWORD(lParam);
      const ui::FrameGeometry f = FrameOf(window);
      if (x >= f.left && x <= f.left + f.width && y >= f.top && y <= f.top + f.height) {
        p->panMouseX = x;
        p->panMouseY = y;
        p->panning = true;
        p->panStartX = p->panX;
        p->panStartY = p->panY;
        SetCapture(window);
      }
      return 0;
    }
    case WM_RBUTTONUP:
      if (!p) return 0;
      p->panning = false;
      if (GetCapture() == window) ReleaseCapture();
      p->InvalidatePreviewFrame();
      return 0;
    default: return 0;
  }
}

// ---- preset name dialog ------------------------------------------------------------------------

INT_PTR CALLBACK SaveAsProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  static pfPreviewWin32* owner = nullptr;
  switch (message) {
    case WM_INITDIALOG: {
      owner = reinterpret_cast<pfPreviewWin32*>(lParam);
      SetDlgItemTextA(dialog, kPresetNameEdit, owner->presetName);
      HWND edit = GetDlgItem(dialog, kPresetNameEdit);
      SetFocus(edit);
      SendMessageA(edit, EM_SETSEL, 0, LPARAM(std::strlen(owner->presetName)));
      return 0;
    }
    case WM_COMMAND:
      if (!owner) return 0;
      if (LOWORD(wParam) == IDOK && HIWORD(wParam) == 0) {
        GetDlgItemTextA(dialog, kPresetNameEdit, owner->presetName, 255);
        const std::string name = ui::PresetNameFromInput(owner->presetName);
        std::strncpy(owner->presetName, name.c_str(), 254);
        owner->presetName[254] = 0;
        SetDlgItemTextA(dialog, kPresetNameEdit, owner->presetName);
        HWND panel = H(owner->interfaceWindow);
        const LRESULT listed =
            SendDlgItemMessageA(panel, kPresetList, CB_FINDSTRINGEXACT, 0, reinterpret_cast<LPARAM>(owner->presetName));
        if (listed != CB_ERR) {
          if (MessageBoxA(panel, "There already is a preset with that name.\nOverwrite it? ", "Overwrite Setting?",
                          MB_YESNO | MB_ICONQUESTION) != IDYES) {
            HWND edit = GetDlgItem(dialog, kPresetNameEdit);
            SetFocus(edit);
            SendMessageA(edit, EM_SETSEL, 0, LPARAM(std::strlen(owner->presetName)));
            return 0;
          }
          const LRESULT length = SendDlgItemMessageA(panel, kPresetList, CB_GETLBTEXTLEN, WPARAM(listed), 0);
          if (length != CB_ERR && length < 255)
            SendDlgItemMessageA(panel, kPresetList, CB_GETLBTEXT, WPARAM(listed),
                                reinterpret_cast<LPARAM>(owner->presetName));
        }
        EndDialog(dialog, 0);
        return 0;
      }
      if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == 0) {
        owner->presetName[0] = 0;
        EndDialog(dialog, 0);
      }
      return 0;
    default: return 0;
  }
}

std::string SelectedPresetName(HWND panel, bool& ok) {
  ok = false;
  const LRESULT index = SendDlgItemMessageA(panel, kPresetList, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  const LRESULT length = SendDlgItemMessageA(panel, kPresetList, CB_GETLBTEXTLEN, WPARAM(index), 0);
  if (length == CB_ERR || length >= 255) return {};
  char buffer[256] = {};
  SendDlgItemMessageA(panel, kPresetList, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(buffer));
  ok = true;
  return buffer;
}

} // namespace

// ---- the dialog object -------------------------------------------------------------------------

bool pfPreviewWin32::Show(pfFilter* filter_, FilterRecord* record, pfParameterUIList& controls_) {
  LogTrace("pfPreviewWin32::Show( pFilter(0x", HexPtr(filter_), "), pFilterRecord(0x", HexPtr(record), ") )\n");
  LogScope scope;
  filterRecord = record;
  controls = &controls_;
  filter = filter_;
  bool result = false;

  // The trackbars' class: a host has usually registered it, a test host has not.
  INITCOMMONCONTROLSEX common{};
  common.dwSize = sizeof common;
  common.dwICC = ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&common);

  HWND owner = nullptr;
  if (record && record->platformData) owner = reinterpret_cast<HWND>(static_cast<PlatformData*>(record->platformData)->hwnd);
  HWND preview = CreateDialogParamA(Instance(), MAKEINTRESOURCEA(kPreviewDialog), owner, PreviewProcedure,
                                    reinterpret_cast<LPARAM>(this));
  if (!preview) {
    LogError("Failed to create Preview Dialog. GetLastError(", uint32_t(GetLastError()), ")\n");
  } else {
    previewWindow = preview;
    HICON icon = LoadIconA(Instance(), MAKEINTRESOURCEA(kIconId));
    savedIcon = reinterpret_cast<void*>(SetClassLongPtrA(preview, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon)));
    HWND panel = CreateDialogParamA(Instance(), MAKEINTRESOURCEA(kPanelDialog), preview, UIProcedure,
                                    reinterpret_cast<LPARAM>(this));
    if (pickCursor) DestroyCursor(static_cast<HCURSOR>(pickCursor));
    pickCursor = nullptr;
    savedCursor = reinterpret_cast<void*>(GetClassLongPtrA(preview, GCLP_HCURSOR));
    if (!panel) {
      LogError("Failed to create Interface Dialog. GetLastError(", uint32_t(GetLastError()), ")\n");
      SetClassLongPtrA(preview, GCLP_HICON, reinterpret_cast<LONG_PTR>(savedIcon));
      DestroyWindow(preview);
      previewWindow = nullptr;
      interfaceWindow = nullptr;
    } else {
      interfaceWindow = panel;
      // Our own copy (not a shared resource handle), so that destroying it is ours to do.
      pickCursor = LoadImageA(Instance(), MAKEINTRESOURCEA(kPickCursorId), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE);
      FitScaleFactor();
      if (filter) {
        for (int32_t i = 0; i < filter->GetControlCount(); ++i) {
          auto* c = dynamic_cast<pfParameterUIWin32*>(filter->GetControl(i));
          if (!c) continue;
          c->SetDialog(panel);
          c->Init();
        }
        filter->undo.SetRecording(true);
      }
      UpdateSettingsList();
      LogTrace("Updated Settings List\n");
      UpdateUndoButtons();
      LogTrace("Updated Undo Buttons\n");
      ShowWindow(panel, SW_SHOW);
      ShowWindow(preview, SW_SHOW);
      LogTrace("windows up\n");
      AssignScaleFactor(requestedScale);
      LogTrace("assigned scale factor\n");
      if (filter) filter->AdaptToHostMask(record);
      LogTrace("pre show done. Going into message loop\n");
      PreviewChanged = true;
      ParameterPending = true;

      ui::RenderHooks hooks{
          [&](uint32_t level) -> int16_t {
            PreviewRenderTick = pel::platform::TickCount();
            if (PreviewRenderTick == 0) PreviewRenderTick = 1;
            ParameterPending = false;
            if (!filter || !filterRecord) return -1;
            filter->SetPreviewLevel(int32_t(level));
            return filter->RenderWatched(filterRecord);
          },
          [&] { AssignScaleFactor(requestedScale); },
          [&] {
            DrawToPreview();
            InvalidatePreviewFrame();
            UpdateWindow(H(previewWindow));
          }};
      MSG msg{};
      int r = 1;
      for (;;) {
        if (r == -1) break;
        r = GetMessageA(&msg, nullptr, 0, 0);
        if (r == -1) break;
        if (r == 0) {
          result = msg.wParam != 0;
        } else {
          for (;;) {
            if (!IsDialogMessageA(panel, &msg)) {
              TranslateMessage(&msg);
              DispatchMessageA(&msg);
            }
            if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) break;
            r = GetMessageA(&msg, nullptr, 0, 0);
            if (r == 0) result = msg.wParam != 0;
            if (r == 0 || r == -1) break;
          }
          if (r == -1) break;
        }
        if (PreviewChanged || requestedScale != currentScale) {
          if (requestedScale != currentScale) AssignScaleFactor(requestedScale);
          ui::RunRenderTurn(previewLevel, DefaultPreviewLevel, PreviewChanged, hooks);
        }
        if (r == 0) break;
      }
      if (r == -1) result = false;
      if (filter) filter->SetPreviewLevel(0);

      SetParent(preview, nullptr);
      SetClassLongPtrA(panel, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
      DestroyWindow(panel);
      interfaceWindow = nullptr;
      if (filter)
        for (int32_t i = 0; i < filter->GetControlCount(); ++i)
          if (auto* c = dynamic_cast<pfParameterUIWin32*>(filter->GetControl(i))) c->SetDialog(nullptr);
      SetClassLongPtrA(preview, GCLP_HICON, reinterpret_cast<LONG_PTR>(savedIcon));
      SetClassLongPtrA(preview, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(savedCursor));
      DestroyWindow(preview);
      previewWindow = nullptr;
    }
    if (pickCursor) DestroyCursor(static_cast<HCURSOR>(pickCursor));
    pickCursor = nullptr;
  }
  PreviewRenderTick = 0;
  colorPickTarget = nullptr;
  draggedAngle = nullptr;
  draggedPosition = nullptr;
  if (result) WriteLastUsedSettings();
  ReleasePreviewBuffer();
  PanelOwner = PreviewOwner = nullptr;
  LogTrace("pfPreviewWin32::Show( return(", result, ") )\n");
  return result;
}

void pfPreviewWin32::ReleasePreviewBuffer() {
  if (previewBuffer && filter) filter->FreeMemory(previewBuffer);
  previewBuffer = nullptr;
  imageReady = false;
  LastSetupFactor = -1;
}

void pfPreviewWin32::Invalidate() {
  PreviewChanged = true;
  ParameterPending = true;
  UpdateUndoButtons();
}

void pfPreviewWin32::UpdateUndoButtons() {
  HWND panel = H(interfaceWindow);
  if (!panel || !filter) return;
  EnableWindow(GetDlgItem(panel, kUndoButton), filter->undo.CanUndo());
  EnableWindow(GetDlgItem(panel, kRedoButton), filter->undo.CanRedo());
}

bool pfPreviewWin32::RequestScaleFactor(int32_t factor) {
  requestedScale = factor;
  if (factor != currentScale) PreviewChanged = true;
  return PreviewChanged;
}

void pfPreviewWin32::InvalidatePreviewFrame() {
  HWND window = H(previewWindow);
  if (!window) return;
  const RECT r = ItemRectInClient(window, kFrame);
  InvalidateRect(window, &r, FALSE);
}

void pfPreviewWin32::FitScaleFactor() {
  const ui::FrameGeometry frame = FrameOf(H(previewWindow));
  const int32_t n = filterRecord ? ui::FitFactor(filterRecord->imageSize.h, filterRecord->imageSize.v, frame.width,
                                                 frame.height)
                                 : 1;
  RequestScaleFactor(n);
  AssignScaleFactor(n);
}

void pfPreviewWin32::AssignScaleFactor(int32_t factor) {
  LogTrace("pfPreviewWin32::AssignScaleFactor( nFactor(", factor, ") )\n");
  LogScope scope;
  // Bounds of this implementation: at least one proxy pixel, at most 800 %.
  if (factor < -10) factor = -10;
  if (filterRecord) {
    const int32_t largest = std::max<int32_t>(1, std::max(filterRecord->imageSize.h, filterRecord->imageSize.v));
    if (factor > largest) factor = largest;
  }
  currentScale = factor;
  requestedScale = factor;
  const double r0 = displayRatio;
  const ui::Zoom zoom = ui::ComputeZoom(factor, previewLevel);
  displayRatio = zoom.displayRatio;
  if (interfaceWindow) SetDlgItemTextA(H(interfaceWindow), kZoomLabel, ui::ZoomLabelText(zoom.label).c_str());
  const ui::FrameGeometry frame = FrameOf(H(previewWindow));
  const int32_t oldW = filterRecord ? RectW(filterRecord->outRect) : 0;
  const int32_t oldH = filterRecord ? RectH(filterRecord->outRect) : 0;
  const int32_t cx = ui::ViewCentre(frame.width, r0, panX, oldW);
  const int32_t cy = ui::ViewCentre(frame.height, r0, panY, oldH);
  if (zoom.effectiveFactor == LastSetupFactor && previewBuffer) {
    if (!ParameterPending) PreviewChanged = false;
    panX = int32_t(cx - displayRatio * 0.5 * frame.width);
    panY = int32_t(cy - displayRatio * 0.5 * frame.height);
    InvalidatePreviewFrame();
    if (previewWindow) UpdateWindow(H(previewWindow));
    LogTrace("pfPreviewWin32::AssignScaleFactor( return(", 0, ") )\n");
    return;
  }
  LastSetupFactor = zoom.effectiveFactor;
  if (previewBuffer && filter) filter->FreeMemory(previewBuffer);
  previewBuffer = nullptr;
  imageReady = false;
  if (!filterRecord || !filter) return;
  if (pfFilter::SetupFilterRecord(filterRecord, uint32_t(zoom.effectiveFactor)) != 0) return;
  panX = ui::PanForCentre(cx, RectW(filterRecord->outRect), oldW, displayRatio, frame.width);
  panY = ui::PanForCentre(cy, RectH(filterRecord->outRect), oldH, displayRatio, frame.height);
  bufferStride = ui::BufferStride(RectW(filterRecord->inRect));
  bufferHeight = RectH(filterRecord->inRect);
  previewBuffer = static_cast<uint8_t*>(filter->AllocateMemory64(uint64_t(bufferStride) * uint64_t(bufferHeight) * 3));
  if (!previewBuffer) {
    LogError("Out of memory\n");
  } else {
    imageReady = false;
    Invalidate();
  }
  LogTrace("pfPreviewWin32::AssignScaleFactor( return(", 0, ") )\n");
}

void pfPreviewWin32::DrawToPreview() {
  LogTrace("pfPreviewWin32::DrawToPreview()\n");
  if (!filterRecord || !previewBuffer) return;
  if (!ui::PreviewPlanesOf(*filterRecord).valid) {
    LogError("Invalid imageMode\n");
    return;
  }
  if (!ui::DrawToPreviewBuffer(*filterRecord, previewBuffer, bufferStride, bufferHeight,
                               filterRecord->displayPixels != nullptr))
    return;
  imageReady = true;
  InvalidatePreviewFrame();
}

void pfPreviewWin32::PreviewToImagePoint(int32_t x, int32_t y, double& u, double& v) {
  const ui::FrameGeometry frame = FrameOf(H(previewWindow));
  const int32_t inW = filterRecord ? RectW(filterRecord->inRect) : 0;
  const int32_t inH = filterRecord ? RectH(filterRecord->inRect) : 0;
  ui::PreviewToImagePoint(frame, inW, inH, displayRatio, panX, panY, x, y, u, v);
}

bool pfPreviewWin32::AlternativeColorSelection(FilterRecord* record, double& red, double& green, double& blue) {
  LogTrace("pfPreviewWin32::AlternativeColorSelection( pFilterRecord(0x", HexPtr(record), "), fRed(", red,
           "), fGreen(", green, "), fBlue(", blue, ") )\n");
  LogScope scope;
  CHOOSECOLORA choose{};
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = H(interfaceWindow);
  choose.rgbResult = RGB(int(red * 255), int(green * 255), int(blue * 255));
  choose.lpCustColors = CustomColors;
  choose.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
  const bool confirmed = ChooseColorA(&choose) != 0;
  if (confirmed) {
    red = GetRValue(choose.rgbResult) * 0.00392156862745098;
    green = GetGValue(choose.rgbResult) * 0.00392156862745098;
    blue = GetBValue(choose.rgbResult) * 0.00392156862745098;
  }
  LogTrace("pfPreviewWin32::AlternativeColorSelection( return(", confirmed, ") fRed(", red, "), fGreen(", green,
           "), fBlue(", blue, ") )\n");
  return confirmed;
}

// ---- presets -----------------------------------------------------------------------------------

void pfPreviewWin32::UpdateSettingsList() {
  LogTrace("pfPreviewWin32::UpdateSettingsList()\n");
  HWND panel = H(interfaceWindow);
  bool ok = false;
  std::string remembered = panel ? SelectedPresetName(panel, ok) : std::string();
  if (panel) SendDlgItemMessageA(panel, kPresetList, CB_RESETCONTENT, 0, 0);
  std::list<std::string> names;
  if (!filter || !filter->parameters.GetSettingNames(presetPath, names, filter->GetFilterName())) presetPath.clear();
  LogTrace("m_hInterface(0x", HexPtr(panel), ")\n");
  if (!panel) return;
  EnableWindow(GetDlgItem(panel, kDeleteButton), !names.empty());
  LogTrace(names.empty() ? "disabled delete\n" : "enabled delete\n");
  EnableWindow(GetDlgItem(panel, kSaveButton), !presetPath.empty());
  EnableWindow(GetDlgItem(panel, kPresetList), !presetPath.empty());
  LogTrace(presetPath.empty() ? "disabled save and combo\n" : "enabled save and combo\n");
  for (const std::string& name : names) {
    LogTrace("about to add string: ", name, "\n");
    SendDlgItemMessageA(panel, kPresetList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  if (!remembered.empty()) {
    LogTrace("select setting: ", remembered, "\n");
    const LRESULT found =
        SendDlgItemMessageA(panel, kPresetList, CB_FINDSTRINGEXACT, 0, reinterpret_cast<LPARAM>(remembered.c_str()));
    if (found != CB_ERR) SendDlgItemMessageA(panel, kPresetList, CB_SETCURSEL, WPARAM(found), 0);
  }
}

void pfPreviewWin32::SavePresetAs() {
  HWND panel = H(interfaceWindow);
  if (!panel || !filter) return;
  presetName[0] = 0;
  GetDlgItemTextA(panel, kPresetList, presetName, 255);
  const INT_PTR ran = DialogBoxParamA(Instance(), MAKEINTRESOURCEA(kSaveAsDialog), panel, SaveAsProcedure,
                                      reinterpret_cast<LPARAM>(this));
  if (ran == -1 || presetName[0] == 0) return;
  filter->parameters.SaveSettings(presetName, presetPath, filter->GetFilterName());
  UpdateSettingsList();
  SendDlgItemMessageA(panel, kPresetList, CB_SELECTSTRING, WPARAM(-1), reinterpret_cast<LPARAM>(presetName));
}

void pfPreviewWin32::DeletePreset() {
  HWND panel = H(interfaceWindow);
  if (!panel || !filter) return;
  const LRESULT index = SendDlgItemMessageA(panel, kPresetList, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return;
  if (MessageBoxA(panel, "Really delete this preset?", "Delete Preset?", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  bool ok = false;
  const std::string name = SelectedPresetName(panel, ok);
  SendDlgItemMessageA(panel, kPresetList, CB_SETCURSEL, WPARAM(ui::NeighbourAfterDelete(int32_t(index))), 0);
  filter->parameters.DeleteSettings(name, presetPath);
  UpdateSettingsList();
  const std::string next = SelectedPresetName(panel, ok);
  if (!next.empty()) filter->parameters.LoadSettings(next, presetPath, &filter->undo);
  filter->parameters.UpdateAllUI();
  Invalidate();
}

void pfPreviewWin32::LoadSelectedPreset() {
  HWND panel = H(interfaceWindow);
  if (!panel || !filter) return;
  bool ok = false;
  const std::string name = SelectedPresetName(panel, ok);
  if (!ok) return;
  filter->parameters.LoadSettings(name, presetPath, &filter->undo);
  UpdateSettingsList();
}

void pfPreviewWin32::SetPresetPath(const std::string& path) {
  if (&path != &presetPath) presetPath = path;
  UpdateSettingsList();
  if (interfaceWindow) SendDlgItemMessageA(H(interfaceWindow), kPresetList, CB_SETCURSEL, 0, 0);
  LoadSelectedPreset();
}

void pfPreviewWin32::OnChangeSettingFile() {
  LogTrace("pfPreviewWin32::OnChangeSettingFile()\n");
  HWND panel = H(interfaceWindow);
  if (!filter) return;
  char file[256] = {};
  std::strncpy(file, presetPath.c_str(), sizeof file - 1);
  OPENFILENAMEA open{};
  open.lStructSize = sizeof open;
  open.hwndOwner = panel;
  open.lpstrFilter = "Presets File (*.cfg)\0*.cfg\0";
  open.nFilterIndex = 1;
  open.lpstrFile = file;
  open.nMaxFile = sizeof file;
  open.lpstrTitle = "Open Presets File";
  open.lpstrDefExt = "cfg";
  open.Flags = OFN_EXPLORER | OFN_LONGNAMES | OFN_ENABLESIZING | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&open)) return;
  LogTrace("Selected File(", file, ")\n");
  std::string owner = filter->GetFilterName();
  if (filter->parameters.IsSettingFileValid(file, owner)) {
    presetPath = file;
    UpdateSettingsList();
  } else if (owner != filter->GetFilterName()) {
    MessageBoxA(panel, ("The selected settings file belongs to the Filter: " + owner).c_str(), "Error",
                MB_OK | MB_ICONEXCLAMATION);
  } else {
    MessageBoxA(panel, "The file you selected is no valid Settingsfile.", "Error", MB_OK | MB_ICONEXCLAMATION);
  }
}

// ---- last used values --------------------------------------------------------------------------

void pfPreviewWin32::WriteLastUsedSettings() {
  LogTrace("pfPreviewWin32::WriteLastUsedSettings()\n");
  LogScope scope;
  pel::platform::RegistryKey key;
  if (!filter || !key.CreateForWriting(RegistryKeyPath() + ui::kLastUsedSubkey)) return;
  for (int i = 0; i < filter->parameters.GetCount(); ++i) {
    pfParameter* p = filter->parameters.GetParameter(i);
    if (!p || !p->IsSaved()) continue;
    for (const ui::NamedValue& v : ui::EncodeLastUsed(*p))
      key.Write(v.name.c_str(), v.data.type, v.data.bytes.data(), uint32_t(v.data.bytes.size()));
  }
}

void pfPreviewWin32::ReadLastUsedSettings() {
  LogTrace("pfPreviewWin32::ReadLastUsedSettings()\n");
  LogScope scope;
  pel::platform::RegistryKey key;
  if (!filter || !key.OpenForReading(RegistryKeyPath() + ui::kLastUsedSubkey)) return;
  auto lookup = [&](const std::string& name, ui::RegistryData& d) { return key.Read(name.c_str(), d.type, d.bytes, 8); };
  for (int i = 0; i < filter->parameters.GetCount(); ++i) {
    pfParameter* p = filter->parameters.GetParameter(i);
    if (p && p->IsSaved()) ui::ApplyLastUsed(*p, lookup);
  }
}

} // namespace ov
