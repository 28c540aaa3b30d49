// The image files of the stand-in host: the format by name and by signature, the checks every
// reader shares, and the one entry for reading and for writing. Each format's codec has a file
// of its own (image_png.cpp, image_jpeg.cpp, image_tiff.cpp; image_codecs.h).
#include "tools/pelidorn/image_io.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/pelidorn/image_codecs.h"

namespace pelidorn {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

namespace codec {

bool SizeAllowed(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t limit, std::string& error) {
    if (width == 0 || height == 0) {
        error = "the image is empty";
        return false;
    }
    if (width > uint64_t(kMaxImageSide) || height > uint64_t(kMaxImageSide)) {
        error = "the image is " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels; the filter interface takes at most " + std::to_string(kMaxImageSide) + " pixels a side";
        return false;
    }
    const uint64_t bytes = width * height * bytesPerPixel;
    if (limit && bytes > limit) {
        error = "the image is " + std::to_string(width) + "x" + std::to_string(height) + " pixels (" +
                std::to_string(bytes >> 20) + " MiB); at most " + std::to_string(limit >> 20) + " MiB are allowed";
        return false;
    }
    const uint64_t available = AvailableMemory();
    if (available && bytes > available) {
        error = "the image is " + std::to_string(width) + "x" + std::to_string(height) + " pixels (" +
                std::to_string(bytes >> 20) + " MiB); the machine has " + std::to_string(available >> 20) +
                " MiB free";
        return false;
    }
    return true;
}

void DropExifThumbnail(std::vector<uint8_t>& exif) {
    if (exif.size() < 8) return;
    const bool little = exif[0] == 'I' && exif[1] == 'I';
    if (!little && !(exif[0] == 'M' && exif[1] == 'M')) return;
    auto get = [&](size_t at, int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const uint32_t b = exif[at + size_t(little ? bytes - 1 - i : i)];
            v = v << 8 | b;
        }
        return v;
    };
    const uint64_t ifd0 = get(4, 4);
    if (ifd0 < 8 || ifd0 + 2 > exif.size()) return;
    const uint64_t next = ifd0 + 2 + 12 * uint64_t(get(size_t(ifd0), 2));
    if (next + 4 > exif.size()) return;
    std::fill_n(exif.begin() + std::ptrdiff_t(next), 4, uint8_t(0));
}

uint64_t FileLength(FILE* f) {
    struct stat st {};
    return fstat(fileno(f), &st) == 0 && st.st_size > 0 ? uint64_t(st.st_size) : 0;
}

}  // namespace codec

namespace {

// The first number in a small file (a cgroup's memory.max, memory.current); false when the
// file is missing or holds no number ("max").
bool ReadNumber(const char* path, uint64_t& value) {
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    const bool ok = std::fscanf(f, "%" SCNu64, &value) == 1;
    std::fclose(f);
    return ok;
}

}  // namespace

uint64_t AvailableMemory() {
    uint64_t kib = 0;
    if (FILE* m = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, m))
            if (std::sscanf(line, "MemAvailable: %" SCNu64, &kib) == 1) break;
        std::fclose(m);
    }
    uint64_t available = kib * 1024;
    const auto cap = [&](uint64_t limit) {
        if (available == 0 || limit < available) available = limit;
    };
    // A container's memory limit (cgroup v2, or v1 where no limit reads as about 2^63)
    // leaves only its own headroom.
    uint64_t limit = 0, used = 0;
    if (ReadNumber("/sys/fs/cgroup/memory.max", limit) && ReadNumber("/sys/fs/cgroup/memory.current", used))
        cap(limit > used ? limit - used : 1);
    else if (ReadNumber("/sys/fs/cgroup/memory/memory.limit_in_bytes", limit) && limit < (uint64_t(1) << 62) &&
             ReadNumber("/sys/fs/cgroup/memory/memory.usage_in_bytes", used))
        cap(limit > used ? limit - used : 1);
    // An address-space limit (ulimit -v) leaves what this process has not mapped yet.
    struct rlimit as {};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        uint64_t pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        const bool mapped = statm && std::fscanf(statm, "%" SCNu64, &pages) == 1;
        if (statm) std::fclose(statm);
        const uint64_t size = mapped ? pages * uint64_t(sysconf(_SC_PAGESIZE)) : 0;
        cap(uint64_t(as.rlim_cur) > size ? uint64_t(as.rlim_cur) - size : 1);
    }
    return available;
}

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
    if (EndsWith(p, ".jpg") || EndsWith(p, ".jpeg")) {
        format = FileFormat::Jpeg;
        return true;
    }
    return false;
}

