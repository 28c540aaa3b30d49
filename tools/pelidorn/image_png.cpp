// PNG files: read by our fast reader (the common files) or through libpng's classic
// interface (the rest), written by our own chunk writer on zlib. No colour management:
// samples are taken as stored.
#include "tools/pelidorn/image_codecs.h"

#include <png.h>
#include <zlib.h>
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <system_error>
#include <thread>

// libpng reports errors by longjmp. The only work after the jump builds the error text from
// scratch, yet GCC's clobber analysis flags the standard string's inlined internals there at
// -O1; no local of ours is live across the jump.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wclobbered"
#endif

namespace pelidorn::codec {

namespace {

struct PngError {
    char text[256] = "";
};

void PngErrorFn(png_structp png, png_const_charp message) {
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(e->text, sizeof e->text, "%s", message);
    png_longjmp(png, 1);
}
void PngWarningFn(png_structp, png_const_charp) {}

void ReadPngExif(png_structp png, png_infop info, Image& image) {
    png_uint_32 size = 0;
    png_bytep exif = nullptr;
    if (png_get_valid(png, info, PNG_INFO_eXIf) && png_get_eXIf_1(png, info, &size, &exif) && exif && size) {
        image.exif.assign(exif, exif + size);
        DropExifThumbnail(image.exif);
    }
}

constexpr png_alloc_size_t kLargestPngChunk = png_alloc_size_t(16) << 20;

bool ReadPngLibpng(FILE* f, Image& image, std::string& error, uint64_t limit) {
    PngError err;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngErrorFn, PngWarningFn);
    if (!png) {
        error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        error = std::string("not a readable PNG file (") + err.text + ")";
        return false;
    }
    png_init_io(png, f);
    // The size is checked here against the filter's limit, not libpng's.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    // An inflated text or profile chunk is kept to this size (the declared lengths of all
    // chunks were checked against the file by the caller).
    png_set_chunk_malloc_max(png, kLargestPngChunk);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    // Palette, gray below 8 bits and a transparency key are expanded: to RGB, 8-bit gray and
    // an alpha channel.
    const bool key = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const int colors = (type & PNG_COLOR_MASK_COLOR) ? 3 : 1;
    const bool alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || key;
    const int bits = depth == 16 ? 16 : 8;
    if (!SizeAllowed(width, height, uint64_t(colors + (alpha ? 1 : 0)) * (bits / 8), limit, error)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (key) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_swap(png);  // file order is big-endian; keep native uint16
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image.format = FileFormat::Png;
    image.width = int(width);
    image.height = int(height);
    image.bits = bits;
    image.colorChannels = colors;
    image.alpha = alpha;
    if (png_get_rowbytes(png, info) != image.rowBytes()) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "unexpected PNG row layout";
        return false;
    }
    png_charp iccName = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &iccName, &compression, &profile, &profileLength) && profile) {
        image.icc.assign(profile, profile + profileLength);
        if (iccName && *iccName) image.iccName = iccName;
    }
    png_fixed_point gamma = 0;
    if (png_get_valid(png, info, PNG_INFO_gAMA) && png_get_gAMA_fixed(png, info, &gamma) && gamma > 0)
        image.pngGamma = uint32_t(gamma);
    int intent = 0;
    if (png_get_sRGB(png, info, &intent)) image.pngSrgbIntent = intent;
    ReadPngExif(png, info, image);
    image.samples.resize(image.rowBytes() * image.height);
    // Row by row (every pass of an interlaced file over all rows, as png_read_image does), so
    // that no local changes between the setjmp above and a jump back to it.
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < image.height; ++y)
            png_read_row(png, image.samples.data() + image.rowBytes() * size_t(y), nullptr);
    // The chunks after the image data are checked; of them only an Exif block is kept (PNG
    // allows it after the image data, and a camera's orientation is in it).
    png_read_end(png, info);
    if (image.exif.empty()) ReadPngExif(png, info, image);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

