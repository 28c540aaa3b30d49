// Fuzz target: the host tool's image reader on hostile files (PNG through both readers, JPEG,
// TIFF with any tags). The input is written to a file and read with an 8 MiB bound on the
// pixels. Properties checked:
// - a file that reads has a plausible shape and exactly the sample bytes its shape needs;
// - a PNG or TIFF that reads, written again in its own format, reads back as the same
//   samples (JPEG: the same shape), and every file with the same ICC profile and Exif block;
// - no memory error, leak or undefined behaviour (AddressSanitizer, UndefinedBehaviorSanitizer).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/pelidorn/image_io.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

// Two files of this process, removed at exit.
struct Files {
    std::string input, output;
    Files() {
        char dir[] = "/tmp/pelidorn-fuzz-XXXXXX";
        Check(mkdtemp(dir) != nullptr, "temporary folder");
        folder = dir;
        input = folder + "/in";
        output = folder + "/out";
    }
    ~Files() {
        std::remove(input.c_str());
        for (const char* ext : {".png", ".tif", ".jpg"}) std::remove((output + ext).c_str());
        rmdir(folder.c_str());
    }
    std::string folder;
};

Files& files() {
    static Files f;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Files& f = files();
    FILE* out = std::fopen(f.input.c_str(), "wb");
    Check(out != nullptr, "input file");
    Check(std::fwrite(data, 1, size, out) == size, "input written");
    std::fclose(out);

    pelidorn::ReadOptions options;
    options.memoryLimit = 8u << 20;
    pelidorn::Image image;
    std::string error;
    if (!pelidorn::ReadImage(f.input, image, error, options)) {
        Check(!error.empty(), "a refusal says why");
        return 0;
    }
    Check(image.width > 0 && image.height > 0, "not empty");
    Check(image.width <= pelidorn::kMaxImageSide && image.height <= pelidorn::kMaxImageSide, "side");
    Check(image.colorChannels == 1 || image.colorChannels == 3, "colour model");
    Check(image.bits == 8 || image.bits == 16 || (image.bits == 32 && image.format == pelidorn::FileFormat::Tiff),
          "sample size");
    Check(image.samples.size() == image.rowBytes() * size_t(image.height), "sample bytes");

    const char* ext = image.format == pelidorn::FileFormat::Png    ? ".png"
                      : image.format == pelidorn::FileFormat::Tiff ? ".tif"
                                                                    : ".jpg";
    const std::string path = f.output + ext;
    pelidorn::WriteOptions writeOptions;
    writeOptions.threads = 1;
    Check(pelidorn::WriteImage(path, image, error, writeOptions), "written again");
    pelidorn::Image back;
    Check(pelidorn::ReadImage(path, back, error, options), "what was written reads");
    Check(back.width == image.width && back.height == image.height &&
              back.colorChannels == image.colorChannels && back.alpha == image.alpha && back.bits == image.bits,
          "same shape");
    if (image.format != pelidorn::FileFormat::Jpeg) Check(back.samples == image.samples, "same samples");
    Check(back.exif == image.exif && back.icc == image.icc, "same metadata");
    return 0;
}
