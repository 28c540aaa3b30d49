// A scriptable host for the adapter's tests: a filter record over a small image held here,
// with counting advance-state, progress and abort procedures, a basic suite whose
// acquisitions can be made to fail, a Buffer suite with an optional budget, handle
// procedures and a scripting descriptor that records what the plug-in reads and writes.
// One FakeHost at a time (the procedures reach it through FakeHost::current).
#pragma once

#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace lens_test {

struct DescriptorValue {
    uint32_t key;
    uint32_t type;
    double number;
    int32_t integer;
    bool boolean;
};

struct FakeHost {
    static inline FakeHost* current = nullptr;

    FilterRecord rec{};
    SPBasicSuite basic{};
    PSBufferSuite1 buffer{};
    PSHandleSuite2 handleSuite{};
    HandleProcs handleProcs{};
    ReadDescriptorProcs readProcs{};
    WriteDescriptorProcs writeProcs{};
    PIDescriptorParameters descriptor{};

    // Image: planes interleaved, 8-bit unless depth says otherwise.
    std::vector<uint8_t> in, out, mask;

    // Counters and switches.
    std::map<std::string, int> acquired, released;
    bool failBufferSuite = false, failHandleSuite = false;
    int advanceCalls = 0;
    OSErr advanceError = noErr;
    std::vector<std::pair<int32_t, int32_t>> progressCalls;
    int abortCalls = 0;
    bool abortAnswer = false;
    uint64_t bufferBudget = 0, bufferUsed = 0;
    int bufferNews = 0, bufferDisposes = 0;
    std::vector<DescriptorValue> playback;   // what the host hands in
    std::vector<DescriptorValue> written;    // what the plug-in wrote
    int openReads = 0, openWrites = 0, closeWrites = 0;
    std::vector<Handle> handles;

