// Format selection and the one dispatch from the runtime format to the Render
// instance.
#include "lens/render_template.h"

#include <algorithm>

#include "core/logger.h"
#include "lens/pelidorn_filter.h"
#include "lens/render.h"
#include "pixel/formats.h"

namespace ov {

RenderFormat ChooseRenderFormat(const FilterRecord& r) {
    RenderFormat f;
    const int planes = r.planes;
    // 3. Alpha and channel count.
    bool alpha;
    int channels;
    if (r.inTransparencyMask != 0) {
        alpha = planes >= r.inLayerPlanes + 1;
        channels = r.inLayerPlanes != 0 ? r.inLayerPlanes : planes;
    } else {
        alpha = false;
        channels = r.inLayerPlanes != 0 ? r.inLayerPlanes : r.inNonLayerPlanes != 0 ? r.inNonLayerPlanes : planes;
    }
    // 4. By image mode.
    switch (r.imageMode) {
        case plugInModeGrayScale:
        case plugInModeGray16:
        case plugInModeGray32: channels = std::min(channels, 1); break;
        case plugInModeRGBColor:
        case plugInModeMultichannel:
        case plugInModeRGB48:
        case plugInModeDeepMultichannel:
        case plugInModeRGB96: channels = std::min(channels, 3); break;
        default: return f;
    }
    // Mend: never more samples than the host's pixel has.
    channels = std::min(channels, planes);
    if (alpha && channels + 1 > planes) alpha = false;
    // 5. By depth.
    switch (r.depth) {
        case 0:
        case 8: f.sample = SampleType::U8, f.sampleBytes = 1; break;
        case 16: f.sample = SampleType::U16, f.sampleBytes = 2; break;
        case 32: f.sample = SampleType::F32, f.sampleBytes = 4; break;
        default: return f;
    }
    // 6.
    if (channels < 1 || channels > 3) return f;
    f.supported = true;
    f.channels = channels;
    f.alpha = alpha;
    f.pixelBytes = planes * f.sampleBytes;
    // The instance numbers: two-channel 1-6, gray 7-12, RGB 13-18.
    const int s = int(f.sample);
    if (channels == 2) f.instance = alpha ? 1 + s : 4 + s;
    else if (channels == 1) f.instance = alpha ? 7 + s : 10 + s;
    else f.instance = 13 + 2 * s + (alpha ? 0 : 1);
    return f;
}

namespace {

template <class Img>
int16_t RenderAs(pfFilterPelidorn* filter, FilterRecord* r, const RenderFormat& f, const ImgMask8& mask) {
    const uint32_t width = uint32_t(std::max(0, int(r->outRect.right) - r->outRect.left));
    const uint32_t height = uint32_t(std::max(0, int(r->outRect.bottom) - r->outRect.top));
    const Img source(r->inData, width, height, r->inRowBytes, 0, 0, false, 1.0, 1.0, 1.0, true, f.pixelBytes);
    const Img destination(r->outData, width, height, r->outRowBytes, 0, 0, false, 1.0, 1.0, 1.0, true,
                          f.pixelBytes);
    return Render<Img>(filter, source, destination, mask, r);
}

}  // namespace

int16_t SelectRenderTemplate(pfFilterPelidorn* filter, FilterRecord* record) {
    LogTrace("SelectRenderTemplate()\n");
    LogScope scope;
    if (!record) return 0;
    const RenderFormat f = ChooseRenderFormat(*record);
    if (!f.supported) return 0;
    const uint32_t width = uint32_t(std::max(0, int(record->outRect.right) - record->outRect.left));
    const uint32_t height = uint32_t(std::max(0, int(record->outRect.bottom) - record->outRect.top));
    const ImgMask8 mask(record->maskData, width, height, record->maskRowBytes, 0, 0, false, 1.0, 1.0, 1.0,
                        record->maskData != nullptr, 1);
    switch (f.instance) {
        case 1: return RenderAs<ImgHostTwoChA_U8>(filter, record, f, mask);
        case 2: return RenderAs<ImgHostTwoChA_U16>(filter, record, f, mask);
        case 3: return RenderAs<ImgHostTwoChA_F1>(filter, record, f, mask);
        case 4: return RenderAs<ImgHostTwoCh_U8>(filter, record, f, mask);
        case 5: return RenderAs<ImgHostTwoCh_U16>(filter, record, f, mask);
        case 6: return RenderAs<ImgHostTwoCh_F1>(filter, record, f, mask);
        case 7: return RenderAs<ImgHostGrayA_U8>(filter, record, f, mask);
        case 8: return RenderAs<ImgHostGrayA_U16>(filter, record, f, mask);
        case 9: return RenderAs<ImgHostGrayA_F1>(filter, record, f, mask);
        case 10: return RenderAs<ImgHostGray_U8>(filter, record, f, mask);
        case 11: return RenderAs<ImgHostGray_U16>(filter, record, f, mask);
        case 12: return RenderAs<ImgHostGray_F1>(filter, record, f, mask);
        case 13: return RenderAs<ImgHostRGBA_U8>(filter, record, f, mask);
        case 14: return RenderAs<ImgHostRGB_U8>(filter, record, f, mask);
        case 15: return RenderAs<ImgHostRGBA_U16>(filter, record, f, mask);
        case 16: return RenderAs<ImgHostRGB_U16>(filter, record, f, mask);
        case 17: return RenderAs<ImgHostRGBA_F1>(filter, record, f, mask);
        case 18: return RenderAs<ImgHostRGB_F1>(filter, record, f, mask);
        default: return 0;
    }
}

}  // namespace ov
