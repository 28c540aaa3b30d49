// PNG through libpng's classic interface (no colour management: samples are taken as stored),
// TIFF through libtiff's scanline interface (strips, contiguous or separate planes).
#include "tools/pelidorn/image_io.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// libpng reports errors by longjmp. The only work after the jump builds the error text from
// scratch, yet GCC's clobber analysis flags the standard string's inlined internals there at
// -O1; no local of ours is live across the jump.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wclobbered"
#endif
#include <memory>

namespace pelidorn {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- PNG -----------------------------------------------------------------------------------

struct PngError {
    char text[256] = "";
};

void PngErrorFn(png_structp png, png_const_charp message) {
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(e->text, sizeof e->text, "%s", message);
    png_longjmp(png, 1);
}
void PngWarningFn(png_structp, png_const_charp) {}

bool ReadPng(FILE* f, Image& image, std::string& error) {
    PngError err;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngErrorFn, PngWarningFn);
    if (!png) {
        error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        error = std::string("not a readable PNG file (") + err.text + ")";
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "palette PNG files are not supported (convert the image to gray or RGB)";
        return false;
    }
    if (depth != 8 && depth != 16) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "PNG files of " + std::to_string(depth) + " bits per sample are not supported (8 or 16)";
        return false;
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "PNG files with a transparent colour key (tRNS) are not supported (use an alpha channel)";
        return false;
    }
    image.format = FileFormat::Png;
    image.width = int(width);
    image.height = int(height);
    image.bits = depth;
    image.colorChannels = (type & PNG_COLOR_MASK_COLOR) ? 3 : 1;
    image.alpha = (type & PNG_COLOR_MASK_ALPHA) != 0;
    if (depth == 16) png_set_swap(png);  // file order is big-endian; keep native uint16
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != image.rowBytes()) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "unexpected PNG row layout";
        return false;
    }
    image.samples.assign(image.rowBytes() * image.height, 0);
    rows.resize(image.height);
    for (int y = 0; y < image.height; ++y) rows[y] = image.samples.data() + image.rowBytes() * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool WritePng(FILE* f, const Image& image, std::string& error) {
    if (image.bits != 8 && image.bits != 16) {
        error = "PNG holds 8 or 16 bits per sample only";
        return false;
    }
    PngError err;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngErrorFn, PngWarningFn);
    if (!png) {
        error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(image.height);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        error = std::string("cannot write PNG (") + err.text + ")";
        return false;
    }
    png_init_io(png, f);
    int type = image.colorChannels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
    if (image.alpha) type |= PNG_COLOR_MASK_ALPHA;
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.bits, type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (image.bits == 16) png_set_swap(png);
    for (int y = 0; y < image.height; ++y)
        rows[y] = const_cast<png_bytep>(image.samples.data() + image.rowBytes() * y);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---- TIFF ----------------------------------------------------------------------------------

thread_local std::string tiffMessage;

void TiffErrorHandler(const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    tiffMessage = text;
    (void)module;
}
void TiffWarningHandler(const char*, const char*, va_list) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

bool ReadTiff(const std::string& path, Image& image, std::string& error) {
    TIFFSetErrorHandler(TiffErrorHandler);
    TIFFSetWarningHandler(TiffWarningHandler);
    tiffMessage.clear();
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        error = "not a readable TIFF file" + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
        return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, spp = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric)) {
        error = "TIFF file without a photometric interpretation";
        return false;
    }
    if (TIFFIsTiled(tif.get())) {
        error = "tiled TIFF files are not supported (strips only)";
        return false;
    }
    const bool isFloat = format == SAMPLEFORMAT_IEEEFP;
    if (!((bits == 8 || bits == 16) && format == SAMPLEFORMAT_UINT) && !(bits == 32 && isFloat)) {
        error = "TIFF samples of " + std::to_string(bits) + " bits" +
                (isFloat ? " float" : format == SAMPLEFORMAT_INT ? " signed" : "") +
                " are not supported (8 or 16-bit unsigned, or 32-bit float)";
        return false;
    }
    int colors = 0;
    if (photometric == PHOTOMETRIC_MINISBLACK) colors = 1;
    else if (photometric == PHOTOMETRIC_RGB) colors = 3;
    else {
        error = "TIFF colour model " + std::to_string(photometric) +
                " is not supported (gray with 0 as black, or RGB)";
        return false;
    }
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    if (spp != colors && spp != colors + 1) {
        error = "TIFF files with " + std::to_string(spp) + " samples per pixel in this colour model are not supported";
        return false;
    }
    if (spp == colors + 1 && extraCount == 1 && extraTypes && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA) {
        error = "TIFF files with premultiplied (associated) alpha are not supported";
        return false;
    }
    image.format = FileFormat::Tiff;
    image.width = int(width);
    image.height = int(height);
    image.bits = bits;
    image.colorChannels = colors;
    image.alpha = spp == colors + 1;
    image.tiffCompression = compression;
    image.samples.assign(image.rowBytes() * image.height, 0);
    const tmsize_t scanline = TIFFScanlineSize(tif.get());
    std::vector<uint8_t> line(size_t(std::max<tmsize_t>(scanline, 1)));
    const int sb = image.sampleBytes();
    const int ch = image.channels();
    for (int y = 0; y < image.height; ++y) {
        uint8_t* row = image.samples.data() + image.rowBytes() * y;
        if (planar == PLANARCONFIG_CONTIG) {
            if (size_t(scanline) < image.rowBytes() || TIFFReadScanline(tif.get(), line.data(), uint32_t(y), 0) < 0) {
                error = "cannot read TIFF row " + std::to_string(y) + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
                return false;
            }
            std::memcpy(row, line.data(), image.rowBytes());
        } else {
            for (int s = 0; s < ch; ++s) {
                if (size_t(scanline) < size_t(image.width) * sb ||
                    TIFFReadScanline(tif.get(), line.data(), uint32_t(y), uint16_t(s)) < 0) {
                    error = "cannot read TIFF row " + std::to_string(y);
                    return false;
                }
                for (int x = 0; x < image.width; ++x)
                    std::memcpy(row + (size_t(x) * ch + s) * sb, line.data() + size_t(x) * sb, sb);
            }
        }
    }
    return true;
}

