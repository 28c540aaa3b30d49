// host_os.h - the OS half of the host layer (private). win32/host_os_win32.cpp implements it
// with Win32, posix/host_os_posix.cpp with the C and C++ runtimes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ov::hostos {

// A locked, movable, zero-initialised global block addressed by its pointer (GlobalAlloc /
// GlobalLock in the Windows build). Null when the memory is not there.
void* GlobalBlockNew(size_t size);
// Unlocks and frees the block; false for a pointer that is not a global block.
bool GlobalBlockFree(void* block);
// Whether the pointer addresses a live global block, and its size (0 when it is none).
bool GlobalBlockIsBlock(const void* block);
size_t GlobalBlockSize(const void* block);
// Unlocks, re-allocates (movable, zero-initialised) and locks again; null on failure, the old
// block then stays valid.
void* GlobalBlockResize(void* block, size_t size);

// The module's string-table text, when the module has one (false otherwise).
bool LoadModuleStringResource(void* module, int id, size_t maxChars, std::string& text);
// The module's resource named "#<id>" of the four-character type; false when there is none.
bool LoadModuleResource(void* module, uint32_t type, int id, std::string& bytes);

// Replaces `to` by `from` in one step (rename over); false when it did not happen, and both
// files are then as they were.
bool ReplaceFileWith(const std::string& from, const std::string& to);
// The line end of a text file: "\r\n" on Windows, "\n" elsewhere.
const char* TextLineEnd();

} // namespace ov::hostos
