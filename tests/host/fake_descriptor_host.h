// A fake host for the scripting descriptor: handle procedures, the 18 read and 16 write
// descriptor procedures and a filter record pointing at them. Descriptors are lists of
// (key, type, value); readers hand them out in stored order; faults can be injected (a get
// call that fails, an open that answers no token, close errors). One fake at a time: the C
// procedures reach it through FakeDescriptorHost::current.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "host/host_api.h"
#include "host/sdk_utils.h"

namespace ov::test {

struct FakeValue {
  DescriptorKeyID key = 0;
  DescriptorTypeID type = typeInteger;
  int32_t i = 0;
  double f = 0.0;
  Boolean b = 0;
};

inline bool operator==(const FakeValue& a, const FakeValue& b) {
  return a.key == b.key && a.type == b.type && a.i == b.i && (a.f == b.f || (a.f != a.f && b.f != b.f)) &&
         a.b == b.b;
}

class FakeDescriptorHost {
public:
  static inline FakeDescriptorHost* current = nullptr;

  // Configuration (set before use).
  int failGetAt = -1;            // the get call with this number (0-based) answers an error
  bool openReadFails = false;
  bool openWriteFails = false;
  OSErr closeReadError = noErr;
  OSErr closeWriteError = noErr;

  FilterRecord record{};
  PIDescriptorParameters params{};
  ReadDescriptorProcs read{};
  WriteDescriptorProcs write{};
  HandleProcs handles{};

  // What happened.
  int getCalls = 0;
  int closeReadCalls = 0;
  int closeWriteCalls = 0;
  int hostDisposeCalls = 0;
  std::vector<DescriptorKeyID> requestedKeys;

