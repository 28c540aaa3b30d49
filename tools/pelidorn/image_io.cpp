// The image files of the stand-in host: the format by name and by signature, the checks every
// reader shares, and the one entry for reading and for writing. Each format's codec has a file
// of its own (image_png.cpp, image_jpeg.cpp, image_tiff.cpp; image_codecs.h).
#include "tools/pelidorn/image_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
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
    const MemoryState memory = ReadMemoryState();
    if (memory.available && bytes > memory.available) {
        error = "the image is " + std::to_string(width) + "x" + std::to_string(height) + " pixels (" +
                std::to_string(bytes >> 20) + " MiB); " + ShortageText(memory) + " leaves " +
                std::to_string(memory.available >> 20) + " MiB";
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
bool ReadNumber(const std::string& path, uint64_t& value) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    const bool ok = std::fscanf(f, "%" SCNu64, &value) == 1;
    std::fclose(f);
    return ok;
}

// The value of `key` in a cgroup's memory.stat (lines "key value"); false when the file or
// the key is missing or its value is no number.
bool ReadStat(const std::string& path, const char* key, uint64_t& value) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    bool found = false;
    char line[256], name[64], number[32];
    while (!found && std::fgets(line, sizeof line, f))
        found = std::sscanf(line, "%63s %31s", name, number) == 2 && std::strcmp(name, key) == 0 &&
                std::strspn(number, "0123456789") == std::strlen(number);
    std::fclose(f);
    if (found) value = std::strtoull(number, nullptr, 10);
    return found;
}

// The memory limit of one cgroup folder and what is left under it: v2 memory.max and
// memory.current, or v1 memory.limit_in_bytes and memory.usage_in_bytes (where no limit
// reads as about 2^63). The usage counts the page cache, which the kernel takes back under
// pressure: the inactive file cache (memory.stat's inactive_file, v1's total_inactive_file for
// the cgroup and its children as its usage counts them) is left out, as container tools do.
// Keeps the folder that leaves least in `limit`, `left`.
void TakeCgroupLimit(const std::string& folder, bool v2, uint64_t& limit, uint64_t& left) {
    uint64_t max = 0, used = 0, cache = 0;
    if (!ReadNumber(folder + (v2 ? "/memory.max" : "/memory.limit_in_bytes"), max)) return;
    if (!v2 && max >= (uint64_t(1) << 62)) return;
    if (!ReadNumber(folder + (v2 ? "/memory.current" : "/memory.usage_in_bytes"), used)) return;
    if (ReadStat(folder + "/memory.stat", v2 ? "inactive_file" : "total_inactive_file", cache))
        used -= std::min(used, cache);
    const uint64_t rest = max > used ? max - used : 1;
    if (limit == 0 || rest < left) {
        limit = max;
        left = rest;
    }
}

// The process's cgroup below `mount` and each of its parents up to the root: a parent's
// limit binds the children as much as their own.
void WalkCgroup(const std::string& mount, std::string path, bool v2, uint64_t& limit, uint64_t& left) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    for (;;) {
        TakeCgroupLimit(mount + path, v2, limit, left);
        if (path.empty()) return;
        const size_t slash = path.find_last_of('/');
        path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
}

}  // namespace

bool CgroupMemoryLimit(const std::string& procRoot, const std::string& sysRoot, uint64_t& limit, uint64_t& left) {
    limit = left = 0;
    FILE* f = std::fopen((procRoot + "/self/cgroup").c_str(), "r");
    if (!f) return false;
    // Lines "id:controllers:path": cgroup v2 is "0::path"; a v1 hierarchy names its
    // controllers ("4:memory:/path", or "memory" among others joined by commas).
    std::string v1Path, v2Path;
    bool v1 = false, v2 = false;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t a = text.find(':');
        const size_t b = a == std::string::npos ? std::string::npos : text.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string id = text.substr(0, a), controllers = text.substr(a + 1, b - a - 1), path = text.substr(b + 1);
        if (id == "0" && controllers.empty()) {
            v2 = true;
            v2Path = path;
        }
        const std::string list = "," + controllers + ",";
        if (list.find(",memory,") != std::string::npos) {
            v1 = true;
            v1Path = path;
        }
    }
    std::fclose(f);
    if (v1) WalkCgroup(sysRoot + "/fs/cgroup/memory", v1Path, false, limit, left);
    if (v2) WalkCgroup(sysRoot + "/fs/cgroup", v2Path, true, limit, left);
    return limit != 0;
}

