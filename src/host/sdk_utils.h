// sdk_utils.h - plain functions between the plug-in and the host interface (both builds).
//
// What the rest of the system uses: the module entry and instance, the presence test of the
// advance-state procedure, the validity test of the scripting-descriptor interface, the
// functions that close the descriptor's reader and writer, and the fallback handles that
// stand in when the host's handle procedures are not usable. Beside them, families that
// nothing in the system calls: presence tests of procedure tables, handle procedures with
// the fallback, length-prefixed strings and numbers, placeholders, colour-services helpers,
// rectangles and ratios, four-character codes and bytes, suites. The Windows-only families
// (message boxes, dialog items, host version, global memory) are in sdk_utils_win32.h.
//
// Length-prefixed strings (Str255): a length byte, then the characters; these routines keep
// at most 254 characters and store a 0 byte after the last one, so a buffer holds 256 bytes.
//
// Fallback handle: a record block holding the data pointer (the handle's master pointer)
// and the tag "OTOF"; the handle is the record's address. The data block is a locked,
// movable, zero-initialised global block (GlobalAlloc in the Windows build, a heap block
// with the same contract natively). Each fallback function clears the last handle error
// first and sets it on failure: -108 out of memory, -109 no such handle, -111 a null handle
// given to a resize.
//
// Everything runs on the host's thread; the module instance and the last handle error are
// process-wide and unguarded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_api.h"