  FakeDescriptorHost() {
    current = this;
    handles.handleProcsVersion = 1;
    handles.numHandleProcs = 8;
    handles.newProc = [](int32_t size) { return current->NewHostHandle(size); };
    handles.disposeProc = [](Handle h) { current->DisposeHostHandle(h); };
    handles.getSizeProc = [](Handle h) { return current->hostHandles.count(h) ? current->hostHandles[h] : 0; };
    handles.setSizeProc = [](Handle, int32_t) -> OSErr { return paramErr; };
    handles.lockProc = [](Handle h, Boolean) -> Ptr { return h ? *h : nullptr; };
    handles.unlockProc = [](Handle) {};
    handles.recoverSpaceProc = [](int32_t) {};
    handles.disposeRegularHandleProc = [](Handle h) { current->DisposeHostHandle(h); };

    read.readDescriptorProcsVersion = 0;
    read.numReadDescriptorProcs = 18;
    read.openReadDescriptorProc = [](PIDescriptorHandle d, DescriptorKeyIDArray keys) -> PIReadDescriptor {
      return current->OpenRead(d, keys);
    };
    read.closeReadDescriptorProc = [](PIReadDescriptor t) -> OSErr {
      ++current->closeReadCalls;
      delete reinterpret_cast<Reader*>(t);
      return current->closeReadError;
    };
    read.getKeyProc = [](PIReadDescriptor t, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) -> Boolean {
      auto* r = reinterpret_cast<Reader*>(t);
      if (r->next >= r->values.size()) return 0;
      r->value = r->values[r->next++];
      *key = r->value.key;
      *type = r->value.type;
      *flags = 0;
      return 1;
    };
    read.getIntegerProc = [](PIReadDescriptor t, int32_t* v) -> OSErr {
      return current->Get(t, typeInteger, [&](const FakeValue& fv) { *v = fv.i; });
    };
    read.getFloatProc = [](PIReadDescriptor t, double* v) -> OSErr {
      return current->Get(t, typeFloat, [&](const FakeValue& fv) { *v = fv.f; });
    };
    read.getBooleanProc = [](PIReadDescriptor t, Boolean* v) -> OSErr {
      return current->Get(t, typeBoolean, [&](const FakeValue& fv) { *v = fv.b; });
    };
    read.getUnitFloatProc = [](PIReadDescriptor, DescriptorUnitID*, double*) -> OSErr { return paramErr; };
    read.getTextProc = [](PIReadDescriptor, Handle*) -> OSErr { return paramErr; };
    read.getAliasProc = [](PIReadDescriptor, Handle*) -> OSErr { return paramErr; };
    read.getEnumeratedProc = [](PIReadDescriptor, DescriptorEnumID*) -> OSErr { return paramErr; };
    read.getClassProc = [](PIReadDescriptor, DescriptorClassID*) -> OSErr { return paramErr; };
    read.getSimpleReferenceProc = [](PIReadDescriptor, PIDescriptorSimpleReference*) -> OSErr { return paramErr; };
    read.getObjectProc = [](PIReadDescriptor, DescriptorClassID*, PIDescriptorHandle*) -> OSErr { return paramErr; };
    read.getCountProc = [](PIReadDescriptor, uint32_t*) -> OSErr { return paramErr; };
    read.getStringProc = [](PIReadDescriptor, Str255*) -> OSErr { return paramErr; };
    read.getPinnedIntegerProc = [](PIReadDescriptor, int32_t, int32_t, int32_t*) -> OSErr { return paramErr; };
    read.getPinnedFloatProc = [](PIReadDescriptor, const double*, const double*, double*) -> OSErr { return paramErr; };
    read.getPinnedUnitFloatProc = [](PIReadDescriptor, const double*, const double*, DescriptorUnitID*,
                                     double*) -> OSErr { return paramErr; };

    write.writeDescriptorProcsVersion = 0;
    write.numWriteDescriptorProcs = 16;
    write.openWriteDescriptorProc = []() -> PIWriteDescriptor {
      if (current->openWriteFails) return nullptr;
      return reinterpret_cast<PIWriteDescriptor>(new std::vector<FakeValue>);
    };
    write.closeWriteDescriptorProc = [](PIWriteDescriptor t, PIDescriptorHandle* d) -> OSErr {
      ++current->closeWriteCalls;
      auto* w = reinterpret_cast<std::vector<FakeValue>*>(t);
      *d = current->MakeDescriptor(*w);
      delete w;
      return current->closeWriteError;
    };
    write.putIntegerProc = [](PIWriteDescriptor t, DescriptorKeyID k, int32_t v) -> OSErr {
      FakeValue fv;
      fv.key = k;
      fv.type = typeInteger;
      fv.i = v;
      reinterpret_cast<std::vector<FakeValue>*>(t)->push_back(fv);
      return noErr;
    };
    write.putFloatProc = [](PIWriteDescriptor t, DescriptorKeyID k, const double* v) -> OSErr {
      FakeValue fv;
      fv.key = k;
      fv.type = typeFloat;
      fv.f = *v;
      reinterpret_cast<std::vector<FakeValue>*>(t)->push_back(fv);
      return noErr;
    };
    write.putBooleanProc = [](PIWriteDescriptor t, DescriptorKeyID k, Boolean v) -> OSErr {
      FakeValue fv;
      fv.key = k;
      fv.type = typeBoolean;
      fv.b = v;
      reinterpret_cast<std::vector<FakeValue>*>(t)->push_back(fv);
      return noErr;
    };
    write.putUnitFloatProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID, const double*) -> OSErr {
      return paramErr;
    };
    write.putTextProc = [](PIWriteDescriptor, DescriptorKeyID, Handle) -> OSErr { return paramErr; };
    write.putAliasProc = [](PIWriteDescriptor, DescriptorKeyID, Handle) -> OSErr { return paramErr; };
    write.putEnumeratedProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, DescriptorEnumID) -> OSErr {
      return paramErr;
    };
    write.putClassProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) -> OSErr { return paramErr; };
    write.putSimpleReferenceProc = [](PIWriteDescriptor, DescriptorKeyID,
                                      const PIDescriptorSimpleReference*) -> OSErr { return paramErr; };
    write.putObjectProc = [](PIWriteDescriptor t, DescriptorKeyID k, DescriptorTypeID type, PIDescriptorHandle) -> OSErr {
      FakeValue fv;
      fv.key = k;
      fv.type = type;
      reinterpret_cast<std::vector<FakeValue>*>(t)->push_back(fv);
      return noErr;
    };
    write.putCountProc = [](PIWriteDescriptor, DescriptorKeyID, uint32_t) -> OSErr { return paramErr; };
    write.putStringProc = [](PIWriteDescriptor, DescriptorKeyID, ConstStr255Param) -> OSErr { return paramErr; };
    write.putScopedClassProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) -> OSErr { return paramErr; };
    write.putScopedObjectProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle*) -> OSErr {
      return paramErr;
    };

    params.descriptorParametersVersion = 0;
    params.playInfo = plugInDialogDontDisplay;
    params.recordInfo = plugInDialogRequired;
    params.readDescriptorProcs = &read;
    params.writeDescriptorProcs = &write;
    record.descriptorParameters = &params;
    record.handleProcs = &handles;
  }

  ~FakeDescriptorHost() {
    // Whatever the plug-in left with the host goes now.
    if (params.descriptor) Dispose(params.descriptor);
    for (auto& [h, size] : hostHandles) {
      (void)size;
      delete[] *h;
      delete h;
    }
    if (current == this) current = nullptr;
  }

  // A new descriptor handle holding the values (through the host's procedures when usable,
  // else a fallback handle, as the plug-in would dispose of it).
  Handle MakeDescriptor(const std::vector<FakeValue>& values) {
    Handle h = usableHandleProcs ? NewHostHandle(8) : NewHandleFallback(8);
    contents[h] = values;
    return h;
  }
  std::vector<FakeValue> Content(Handle descriptor) const {
    auto it = contents.find(descriptor);
    return it == contents.end() ? std::vector<FakeValue>() : it->second;
  }
  void SetDescriptor(const std::vector<FakeValue>& values) {
    if (params.descriptor) Dispose(params.descriptor);
    params.descriptor = MakeDescriptor(values);
  }
  // The record's handle procedures fail the usability test from now on (version 0):
  // descriptors are fallback handles, as the plug-in disposes of them then.
  void UseFallbackHandles() {
    usableHandleProcs = false;
    handles.handleProcsVersion = 0;
  }
  bool IsLiveHostHandle(Handle h) const { return hostHandles.count(h) != 0; }
  bool IsLiveDescriptor(Handle h) const { return contents.count(h) != 0; }

  std::map<Handle, std::vector<FakeValue>> contents;
  std::map<Handle, int32_t> hostHandles;
  bool usableHandleProcs = true;

