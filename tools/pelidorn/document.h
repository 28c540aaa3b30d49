// Between image files and the host's document: the host's 16-bit range is 0..32768, so
// 16-bit file samples (0..65535) are mapped in and out exactly as a Photoshop-compatible
// host maps them, rounding to nearest:
//   in:  h = (v * 32768 + 32767) / 65535        out: v = (min(h, 32768) * 65535 + 16384) / 32768
// Every host value 0..32768 survives out-and-in unchanged; 8-bit and float samples pass as
// they are (float 0..1).
#pragma once

#include "tools/pelidorn/image_io.h"
#include "tools/pelidorn/plugin_host.h"

namespace pelidorn {

inline uint16_t FileToHost16(uint16_t v) { return uint16_t((uint32_t(v) * 32768u + 32767u) / 65535u); }
inline uint16_t HostToFile16(uint16_t h) {
    const uint32_t c = h > 32768 ? 32768u : h;
    return uint16_t((c * 65535u + 16384u) / 32768u);
}

// The document of an image (its selection left empty). The image's samples move into the
// document (converted in place), so the image holds none afterwards.
HostDocument DocumentFromImage(Image& image);
// Moves the document's pixels back into an image of the same layout (converted in place).
void ImageFromDocument(HostDocument& document, Image& image);

}  // namespace pelidorn
