#include "tools/pelidorn/module_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace pelidorn {

bool LoadModule(const std::string& path, const std::string& entryName, LoadedModule& module, std::string& error) {
#if defined(_WIN32)
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
        error = "cannot load the plug-in module " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    FARPROC p = GetProcAddress(h, entryName.c_str());
    if (!p) {
        error = "the plug-in module " + path + " exports no " + entryName;
        return false;
    }
    module.handle = h;
    module.entry = reinterpret_cast<EntryPointFn>(reinterpret_cast<void*>(p));
#else
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        error = "cannot load the plug-in module (" + std::string(why ? why : path) + ")";
        return false;
    }
    void* p = dlsym(h, entryName.c_str());
    if (!p) {
        error = "the plug-in module " + path + " exports no " + entryName;
        return false;
    }
    module.handle = h;
    module.entry = reinterpret_cast<EntryPointFn>(p);
#endif
    return true;
}

bool ReadModuleResource(const LoadedModule& module, const char* type, int id, std::vector<uint8_t>& bytes) {
#if defined(_WIN32)
    HMODULE h = static_cast<HMODULE>(module.handle);
    HRSRC r = FindResourceA(h, MAKEINTRESOURCEA(id), type);
    if (!r) return false;
    const DWORD size = SizeofResource(h, r);
    HGLOBAL g = LoadResource(h, r);
    const void* p = g ? LockResource(g) : nullptr;
    if (!p) return false;
    bytes.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
    return true;
#else
    (void)module, (void)type, (void)id, (void)bytes;
    return false;
#endif
}

bool ReadModuleString(const LoadedModule& module, int id, std::string& text) {
#if defined(_WIN32)
    char buffer[1024];
    const int n = LoadStringA(static_cast<HMODULE>(module.handle), UINT(id), buffer, sizeof buffer);
    if (n <= 0) return false;
    text.assign(buffer, size_t(n));
    return true;
#else
    (void)module, (void)id, (void)text;
    return false;
#endif
}

std::string ProgramDirectory() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    const size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : s.substr(0, slash + 1);
#else
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "./";
    std::string s(path, size_t(n));
    const size_t slash = s.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : s.substr(0, slash + 1);
#endif
}

}  // namespace pelidorn
