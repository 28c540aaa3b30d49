// host_api.h - the host's filter interface as the plug-in sees it.
//
// Our own definitions of the structures and procedure tables of the Photoshop-compatible
// filter interface that Pelidorn reads and writes: the filter record, the About record,
// rectangles and points, the basic suite, the Buffer and Handle suites, the handle and
// buffer procedures, the scripting descriptor's parameters with its read and write
// procedure tables, colour services, selector constants and result codes.
//
// Layout rules:
// - Fixed-width types only. The host's ABI "long" is 32 bits on every platform it runs on,
//   so it is int32_t here (a Linux `long` would be 64 bits).
// - The filter record is packed to 4 bytes, as every 64-bit host of the interface lays it
//   out: a pointer that follows a 4-byte field sits at an offset that is a multiple of 4,
//   not of 8 (abortProc at 4, advanceState at 280, sSPBasic at 464; 556 bytes in all on x64).
//   Every other record, suite and procedure table keeps natural alignment, which is what
//   hosts use for them (ColorServicesInfo is then 56 bytes on a 64-bit target, the size the
//   host expects in its infoSize field).
// - Fields follow the interface's published order. FilterRecord ends after `depth` with the
//   colour-profile fields and a reserved tail: the plug-in reads and writes nothing past
//   `depth`, but a host that builds the record from this header allocates what a real host
//   allocates.
// - Procedure pointers use the platform's default C calling convention (x86-64 has one).
//
// Everything here is plain data: no constructors, no owning members, safe to zero-fill.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- basic types ---------------------------------------------------------------------------

using OSErr = int16_t;       // host result code (see the constants at the end)
using OSType = uint32_t;     // four-character code, first character in the top byte
using Boolean = uint8_t;     // 0 false, anything else true
using Fixed = int32_t;       // 16.16 fixed point
using Ptr = char*;
using Handle = char**;       // host memory handle; *h is the master pointer
using Str255 = uint8_t[256]; // length-prefixed string: length byte, then up to 255 characters
using ConstStr255Param = const uint8_t*;

// The host's point: vertical first.
struct Point {
  int16_t v;
  int16_t h;
};

// The host's rectangle: four signed 16-bit coordinates in the order top, left, bottom, right.
struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

// 32-bit rectangle and point (pixel maps of displayPixels).
struct VPoint {
  int32_t v;
  int32_t h;
};
struct VRect {
  int32_t top;
  int32_t left;
  int32_t bottom;
  int32_t right;
};

struct RGBColor {
  uint16_t red;
  uint16_t green;
  uint16_t blue;
};

using FilterColor = uint8_t[4];

// Platform data of the filter and About records: on Windows the host's main window.
struct PlatformData {
  intptr_t hwnd;
};

struct PlugInMonitor {
  Fixed gamma;
  Fixed redX, redY;
  Fixed greenX, greenY;
  Fixed blueX, blueY;
  Fixed whiteX, whiteY;
  Fixed ambient;
};

// ---- basic suite ---------------------------------------------------------------------------

using SPErr = int32_t;
using SPBoolean = int32_t; // 32 bits wide in every host's basic suite

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newBlock);
  SPErr (*Undefined)(void);
};

// ---- access suite (version 3): which module the host loaded -------------------------------

#define PEL_ACCESS_SUITE_NAME "SP Access Suite"
constexpr int32_t kSPAccessSuiteVersion3 = 3;
using SPPluginRef = struct SPPlugin*;
using SPAccessRef = struct SPAccess*;
struct SPPlatformAccessInfo {
  void* defaultModule;  // the module's instance (HINSTANCE)
  void* resourceAccess; // the module that holds its resources, when set
};
struct SPAccessSuite {
  SPErr (*AcquirePlugin)(SPPluginRef plugin, SPAccessRef* access);
  SPErr (*ReleasePlugin)(SPAccessRef access);
  SPErr (*GetAccessPlugin)(SPAccessRef access, SPPluginRef* plugin);
  SPErr (*GetAccessCount)(SPAccessRef access, int32_t* count);
  SPErr (*GetAccessInfo)(SPAccessRef access, SPPlatformAccessInfo* info);
  SPErr (*GetPluginAccess)(SPPluginRef plugin, SPAccessRef* access);
  SPErr (*GetCurrentPlugin)(SPPluginRef* plugin);
  SPErr (*SetCurrentPlugin)(SPPluginRef plugin);
};

