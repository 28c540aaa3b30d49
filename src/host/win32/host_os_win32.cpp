// The host layer's OS half with Win32: global memory, the module's string table and
// resources, MoveFileEx.
#include <windows.h>

#include <unordered_set>

#include "host/host_os.h"

namespace ov::hostos {

namespace {
constexpr UINT kFlags = GMEM_MOVEABLE | GMEM_ZEROINIT; // 66

// A movable block of 0 bytes is born discarded and cannot be locked, so an empty block is
// one byte long and remembered here as empty.
std::unordered_set<const void*>& EmptyBlocks() {
  static std::unordered_set<const void*> blocks;
  return blocks;
}
} // namespace

void* GlobalBlockNew(size_t size) {
  HGLOBAL h = GlobalAlloc(kFlags, size ? size : 1);
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!p) GlobalFree(h);
  else if (size == 0) EmptyBlocks().insert(p);
  return p;
}

bool GlobalBlockFree(void* block) {
  HGLOBAL h = block ? GlobalHandle(block) : nullptr;
  if (!h) return false;
  EmptyBlocks().erase(block);
  GlobalUnlock(h);
  return GlobalFree(h) == nullptr;
}

bool GlobalBlockIsBlock(const void* block) { return block && GlobalHandle(block) != nullptr; }

size_t GlobalBlockSize(const void* block) {
  HGLOBAL h = block ? GlobalHandle(block) : nullptr;
  return h && !EmptyBlocks().count(block) ? GlobalSize(h) : 0;
}

void* GlobalBlockResize(void* block, size_t size) {
  HGLOBAL h = block ? GlobalHandle(block) : nullptr;
  if (!h) return nullptr;
  GlobalUnlock(h);
  HGLOBAL resized = GlobalReAlloc(h, size ? size : 1, kFlags);
  if (!resized) {
    GlobalLock(h);
    return nullptr;
  }
  void* p = GlobalLock(resized);
  EmptyBlocks().erase(block);
  if (p && size == 0) EmptyBlocks().insert(p);
  return p;
}

bool LoadModuleStringResource(void* module, int id, size_t maxChars, std::string& text) {
  char buffer[1024];
  if (maxChars >= sizeof(buffer)) maxChars = sizeof(buffer) - 1;
  const int n = LoadStringA(static_cast<HINSTANCE>(module), UINT(id), buffer, int(maxChars + 1));
  if (n <= 0) return false;
  text.assign(buffer, size_t(n));
  return true;
}

bool LoadModuleResource(void* module, uint32_t type, int id, std::string& bytes) {
  char typeName[5] = {char(type >> 24), char(type >> 16), char(type >> 8), char(type), 0};
  const std::string name = "#" + std::to_string(id);
  HMODULE m = static_cast<HMODULE>(module);
  HRSRC r = FindResourceA(m, name.c_str(), typeName);
  if (!r) return false;
  HGLOBAL g = LoadResource(m, r);
  const void* data = g ? LockResource(g) : nullptr;
  if (!data) return false;
  bytes.assign(static_cast<const char*>(data), SizeofResource(m, r));
  return true;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

const char* TextLineEnd() { return "\r\n"; }

} // namespace ov::hostos