    explicit FakeHost(int width = 8, int height = 6, int planes = 3, int depth = 8) {
        current = this;
        basic.AcquireSuite = [](const char* name, int32_t version, const void** suite) -> SPErr {
            FakeHost* h = current;
            h->acquired[name]++;
            if (std::strcmp(name, PEL_BUFFER_SUITE_NAME) == 0 && version == 1 && !h->failBufferSuite) {
                *suite = &h->buffer;
                return 0;
            }
            if (std::strcmp(name, PEL_HANDLE_SUITE_NAME) == 0 && version == 2 && !h->failHandleSuite) {
                *suite = &h->handleSuite;
                return 0;
            }
            *suite = nullptr;
            return 0x53214664;  // 'S!Fd'
        };
        basic.ReleaseSuite = [](const char* name, int32_t) -> SPErr {
            current->released[name]++;
            return 0;
        };
        buffer.New = [](uint32_t* size, uint32_t) -> Ptr {
            FakeHost* h = current;
            h->bufferNews++;
            if (h->bufferBudget && h->bufferUsed + *size > h->bufferBudget) return nullptr;
            h->bufferUsed += *size;
            return static_cast<Ptr>(std::malloc(*size ? *size : 1));
        };
        buffer.Dispose = [](Ptr* p) {
            current->bufferDisposes++;
            std::free(*p);
            *p = nullptr;
        };
        handleProcs.handleProcsVersion = 1;
        handleProcs.numHandleProcs = 8;
        handleProcs.newProc = [](int32_t size) -> Handle {
            auto* h = new char*;
            *h = static_cast<char*>(std::calloc(size_t(size) + 1, 1));
            current->handles.push_back(h);
            return h;
        };
        handleProcs.disposeProc = [](Handle h) {
            if (!h) return;
            auto& v = current->handles;
            for (size_t i = 0; i < v.size(); ++i)
                if (v[i] == h) v.erase(v.begin() + long(i));
            std::free(*h);
            delete h;
        };
        handleProcs.getSizeProc = [](Handle) -> int32_t { return 0; };
        handleProcs.setSizeProc = [](Handle, int32_t) -> OSErr { return 0; };
        handleProcs.lockProc = [](Handle h, Boolean) -> Ptr { return *h; };
        handleProcs.unlockProc = [](Handle) {};
        handleProcs.recoverSpaceProc = [](int32_t) {};
        handleProcs.disposeRegularHandleProc = handleProcs.disposeProc;

        // Descriptor: the read token walks `playback`; the write token appends to `written`.
        readProcs.readDescriptorProcsVersion = 0;
        readProcs.numReadDescriptorProcs = 18;
        readProcs.openReadDescriptorProc = [](PIDescriptorHandle, DescriptorKeyIDArray) -> PIReadDescriptor {
            current->openReads++;
            current->readIndex = 0;
            return reinterpret_cast<PIReadDescriptor>(current);
        };
        readProcs.closeReadDescriptorProc = [](PIReadDescriptor) -> OSErr { return 0; };
        readProcs.getKeyProc = [](PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) -> Boolean {
            FakeHost* h = current;
            if (h->readIndex >= h->playback.size()) return 0;
            h->reading = &h->playback[h->readIndex++];
            *key = h->reading->key;
            *type = h->reading->type;
            if (flags) *flags = 0;
            return 1;
        };
        readProcs.getIntegerProc = [](PIReadDescriptor, int32_t* v) -> OSErr {
            *v = current->reading->integer;
            return 0;
        };
        readProcs.getFloatProc = [](PIReadDescriptor, double* v) -> OSErr {
            *v = current->reading->number;
            return 0;
        };
        readProcs.getBooleanProc = [](PIReadDescriptor, Boolean* v) -> OSErr {
            *v = current->reading->boolean;
            return 0;
        };
        auto fill = [](auto*& proc) {
            // Through void (*)(), the type that converts to every function pointer type.
            proc = reinterpret_cast<std::remove_reference_t<decltype(proc)>>(reinterpret_cast<void (*)()>(&Unused));
        };
        fill(readProcs.getUnitFloatProc);
        fill(readProcs.getTextProc);
        fill(readProcs.getAliasProc);
        fill(readProcs.getEnumeratedProc);
        fill(readProcs.getClassProc);
        fill(readProcs.getSimpleReferenceProc);
        fill(readProcs.getObjectProc);
        fill(readProcs.getCountProc);
        fill(readProcs.getStringProc);
        fill(readProcs.getPinnedIntegerProc);
        fill(readProcs.getPinnedFloatProc);
        fill(readProcs.getPinnedUnitFloatProc);
        writeProcs.writeDescriptorProcsVersion = 0;
        writeProcs.numWriteDescriptorProcs = 16;
        writeProcs.openWriteDescriptorProc = []() -> PIWriteDescriptor {
            current->openWrites++;
            return reinterpret_cast<PIWriteDescriptor>(current);
        };
        writeProcs.closeWriteDescriptorProc = [](PIWriteDescriptor, PIDescriptorHandle* d) -> OSErr {
            current->closeWrites++;
            *d = current->handleProcs.newProc(4);
            return 0;
        };
        writeProcs.putIntegerProc = [](PIWriteDescriptor, DescriptorKeyID k, int32_t v) -> OSErr {
            current->written.push_back({k, typeInteger, 0, v, false});
            return 0;
        };
        writeProcs.putFloatProc = [](PIWriteDescriptor, DescriptorKeyID k, const double* v) -> OSErr {
            current->written.push_back({k, typeFloat, *v, 0, false});
            return 0;
        };
        writeProcs.putBooleanProc = [](PIWriteDescriptor, DescriptorKeyID k, Boolean v) -> OSErr {
            current->written.push_back({k, typeBoolean, 0, 0, v != 0});
            return 0;
        };
        fill(writeProcs.putUnitFloatProc);
        fill(writeProcs.putTextProc);
        fill(writeProcs.putAliasProc);
        fill(writeProcs.putEnumeratedProc);
        fill(writeProcs.putClassProc);
        fill(writeProcs.putSimpleReferenceProc);
        fill(writeProcs.putObjectProc);
        fill(writeProcs.putCountProc);
        fill(writeProcs.putStringProc);
        fill(writeProcs.putScopedClassProc);
        fill(writeProcs.putScopedObjectProc);
        descriptor.descriptorParametersVersion = 0;
        descriptor.playInfo = plugInDialogDontDisplay;
        descriptor.readDescriptorProcs = &readProcs;
        descriptor.writeDescriptorProcs = &writeProcs;

        rec.imageSize = {int16_t(height), int16_t(width)};
        rec.wholeSize = rec.imageSize;
        rec.planes = int16_t(planes);
        rec.depth = depth;
        rec.imageMode = planes >= 3 ? plugInModeRGBColor : plugInModeGrayScale;
        rec.inNonLayerPlanes = int16_t(planes);
        rec.filterRect = {0, 0, int16_t(height), int16_t(width)};
        rec.inputRate = rec.maskRate = 1 << 16;
        rec.autoMask = 1;
        rec.sSPBasic = &basic;
        rec.handleProcs = &handleProcs;
        rec.descriptorParameters = &descriptor;
        rec.advanceState = []() -> OSErr { return current->Advance(); };
        rec.progressProc = [](int32_t done, int32_t total) { current->progressCalls.push_back({done, total}); };
        rec.abortProc = []() -> Boolean {
            current->abortCalls++;
            return current->abortAnswer;
        };
        const size_t bytes = size_t(width) * height * planes * (depth == 0 ? 1 : depth / 8);
        in.assign(bytes, 100);
        out.assign(bytes, 0);
    }
    ~FakeHost() {
        while (!handles.empty()) handleProcs.disposeProc(handles.back());
        current = nullptr;
    }

    // The buffers of the requested rectangles (the tests ask for the whole image).
    OSErr Advance() {
        advanceCalls++;
        if (advanceError != noErr) return advanceError;
        const int sb = rec.depth == 0 ? 1 : rec.depth / 8;
        const int w = rec.outRect.right - rec.outRect.left;
        rec.inData = in.data();
        rec.outData = out.data();
        rec.inRowBytes = rec.outRowBytes = w * rec.planes * sb;
        if (rec.haveMask && !mask.empty()) {
            rec.maskData = mask.data();
            rec.maskRowBytes = rec.maskRect.right - rec.maskRect.left;
        } else {
            rec.maskData = nullptr;
        }
        return noErr;
    }

    static OSErr Unused() { return -1700; }
    size_t readIndex = 0;
    DescriptorValue* reading = nullptr;
};

inline bool RectIsZero(const Rect& r) { return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0; }

}  // namespace lens_test