// ---- Buffer suite (version 1) and Handle suite (version 2) ----------------------------------

#define PEL_BUFFER_SUITE_NAME "Photoshop Buffer Suite for Plug-ins"
#define PEL_HANDLE_SUITE_NAME "Photoshop Handle Suite for Plug-ins"
constexpr int32_t kPSBufferSuiteVersion1 = 1;
constexpr int32_t kPSHandleSuiteVersion2 = 2;

struct PSBufferSuite1 {
  // Allocates between *requestedSize and minimumSize bytes; writes the size granted back to
  // *requestedSize. Null when the host has no memory.
  Ptr (*New)(uint32_t* requestedSize, uint32_t minimumSize);
  // Frees *buffer and sets it to null.
  void (*Dispose)(Ptr* buffer);
  uint32_t (*GetSize)(Ptr buffer);
  uint32_t (*GetSpace)(void);
};

// The order hosts publish: DisposeRegularHandle third (at byte 16 on a 64-bit target).
struct PSHandleSuite2 {
  Handle (*New)(int32_t size);
  void (*Dispose)(Handle h);
  void (*DisposeRegularHandle)(Handle h);
  void (*SetLock)(Handle h, Boolean lock, Ptr* address, Boolean* oldLock);
  int32_t (*GetSize)(Handle h);
  OSErr (*SetSize)(Handle h, int32_t newSize);
  void (*RecoverSpace)(int32_t size);
};

// ---- procedure tables of the filter record -------------------------------------------------
// Every table starts with a 16-bit version and a 16-bit procedure count, followed by the
// procedure pointers. The presence tests of sdk_utils.h rely on that shape (HostProcTableView).

using BufferID = struct BufferOpaque*;

constexpr int16_t kCurrentBufferProcsVersion = 2;
constexpr int16_t kCurrentBufferProcsCount = 5;
struct BufferProcs {
  int16_t bufferProcsVersion;
  int16_t numBufferProcs;
  OSErr (*allocateProc)(int32_t size, BufferID* bufferID);
  Ptr (*lockProc)(BufferID bufferID, Boolean moveHigh);
  void (*unlockProc)(BufferID bufferID);
  void (*freeProc)(BufferID bufferID);
  int32_t (*spaceProc)(void);
};

constexpr int16_t kCurrentResourceProcsVersion = 3;
constexpr int16_t kCurrentResourceProcsCount = 4;
struct ResourceProcs {
  int16_t resourceProcsVersion;
  int16_t numResourceProcs;
  int16_t (*countProc)(OSType type);
  Handle (*getProc)(OSType type, int16_t index);
  void (*deleteProc)(OSType type, int16_t index);
  OSErr (*addProc)(OSType type, Handle data);
};

constexpr int16_t kCurrentHandleProcsVersion = 1;
constexpr int16_t kCurrentHandleProcsCount = 8;
struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  Handle (*newProc)(int32_t size);
  void (*disposeProc)(Handle h);
  int32_t (*getSizeProc)(Handle h);
  OSErr (*setSizeProc)(Handle h, int32_t newSize);
  Ptr (*lockProc)(Handle h, Boolean moveHigh);
  void (*unlockProc)(Handle h);
  void (*recoverSpaceProc)(int32_t size);
  void (*disposeRegularHandleProc)(Handle h);
};

// A view of any procedure table: version, count, then the procedures. Valid for reading
// the header and the first `count` entries of every table above.
struct HostProcTableView {
  int16_t version;
  int16_t count;
  void (*procs[1])(void);
};
static_assert(offsetof(HostProcTableView, procs) == offsetof(HandleProcs, newProc));
static_assert(offsetof(HostProcTableView, procs) == offsetof(BufferProcs, allocateProc));

// Pixel map handed to displayPixels (the dialog's preview).
struct PSPixelMask {
  PSPixelMask* next;
  void* maskData;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t maskDescription;
};
struct PSPixelMap {
  int32_t version;
  VRect bounds;
  int32_t imageMode;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t planeBytes;
  void* baseAddr;
  PSPixelMask* mat;
  PSPixelMask* masks;
  int32_t maskPhaseRow;
  int32_t maskPhaseCol;
};

// ---- colour services -----------------------------------------------------------------------