bool WriteTiff(const std::string& path, const Image& image, std::string& error) {
    TIFFSetErrorHandler(TiffErrorHandler);
    TIFFSetWarningHandler(TiffWarningHandler);
    tiffMessage.clear();
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "w"));
    if (!tif) {
        error = "cannot create the TIFF file" + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
        return false;
    }
    uint16_t compression = image.tiffCompression;
    if (compression != COMPRESSION_NONE && compression != COMPRESSION_LZW &&
        compression != COMPRESSION_ADOBE_DEFLATE && compression != COMPRESSION_DEFLATE &&
        compression != COMPRESSION_PACKBITS)
        compression = COMPRESSION_NONE;
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, uint32_t(image.height));
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, uint16_t(image.bits));
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.channels()));
    TIFFSetField(tif.get(), TIFFTAG_SAMPLEFORMAT, uint16_t(image.bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC,
                 uint16_t(image.colorChannels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    if (image.alpha) {
        uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif.get(), TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.get(), 0));
    std::vector<uint8_t> line(image.rowBytes());
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(line.data(), image.samples.data() + image.rowBytes() * y, image.rowBytes());
        if (TIFFWriteScanline(tif.get(), line.data(), uint32_t(y), 0) < 0) {
            error = "cannot write TIFF row " + std::to_string(y) + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
            return false;
        }
    }
    if (!TIFFFlush(tif.get())) {
        error = "cannot write the TIFF file" + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
        return false;
    }
    return true;
}

}  // namespace

bool FormatFromPath(const std::string& path, FileFormat& format) {
    const std::string p = Lower(path);
    if (EndsWith(p, ".png")) {
        format = FileFormat::Png;
        return true;
    }
    if (EndsWith(p, ".tif") || EndsWith(p, ".tiff")) {
        format = FileFormat::Tiff;
        return true;
    }
    return false;
}

bool ReadImage(const std::string& path, Image& image, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    unsigned char magic[8] = {};
    const size_t n = std::fread(magic, 1, sizeof magic, f);
    bool ok;
    if (n >= 8 && png_sig_cmp(magic, 0, 8) == 0) {
        std::rewind(f);
        ok = ReadPng(f, image, error);
        std::fclose(f);
    } else if (n >= 4 && ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M'))) {
        std::fclose(f);
        ok = ReadTiff(path, image, error);
    } else {
        std::fclose(f);
        error = "neither a PNG nor a TIFF file";
        return false;
    }
    if (ok && (image.width <= 0 || image.height <= 0)) {
        error = "the image is empty";
        return false;
    }
    return ok;
}

bool WriteImage(const std::string& path, const Image& image, std::string& error) {
    if (image.format == FileFormat::Tiff) return WriteTiff(path, image, error);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = std::string("cannot create: ") + std::strerror(errno);
        return false;
    }
    bool ok = WritePng(f, image, error);
    if (std::fflush(f) != 0 || std::ferror(f)) {
        if (ok) error = std::string("write error: ") + std::strerror(errno);
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        error = std::string("write error: ") + std::strerror(errno);
        ok = false;
    }
    return ok;
}

std::string Describe(const Image& image) {
    std::string s = image.format == FileFormat::Png ? "PNG " : "TIFF ";
    s += image.colorChannels == 3 ? "RGB" : "gray";
    if (image.alpha) s += " with alpha";
    s += ", " + std::to_string(image.width) + "x" + std::to_string(image.height) + ", ";
    s += image.bits == 32 ? "32-bit float" : std::to_string(image.bits) + " bits";
    return s;
}

}  // namespace pelidorn
