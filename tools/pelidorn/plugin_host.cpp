// The host side of the filter protocol. See plugin_host.h for what it offers; the comments
// here say where it follows a real host's behaviour and where it simplifies.
#include "tools/pelidorn/plugin_host.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>

namespace pelidorn {

namespace {

constexpr SPErr kSPSuiteNotFoundError = 0x53214664;  // 'S!Fd'
constexpr OSErr errAECoercionFail = -1700;
constexpr OSErr errAEDescNotFound = -1701;

// ---- handles: a record whose first field is the master pointer ----------------------------

struct HostHandle {
    char* data;
    int32_t size;
};

struct Session;
Session* current = nullptr;

struct Session {
    HostDocument* doc = nullptr;
    const RunOptions* options = nullptr;
    RunResult* result = nullptr;
    std::unique_ptr<FilterRecord> record;
    SPBasicSuite basic{};
    PSBufferSuite1 bufferSuite{};
    PSHandleSuite2 handleSuite{};
    HandleProcs handleProcs{};
    ReadDescriptorProcs readProcs{};
    WriteDescriptorProcs writeProcs{};
    PIDescriptorParameters descriptorParameters{};
    PlatformData platform{};
    Str255 errorString{};
    std::map<HostHandle*, bool> handles;    // live handles
    std::map<void*, uint32_t> buffers;      // live Buffer-suite blocks and their sizes
    uint64_t bufferBytes = 0;
    // The area handed out by the last advanceState, committed into the output when the next
    // request comes or the selector returns.
    Rect handedOut{};
    int16_t handedLo = 0, handedHi = -1;
    std::vector<uint8_t> inBuffer, outBuffer, maskBuffer;
    std::vector<uint8_t> output;            // the output document's pixels
};

// The host ran short of memory of its own; its procedure answers out of memory (an
// exception must not pass through the plug-in's frames).
void HostShortOfMemory() {
    if (current && current->result) current->result->hostOutOfMemory = true;
}

Handle NewHandle(int32_t size) {
    if (size < 0) return nullptr;
    auto* h = new (std::nothrow) HostHandle{static_cast<char*>(std::calloc(size_t(size) + 1, 1)), size};
    if (!h || !h->data) {
        if (h) std::free(h->data);
        delete h;
        HostShortOfMemory();
        return nullptr;
    }
    if (current) {
        try {
            current->handles[h] = true;
        } catch (const std::bad_alloc&) {
            std::free(h->data);
            delete h;
            HostShortOfMemory();
            return nullptr;
        }
    }
    return &h->data;
}
HostHandle* FromHandle(Handle h) { return reinterpret_cast<HostHandle*>(h); }
void DisposeHandle(Handle h) {
    if (!h) return;
    HostHandle* r = FromHandle(h);
    if (current) current->handles.erase(r);
    std::free(r->data);
    delete r;
}
int32_t GetHandleSize(Handle h) { return h ? FromHandle(h)->size : 0; }
OSErr SetHandleSize(Handle h, int32_t size) {
    if (!h) return nilHandleErr;
    if (size < 0) return paramErr;
    HostHandle* r = FromHandle(h);
    char* p = static_cast<char*>(std::realloc(r->data, size_t(size) + 1));
    if (!p) {
        HostShortOfMemory();
        return memFullErr;
    }
    if (size > r->size) std::memset(p + r->size, 0, size_t(size - r->size));
    r->data = p;
    r->size = size;
    return noErr;
}
Ptr LockHandle(Handle h, Boolean) { return h ? *h : nullptr; }
void UnlockHandle(Handle) {}
void RecoverSpace(int32_t) {}
void SetLockSuite(Handle h, Boolean lock, Ptr* address, Boolean* oldLock) {
    if (oldLock) *oldLock = 0;
    if (address) *address = (h && lock) ? *h : nullptr;
}

// ---- descriptors: a handle holding "PLDS", a count and fixed-size items --------------------

Handle EncodeDescriptor(const std::vector<DescriptorItem>& items) {
    const int32_t size = int32_t(8 + items.size() * 24);
    Handle h = NewHandle(size);
    if (!h) return nullptr;
    char* p = *h;
    std::memcpy(p, "PLDS", 4);
    const uint32_t n = uint32_t(items.size());
    std::memcpy(p + 4, &n, 4);
    for (size_t i = 0; i < items.size(); ++i) {
        char* q = p + 8 + i * 24;
        std::memcpy(q, &items[i].key, 4);
        std::memcpy(q + 4, &items[i].type, 4);
        if (items[i].type == typeFloat) std::memcpy(q + 8, &items[i].number, 8);
        else if (items[i].type == typeBoolean) q[8] = items[i].boolean ? 1 : 0;
        else std::memcpy(q + 8, &items[i].integer, 4);
    }
    return h;
}

bool DecodeDescriptor(Handle h, std::vector<DescriptorItem>& items) {
    items.clear();
    if (!h) return true;
    const HostHandle* r = FromHandle(h);
    if (r->size < 8 || std::memcmp(r->data, "PLDS", 4) != 0) return false;
    uint32_t n = 0;
    std::memcpy(&n, r->data + 4, 4);
    if (uint64_t(r->size) < 8 + uint64_t(n) * 24) return false;
    for (uint32_t i = 0; i < n; ++i) {
        const char* q = r->data + 8 + size_t(i) * 24;
        DescriptorItem item;
        std::memcpy(&item.key, q, 4);
        std::memcpy(&item.type, q + 4, 4);
        if (item.type == typeFloat) std::memcpy(&item.number, q + 8, 8);
        else if (item.type == typeBoolean) item.boolean = q[8] != 0;
        else std::memcpy(&item.integer, q + 8, 4);
        items.push_back(item);
    }
    return true;
}

struct ReadToken {
    std::vector<DescriptorItem> items;
    size_t next = 0;
    const DescriptorItem* item = nullptr;
};
struct WriteToken {
    std::vector<DescriptorItem> items;
};

ReadToken* AsRead(PIReadDescriptor t) { return reinterpret_cast<ReadToken*>(t); }
WriteToken* AsWrite(PIWriteDescriptor t) { return reinterpret_cast<WriteToken*>(t); }

PIReadDescriptor OpenRead(PIDescriptorHandle descriptor, DescriptorKeyIDArray) {
    auto* t = new (std::nothrow) ReadToken;
    if (!t) {
        HostShortOfMemory();
        return nullptr;
    }
    try {
        if (!DecodeDescriptor(descriptor, t->items)) t->items.clear();
    } catch (const std::bad_alloc&) {
        delete t;
        HostShortOfMemory();
        return nullptr;
    }
    return reinterpret_cast<PIReadDescriptor>(t);
}
OSErr CloseRead(PIReadDescriptor token) {
    delete AsRead(token);
    return noErr;
}
Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
    ReadToken* t = AsRead(token);
    if (!t || t->next >= t->items.size()) return 0;
    t->item = &t->items[t->next++];
    if (key) *key = t->item->key;
    if (type) *type = t->item->type;
    if (flags) *flags = 0;
    return 1;
}
OSErr GetInteger(PIReadDescriptor token, int32_t* value) {
    ReadToken* t = AsRead(token);
    if (!t || !t->item) return errAEDescNotFound;
    if (t->item->type != typeInteger) return errAECoercionFail;
    *value = t->item->integer;
    return noErr;
}
OSErr GetFloat(PIReadDescriptor token, double* value) {
    ReadToken* t = AsRead(token);
    if (!t || !t->item) return errAEDescNotFound;
    if (t->item->type == typeFloat) *value = t->item->number;
    else if (t->item->type == typeInteger) *value = t->item->integer;  // a host coerces
    else return errAECoercionFail;
    return noErr;
}
OSErr GetBoolean(PIReadDescriptor token, Boolean* value) {
    ReadToken* t = AsRead(token);
    if (!t || !t->item) return errAEDescNotFound;
    if (t->item->type != typeBoolean) return errAECoercionFail;
    *value = t->item->boolean ? 1 : 0;
    return noErr;
}
// Value kinds this host does not record: present (a plug-in tests that all 18 exist), and
// answering that the value cannot be had as that kind.
OSErr GetUnitFloat(PIReadDescriptor, DescriptorUnitID*, double*) { return errAECoercionFail; }
OSErr GetHandleValue(PIReadDescriptor, Handle*) { return errAECoercionFail; }
OSErr GetEnum(PIReadDescriptor, DescriptorEnumID*) { return errAECoercionFail; }
OSErr GetClass(PIReadDescriptor, DescriptorClassID*) { return errAECoercionFail; }
OSErr GetRef(PIReadDescriptor, PIDescriptorSimpleReference*) { return errAECoercionFail; }
OSErr GetObject(PIReadDescriptor, DescriptorClassID*, PIDescriptorHandle*) { return errAECoercionFail; }
OSErr GetCount(PIReadDescriptor, uint32_t*) { return errAECoercionFail; }
OSErr GetString(PIReadDescriptor, Str255*) { return errAECoercionFail; }
OSErr GetPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value) {
    OSErr e = GetInteger(token, value);
    if (e == noErr) *value = *value < min ? min : *value > max ? max : *value;
    return e;
}
OSErr GetPinnedFloat(PIReadDescriptor token, const double* min, const double* max, double* value) {
    OSErr e = GetFloat(token, value);
    if (e == noErr) *value = *value < *min ? *min : *value > *max ? *max : *value;
    return e;
}
OSErr GetPinnedUnitFloat(PIReadDescriptor, const double*, const double*, DescriptorUnitID*, double*) {
    return errAECoercionFail;
}