constexpr int16_t plugIncolorServicesChooseColor = 0;
constexpr int16_t plugIncolorServicesConvertColor = 1;
constexpr int16_t plugIncolorServicesSamplePoint = 2;
constexpr int16_t plugIncolorServicesGetSpecialColor = 3;

constexpr int16_t plugIncolorServicesChosenSpace = -1;
constexpr int16_t plugIncolorServicesRGBSpace = 0;
constexpr int16_t plugIncolorServicesHSBSpace = 1;
constexpr int16_t plugIncolorServicesCMYKSpace = 2;
constexpr int16_t plugIncolorServicesLabSpace = 3;
constexpr int16_t plugIncolorServicesGraySpace = 4;
constexpr int16_t plugIncolorServicesHSLSpace = 5;
constexpr int16_t plugIncolorServicesXYZSpace = 6;

struct ColorServicesInfo {
  int32_t infoSize; // sizeof(ColorServicesInfo): 56 on a 64-bit target
  int16_t selector;
  int16_t sourceSpace;
  int16_t resultSpace;
  Boolean resultGamutInfoValid;
  Boolean resultInGamut;
  void* reservedSourceSpaceInfo;
  void* reservedResultSpaceInfo;
  int16_t colorComponents[4];
  void* reserved;
  union {
    Str255* pickerPrompt;
    Point* globalSamplePoint;
    int32_t specialColorID;
  } selectorParameter;
};
#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(ColorServicesInfo) == 56, "the host expects infoSize 56 on 64-bit targets");
#endif

using ColorServicesProc = OSErr (*)(ColorServicesInfo* info);

// ---- scripting descriptor ------------------------------------------------------------------

using DescriptorKeyID = uint32_t;
using DescriptorTypeID = uint32_t;
using DescriptorUnitID = uint32_t;
using DescriptorEnumID = uint32_t;
using DescriptorClassID = uint32_t;
using DescriptorEnumTypeID = uint32_t;
using PIDescriptorHandle = Handle;
using PIReadDescriptor = struct PIOpaqueReadDescriptor*;
using PIWriteDescriptor = struct PIOpaqueWriteDescriptor*;
// Zero-terminated array of the keys the plug-in wants to read.
using DescriptorKeyIDArray = const DescriptorKeyID*;

// Value types of getKeyProc (four-character codes).
constexpr DescriptorTypeID typeInteger = 0x6C6F6E67;   // 'long'
constexpr DescriptorTypeID typeFloat = 0x646F7562;     // 'doub'
constexpr DescriptorTypeID typeBoolean = 0x626F6F6C;   // 'bool'
constexpr DescriptorTypeID typeUnitFloat = 0x556E7446; // 'UntF'
constexpr DescriptorTypeID typeObject = 0x4F626A63;    // 'Objc'

struct PIDescriptorSimpleReference {
  DescriptorTypeID desiredClass;
  DescriptorKeyID keyForm;
  struct {
    Str255 name;
    int32_t index;
    DescriptorTypeID type;
    DescriptorEnumID value;
  } keyData;
};

constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;
struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  PIReadDescriptor (*openReadDescriptorProc)(PIDescriptorHandle descriptor, DescriptorKeyIDArray keys);
  OSErr (*closeReadDescriptorProc)(PIReadDescriptor token);
  // True while a key is left: writes its key, value type and flags.
  Boolean (*getKeyProc)(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags);
  OSErr (*getIntegerProc)(PIReadDescriptor token, int32_t* value);
  OSErr (*getFloatProc)(PIReadDescriptor token, double* value);
  OSErr (*getUnitFloatProc)(PIReadDescriptor token, DescriptorUnitID* unit, double* value);
  OSErr (*getBooleanProc)(PIReadDescriptor token, Boolean* value);
  OSErr (*getTextProc)(PIReadDescriptor token, Handle* text);
  OSErr (*getAliasProc)(PIReadDescriptor token, Handle* alias);
  OSErr (*getEnumeratedProc)(PIReadDescriptor token, DescriptorEnumID* value);
  OSErr (*getClassProc)(PIReadDescriptor token, DescriptorClassID* value);
  OSErr (*getSimpleReferenceProc)(PIReadDescriptor token, PIDescriptorSimpleReference* value);
  OSErr (*getObjectProc)(PIReadDescriptor token, DescriptorClassID* type, PIDescriptorHandle* value);
  OSErr (*getCountProc)(PIReadDescriptor token, uint32_t* count);
  OSErr (*getStringProc)(PIReadDescriptor token, Str255* value);
  OSErr (*getPinnedIntegerProc)(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value);
  OSErr (*getPinnedFloatProc)(PIReadDescriptor token, const double* min, const double* max, double* value);
  OSErr (*getPinnedUnitFloatProc)(PIReadDescriptor token, const double* min, const double* max,
                                  DescriptorUnitID* unit, double* value);
};

constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;
struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  PIWriteDescriptor (*openWriteDescriptorProc)(void);
  OSErr (*closeWriteDescriptorProc)(PIWriteDescriptor token, PIDescriptorHandle* descriptor);
  OSErr (*putIntegerProc)(PIWriteDescriptor token, DescriptorKeyID key, int32_t value);
  OSErr (*putFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, const double* value);
  OSErr (*putUnitFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit, const double* value);
  OSErr (*putBooleanProc)(PIWriteDescriptor token, DescriptorKeyID key, Boolean value);
  OSErr (*putTextProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle text);
  OSErr (*putAliasProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle alias);
  OSErr (*putEnumeratedProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                             DescriptorEnumID value);
  OSErr (*putClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type);
  OSErr (*putSimpleReferenceProc)(PIWriteDescriptor token, DescriptorKeyID key,
                                  const PIDescriptorSimpleReference* value);
  OSErr (*putObjectProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                         PIDescriptorHandle value);
  OSErr (*putCountProc)(PIWriteDescriptor token, DescriptorKeyID key, uint32_t count);
  OSErr (*putStringProc)(PIWriteDescriptor token, DescriptorKeyID key, ConstStr255Param value);
  OSErr (*putScopedClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type);
  OSErr (*putScopedObjectProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                               PIDescriptorHandle* value);
};

// playInfo values.
constexpr int16_t plugInDialogDontDisplay = 0;
constexpr int16_t plugInDialogDisplay = 1; // the host asks for the dialog
constexpr int16_t plugInDialogSilent = 2;
// recordInfo values.
constexpr int16_t plugInDialogOptional = 0;
constexpr int16_t plugInDialogRequired = 1;
constexpr int16_t plugInDialogNone = 2;

constexpr int16_t kCurrentDescriptorParametersVersion = 0;
struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;
  int16_t recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};

// ---- filter record -------------------------------------------------------------------------

using TestAbortProc = Boolean (*)(void);
using ProgressProc = void (*)(int32_t done, int32_t total);
using HostProc = void (*)(int16_t selector, intptr_t* data);
using ProcessEventProc = void (*)(void* event);
using DisplayPixelsProc = OSErr (*)(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                    int32_t dstCol, void* platformContext);
using AdvanceStateProc = OSErr (*)(void);
using GetPropertyProc = OSErr (*)(OSType signature, OSType key, int32_t index, intptr_t* simpleProperty,
                                  Handle* complexProperty);

