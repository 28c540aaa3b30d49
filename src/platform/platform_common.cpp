// pel_platform: the parts that are the same on every platform.
#include "platform/platform.h"

#include <atomic>
#include <cstdlib>

namespace pel::platform {

namespace {
std::atomic<int32_t> g_threadStartsLeft{-1};  // negative: no limit
}

void LimitThreadStartsForTesting(int32_t starts) { g_threadStartsLeft = starts < 0 ? -1 : starts; }

bool detail::TakeThreadStart() {
    int32_t left = g_threadStartsLeft.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (g_threadStartsLeft.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

bool EnvironmentVariable(const char* name, std::string* value) {
    const char* v = std::getenv(name);
    if (!v) return false;
    if (value) *value = v;
    return true;
}

void SplitPath(const std::string& path, std::string* drive, std::string* directory,
               std::string* name, std::string* extension) {
    // As _splitpath: an optional "X:" drive, the directory up to and with the last '/' or
    // '\\', the name, and the extension from the last '.' of the rest.
    size_t pos = 0;
    std::string d;
    if (path.size() >= 2 && path[1] == ':') {
        d = path.substr(0, 2);
        pos = 2;
    }
    size_t lastSep = path.find_last_of("/\\");
    std::string dir;
    if (lastSep != std::string::npos && lastSep >= pos) {
        dir = path.substr(pos, lastSep + 1 - pos);
        pos = lastSep + 1;
    }
    std::string rest = path.substr(pos);
    size_t dot = rest.find_last_of('.');
    std::string n = dot == std::string::npos ? rest : rest.substr(0, dot);
    std::string e = dot == std::string::npos ? std::string() : rest.substr(dot);
    if (drive) *drive = d;
    if (directory) *directory = dir;
    if (name) *name = n;
    if (extension) *extension = e;
}

}  // namespace pel::platform
