// The module's global objects, built at load in this order: the About text, the
// sixteen host-suite holders, RegistryKeyPath; destroyed in the reverse order, after the
// objects made on first use (the filter object, then the logger).
#pragma once

#include <cstdint>
#include <string>

namespace ov {

// Empty until the About box fills it.
std::string& AboutText();

// One acquired host suite. The holder's exit function releases it through the releaser.
struct HostSuiteHolder {
    const void* suite = nullptr;   // null: empty
    int32_t version = 0;
    const char* name = "";
};
constexpr int kHostSuiteCount = 16;
// The holders in order: "AS ZString Suite" .. "SP Runtime Suite".
HostSuiteHolder& GetHostSuiteHolder(int index);
const char* HostSuiteName(int index);
// Finds the holder of a suite name; null when the name is not one of the sixteen.
HostSuiteHolder* FindHostSuiteHolder(const char* name);

// How a holder gives its suite back at unload: the host adapter installs a function that
// calls the host basic suite's release operation with (name, version) and answers true, or
// answers false when no basic suite is known. Without one nothing is released.
using HostSuiteReleaser = bool (*)(const char* name, int32_t version);
void SetHostSuiteReleaser(HostSuiteReleaser releaser);
// Releases every filled holder, from the last to the first, and marks them empty
// (what the exit functions do at unload).
void ReleaseHostSuites();

// "SOFTWARE\Ostrovanne\Photoshop\Pelidorn" (under the current user).
const std::string& RegistryKeyPath();

}  // namespace ov