inline int Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// The fast PNG reader for the common files (8 or 16 bits, gray or RGB with or without alpha,
// not interlaced, no transparency key): the whole file is read at once, every chunk's CRC
// checked, the IDAT data inflated in one call (libdeflate, which checks the Adler-32) and
// the rows unfiltered straight into the image. Answers false for any other file, or any
// fault, and the caller then reads it with libpng (whose message names the fault).
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool InflateZlib(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    out.resize(std::max<size_t>(size * 4, 1024));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    int r = Z_OK;
    while (r == Z_OK) {
        if (z.total_out == out.size()) {
            if (out.size() > (size_t(64) << 20)) break;  // no colour profile is this large
            out.resize(out.size() * 2);
        }
        z.next_out = out.data() + z.total_out;
        z.avail_out = uInt(out.size() - z.total_out);
        r = inflate(&z, Z_NO_FLUSH);
    }
    out.resize(z.total_out);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

void UnfilterRow(int type, uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp) {
    switch (type) {
        case 1:
            for (size_t i = bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + cur[i - bpp]);
            break;
        case 2:
            if (prev)
                for (size_t i = 0; i < n; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
            break;
        case 3:
            for (size_t i = 0; i < n; ++i) {
                const int a = i >= bpp ? cur[i - bpp] : 0, b = prev ? prev[i] : 0;
                cur[i] = uint8_t(cur[i] + ((a + b) >> 1));
            }
            break;
        case 4:
            if (!prev) {
                for (size_t i = bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + cur[i - bpp]);
                break;
            }
            for (size_t i = 0; i < bpp && i < n; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
            for (size_t i = bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + Paeth(cur[i - bpp], prev[i], prev[i - bpp]));
            break;
        default: break;
    }
}

// Deflate shrinks data at most 1032 to 1: image data shorter than that cannot hold the
// filtered rows the header claims (the exact count: a filter byte and the packed samples of
// every row of every interlace pass), and a few bytes claiming a large image take no memory
// for them, whichever reader goes on. A header libpng would refuse, or one over the size
// limit (which names the reason itself), is left to the readers.
bool EnoughImageData(const uint8_t* ihdr, uint64_t imageData, std::string& error) {
    const uint32_t width = Get32(ihdr), height = Get32(ihdr + 4);
    const int depth = ihdr[8], type = ihdr[9], interlace = ihdr[12];
    const int channels = type == 0 ? 1 : type == 2 ? 3 : type == 3 ? 1 : type == 4 ? 2 : type == 6 ? 4 : 0;
    if (!channels || (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) || interlace > 1) return true;
    if (width == 0 || height == 0 || width > uint32_t(kMaxImageSide) || height > uint32_t(kMaxImageSide)) return true;
    const uint64_t bitsPerPixel = uint64_t(channels) * depth;
    auto filtered = [&](uint64_t w, uint64_t h) { return w && h ? h * (1 + (w * bitsPerPixel + 7) / 8) : 0; };
    uint64_t bytes = 0;
    if (!interlace) {
        bytes = filtered(width, height);
    } else {
        // Adam7: the start and step of each pass, across and down.
        static const int kPass[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                        {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
        for (const auto& p : kPass) {
            const uint64_t w = width > uint32_t(p[0]) ? (width - p[0] + p[1] - 1) / p[1] : 0;
            const uint64_t h = height > uint32_t(p[2]) ? (height - p[2] + p[3] - 1) / p[3] : 0;
            bytes += filtered(w, h);
        }
    }
    if (imageData * 1040 >= bytes) return true;
    error = "not a readable PNG file (its image data is too short for " + std::to_string(width) + "x" +
            std::to_string(height) + " pixels)";
    return false;
}

bool ReadPngFast(FILE* f, Image& image, std::string& error, bool& refused, uint64_t limit) {
    refused = false;
    if (std::fseek(f, 0, SEEK_END) != 0) return false;
    const long length = std::ftell(f);
    if (length < 8 + 25 || std::fseek(f, 0, SEEK_SET) != 0) return false;
    std::vector<uint8_t> file(static_cast<size_t>(length));
    if (std::fread(file.data(), 1, file.size(), f) != file.size()) return false;
    // libpng takes a chunk's declared length in memory before it reads the chunk: a few
    // hostile bytes declaring 2 GiB would get it. Every chunk up to IEND must fit in the file,
    // whichever reader goes on.
    // The same walk finds the header, the length of the image data and an animation.
    const uint8_t* header = nullptr;
    uint64_t imageData = 0;
    uint32_t frames = 0;
    bool frameData = false;
    for (size_t c = 8; c + 8 <= file.size();) {
        const uint64_t size = Get32(&file[c]);
        if (size + 12 > file.size() - c) {
            error = "not a readable PNG file (its " + std::string(reinterpret_cast<const char*>(&file[c + 4]), 4) +
                    " chunk runs past the end of the file)";
            refused = true;
            return false;
        }
        const uint8_t* type = &file[c + 4];
        if (std::memcmp(type, "IEND", 4) == 0) break;
        if (std::memcmp(type, "IHDR", 4) == 0 && size == 13 && !header) header = type + 4;
        if (std::memcmp(type, "IDAT", 4) == 0) imageData += size;
        if (std::memcmp(type, "acTL", 4) == 0 && size == 8) frames = std::max<uint32_t>(1, Get32(type + 4));
        if (std::memcmp(type, "fdAT", 4) == 0) frameData = true;
        c += size + 12;
    }
    // An animation would be written as a still of its first frame (or of the image shown
    // where animations are not, which need not be a frame at all): the others would be lost.
    if (frames > 1 || (frames && frameData)) {
        error = "animated PNG files are not supported (this one has " + std::to_string(frames) +
                (frames == 1 ? " frame" : " frames") + "; save the frame to blur as a file of its own)";
        refused = true;
        return false;
    }
    if (header && !EnoughImageData(header, imageData, error)) {
        refused = true;
        return false;
    }
    size_t at = 8;
    uint32_t width = 0, height = 0;
    int depth = 0, type = 0;
    std::vector<uint8_t> idat;
    Image meta;
    bool seenHeader = false, ended = false;
    while (at + 12 <= file.size() && !ended) {
        const uint32_t size = Get32(&file[at]);
        if (size > file.size() - at - 12) return false;
        const uint8_t* chunk = &file[at + 4];
        const uint8_t* data = chunk + 4;
        if (Get32(data + size) != uint32_t(crc32_z(0, chunk, size + 4))) return false;
        const std::string name(reinterpret_cast<const char*>(chunk), 4);
        if (name == "IHDR") {
            if (size != 13 || data[10] != 0 || data[11] != 0 || data[12] != 0) return false;
            width = Get32(data), height = Get32(data + 4), depth = data[8], type = data[9];
            if ((depth != 8 && depth != 16) || (type != 0 && type != 2 && type != 4 && type != 6)) return false;
            seenHeader = true;
            const int channels = (type & 2 ? 3 : 1) + (type & 4 ? 1 : 0);
            if (!SizeAllowed(width, height, uint64_t(channels) * (depth / 8), limit, error)) {
                refused = true;
                return false;
            }
        } else if (!seenHeader) {
            return false;
        } else if (name == "IDAT") {
            idat.insert(idat.end(), data, data + size);
        } else if (name == "IEND") {
            ended = true;
        } else if (name == "tRNS") {
            return false;
        } else if (name == "gAMA" && size == 4) {
            meta.pngGamma = Get32(data);
        } else if (name == "sRGB" && size == 1) {
            meta.pngSrgbIntent = data[0];
        } else if (name == "eXIf" && meta.exif.empty()) {
            meta.exif.assign(data, data + size);
        } else if (name == "iCCP") {
            const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
            if (!zero || size_t(zero - data) + 2 > size || zero[1] != 0) return false;
            meta.iccName.assign(reinterpret_cast<const char*>(data), size_t(zero - data));
            if (!InflateZlib(zero + 2, size - size_t(zero - data) - 2, meta.icc)) return false;
        } else if (!(chunk[0] & 0x20) && name != "PLTE") {
            return false;  // a critical chunk this reader does not know
        }
        at += size_t(size) + 12;
    }
    if (!seenHeader || !ended || idat.empty()) return false;
    file = {};
    image.format = FileFormat::Png;
    image.width = int(width);
    image.height = int(height);
    image.bits = depth;
    image.colorChannels = type & 2 ? 3 : 1;
    image.alpha = (type & 4) != 0;
    image.icc = std::move(meta.icc);
    image.iccName = meta.iccName.empty() ? image.iccName : meta.iccName;
    image.pngGamma = meta.pngGamma;
    image.pngSrgbIntent = meta.pngSrgbIntent;
    image.exif = std::move(meta.exif);
    DropExifThumbnail(image.exif);
    const size_t n = image.rowBytes();
    // Deflate shrinks data at most 1032 to 1: image data shorter than that cannot hold the
    // rows, and a few bytes claiming a large image take no memory for them.
    if (idat.size() * 1040 < (n + 1) * height) {
        error = "not a readable PNG file (its image data is too short for " + std::to_string(width) + "x" +
                std::to_string(height) + " pixels)";
        refused = true;
        return false;
    }
    std::vector<uint8_t> raw((n + 1) * height);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (!d) return false;
    const libdeflate_result r = libdeflate_zlib_decompress(d, idat.data(), idat.size(), raw.data(), raw.size(), nullptr);
    libdeflate_free_decompressor(d);
    if (r != LIBDEFLATE_SUCCESS) return false;
    idat = {};
    image.samples.resize(n * height);
    const size_t bpp = size_t(image.channels()) * (depth / 8);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = raw.data() + (n + 1) * y;
        if (src[0] > 4) return false;
        uint8_t* cur = image.samples.data() + n * y;
        std::memcpy(cur, src + 1, n);
        UnfilterRow(src[0], cur, y > 0 ? cur - n : nullptr, n, bpp);
    }
    if (depth == 16)
        for (size_t i = 0; i + 1 < image.samples.size(); i += 2) std::swap(image.samples[i], image.samples[i + 1]);
    return true;
}

// PNG writing: the rows are filtered (each row by the filter whose output has the smallest
// sum of absolute signed bytes, libpng's own choice) and deflated in bands of rows on all
// cores. Every band is a raw deflate stream primed with the 32 KiB of filtered data before it
// and ended with a full flush (the last one with the final block); together, behind the zlib
// header and followed by the Adler-32 of all the filtered data (combined from the bands'),
// they make the one zlib stream of the IDAT chunks that any PNG reader inflates.
class PngFile {
public:
    explicit PngFile(FILE* f) : f_(f) {}
    bool Chunk(const char type[4], const uint8_t* data, size_t size) {
        uint8_t head[8];
        Put32(head, uint32_t(size));
        std::memcpy(head + 4, type, 4);
        uLong crc = crc32(0, head + 4, 4);
        if (size) crc = crc32_z(crc, data, size);
        uint8_t tail[4];
        Put32(tail, uint32_t(crc));
        return std::fwrite(head, 1, 8, f_) == 8 && (size == 0 || std::fwrite(data, 1, size, f_) == size) &&
               std::fwrite(tail, 1, 4, f_) == 4;
    }
    static void Put32(uint8_t* p, uint32_t v) {
        p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
    }

private:
    FILE* f_;
};

// The cost libpng gives a filtered row: the sum of its bytes taken as signed magnitudes.
inline uint64_t RowCost(const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i] < 128 ? p[i] : 256 - p[i];
    return sum;
}

// Filters one row (cur, its predecessor prev or null) into out: the filter byte and the row,
// by the filter of the smallest cost (libpng's own choice). scratch holds n bytes.
void FilterRow(const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp, uint8_t* out, uint8_t* scratch) {
    const size_t head = std::min(bpp, n);
    uint64_t best = RowCost(cur, n);
    out[0] = 0;
    std::memcpy(out + 1, cur, n);
    auto consider = [&](uint8_t type) {
        const uint64_t cost = RowCost(scratch, n);
        if (cost < best) {
            best = cost;
            out[0] = type;
            std::memcpy(out + 1, scratch, n);
        }
    };
    // Sub
    std::memcpy(scratch, cur, head);
    for (size_t i = bpp; i < n; ++i) scratch[i] = uint8_t(cur[i] - cur[i - bpp]);
    consider(1);
    if (prev) {
        // Up
        for (size_t i = 0; i < n; ++i) scratch[i] = uint8_t(cur[i] - prev[i]);
        consider(2);
    }
    // Average (of the left byte alone without a previous row)
    if (prev) {
        for (size_t i = 0; i < head; ++i) scratch[i] = uint8_t(cur[i] - (prev[i] >> 1));
        for (size_t i = bpp; i < n; ++i) scratch[i] = uint8_t(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
    } else {
        std::memcpy(scratch, cur, head);
        for (size_t i = bpp; i < n; ++i) scratch[i] = uint8_t(cur[i] - (cur[i - bpp] >> 1));
    }
    consider(3);
    // Paeth (the same as Sub without a previous row)
    if (prev) {
        for (size_t i = 0; i < head; ++i) scratch[i] = uint8_t(cur[i] - prev[i]);
        for (size_t i = bpp; i < n; ++i) scratch[i] = uint8_t(cur[i] - Paeth(cur[i - bpp], prev[i], prev[i - bpp]));
        consider(4);
    }
}

// Deflate of one band: level 6 with the filtered-data strategy (libpng's default), or run-
// length matching when a sample of the band compresses as small that way (grainy photographs:
// level 6 then costs five times the time for the same size).
int BandStrategy(const uint8_t* data, size_t size) {
    // Eight slices of 8 KiB spread over the band.
    constexpr size_t kSlices = 8, kSlice = 8192;
    if (size < kSlices * kSlice * 2) return Z_FILTERED;
    std::vector<uint8_t> sample;
    sample.reserve(kSlices * kSlice);
    for (size_t i = 0; i < kSlices; ++i) {
        const uint8_t* at = data + (size - kSlice) * i / (kSlices - 1);
        sample.insert(sample.end(), at, at + kSlice);
    }
    auto compressed = [&](int level, int strategy) {
        z_stream z{};
        if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return size_t(-1);
        std::vector<uint8_t> out(deflateBound(&z, uLong(sample.size())));
        z.next_in = sample.data();
        z.avail_in = uInt(sample.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        const size_t n = z.total_out;
        deflateEnd(&z);
        return n;
    };
    return compressed(1, Z_RLE) <= compressed(6, Z_FILTERED) * 101 / 100 ? Z_RLE : Z_FILTERED;
}
}  // namespace

bool ReadPng(FILE* f, Image& image, std::string& error, uint64_t limit) {
    bool refused = false;
    if (ReadPngFast(f, image, error, refused, limit) || refused) return !refused;
    image = Image();
    std::rewind(f);
    return ReadPngLibpng(f, image, error, limit);
}

bool WritePng(FILE* f, const Image& image, std::string& error, const WriteOptions& options) {
    if (image.bits != 8 && image.bits != 16) {
        error = "PNG holds 8 or 16 bits per sample only";
        return false;
    }
    PngFile file(f);
    static const uint8_t signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    bool ok = std::fwrite(signature, 1, 8, f) == 8;
    uint8_t ihdr[13];
    PngFile::Put32(ihdr, uint32_t(image.width));
    PngFile::Put32(ihdr + 4, uint32_t(image.height));
    ihdr[8] = uint8_t(image.bits);
    ihdr[9] = uint8_t((image.colorChannels == 3 ? 2 : 0) | (image.alpha ? 4 : 0));
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    ok = ok && file.Chunk("IHDR", ihdr, 13);
    if (ok && image.pngGamma) {
        uint8_t g[4];
        PngFile::Put32(g, image.pngGamma);
        ok = file.Chunk("gAMA", g, 4);
    }
    if (ok && image.pngSrgbIntent >= 0) {
        const uint8_t intent = uint8_t(image.pngSrgbIntent);
        ok = file.Chunk("sRGB", &intent, 1);
    }
    if (ok && !image.icc.empty()) {
        std::string name = image.iccName.substr(0, 79);
        if (name.empty()) name = "ICC profile";
        std::vector<uint8_t> data(name.begin(), name.end());
        data.push_back(0);
        data.push_back(0);  // deflate
        uLongf size = compressBound(uLong(image.icc.size()));
        const size_t at = data.size();
        data.resize(at + size);
        if (compress2(data.data() + at, &size, image.icc.data(), uLong(image.icc.size()), 9) != Z_OK) {
            error = "cannot compress the ICC profile";
            return false;
        }
        data.resize(at + size);
        ok = file.Chunk("iCCP", data.data(), data.size());
    }
    if (ok && !image.exif.empty() && image.exif.size() <= 0x7fffffffu) ok = file.Chunk("eXIf", image.exif.data(), image.exif.size());
    if (!ok) {
        error = std::string("write error: ") + std::strerror(errno);
        return false;
    }

    const size_t n = image.rowBytes();
    const int bpp = image.channels() * image.sampleBytes();
    const int H = image.height;
    int threads = options.threads > 0 ? options.threads : int(std::thread::hardware_concurrency());
    threads = std::max(1, threads);
    // Bands of about 4 MiB (at least 8 rows): enough of them to keep every core busy.
    int bandRows = options.pngBandRows > 0 ? options.pngBandRows
                                           : int(std::max<size_t>(8, (size_t(4) << 20) / (n + 1)));
    // zlib counts a band's bytes in 32 bits: a band stays within 1 GiB, whatever was asked.
    bandRows = std::min<size_t>(size_t(bandRows), std::max<size_t>(1, (size_t(1) << 30) / (n + 1)));
    bandRows = std::max(1, std::min(bandRows, H));
    const int bands = (H + bandRows - 1) / bandRows;
    struct Band {
        std::vector<uint8_t> filtered, compressed;
        uLong adler = 1;
        bool ok = false;
    };
    std::vector<Band> out(static_cast<size_t>(bands));
    constexpr size_t kWindow = 32768;
    // A row in file byte order (16-bit samples big-endian).
    auto fileRow = [&](int y, uint8_t* dst) {
        const uint8_t* src = image.samples.data() + n * size_t(y);
        if (image.bits == 8) {
            std::memcpy(dst, src, n);
        } else {
            for (size_t i = 0; i + 1 < n; i += 2) dst[i] = src[i + 1], dst[i + 1] = src[i];
        }
    };
    // First every band's filtered rows (the next band's dictionary), then the deflate.
    auto filterBand = [&](int b) {
        Band& band = out[size_t(b)];
        const int y0 = b * bandRows, y1 = std::min(H, y0 + bandRows);
        band.filtered.resize(size_t(y1 - y0) * (n + 1));
        std::vector<uint8_t> prev(n), cur(n), scratch(n);
        if (y0 > 0) fileRow(y0 - 1, prev.data());
        for (int y = y0; y < y1; ++y) {
            fileRow(y, cur.data());
            FilterRow(cur.data(), y > 0 ? prev.data() : nullptr, n, size_t(bpp),
                      band.filtered.data() + size_t(y - y0) * (n + 1), scratch.data());
            std::swap(prev, cur);
        }
        band.adler = adler32_z(1, band.filtered.data(), band.filtered.size());
    };
    auto deflateBand = [&](int b) {
        Band& band = out[size_t(b)];
        z_stream z{};
        const int init = deflateInit2(&z, 6, Z_DEFLATED, -15, 8, BandStrategy(band.filtered.data(), band.filtered.size()));
        if (init == Z_MEM_ERROR) throw std::bad_alloc();
        if (init != Z_OK) return;
        if (b > 0) {
            const std::vector<uint8_t>& before = out[size_t(b) - 1].filtered;
            const size_t take = std::min(kWindow, before.size());
            deflateSetDictionary(&z, before.data() + before.size() - take, uInt(take));
        }
        band.compressed.resize(deflateBound(&z, uLong(band.filtered.size())) + 16);
        z.next_in = band.filtered.data();
        z.avail_in = uInt(band.filtered.size());
        z.next_out = band.compressed.data();
        z.avail_out = uInt(band.compressed.size());
        const int r = deflate(&z, b + 1 == bands ? Z_FINISH : Z_FULL_FLUSH);
        band.ok = (b + 1 == bands ? r == Z_STREAM_END : r == Z_OK) && z.avail_in == 0;
        band.compressed.resize(band.compressed.size() - z.avail_out);
        band.compressed.shrink_to_fit();  // the bound is far above what most bands take
        deflateEnd(&z);
    };
    // The bands are shared out among this thread and the helpers that could be started: a
    // helper that cannot start (no memory or address space for its stack) leaves its share
    // to the others. Memory a band cannot have fails the write as out of memory, once every
    // thread has stopped.
    std::atomic<bool> shortOfMemory{false};
    auto parallel = [&](const std::function<void(int)>& work) {
        std::atomic<int> next{0};
        auto run = [&] {
            try {
                for (int b = next++; b < bands && !shortOfMemory; b = next++) work(b);
            } catch (const std::bad_alloc&) {
                shortOfMemory = true;
            }
        };
        std::vector<std::thread> pool;
        for (int t = 1; t < std::min(threads, bands); ++t) {
            try {
                pool.emplace_back(run);
            } catch (const std::system_error&) {
                break;
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        run();
        for (auto& t : pool) t.join();
    };
    parallel(filterBand);
    if (!shortOfMemory) parallel(deflateBand);
    if (shortOfMemory) throw std::bad_alloc();
    uLong adler = 1;
    const uint8_t header[2] = {0x78, 0x9C};  // deflate, 32 KiB window, default level
    std::vector<uint8_t> first(header, header + 2);
    for (int b = 0; b < bands && ok; ++b) {
        Band& band = out[size_t(b)];
        if (!band.ok) {
            error = "cannot compress the image";
            return false;
        }
        adler = adler32_combine(adler, band.adler, z_off_t(band.filtered.size()));
        std::vector<uint8_t> data = std::move(band.compressed);
        if (b == 0) data.insert(data.begin(), header, header + 2);
        if (b + 1 == bands) {
            uint8_t trailer[4];
            PngFile::Put32(trailer, uint32_t(adler));
            data.insert(data.end(), trailer, trailer + 4);
        }
        ok = file.Chunk("IDAT", data.data(), data.size());
    }
    ok = ok && file.Chunk("IEND", nullptr, 0);
    if (!ok) {
        error = std::string("write error: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace pelidorn::codec