private:
  struct Reader {
    std::vector<FakeValue> values;
    size_t next = 0;
    FakeValue value;
  };

  Handle NewHostHandle(int32_t size) {
    Handle h = new char*(new char[size_t(size > 0 ? size : 1)]());
    hostHandles[h] = size;
    return h;
  }
  void DisposeHostHandle(Handle h) {
    ++hostDisposeCalls;
    auto it = hostHandles.find(h);
    if (it == hostHandles.end()) return; // not ours: ignored, as a host might
    contents.erase(h);
    delete[] *h;
    delete h;
    hostHandles.erase(it);
  }
  void Dispose(Handle h) {
    if (hostHandles.count(h)) {
      DisposeHostHandle(h);
      --hostDisposeCalls;
    } else {
      contents.erase(h);
      DisposeHandleFallback(h);
    }
  }
  PIReadDescriptor OpenRead(PIDescriptorHandle d, DescriptorKeyIDArray keys) {
    requestedKeys.clear();
    for (const DescriptorKeyID* k = keys; k && *k; ++k) requestedKeys.push_back(*k);
    if (openReadFails) return nullptr;
    auto* r = new Reader;
    r->values = Content(d);
    return reinterpret_cast<PIReadDescriptor>(r);
  }
  template <class Store>
  OSErr Get(PIReadDescriptor t, DescriptorTypeID type, Store store) {
    auto* r = reinterpret_cast<Reader*>(t);
    if (getCalls++ == failGetAt) return paramErr;
    if (r->value.type != type) return paramErr;
    store(r->value);
    return noErr;
  }
};

} // namespace ov::test