PIWriteDescriptor OpenWrite() {
    auto* t = new (std::nothrow) WriteToken;
    if (!t) HostShortOfMemory();
    return reinterpret_cast<PIWriteDescriptor>(t);
}
OSErr CloseWrite(PIWriteDescriptor token, PIDescriptorHandle* descriptor) {
    WriteToken* t = AsWrite(token);
    if (!t) return paramErr;
    Handle h = EncodeDescriptor(t->items);
    delete t;
    if (descriptor) *descriptor = h;
    else DisposeHandle(h);
    return h ? noErr : memFullErr;
}
OSErr Put(PIWriteDescriptor token, DescriptorItem item) {
    WriteToken* t = AsWrite(token);
    if (!t) return paramErr;
    for (auto& existing : t->items)
        if (existing.key == item.key) {
            existing = item;  // a key written twice keeps its last value
            return noErr;
        }
    try {
        t->items.push_back(item);
    } catch (const std::bad_alloc&) {
        HostShortOfMemory();
        return memFullErr;
    }
    return noErr;
}
OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
    DescriptorItem i;
    i.key = key;
    i.type = typeInteger;
    i.integer = value;
    return Put(token, i);
}
OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* value) {
    DescriptorItem i;
    i.key = key;
    i.type = typeFloat;
    i.number = value ? *value : 0.0;
    return Put(token, i);
}
OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
    DescriptorItem i;
    i.key = key;
    i.type = typeBoolean;
    i.boolean = value != 0;
    return Put(token, i);
}
OSErr PutUnitFloat(PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID, const double*) { return errAECoercionFail; }
OSErr PutHandleValue(PIWriteDescriptor, DescriptorKeyID, Handle) { return errAECoercionFail; }
OSErr PutEnum(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, DescriptorEnumID) { return errAECoercionFail; }
OSErr PutClass(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) { return errAECoercionFail; }
OSErr PutRef(PIWriteDescriptor, DescriptorKeyID, const PIDescriptorSimpleReference*) { return errAECoercionFail; }
OSErr PutObject(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle) { return errAECoercionFail; }
OSErr PutCount(PIWriteDescriptor, DescriptorKeyID, uint32_t) { return errAECoercionFail; }
OSErr PutString(PIWriteDescriptor, DescriptorKeyID, ConstStr255Param) { return errAECoercionFail; }
OSErr PutScopedClass(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) { return errAECoercionFail; }
OSErr PutScopedObject(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle*) {
    return errAECoercionFail;
}

