// Filter-record set-up for one whole-image request, the scale and preview-level
// accessors, host memory, progress and abort, the colour picker, the control list.
//
// Guarded cases (each has a test in tests/lens):
// - GetScaleFactorX/Y divided by the output width or height, 0 when the image is smaller
//   than the scale: an empty output rectangle answers the scale requested at set-up (the
//   record's inputRate), and the render then has an empty destination and renders nothing.
// - UpdateProgress called the host's abort procedure without a null test: a missing abort
//   procedure (or progress procedure) means not aborted.
// - Memory sizes: AllocateMemory64 takes a 64-bit size and refuses one that does not fit the
//   Buffer suite's 32-bit size, so the caller answers -108 instead of a wrapped small block;
//   the heap fallback answers null on exhaustion (never throws).
#include <algorithm>
#include <cstdlib>
#include <new>
#include <sstream>

#include "core/logger.h"
#include "host/filter_record.h"
#include "host/pf_filter.h"
#include "ui/preview.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ov {

void SetHostRect(Rect& rect, int16_t left, int16_t top, int16_t right, int16_t bottom) {
    rect.left = left;
    rect.top = top;
    rect.right = right;
    rect.bottom = bottom;
}

void ScaleHostRect(Rect& rect, uint32_t num, uint32_t den) {
    auto scale = [&](int16_t c) {
        const uint32_t product = uint32_t(int32_t(c)) * num;
        return int16_t(uint16_t(product / den));
    };
    rect.top = scale(rect.top);
    rect.left = scale(rect.left);
    rect.bottom = scale(rect.bottom);
    rect.right = scale(rect.right);
}

void CopyHostRect(Rect& destination, const Rect& source) { destination = source; }

