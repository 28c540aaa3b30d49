// Image files of the stand-in host: PNG (8 and 16 bits) and TIFF (8 and 16 bits unsigned,
// 32-bit float), gray or RGB, with or without alpha, through libpng and libtiff.
//
// An Image keeps the file's own samples, interleaved, in native byte order: 8-bit samples as
// bytes, 16-bit samples as uint16 (0..65535), float samples as float. Conversion to the host's
// sample ranges (16-bit 0..32768) is the host's business (host_document.h), not the file's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelidorn {

enum class FileFormat { Png, Tiff };

struct Image {
    FileFormat format = FileFormat::Png;
    int width = 0;
    int height = 0;
    int colorChannels = 0;  // 1 gray, 3 RGB
    bool alpha = false;
    int bits = 8;           // 8, 16 or 32 (float, TIFF only)
    uint16_t tiffCompression = 1;  // kept for the output of a TIFF input
    std::vector<uint8_t> samples;  // height rows of width * channels() samples

    int channels() const { return colorChannels + (alpha ? 1 : 0); }
    int sampleBytes() const { return bits / 8; }
    size_t rowBytes() const { return size_t(width) * channels() * sampleBytes(); }
};

// The format by the file name's extension (.png; .tif, .tiff), case-insensitive. False when
// the extension is neither.
bool FormatFromPath(const std::string& path, FileFormat& format);

// Reads a file; false with a one-line reason in error (without the path).
bool ReadImage(const std::string& path, Image& image, std::string& error);
// Writes an image in image.format; false with a one-line reason in error.
bool WriteImage(const std::string& path, const Image& image, std::string& error);

// A short description such as "RGB with alpha, 16 bits".
std::string Describe(const Image& image);

}  // namespace pelidorn