// ---- Buffer suite ---------------------------------------------------------------------------

Ptr BufferNew(uint32_t* requested, uint32_t minimum) {
    Session* s = current;
    if (!s || !requested) return nullptr;
    uint64_t size = *requested;
    const uint64_t budget = s->options->bufferBudget;
    auto refuse = [&](bool overBudget) -> Ptr {
        RunResult& r = *s->result;
        r.refusedBuffers++;
        if (*requested >= r.largestRefused) {
            r.largestRefused = *requested;
            r.largestOverBudget = overBudget;
            r.takenWhenRefused = s->bufferBytes;
            r.mappedWhenRefused = !overBudget && s->options->mappedBytes ? s->options->mappedBytes() : 0;
        }
        return nullptr;
    };
    if (s->options->refuseBuffers && size >= s->options->grantBelow) return refuse(true);
    if (budget && s->bufferBytes + size > budget) size = minimum;
    if (budget && s->bufferBytes + size > budget) return refuse(true);
    void* p = std::malloc(size ? size_t(size) : 1);
    if (!p) return refuse(false);
    try {
        s->buffers[p] = uint32_t(size);
    } catch (const std::bad_alloc&) {
        std::free(p);
        return refuse(false);
    }
    *requested = uint32_t(size);
    s->bufferBytes += size;
    if (s->bufferBytes > s->result->peakBufferBytes) s->result->peakBufferBytes = s->bufferBytes;
    return static_cast<Ptr>(p);
}
void BufferDispose(Ptr* buffer) {
    Session* s = current;
    if (!buffer || !*buffer) return;
    if (s) {
        auto it = s->buffers.find(*buffer);
        if (it != s->buffers.end()) {
            s->bufferBytes -= it->second;
            s->buffers.erase(it);
        }
    }
    std::free(*buffer);
    *buffer = nullptr;
}
uint32_t BufferGetSize(Ptr buffer) {
    Session* s = current;
    if (!s || !buffer) return 0;
    auto it = s->buffers.find(buffer);
    return it == s->buffers.end() ? 0 : it->second;
}
uint32_t BufferGetSpace() {
    Session* s = current;
    const uint64_t budget = s && s->options->bufferBudget ? s->options->bufferBudget : (uint64_t(1) << 31);
    const uint64_t used = s ? s->bufferBytes : 0;
    return uint32_t(budget > used ? std::min<uint64_t>(budget - used, 0xFFFFFFFFu) : 0);
}

