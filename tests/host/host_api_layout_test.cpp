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
