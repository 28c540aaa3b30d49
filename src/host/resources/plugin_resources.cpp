// Builds and parses the module's property list and terminology. See the header
// for the byte order; the offsets named in the comments are byte offsets into the resource.
#include "host/resources/plugin_resources.h"

#include <cstring>

namespace ov::resources {

namespace {

class Writer {
public:
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v & 0xFF));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(uint8_t((v >> (8 * i)) & 0xFF));
    }
    void code(uint32_t fourcc) { u32(fourcc); }  // little-endian: the characters reversed
    void counted(const std::string& s) {
        u8(uint8_t(s.size()));
        raw(s);
    }
    void raw(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    std::vector<uint8_t> bytes;
};

// One property: vendor `8BIM`, key, id 0, the padded length, the data and its padding.
void PutProperty(Writer& w, uint32_t key, const std::vector<uint8_t>& data) {
    const size_t padded = (data.size() + 3) & ~size_t(3);
    w.code(FourCC("8BIM"));
    w.code(key);
    w.u32(0);
    w.u32(uint32_t(padded));
    w.bytes.insert(w.bytes.end(), data.begin(), data.end());
    w.zeros(padded - data.size());
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> list) { return list; }

std::vector<uint8_t> CountedString(const std::string& s) {
    Writer w;
    w.counted(s);
    return w.bytes;
}

std::vector<uint8_t> CString(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : data(d), size(n) {}
    bool need(size_t n) {
        if (pos + n > size) failed = true;
        return !failed;
    }
    uint8_t u8() { return need(1) ? data[pos++] : 0; }
    uint16_t u16() {
        if (!need(2)) return 0;
        uint16_t v = uint16_t(data[pos] | (data[pos + 1] << 8));
        pos += 2;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v = uint32_t(data[pos]) | (uint32_t(data[pos + 1]) << 8) |
                     (uint32_t(data[pos + 2]) << 16) | (uint32_t(data[pos + 3]) << 24);
        pos += 4;
        return v;
    }
    std::string counted() {
        size_t n = u8();
        if (!need(n)) return {};
        std::string s(reinterpret_cast<const char*>(data + pos), n);
        pos += n;
        return s;
    }
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool failed = false;
};

}  // namespace

