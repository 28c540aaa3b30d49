// The codecs behind ReadImage and WriteImage (image_io.h), one file a format, and the checks
// they share. Private to the image files of the stand-in host.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pelidorn/image_io.h"

namespace pelidorn::codec {

// The size check of a header: false with the reason when the image cannot be had. `limit`
// is the caller's own bound on the pixels' bytes (0: none beyond what the machine has free).
bool SizeAllowed(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t limit, std::string& error);

// An Exif block is a little TIFF file: byte order, 42, the offset of IFD0; IFD0's entry count,
// its 12-byte entries and the offset of IFD1 (the thumbnail). The link to IFD1 is cut, so
// that no viewer shows the thumbnail of the picture before the blur; a block too short or
// malformed to find it is kept as it is.
void DropExifThumbnail(std::vector<uint8_t>& exif);

// The readers take an open file that can be sought (a pipe's data is copied first), at its
// start, and leave closing it to the caller.

// The length of an open file in bytes; 0 when it cannot be told.
uint64_t FileLength(FILE* f);

// PNG (image_png.cpp): the fast reader for the common files, libpng for the rest; the writer
// compresses bands of rows on all cores.
bool ReadPng(FILE* f, Image& image, std::string& error, uint64_t limit);
bool WritePng(FILE* f, const Image& image, std::string& error, const WriteOptions& options);

// JPEG (image_jpeg.cpp) through libjpeg.
bool ReadJpeg(FILE* f, Image& image, std::string& error, uint64_t limit);
bool WriteJpeg(FILE* f, const Image& image, std::string& error, const WriteOptions& options);

// TIFF (image_tiff.cpp) through libtiff's scanline interface.
// `name` is used in libtiff's messages only.
bool ReadTiff(FILE* f, const std::string& name, Image& image, std::string& error, uint64_t limit);
bool WriteTiff(const std::string& path, const Image& image, std::string& error);

}  // namespace pelidorn::codec