// ---- basic suite ----------------------------------------------------------------------------

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    Session* s = current;
    if (!s || !name || !suite) return kSPSuiteNotFoundError;
    if (std::strcmp(name, PEL_BUFFER_SUITE_NAME) == 0 && version == kPSBufferSuiteVersion1) {
        *suite = &s->bufferSuite;
    } else if (std::strcmp(name, PEL_HANDLE_SUITE_NAME) == 0 && version == kPSHandleSuiteVersion2) {
        *suite = &s->handleSuite;
    } else {
        *suite = nullptr;
        return kSPSuiteNotFoundError;
    }
    s->result->suitesAcquired++;
    return 0;
}
SPErr ReleaseSuite(const char*, int32_t) {
    if (current) current->result->suitesReleased++;
    return 0;
}
SPBoolean IsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
SPErr AllocateBlock(size_t size, void** block) {
    *block = std::malloc(size ? size : 1);
    if (!*block) HostShortOfMemory();
    return *block ? 0 : memFullErr;
}
SPErr FreeBlock(void* block) {
    std::free(block);
    return 0;
}
SPErr ReallocateBlock(void* block, size_t size, void** out) {
    *out = std::realloc(block, size ? size : 1);
    if (!*out) HostShortOfMemory();
    return *out ? 0 : memFullErr;
}
SPErr Undefined() { return kSPSuiteNotFoundError; }

// ---- progress, abort ------------------------------------------------------------------------

void Progress(int32_t done, int32_t total) {
    Session* s = current;
    if (!s) return;
    s->result->progressCalls++;
    try {
        if (s->options->progress) s->options->progress(done, total);
    } catch (const std::bad_alloc&) {
        // The display goes without this update.
    }
}
Boolean Abort() {
    Session* s = current;
    return (s && s->options->abort && s->options->abort()) ? 1 : 0;
}

// ---- advanceState: the image area the record asks for ---------------------------------------

bool Empty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

