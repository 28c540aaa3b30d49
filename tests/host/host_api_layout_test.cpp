// The binary layout of the host interface on a 64-bit target, pinned to the offsets and sizes
// that real hosts use: the filter record packed to 4 bytes, every other record, suite and
// procedure table naturally aligned. Runs in the native and in the Windows build.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "host/host_api.h"

namespace {

struct Field {
  const char* name;
  size_t actual;
  size_t published;
};

#define PEL_FIELD(type, field, offset) Field{#field, offsetof(type, field), offset}

} // namespace

TEST(HostApiLayout, FilterRecordFieldOffsets) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "the published offsets are those of 64-bit hosts";
  const Field fields[] = {
      PEL_FIELD(FilterRecord, serialNumber, 0),
      PEL_FIELD(FilterRecord, abortProc, 4),
      PEL_FIELD(FilterRecord, progressProc, 12),
      PEL_FIELD(FilterRecord, parameters, 20),
      PEL_FIELD(FilterRecord, imageSize, 28),
      PEL_FIELD(FilterRecord, planes, 32),
      PEL_FIELD(FilterRecord, filterRect, 34),
      PEL_FIELD(FilterRecord, maxSpace, 56),
      PEL_FIELD(FilterRecord, bufferSpace, 60),
      PEL_FIELD(FilterRecord, inRect, 64),
      PEL_FIELD(FilterRecord, inLoPlane, 72),
      PEL_FIELD(FilterRecord, outRect, 76),
      PEL_FIELD(FilterRecord, inData, 88),
      PEL_FIELD(FilterRecord, inRowBytes, 96),
      PEL_FIELD(FilterRecord, outData, 100),
      PEL_FIELD(FilterRecord, outRowBytes, 108),
      PEL_FIELD(FilterRecord, isFloating, 112),
      PEL_FIELD(FilterRecord, haveMask, 113),
      PEL_FIELD(FilterRecord, autoMask, 114),
      PEL_FIELD(FilterRecord, maskRect, 116),
      PEL_FIELD(FilterRecord, maskData, 124),
      PEL_FIELD(FilterRecord, maskRowBytes, 132),
      PEL_FIELD(FilterRecord, backColor, 136),
      PEL_FIELD(FilterRecord, foreColor, 140),
      PEL_FIELD(FilterRecord, hostSig, 144),
      PEL_FIELD(FilterRecord, hostProc, 148),
      PEL_FIELD(FilterRecord, imageMode, 156),
      PEL_FIELD(FilterRecord, imageHRes, 160),
      PEL_FIELD(FilterRecord, wholeSize, 172),
      PEL_FIELD(FilterRecord, monitor, 176),
      PEL_FIELD(FilterRecord, platformData, 216),
      PEL_FIELD(FilterRecord, bufferProcs, 224),
      PEL_FIELD(FilterRecord, resourceProcs, 232),
      PEL_FIELD(FilterRecord, processEvent, 240),
      PEL_FIELD(FilterRecord, displayPixels, 248),
      PEL_FIELD(FilterRecord, handleProcs, 256),
      PEL_FIELD(FilterRecord, supportsDummyChannels, 264),
      PEL_FIELD(FilterRecord, wantLayout, 266),
      PEL_FIELD(FilterRecord, filterCase, 268),
      PEL_FIELD(FilterRecord, dummyPlaneValue, 270),
      PEL_FIELD(FilterRecord, premiereHook, 272),
      PEL_FIELD(FilterRecord, advanceState, 280),
      PEL_FIELD(FilterRecord, supportsAbsolute, 288),
      PEL_FIELD(FilterRecord, wantsAbsolute, 289),
      PEL_FIELD(FilterRecord, getPropertyObsolete, 292),
      PEL_FIELD(FilterRecord, cannotUndo, 300),
      PEL_FIELD(FilterRecord, supportsPadding, 301),
      PEL_FIELD(FilterRecord, inputPadding, 302),
      PEL_FIELD(FilterRecord, outputPadding, 304),
      PEL_FIELD(FilterRecord, maskPadding, 306),
      PEL_FIELD(FilterRecord, samplingSupport, 308),
      PEL_FIELD(FilterRecord, inputRate, 312),
      PEL_FIELD(FilterRecord, maskRate, 316),
      PEL_FIELD(FilterRecord, colorServices, 320),
      // The layer description: five 16-bit counts each for in, out and abs, then the four
      // dummy-plane counts; the column and plane steps start at the next 4-byte boundary.
      PEL_FIELD(FilterRecord, inLayerPlanes, 328),
      PEL_FIELD(FilterRecord, inTransparencyMask, 330),
      PEL_FIELD(FilterRecord, inLayerMasks, 332),
      PEL_FIELD(FilterRecord, inInvertedLayerMasks, 334),
      PEL_FIELD(FilterRecord, inNonLayerPlanes, 336),
      PEL_FIELD(FilterRecord, outLayerPlanes, 338),
      PEL_FIELD(FilterRecord, outTransparencyMask, 340),
      PEL_FIELD(FilterRecord, outLayerMasks, 342),
      PEL_FIELD(FilterRecord, outInvertedLayerMasks, 344),
      PEL_FIELD(FilterRecord, outNonLayerPlanes, 346),
      PEL_FIELD(FilterRecord, absLayerPlanes, 348),
      PEL_FIELD(FilterRecord, absTransparencyMask, 350),
      PEL_FIELD(FilterRecord, absLayerMasks, 352),
      PEL_FIELD(FilterRecord, absInvertedLayerMasks, 354),
      PEL_FIELD(FilterRecord, absNonLayerPlanes, 356),
      PEL_FIELD(FilterRecord, inPreDummyPlanes, 358),
      PEL_FIELD(FilterRecord, inPostDummyPlanes, 360),
      PEL_FIELD(FilterRecord, outPreDummyPlanes, 362),
      PEL_FIELD(FilterRecord, outPostDummyPlanes, 364),
      PEL_FIELD(FilterRecord, inColumnBytes, 368),
      PEL_FIELD(FilterRecord, inPlaneBytes, 372),
      PEL_FIELD(FilterRecord, outColumnBytes, 376),
      PEL_FIELD(FilterRecord, outPlaneBytes, 380),
      PEL_FIELD(FilterRecord, imageServicesProcs, 384),
      PEL_FIELD(FilterRecord, propertyProcs, 392),
      PEL_FIELD(FilterRecord, inTileHeight, 400),
      PEL_FIELD(FilterRecord, descriptorParameters, 432),
      PEL_FIELD(FilterRecord, errorString, 440),
      PEL_FIELD(FilterRecord, channelPortProcs, 448),
      PEL_FIELD(FilterRecord, documentInfo, 456),
      PEL_FIELD(FilterRecord, sSPBasic, 464),
      PEL_FIELD(FilterRecord, plugInRef, 472),
      PEL_FIELD(FilterRecord, depth, 480),
      PEL_FIELD(FilterRecord, iccProfileData, 484),
      PEL_FIELD(FilterRecord, iccProfileSize, 492),
      PEL_FIELD(FilterRecord, canUseICCProfiles, 496),
  };
  for (const Field& f : fields) EXPECT_EQ(f.actual, f.published) << f.name;
}

