// The per-user settings store of the Windows build (the registry under HKEY_CURRENT_USER).
// The native build has none and does not declare these. Reading never trusts the stored
// data: it answers the value's type and bytes, refusing values larger than the caller's
// limit; callers check the size (and a string's terminator) before using them, not the
// type, so that a value stored with another type is still read by its bytes.
#pragma once

#if defined(_WIN32)

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pel::platform {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens an existing key of the current user for reading.
    bool OpenForReading(const std::string& path);
    // Opens or creates a key of the current user for writing (non-volatile).
    bool CreateForWriting(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // The raw value: its type (1 string, 3 binary, 4 DWORD) and bytes. False when absent or
    // larger than maxBytes.
    bool Read(const char* name, uint32_t& type, std::vector<uint8_t>& bytes, size_t maxBytes) const;
    bool Write(const char* name, uint32_t type, const void* data, uint32_t size) const;

private:
    void* handle_ = nullptr;
};

// Removes a key of the current user with everything below it (tests start from no settings).
bool RegistryDeleteTree(const std::string& path);

}  // namespace pel::platform

#endif
