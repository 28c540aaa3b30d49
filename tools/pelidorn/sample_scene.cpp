// pelidorn_sample DIR [--size WxH] [--grain]: draws the project's own sample scene (no third-party
// images) and writes DIR/scene.png (RGB, 8 bits, 960x640) and DIR/scene_depth.png (8-bit gray,
// the same size); --size resamples both (nearest pixel) to another size and --grain adds a
// sensor-like grain of +-8 levels to the scene, for benchmarks on photo-like files. The scene: a night street with a sharp subject in front and many small, bright lights far
// behind it, the lights being what a lens blur turns into iris-shaped highlights. The depth
// map matches the drawing: 255 (in focus with the default focal point) on the subject, low
// values on the lights and the far background, a ramp along the ground.
//
// Deterministic: the same program always writes the same files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pelidorn/image_io.h"
#include "tools/scene/scene_random.h"

namespace {

using pelidorn::SceneHash;
using pelidorn::SceneRandom;

struct Canvas {
    int w, h;
    std::vector<double> rgb;      // linear-ish 0..1 working values, clamped when written
    std::vector<double> depth;    // 0..255
    void add(int x, int y, double r, double g, double b) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        double* p = &rgb[(size_t(y) * w + x) * 3];
        p[0] += r, p[1] += g, p[2] += b;
    }
};

}  // namespace

// Nearest-pixel resampling of an interleaved 8-bit image.
pelidorn::Image Resample(const pelidorn::Image& in, int width, int height) {
    pelidorn::Image out = in;
    out.width = width;
    out.height = height;
    const int ch = in.channels();
    out.samples.assign(size_t(width) * height * ch, 0);
    for (int y = 0; y < height; ++y) {
        const int sy = int(int64_t(y) * in.height / height);
        for (int x = 0; x < width; ++x) {
            const int sx = int(int64_t(x) * in.width / width);
            for (int c = 0; c < ch; ++c)
                out.samples[(size_t(y) * width + x) * ch + c] = in.samples[(size_t(sy) * in.width + sx) * ch + c];
        }
    }
    return out;
}