MemoryState ReadMemoryState(const std::string& procRoot, const std::string& sysRoot) {
    MemoryState m;
    uint64_t kib = 0;
    if (FILE* f = std::fopen((procRoot + "/meminfo").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %" SCNu64, &kib) == 1) break;
        std::fclose(f);
    }
    m.free = kib * 1024;
    m.available = m.free;
    if (m.free) m.bound = MemoryState::Bound::FreeMemory;
    const auto take = [&](uint64_t left, MemoryState::Bound bound) {
        if (m.available == 0 || left < m.available) {
            m.available = left;
            m.bound = bound;
        }
    };
    // A container's memory limit (the process's own cgroup or a parent's) leaves only its
    // own headroom.
    if (CgroupMemoryLimit(procRoot, sysRoot, m.cgroupLimit, m.cgroupLeft)) take(m.cgroupLeft, MemoryState::Bound::Cgroup);
    // An address-space limit (ulimit -v) leaves what this process has not mapped yet.
    struct rlimit as {};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        uint64_t pages = 0;
        FILE* statm = std::fopen((procRoot + "/self/statm").c_str(), "r");
        const bool mapped = statm && std::fscanf(statm, "%" SCNu64, &pages) == 1;
        if (statm) std::fclose(statm);
        m.addressLimit = uint64_t(as.rlim_cur);
        m.addressMapped = mapped ? pages * uint64_t(sysconf(_SC_PAGESIZE)) : 0;
        m.addressLeft = m.addressLimit > m.addressMapped ? m.addressLimit - m.addressMapped : 1;
        take(m.addressLeft, MemoryState::Bound::AddressSpace);
    }
    return m;
}

uint64_t AvailableMemory() { return ReadMemoryState().available; }

namespace {
std::string MibText(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }
}  // namespace