bool IsHostRectEmpty(const Rect& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

namespace {

void DescribeRect(std::ostringstream& os, const char* name, const Rect& r) {
    os << "    " << name << ": left(" << r.left << "), right(" << r.right << "), top(" << r.top << "), bottom("
       << r.bottom << ")\n";
}

}  // namespace

std::string DescribeFilterRecord(const FilterRecord& r) {
    std::ostringstream os;
    os << "pFilterRecord:\n";
    os << "    imageMode(" << r.imageMode << ")\n";
    os << "    filterCase(" << r.filterCase << ")\n";
    os << "    planes(" << r.planes << ")\n";
    os << "    depth(" << r.depth << ")\n";
    os << "    inData(0x" << HexPtr(r.inData) << ")\n";
    os << "    inRowBytes(" << r.inRowBytes << ")\n";
    os << "    inLayerPlanes(" << r.inLayerPlanes << ")\n";
    os << "    inTransparencyMask(" << r.inTransparencyMask << ")\n";
    os << "    inLayerMasks(" << r.inLayerMasks << ")\n";
    os << "    inInvertedLayerMasks(" << r.inInvertedLayerMasks << ")\n";
    os << "    inNonLayerPlanes(" << r.inNonLayerPlanes << ")\n";
    os << "    outData(0x" << HexPtr(r.outData) << ")\n";
    os << "    outRowBytes(" << r.outRowBytes << ")\n";
    os << "    outLayerPlanes(" << r.outLayerPlanes << ")\n";
    os << "    outTransparencyMask(" << r.outTransparencyMask << ")\n";
    os << "    outLayerMasks(" << r.outLayerMasks << ")\n";
    os << "    outInvertedLayerMasks(" << r.outInvertedLayerMasks << ")\n";
    os << "    outNonLayerPlanes(" << r.outNonLayerPlanes << ")\n";
    os << "    maskData(0x" << HexPtr(r.maskData) << ")\n";
    os << "    maskRowBytes(" << r.maskRowBytes << ")\n";
    os << "    haveMask(" << int(r.haveMask) << ")\n";
    os << "    isFloating(" << int(r.isFloating) << ")\n";
    os << "    autoMask(" << int(r.autoMask) << ")\n";
    os << "    imageSize.h(" << r.imageSize.h << ")\n";
    os << "    imageSize.v(" << r.imageSize.v << ")\n";
    os << "    wholeSize.h(" << r.wholeSize.h << ")\n";
    os << "    wholeSize.v(" << r.wholeSize.v << ")\n";
    DescribeRect(os, "inRect", r.inRect);
    DescribeRect(os, "outRect", r.outRect);
    DescribeRect(os, "maskRect", r.maskRect);
    DescribeRect(os, "filterRect", r.filterRect);
    return os.str();
}

int16_t pfFilter::SetupFilterRecord(FilterRecord* record, uint32_t nScaleFactor) {
    LogTrace("pfFilter::SetupFilterRecord( pFilterRecord(0x", HexPtr(record), "), nScaleFactor(", nScaleFactor,
             ") )\n");
    if (!record) return paramErr;
    // 1. A scale of 0 counts as 1.
    const uint32_t scale = nScaleFactor == 0 ? 1 : nScaleFactor;
    // 2.-4. The whole image; the filter area is always the whole image, unscaled.
    record->inRect = Rect{0, 0, record->imageSize.v, record->imageSize.h};
    record->filterRect = record->inRect;
    ScaleHostRect(record->inRect, 1, scale);
    // 5. Output and (with a host mask) mask cover the same area.
    record->outRect = record->inRect;
    if (record->haveMask) record->maskRect = record->inRect;
    // 6. Every plane in one request.
    record->inLoPlane = record->outLoPlane = 0;
    record->inHiPlane = record->outHiPlane = int16_t(record->planes - 1);
    // 7. The host samples every scale-th pixel (16.16 fixed point).
    record->inputRate = record->maskRate = Fixed(scale << 16);
    // 8. Pixels outside the image read as 255; the mask outside as 0.
    record->inputPadding = 255;
    record->outputPadding = 255;
    record->maskPadding = 0;
    // 9. The plug-in uses the selection itself.
    if (record->haveMask && !record->isFloating) record->autoMask = 0;
    // 10.
    record->wantsAbsolute = 0;
    // 11. The host fills the buffers.
    const int16_t error = record->advanceState ? record->advanceState() : int16_t(paramErr);
    LogTrace(DescribeFilterRecord(*record));
    return error;
}

int32_t pfFilter::GetScaleFactorX() const {
    if (!filterRecord) return 1;
    const int32_t width = int32_t(filterRecord->outRect.right) - filterRecord->outRect.left;
    if (width <= 0) return filterRecord->inputRate > 0 ? std::max<int32_t>(1, filterRecord->inputRate >> 16) : 1;
    return int32_t(filterRecord->imageSize.h) / width;
}

int32_t pfFilter::GetScaleFactorY() const {
    if (!filterRecord) return 1;
    const int32_t height = int32_t(filterRecord->outRect.bottom) - filterRecord->outRect.top;
    if (height <= 0) return filterRecord->inputRate > 0 ? std::max<int32_t>(1, filterRecord->inputRate >> 16) : 1;
    return int32_t(filterRecord->imageSize.v) / height;
}

void* pfFilter::AllocateMemory(uint32_t size) {
    pel::platform::CriticalSectionGuard guard(lock);
    if (bufferSuite && bufferSuite->New) {
        uint32_t requested = size;
        return bufferSuite->New(&requested, size);
    }
    return std::malloc(size ? size : 1);
}

void* pfFilter::AllocateMemory64(uint64_t size) {
    if (!FitsHostSize(size)) return nullptr;
    return AllocateMemory(uint32_t(size));
}

void pfFilter::FreeMemory(void* block) {
    pel::platform::CriticalSectionGuard guard(lock);
    if (bufferSuite && bufferSuite->Dispose) {
        if (block) {
            Ptr p = static_cast<Ptr>(block);
            bufferSuite->Dispose(&p);
        }
        return;
    }
    std::free(block);
}

void pfFilter::GetFrameRange(double& first, double& last) {
    first = 0.0;
    last = 1.0;
}

namespace {

// The dialog's message pump during a preview render: false when a quit message came (it is
// posted again for the dialog's own loop).
bool PumpPreviewMessages() {
#if defined(_WIN32)
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (got == 0 || msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
#else
    return true;  // no windows in the native build
#endif
}

}  // namespace

uint32_t pfFilter::UpdateProgress(uint32_t done, uint32_t total, bool silent) {
    pel::platform::CriticalSectionGuard guard(lock);
    if (PreviewRenderTick != 0) {
        if (!PumpPreviewMessages()) return kStatusQuit;
        const uint32_t elapsed = pel::platform::TickCount() - PreviewRenderTick;
        if (PreviewChanged && LivePreview && elapsed > 200) return kStatusHostCancelled;
        return StatusOk();
    }
    if (silent || !filterRecord) return StatusOk();
    if (filterRecord->progressProc) filterRecord->progressProc(int32_t(done), int32_t(total));
    // A host without an abort procedure has not been asked to stop.
    if (filterRecord->abortProc && filterRecord->abortProc()) return kStatusHostCancelled;
    return StatusOk();
}

bool pfFilter::RequestColor(FilterRecord* record, double& red, double& green, double& blue) {
    LogTrace("pfFilter::RequestColor( pFilterRecord(0x", HexPtr(record), "), fRed(", red, "), fGreen(", green,
             "), fBlue(", blue, ") )\n");
    LogScope scope;
    bool chosen = false;
    if (record) {
        ColorServicesInfo info{};
        info.infoSize = int32_t(sizeof(ColorServicesInfo));
        info.selector = plugIncolorServicesChooseColor;
        info.sourceSpace = (record->imageMode == plugInModeGrayScale || record->imageMode == plugInModeGray16)
                               ? plugIncolorServicesGraySpace
                               : plugIncolorServicesRGBSpace;
        info.resultSpace = plugIncolorServicesRGBSpace;
        info.colorComponents[0] = int16_t(red * 255.0);
        info.colorComponents[1] = int16_t(green * 255.0);
        info.colorComponents[2] = int16_t(blue * 255.0);
        info.colorComponents[3] = 0;
        double r = red, g = green, b = blue;
        if (record->colorServices) {
            const OSErr e = record->colorServices(&info);
            LogTrace("ColorServices result = ", int32_t(e), "\n");
            LogTrace("source space = ", info.sourceSpace, "\n");
            LogTrace("result space = ", info.resultSpace, "\n");
            if (e == noErr) {
                r = info.colorComponents[0] * (1.0 / 255.0);
                g = info.colorComponents[1] * (1.0 / 255.0);
                b = info.colorComponents[2] * (1.0 / 255.0);
                chosen = true;
            }
        } else {
            LogWarning("ColorServices not available\n");
            chosen = dialog->AlternativeColorSelection(record, r, g, b);
        }
        if (chosen) {
            if (record->imageMode == plugInModeGrayScale) {
                const double y = 0.292687786 * r + 0.552149646 * g + 0.155162568 * b;
                r = g = b = y;
            }
            red = r, green = g, blue = b;
        }
    }
    LogTrace("pfFilter::RequestColor( return(", chosen ? 1 : 0, ") fRed(", red, "), fGreen(", green, "), fBlue(",
             blue, ") )\n");
    return chosen;
}

}  // namespace ov
