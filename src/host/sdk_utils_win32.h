// sdk_utils_win32.h - the Windows-only families of the host-SDK utility layer: message
// boxes from the string table, dialog items, the host program's version and global memory.
// Nothing in the system calls them; include this header only from Windows-build code.
// Window and dialog handles are passed as void* (HWND) so that the header needs no
// <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_api.h"
#include "host/sdk_utils.h"

namespace ov {

// ---- message boxes ------------------------------------------------------------------------------

// A zero alert id shows nothing and answers 0. Otherwise the string `stringId` (when
// positive; at most 255 characters) with "^1" and "^2" expanded, in a message box with the
// exclamation icon and OK (style 48), no caption, owned by `owner`; answers the box's answer.
int ShowStringTableMessage(void* owner, int alertId, int stringId, const uint8_t* arg1, const uint8_t* arg2);
// The same with the error icon (style 16) when errorIcon is 1.
int ShowStringTableMessageIcon(void* owner, int alertId, int stringId, const uint8_t* arg1, const uint8_t* arg2,
                               int errorIcon);

// Warning twins of the presence tests: true when the test passes; otherwise a message box
// (string 16993 for a newer table, else 16992 with the version text) and false.
bool CheckSuiteAvailable(const void* table);  // 2x5, "2.5"
bool WarnHostProcs3x4(const void* table);     // "3.0"
bool WarnHostProcs1x8(const void* table);     // "3.0"
bool WarnHostProcs1x2(const void* table);     // "2.5"
bool WarnHostProcs1x3(const void* table);     // "4.0"
bool WarnAdvanceState(AdvanceStateProc proc); // "3.0"
bool WarnHostProc252(const void* proc);       // "2.5.2"
bool WarnHostProc25(const void* proc);        // "2.5"
bool CheckDescriptorInterface(const PIDescriptorParameters* parameters); // "4.0"

// ---- dialog items (dialog window, item id) --------------------------------------------------------

void CenterDialog(void* dialog);
void SelectTextItem(void* dialog, int item);
void SetDefaultButton(void* dialog, int item);
void FetchText(void* dialog, int item, uint8_t* text); // at most 255 characters
// 0 an integer within [min, max], 1 outside, 2 not a number (value 0).
int ReadIntegerField(void* dialog, int item, int32_t min, int32_t max, int32_t* value);
void AlertIntegerField(void* dialog, int item, int32_t min, int32_t max, int32_t* value, bool show);
void StuffDouble(void* dialog, int item, double value, int decimals);
int ReadDecimalField(void* dialog, int item, double min, double max, double* value);
void AlertDecimalField(void* dialog, int item, double min, double max, double* value, bool show);
bool ToggleCheckBox(void* dialog, int item);
int GetRadioGroupState(void* dialog, int first, int last);
void ShowHideItem(void* dialog, int item, bool show);
void ShowItem(void* dialog, int item);
void HideItem(void* dialog, int item);
void EnableItem(void* dialog, int item);
void DisableItem(void* dialog, int item);
void SetItemEnabled(void* dialog, int item, bool enabled);
// Opens dialog 16000 of the module, owned by the About record's platform window.
void ShowSdkAbout(const AboutRecord* about);
// Its dialog procedure (an INT_PTR CALLBACK (HWND, UINT, WPARAM, LPARAM)).
intptr_t SdkAboutProcedure(void* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// ---- host program version ------------------------------------------------------------------------

// Reads the version resource of the process's main module into the record; -108 when
// memory fails, paramErr when the module has no version resource.
OSErr ReadHostVersionInfo(void* ignored, HostVersionRecord* record);
// (major * 256 + minor * 16 + fix) * 65536 + last byte when the host's code is in the
// zero-terminated list (or the code is a known one and the host's); else 0. The host-name
// match answers 0 for every host, so both answer 0.
int32_t GetHostVersion(void* ignored, const int32_t* codes);
int32_t GetHostVersionByCode(void* ignored, int32_t code);

// ---- global memory --------------------------------------------------------------------------------

// A locked, movable, zero-initialised global block addressed by its pointer.
void* NewGlobalBlock(size_t size);
void FreeGlobalBlock(void* block);
size_t GetGlobalBlockSize(const void* block);

} // namespace ov