std::string ShortageText(const MemoryState& m) {
    switch (m.bound) {
        case MemoryState::Bound::AddressSpace:
            return "the address space ulimit -v allows (" + std::to_string(m.addressLimit >> 10) + " KiB)";
        case MemoryState::Bound::Cgroup: return "the memory the container's limit allows (" + MibText(m.cgroupLimit) + ")";
        case MemoryState::Bound::FreeMemory: return "the machine's free memory (" + MibText(m.free) + ")";
        default: return "memory";
    }
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

// The metadata a file may hold beside its pixels (profiles, Exif, text, strip tables).
constexpr uint64_t kMetadataAllowance = uint64_t(64) << 20;

// A byte count for a message: whole KiB (rounded up) below a MiB, whole MiB (rounded down)
// from there.
std::string Amount(uint64_t bytes) {
    if (bytes < (uint64_t(1) << 20)) return std::to_string((bytes + 1023) >> 10) + " KiB";
    return std::to_string(bytes >> 20) + " MiB";
}

// What the signature and the header of a stream say about its length, looked at as the bytes
// arrive (the copy so far is read back at the offsets wanted): a stream that is no PNG, JPEG
// or TIFF is known from its first bytes; the most an image's data can take is known from its
// header (PNG: IHDR, right after the signature; JPEG: the frame header after the APP and
// table segments; TIFF: IFD0, which may lie anywhere, and its strip tables).
class StreamHeader {
public:
    enum class Verdict { Unknown, NoImage, Known };

    // Looks at the copy's first `total` bytes (read through `at`, which answers false for bytes
    // that cannot be had). Once it answers NoImage or Known it is not asked again.
    template <typename Reader>
    Verdict Look(uint64_t total, const Reader& at) {
        if (total < wanted_) return Verdict::Unknown;
        if (format_ == Format::Unknown) {
            uint8_t magic[8] = {};
            const uint64_t n = std::min<uint64_t>(total, 8);
            if (!at(0, magic, size_t(n))) return Verdict::Unknown;
            static const uint8_t kPng[8] = {137, 80, 78, 71, 13, 10, 26, 10};
            if (n >= 1 && magic[0] == 137) {
                if (std::memcmp(magic, kPng, size_t(n)) != 0) return Verdict::NoImage;
                if (n < 8) return Verdict::Unknown;
                format_ = Format::Png;
            } else if (n >= 1 && magic[0] == 0xFF) {
                if ((n >= 2 && magic[1] != 0xD8) || (n >= 3 && magic[2] != 0xFF)) return Verdict::NoImage;
                if (n < 3) return Verdict::Unknown;
                format_ = Format::Jpeg;
                at_ = 2;
            } else if (n >= 1 && (magic[0] == 'I' || magic[0] == 'M')) {
                if (n >= 2 && magic[1] != magic[0]) return Verdict::NoImage;
                if (n < 2) return Verdict::Unknown;
                format_ = Format::Tiff;
            } else {
                return Verdict::NoImage;
            }
        }
        switch (format_) {
            case Format::Png: return LookPng(total, at);
            case Format::Jpeg: return LookJpeg(total, at);
            default: return LookTiff(total, at);
        }
    }

    // Once Known: the most bytes the image's data and its metadata can take, and its size
    // (~0 when the header gives no bound: the caller's rule alone bounds the stream).
    uint64_t MostBytes() const { return most_; }
    // Once Known: whether the header is one the readers take (a readable one, of a size they
    // accept), so that the bound holds image data besides the metadata allowance.
    bool HasImage() const { return most_ > kMetadataAllowance; }
    // With an image, what the bound is made of, for a message: "a 50x40 PNG: what its
    // compressed rows can take at the worst (8 KiB)".
    std::string What() const {
        const std::string size = std::to_string(width_) + "x" + std::to_string(height_);
        const uint64_t data = most_ - kMetadataAllowance;
        switch (format_) {
            case Format::Png:
                return "a " + size + " PNG: what its compressed rows can take at the worst (" + Amount(data) + ")";
            case Format::Jpeg:
                return "a " + size + " JPEG: what its coded blocks can take at the worst (" + Amount(data) + ")";
            default:
                return "a " + size + " TIFF: the strips and values its first page points at (the first " +
                       Amount(data) + ")";
        }
    }
    // A TIFF whose IFD0 links to a further IFD, a page the reader would refuse the file for:
    // where that IFD lies (0 when there is none, or IFD0 has not come yet).
    uint64_t NextPage() const { return nextIfd_; }
    // Before the header: whether only the metadata allowance bounds the stream (a PNG or JPEG
    // whose header has not come yet) rather than the caller's rule (a TIFF, whose IFD0 may
    // come last).
    bool MetadataBoundsUntilKnown() const { return format_ == Format::Png || format_ == Format::Jpeg; }

private:
    enum class Format { Unknown, Png, Jpeg, Tiff };
    static constexpr uint64_t kNoBound = ~uint64_t(0);

    // The header is known, with the most bytes its image's data can take: a size the readers
    // refuse anyway (none, or over the side limit) leaves its file the metadata allowance only.
    Verdict Known(uint64_t width, uint64_t height, uint64_t dataBytes) {
        width_ = width, height_ = height;
        const bool plausible = width && height && width <= uint64_t(kMaxImageSide) && height <= uint64_t(kMaxImageSide);
        const uint64_t data = plausible ? dataBytes : 0;
        most_ = data > kNoBound - kMetadataAllowance ? kNoBound : data + kMetadataAllowance;
        return Verdict::Known;
    }
    Verdict NoHeader() { return Known(0, 0, 0); }

    // PNG: the filtered rows (a filter byte and the packed samples of every row of every
    // interlace pass, which Adam7 makes at most two a row, each with a byte more), deflated
    // at the worst as stored blocks, in chunks: 1/64 more covers both.
    template <typename Reader>
    Verdict LookPng(uint64_t total, const Reader& at) {
        uint8_t h[25];
        if (total < 8 + sizeof h) return Verdict::Unknown;
        if (!at(8, h, sizeof h)) return Verdict::Unknown;
        if (std::memcmp(h + 4, "IHDR", 4) != 0) return NoHeader();
        const uint64_t width = Big(h + 8, 4), height = Big(h + 12, 4), depth = std::min<uint64_t>(h[16], 16), type = h[17];
        const uint64_t channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
        // Whole bytes a pixel rounded up, and per row the filter bytes (and interlace's).
        const uint64_t pixel = (channels * std::max<uint64_t>(depth, 1) + 7) / 8;
        return Known(width, height, width * height * (pixel + (pixel + 63) / 64) + height * (h[20] ? 8 : 2));
    }

    // JPEG: the segments before the frame header are walked by their lengths. The frame header
    // gives the coding process, the precision P and each component's sampling factors h, v. A
    // component is coded in units of its own resolution (8x8 blocks; single samples in the
    // lossless process), padded to whole MCUs: at most ceil(W / 8 Hmax) h by ceil(H / 8 Vmax) v
    // blocks. The most a Huffman-coded block takes, in bits:
    // - sequential: the DC code (16 bits at most) and the difference's P + 3 bits, and 63 AC
    //   codes each with its coefficient's P + 2 bits: 1665 bits at 8 bits;
    // - progressive: the DC's first scan as above and a bit in each of at most 13 refinements
    //   (the point transform is at most 13); each AC coefficient coded once as above and then
    //   refined up to 13 times at 17 bits at most (a code and its sign, or a correction bit);
    //   and in each of the at most 63 x 14 AC scans a block is coded in, an end-of-band code
    //   (16 bits, shared by a run of blocks): 29713 bits at 8 bits;
    // - lossless: a sample's code and its difference's 16 bits at most.
    // Each scan pads its data to a byte and may end an MCU (at least a block) with a restart
    // marker: 7 bits and 2 bytes a block a scan at most; byte stuffing doubles every byte of
    // coded data at the worst (0xFF 0x00). A 32767x32767 RGB baseline file in 4:2:0 sampling
    // holds at most 10080 MiB (420 bytes a block); in 4:4:4, 20160 MiB.
    // Arithmetic coding: each binary decision takes at most 16 bits (the coder's smaller
    // sub-interval is at least 1 of its 2^16), a coefficient (a sample, lossless) at most 40
    // decisions in its first scan and 3 in each of 13 refinements, and a progressive block an
    // end-of-band decision in each AC scan (the refinements are counted in sequential coding
    // too). With the padding, restart markers and stuffing above that is 20228 bytes a block
    // sequential, 27112 progressive and 164 a sample lossless: far above what real files take
    // but a bound all the same (a small image's claim cannot fill the disk). The reader refuses
    // the hierarchical processes.
    template <typename Reader>
    Verdict LookJpeg(uint64_t total, const Reader& at) {
        for (;;) {
            uint8_t m[4];
            if (at_ + 4 > total || !at(at_, m, 4)) return Verdict::Unknown;
            if (m[0] != 0xFF) return NoHeader();
            if (m[1] == 0xFF) {  // fill byte
                ++at_;
                continue;
            }
            const uint8_t marker = m[1];
            const uint64_t length = Big(m + 2, 2);
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (!frame) {
                if (marker == 0xDA || marker == 0xD9 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
                    return NoHeader();
                at_ += 2 + length;
                continue;
            }
            // The frame header: P, Y, X, Nf and three bytes a component.
            uint8_t f[6 + 3 * 255];
            if (at_ + 2 + length > total) return Wait(at_ + 2 + length);
            if (length < 8 || !at(at_ + 4, f, size_t(std::min<uint64_t>(length - 2, sizeof f)))) return NoHeader();
            const uint64_t precision = f[0], height = Big(f + 1, 2), width = Big(f + 3, 2), components = f[5];
            if (components == 0 || length != 8 + 3 * components) return NoHeader();
            if (marker & 4) return NoHeader();  // hierarchical
            const bool arithmetic = marker >= 0xC9;
            const int process = marker & 3;  // 0, 1 sequential, 2 progressive, 3 lossless
            uint64_t hmax = 1, vmax = 1;
            for (uint64_t c = 0; c < components; ++c) {
                hmax = std::max<uint64_t>(hmax, Sampling(f[7 + 3 * c] >> 4));
                vmax = std::max<uint64_t>(vmax, Sampling(f[7 + 3 * c] & 15));
            }
            const uint64_t side = process == 3 ? 1 : 8;
            uint64_t units = 0;
            for (uint64_t c = 0; c < components; ++c)
                units += (width + side * hmax - 1) / (side * hmax) * Sampling(f[7 + 3 * c] >> 4) *
                         ((height + side * vmax - 1) / (side * vmax)) * Sampling(f[7 + 3 * c] & 15);
            const uint64_t p = std::min<uint64_t>(std::max<uint64_t>(precision, 2), 16);
            const uint64_t dc = 16 + p + 3, ac = 16 + p + 2;
            uint64_t bits = dc + 63 * ac, scans = 1;
            if (process == 2) {
                bits = dc + 13 + 63 * ac + 63 * 13 * 17 + 63 * 14 * 16;
                scans = 14 + 63 * 14;
            } else if (process == 3) {
                bits = 16 + 16;
            }
            if (arithmetic) bits = 16 * (process == 3 ? 40 : 64 * (40 + 3 * 13) + (process == 2 ? 63 * 14 : 0));
            const uint64_t unitBytes = 2 * ((bits + 7 * scans + 7) / 8) + 2 * scans;
            return Known(width, height, units * unitBytes);
        }
    }
    // A sampling factor as the decoder takes it (1 to 4; others are refused).
    static uint64_t Sampling(uint64_t factor) { return std::min<uint64_t>(std::max<uint64_t>(factor, 1), 4); }

    // TIFF (and BigTIFF): the reader takes IFD0, the values of its entries (libtiff reads them
    // all, a layered file's layers among them) and its strips at their offsets with the byte
    // counts the file gives; after the furthest of these, nothing but metadata. The bound is
    // known once IFD0 and its tables of strip offsets and counts (or tile offsets and counts)
    // have come. An IFD0 without them, or with sub-IFDs, gives none; one of more entries than
    // libtiff takes (4096), the metadata allowance only.
    template <typename Reader>
    Verdict LookTiff(uint64_t total, const Reader& at) {
        uint8_t h[16];
        if (total < 8 || !at(0, h, 8)) return Verdict::Unknown;
        little_ = h[0] == 'I';
        const uint64_t version = Get(h + 2, 2);
        const bool big = version == 43;
        if (!big && version != 42) return NoHeader();
        if (big && (total < 16 || !at(0, h, 16))) return Verdict::Unknown;
        const uint64_t ifd = big ? Get(h + 8, 8) : Get(h + 4, 4);
        const uint64_t countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12;
        uint8_t c[8];
        if (ifd + countBytes > total) return Wait(ifd > kNoBound / 2 ? kNoBound : ifd + countBytes);
        if (!at(ifd, c, size_t(countBytes))) return Verdict::Unknown;
        const uint64_t count = Get(c, int(countBytes));
        if (count > 4096) return NoHeader();
        const uint64_t end = ifd + countBytes + count * entryBytes + (big ? 8 : 4);  // and the next IFD's offset
        if (end > total) return Wait(end);
        uint8_t next[8];
        if (!at(end - (big ? 8 : 4), next, big ? 8 : 4)) return Verdict::Unknown;
        nextIfd_ = Get(next, big ? 8 : 4);
        std::vector<uint8_t> entries(size_t(count * entryBytes));
        if (count && !at(ifd + countBytes, entries.data(), entries.size())) return Verdict::Unknown;
        uint64_t width = 0, height = 0, furthest = end;
        bool bounded = true;
        const uint8_t* offsets = nullptr;
        const uint8_t* counts = nullptr;
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* e = entries.data() + i * entryBytes;
            const uint64_t tag = Get(e, 2), n = Get(e + 4, big ? 8 : 4), bytes = ValueBytes(Get(e + 2, 2));
            if (tag == 256) width = Value(e, big);
            if (tag == 257) height = Value(e, big);
            if (tag == 273 || tag == 324) offsets = e;
            if (tag == 279 || tag == 325) counts = e;
            // Sub-IFDs (a raw file's full image, large previews) may hold their own strips
            // anywhere after IFD0's: such a file is left to the caller's memory rule.
            if (tag == 330) bounded = false;
            // Values that do not fit in the entry lie where it points.
            if (n > kNoBound / 16) {
                bounded = false;
            } else if (n * bytes > (big ? 8u : 4u)) {
                const uint64_t where = Get(e + (big ? 12 : 8), big ? 8 : 4);
                bounded = bounded && where <= kNoBound / 4;
                furthest = std::max(furthest, std::min(where, kNoBound / 4) + n * bytes);
            }
        }
        if (!bounded || !offsets || !counts) return Known(width, height, kNoBound);
        // The strips' offsets and counts: SHORT, LONG or LONG8, one of each a strip.
        const uint64_t n = Get(offsets + 4, big ? 8 : 4);
        const uint64_t startSize = TableBytes(Get(offsets + 2, 2)), lengthSize = TableBytes(Get(counts + 2, 2));
        if (!startSize || !lengthSize || n == 0 || n > (uint64_t(1) << 22) || n != Get(counts + 4, big ? 8 : 4))
            return Known(width, height, kNoBound);
        std::vector<uint8_t> starts, lengths;
        for (const auto& [entry, table] : {std::pair{offsets, &starts}, std::pair{counts, &lengths}}) {
            const uint64_t size = n * TableBytes(Get(entry + 2, 2));
            const uint8_t* field = entry + (big ? 12 : 8);
            if (size <= (big ? 8u : 4u)) {
                table->assign(field, field + size);
                continue;
            }
            const uint64_t where = Get(field, big ? 8 : 4);
            if (where + size > total) return Wait(where + size);
            table->resize(size_t(size));
            if (!at(where, table->data(), table->size())) return Verdict::Unknown;
        }
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t start = Get(starts.data() + i * startSize, int(startSize));
            const uint64_t length = Get(lengths.data() + i * lengthSize, int(lengthSize));
            if (start > kNoBound / 4 || length > kNoBound / 4) return Known(width, height, kNoBound);
            furthest = std::max(furthest, start + length);
        }
        return Known(width, height, furthest);
    }
    // The bytes of a TIFF value of each type (BYTE, ASCII, SHORT, LONG, RATIONAL, their signed
    // kinds, UNDEFINED, FLOAT, DOUBLE, IFD; BigTIFF's LONG8, SLONG8, IFD8); 0 for a type
    // libtiff does not know.
    static uint64_t ValueBytes(uint64_t type) {
        static const uint8_t kBytes[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
        return type < 19 ? kBytes[type] : 0;
    }
    // The same for the types of a number of strips or bytes (SHORT, LONG, LONG8); 0 for others.
    static uint64_t TableBytes(uint64_t type) { return type == 3 || type == 4 || type == 16 ? ValueBytes(type) : 0; }
    // A TIFF entry's first number, held in the entry itself.
    uint64_t Value(const uint8_t* entry, bool big) const {
        const uint64_t size = TableBytes(Get(entry + 2, 2));
        return size && size <= (big ? 8u : 4u) ? Get(entry + (big ? 12 : 8), int(size)) : 0;
    }
    // Not looked at again before the copy holds `bytes`.
    Verdict Wait(uint64_t bytes) {
        wanted_ = bytes;
        return Verdict::Unknown;
    }

    static uint64_t Big(const uint8_t* p, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
        return v;
    }
    uint64_t Get(const uint8_t* p, int bytes) const {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8 | p[little_ ? bytes - 1 - i : i];
        return v;
    }

    Format format_ = Format::Unknown;
    bool little_ = true;
    uint64_t at_ = 0;      // JPEG: the next segment's marker
    uint64_t wanted_ = 0;  // the bytes the copy holds before it is looked at again
    uint64_t width_ = 0, height_ = 0, most_ = 0;
    uint64_t nextIfd_ = 0;  // TIFF: IFD0's link to the next page
};

// The folder a pipe's copy is made in, and its name for a message: $TMPDIR when it is set and
// not empty, else /tmp.
struct TemporaryFolder {
    std::string path, named;
    TemporaryFolder() {
        const char* dir = std::getenv("TMPDIR");
        path = dir && *dir ? dir : "/tmp";
        named = path + (dir && *dir ? " (TMPDIR)" : " (TMPDIR is not set)");
    }
};

// A temporary file in `folder` that has no name from the start, so that nothing is left
// however the program ends: O_TMPFILE, or where the file system does not take it a made name
// removed at once. Null with errno set when the folder cannot hold one.
FILE* UnnamedTemporaryFile(const std::string& folder) {
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::string name = folder + "/.pelidorn-pipe-XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) unlink(name.c_str());
    }
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "w+b");
    if (!f) {
        const int e = errno;
        close(fd);
        errno = e;
    }
    return f;
}

