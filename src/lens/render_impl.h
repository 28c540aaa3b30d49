// The body of Render, included by the 18 instance files in lens/render/ only.
#pragma once

#include "core/logger.h"
#include "lens/pelidorn_filter.h"
#include "lens/render.h"
#include "lens/settings_blocks.h"
#include "depthoffield/depth_of_field_filter.h"

#include "outoffocus/out_of_focus_effect.h"

namespace ov {

template <class Img>
int16_t Render(pfFilterPelidorn* filter, const Img& source, const Img& destination, const ImgMask8& mask,
               FilterRecord* /*record*/) {
    LogTrace("Render()\n");
    LogScope scope;
    uint32_t status = filter->StatusOk();
    if (ChooseEngine(*filter, mask) == RenderEngine::DepthOfField) {
        const DepthOfFieldParams params = MakeDepthOfFieldParams(*filter, destination.width, destination.height);
        DepthOfFieldFilter<Img, ImgDepth8> engine(filter);
        engine.source = source;
        engine.destination = destination;
        engine.selection = source;  // highlights are judged on the unblurred source
        engine.depth_map = mask;
        engine.params = params;
        status = engine.render(0, 1);
    } else {
        const OutOfFocusParams params = MakeOutOfFocusParams(*filter, destination.width, destination.height);
        if (destination.width != 0 && destination.height != 0) {
            OutOfFocusEffect<Img, Img, ImgMask8> effect(filter);
            effect.source = source;
            effect.destination = destination;
            effect.highlightSource = source;
            effect.irisImage = mask.valid ? mask : EmptyView<ImgMask8>();
            effect.refractionImage = EmptyView<Img>();
            effect.params = params;
            status = effect.render(0, 1);
        }
    }
    const int16_t result = int16_t(uint16_t(status & 0xFFFF));
    LogTrace("Render( return(", result, ") )\n");
    return result;
}

}  // namespace ov

// One instance per translation unit: PEL_LENS_RENDER_INSTANCE(ImgHostRGB_U8);
#define PEL_LENS_RENDER_INSTANCE(IMG)                                                                      \
    template int16_t ov::Render<ov::IMG>(ov::pfFilterPelidorn*, const ov::IMG&, const ov::IMG&,            \
                                         const ov::ImgMask8&, FilterRecord*)
