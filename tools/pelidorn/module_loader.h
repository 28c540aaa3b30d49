// Loading the plug-in module as a host does: dlopen natively, LoadLibrary on Windows; the
// entry point is found by name, and on Windows the module's resources are read through the
// resource functions (FindResource, LoadResource, SizeofResource, LockResource).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pelidorn/plugin_host.h"

namespace pelidorn {

struct LoadedModule {
    void* handle = nullptr;
    EntryPointFn entry = nullptr;
};

// Loads the module and finds the named entry point; false with a one-line reason.
bool LoadModule(const std::string& path, const std::string& entryName, LoadedModule& module, std::string& error);
// A resource of the module by type name and id (Windows); false when absent or elsewhere.
bool ReadModuleResource(const LoadedModule& module, const char* type, int id, std::vector<uint8_t>& bytes);
// A string of the module's string table (Windows, LoadStringA); false when absent.
bool ReadModuleString(const LoadedModule& module, int id, std::string& text);
// The directory of the running program, with a trailing separator.
std::string ProgramDirectory();

}  // namespace pelidorn
