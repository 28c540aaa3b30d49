// Image files of the stand-in host: PNG (1 to 16 bits, palette and transparency key expanded),
// JPEG (8-bit gray or RGB) and TIFF (8 and 16 bits unsigned, 32-bit float), gray or RGB, with
// or without alpha, through libpng, libjpeg and libtiff.
//
// An Image keeps the file's own samples, interleaved, in native byte order: 8-bit samples as
// bytes, 16-bit samples as uint16 (0..65535), float samples as float. Conversion to the host's
// sample ranges (16-bit 0..32768) is the host's business (document.h), not the file's.
// Colour metadata travels with the pixels: the ICC profile (PNG, JPEG, TIFF), PNG's gAMA and
// sRGB chunks and the TIFF orientation are written as they were read, and so is the Exif
// block of a JPEG or PNG (its Orientation tag says how a viewer turns the picture).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelidorn {

enum class FileFormat { Png, Tiff, Jpeg };

struct Image {
    FileFormat format = FileFormat::Png;
    int width = 0;
    int height = 0;
    int colorChannels = 0;  // 1 gray, 3 RGB
    bool alpha = false;
    int bits = 8;           // 8, 16 or 32 (float, TIFF only)
    uint16_t tiffCompression = 1;  // kept for the output of a TIFF input
    uint16_t orientation = 1;      // TIFF Orientation (1: rows top to bottom, columns left to right)
    std::vector<uint8_t> icc;      // the embedded ICC profile, empty when none
    std::string iccName = "ICC profile";  // PNG's profile name
    uint32_t pngGamma = 0;         // PNG gAMA in units of 1/100000, 0 when absent
    int pngSrgbIntent = -1;        // PNG sRGB rendering intent 0..3, -1 when absent
    // The Exif block (JPEG APP1 after its "Exif" header, PNG eXIf), empty when none: written
    // back as it was (the camera's Orientation tag with it), without the link to its
    // thumbnail, which would show the picture before the blur.
    std::vector<uint8_t> exif;
    std::vector<uint8_t> samples;  // height rows of width * channels() samples

    int channels() const { return colorChannels + (alpha ? 1 : 0); }
    int sampleBytes() const { return bits / 8; }
    size_t rowBytes() const { return size_t(width) * channels() * sampleBytes(); }
};

// The format by the file name's extension (.png; .tif, .tiff; .jpg, .jpeg), case-insensitive.
// False when the extension is none of these.
bool FormatFromPath(const std::string& path, FileFormat& format);
// "PNG", "TIFF", "JPEG"; and the extensions a file of the format may have.
const char* FormatName(FileFormat format);
const char* FormatExtensions(FileFormat format);

// What limits the memory this process can take: the machine's free memory (MemAvailable),
// the memory limit of the process's cgroup or of a parent of it (v1 or v2, found through
// /proc/self/cgroup), and an address-space limit (ulimit -v). Bytes; 0 where unknown or
// unlimited.
struct MemoryState {
    enum class Bound { Unknown, FreeMemory, Cgroup, AddressSpace };
    uint64_t available = 0;     // the least any of them leaves
    Bound bound = Bound::Unknown;  // which one that is
    uint64_t free = 0;
    uint64_t cgroupLimit = 0, cgroupLeft = 0;  // the cgroup that leaves least
    uint64_t addressLimit = 0, addressMapped = 0, addressLeft = 0;
};
// Reads them under the given roots of the proc and sys file systems (a test points them at
// a tree of its own).
MemoryState ReadMemoryState(const std::string& procRoot = "/proc", const std::string& sysRoot = "/sys");
// The memory limit of this process's cgroup: the cgroup named in procRoot/self/cgroup and
// each parent up to the root, under sysRoot/fs/cgroup (v2) or sysRoot/fs/cgroup/memory
// (v1); the one that leaves least gives `limit` and `left` (what it has not used, its
// inactive page cache counted as unused: the kernel takes that back). False when no cgroup
// on the way has a limit.
bool CgroupMemoryLimit(const std::string& procRoot, const std::string& sysRoot, uint64_t& limit, uint64_t& left);
// What the machine can give this process without swapping: ReadMemoryState().available.
uint64_t AvailableMemory();
// The limit that binds, in words, with its figure: "the address space ulimit -v allows
// (600000 KiB)", "the memory the container's limit allows (700 MiB)", "the machine's free
// memory (5120 MiB)".
std::string ShortageText(const MemoryState& state);

// The largest side the filter interface takes (its coordinates are 16-bit).
constexpr int kMaxImageSide = 32767;

// Reads a file; false with a one-line reason in error (without the path). The size the
// header claims is checked before any pixel memory is taken: at most kMaxImageSide a side,
// no more than options.memoryLimit, no more than the machine has free, and no more than
// the file's data can hold at the most its compression shrinks. A pipe, FIFO or device is
// read whole once into an unnamed file in $TMPDIR (else /tmp), its signature and header
// looked at as they arrive: one that is no image is refused at its first bytes, and the copy
// stops past what the header's image data may take plus 64 MiB of anything else (before the
// header, the 64 MiB; for a TIFF, the pixels' memory); the refusal says what that bound is,
// and that a file given by its path has none. An animated PNG is refused.
struct ReadOptions {
    uint64_t memoryLimit = 0;  // most bytes the pixels may take; 0: what the machine has free
};
bool ReadImage(const std::string& path, Image& image, std::string& error,
               const ReadOptions& options = ReadOptions());

struct WriteOptions {
    int jpegQuality = 95;  // 1..100
    int threads = 0;       // PNG compression threads; 0: one per core
    int pngBandRows = 0;   // rows a PNG band compresses at once; 0: about 4 MiB of rows
};
// Writes an image in image.format; false with a one-line reason in error. Memory that
// cannot be had throws std::bad_alloc (the file is closed, not removed).
bool WriteImage(const std::string& path, const Image& image, std::string& error,
                const WriteOptions& options = WriteOptions());

// A short description such as "PNG RGB with alpha, 40x30, 16 bits".
std::string Describe(const Image& image);

}  // namespace pelidorn
