// The dialog's registry values as the panel and the preview window read them (Windows
// build): one query each into a buffer of the value's size (4 bytes for a DWORD, 1 for the
// live-preview byte, 256 for the presets path). A missing value, or one longer than the
// buffer, is not read and leaves the target as it was. An empty DWORD or live-preview byte
// is read and writes nothing, so the target keeps its starting value, and a shorter one is
// zero-extended; an empty presets path is read as "" (the string is cut at its first NUL,
// and an empty value has no bytes before one). The type it was stored with is never checked.
#pragma once

#if defined(_WIN32)

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace ov::ui {

bool ReadDword(const pel::platform::RegistryKey& key, const char* name, int32_t& value);
bool ReadByte(const pel::platform::RegistryKey& key, const char* name, uint8_t& value);
// The presets path: cut at its first NUL, refused when it does not fit 256 bytes with one.
bool ReadPath(const pel::platform::RegistryKey& key, const char* name, std::string& value);

}  // namespace ov::ui

#endif