// Writes the output buffer of the area handed out last back into the output document.
void Commit(Session* s) {
    const Rect r = s->handedOut;
    if (Empty(r) || s->outBuffer.empty()) return;
    const HostDocument& d = *s->doc;
    const int sb = d.sampleBytes();
    const int planes = d.planes();
    const int lo = s->handedLo, hi = s->handedHi;
    const int n = hi - lo + 1;
    for (int y = r.top; y < r.bottom; ++y) {
        if (y < 0 || y >= d.height) continue;
        for (int x = r.left; x < r.right; ++x) {
            if (x < 0 || x >= d.width) continue;
            const uint8_t* src = s->outBuffer.data() + (size_t(y - r.top) * (r.right - r.left) + (x - r.left)) * n * sb;
            uint8_t* dst = s->output.data() + (size_t(y) * d.width + x) * planes * sb + size_t(lo) * sb;
            std::memcpy(dst, src, size_t(n) * sb);
        }
    }
    s->handedOut = Rect{};
}

OSErr AdvanceStateAreas();

OSErr AdvanceState() {
    try {
        return AdvanceStateAreas();
    } catch (const std::bad_alloc&) {
        // No area could be made for the request: nothing is handed out.
        Session* s = current;
        if (s) {
            HostShortOfMemory();
            s->handedOut = Rect{};
            FilterRecord& rec = *s->record;
            rec.inData = rec.outData = rec.maskData = nullptr;
        }
        return memFullErr;
    }
}

OSErr AdvanceStateAreas() {
    Session* s = current;
    if (!s) return paramErr;
    s->result->advanceStateCalls++;
    FilterRecord& rec = *s->record;
    const HostDocument& d = *s->doc;
    Commit(s);
    const int sb = d.sampleBytes();
    const int planes = d.planes();
    if (rec.inLoPlane < 0 || rec.inHiPlane >= planes || rec.outLoPlane < 0 || rec.outHiPlane >= planes)
        return paramErr;
    // The input rectangle is in sampled coordinates: pixel (x, y) of the request is the image's
    // pixel (x * rate, y * rate). Outside the image the input padding answers (255 here: the
    // value the plug-in asks for); this host samples, it does not average.
    const int inRate = rec.inputRate > 0 ? rec.inputRate >> 16 : 1;
    const int maskRate = rec.maskRate > 0 ? rec.maskRate >> 16 : 1;
    auto fill = [&](const Rect& r, int lo, int hi, int rate, int16_t padding, std::vector<uint8_t>& buf,
                    const std::vector<uint8_t>& source) -> int32_t {
        if (Empty(r) || hi < lo) {
            buf.clear();
            return 0;
        }
        const int w = r.right - r.left, h = r.bottom - r.top, n = hi - lo + 1;
        const size_t rowBytes = size_t(w) * n * sb;
        buf.assign(rowBytes * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int ix = (r.left + x) * rate, iy = (r.top + y) * rate;
                uint8_t* dst = buf.data() + y * rowBytes + size_t(x) * n * sb;
                if (ix < 0 || iy < 0 || ix >= d.width || iy >= d.height) {
                    if (d.depth == 32) {
                        const float v = padding >= 0 ? float(padding) / 255.0f : 0.0f;
                        for (int p = 0; p < n; ++p) std::memcpy(dst + p * 4, &v, 4);
                    } else if (d.depth == 16) {
                        const uint16_t v = padding >= 0 ? uint16_t(padding * 32768 / 255) : 0;
                        for (int p = 0; p < n; ++p) std::memcpy(dst + p * 2, &v, 2);
                    } else {
                        std::memset(dst, padding >= 0 ? padding : 0, size_t(n));
                    }
                    continue;
                }
                std::memcpy(dst, source.data() + (size_t(iy) * d.width + ix) * planes * sb + size_t(lo) * sb,
                            size_t(n) * sb);
            }
        return int32_t(rowBytes);
    };
    // A request for every plane of an area inside the image, unsampled, is answered with the
    // document's own rows (row bytes: the document's), as a host hands out its tiles: no copy.
    auto direct = [&](const Rect& r, int lo, int hi, int rate) {
        return rate == 1 && lo == 0 && hi == planes - 1 && !Empty(r) && r.left >= 0 && r.top >= 0 &&
               r.right <= d.width && r.bottom <= d.height;
    };
    auto at = [&](std::vector<uint8_t>& pixels, const Rect& r) {
        return pixels.data() + (size_t(r.top) * d.width + size_t(r.left)) * planes * sb;
    };
    const int32_t documentRowBytes = int32_t(d.rowBytes());
    if (direct(rec.inRect, rec.inLoPlane, rec.inHiPlane, inRate)) {
        s->inBuffer = {};
        rec.inData = at(s->doc->pixels, rec.inRect);
        rec.inRowBytes = documentRowBytes;
    } else {
        rec.inRowBytes = fill(rec.inRect, rec.inLoPlane, rec.inHiPlane, inRate, rec.inputPadding, s->inBuffer, d.pixels);
        rec.inData = s->inBuffer.empty() ? nullptr : s->inBuffer.data();
    }
    // The output area starts as the current output (the source at first). Output is never
    // sampled: the out rectangle is in the coordinates the plug-in writes.
    if (direct(rec.outRect, rec.outLoPlane, rec.outHiPlane, 1)) {
        s->outBuffer = {};
        rec.outData = at(s->output, rec.outRect);
        rec.outRowBytes = documentRowBytes;
        s->handedOut = Rect{};  // written in place: nothing to commit
    } else {
        rec.outRowBytes = fill(rec.outRect, rec.outLoPlane, rec.outHiPlane, 1, rec.outputPadding, s->outBuffer, s->output);
        rec.outData = s->outBuffer.empty() ? nullptr : s->outBuffer.data();
        s->handedOut = rec.outRect;
        s->handedLo = rec.outLoPlane;
        s->handedHi = rec.outHiPlane;
    }
    if (rec.haveMask && !Empty(rec.maskRect)) {
        const Rect r = rec.maskRect;
        const int w = r.right - r.left, h = r.bottom - r.top;
        s->maskBuffer.assign(size_t(w) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int ix = (r.left + x) * maskRate, iy = (r.top + y) * maskRate;
                s->maskBuffer[size_t(y) * w + x] =
                    (ix < 0 || iy < 0 || ix >= d.width || iy >= d.height) ? uint8_t(rec.maskPadding)
                                                                          : d.selection[size_t(iy) * d.width + ix];
            }
        rec.maskData = s->maskBuffer.data();
        rec.maskRowBytes = w;
    } else {
        rec.maskData = nullptr;
        rec.maskRowBytes = 0;
    }
    return noErr;
}