TEST(HostApiLayout, RecordAndTableSizes) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "the published sizes are those of 64-bit hosts";
  const Field sizes[] = {
      {"FilterRecord", sizeof(FilterRecord), 556},
      {"BufferProcs", sizeof(BufferProcs), 48},
      {"HandleProcs", sizeof(HandleProcs), 72},
      {"ResourceProcs", sizeof(ResourceProcs), 40},
      {"ReadDescriptorProcs", sizeof(ReadDescriptorProcs), 152},
      {"WriteDescriptorProcs", sizeof(WriteDescriptorProcs), 136},
      {"PIDescriptorParameters", sizeof(PIDescriptorParameters), 32},
      {"AboutRecord", sizeof(AboutRecord), 272},
      {"ColorServicesInfo", sizeof(ColorServicesInfo), 56},
  };
  for (const Field& f : sizes) EXPECT_EQ(f.actual, f.published) << f.name;
}

TEST(HostApiLayout, SuitesInThePublishedOrder) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "the published offsets are those of 64-bit hosts";
  const Field fields[] = {
      PEL_FIELD(PSHandleSuite2, New, 0),
      PEL_FIELD(PSHandleSuite2, Dispose, 8),
      PEL_FIELD(PSHandleSuite2, DisposeRegularHandle, 16),
      PEL_FIELD(PSHandleSuite2, SetLock, 24),
      PEL_FIELD(PSHandleSuite2, GetSize, 32),
      PEL_FIELD(PSHandleSuite2, SetSize, 40),
      PEL_FIELD(PSHandleSuite2, RecoverSpace, 48),
      PEL_FIELD(SPBasicSuite, AcquireSuite, 0),
      PEL_FIELD(SPBasicSuite, ReleaseSuite, 8),
      PEL_FIELD(SPBasicSuite, IsEqual, 16),
      PEL_FIELD(PSBufferSuite1, New, 0),
      PEL_FIELD(PSBufferSuite1, Dispose, 8),
      PEL_FIELD(PIDescriptorParameters, descriptor, 8),
      PEL_FIELD(PIDescriptorParameters, writeDescriptorProcs, 16),
      PEL_FIELD(PIDescriptorParameters, readDescriptorProcs, 24),
      PEL_FIELD(AboutRecord, sSPBasic, 8),
  };
  for (const Field& f : fields) EXPECT_EQ(f.actual, f.published) << f.name;
  EXPECT_EQ(sizeof(PSHandleSuite2), 56u);
  // The basic suite's IsEqual answers a 32-bit value.
  EXPECT_EQ(sizeof(std::declval<SPBasicSuite>().IsEqual(nullptr, nullptr)), 4u);
}