const char* FormatName(FileFormat format) {
    return format == FileFormat::Png ? "PNG" : format == FileFormat::Tiff ? "TIFF" : "JPEG";
}

const char* FormatExtensions(FileFormat format) {
    return format == FileFormat::Png ? ".png" : format == FileFormat::Tiff ? ".tif or .tiff" : ".jpg or .jpeg";
}

namespace {

// A pipe, FIFO or character device can be read once only and not sought: its data is copied
// whole, once, into an unnamed temporary file that the readers then take like any file. At
// most `bound` bytes are taken (a file larger than the pixels may be cannot be one the
// readers would accept).
FILE* CopyStream(FILE* f, uint64_t bound, std::string& error) {
    FILE* copy = std::tmpfile();
    if (!copy) {
        error = std::string("cannot read a pipe or device (no temporary file for its data: ") + std::strerror(errno) + ")";
        return nullptr;
    }
    std::vector<char> buffer(size_t(1) << 16);
    uint64_t total = 0;
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        if (n == 0) break;
        total += n;
        if (total > bound) {
            std::fclose(copy);
            error = "the pipe or device gives more than " + std::to_string(bound >> 20) +
                    " MiB, more than any image the memory can hold";
            return nullptr;
        }
        if (std::fwrite(buffer.data(), 1, n, copy) != n) {
            error = std::string("cannot read a pipe or device (its temporary copy: ") + std::strerror(errno) + ")";
            std::fclose(copy);
            return nullptr;
        }
    }
    if (std::ferror(f) || std::fflush(copy) != 0) {
        error = std::string("cannot read: ") + std::strerror(errno);
        std::fclose(copy);
        return nullptr;
    }
    std::rewind(copy);
    return copy;
}

}  // namespace

bool ReadImage(const std::string& path, Image& image, std::string& error, const ReadOptions& options) {
    const uint64_t limit = options.memoryLimit;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fileno(f), &st) != 0) {
        error = std::string("cannot read: ") + std::strerror(errno);
        std::fclose(f);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fclose(f);
        error = "a folder, not an image file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        // Compressed data is smaller than its pixels, and stored pixels are the pixels: more
        // than the pixels may take (and 64 MiB of metadata) is no image the readers accept.
        const uint64_t available = AvailableMemory();
        const uint64_t pixels = limit ? limit : available ? available : uint64_t(1) << 40;
        FILE* copy = CopyStream(f, pixels + (uint64_t(64) << 20), error);
        std::fclose(f);
        if (!copy) return false;
        f = copy;
    }
    unsigned char magic[8] = {};
    const size_t n = std::fread(magic, 1, sizeof magic, f);
    std::rewind(f);
    static const unsigned char kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    bool ok;
    if (n >= 8 && std::memcmp(magic, kPngSignature, 8) == 0) {
        ok = codec::ReadPng(f, image, error, limit);
    } else if (n >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) {
        ok = codec::ReadJpeg(f, image, error, limit);
    } else if (n >= 4 && ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M'))) {
        ok = codec::ReadTiff(f, path, image, error, limit);
    } else {
        error = "not a PNG, JPEG or TIFF file";
        ok = false;
    }
    std::fclose(f);
    if (!ok) return false;
    if (image.width <= 0 || image.height <= 0) {
        error = "the image is empty";
        return false;
    }
    return true;
}

bool WriteImage(const std::string& path, const Image& image, std::string& error, const WriteOptions& options) {
    if (image.format == FileFormat::Tiff) return codec::WriteTiff(path, image, error);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = std::string("cannot create: ") + std::strerror(errno);
        return false;
    }
    bool ok = image.format == FileFormat::Jpeg ? codec::WriteJpeg(f, image, error, options) : codec::WritePng(f, image, error, options);
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
    std::string s = std::string(FormatName(image.format)) + " ";
    s += image.colorChannels == 3 ? "RGB" : "gray";
    if (image.alpha) s += " with alpha";
    s += ", " + std::to_string(image.width) + "x" + std::to_string(image.height) + ", ";
    s += image.bits == 32 ? "32-bit float" : std::to_string(image.bits) + " bits";
    return s;
}

}  // namespace pelidorn