// Packed to 4 bytes on every target (see the layout rules at the top); nothing else is.
#pragma pack(push, 4)
struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point imageSize;
  int16_t planes;
  Rect filterRect;
  RGBColor background;
  RGBColor foreground;
  int32_t maxSpace;
  int32_t bufferSpace;
  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Point floatCoord;
  Point wholeSize;
  PlugInMonitor monitor;
  void* platformData; // PlatformData*
  BufferProcs* bufferProcs;
  ResourceProcs* resourceProcs;
  ProcessEventProc processEvent;
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;
  Boolean supportsDummyChannels;
  Boolean supportsAlternateLayouts;
  int16_t wantLayout;
  int16_t filterCase;
  int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute;
  Boolean wantsAbsolute;
  GetPropertyProc getPropertyObsolete;
  Boolean cannotUndo;
  Boolean supportsPadding;
  int16_t inputPadding;
  int16_t outputPadding;
  int16_t maskPadding;
  char samplingSupport;
  char reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  ColorServicesProc colorServices;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inLayerMasks;
  int16_t inInvertedLayerMasks;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outLayerMasks;
  int16_t outInvertedLayerMasks;
  int16_t outNonLayerPlanes;
  int16_t absLayerPlanes;
  int16_t absTransparencyMask;
  int16_t absLayerMasks;
  int16_t absInvertedLayerMasks;
  int16_t absNonLayerPlanes;
  int16_t inPreDummyPlanes;
  int16_t inPostDummyPlanes;
  int16_t outPreDummyPlanes;
  int16_t outPostDummyPlanes;
  int32_t inColumnBytes;
  int32_t inPlaneBytes;
  int32_t outColumnBytes;
  int32_t outPlaneBytes;
  void* imageServicesProcs;
  void* propertyProcs;
  int16_t inTileHeight;
  int16_t inTileWidth;
  Point inTileOrigin;
  int16_t absTileHeight;
  int16_t absTileWidth;
  Point absTileOrigin;
  int16_t outTileHeight;
  int16_t outTileWidth;
  Point outTileOrigin;
  int16_t maskTileHeight;
  int16_t maskTileWidth;
  Point maskTileOrigin;
  PIDescriptorParameters* descriptorParameters;
  Str255* errorString;
  void* channelPortProcs;
  void* documentInfo;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  int32_t depth; // bits per sample: 0 or 8, 16, 32
  // Colour profile of the document, offered by newer hosts; the plug-in does not read them.
  void* iccProfileData;
  int32_t iccProfileSize;
  int32_t canUseICCProfiles;
  char reserved[54];
};
#pragma pack(pop)

// The About selector's parameter block.
struct AboutRecord {
  void* platformData; // PlatformData*
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

// ---- selectors -----------------------------------------------------------------------------

constexpr int16_t filterSelectorAbout = 0;
constexpr int16_t filterSelectorParameters = 1;
constexpr int16_t filterSelectorPrepare = 2;
constexpr int16_t filterSelectorStart = 3;
constexpr int16_t filterSelectorContinue = 4;
constexpr int16_t filterSelectorFinish = 5;

// ---- image modes (FilterRecord::imageMode) ---------------------------------------------------

constexpr int16_t plugInModeBitmap = 0;
constexpr int16_t plugInModeGrayScale = 1;
constexpr int16_t plugInModeIndexedColor = 2;
constexpr int16_t plugInModeRGBColor = 3;
constexpr int16_t plugInModeCMYKColor = 4;
constexpr int16_t plugInModeHSLColor = 5;
constexpr int16_t plugInModeHSBColor = 6;
constexpr int16_t plugInModeMultichannel = 7;
constexpr int16_t plugInModeDuotone = 8;
constexpr int16_t plugInModeLabColor = 9;
constexpr int16_t plugInModeGray16 = 10;
constexpr int16_t plugInModeRGB48 = 11;
constexpr int16_t plugInModeLab48 = 12;
constexpr int16_t plugInModeCMYK64 = 13;
constexpr int16_t plugInModeDeepMultichannel = 14;
constexpr int16_t plugInModeDuotone16 = 15;
constexpr int16_t plugInModeRGB96 = 16;
constexpr int16_t plugInModeGray32 = 17;

// ---- result codes --------------------------------------------------------------------------

constexpr OSErr noErr = 0;
constexpr OSErr errShownToUser = 1;           // an error already shown to the user
constexpr OSErr errUnknownSelector = -1;      // any other selector
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;            // out of memory
constexpr OSErr nilHandleErr = -109;          // no such handle
constexpr OSErr memWZErr = -111;              // a null handle given to a resize
constexpr OSErr userCanceledErr = -128;       // cancelled by the user
constexpr OSErr errAEParamMissed = -1715;     // an absent colour argument
constexpr OSErr errPlugInHostInsufficient = -30900; // no colour-services procedure
constexpr OSErr errReportString = -30904;

} // extern "C"

namespace ov {

// Four-character code from its four characters, first character in the top byte.
constexpr uint32_t FourCC(const char (&c)[5]) {
  return (uint32_t(uint8_t(c[0])) << 24) | (uint32_t(uint8_t(c[1])) << 16) | (uint32_t(uint8_t(c[2])) << 8) |
         uint32_t(uint8_t(c[3]));
}

// The host's basic suite of the current (or last) selector call. Set by the selector
// dispatcher on every call and left set afterwards, so that suite releases at unload can
// reach the host. Null until the first call.
extern SPBasicSuite* HostBasicSuite;

} // namespace ov