// The fields a host fills or reads beside those above: the plane ranges, the colours, the
// second resolution, the floating selection's place, the tiling of each buffer.
TEST(HostApiLayout, FilterRecordFieldsBetweenThePinnedOnes) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "the published offsets are those of 64-bit hosts";
  const Field fields[] = {
      PEL_FIELD(FilterRecord, background, 42),
      PEL_FIELD(FilterRecord, foreground, 48),
      PEL_FIELD(FilterRecord, inHiPlane, 74),
      PEL_FIELD(FilterRecord, outLoPlane, 84),
      PEL_FIELD(FilterRecord, outHiPlane, 86),
      PEL_FIELD(FilterRecord, imageVRes, 164),
      PEL_FIELD(FilterRecord, floatCoord, 168),
      PEL_FIELD(FilterRecord, supportsAlternateLayouts, 265),
      PEL_FIELD(FilterRecord, inTileWidth, 402),
      PEL_FIELD(FilterRecord, inTileOrigin, 404),
      PEL_FIELD(FilterRecord, absTileHeight, 408),
      PEL_FIELD(FilterRecord, absTileWidth, 410),
      PEL_FIELD(FilterRecord, absTileOrigin, 412),
      PEL_FIELD(FilterRecord, outTileHeight, 416),
      PEL_FIELD(FilterRecord, outTileWidth, 418),
      PEL_FIELD(FilterRecord, outTileOrigin, 420),
      PEL_FIELD(FilterRecord, maskTileHeight, 424),
      PEL_FIELD(FilterRecord, maskTileWidth, 426),
      PEL_FIELD(FilterRecord, maskTileOrigin, 428),
      // The small records inside it: a point is v then h, a rectangle top, left, bottom,
      // right, a colour red, green, blue (16 bits each).
      PEL_FIELD(Point, v, 0),
      PEL_FIELD(Point, h, 2),
      PEL_FIELD(Rect, top, 0),
      PEL_FIELD(Rect, left, 2),
      PEL_FIELD(Rect, bottom, 4),
      PEL_FIELD(Rect, right, 6),
      PEL_FIELD(VRect, top, 0),
      PEL_FIELD(VRect, left, 4),
      PEL_FIELD(VRect, bottom, 8),
      PEL_FIELD(VRect, right, 12),
      PEL_FIELD(RGBColor, red, 0),
      PEL_FIELD(RGBColor, green, 2),
      PEL_FIELD(RGBColor, blue, 4),
  };
  for (const Field& f : fields) EXPECT_EQ(f.actual, f.published) << f.name;
}