// A pipe, FIFO or character device can be read once only and not sought: its data is copied
// whole, once, into an unnamed temporary file (in $TMPDIR, else /tmp) that the readers then
// take like any file. Its signature and header are looked at as they arrive: a stream that is
// no image is refused at its first bytes, and the copy stops once it holds more than its
// header's image data can take and 64 MiB of anything else (before the header, the 64 MiB
// alone; for a TIFF, whose IFD0 may come last, `pixelLimit` and the 64 MiB). At most
// `pixelLimit` and 64 MiB are taken in any case (a file larger than the pixels may be cannot
// be one the readers would accept). A file given by its path is not bounded so: a refusal
// says what the bound was, and that.
FILE* CopyStream(FILE* f, uint64_t pixelLimit, std::string& error) {
    const TemporaryFolder folder;
    FILE* copy = UnnamedTemporaryFile(folder.path);
    if (!copy) {
        error = "cannot read a pipe or device: no temporary file for its data in " + folder.named + ": " +
                std::strerror(errno);
        return nullptr;
    }
    const uint64_t bound = pixelLimit + kMetadataAllowance;
    std::vector<char> buffer(size_t(1) << 16);
    uint64_t total = 0;
    StreamHeader header;
    StreamHeader::Verdict verdict = StreamHeader::Verdict::Unknown;
    // The bytes of the copy so far, read back.
    auto at = [&](uint64_t offset, uint8_t* out, size_t n) {
        if (offset + n > total) return false;
        return pread(fileno(copy), out, n, off_t(offset)) == ssize_t(n);
    };
    auto fail = [&](const std::string& reason) {
        error = reason;
        std::fclose(copy);
        return nullptr;
    };
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        if (n == 0) break;
        if (std::fwrite(buffer.data(), 1, n, copy) != n || std::fflush(copy) != 0)
            return fail("cannot read a pipe or device: its temporary copy in " + folder.named + ": " +
                        std::strerror(errno));
        total += n;
        if (verdict == StreamHeader::Verdict::Unknown) {
            verdict = header.Look(total, at);
            if (verdict == StreamHeader::Verdict::NoImage) return fail("not a PNG, JPEG or TIFF file");
        }
        uint64_t most = bound;
        if (verdict == StreamHeader::Verdict::Known) most = std::min(most, header.MostBytes());
        else if (header.MetadataBoundsUntilKnown()) most = std::min(most, kMetadataAllowance);
        if (total > most) {
            // A TIFF of more pages would be refused for them from its path too.
            if (header.NextPage())
                return fail("multi-page TIFF files are not supported (this one's first page links to another at byte " +
                            std::to_string(header.NextPage()) + "; save the page to blur as a file of its own)");
            const std::string gives = "the pipe or device gives more than " + Amount(most) + ", the most a pipe is read ";
            const std::string rest = " plus 64 MiB of anything else (metadata, framing, bytes after the image); "
                                     "a file given by its path has no such bound";
            if (most == bound)
                return fail(gives + "for any image: what the memory allows its pixels (" + Amount(pixelLimit) + ")" + rest);
            if (verdict == StreamHeader::Verdict::Known && !header.HasImage())
                return fail("the pipe or device gives more than " + Amount(most) +
                            " without an image header the readers take");
            if (verdict == StreamHeader::Verdict::Known) return fail(gives + "for " + header.What() + rest);
            return fail(gives + "before its image header (64 MiB of metadata and anything else); "
                                "a file given by its path has no such bound");
        }
    }
    if (std::ferror(f)) return fail(std::string("cannot read: ") + std::strerror(errno));
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
        FILE* copy = CopyStream(f, pixels, error);
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
    bool ok;
    try {
        ok = image.format == FileFormat::Jpeg ? codec::WriteJpeg(f, image, error, options)
                                              : codec::WritePng(f, image, error, options);
    } catch (...) {
        std::fclose(f);
        throw;
    }
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
