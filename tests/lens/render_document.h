// A document rendered through the render road of the lens filter (SelectRenderTemplate on a
// FakeHost): its format, samples in 0..1 (16-bit samples on the host's 0..32768 scale, float
// samples as they are), an optional 8-bit selection, and the filter's settings.
#pragma once

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "fake_host.h"
#include "lens/pelidorn_filter.h"
#include "lens/render_template.h"

namespace lens_test {

// A host format: image mode, bits per sample and plane counts.
struct DocumentFormat {
    const char* name;
    int16_t mode;
    int32_t depth;
    int16_t planes, layerPlanes, transparency, nonLayerPlanes;
};

inline void StoreSample(std::vector<uint8_t>& bytes, size_t index, int32_t depth, double v) {
    if (depth == 8) {
        bytes[index] = uint8_t(std::lround(v * 255));
    } else if (depth == 16) {
        const uint16_t s = uint16_t(std::lround(v * 32768));
        std::memcpy(&bytes[index * 2], &s, 2);
    } else {
        const float s = float(v);
        std::memcpy(&bytes[index * 4], &s, 4);
    }
}

inline double LoadSample(const std::vector<uint8_t>& bytes, size_t index, int32_t depth) {
    if (depth == 8) return bytes[index] / 255.0;
    if (depth == 16) {
        uint16_t s;
        std::memcpy(&s, &bytes[index * 2], 2);
        return s / 32768.0;
    }
    float s;
    std::memcpy(&s, &bytes[index * 4], 4);
    return s;
}

// Renders `samples` (width x height pixels, planes interleaved) and returns the output's
// samples the same way; `selection` (empty: none) is handed over as the document's selection,
// `settings` sets the filter's parameters. Returns an empty vector when the render fails.
inline std::vector<double> RenderDocument(const DocumentFormat& f, int width, int height,
                                          const std::vector<double>& samples,
                                          const std::vector<uint8_t>& selection,
                                          const std::function<void(ov::pfFilterPelidorn&)>& settings) {
    auto filter = std::make_unique<ov::pfFilterPelidorn>("\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5, "desc\n");
    FakeHost host(width, height, f.planes, f.depth);
    host.rec.imageMode = f.mode;
    host.rec.inLayerPlanes = f.layerPlanes;
    host.rec.inTransparencyMask = f.transparency;
    host.rec.inNonLayerPlanes = f.nonLayerPlanes;
    for (size_t i = 0; i < samples.size(); ++i) StoreSample(host.in, i, f.depth, samples[i]);
    if (!selection.empty()) {
        host.rec.haveMask = 1;
        host.mask = selection;
    }
    filter->PrepareScriptRead(&host.rec);
    settings(*filter);
    filter->parameters.ValidateAll();
    if (ov::pfFilter::SetupFilterRecord(&host.rec, 1) != 0) return {};
    filter->filterRecord = &host.rec;
    if (ov::SelectRenderTemplate(filter.get(), &host.rec) != 0) return {};
    std::vector<double> out(samples.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = LoadSample(host.out, i, f.depth);
    return out;
}

}  // namespace lens_test