// Every procedure table is a version and a count (16 bits each), then its procedures in the
// published order from offset 8: a host fills the slots by position, so two procedures of the
// same signature swapped in our declaration would call the wrong one in every real host.
TEST(HostApiLayout, ProcedureTablesInThePublishedOrder) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "the published offsets are those of 64-bit hosts";
  const Field fields[] = {
      PEL_FIELD(ReadDescriptorProcs, readDescriptorProcsVersion, 0),
      PEL_FIELD(ReadDescriptorProcs, numReadDescriptorProcs, 2),
      PEL_FIELD(ReadDescriptorProcs, openReadDescriptorProc, 8),
      PEL_FIELD(ReadDescriptorProcs, closeReadDescriptorProc, 16),
      PEL_FIELD(ReadDescriptorProcs, getKeyProc, 24),
      PEL_FIELD(ReadDescriptorProcs, getIntegerProc, 32),
      PEL_FIELD(ReadDescriptorProcs, getFloatProc, 40),
      PEL_FIELD(ReadDescriptorProcs, getUnitFloatProc, 48),
      PEL_FIELD(ReadDescriptorProcs, getBooleanProc, 56),
      PEL_FIELD(ReadDescriptorProcs, getTextProc, 64),
      PEL_FIELD(ReadDescriptorProcs, getAliasProc, 72),
      PEL_FIELD(ReadDescriptorProcs, getEnumeratedProc, 80),
      PEL_FIELD(ReadDescriptorProcs, getClassProc, 88),
      PEL_FIELD(ReadDescriptorProcs, getSimpleReferenceProc, 96),
      PEL_FIELD(ReadDescriptorProcs, getObjectProc, 104),
      PEL_FIELD(ReadDescriptorProcs, getCountProc, 112),
      PEL_FIELD(ReadDescriptorProcs, getStringProc, 120),
      PEL_FIELD(ReadDescriptorProcs, getPinnedIntegerProc, 128),
      PEL_FIELD(ReadDescriptorProcs, getPinnedFloatProc, 136),
      PEL_FIELD(ReadDescriptorProcs, getPinnedUnitFloatProc, 144),
      PEL_FIELD(WriteDescriptorProcs, writeDescriptorProcsVersion, 0),
      PEL_FIELD(WriteDescriptorProcs, numWriteDescriptorProcs, 2),
      PEL_FIELD(WriteDescriptorProcs, openWriteDescriptorProc, 8),
      PEL_FIELD(WriteDescriptorProcs, closeWriteDescriptorProc, 16),
      PEL_FIELD(WriteDescriptorProcs, putIntegerProc, 24),
      PEL_FIELD(WriteDescriptorProcs, putFloatProc, 32),
      PEL_FIELD(WriteDescriptorProcs, putUnitFloatProc, 40),
      PEL_FIELD(WriteDescriptorProcs, putBooleanProc, 48),
      PEL_FIELD(WriteDescriptorProcs, putTextProc, 56),
      PEL_FIELD(WriteDescriptorProcs, putAliasProc, 64),
      PEL_FIELD(WriteDescriptorProcs, putEnumeratedProc, 72),
      PEL_FIELD(WriteDescriptorProcs, putClassProc, 80),
      PEL_FIELD(WriteDescriptorProcs, putSimpleReferenceProc, 88),
      PEL_FIELD(WriteDescriptorProcs, putObjectProc, 96),
      PEL_FIELD(WriteDescriptorProcs, putCountProc, 104),
      PEL_FIELD(WriteDescriptorProcs, putStringProc, 112),
      PEL_FIELD(WriteDescriptorProcs, putScopedClassProc, 120),
      PEL_FIELD(WriteDescriptorProcs, putScopedObjectProc, 128),
      PEL_FIELD(BufferProcs, allocateProc, 8),
      PEL_FIELD(BufferProcs, lockProc, 16),
      PEL_FIELD(BufferProcs, unlockProc, 24),
      PEL_FIELD(BufferProcs, freeProc, 32),
      PEL_FIELD(BufferProcs, spaceProc, 40),
      PEL_FIELD(HandleProcs, newProc, 8),
      PEL_FIELD(HandleProcs, disposeProc, 16),
      PEL_FIELD(HandleProcs, getSizeProc, 24),
      PEL_FIELD(HandleProcs, setSizeProc, 32),
      PEL_FIELD(HandleProcs, lockProc, 40),
      PEL_FIELD(HandleProcs, unlockProc, 48),
      PEL_FIELD(HandleProcs, recoverSpaceProc, 56),
      PEL_FIELD(HandleProcs, disposeRegularHandleProc, 64),
      PEL_FIELD(ResourceProcs, countProc, 8),
      PEL_FIELD(ResourceProcs, getProc, 16),
      PEL_FIELD(ResourceProcs, deleteProc, 24),
      PEL_FIELD(ResourceProcs, addProc, 32),
      // The suites have no header: their procedures start at 0.
      PEL_FIELD(SPBasicSuite, AllocateBlock, 24),
      PEL_FIELD(SPBasicSuite, FreeBlock, 32),
      PEL_FIELD(SPBasicSuite, ReallocateBlock, 40),
      PEL_FIELD(SPBasicSuite, Undefined, 48),
      PEL_FIELD(PSBufferSuite1, GetSize, 16),
      PEL_FIELD(PSBufferSuite1, GetSpace, 24),
      PEL_FIELD(PIDescriptorParameters, playInfo, 2),
      PEL_FIELD(PIDescriptorParameters, recordInfo, 4),
      // The colour picker's record: what the plug-in asks for and the colour it gets back.
      PEL_FIELD(ColorServicesInfo, infoSize, 0),
      PEL_FIELD(ColorServicesInfo, selector, 4),
      PEL_FIELD(ColorServicesInfo, sourceSpace, 6),
      PEL_FIELD(ColorServicesInfo, resultSpace, 8),
      PEL_FIELD(ColorServicesInfo, resultGamutInfoValid, 10),
      PEL_FIELD(ColorServicesInfo, resultInGamut, 11),
      PEL_FIELD(ColorServicesInfo, reservedSourceSpaceInfo, 16),
      PEL_FIELD(ColorServicesInfo, reservedResultSpaceInfo, 24),
      PEL_FIELD(ColorServicesInfo, colorComponents, 32),
      PEL_FIELD(ColorServicesInfo, reserved, 40),
      PEL_FIELD(ColorServicesInfo, selectorParameter, 48),
  };
  for (const Field& f : fields) EXPECT_EQ(f.actual, f.published) << f.name;
  EXPECT_EQ(sizeof(SPBasicSuite), 56u);
  EXPECT_EQ(sizeof(PSBufferSuite1), 32u);
}
