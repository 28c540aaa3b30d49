// The published-layout host: see published_layout_host.h. Every offset below is a public fact
// of the 64-bit interface (the filter record packed to 4 bytes, the tables it points to
// naturally aligned); none is taken from the plug-in's sources.
#include "tools/wintesthost/published_layout_host.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>

#include "tools/scene/scene_random.h"

namespace pelidorn {

namespace {

// ---- the filter record (556 bytes) ---------------------------------------------------------
constexpr size_t kRecordSize = 556;
constexpr size_t kSerialNumber = 0, kAbortProc = 4, kProgressProc = 12, kImageSize = 28, kPlanes = 32,
                 kFilterRect = 34, kMaxSpace = 56, kBufferSpace = 60, kInRect = 64, kInLoPlane = 72,
                 kInHiPlane = 74, kOutRect = 76, kOutLoPlane = 84, kOutHiPlane = 86, kInData = 88,
                 kInRowBytes = 96, kOutData = 100, kOutRowBytes = 108, kIsFloating = 112, kHaveMask = 113,
                 kAutoMask = 114, kMaskRect = 116, kMaskData = 124, kMaskRowBytes = 132, kHostSig = 144,
                 kImageMode = 156, kImageHRes = 160, kImageVRes = 164, kWholeSize = 172, kFilterCase = 268,
                 kAdvanceState = 280, kWantsAbsolute = 289, kSupportsPadding = 301, kInputPadding = 302,
                 kOutputPadding = 304, kInputRate = 312, kMaskRate = 316, kInLayerPlanes = 328,
                 kInTransparencyMask = 330, kInNonLayerPlanes = 336, kDescriptorParameters = 432,
                 kSSPBasic = 464, kDepth = 480;
// Rectangles: four signed 16-bit values top, left, bottom, right. Points: v, then h.

// ---- the tables (natural alignment, 8-byte pointers) ----------------------------------------
// Basic suite: AcquireSuite, ReleaseSuite, IsEqual, AllocateBlock, FreeBlock, ReallocateBlock,
// Undefined. Buffer suite 1: New, Dispose, GetSize, GetSpace. Handle suite 2: New, Dispose,
// DisposeRegularHandle, SetLock, GetSize, SetSize, RecoverSpace.
constexpr size_t kBasicSuiteSlots = 7, kBufferSuiteSlots = 4, kHandleSuiteSlots = 7;
// Descriptor parameters (32 bytes): version 0, playInfo 2, recordInfo 4, descriptor 8, write
// procedures 16, read procedures 24. Procedure tables: version 0, count 2, procedures from 8.
constexpr size_t kDescriptorSize = 32, kPlayInfo = 2, kWriteProcs = 16, kReadProcs = 24;
constexpr size_t kReadProcsSize = 152, kWriteProcsSize = 136, kFirstProc = 8;
constexpr int kReadCount = 18, kWriteCount = 16;
// Read procedure slots used here: open 0, close 1, getKey 2, getInteger 3, getFloat 4.

// An RGB layer with transparency: three colour planes and the transparency plane.
constexpr int kWidth = 40, kHeight = 28, kColours = 3, kPlanesRGBA = 4;
constexpr uint8_t kGuard = 0xA5;

constexpr uint32_t Code(const char (&c)[5]) {
    return (uint32_t(uint8_t(c[0])) << 24) | (uint32_t(uint8_t(c[1])) << 16) | (uint32_t(uint8_t(c[2])) << 8) |
           uint32_t(uint8_t(c[3]));
}

struct Played {
    uint32_t key;
    bool isFloat;
    double number;
    int32_t integer;
};

struct State {
    std::vector<uint8_t> record, basic, bufferSuite, handleSuite, descriptor, readProcs, writeProcs;
    std::vector<uint8_t> input, output;
    std::vector<Played> playback;
    size_t nextKey = 0;
    const Played* reading = nullptr;
    int advanceCalls = 0, progressCalls = 0, abortCalls = 0, openReads = 0, valuesRead = 0, unusedCalls = 0;
    std::map<std::string, int> acquired, released;
    std::map<void*, uint32_t> blocks;
    int blocksAllocated = 0;
    PublishedLayoutRun* run = nullptr;
};
State* g = nullptr;

void Check(bool ok, const std::string& what) {
    g->run->checks++;
    if (!ok) g->run->failures.push_back(what);
}

template <class T>
void Put(std::vector<uint8_t>& bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}
template <class T>
T Get(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}
void PutRect(std::vector<uint8_t>& bytes, size_t offset, int16_t top, int16_t left, int16_t bottom, int16_t right) {
    Put(bytes, offset, top);
    Put(bytes, offset + 2, left);
    Put(bytes, offset + 4, bottom);
    Put(bytes, offset + 6, right);
}
bool RectIs(size_t offset, int16_t top, int16_t left, int16_t bottom, int16_t right) {
    const std::vector<uint8_t>& r = g->record;
    return Get<int16_t>(r, offset) == top && Get<int16_t>(r, offset + 2) == left &&
           Get<int16_t>(r, offset + 4) == bottom && Get<int16_t>(r, offset + 6) == right;
}
bool RectEmpty(size_t offset) {
    const std::vector<uint8_t>& r = g->record;
    return Get<int16_t>(r, offset + 4) <= Get<int16_t>(r, offset) ||
           Get<int16_t>(r, offset + 6) <= Get<int16_t>(r, offset + 2);
}

// Stores a procedure in an 8-byte slot.
template <class Fn>
void PutProc(std::vector<uint8_t>& bytes, size_t offset, Fn fn) {
    static_assert(sizeof(fn) == 8, "a 64-bit host's procedure pointer");
    std::memcpy(bytes.data() + offset, &fn, sizeof fn);
}

// ---- host procedures -----------------------------------------------------------------------

// A procedure the module must not call, of the slot's own signature: counts the call and
// answers a failure (null for a pointer, -1 for a number).
template <class R, class... Args>
R Unused(Args...) {
    g->unusedCalls++;
    if constexpr (std::is_pointer_v<R>) return nullptr;
    else if constexpr (!std::is_void_v<R>) return R(-1);
}

// The published signatures of the slots the module leaves alone. Handles are char**, tokens
// are opaque pointers, keys, types, units and enumerations are 32-bit codes, a Boolean is a
// byte, a Str255 is 256 bytes, and a simple reference is only passed by pointer.
using Handle = char**;
using Token = void*;
using Code32 = uint32_t;
using Str255 = uint8_t[256];
struct SimpleReference;

uint8_t Abort() {
    g->abortCalls++;
    return 0;
}
void Progress(int32_t, int32_t) { g->progressCalls++; }

// Hands out the requested area; only the whole image in every plane, at full rate, is served.
int16_t AdvanceState() {
    g->advanceCalls++;
    std::vector<uint8_t>& r = g->record;
    if (RectEmpty(kInRect) && RectEmpty(kOutRect)) {
        Put<void*>(r, kInData, nullptr);
        Put<void*>(r, kOutData, nullptr);
        return 0;
    }
    const bool whole = RectIs(kInRect, 0, 0, kHeight, kWidth) && RectIs(kOutRect, 0, 0, kHeight, kWidth);
    const bool planes = Get<int16_t>(r, kInLoPlane) == 0 && Get<int16_t>(r, kInHiPlane) == kPlanesRGBA - 1 &&
                        Get<int16_t>(r, kOutLoPlane) == 0 && Get<int16_t>(r, kOutHiPlane) == kPlanesRGBA - 1;
    Check(whole, "advanceState: inRect (64) and outRect (76) ask for the whole image");
    Check(planes, "advanceState: inLoPlane (72) to inHiPlane (74) and the out planes (84, 86) are 0..3");
    Check(Get<int32_t>(r, kInputRate) == 65536, "advanceState: inputRate (312) is 1.0 in 16.16");
    Check(Get<int16_t>(r, kInputPadding) == 255 && Get<int16_t>(r, kOutputPadding) == 255,
          "advanceState: inputPadding (302) and outputPadding (304) are 255");
    Check(Get<uint8_t>(r, kWantsAbsolute) == 0, "advanceState: wantsAbsolute (289) is false");
    if (!whole || !planes) return -30100;  // a request this host cannot serve
    Put<void*>(r, kInData, g->input.data());
    Put<int32_t>(r, kInRowBytes, kWidth * kPlanesRGBA);
    Put<void*>(r, kOutData, g->output.data());
    Put<int32_t>(r, kOutRowBytes, kWidth * kPlanesRGBA);
    Put<void*>(r, kMaskData, nullptr);
    Put<int32_t>(r, kMaskRowBytes, 0);
    return 0;
}

int32_t AcquireSuite(const char* name, int32_t version, const void** suite) {
    const std::string n = name ? name : "";
    g->acquired[n]++;
    if (n == "Photoshop Buffer Suite for Plug-ins" && version == 1) {
        *suite = g->bufferSuite.data();
        return 0;
    }
    if (n == "Photoshop Handle Suite for Plug-ins" && version == 2) {
        *suite = g->handleSuite.data();
        return 0;
    }
    *suite = nullptr;
    return 0x53214664;  // 'S!Fd', suite not found
}
int32_t ReleaseSuite(const char* name, int32_t) {
    g->released[name ? name : ""]++;
    return 0;
}
int32_t IsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

char* BufferNew(uint32_t* requested, uint32_t) {
    void* p = std::malloc(*requested ? *requested : 1);
    if (p) {
        g->blocks[p] = *requested;
        g->blocksAllocated++;
    }
    return static_cast<char*>(p);
}
void BufferDispose(char** block) {
    if (!block || !*block) return;
    g->blocks.erase(*block);
    std::free(*block);
    *block = nullptr;
}
uint32_t BufferGetSize(char* block) {
    auto it = g->blocks.find(block);
    return it == g->blocks.end() ? 0 : it->second;
}
uint32_t BufferGetSpace() { return 1u << 30; }

// The read token walks the played-back values.
void* OpenRead(void*, const uint32_t*) {
    g->openReads++;
    g->nextKey = 0;
    return g;
}
int16_t CloseRead(void*) { return 0; }
uint8_t GetKey(void*, uint32_t* key, uint32_t* type, int32_t* flags) {
    if (g->nextKey >= g->playback.size()) return 0;
    g->reading = &g->playback[g->nextKey++];
    *key = g->reading->key;
    *type = g->reading->isFloat ? Code("doub") : Code("long");
    if (flags) *flags = 0;
    return 1;
}
int16_t GetInteger(void*, int32_t* value) {
    if (!g->reading || g->reading->isFloat) return -1700;
    *value = g->reading->integer;
    g->valuesRead++;
    return 0;
}
int16_t GetFloat(void*, double* value) {
    if (!g->reading || !g->reading->isFloat) return -1700;
    *value = g->reading->number;
    g->valuesRead++;
    return 0;
}
// Nothing is recorded: the write token is null, so the module writes no values.
void* OpenWrite() { return nullptr; }

// ---- the document --------------------------------------------------------------------------

// A dim gradient with a few bright points and some noise: a lens blur changes most samples.
// The layer is opaque but for a fully transparent block, which the blur spreads into the
// transparency plane around it.
bool InTransparentBlock(int x, int y) { return x >= 14 && x < 26 && y >= 9 && y < 19; }
void DrawDocument(std::vector<uint8_t>& pixels) {
    pixels.resize(size_t(kWidth) * kHeight * kPlanesRGBA);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* px = &pixels[(size_t(y) * kWidth + x) * kPlanesRGBA];
            for (int p = 0; p < kColours; ++p) {
                int v = 30 + (x * 90) / kWidth + (y * 40) / kHeight + 10 * p;
                v += int(SceneHash(uint32_t(x * 7919 + y * 104729 + p)) % 16);
                if ((x % 13 == 6) && (y % 9 == 4)) v = 255;
                px[p] = uint8_t(v > 255 ? 255 : v);
            }
            px[kColours] = InTransparentBlock(x, y) ? 0 : 255;
        }
}

void SetUp(State& s) {
    s.record.assign(kRecordSize + 64, 0);
    std::memset(s.record.data() + kRecordSize, kGuard, 64);
    std::vector<uint8_t>& r = s.record;
    Put<int32_t>(r, kSerialNumber, 0);
    PutProc(r, kAbortProc, &Abort);
    PutProc(r, kProgressProc, &Progress);
    Put<int16_t>(r, kImageSize, kHeight);
    Put<int16_t>(r, kImageSize + 2, kWidth);
    Put<int16_t>(r, kPlanes, kPlanesRGBA);
    PutRect(r, kFilterRect, 0, 0, kHeight, kWidth);
    Put<int32_t>(r, kMaxSpace, 1 << 30);
    Put<int32_t>(r, kBufferSpace, 1 << 20);
    Put<uint8_t>(r, kIsFloating, 0);
    Put<uint8_t>(r, kHaveMask, 0);
    Put<uint8_t>(r, kAutoMask, 1);
    Put<uint32_t>(r, kHostSig, Code("PLay"));
    Put<int16_t>(r, kImageMode, 3);  // RGB, 8 bits
    Put<int32_t>(r, kImageHRes, 72 << 16);
    Put<int32_t>(r, kImageVRes, 72 << 16);
    Put<int16_t>(r, kWholeSize, kHeight);
    Put<int16_t>(r, kWholeSize + 2, kWidth);
    Put<int16_t>(r, kFilterCase, 1);  // flat image, no selection
    PutProc(r, kAdvanceState, &AdvanceState);
    Put<uint8_t>(r, kSupportsPadding, 1);
    Put<int32_t>(r, kInputRate, 1 << 16);
    Put<int32_t>(r, kMaskRate, 1 << 16);
    // A layer: its colour planes and a transparency plane. A module that read transparency
    // from a neighbouring field would take the layer for a flat image (and leave plane 3
    // alone) or for gray with transparency (and write into plane 1 as transparency).
    Put<int16_t>(r, kInLayerPlanes, kColours);
    Put<int16_t>(r, kInTransparencyMask, 1);
    Put<int16_t>(r, kInNonLayerPlanes, 0);
    Put<int32_t>(r, kDepth, 8);

    s.basic.assign(kBasicSuiteSlots * 8, 0);
    PutProc(s.basic, 0, &AcquireSuite);
    PutProc(s.basic, 8, &ReleaseSuite);
    PutProc(s.basic, 16, &IsEqual);
    PutProc(s.basic, 24, &Unused<int32_t, size_t, void**>);         // AllocateBlock
    PutProc(s.basic, 32, &Unused<int32_t, void*>);                  // FreeBlock
    PutProc(s.basic, 40, &Unused<int32_t, void*, size_t, void**>);  // ReallocateBlock
    PutProc(s.basic, 48, &Unused<int32_t>);                         // Undefined
    Put<void*>(r, kSSPBasic, s.basic.data());

    s.bufferSuite.assign(kBufferSuiteSlots * 8, 0);
    PutProc(s.bufferSuite, 0, &BufferNew);
    PutProc(s.bufferSuite, 8, &BufferDispose);
    PutProc(s.bufferSuite, 16, &BufferGetSize);
    PutProc(s.bufferSuite, 24, &BufferGetSpace);
    s.handleSuite.assign(kHandleSuiteSlots * 8, 0);  // acquired and released, never called
    PutProc(s.handleSuite, 0, &Unused<Handle, int32_t>);                        // New
    PutProc(s.handleSuite, 8, &Unused<void, Handle>);                           // Dispose
    PutProc(s.handleSuite, 16, &Unused<void, Handle>);                          // DisposeRegularHandle
    PutProc(s.handleSuite, 24, &Unused<void, Handle, uint8_t, char**, uint8_t*>);  // SetLock
    PutProc(s.handleSuite, 32, &Unused<int32_t, Handle>);                       // GetSize
    PutProc(s.handleSuite, 40, &Unused<int16_t, Handle, int32_t>);              // SetSize
    PutProc(s.handleSuite, 48, &Unused<void, int32_t>);                         // RecoverSpace

    s.readProcs.assign(kReadProcsSize, 0);
    Put<int16_t>(s.readProcs, 0, 0);
    Put<int16_t>(s.readProcs, 2, kReadCount);
    const auto read = [&s](int slot, auto fn) { PutProc(s.readProcs, kFirstProc + size_t(slot) * 8, fn); };
    read(0, &OpenRead);
    read(1, &CloseRead);
    read(2, &GetKey);
    read(3, &GetInteger);
    read(4, &GetFloat);
    read(5, &Unused<int16_t, Token, Code32*, double*>);                        // getUnitFloat
    read(6, &Unused<int16_t, Token, uint8_t*>);                                // getBoolean
    read(7, &Unused<int16_t, Token, Handle*>);                                 // getText
    read(8, &Unused<int16_t, Token, Handle*>);                                 // getAlias
    read(9, &Unused<int16_t, Token, Code32*>);                                 // getEnumerated
    read(10, &Unused<int16_t, Token, Code32*>);                                // getClass
    read(11, &Unused<int16_t, Token, SimpleReference*>);                       // getSimpleReference
    read(12, &Unused<int16_t, Token, Code32*, Handle*>);                       // getObject
    read(13, &Unused<int16_t, Token, uint32_t*>);                              // getCount
    read(14, &Unused<int16_t, Token, Str255*>);                                // getString
    read(15, &Unused<int16_t, Token, int32_t, int32_t, int32_t*>);             // getPinnedInteger
    read(16, &Unused<int16_t, Token, const double*, const double*, double*>);  // getPinnedFloat
    read(17, &Unused<int16_t, Token, const double*, const double*, Code32*, double*>);  // getPinnedUnitFloat
    s.writeProcs.assign(kWriteProcsSize, 0);
    Put<int16_t>(s.writeProcs, 0, 0);
    Put<int16_t>(s.writeProcs, 2, kWriteCount);
    const auto write = [&s](int slot, auto fn) { PutProc(s.writeProcs, kFirstProc + size_t(slot) * 8, fn); };
    write(0, &OpenWrite);
    write(1, &Unused<int16_t, Token, Handle*>);                                // closeWrite
    write(2, &Unused<int16_t, Token, Code32, int32_t>);                        // putInteger
    write(3, &Unused<int16_t, Token, Code32, const double*>);                  // putFloat
    write(4, &Unused<int16_t, Token, Code32, Code32, const double*>);          // putUnitFloat
    write(5, &Unused<int16_t, Token, Code32, uint8_t>);                        // putBoolean
    write(6, &Unused<int16_t, Token, Code32, Handle>);                         // putText
    write(7, &Unused<int16_t, Token, Code32, Handle>);                         // putAlias
    write(8, &Unused<int16_t, Token, Code32, Code32, Code32>);                 // putEnumerated
    write(9, &Unused<int16_t, Token, Code32, Code32>);                         // putClass
    write(10, &Unused<int16_t, Token, Code32, const SimpleReference*>);        // putSimpleReference
    write(11, &Unused<int16_t, Token, Code32, Code32, Handle>);                // putObject
    write(12, &Unused<int16_t, Token, Code32, uint32_t>);                      // putCount
    write(13, &Unused<int16_t, Token, Code32, const uint8_t*>);                // putString
    write(14, &Unused<int16_t, Token, Code32, Code32>);                        // putScopedClass
    write(15, &Unused<int16_t, Token, Code32, Code32, Handle>);                // putScopedObject
    s.descriptor.assign(kDescriptorSize, 0);
    Put<int16_t>(s.descriptor, kPlayInfo, 0);  // do not show the dialog
    Put<void*>(s.descriptor, kWriteProcs, s.writeProcs.data());
    Put<void*>(s.descriptor, kReadProcs, s.readProcs.data());
    Put<void*>(r, kDescriptorParameters, s.descriptor.data());

    // A recorded step: radius 300 (relative to an 800-pixel diagonal), six facets, the blur view.
    s.playback = {{Code("RADI"), true, 300.0, 0}, {Code("IRFA"), false, 0.0, 6}, {Code("SHOW"), false, 0.0, 1}};
    DrawDocument(s.input);
    s.output = s.input;  // a host's output buffer starts as the source
}

int16_t Call(PublishedEntryFn entry, uint16_t selector) {
    int16_t result = 0x5A5A;
    intptr_t data = 0;
    entry(selector, g->record.data(), &data, &result);
    return result;
}

}  // namespace

