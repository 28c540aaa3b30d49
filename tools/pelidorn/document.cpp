#include "tools/pelidorn/document.h"

#include <cstring>
#include <utility>

namespace pelidorn {

HostDocument DocumentFromImage(Image& image) {
    HostDocument d;
    d.width = image.width;
    d.height = image.height;
    d.colorChannels = image.colorChannels;
    d.alpha = image.alpha;
    d.depth = image.bits;
    d.pixels = std::move(image.samples);
    image.samples = {};
    if (image.bits == 16) {
        const size_t n = d.pixels.size() / 2;
        for (size_t i = 0; i < n; ++i) {
            uint16_t v;
            std::memcpy(&v, d.pixels.data() + 2 * i, 2);
            v = FileToHost16(v);
            std::memcpy(d.pixels.data() + 2 * i, &v, 2);
        }
    }
    return d;
}

void ImageFromDocument(HostDocument& document, Image& image) {
    image.samples = std::move(document.pixels);
    document.pixels = {};
    if (image.bits == 16) {
        const size_t n = image.samples.size() / 2;
        for (size_t i = 0; i < n; ++i) {
            uint16_t h;
            std::memcpy(&h, image.samples.data() + 2 * i, 2);
            h = HostToFile16(h);
            std::memcpy(image.samples.data() + 2 * i, &h, 2);
        }
    }
}

}  // namespace pelidorn
