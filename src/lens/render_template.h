// The render format selection. SelectRenderTemplate reads the host's image
// description from the filter record, picks one of the 18 host pixel formats, builds the
// source, destination and mask views over the host's buffers and calls that format's Render
// instance (lens/render.h). This file is the one place where the runtime format maps to a
// template instance.
//
// Guarded: the channel count is capped at the planes the
// host's pixel has, and alpha is taken only when channels + alpha fit in them (a record that
// flags transparency with inLayerPlanes 0 and three planes renders RGB without alpha instead
// of reading a fourth sample past the pixel).
#pragma once

#include <cstdint>

#include "host/host_api.h"

namespace ov {

class pfFilterPelidorn;

enum class SampleType : uint8_t { U8, U16, F32 };

struct RenderFormat {
    bool supported = false;
    SampleType sample = SampleType::U8;
    int channels = 0;       // 1 gray, 2 two channels, 3 RGB
    bool alpha = false;
    int sampleBytes = 0;    // 1, 2 or 4
    int pixelBytes = 0;     // planes * sampleBytes: the host pixel's step
    int instance = 0;       // 1..18, the row of the instance table
};

// The format of the document the record describes (steps 3-6 of the selection, with the
// cap above). supported is false for other modes, depths and channel counts.
RenderFormat ChooseRenderFormat(const FilterRecord& record);

// The render operation of the lens filter: the Render instance's status, or 0 when the
// document is not supported (nothing rendered).
int16_t SelectRenderTemplate(pfFilterPelidorn* filter, FilterRecord* record);

}  // namespace ov