bool AnyRequest(const FilterRecord& r) { return !Empty(r.inRect) || !Empty(r.outRect) || !Empty(r.maskRect); }

void SetupSession(Session& s) {
    s.basic = {AcquireSuite, ReleaseSuite, IsEqual, AllocateBlock, FreeBlock, ReallocateBlock, Undefined};
    s.bufferSuite = {BufferNew, BufferDispose, BufferGetSize, BufferGetSpace};
    s.handleSuite = {NewHandle, DisposeHandle, DisposeHandle, SetLockSuite, GetHandleSize, SetHandleSize, RecoverSpace};
    s.handleProcs = {kCurrentHandleProcsVersion, kCurrentHandleProcsCount, NewHandle, DisposeHandle, GetHandleSize,
                     SetHandleSize, LockHandle, UnlockHandle, RecoverSpace, DisposeHandle};
    s.readProcs = {kCurrentReadDescriptorProcsVersion, kCurrentReadDescriptorProcsCount, OpenRead, CloseRead,
                   GetKey, GetInteger, GetFloat, GetUnitFloat, GetBoolean, GetHandleValue, GetHandleValue,
                   GetEnum, GetClass, GetRef, GetObject, GetCount, GetString, GetPinnedInteger,
                   GetPinnedFloat, GetPinnedUnitFloat};
    s.writeProcs = {kCurrentWriteDescriptorProcsVersion, kCurrentWriteDescriptorProcsCount, OpenWrite, CloseWrite,
                    PutInteger, PutFloat, PutUnitFloat, PutBoolean, PutHandleValue, PutHandleValue, PutEnum,
                    PutClass, PutRef, PutObject, PutCount, PutString, PutScopedClass, PutScopedObject};
}

}  // namespace

