// TIFF files through libtiff's scanline interface (strips, contiguous or separate planes).
#include "tools/pelidorn/image_codecs.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace pelidorn::codec {

namespace {

thread_local std::string tiffMessage;
// The JPEG decoder inside libtiff met corrupt or missing data and made up what it lacked.
thread_local bool tiffCorrupt = false;

void TiffErrorHandler(const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    tiffMessage = text;
    (void)module;
}
// libtiff's JPEG codec passes the decoder's warnings on under the module name "JPEGLib";
// those that say data is corrupt or missing ("Corrupt JPEG data: ...", "Premature end of
// JPEG file") mean rows the file does not hold. Only the first warning of a strip is passed
// on, so a strip that lacks only its final marker cannot be told from one cut short: both
// are refused. Other warnings are kept quiet.
void TiffWarningHandler(const char* module, const char* fmt, va_list ap) {
    if (!module || std::strcmp(module, "JPEGLib") != 0) return;
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    if (std::strncmp(text, "Corrupt JPEG data", 17) == 0 || std::strncmp(text, "Premature end of JPEG", 21) == 0) {
        tiffMessage = text;
        tiffCorrupt = true;
    }
}

// The colour model of a Photometric value, in words.
std::string ColourModelName(uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE: return "gray with 0 as white";
        case PHOTOMETRIC_MINISBLACK: return "gray with 0 as black";
        case PHOTOMETRIC_RGB: return "RGB";
        case PHOTOMETRIC_PALETTE: return "a colour palette";
        case PHOTOMETRIC_MASK: return "a transparency mask";
        case PHOTOMETRIC_SEPARATED: return "CMYK or other inks";
        case PHOTOMETRIC_YCBCR: return "YCbCr";
        case PHOTOMETRIC_CIELAB: return "CIE L*a*b*";
        case PHOTOMETRIC_ICCLAB: return "ICC L*a*b*";
        case PHOTOMETRIC_ITULAB: return "ITU L*a*b*";
        case PHOTOMETRIC_CFA: return "a colour filter array (camera raw)";
        case PHOTOMETRIC_LOGL: return "SGI log luminance";
        case PHOTOMETRIC_LOGLUV: return "SGI log luminance and chroma";
        case 34892: return "linear camera raw";
        default: return "unknown";
    }
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

}  // namespace