PublishedLayoutRun RunWithPublishedLayout(PublishedEntryFn entry) {
    PublishedLayoutRun run;
    State state;
    state.run = &run;
    g = &state;
    SetUp(state);

    Check(Call(entry, 2) == 0, "Prepare answers 0");
    Check(Get<int32_t>(state.record, kMaxSpace) == 0 && Get<int32_t>(state.record, kBufferSpace) == 0,
          "Prepare zeroes maxSpace (56) and bufferSpace (60)");

    const int16_t start = Call(entry, 3);
    Check(start == 0, "Start answers 0 (answered " + std::to_string(start) + ")");
    Check(state.advanceCalls == 1, "Start calls advanceState (280) once");
    // Once after the render, and every 50 ms while it runs (none on a quick render).
    Check(state.progressCalls >= 1 && state.abortCalls == state.progressCalls,
          "Start calls progressProc (12), then abortProc (4), each time");
    Check(state.openReads == 1 && state.valuesRead == 3,
          "Start reads the recorded values through descriptorParameters (432)");
    Check(RectEmpty(kInRect) && RectEmpty(kOutRect) && RectEmpty(kMaskRect),
          "Start empties inRect (64), outRect (76) and maskRect (116)");
    size_t changed = 0, alphaChanged = 0, opaqueInside = 0;
    for (size_t i = 0; i < state.input.size(); ++i) changed += state.output[i] != state.input[i];
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const size_t a = (size_t(y) * kWidth + x) * kPlanesRGBA + kColours;
            alphaChanged += state.output[a] != state.input[a];
            opaqueInside += InTransparentBlock(x, y) && state.output[a] == 255;
        }
    Check(changed > state.input.size() / 2,
          "the image changed (" + std::to_string(changed) + " of " + std::to_string(state.input.size()) + " samples)");
    // The transparency plane is blurred with the colour: the transparent block's edge softens
    // into its opaque surroundings, and no pixel of the block becomes opaque.
    Check(alphaChanged > size_t(kWidth * kHeight) / 4 && opaqueInside == 0,
          "inTransparencyMask (330) and inLayerPlanes (328) give a layer with transparency: plane 3 blurred (" +
              std::to_string(alphaChanged) + " of " + std::to_string(kWidth * kHeight) + " samples changed)");
    Check(state.blocksAllocated > 0 && state.blocks.empty(), "image memory came from the Buffer suite and went back");

    // A host calls Continue while the record still asks for an area; Start left none.
    for (int i = 0; i < 4 && !(RectEmpty(kInRect) && RectEmpty(kOutRect) && RectEmpty(kMaskRect)); ++i)
        Check(Call(entry, 4) == 0, "Continue answers 0");
    Check(Call(entry, 5) == 0, "Finish answers 0");

    bool guard = true;
    for (size_t i = kRecordSize; i < state.record.size(); ++i) guard = guard && state.record[i] == kGuard;
    Check(guard, "nothing is written past the record's 556 bytes");
    const char* buffer = "Photoshop Buffer Suite for Plug-ins";
    const char* handle = "Photoshop Handle Suite for Plug-ins";
    Check(state.acquired[buffer] == 3 && state.released[buffer] == 3 && state.acquired[handle] == 3 &&
              state.released[handle] == 3,
          "each selector acquires and releases the Buffer and Handle suites through sSPBasic (464)");
    Check(state.unusedCalls == 0, "no procedure outside those the module uses is called");
    g = nullptr;
    return run;
}

}  // namespace pelidorn
