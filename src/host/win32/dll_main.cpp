// The module entry of the Windows build; the portable half stores the instance.
#include <windows.h>

#include "host/sdk_utils.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return ov::DllMain(instance, reason, reserved);
}
