// The dialog's registry values: one query into a buffer of the value's size, then the
// decoding shared with the native build.
#include "ui/registry_values_win32.h"

#include "ui/preview_logic.h"

namespace ov::ui {

bool ReadDword(const pel::platform::RegistryKey& key, const char* name, int32_t& value) {
  RegistryData d;
  return key.Read(name, d.type, d.bytes, 4) && DecodeDword(d, value);
}

bool ReadByte(const pel::platform::RegistryKey& key, const char* name, uint8_t& value) {
  RegistryData d;
  return key.Read(name, d.type, d.bytes, 1) && DecodeBinary(d, 1, &value);
}

bool ReadPath(const pel::platform::RegistryKey& key, const char* name, std::string& value) {
  RegistryData d;
  return key.Read(name, d.type, d.bytes, kPresetPathBytes) && DecodeString(d, kPresetPathBytes, value);
}

}  // namespace ov::ui