int16_t HostDocument::imageMode() const {
    if (colorChannels == 1) return depth == 32 ? plugInModeGray32 : depth == 16 ? plugInModeGray16 : plugInModeGrayScale;
    // Two colour planes: a multichannel document (there is no 32-bit multichannel mode).
    if (colorChannels == 2)
        return depth == 32 ? plugInModeRGB96 : depth == 16 ? plugInModeDeepMultichannel : plugInModeMultichannel;
    return depth == 32 ? plugInModeRGB96 : depth == 16 ? plugInModeRGB48 : plugInModeRGBColor;
}

int16_t HostDocument::filterCase() const {
    const bool sel = !selection.empty();
    if (alpha) return sel ? 5 : 4;
    return sel ? 2 : 1;
}

RunResult RunFilter(EntryPointFn entry, HostDocument& document, const RunOptions& options) {
    RunResult result;
    if (!entry) {
        result.error = "no entry point";
        return result;
    }
    if (document.width <= 0 || document.height <= 0 || document.width > 32767 || document.height > 32767) {
        result.error = "the filter interface takes images of 1 to 32767 pixels a side";
        return result;
    }
    if (document.pixels.size() != document.rowBytes() * document.height) {
        result.error = "document pixels do not match its size";
        return result;
    }
    if (!document.selection.empty() && document.selection.size() != size_t(document.width) * document.height) {
        result.error = "selection does not match the document's size";
        return result;
    }
    if (current) {
        result.error = "a filter is already running";
        return result;
    }
    Session s;
    s.doc = &document;
    s.options = &options;
    s.result = &result;
    // The output document starts as a copy of the source; without memory for it (or for
    // the record) the run fails before the plug-in is called.
    try {
        s.record.reset(new FilterRecord{});
        s.output = document.pixels;
    } catch (const std::bad_alloc&) {
        result.hostOutOfMemory = true;
        result.error = "out of memory for the output image";
        return result;
    }
    SetupSession(s);
    current = &s;

    FilterRecord& rec = *s.record;
    rec.serialNumber = 0;
    rec.abortProc = options.withAbortProc ? Abort : nullptr;
    rec.progressProc = options.withProgressProc ? Progress : nullptr;
    rec.parameters = nullptr;
    rec.imageSize = {int16_t(document.height), int16_t(document.width)};
    rec.planes = int16_t(document.planes());
    // The filter area is the selection's bounds, or the whole image without a selection.
    rec.filterRect = {0, 0, int16_t(document.height), int16_t(document.width)};
    if (!document.selection.empty()) {
        int top = document.height, left = document.width, bottom = 0, right = 0;
        for (int y = 0; y < document.height; ++y)
            for (int x = 0; x < document.width; ++x)
                if (document.selection[size_t(y) * document.width + x]) {
                    top = std::min(top, y), left = std::min(left, x);
                    bottom = std::max(bottom, y + 1), right = std::max(right, x + 1);
                }
        if (bottom > top) rec.filterRect = {int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
    }
    rec.background = {65535, 65535, 65535};
    rec.foreground = {0, 0, 0};
    rec.maxSpace = int32_t(std::min<uint64_t>(options.bufferBudget ? options.bufferBudget : uint64_t(1) << 31,
                                              0x7FFFFFFF));
    rec.bufferSpace = 0;
    rec.isFloating = 0;
    rec.haveMask = document.selection.empty() ? 0 : 1;
    rec.autoMask = 1;
    std::memcpy(&rec.hostSig, "NDLP", 4);  // 'PLDN' as a little-endian code
    rec.imageMode = document.imageMode();
    rec.imageHRes = rec.imageVRes = 72 << 16;
    rec.wholeSize = rec.imageSize;
    rec.platformData = &s.platform;
    rec.handleProcs = &s.handleProcs;
    rec.filterCase = document.filterCase();
    rec.dummyPlaneValue = -1;
    rec.advanceState = options.withAdvanceState ? AdvanceState : nullptr;
    rec.supportsAbsolute = 0;
    rec.supportsPadding = 1;
    rec.inputPadding = rec.outputPadding = rec.maskPadding = 0;
    rec.samplingSupport = 1;  // integral sampling rates
    rec.inputRate = rec.maskRate = 1 << 16;
    // Layer description as a host gives it: a layer with transparency has its colour planes as
    // layer planes plus the transparency mask; a flat image has them as non-layer planes.
    if (document.alpha) {
        rec.inLayerPlanes = rec.outLayerPlanes = int16_t(document.colorChannels);
        rec.inTransparencyMask = rec.outTransparencyMask = 1;
    } else {
        rec.inNonLayerPlanes = rec.outNonLayerPlanes = int16_t(document.colorChannels);
    }
    s.descriptorParameters.descriptorParametersVersion = kCurrentDescriptorParametersVersion;
    s.descriptorParameters.playInfo = plugInDialogDontDisplay;
    s.descriptorParameters.recordInfo = plugInDialogOptional;
    s.descriptorParameters.descriptor = options.recorded ? EncodeDescriptor(options.playback) : nullptr;
    s.descriptorParameters.readDescriptorProcs = &s.readProcs;
    s.descriptorParameters.writeDescriptorProcs = &s.writeProcs;
    rec.descriptorParameters = &s.descriptorParameters;
    rec.errorString = &s.errorString;
    rec.sSPBasic = options.withBasicSuite ? &s.basic : nullptr;
    rec.depth = document.depth;

    intptr_t data = 0;
    auto call = [&](int16_t selector) -> int16_t {
        int16_t r = 0;
        try {
            result.selectorsCalled.push_back(selector);
        } catch (const std::bad_alloc&) {
            // The list of selectors called is a record only: it goes without this one.
        }
        entry(uint16_t(selector), &rec, &data, &r);
        Commit(&s);
        if (r != 0 && result.failedSelector < 0) {
            result.result = r;
            result.failedSelector = selector;
        }
        return r;
    };

    bool ok = true;
    if (!options.recorded) ok = call(filterSelectorParameters) == 0;
    if (ok) ok = call(filterSelectorPrepare) == 0;
    if (ok) {
        const int16_t r = call(filterSelectorStart);
        // The descriptor the plug-in wrote back (also after a failed render).
        if (s.descriptorParameters.descriptor) {
            try {
                result.wroteDescriptor = DecodeDescriptor(s.descriptorParameters.descriptor, result.written);
            } catch (const std::bad_alloc&) {
                result.hostOutOfMemory = true;
                result.wroteDescriptor = false;
            }
        }
        ok = r == 0;
    }
    int rounds = 0;
    while (ok && AnyRequest(rec)) {
        if (++rounds > 1000000) {
            result.error = "the plug-in keeps asking for image areas";
            ok = false;
            break;
        }
        ok = call(filterSelectorContinue) == 0;
    }
    if (ok) call(filterSelectorFinish);
    if (s.descriptorParameters.descriptor) DisposeHandle(s.descriptorParameters.descriptor);
    s.descriptorParameters.descriptor = nullptr;
    result.liveHandlesAfter = int(s.handles.size());
    for (auto& h : s.handles) {
        std::free(h.first->data);
        delete h.first;
    }
    s.handles.clear();
    for (auto& b : s.buffers) std::free(b.first);
    s.buffers.clear();
    current = nullptr;
    if (ok && result.result == 0 && result.error.empty() && !options.discardOutput)
        document.pixels = std::move(s.output);
    return result;
}

int16_t RunAbout(EntryPointFn entry) {
    Session s;
    RunResult result;
    RunOptions options;
    s.options = &options;
    s.result = &result;
    SetupSession(s);
    current = &s;
    AboutRecord about{};
    about.platformData = &s.platform;
    about.sSPBasic = &s.basic;
    intptr_t data = 0;
    int16_t r = 0;
    entry(uint16_t(filterSelectorAbout), &about, &data, &r);
    current = nullptr;
    return r;
}

std::string FormatDescriptorValue(const DescriptorItem& item) {
    std::string key(4, ' ');
    for (int i = 0; i < 4; ++i) key[i] = char((item.key >> (24 - 8 * i)) & 0xFF);
    char value[64];
    if (item.type == typeFloat) {
        // The shortest text that reads back to the same double.
        auto r = std::to_chars(value, value + sizeof value - 1, item.number);
        *r.ptr = 0;
    } else if (item.type == typeBoolean) {
        std::snprintf(value, sizeof value, "%d", item.boolean ? 1 : 0);
    } else {
        std::snprintf(value, sizeof value, "%d", int(item.integer));
    }
    return key + "=" + value;
}

}  // namespace pelidorn