bool ReadTiff(FILE* f, const std::string& name, Image& image, std::string& error, uint64_t limit) {
    TIFFSetErrorHandler(TiffErrorHandler);
    TIFFSetWarningHandler(TiffWarningHandler);
    tiffMessage.clear();
    tiffCorrupt = false;
    // libtiff reads through a descriptor of its own (it closes it), from the file's start.
    const int fd = dup(fileno(f));
    if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) {
        if (fd >= 0) close(fd);
        error = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFFdOpen(fd, name.c_str(), "r"));
    if (!tif) {
        error = "not a readable TIFF file" + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
        return false;
    }
    // Pages after the first would be lost in the output (and in OUTPUT = INPUT, for good).
    const tdir_t pages = TIFFNumberOfDirectories(tif.get());
    if (pages > 1) {
        error = "multi-page TIFF files are not supported (this one has " + std::to_string(pages) +
                " pages; save the page to blur as a file of its own)";
        return false;
    }
    TIFFSetDirectory(tif.get(), 0);
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, spp = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
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
    else if (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR) colors = 3;
    else {
        error = "TIFF colour model " + std::to_string(photometric) + " is not supported (" +
                ColourModelName(photometric) + "; gray with 0 as black, RGB and YCbCr are)";
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
    // YCbCr (what libtiff itself writes for JPEG compression) is read as RGB: JPEG-compressed
    // data converted by the JPEG decoder, anything else through libtiff's RGBA interface
    // (which applies the file's subsampling, coefficients and reference levels), 8 bits only.
    const bool ycbcr = photometric == PHOTOMETRIC_YCBCR;
    // (libtiff converts interleaved samples only; planes of their own take the RGBA road.)
    const bool ycbcrJpeg = ycbcr && compression == COMPRESSION_JPEG && planar == PLANARCONFIG_CONTIG;
    if (ycbcr) {
        char reason[1024] = "";
        if (bits != 8 || spp != 3) {
            error = "TIFF files in YCbCr are supported with three 8-bit samples only (this one has " +
                    std::to_string(spp) + " of " + std::to_string(bits) + " bits)";
            return false;
        }
        if (ycbcrJpeg) {
            TIFFSetField(tif.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        } else if (!TIFFRGBAImageOK(tif.get(), reason)) {
            error = std::string("TIFF files in YCbCr of this kind are not supported (") + reason + ")";
            return false;
        }
    }
    // The RGBA road needs the whole image once more as 32-bit pixels while it converts.
    const uint64_t rgbaBytes = ycbcr && !ycbcrJpeg ? 4 : 0;
    if (!SizeAllowed(width, height, uint64_t(spp) * (bits / 8) + rgbaBytes, limit, error)) return false;
    // The rows must fit in the file at the most its compression can shrink them: a few bytes
    // claiming a large image take no memory for it. (libtiff makes up strip sizes for a file
    // whose own are implausible, so the file's length is the measure.) Stored rows take their
    // size; PackBits makes at most 128 bytes of 2; an LZW code of at least 9 bits yields at most
    // 4096 bytes; deflate shrinks at most 1032 to 1. The other compressions have no such bound
    // worth the name (JPEG codes a block of one value in a few bits): for every compression the
    // rows' memory is taken only as the rows decode (below).
    uint64_t ratio = 0;
    if (compression == COMPRESSION_NONE) ratio = 1;
    else if (compression == COMPRESSION_PACKBITS) ratio = 64;
    else if (compression == COMPRESSION_LZW) ratio = 4096 * 8 / 9 + 1;
    else if (compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE) ratio = 1040;
    const uint64_t length = FileLength(f);
    // (Subsampled YCbCr holds fewer bytes than its RGB pixels: the bound is taken on one sample a pixel.)
    const uint64_t stored = uint64_t(width) * height * (ycbcr ? 1 : spp) * (bits / 8);
    if (ratio && length && length * ratio < stored) {
        error = "not a readable TIFF file (its image data is too short for " + std::to_string(width) + "x" +
                std::to_string(height) + " pixels)";
        return false;
    }
    uint32_t profileLength = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile && profileLength)
        image.icc.assign(static_cast<uint8_t*>(profile), static_cast<uint8_t*>(profile) + profileLength);
    image.format = FileFormat::Tiff;
    image.width = int(width);
    image.height = int(height);
    image.bits = bits;
    image.colorChannels = colors;
    image.alpha = spp == colors + 1;
    image.tiffCompression = compression;
    image.orientation = orientation >= 1 && orientation <= 8 ? orientation : ORIENTATION_TOPLEFT;
    auto rowError = [&](int y) {
        error = "cannot read TIFF row " + std::to_string(y) + (tiffMessage.empty() ? "" : " (" + tiffMessage + ")");
        return false;
    };
    const size_t rowBytes = image.rowBytes();
    // The pixels' memory is reserved (address space only) and taken row by row as the rows
    // decode: a file whose data ends early, or never was, is refused having taken what its
    // data gave, whatever its compression.
    image.samples.clear();
    image.samples.reserve(rowBytes * image.height);
    auto take = [&](int rows) {
        if (image.samples.size() < rowBytes * size_t(rows)) image.samples.resize(rowBytes * size_t(rows));
    };
    if (ycbcr && !ycbcrJpeg) {
        // The first rows of the first strip decode before the image's memory is taken.
        uint16_t hsub = 1, vsub = 1;
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_YCBCRSUBSAMPLING, &hsub, &vsub);
        const uint32_t rows = std::min<uint32_t>(std::max<uint16_t>(vsub, 1), height);
        std::vector<uint8_t> first(static_cast<size_t>(std::max<tmsize_t>(TIFFVStripSize(tif.get(), rows), 1)));
        if (TIFFReadEncodedStrip(tif.get(), 0, first.data(), tmsize_t(first.size())) < 0 || tiffCorrupt) return rowError(0);
        // Not cleared: libtiff writes every pixel it decodes, and an untouched page takes no memory.
        const std::unique_ptr<uint32_t[]> raster(new uint32_t[size_t(width) * height]);
        // Rows as stored (the Orientation tag travels with the image): asked in the file's own
        // orientation, libtiff turns nothing.
        if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.get(), image.orientation, 0) || tiffCorrupt)
            return rowError(0);
        take(image.height);
        for (size_t i = 0; i < size_t(width) * height; ++i) {
            image.samples[3 * i] = uint8_t(TIFFGetR(raster[i]));
            image.samples[3 * i + 1] = uint8_t(TIFFGetG(raster[i]));
            image.samples[3 * i + 2] = uint8_t(TIFFGetB(raster[i]));
        }
        return true;
    }
    const tmsize_t scanline = TIFFScanlineSize(tif.get());
    const int sb = image.sampleBytes();
    const int ch = image.channels();
    if (planar == PLANARCONFIG_CONTIG) {
        if (size_t(scanline) != rowBytes) return rowError(0);
        for (int y = 0; y < image.height; ++y) {
            take(y + 1);
            if (TIFFReadScanline(tif.get(), image.samples.data() + rowBytes * y, uint32_t(y), 0) < 0 || tiffCorrupt)
                return rowError(y);
        }
    } else {
        // One plane after the other, each from top to bottom: compressed strips are read in order.
        // The first plane takes the rows' memory as it decodes.
        if (size_t(scanline) < size_t(image.width) * sb) return rowError(0);
        std::vector<uint8_t> line(static_cast<size_t>(scanline));
        for (int s = 0; s < ch; ++s)
            for (int y = 0; y < image.height; ++y) {
                if (TIFFReadScanline(tif.get(), line.data(), uint32_t(y), uint16_t(s)) < 0 || tiffCorrupt)
                    return rowError(y);
                take(y + 1);
                uint8_t* row = image.samples.data() + rowBytes * y;
                for (int x = 0; x < image.width; ++x)
                    std::memcpy(row + (size_t(x) * ch + s) * sb, line.data() + size_t(x) * sb, size_t(sb));
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
    TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, uint16_t(image.orientation));
    if (!image.icc.empty())
        TIFFSetField(tif.get(), TIFFTAG_ICCPROFILE, uint32_t(image.icc.size()), image.icc.data());
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

}  // namespace pelidorn::codec