int main(int argc, char** argv) {
    int width = 960, height = 640;
    bool grain = false;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1 || width > 32767 ||
                height > 32767) {
                std::fprintf(stderr, "pelidorn_sample: --size takes WxH (1..32767 each)\n");
                return 2;
            }
        } else if (a == "--grain") {
            grain = true;
        } else if (dir.empty() && a[0] != '-') {
            dir = a;
        } else {
            dir.clear();
            break;
        }
    }
    if (dir.empty()) {
        std::fprintf(stderr, "usage: pelidorn_sample DIR [--size WxH] [--grain] (writes DIR/scene.png and DIR/scene_depth.png)\n");
        return 2;
    }
    Canvas c{960, 640, {}, {}};
    c.rgb.assign(size_t(c.w) * c.h * 3, 0.0);
    c.depth.assign(size_t(c.w) * c.h, 0.0);
    const int horizon = 400;
    // Sky and far buildings: a dark blue gradient with window rows; ground below the horizon.
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            double* p = &c.rgb[(size_t(y) * c.w + x) * 3];
            double& d = c.depth[size_t(y) * c.w + x];
            if (y < horizon) {
                const double t = double(y) / horizon;
                p[0] = 0.02 + 0.06 * t, p[1] = 0.03 + 0.07 * t, p[2] = 0.10 + 0.12 * t;
                d = 10;
            } else {
                const double t = double(y - horizon) / (c.h - horizon);
                p[0] = 0.10 + 0.10 * t, p[1] = 0.09 + 0.08 * t, p[2] = 0.08 + 0.06 * t;
                // Paving stripes that sharpen toward the viewer.
                if (((x + (y - horizon) * 3) / 40) % 2 == 0) p[0] += 0.03, p[1] += 0.03, p[2] += 0.03;
                d = 30 + 225 * t;
            }
        }
    // Building blocks with dim windows.
    uint32_t seed = 12345;
    for (int b = 0; b < 9; ++b) {
        const int x0 = int(b * 110 + SceneRandom(seed) * 30), x1 = x0 + 70 + int(SceneRandom(seed) * 40);
        const int top = 120 + int(SceneRandom(seed) * 160);
        for (int y = top; y < horizon; ++y)
            for (int x = x0; x < x1 && x < c.w; ++x) {
                double* p = &c.rgb[(size_t(y) * c.w + x) * 3];
                p[0] = 0.05, p[1] = 0.05, p[2] = 0.07;
                c.depth[size_t(y) * c.w + x] = 25;
                if ((x - x0) % 14 < 7 && (y - top) % 18 < 9 && SceneHash(uint32_t(x / 14 * 977 + y / 18 * 131 + b)) % 3 == 0)
                    p[0] = 0.55, p[1] = 0.45, p[2] = 0.25;
            }
    }
    // Far lights: small, very bright discs (clipped to white or saturated colours) that a lens
    // blur turns into bokeh.
    const double colours[5][3] = {{1.0, 0.85, 0.55}, {1.0, 1.0, 1.0}, {1.0, 0.35, 0.25}, {0.45, 0.8, 1.0}, {1.0, 0.7, 0.2}};
    for (int i = 0; i < 140; ++i) {
        const double cx = SceneRandom(seed) * c.w, cy = 60 + SceneRandom(seed) * (horizon + 40);
        const double radius = 1.2 + SceneRandom(seed) * 2.3;
        const double* col = colours[SceneHash(uint32_t(i)) % 5];
        const double gain = (col[1] == 1.0 ? 3.0 : 1.0) + SceneRandom(seed) * 0.8;
        for (int y = int(cy - radius - 2); y <= int(cy + radius + 2); ++y)
            for (int x = int(cx - radius - 2); x <= int(cx + radius + 2); ++x) {
                const double dist = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                const double cover = std::clamp(radius + 0.5 - dist, 0.0, 1.0);
                if (cover <= 0) continue;
                c.add(x, y, col[0] * gain * cover, col[1] * gain * cover, col[2] * gain * cover);
                if (x >= 0 && y >= 0 && x < c.w && y < c.h) c.depth[size_t(y) * c.w + x] = 15;
            }
    }
    // Street lamps along the road: a row of larger lights getting nearer.
    for (int i = 0; i < 7; ++i) {
        const double cx = 80 + i * 130, cy = horizon - 40 + i * 6, radius = 3.0 + i * 0.6;
        for (int y = int(cy - radius - 2); y <= int(cy + radius + 2); ++y)
            for (int x = int(cx - radius - 2); x <= int(cx + radius + 2); ++x) {
                const double cover = std::clamp(radius + 0.5 - std::hypot(x + 0.5 - cx, y + 0.5 - cy), 0.0, 1.0);
                c.add(x, y, 4.0 * cover, 3.4 * cover, 2.2 * cover);
                if (cover > 0 && x >= 0 && y >= 0 && x < c.w && y < c.h) c.depth[size_t(y) * c.w + x] = 40 + i * 10;
            }
    }
    // The subject in front, in focus: a signpost with a checkered board and a ring.
    for (int y = 150; y < c.h; ++y)
        for (int x = 455; x < 475; ++x) {
            double* p = &c.rgb[(size_t(y) * c.w + x) * 3];
            const double shade = 0.35 + 0.25 * std::cos((x - 465) / 10.0);
            p[0] = shade, p[1] = shade * 0.9, p[2] = shade * 0.8;
            c.depth[size_t(y) * c.w + x] = 255;
        }
    for (int y = 170; y < 330; ++y)
        for (int x = 360; x < 570; ++x) {
            double* p = &c.rgb[(size_t(y) * c.w + x) * 3];
            const bool dark = ((x - 360) / 15 + (y - 170) / 15) % 2 == 0;
            p[0] = dark ? 0.08 : 0.85, p[1] = dark ? 0.10 : 0.82, p[2] = dark ? 0.12 : 0.70;
            if (x < 364 || x >= 566 || y < 174 || y >= 326) p[0] = 0.9, p[1] = 0.2, p[2] = 0.1;
            c.depth[size_t(y) * c.w + x] = 255;
        }
    for (int y = 360; y < 470; ++y)
        for (int x = 410; x < 520; ++x) {
            const double r = std::hypot(x + 0.5 - 465, y + 0.5 - 415);
            if (r > 40 && r < 52) {
                double* p = &c.rgb[(size_t(y) * c.w + x) * 3];
                p[0] = 0.95, p[1] = 0.75, p[2] = 0.1;
                c.depth[size_t(y) * c.w + x] = 255;
            }
        }

    pelidorn::Image scene, depth;
    scene.format = depth.format = pelidorn::FileFormat::Png;
    scene.width = depth.width = c.w;
    scene.height = depth.height = c.h;
    scene.colorChannels = 3;
    depth.colorChannels = 1;
    scene.samples.resize(size_t(c.w) * c.h * 3);
    depth.samples.resize(size_t(c.w) * c.h);
    for (size_t i = 0; i < scene.samples.size(); ++i)
        scene.samples[i] = uint8_t(std::lround(std::clamp(c.rgb[i], 0.0, 1.0) * 255.0));
    for (size_t i = 0; i < depth.samples.size(); ++i)
        depth.samples[i] = uint8_t(std::lround(std::clamp(c.depth[i], 0.0, 255.0)));
    if (width != c.w || height != c.h) {
        scene = Resample(scene, width, height);
        depth = Resample(depth, width, height);
    }
    if (grain) {
        uint32_t state = 12345;
        for (uint8_t& v : scene.samples) v = uint8_t(std::clamp(int(v) + int(SceneRandom(state) * 17.0) - 8, 0, 255));
    }
    std::string error;
    if (!pelidorn::WriteImage(dir + "/scene.png", scene, error) ||
        !pelidorn::WriteImage(dir + "/scene_depth.png", depth, error)) {
        std::fprintf(stderr, "pelidorn_sample: %s: %s\n", dir.c_str(), error.c_str());
        return 1;
    }
    return 0;
}
