// JPEG files through libjpeg: 8-bit gray or RGB (YCbCr in the file), baseline or progressive.
#include "tools/pelidorn/image_codecs.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

// libjpeg reports errors by longjmp. The only work after the jump builds the error text from
// scratch, yet GCC's clobber analysis flags the standard string's inlined internals there at
// -O1; no local of ours is live across the jump.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wclobbered"
#endif

namespace pelidorn::codec {

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
    // The data ended before the image did (the decoder would make up the rest).
    bool ended;
};

void JpegErrorExit(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->text);
    std::longjmp(e->jump, 1);
}
void JpegOutput(j_common_ptr) {}
void JpegEmit(j_common_ptr info, int level);

// The error manager of a codec object: errors jump back to err.jump with their text, messages
// are kept quiet, and a decoder's warnings that its data is missing or corrupt jump back too.
jpeg_error_mgr* ErrorManager(JpegError& err) {
    jpeg_error_mgr* m = jpeg_std_error(&err.manager);
    m->error_exit = JpegErrorExit;
    m->output_message = JpegOutput;
    m->emit_message = JpegEmit;
    return m;
}

// libjpeg goes on past missing or corrupt data, making up what it lacks; the reader refuses
// the file at the first such warning, whatever the coding:
// - the data ends where bits are still wanted (Huffman coding meets the marker after its
//   data; a file that lacks only its final marker is read: the decoder's look-ahead meets the
//   end, no bits are missing);
// - the file ends in an arithmetic-coded or progressive file (arithmetic coding reads zeros
//   past the end of its data by rule, so a cut cannot be told from a missing final marker,
//   and a progressive file that ends early lacks whole scans);
// - a code that no table holds, a restart marker out of sequence, scans whose refinements do
//   not follow each other.
// Warnings about metadata (an unknown JFIF version, a damaged profile) and bytes between
// segments cost no pixel and are kept quiet.
void JpegEmit(j_common_ptr info, int level) {
    if (level >= 0 || !info->is_decompressor) return;
    auto* e = reinterpret_cast<JpegError*>(info->err);
    const auto* d = reinterpret_cast<j_decompress_ptr>(info);
    const int code = info->err->msg_code;
    if (code == JWRN_HIT_MARKER || (code == JWRN_JPEG_EOF && (d->arith_code || d->progressive_mode))) {
        e->ended = true;
        std::longjmp(e->jump, 1);
    }
    if (code == JWRN_HUFF_BAD_CODE || code == JWRN_ARITH_BAD_CODE || code == JWRN_MUST_RESYNC ||
        code == JWRN_BOGUS_PROGRESSION) {
        (*info->err->format_message)(info, e->text);
        std::longjmp(e->jump, 1);
    }
}

// The identifier that opens a JPEG's Exif segment (APP1).
const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

}  // namespace

bool ReadJpeg(FILE* f, Image& image, std::string& error, uint64_t limit) {
    jpeg_decompress_struct info{};
    JpegError err{};
    info.err = ErrorManager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        error = std::string("not a readable JPEG file (") +
                (err.ended ? "it ends before its image data does" : err.text) + ")";
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, f);
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);  // Exif
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);  // the ICC profile's markers
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(&info);
        error = "CMYK JPEG files are not supported (convert the image to RGB)";
        return false;
    }
    const bool gray = info.jpeg_color_space == JCS_GRAYSCALE;
    info.out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    // A progressive file is decoded through a buffer of every coefficient (2 bytes a sample,
    // taken and cleared before the first scan is read): it counts with the pixels.
    const uint64_t coefficients = info.progressive_mode ? 2 * uint64_t(info.num_components) : 0;
    if (!SizeAllowed(info.image_width, info.image_height, (gray ? 1 : 3) + coefficients, limit, error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    // Huffman coding spends at least a bit on every 8x8 block of the first scan (its DC code;
    // a sequential scan also its end-of-block code), and that scan is in the file: data
    // shorter than that cannot hold the image, and a few bytes claiming a large one take no
    // memory for it. Arithmetic coding has no such bound: its coder spends as little as
    // 1/32768 bit on a decision it expects, and the bytes of zeros that end its data are left
    // out of the file by rule (libjpeg writes a 32767x32767 image of one value in 208 bytes).
    if (!info.arith_code) {
        uint64_t blocks = 0;
        for (int i = 0; i < info.comps_in_scan; ++i)
            blocks += uint64_t(info.cur_comp_info[i]->width_in_blocks) * info.cur_comp_info[i]->height_in_blocks;
        const uint64_t length = FileLength(f);
        if (length && length * 8 < blocks) {
            error = "not a readable JPEG file (its image data is too short for " + std::to_string(info.image_width) +
                    "x" + std::to_string(info.image_height) + " pixels)";
            jpeg_destroy_decompress(&info);
            return false;
        }
    }
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > sizeof kExifHeader &&
            std::memcmp(m->data, kExifHeader, sizeof kExifHeader) == 0) {
            image.exif.assign(m->data + sizeof kExifHeader, m->data + m->data_length);
            DropExifThumbnail(image.exif);
            break;
        }
    }
    JOCTET* profile = nullptr;
    unsigned int profileLength = 0;
    if (jpeg_read_icc_profile(&info, &profile, &profileLength) && profile) {
        image.icc.assign(profile, profile + profileLength);
        std::free(profile);
    }
    jpeg_start_decompress(&info);
    image.format = FileFormat::Jpeg;
    image.width = int(info.output_width);
    image.height = int(info.output_height);
    image.colorChannels = gray ? 1 : 3;
    image.alpha = false;
    image.bits = 8;
    // The pixels' memory is reserved (address space only) and taken row by row as the rows
    // decode; data that runs out or is corrupt jumps back above at its first warning.
    image.samples.clear();
    image.samples.reserve(image.rowBytes() * image.height);
    while (info.output_scanline < info.output_height) {
        image.samples.resize(image.rowBytes() * (info.output_scanline + 1));
        JSAMPROW row = image.samples.data() + image.rowBytes() * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool WriteJpeg(FILE* f, const Image& image, std::string& error, const WriteOptions& options) {
    if (image.bits != 8 || image.alpha) {
        error = "JPEG holds 8-bit gray or RGB without alpha only";
        return false;
    }
    jpeg_compress_struct info{};
    JpegError err{};
    info.err = ErrorManager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&info);
        error = std::string("cannot write JPEG (") + err.text + ")";
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = image.colorChannels;
    info.in_color_space = image.colorChannels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::min(100, std::max(1, options.jpegQuality)), TRUE);
    // One segment holds at most 65533 bytes; a larger block (which no camera writes) is left
    // out. An Exif file has no JFIF segment: APP1 comes first.
    const bool exif = !image.exif.empty() && image.exif.size() + sizeof kExifHeader <= 65533;
    if (exif) info.write_JFIF_header = FALSE;
    jpeg_start_compress(&info, TRUE);
    if (exif) {
        std::vector<uint8_t> segment(kExifHeader, kExifHeader + sizeof kExifHeader);
        segment.insert(segment.end(), image.exif.begin(), image.exif.end());
        jpeg_write_marker(&info, JPEG_APP0 + 1, segment.data(), unsigned(segment.size()));
    }
    if (!image.icc.empty()) jpeg_write_icc_profile(&info, image.icc.data(), unsigned(image.icc.size()));
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.samples.data() + image.rowBytes() * info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace pelidorn::codec
