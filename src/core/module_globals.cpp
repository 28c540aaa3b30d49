// The module's global objects. All are defined in this one unit, so that they
// are built in the order of definition (About text, the sixteen suite holders, the registry
// key path) and destroyed in the reverse order at unload, after the objects made on first
// use (the filter object, then the logger), whose exit functions were registered later.
#include "core/module_globals.h"

#include <cstring>

namespace ov {

namespace {

constexpr const char* kHostSuiteNames[kHostSuiteCount] = {
    "AS ZString Suite",
    "bc1e4d70-f953-11d0-8d9f-00c04fd5f7ee",
    "df135115-c769-11d0-8079-00c04fd7ec47",
    "df135116-c769-11d0-8079-00c04fd7ec47",
    "df135117-c769-11d0-8079-00c04fd7ec47",
    "Photoshop Alias Utility Suite",
    "Photoshop Buffer Suite for Plug-ins",
    "Photoshop ChannelPorts Suite for Plug-ins",
    "Photoshop GetFileList Suite for Plug-ins",
    "Photoshop Handle Suite for Plug-ins",
    "Photoshop Property Suite for Plug-ins",
    "61e608b0-40fd-11d1-8da3-00c04fd5f7ee",
    "Photoshop Resource Suite for Plug-ins",
    "Photoshop UIHooks Suite for Plug-ins",
    "SP Access Suite",
    "SP Runtime Suite",
};

// Constant-initialised, so it is valid before and after every dynamic global.
HostSuiteReleaser g_releaser = nullptr;

void ReleaseHolder(HostSuiteHolder& holder) {
    // Only a filled holder is released, and only when a basic suite is known (the releaser
    // answers false without one).
    if (!holder.suite || !g_releaser) return;
    if (g_releaser(holder.name, holder.version)) {
        holder.suite = nullptr;
        holder.version = 0;
    }
}

// A holder whose destruction is its exit function (ReleaseHostSuites for that holder).
struct ExitReleasedHolder : HostSuiteHolder {
    explicit ExitReleasedHolder(const char* suiteName) { name = suiteName; }
    ~ExitReleasedHolder() { ReleaseHolder(*this); }
};

// 1. the About text
std::string g_aboutText;

// 2. the sixteen suite holders (destroyed from the last to the first)
ExitReleasedHolder g_holders[kHostSuiteCount] = {
    ExitReleasedHolder(kHostSuiteNames[0]),  ExitReleasedHolder(kHostSuiteNames[1]),
    ExitReleasedHolder(kHostSuiteNames[2]),  ExitReleasedHolder(kHostSuiteNames[3]),
    ExitReleasedHolder(kHostSuiteNames[4]),  ExitReleasedHolder(kHostSuiteNames[5]),
    ExitReleasedHolder(kHostSuiteNames[6]),  ExitReleasedHolder(kHostSuiteNames[7]),
    ExitReleasedHolder(kHostSuiteNames[8]),  ExitReleasedHolder(kHostSuiteNames[9]),
    ExitReleasedHolder(kHostSuiteNames[10]), ExitReleasedHolder(kHostSuiteNames[11]),
    ExitReleasedHolder(kHostSuiteNames[12]), ExitReleasedHolder(kHostSuiteNames[13]),
    ExitReleasedHolder(kHostSuiteNames[14]), ExitReleasedHolder(kHostSuiteNames[15]),
};

// 3. the registry key path
const std::string g_registryKeyPath = "SOFTWARE\\Ostrovanne\\Photoshop\\Pelidorn";

}  // namespace

std::string& AboutText() { return g_aboutText; }

HostSuiteHolder& GetHostSuiteHolder(int index) { return g_holders[index]; }

const char* HostSuiteName(int index) { return kHostSuiteNames[index]; }

HostSuiteHolder* FindHostSuiteHolder(const char* name) {
    if (!name) return nullptr;
    for (auto& h : g_holders)
        if (std::strcmp(h.name, name) == 0) return &h;
    return nullptr;
}

void SetHostSuiteReleaser(HostSuiteReleaser releaser) { g_releaser = releaser; }

void ReleaseHostSuites() {
    for (int i = kHostSuiteCount - 1; i >= 0; --i) ReleaseHolder(g_holders[i]);
}

const std::string& RegistryKeyPath() { return g_registryKeyPath; }

}  // namespace ov
