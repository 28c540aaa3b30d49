// pelidorn_kernelview: writes the iris kernel image of given iris settings as a gray PNG.
//
//   pelidorn_kernelview [--radius R] [--facets N] [--round F] [--angle DEG] [--aspect A]
//                       [--border F] [--brightness F] [--softness F] [--size WxH]
//                       [--raw] OUT.png
//
// The settings are the lens filter's iris parameters (radius in pixels of the image drawn,
// angle in degrees, aspect -0.75 .. 0.75, border 0 .. 1, brightness -1 .. 1). The kernel is
// drawn centred in a W x H float image (by default the kernel's size plus a margin); the PNG
// holds it scaled so that its largest value is white, or with --raw the values themselves
// (1.0 = white).
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/host.h"
#include "kernel/iris_kernel_image.h"

namespace {

struct Options {
  double radius = 40.0, round = 0.5, angle = 0.0, aspect = 0.0, border = 0.0, brightness = 0.0,
         softness = 0.0;
  int facets = 6;
  uint32_t width = 0, height = 0;
  bool raw = false;
  std::string out;
};

int usage() {
  std::fprintf(stderr,
               "usage: pelidorn_kernelview [--radius R] [--facets N] [--round F] [--angle DEG]\n"
               "         [--aspect A] [--border F] [--brightness F] [--softness F]\n"
               "         [--size WxH] [--raw] OUT.png\n");
  return 2;
}

bool writePng(const std::string& path, uint32_t w, uint32_t h, const std::vector<uint8_t>& g) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < h; ++y) png_write_row(png, const_cast<uint8_t*>(&g[size_t(y) * w]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--raw") {
      o.raw = true;
    } else if (a == "--size") {
      if (!(v = next()) || std::sscanf(v, "%ux%u", &o.width, &o.height) != 2) return usage();
    } else if (a.rfind("--", 0) == 0) {
      if (!(v = next())) return usage();
      const double x = std::atof(v);
      if (a == "--radius") o.radius = x;
      else if (a == "--facets") o.facets = std::atoi(v);
      else if (a == "--round") o.round = x;
      else if (a == "--angle") o.angle = x;
      else if (a == "--aspect") o.aspect = x;
      else if (a == "--border") o.border = x;
      else if (a == "--brightness") o.brightness = x;
      else if (a == "--softness") o.softness = x;
      else return usage();
    } else {
      o.out = a;
    }
  }
  if (o.out.empty()) return usage();
  if (o.width == 0 || o.height == 0) {
    // The kernel's half width is about (radius + 1) (1 + |aspect|), plus room for the glow.
    const double half = (o.radius + 1.0) * (1.0 + std::fabs(o.aspect)) + 8.0 + o.softness * 4.0;
    o.width = o.height = static_cast<uint32_t>(std::max(16.0, 2.0 * half));
  }

  OutOfFocusParams params{};
  params.view = 1;
  params.blur_radius = o.radius;
  params.keep_color = 0;
  params.iris_softness = o.softness;
  params.iris_roundness = o.round;
  params.iris_border = o.border;
  params.iris_border_brightness = o.brightness;
  params.iris_angle = o.angle * -3.14159265358979323846 * 2.0 * (1.0 / 360.0);
  params.iris_aspect = o.aspect;
  params.iris_facets = o.facets;
  params.scale_x = 1.0;
  params.scale_y = 1.0;

  std::vector<float> pixels(size_t(o.width) * o.height, 0.0f);
  ov::ImgWorkGray_F1 image(pixels.data(), o.width, o.height, int32_t(o.width * 4), 0, 0, false,
                           1.0, 1.0, 1.0, true, 4);
  ov::OstrovanneHost host("kernelview", "Ostrovanne", 1, 0, 0, "kernel viewer");
  const uint32_t status = buildIrisKernelImage(image, ov::ImgMask8(), params, 0, 1, &host);
  if (status != host.StatusOk()) {
    std::fprintf(stderr, "kernelview: drawing the kernel failed with status %u\n", status);
    return 1;
  }

  double peak = 0.0, sum = 0.0;
  for (float p : pixels) {
    peak = std::max(peak, double(p));
    sum += p;
  }
  const double scale = o.raw || peak <= 0.0 ? 255.0 : 255.0 / peak;
  std::vector<uint8_t> gray(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i)
    gray[i] = static_cast<uint8_t>(std::lround(std::clamp(pixels[i] * scale, 0.0, 255.0)));
  if (!writePng(o.out, o.width, o.height, gray)) {
    std::fprintf(stderr, "kernelview: cannot write %s\n", o.out.c_str());
    return 1;
  }
  std::printf("%s: %ux%u, kernel sum %.4f, peak %.4f\n", o.out.c_str(), o.width, o.height, sum,
              peak);
  return 0;
}
