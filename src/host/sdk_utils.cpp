// The host-SDK utility layer, portable half. See sdk_utils.h for the contracts.
#include "host/sdk_utils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/module_globals.h"
#include "host/host_os.h"
#include "host/string_table.h"
#include "platform/platform.h"

namespace ov {

namespace {
void* g_moduleInstance = nullptr;
OSErr g_lastHandleError = noErr;

FallbackHandleRecord* Record(Handle handle) { return reinterpret_cast<FallbackHandleRecord*>(handle); }

int PLength(const uint8_t* s) { return s ? std::min<int>(s[0], kPStringMax) : 0; }
void PTerminate(uint8_t* s) { s[int(s[0]) + 1] = 0; }
} // namespace

// ---- module ------------------------------------------------------------------------------------

int32_t DllMain(void* instance, uint32_t, void*) {
  g_moduleInstance = instance;
  pel::platform::SetModuleHandle(instance);
  return 1;
}

void* GetModuleInstance() { return g_moduleInstance; }

void* GetPluginInstance(void* plugInRef) {
  if (!plugInRef) return g_moduleInstance;
  HostSuiteHolder* holder = FindHostSuiteHolder(PEL_ACCESS_SUITE_NAME);
  if (holder && !holder->suite) {
    if (!HostBasicSuite || !HostBasicSuite->AcquireSuite) throw HostSuiteError{int32_t(FourCC("mraP"))};
    const void* suite = nullptr;
    const SPErr error = HostBasicSuite->AcquireSuite(PEL_ACCESS_SUITE_NAME, kSPAccessSuiteVersion3, &suite);
    if (error) throw HostSuiteError{error};
    if (!suite) throw HostSuiteError{int32_t(FourCC("mraP"))};
    holder->suite = suite;
    holder->version = kSPAccessSuiteVersion3;
  }
  const auto* access = holder ? static_cast<const SPAccessSuite*>(holder->suite) : nullptr;
  SPAccessRef ref = nullptr;
  if (!access || !access->GetPluginAccess || access->GetPluginAccess(static_cast<SPPluginRef>(plugInRef), &ref) ||
      !ref)
    return g_moduleInstance;
  SPPlatformAccessInfo info{};
  if (!access->GetAccessInfo || access->GetAccessInfo(ref, &info)) return g_moduleInstance;
  g_moduleInstance = info.resourceAccess ? info.resourceAccess : info.defaultModule;
  return g_moduleInstance;
}

void ReleaseAllSuites() {
  // Holder order of this layer (by the holders' addresses in the module).
  static const char* const kOrder[] = {
      "df135115-c769-11d0-8079-00c04fd7ec47",      "bc1e4d70-f953-11d0-8d9f-00c04fd5f7ee",
      "df135117-c769-11d0-8079-00c04fd7ec47",      "df135116-c769-11d0-8079-00c04fd7ec47",
      "61e608b0-40fd-11d1-8da3-00c04fd5f7ee",      "Photoshop Handle Suite for Plug-ins",
      "Photoshop UIHooks Suite for Plug-ins",      "AS ZString Suite",
      "SP Access Suite",                           "Photoshop GetFileList Suite for Plug-ins",
      "Photoshop Buffer Suite for Plug-ins",       "Photoshop ChannelPorts Suite for Plug-ins",
      "SP Runtime Suite",                          "Photoshop Property Suite for Plug-ins",
      "Photoshop Alias Utility Suite",             "Photoshop Resource Suite for Plug-ins"};
  for (const char* name : kOrder) {
    HostSuiteHolder* holder = FindHostSuiteHolder(name);
    if (!holder || !holder->suite) continue;
    ReleaseThroughHostBasicSuite(holder->name, holder->version);
    holder->suite = nullptr;
  }
}

bool ReleaseThroughHostBasicSuite(const char* name, int32_t version) {
  if (!HostBasicSuite || !HostBasicSuite->ReleaseSuite) return false;
  HostBasicSuite->ReleaseSuite(name, version);
  return true;
}

// ---- presence tests ------------------------------------------------------------------------------

bool IsAdvanceStateAvailable(AdvanceStateProc proc) { return proc != nullptr; }

bool IsDescriptorInterfaceValid(const PIDescriptorParameters* p) {
  if (!p || p->descriptorParametersVersion != kCurrentDescriptorParametersVersion) return false;
  const ReadDescriptorProcs* r = p->readDescriptorProcs;
  const WriteDescriptorProcs* w = p->writeDescriptorProcs;
  if (!r || !w) return false;
  if (r->readDescriptorProcsVersion != kCurrentReadDescriptorProcsVersion ||
      r->numReadDescriptorProcs < kCurrentReadDescriptorProcsCount)
    return false;
  if (w->writeDescriptorProcsVersion != kCurrentWriteDescriptorProcsVersion ||
      w->numWriteDescriptorProcs < kCurrentWriteDescriptorProcsCount)
    return false;
  return r->openReadDescriptorProc && r->closeReadDescriptorProc && r->getKeyProc && r->getIntegerProc &&
         r->getFloatProc && r->getUnitFloatProc && r->getBooleanProc && r->getTextProc && r->getAliasProc &&
         r->getEnumeratedProc && r->getClassProc && r->getSimpleReferenceProc && r->getObjectProc &&
         r->getCountProc && r->getStringProc && r->getPinnedIntegerProc && r->getPinnedFloatProc &&
         r->getPinnedUnitFloatProc;
}

bool IsPlayInfoDialog(const PIDescriptorParameters* p) { return p && p->playInfo == plugInDialogDisplay; }

HostProcPresence TestHostProcs(const void* table, int16_t version, int16_t count, int required) {
  if (!table) return HostProcPresence::Absent;
  const auto* view = static_cast<const HostProcTableView*>(table);
  if (view->version < version) return HostProcPresence::OlderVersion;
  if (view->version > version) return HostProcPresence::NewerVersion;
  if (view->count < count) return HostProcPresence::Missing;
  const auto* procs = reinterpret_cast<void (*const*)(void)>(static_cast<const char*>(table) +
                                                              offsetof(HostProcTableView, procs));
  for (int i = 0; i < required; ++i)
    if (!procs[i]) return HostProcPresence::Missing;
  return HostProcPresence::Present;
}

namespace {
bool HasProcs(const void* table, int16_t version, int16_t count, int required, bool* newer) {
  const HostProcPresence p = TestHostProcs(table, version, count, required);
  if (p == HostProcPresence::NewerVersion && newer) *newer = true;
  return p == HostProcPresence::Present;
}
} // namespace

bool HasHostProcs2x5(const void* t, bool* newer) { return HasProcs(t, 2, 5, 5, newer); }
bool HasHostProcs3x4(const void* t, bool* newer) { return HasProcs(t, 3, 4, 4, newer); }
bool HasHostProcs1x8(const void* t, bool* newer) { return HasProcs(t, 1, 8, 4, newer); }
bool HasHostProcs1x2(const void* t, bool* newer) { return HasProcs(t, 1, 2, 2, newer); }
bool HasHostProcs1x3(const void* t, bool* newer) { return HasProcs(t, 1, 3, 3, newer); }
bool HasHostProc(const void* proc) { return proc != nullptr; }

std::string HostVersionText(double version, bool dottedFix) {
  uint8_t text[256];
  DoubleToPString(text, version, dottedFix ? 3 : 1);
  std::string s(reinterpret_cast<const char*>(text + 1), text[0]);
  if (dottedFix && s.size() > 3) s[3] = '.';
  return s;
}

// ---- scripting descriptor ----------------------------------------------------------------------

bool HandleProcsUsable(const HandleProcs* procs) {
  return procs && procs->handleProcsVersion == kCurrentHandleProcsVersion &&
         procs->numHandleProcs >= kCurrentHandleProcsCount && procs->newProc && procs->disposeProc &&
         procs->getSizeProc && procs->setSizeProc;
}

void DisposeHostHandle(const HandleProcs* procs, Handle handle) {
  if (HandleProcsUsable(procs)) procs->disposeProc(handle);
  else DisposeHandleFallback(handle);
}

OSErr CloseReadDescriptor(PIDescriptorParameters* p, const HandleProcs* procs, PIReadDescriptor& token) {
  OSErr error = noErr;
  if (p && p->readDescriptorProcs && p->readDescriptorProcs->closeReadDescriptorProc)
    error = p->readDescriptorProcs->closeReadDescriptorProc(token);
  if (p) {
    DisposeHostHandle(procs, p->descriptor);
    p->descriptor = nullptr;
  }
  token = nullptr;
  return error;
}

OSErr CloseWriteDescriptor(PIDescriptorParameters* p, const HandleProcs* procs, PIWriteDescriptor& token) {
  if (!p) {
    token = nullptr;
    return noErr;
  }
  if (p->descriptor) {
    DisposeHostHandle(procs, p->descriptor);
    p->descriptor = nullptr;
  }
  PIDescriptorHandle created = nullptr;
  if (p->writeDescriptorProcs && p->writeDescriptorProcs->closeWriteDescriptorProc)
    p->writeDescriptorProcs->closeWriteDescriptorProc(token, &created); // its error is not passed on
  p->recordInfo = plugInDialogOptional;
  p->descriptor = created;
  token = nullptr;
  return noErr;
}

OSErr PutObjectAndDispose(PIDescriptorParameters* p, const HandleProcs* procs, PIWriteDescriptor token,
                          DescriptorKeyID key, DescriptorTypeID type, PIDescriptorHandle& object) {
  if (!p || !p->writeDescriptorProcs || !p->writeDescriptorProcs->putObjectProc) return paramErr;
  const OSErr error = p->writeDescriptorProcs->putObjectProc(token, key, type, object);
  if (error) return error;
  DisposeHostHandle(procs, object);
  object = nullptr;
  return noErr;
}

// ---- fallback handles ------------------------------------------------------------------------------

Handle NewHandleFallback(int32_t size) {
  g_lastHandleError = noErr;
  auto* record = static_cast<FallbackHandleRecord*>(hostos::GlobalBlockNew(sizeof(FallbackHandleRecord)));
  void* data = record ? hostos::GlobalBlockNew(size_t(std::max(size, int32_t(0)))) : nullptr;
  if (!record || !data) {
    if (record) hostos::GlobalBlockFree(record);
    g_lastHandleError = memFullErr;
    return nullptr;
  }
  record->data = data;
  std::memcpy(record->tag, "OTOF", 4);
  return reinterpret_cast<Handle>(record);
}

int32_t GetHandleSizeFallback(Handle handle) {
  g_lastHandleError = noErr;
  if (!handle || !hostos::GlobalBlockIsBlock(Record(handle)->data)) {
    g_lastHandleError = nilHandleErr;
    return 0;
  }
  return int32_t(hostos::GlobalBlockSize(Record(handle)->data));
}

void SetHandleSizeFallback(Handle handle, int32_t size) {
  g_lastHandleError = noErr;
  if (!handle) {
    g_lastHandleError = memWZErr;
    return;
  }
  FallbackHandleRecord* record = Record(handle);
  void* resized = record->data ? hostos::GlobalBlockResize(record->data, size_t(std::max(size, int32_t(0))))
                               : hostos::GlobalBlockNew(size_t(std::max(size, int32_t(0))));
  if (!resized) {
    g_lastHandleError = memFullErr;
    return;
  }
  record->data = resized;
}

OSErr DisposeHandleFallback(Handle handle) {
  g_lastHandleError = noErr;
  if (!handle) {
    g_lastHandleError = nilHandleErr;
    return nilHandleErr;
  }
  FallbackHandleRecord* record = Record(handle);
  if (record->data) hostos::GlobalBlockFree(record->data);
  hostos::GlobalBlockFree(record);
  return noErr;
}

OSErr GetLastHandleError() { return g_lastHandleError; }

Handle DuplicateHandleFallback(Handle handle) {
  const int32_t size = GetHandleSizeFallback(handle);
  if (g_lastHandleError) return nullptr;
  Handle copy = NewHandleFallback(size);
  if (copy && size) std::memcpy(*copy, *handle, size_t(size));
  return copy;
}

void* DerefHandle(Handle handle) { return handle ? *handle : nullptr; }

// ---- handle procedures with the fallback -------------------------------------------------------

Handle HostNewHandle(const HandleProcs* procs, int32_t size) {
  return HandleProcsUsable(procs) ? procs->newProc(size) : NewHandleFallback(size);
}

int32_t HostGetHandleSize(const HandleProcs* procs, Handle handle) {
  return HandleProcsUsable(procs) ? procs->getSizeProc(handle) : GetHandleSizeFallback(handle);
}

OSErr HostSetHandleSize(const HandleProcs* procs, Handle handle, int32_t size) {
  if (HandleProcsUsable(procs)) procs->setSizeProc(handle, size);
  else SetHandleSizeFallback(handle, size);
  return noErr;
}

// A fallback handle's data block stays locked for its whole life: locking answers it.
Ptr HostLockHandle(const HandleProcs* procs, Handle handle, Boolean moveHigh) {
  if (HandleProcsUsable(procs) && procs->lockProc) return procs->lockProc(handle, moveHigh);
  return static_cast<Ptr>(DerefHandle(handle));
}

void HostUnlockHandle(const HandleProcs* procs, Handle handle) {
  if (HandleProcsUsable(procs) && procs->unlockProc) procs->unlockProc(handle);
}

OSErr HostAppendHandle(const HandleProcs* procs, Handle* destination, Handle source) {
  if (!destination) return paramErr;
  const int32_t add = source ? HostGetHandleSize(procs, source) : 0;
  if (!*destination) {
    *destination = HostNewHandle(procs, add);
    if (*destination && add) {
      std::memcpy(HostLockHandle(procs, *destination, 0), HostLockHandle(procs, source, 0), size_t(add));
      HostUnlockHandle(procs, source);
      HostUnlockHandle(procs, *destination);
    }
    return noErr;
  }
  if (add <= 0) return noErr;
  const int32_t old = HostGetHandleSize(procs, *destination);
  HostSetHandleSize(procs, *destination, old + add);
  if (HostGetHandleSize(procs, *destination) < old + add) return noErr; // the resize failed
  std::memcpy(HostLockHandle(procs, *destination, 0) + old, HostLockHandle(procs, source, 0), size_t(add));
  HostUnlockHandle(procs, source);
  HostUnlockHandle(procs, *destination);
  return noErr;
}

namespace {
Handle BytesToHandle(const HandleProcs* procs, const void* bytes, size_t size) {
  Handle h = HostNewHandle(procs, int32_t(size));
  if (h && size) {
    std::memcpy(HostLockHandle(procs, h, 0), bytes, size);
    HostUnlockHandle(procs, h);
  }
  return h;
}
} // namespace

Handle HostResourceToHandle(const HandleProcs* procs, OSType type, int16_t id, int32_t* size) {
  if (size) *size = 0;
  std::string bytes;
  if (type == FourCC("STR ")) {
    const std::string text = LoadModuleString(id, 255);
    if (text.empty()) return nullptr;
    bytes.push_back(char(text.size()));
    bytes += text;
    bytes.push_back(0);
  } else if (!hostos::LoadModuleResource(g_moduleInstance, type, id, bytes)) {
    return nullptr;
  }
  Handle h = BytesToHandle(procs, bytes.data(), bytes.size());
  if (h && size) *size = int32_t(bytes.size());
  return h;
}

void HostGetStringResource(const HandleProcs* procs, int16_t id, uint8_t* text) {
  text[0] = 0;
  text[1] = 0;
  int32_t size = 0;
  Handle h = HostResourceToHandle(procs, FourCC("STR "), id, &size);
  if (!h) return;
  const auto* data = reinterpret_cast<const uint8_t*>(HostLockHandle(procs, h, 0));
  const int n = std::min<int>(data[0], kPStringMax);
  std::memcpy(text + 1, data + 1, size_t(n));
  text[0] = uint8_t(n);
  PTerminate(text);
  HostUnlockHandle(procs, h);
  DisposeHostHandle(procs, h);
}

void HostHandleToCString(const HandleProcs* procs, Handle handle, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return;
  const int32_t n = handle ? std::min(HostGetHandleSize(procs, handle), size - 1) : 0;
  if (n > 0) {
    std::memcpy(buffer, HostLockHandle(procs, handle, 0), size_t(n));
    HostUnlockHandle(procs, handle);
  }
  buffer[std::max(n, int32_t(0))] = 0;
}

Handle HostCStringToHandle(const HandleProcs* procs, const char* text) {
  return BytesToHandle(procs, text, size_t(CStringLength(text)));
}

Handle HostPStringToHandle(const HandleProcs* procs, const uint8_t* text) {
  return BytesToHandle(procs, text ? text + 1 : nullptr, size_t(text ? text[0] : 0));
}

void HostHandleToPString(const HandleProcs* procs, Handle handle, uint8_t* text) {
  const int32_t n = handle ? std::min<int32_t>(HostGetHandleSize(procs, handle), kPStringMax) : 0;
  if (n > 0) {
    std::memcpy(text + 1, HostLockHandle(procs, handle, 0), size_t(n));
    HostUnlockHandle(procs, handle);
  }
  text[0] = uint8_t(std::max(n, int32_t(0)));
  PTerminate(text);
}

void HostReadVersionHandle(const HandleProcs* procs, Handle handle, int32_t* a, int32_t* b, int32_t* c) {
  int32_t v[3] = {0, 0, 0};
  if (handle && HostGetHandleSize(procs, handle) >= 12) {
    const auto* d = reinterpret_cast<const uint8_t*>(HostLockHandle(procs, handle, 0));
    for (int i = 0; i < 3; ++i)
      v[i] = int32_t((uint32_t(d[4 * i]) << 24) | (uint32_t(d[4 * i + 1]) << 16) | (uint32_t(d[4 * i + 2]) << 8) |
                     uint32_t(d[4 * i + 3]));
    HostUnlockHandle(procs, handle);
  }
  if (a) *a = v[0];
  if (b) *b = v[1];
  if (c) *c = v[2];
}

void HostVersionHandleToString(const HandleProcs* procs, Handle handle, uint8_t* text) {
  int32_t a, b, c;
  HostReadVersionHandle(procs, handle, &a, &b, &c);
  const std::string s = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
  CStringToPString(s.c_str(), text);
}

void* AllocateGlobalsBlock(int16_t* result, void* parameterBlock, const HandleProcs* procs, int32_t size,
                           Handle* handle, GlobalsInitialiser initialiser) {
  if (!handle || size < int32_t(2 * sizeof(void*))) {
    if (result) *result = paramErr;
    return nullptr;
  }
  bool created = false;
  if (!*handle) {
    *handle = HostNewHandle(procs, size);
    created = true;
  }
  if (!*handle) {
    if (result) *result = memFullErr;
    return nullptr;
  }
  void* block = HostLockHandle(procs, *handle, 1);
  if (!block) {
    if (result) *result = memFullErr;
    return nullptr;
  }
  if (created && initialiser) initialiser(block);
  void* addresses[2] = {result, parameterBlock};
  std::memcpy(block, addresses, sizeof(addresses));
  if (result) *result = noErr;
  return block;
}

OSErr AllocateRowBuffer(const BufferProcs* procs, int32_t rowBytes, int32_t minRows, int32_t maxRows,
                        int32_t divisor, int32_t* rows, BufferID* buffer) {
  if (rows) *rows = 0;
  if (buffer) *buffer = nullptr;
  if (rowBytes == 0 || divisor == 0) return paramErr;
  const bool usable = HasHostProcs2x5(procs);
  const int32_t space = usable ? procs->spaceProc() : 0;
  int32_t count = std::min(space / divisor / rowBytes, maxRows) + 1;
  OSErr error = noErr;
  while (count > minRows) {
    --count;
    BufferID id = nullptr;
    error = usable ? procs->allocateProc(count * rowBytes, &id) : memFullErr;
    if (usable && error == noErr && id) {
      if (rows) *rows = count;
      if (buffer) *buffer = id;
      return noErr;
    }
  }
  return error;
}

// ---- module strings ----------------------------------------------------------------------------------

std::string LoadModuleString(int id, size_t maxChars) {
  std::string text;
  if (hostos::LoadModuleStringResource(g_moduleInstance, id, maxChars, text)) return text;
  text = ModuleStringText(id);
  if (text.size() > maxChars) text.resize(maxChars);
  return text;
}

// ---- length-prefixed strings and numbers ---------------------------------------------------------

void ExpandPlaceholders(uint8_t* text, const uint8_t* arg0, const uint8_t* arg1, const uint8_t* arg2) {
  if (!text) return;
  const uint8_t* args[3] = {arg0, arg1, arg2};
  std::string out;
  const int n = PLength(text);
  for (int i = 1; i <= n; ++i) {
    const uint8_t c = text[i];
    if (c == '^' && i < n && text[i + 1] >= '0' && text[i + 1] <= '2') {
      const uint8_t* a = args[text[i + 1] - '0'];
      if (a) out.append(reinterpret_cast<const char*>(a + 1), size_t(PLength(a)));
      ++i;
    } else {
      out.push_back(char(c));
    }
  }
  if (out.size() > size_t(kPStringMax)) out.resize(kPStringMax);
  text[0] = uint8_t(out.size());
  std::memcpy(text + 1, out.data(), out.size());
  PTerminate(text);
}

void AppendToPString(uint8_t* destination, const uint8_t* source, int start, int count) {
  if (!destination || !source || start < 0 || count <= 0) return;
  int n = PLength(destination);
  for (int i = 0; i < count && n < kPStringMax; ++i) destination[++n] = source[start + i];
  destination[0] = uint8_t(n);
  PTerminate(destination);
}

void AppendCharToPString(uint8_t* destination, char c) {
  const uint8_t one = uint8_t(c);
  AppendToPString(destination, &one, 0, 1);
}

void AppendPString(uint8_t* destination, const uint8_t* source) {
  if (source) AppendToPString(destination, source + 1, 0, PLength(source));
}

void PrependPString(uint8_t* destination, const uint8_t* source) {
  if (!destination || !source) return;
  std::string s(reinterpret_cast<const char*>(source + 1), size_t(PLength(source)));
  s.append(reinterpret_cast<const char*>(destination + 1), size_t(PLength(destination)));
  CStringToPString(s.c_str(), destination); // no embedded zeros in the string routines
}

OSErr CopyPString(uint8_t*, const uint8_t*) { return errReportString; }

void PStringToCString(const uint8_t* source, char* destination) {
  if (!destination) return;
  const int n = PLength(source);
  if (n) std::memcpy(destination, source + 1, size_t(n));
  destination[n] = 0;
}

void CStringToPString(const char* source, uint8_t* destination) {
  if (!destination) return;
  const int n = std::min<int>(CStringLength(source), kPStringMax);
  if (n) std::memcpy(destination + 1, source, size_t(n));
  destination[0] = uint8_t(n);
  PTerminate(destination);
}

int32_t CStringLength(const char* text) {
  if (!text) return 0;
  int32_t n = 0;
  while (n < 32767 && text[n]) ++n;
  return n;
}

void CStringAppend(char* destination, const char* source) {
  if (!destination || !source) return;
  int32_t n = CStringLength(destination);
  for (int32_t i = 0; source[i] && n < 32767; ++i) destination[n++] = source[i];
  destination[n] = 0;
}

namespace {
// Parses [blanks][-]digits[blanks] from s[0..n); 0 none, 1 positive, 2 negative.
int ParseInteger(const uint8_t* s, int n, int32_t* value) {
  int i = 0;
  while (i < n && s[i] == ' ') ++i;
  bool negative = false;
  if (i < n && s[i] == '-') {
    negative = true;
    ++i;
  }
  int64_t v = 0;
  int digits = 0;
  while (i < n && s[i] >= '0' && s[i] <= '9') {
    if (digits < 10) v = v * 10 + (s[i] - '0');
    ++digits;
    ++i;
  }
  while (i < n && s[i] == ' ') ++i;
  if (digits == 0 || i != n) return 0;
  if (digits > 9) v = 2147483647;
  else if (negative) v = -v;
  if (value) *value = int32_t(v);
  return negative ? 2 : 1;
}
} // namespace

int PStringToNumber(const uint8_t* text, int32_t* value) {
  if (!text) return 0;
  return ParseInteger(text + 1, PLength(text), value);
}

int SplitDecimalPart(const uint8_t* text, uint8_t* whole, uint8_t* fraction) {
  const int n = PLength(text);
  int split = 0;
  for (int i = n; i >= 1; --i)
    if (text[i] == '.' || text[i] == ',') {
      split = i;
      break;
    }
  const int wholeEnd = split ? split - 1 : n;
  if (whole) {
    whole[0] = uint8_t(wholeEnd);
    if (wholeEnd) std::memcpy(whole + 1, text + 1, size_t(wholeEnd));
    PTerminate(whole);
  }
  if (fraction) {
    const int f = split ? n - split : 0;
    fraction[0] = uint8_t(f);
    if (f) std::memcpy(fraction + 1, text + split + 1, size_t(f));
    PTerminate(fraction);
  }
  return split;
}

int PStringToDouble(const uint8_t* text, double* value) {
  if (!text) return 0;
  uint8_t whole[256], fraction[256];
  const int split = SplitDecimalPart(text, whole, fraction);
  int32_t w = 0;
  int kind = ParseInteger(whole + 1, whole[0], &w);
  bool negative = kind == 2;
  if (kind == 0) {
    // An empty or sign-only whole part is allowed in front of a fraction (".5", "-.5").
    int i = 1;
    while (i <= whole[0] && whole[i] == ' ') ++i;
    if (i <= whole[0] && whole[i] == '-') negative = true, ++i;
    if (i <= whole[0] || !split) return 0;
    w = 0;
  }
  double f = 0.0, scale = 1.0;
  int digits = 0, i = 1;
  for (; i <= fraction[0] && fraction[i] >= '0' && fraction[i] <= '9'; ++i, ++digits) {
    f = f * 10.0 + (fraction[i] - '0');
    scale *= 10.0;
  }
  while (i <= fraction[0] && fraction[i] == ' ') ++i;
  if (i <= fraction[0]) return 0;
  if (kind == 0 && digits == 0) return 0;
  const double magnitude = std::fabs(double(w)) + f / scale;
  if (value) *value = negative ? -magnitude : magnitude;
  return negative ? 2 : 1;
}

void DoubleToPString(uint8_t* text, double value, int decimals) {
  if (!text) return;
  decimals = std::clamp(decimals, 1, 9);
  std::string s;
  if (std::isnan(value)) value = 0.0;
  if (value < 0) {
    s.push_back('-');
    value = -value;
  }
  const int64_t unit = int64_t(PowerOf(10.0, decimals));
  const double scaled = std::floor(value * double(unit) + 0.5); // half up
  const int64_t all = scaled >= 9.2e18 ? std::numeric_limits<int64_t>::max() : int64_t(scaled);
  s += std::to_string(all / unit);
  s.push_back('.');
  int64_t rest = all % unit;
  int64_t place = unit / 10;
  do { // at least one decimal; stop when the rest is 0
    s.push_back(char('0' + rest / place));
    rest %= place;
    place /= 10;
  } while (rest != 0 && place > 0);
  CStringToPString(s.c_str(), text);
}

void NumberToPString(int32_t value, uint8_t* text) { CStringToPString(std::to_string(value).c_str(), text); }

double PowerOf(double base, int exponent) {
  double r = 1.0;
  for (int i = 0; i < exponent; ++i) r *= base;
  return r;
}

char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

int32_t FindText(const uint8_t*, const uint8_t*) { return -1; }

void OSTypeToString(OSType type, char* text) {
  if (!text) return;
  for (int i = 0; i < 4; ++i) text[i] = char(type >> (24 - 8 * i));
  text[4] = 0;
}

OSType StringToOSType(const char* text) {
  OSType t = 0;
  for (int i = 0; i < 4; ++i) t = (t << 8) | uint8_t(text && text[i] ? text[i] : 0);
  return t;
}

void SwapBytes32(uint32_t* value) {
  if (!value) return;
  const uint32_t v = *value;
  *value = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void CopyBytes(const void* source, void* destination, size_t count) {
  if (!source || !destination || count == 0) return;
  std::memmove(destination, source, count);
}

void ClearWord(int16_t* value) {
  if (value) *value = 0;
}

bool IsValue10to12(int32_t value) { return value >= 10 && value <= 12; }
bool IsValue1to3(int32_t value) { return value >= 1 && value <= 3; }
bool IsNonZero(int32_t value) { return value != 0; }

// ---- colour services -----------------------------------------------------------------------------------

OSErr SetColor4(int16_t* colour, int16_t c0, int16_t c1, int16_t c2, int16_t c3) {
  if (!colour) return errAEParamMissed;
  colour[0] = c0;
  colour[1] = c1;
  colour[2] = c2;
  colour[3] = c3;
  return noErr;
}

OSErr CopyColor4(int16_t* destination, const int16_t* source) {
  if (!destination || !source) return errAEParamMissed;
  std::memmove(destination, source, 4 * sizeof(int16_t));
  return noErr;
}

OSErr Color8To16(int16_t* destination, const int16_t* source) {
  if (!destination || !source) return errAEParamMissed;
  for (int i = 0; i < 4; ++i) destination[i] = int16_t(uint16_t(uint16_t(source[i]) << 8));
  return noErr;
}

OSErr Color16To8(int16_t* destination, const int16_t* source) {
  if (!destination || !source) return errAEParamMissed;
  for (int i = 0; i < 4; ++i) destination[i] = int16_t(uint16_t(source[i]) >> 8);
  return noErr;
}

void InitColorServicesInfo(ColorServicesInfo* info) {
  if (!info) return;
  std::memset(info, 0, sizeof(*info));
  info->infoSize = int32_t(sizeof(ColorServicesInfo));
  info->selector = plugIncolorServicesConvertColor;
  info->resultSpace = plugIncolorServicesChosenSpace;
}

OSErr ConvertColorServices(ColorServicesProc proc, int16_t sourceSpace, int16_t resultSpace, int16_t* colour) {
  if (!colour) return errAEParamMissed;
  if (!proc) return errPlugInHostInsufficient;
  ColorServicesInfo info;
  InitColorServicesInfo(&info);
  info.sourceSpace = sourceSpace;
  info.resultSpace = resultSpace;
  std::memcpy(info.colorComponents, colour, sizeof(info.colorComponents));
  const OSErr error = proc(&info);
  if (error == noErr) std::memcpy(colour, info.colorComponents, sizeof(info.colorComponents));
  return error;
}

OSErr PickColorServices(ColorServicesProc proc, const uint8_t* prompt, int16_t* space, int16_t* colour) {
  if (!colour || !space) return errAEParamMissed;
  if (!proc) return errPlugInHostInsufficient;
  ColorServicesInfo info;
  InitColorServicesInfo(&info);
  info.selector = plugIncolorServicesChooseColor;
  info.sourceSpace = *space;
  info.resultSpace = plugIncolorServicesChosenSpace;
  info.selectorParameter.pickerPrompt = reinterpret_cast<Str255*>(const_cast<uint8_t*>(prompt));
  std::memcpy(info.colorComponents, colour, sizeof(info.colorComponents));
  const OSErr error = proc(&info);
  if (error == noErr) {
    std::memcpy(colour, info.colorComponents, sizeof(info.colorComponents));
    *space = info.resultSpace;
  }
  return error;
}

int ColorChannelCount(int16_t mode, int defaultCount) {
  switch (mode) {
  case 0: case 1: case 8: case 10: case 15: case 17: return 1;
  case 2: case 3: case 5: case 6: case 9: case 11: case 12: case 16: return 3;
  case 4: case 13: return 4;
  default: return defaultCount;
  }
}

int16_t ImageModeToColorSpace(int16_t mode) {
  switch (mode) {
  case 1: case 8: case 10: case 15: case 17: return plugIncolorServicesGraySpace;
  case 3: case 11: case 16: return plugIncolorServicesRGBSpace;
  case 4: case 13: return plugIncolorServicesCMYKSpace;
  case 5: return plugIncolorServicesHSLSpace;
  case 6: return plugIncolorServicesHSBSpace;
  case 9: case 12: return plugIncolorServicesLabSpace;
  default: return plugIncolorServicesChosenSpace;
  }
}

void ClearVersionRecord(HostVersionRecord* record) {
  if (!record) return;
  record->hostCode = 0;
  record->fileOsCode = 0;
  record->fileFlagsCode = 0;
}

int16_t FileOsCode(uint32_t fileOs) {
  if (fileOs == 1) return 11;
  if (fileOs == 0x40000) return 10;
  return 12;
}

int16_t FileFlagsCode(uint32_t flags, uint32_t mask1, uint32_t mask2) {
  if ((flags & 1u) && (mask1 & 1u) && (mask2 & 1u)) return 0;
  if ((flags & 2u) && (mask1 & 2u) && (mask2 & 2u)) return 2;
  return 3;
}

// ---- rectangles, time, ratios --------------------------------------------------------------------------

bool SetRect16(Rect* rect, int16_t left, int16_t top, int16_t right, int16_t bottom) {
  if (!rect) return false;
  rect->left = left;
  rect->top = top;
  rect->right = right;
  rect->bottom = bottom;
  return true;
}

void OffsetRect16(Rect* rect, int16_t h, int16_t v) {
  if (!rect) return;
  rect->left = int16_t(rect->left + h);
  rect->right = int16_t(rect->right + h);
  rect->top = int16_t(rect->top + v);
  rect->bottom = int16_t(rect->bottom + v);
}

void InsetRect16(Rect* rect, int16_t h, int16_t v) {
  if (!rect) return;
  rect->left = int16_t(rect->left + h);
  rect->right = int16_t(rect->right - h);
  rect->top = int16_t(rect->top + v);
  rect->bottom = int16_t(rect->bottom - v);
}

int32_t PointInRect16(uint32_t point, const Rect* rect) {
  if (!rect) return 0;
  const int16_t v = int16_t(point & 0xFFFF);
  const int16_t h = int16_t(point >> 16);
  return rect->left <= h && h < rect->right && rect->top <= v && v < rect->bottom ? 1 : 0;
}

uint32_t TickCount60() { return pel::platform::TickCount() / 17; }

Fixed FixedRatio(int32_t a, int32_t b) {
  if (b == 0) return a < 0 ? -2147483647 : 2147483647;
  const int64_t r = (int64_t(a) * 65536) / b;
  return Fixed(std::clamp<int64_t>(r, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace ov
