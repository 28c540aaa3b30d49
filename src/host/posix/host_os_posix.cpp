// The host layer's OS half without Win32: heap blocks that keep the global-block contract
// (zero-initialised, size known, validity checkable), no module resources, rename(2).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "host/host_os.h"

namespace ov::hostos {

namespace {
// Live blocks and their sizes: a pointer that is not here is not a global block.
std::unordered_map<const void*, size_t>& Blocks() {
  static std::unordered_map<const void*, size_t> blocks;
  return blocks;
}
} // namespace

void* GlobalBlockNew(size_t size) {
  void* p = std::calloc(1, size ? size : 1);
  if (p) Blocks()[p] = size;
  return p;
}

bool GlobalBlockFree(void* block) {
  if (Blocks().erase(block) == 0) return false;
  std::free(block);
  return true;
}

bool GlobalBlockIsBlock(const void* block) { return Blocks().count(block) != 0; }

size_t GlobalBlockSize(const void* block) {
  auto it = Blocks().find(block);
  return it == Blocks().end() ? 0 : it->second;
}

void* GlobalBlockResize(void* block, size_t size) {
  auto it = Blocks().find(block);
  if (it == Blocks().end()) return nullptr;
  const size_t old = it->second;
  void* p = std::realloc(block, size ? size : 1);
  if (!p) return nullptr;
  Blocks().erase(it);
  if (size > old) std::memset(static_cast<char*>(p) + old, 0, size - old);
  Blocks()[p] = size;
  return p;
}

bool LoadModuleStringResource(void*, int, size_t, std::string&) { return false; }

bool LoadModuleResource(void*, uint32_t, int, std::string&) { return false; }

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

const char* TextLineEnd() { return "\n"; }

} // namespace ov::hostos