namespace ov {

// ---- module --------------------------------------------------------------------------------

// The module entry: stores `instance` as the module instance (also for the platform layer's
// module paths) and answers 1. The Windows build's exported DllMain forwards here.
int32_t DllMain(void* instance, uint32_t reason, void* reserved);
// The module instance handle (an HINSTANCE in the Windows build); null before DllMain ran.
void* GetModuleInstance();

// Without a plug-in reference: the module instance. With one: acquires "SP Access Suite"
// version 3 (through HostBasicSuite, into its suite holder) and answers the module that the
// access record's platform information names (resourceAccess, else defaultModule), storing
// it as the module instance. Throws HostSuiteError ("mraP" or the acquisition's error) when
// there is no basic suite or the suite cannot be acquired.
void* GetPluginInstance(void* plugInRef);

struct HostSuiteError {
  int32_t code;
};

// Releases, in holder order, every acquired host suite holder through HostBasicSuite and
// marks it empty.
void ReleaseAllSuites();
// A releaser for the suite holders' exit functions: the host basic suite's ReleaseSuite;
// false when no basic suite is known.
bool ReleaseThroughHostBasicSuite(const char* name, int32_t version);

// ---- presence tests -------------------------------------------------------------------------

// True when the procedure pointer is not null.
bool IsAdvanceStateAvailable(AdvanceStateProc proc);
// True when: present, version 0; both procedure tables present; read table version 0 with
// at least 18 procedures; write table version 0 with at least 16; each of the 18 read
// procedures present (the write procedures are not tested one by one).
bool IsDescriptorInterfaceValid(const PIDescriptorParameters* parameters);
// playInfo is 1 (the host asks for the dialog).
bool IsPlayInfoDialog(const PIDescriptorParameters* parameters);

// Outcome of a presence test of a procedure table (its version and count against the
// required ones, then the first `required` procedures).
enum class HostProcPresence { Absent, OlderVersion, NewerVersion, Missing, Present };
HostProcPresence TestHostProcs(const void* table, int16_t version, int16_t count, int required);
// The tests: false unless Present; a newer table also sets *newer (when given).
bool HasHostProcs2x5(const void* table, bool* newer = nullptr); // buffer procedures, 2.5
bool HasHostProcs3x4(const void* table, bool* newer = nullptr); // resource procedures, 3.0
bool HasHostProcs1x8(const void* table, bool* newer = nullptr); // handle procedures, 3.0
bool HasHostProcs1x2(const void* table, bool* newer = nullptr); // 2.5
bool HasHostProcs1x3(const void* table, bool* newer = nullptr); // 4.0
bool HasHostProc(const void* proc);
// The host-version text a warning shows for a version given as a number: 2.502 with three
// decimals, its fourth character replaced by a point, gives "2.5.2"; 3.0 gives "3.0".
std::string HostVersionText(double version, bool dottedFix);

// ---- scripting descriptor ----------------------------------------------------------------

// Host handle procedures count as usable when version 1, at least 8 procedures, and the
// new, dispose, get-size and set-size procedures present.
bool HandleProcsUsable(const HandleProcs* procs);
// Disposes through the host's procedure when usable, else DisposeHandleFallback.
void DisposeHostHandle(const HandleProcs* procs, Handle handle);
// Closes the reader (keeping its error), disposes of the descriptor handle, clears it and
// the token; answers the reader's close error.
OSErr CloseReadDescriptor(PIDescriptorParameters* parameters, const HandleProcs* procs, PIReadDescriptor& token);
// Disposes of a previous descriptor, closes the writer into a new descriptor stored in the
// parameters, sets recordInfo to 0 and the token to 0; answers 0.
OSErr CloseWriteDescriptor(PIDescriptorParameters* parameters, const HandleProcs* procs, PIWriteDescriptor& token);
// Puts an object and disposes of its handle (cleared) on success; a put error is answered at
// once and the handle kept.
OSErr PutObjectAndDispose(PIDescriptorParameters* parameters, const HandleProcs* procs, PIWriteDescriptor token,
                          DescriptorKeyID key, DescriptorTypeID type, PIDescriptorHandle& object);

// ---- fallback handles ------------------------------------------------------------------------

constexpr OSType kFallbackHandleTag = 0x4F544F46; // "OTOF"
struct FallbackHandleRecord {
  void* data;
  char tag[4];
};

Handle NewHandleFallback(int32_t size);
int32_t GetHandleSizeFallback(Handle handle);
void SetHandleSizeFallback(Handle handle, int32_t size);
OSErr DisposeHandleFallback(Handle handle);
OSErr GetLastHandleError();
Handle DuplicateHandleFallback(Handle handle);
// The data pointer the handle holds (null for a null handle).
void* DerefHandle(Handle handle);

// ---- handle procedures with the fallback ---------------------------------------------------

int32_t HostGetHandleSize(const HandleProcs* procs, Handle handle);
OSErr HostSetHandleSize(const HandleProcs* procs, Handle handle, int32_t size);
Ptr HostLockHandle(const HandleProcs* procs, Handle handle, Boolean moveHigh);
void HostUnlockHandle(const HandleProcs* procs, Handle handle);
Handle HostNewHandle(const HandleProcs* procs, int32_t size);
// Appends the source's bytes (creating the destination with the source's size when it is
// null); -50 without a destination, else 0.
OSErr HostAppendHandle(const HandleProcs* procs, Handle* destination, Handle source);
// "STR ": the module string `id` (at most 255 characters) as a length-prefixed string with a
// 0 after it (size = length + 2). Other types: the module resource "#<id>" of that type,
// copied into a new handle. Null when there is none.
Handle HostResourceToHandle(const HandleProcs* procs, OSType type, int16_t id, int32_t* size);
void HostGetStringResource(const HandleProcs* procs, int16_t id, uint8_t* text);
void HostHandleToCString(const HandleProcs* procs, Handle handle, char* buffer, int32_t size);
Handle HostCStringToHandle(const HandleProcs* procs, const char* text);
Handle HostPStringToHandle(const HandleProcs* procs, const uint8_t* text);
void HostHandleToPString(const HandleProcs* procs, Handle handle, uint8_t* text);
// The handle holds three 32-bit numbers, most significant byte first.
void HostReadVersionHandle(const HandleProcs* procs, Handle handle, int32_t* a, int32_t* b, int32_t* c);
void HostVersionHandleToString(const HandleProcs* procs, Handle handle, uint8_t* text);
// Locks the handle (creating one of `size` bytes first and running the initialiser on it),
// stores the two addresses in the block's first two words, sets *result to 0 and answers
// the block.
using GlobalsInitialiser = void (*)(void* block);
void* AllocateGlobalsBlock(int16_t* result, void* parameterBlock, const HandleProcs* procs, int32_t size,
                           Handle* handle, GlobalsInitialiser initialiser);
// Buffer procedures: tries min(space / divisor / rowBytes, maxRows) rows down to
// minRows + 1, stopping at the first buffer; answers the last error (-108 per attempt when
// the table does not pass HasHostProcs2x5).
OSErr AllocateRowBuffer(const BufferProcs* procs, int32_t rowBytes, int32_t minRows, int32_t maxRows,
                        int32_t divisor, int32_t* rows, BufferID* buffer);

// ---- module strings --------------------------------------------------------------------------

// The module's string table text of `id` (Windows-1252), at most maxChars characters; empty
// when there is none. The Windows build reads the module's resources and falls back to the
// built-in table; the native build reads the table.
std::string LoadModuleString(int id, size_t maxChars = 255);

// ---- length-prefixed strings and numbers -----------------------------------------------------

constexpr int kPStringMax = 254;

// Replaces "^0", "^1", "^2" by the arguments (absent or empty: removed), cut to 254.
void ExpandPlaceholders(uint8_t* text, const uint8_t* arg0, const uint8_t* arg1, const uint8_t* arg2);
void AppendToPString(uint8_t* destination, const uint8_t* source, int start, int count);
void AppendCharToPString(uint8_t* destination, char c);
void AppendPString(uint8_t* destination, const uint8_t* source);
void PrependPString(uint8_t* destination, const uint8_t* source);
OSErr CopyPString(uint8_t* destination, const uint8_t* source); // always -30904
void PStringToCString(const uint8_t* source, char* destination);
void CStringToPString(const char* source, uint8_t* destination);
int32_t CStringLength(const char* text);                          // bounded at 32767
void CStringAppend(char* destination, const char* source);        // bounded at 32767
// 0 no number, 1 positive (or zero), 2 negative; more than 9 digits give 2147483647.
int PStringToNumber(const uint8_t* text, int32_t* value);
int PStringToDouble(const uint8_t* text, double* value);
// Splits at the last "." or ","; answers the position of the separator (0 when none).
int SplitDecimalPart(const uint8_t* text, uint8_t* whole, uint8_t* fraction);
void DoubleToPString(uint8_t* text, double value, int decimals);
void NumberToPString(int32_t value, uint8_t* text);
double PowerOf(double base, int exponent);
char ToLowerAscii(char c);
int32_t FindText(const uint8_t* text, const uint8_t* pattern); // always -1
void OSTypeToString(OSType type, char* text);                  // 4 characters and a 0
OSType StringToOSType(const char* text);
void SwapBytes32(uint32_t* value);
void CopyBytes(const void* source, void* destination, size_t count);

void ClearWord(int16_t* value);
bool IsValue10to12(int32_t value);
bool IsValue1to3(int32_t value);
bool IsNonZero(int32_t value);

// ---- colour services ---------------------------------------------------------------------------

using Color4 = int16_t[4];
OSErr SetColor4(int16_t* colour, int16_t c0, int16_t c1, int16_t c2, int16_t c3);
OSErr CopyColor4(int16_t* destination, const int16_t* source);
OSErr Color8To16(int16_t* destination, const int16_t* source);
OSErr Color16To8(int16_t* destination, const int16_t* source);
OSErr ConvertColorServices(ColorServicesProc proc, int16_t sourceSpace, int16_t resultSpace, int16_t* colour);
OSErr PickColorServices(ColorServicesProc proc, const uint8_t* prompt, int16_t* space, int16_t* colour);
void InitColorServicesInfo(ColorServicesInfo* info);
int ColorChannelCount(int16_t imageMode, int defaultCount);
int16_t ImageModeToColorSpace(int16_t imageMode);

struct HostVersionRecord {
  int32_t hostCode;
  int16_t fileOsCode;
  int16_t fileFlagsCode;
  uint16_t major, minor, fix;
  uint8_t last;
};
void ClearVersionRecord(HostVersionRecord* record);
// The two codes derived from a version resource's fixed information.
int16_t FileOsCode(uint32_t fileOs);
int16_t FileFlagsCode(uint32_t flags, uint32_t mask1, uint32_t mask2);

// ---- rectangles, time, ratios ------------------------------------------------------------------

bool SetRect16(Rect* rect, int16_t left, int16_t top, int16_t right, int16_t bottom);
void OffsetRect16(Rect* rect, int16_t h, int16_t v);
void InsetRect16(Rect* rect, int16_t h, int16_t v);
// Bit 0 set when left <= h < right and top <= v < bottom; the point packs v in its low and h
// in its high 16 bits.
int32_t PointInRect16(uint32_t point, const Rect* rect);
uint32_t TickCount60();
Fixed FixedRatio(int32_t a, int32_t b);

} // namespace ov