std::string FourCCText(uint32_t code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = char((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

std::vector<uint8_t> BuildPropertyList() {
    Writer w;
    w.u16(1);   // resource word
    w.u32(0);   // list version
    w.u32(11);  // property count
    PutProperty(w, FourCC("kind"), [] { Writer k; k.code(FourCC("8BFM")); return k.bytes; }());
    {
        auto name = CountedString("Pelidorn......");
        name.push_back(0);
        PutProperty(w, FourCC("name"), name);
    }
    {
        auto category = CountedString("Ostrovanne");
        category.push_back(0);
        PutProperty(w, FourCC("catg"), category);
    }
    PutProperty(w, FourCC("vers"), [] { Writer v; v.u32(0x00010004); return v.bytes; }());
    {
        auto entry = CString("ENTRYPOINT");
        entry.push_back(0);
        PutProperty(w, FourCC("8664"), entry);
    }
    PutProperty(w, FourCC("flly"), Bytes({0x80, 0, 0, 0}));
    PutProperty(w, FourCC("mode"), Bytes({0x50, 0, 0, 0}));  // grayscale and RGB
    {
        Writer h;
        h.u32(0);                  // version
        h.code(FourCC("QC09"));    // scripting class
        h.code(FourCC("null"));    // scripting event
        h.u16(uint16_t(kResourceId));
        h.raw("Ostrovanne Pelidorn...");
        h.u8(0);
        h.zeros(3);
        PutProperty(w, FourCC("hstm"), h.bytes);
    }
    {
        auto expression = CString(
            "in (PSHOP_ImageMode, GrayScaleMode, RGBMode, Gray16Mode, RGB48Mode, Gray32Mode, "
            "RGB96Mode)");
        expression.push_back(0);
        PutProperty(w, FourCC("enbl"), expression);
    }
    PutProperty(w, FourCC("flly"), Bytes({0x80, 0, 0, 0}));
    {
        // Filter cases 1..7: input handling, output handling, flags 1, flags 2. Handling 1 is
        // straight data, 0 cannot filter (protected transparency); 0x0B = do not copy the
        // source, works with blank data, writes outside the selection.
        Writer f;
        for (int c = 1; c <= 7; ++c) {
            const uint8_t handling = c <= 5 ? 1 : 0;
            f.u8(handling);
            f.u8(handling);
            f.u8(0x0B);
            f.u8(0);
        }
        PutProperty(w, FourCC("fici"), f.bytes);
    }
    return w.bytes;
}

std::vector<uint8_t> BuildTerminology(const std::vector<TerminologyParameter>& parameters) {
    Writer w;
    w.u16(1);  // resource word
    w.u8(1);   // major version
    w.u8(0);   // minor version
    w.u16(0);  // language
    w.u16(0);  // script
    w.u16(1);  // suite count
    w.counted("Ostrovanne");
    w.counted("Ambervine\xB4s Plug-ins");
    w.code(FourCC("QS09"));
    w.u16(1);  // level
    w.u16(1);  // version
    w.u16(1);  // event count
    w.counted("Pelidorn...");
    w.counted("no comment");
    w.code(FourCC("QC09"));
    w.code(FourCC("null"));
    w.code(FourCC("null"));  // reply type
    w.counted("");
    w.u16(0x0000);            // reply flags
    w.code(FourCC("#ImR"));   // direct parameter type
    w.counted("");
    w.u16(0xB000);            // direct parameter flags
    w.u16(uint16_t(parameters.size()));
    for (const auto& p : parameters) {
        w.counted(p.name);
        w.code(p.key);
        w.code(p.type);
        w.counted(p.description);
        w.u16(p.flags);
    }
    w.u16(0);  // classes
    w.u16(0);  // comparison operators
    w.u16(0);  // enumerations
    return w.bytes;
}

ParsedTerminology ParseTerminology(const uint8_t* data, size_t size) {
    ParsedTerminology t;
    Reader r(data, size);
    if (r.u16() != 1) t.error = "not a terminology resource (resource word)";
    r.u8();
    r.u8();
    r.u16();
    r.u16();
    const uint16_t suites = r.u16();
    if (t.error.empty() && suites != 1) t.error = "expected one suite";
    t.suiteName = r.counted();
    r.counted();
    t.suiteCode = r.u32();
    r.u16();
    r.u16();
    const uint16_t events = r.u16();
    if (t.error.empty() && events != 1) t.error = "expected one event";
    t.eventName = r.counted();
    r.counted();
    t.eventClass = r.u32();
    t.eventId = r.u32();
    r.u32();
    r.counted();
    r.u16();
    r.u32();
    r.counted();
    r.u16();
    const uint16_t count = r.u16();
    for (uint16_t i = 0; i < count && !r.failed; ++i) {
        TerminologyParameter p;
        p.name = r.counted();
        p.key = r.u32();
        p.type = r.u32();
        p.description = r.counted();
        p.flags = r.u16();
        if (!r.failed) t.parameters.push_back(p);
    }
    r.u16();
    r.u16();
    r.u16();
    if (r.failed && t.error.empty()) t.error = "terminology resource is truncated";
    if (!t.error.empty()) t.parameters.clear();
    return t;
}

ParsedPropertyList ParsePropertyList(const uint8_t* data, size_t size) {
    ParsedPropertyList list;
    Reader r(data, size);
    r.u16();
    r.u32();
    const uint32_t count = r.u32();
    for (uint32_t i = 0; i < count && !r.failed; ++i) {
        Property p;
        p.offset = r.pos;
        p.vendor = r.u32();
        p.key = r.u32();
        p.id = r.u32();
        const uint32_t length = r.u32();
        if (!r.need(length)) break;
        p.data.assign(data + r.pos, data + r.pos + length);
        r.pos += length;
        if (p.key == FourCC("8664")) {
            size_t n = 0;
            while (n < p.data.size() && p.data[n] != 0) ++n;
            list.entryPoint.assign(reinterpret_cast<const char*>(p.data.data()), n);
        }
        if (p.key == FourCC("kind") && p.data.size() >= 4) {
            list.kind = uint32_t(p.data[0]) | (uint32_t(p.data[1]) << 8) |
                        (uint32_t(p.data[2]) << 16) | (uint32_t(p.data[3]) << 24);
        }
        list.properties.push_back(std::move(p));
    }
    if (r.failed) list.error = "property list is truncated";
    return list;
}

}  // namespace ov::resources
