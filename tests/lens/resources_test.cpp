// The property list and the terminology, byte for byte; the committed resource
// files that the Windows module embeds equal what the tables build; the string table of the
// .rc equals the one in the code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/resources/plugin_resources.h"
#include "host/string_table.h"
#include "lens/lens_terminology.h"

using namespace ov::resources;

namespace {

std::string SourceDir() {
    const char* data = std::getenv("PEL_TEST_DATA");  // <source>/tests/data
    std::string s = data ? data : "tests/data";
    return s.substr(0, s.size() - std::string("tests/data").size());
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

}  // namespace

TEST(PropertyList, SizeHeaderAndOffsets) {
    const auto pipl = BuildPropertyList();
    ASSERT_EQ(pipl.size(), 406u);
    EXPECT_EQ(pipl[0], 1);
    EXPECT_EQ(pipl[1], 0);
    EXPECT_EQ(U32(pipl, 2), 0u);
    EXPECT_EQ(U32(pipl, 6), 11u);
    const auto parsed = ParsePropertyList(pipl.data(), pipl.size());
    ASSERT_TRUE(parsed.error.empty());
    ASSERT_EQ(parsed.properties.size(), 11u);
    const size_t offsets[] = {10, 30, 62, 90, 110, 138, 158, 178, 234, 342, 362};
    const char* keys[] = {"kind", "name", "catg", "vers", "8664", "flly", "mode", "hstm", "enbl", "flly", "fici"};
    const size_t lengths[] = {4, 16, 12, 4, 12, 4, 4, 40, 92, 4, 28};
    for (size_t i = 0; i < 11; ++i) {
        const Property& p = parsed.properties[i];
        EXPECT_EQ(p.offset, offsets[i]) << keys[i];
        EXPECT_EQ(FourCCText(p.key), keys[i]);
        EXPECT_EQ(FourCCText(p.vendor), "8BIM");
        EXPECT_EQ(p.id, 0u);
        EXPECT_EQ(p.data.size(), lengths[i]) << keys[i];
    }
    // Codes are stored little-endian: their characters read backwards in the file.
    EXPECT_EQ(std::string(pipl.begin() + 10, pipl.begin() + 18), "MIB8dnik");
    EXPECT_EQ(parsed.entryPoint, "ENTRYPOINT");
    EXPECT_EQ(FourCCText(parsed.kind), "8BFM");
}

TEST(PropertyList, PropertyData) {
    const auto pipl = BuildPropertyList();
    const auto props = ParsePropertyList(pipl.data(), pipl.size()).properties;
    auto bytes = [](std::initializer_list<int> l) {
        std::vector<uint8_t> v;
        for (int x : l) v.push_back(uint8_t(x));
        return v;
    };
    std::vector<uint8_t> name = {14};
    for (char c : std::string("Pelidorn......")) name.push_back(uint8_t(c));
    name.push_back(0);
    EXPECT_EQ(props[1].data, name);
    std::vector<uint8_t> catg = {10};
    for (char c : std::string("Ostrovanne")) catg.push_back(uint8_t(c));
    catg.push_back(0);
    EXPECT_EQ(props[2].data, catg);
    EXPECT_EQ(props[3].data, bytes({0x04, 0x00, 0x01, 0x00}));
    std::vector<uint8_t> entry;
    for (char c : std::string("ENTRYPOINT")) entry.push_back(uint8_t(c));
    entry.push_back(0);
    entry.push_back(0);
    EXPECT_EQ(props[4].data, entry);
    EXPECT_EQ(props[5].data, bytes({0x80, 0, 0, 0}));
    EXPECT_EQ(props[6].data, bytes({0x50, 0, 0, 0}));
    EXPECT_EQ(props[9].data, props[5].data);  // flly twice, the same data
    // hstm
    const auto& h = props[7].data;
    EXPECT_EQ(U32(h, 0), 0u);
    EXPECT_EQ(FourCCText(U32(h, 4)), "QC09");
    EXPECT_EQ(FourCCText(U32(h, 8)), "null");
    EXPECT_EQ(h[12] | (h[13] << 8), 16000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 14)), "Ostrovanne Pelidorn...");
    EXPECT_EQ(h[36], 0);
    EXPECT_EQ(h[37] + h[38] + h[39], 0);
    // enbl
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(props[8].data.data())),
              "in (PSHOP_ImageMode, GrayScaleMode, RGBMode, Gray16Mode, RGB48Mode, Gray32Mode, RGB96Mode)");
    // fici: cases 1-5 straight data, 6-7 cannot filter; flags 0x0B, 0.
    const auto& f = props[10].data;
    for (int c = 0; c < 7; ++c) {
        const uint8_t handling = c < 5 ? 1 : 0;
        EXPECT_EQ(f[c * 4 + 0], handling);
        EXPECT_EQ(f[c * 4 + 1], handling);
        EXPECT_EQ(f[c * 4 + 2], 0x0B);
        EXPECT_EQ(f[c * 4 + 3], 0);
    }
}

TEST(Terminology, SizeHeaderAndRecords) {
    const auto aete = ov::lens::PelidornTerminology();
    ASSERT_EQ(aete.size(), 1333u);
    EXPECT_EQ(aete[0] | (aete[1] << 8), 1);
    EXPECT_EQ(aete[2], 1);
    EXPECT_EQ(aete[3], 0);
    EXPECT_EQ(aete[10], 10);  // "Ostrovanne"
    EXPECT_EQ(aete[21], 20);  // the suite description
    EXPECT_EQ(aete[31], 0xB4);  // the accent of "Ambervine´s"
    EXPECT_EQ(FourCCText(U32(aete, 42)), "QS09");
    EXPECT_EQ(aete[52], 11);  // "Pelidorn..."
    EXPECT_EQ(FourCCText(U32(aete, 75)), "QC09");
    EXPECT_EQ(FourCCText(U32(aete, 79)), "null");
    EXPECT_EQ(FourCCText(U32(aete, 83)), "null");
    EXPECT_EQ(FourCCText(U32(aete, 90)), "#ImR");
    EXPECT_EQ(aete[95], 0x00);
    EXPECT_EQ(aete[96], 0xB0);
    EXPECT_EQ(aete[97] | (aete[98] << 8), 24);
    EXPECT_EQ(aete[99], 4);  // the first record's name "show" starts at 99
    EXPECT_EQ(std::string(aete.begin() + 100, aete.begin() + 104), "show");
    for (size_t i = 1327; i < 1333; ++i) EXPECT_EQ(aete[i], 0) << i;
    const auto t = ParseTerminology(aete.data(), aete.size());
    ASSERT_TRUE(t.error.empty());
    ASSERT_EQ(t.parameters.size(), 24u);
    struct Row {
        const char* name;
        const char* key;
        const char* type;
        const char* description;
    };
    const Row rows[] = {
        {"show", "SHOW", "long", "what to see"},
        {"radius", "RADI", "doub", "blur radius"},
        {"focal point", "FOPO", "doub", "depth where image is in focus"},
        {"depth curve", "DECU", "doub", "alters depth curve"},
        {"Selection usage", "SEIS", "long",
         "defines what a possible selection is used for. As Depth map or alternative Iris."},
        {"highlight preservative", "HIPR", "doub", "selected highlights preservative strength"},
        {"highlight additive", "HIAD", "doub", "selected highlights additive strength"},
        {"depth invert", "DEIN", "bool", "invert Depth"},
        {"gamma correction", "GACO", "bool", "gamma correction"},
        {"outside image", "OUIM", "long", "what is assumed outside the iamge"},
        {"outside color red", "OUCR", "doub", "outside color"},
        {"outside color green", "OUCG", "doub", "otside color"},
        {"outside color blue", "OUCB", "doub", "outside color"},
        {"iris facets", "IRFA", "long", "iris Facet count"},
        {"iris angle", "IFAN", "doub", "iris angle"},
        {"iris round facets", "IRRF", "doub", "iris rotation"},
        {"iris border", "IRBO", "doub", "iris border size"},
        {"relative iris border brightness", "IRBB", "doub", "iris border size"},
        {"iris aspect", "IRAS", "doub", "iris x-y aspect"},
        {"iris softness", "IRSO", "doub", "iris softness"},
        {"highlight selection low", "SELL", "doub", "lower highlight grayscale selection"},
        {"highlight selection high", "SELH", "doub", "upper highlight grayscale selection"},
        {"highlight selection soften", "SELS", "doub", "Selection Soften based on Climax"},
        {"highlight selection climax", "SELC", "doub", "Peak intensity when softened"},
    };
    for (size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(t.parameters[i].name, rows[i].name);
        EXPECT_EQ(FourCCText(t.parameters[i].key), rows[i].key);
        EXPECT_EQ(FourCCText(t.parameters[i].type), rows[i].type) << rows[i].key;
        EXPECT_EQ(t.parameters[i].description, rows[i].description);
        EXPECT_EQ(t.parameters[i].flags, 0);
    }
}

TEST(Terminology, TruncatedBytesAreRefused) {
    const auto aete = ov::lens::PelidornTerminology();
    EXPECT_FALSE(ParseTerminology(aete.data(), 500).error.empty());
    const auto pipl = BuildPropertyList();
    EXPECT_FALSE(ParsePropertyList(pipl.data(), 100).error.empty());
}

TEST(ModuleResources, CommittedFilesEqualTheTables) {
    const std::string dir = SourceDir() + "src/host/resources/";
    EXPECT_EQ(ReadFile(dir + "pipl.bin"), BuildPropertyList())
        << "src/host/resources/pipl.bin is stale: run bin/pelidorn_resgen src/host/resources";
    EXPECT_EQ(ReadFile(dir + "aete.bin"), ov::lens::PelidornTerminology())
        << "src/host/resources/aete.bin is stale: run bin/pelidorn_resgen src/host/resources";
}

TEST(ModuleResources, RcStringTableEqualsTheCode) {
    std::ifstream rc(SourceDir() + "src/host/resources/pelidorn.rc", std::ios::binary);
    ASSERT_TRUE(rc.good());
    const std::string text((std::istreambuf_iterator<char>(rc)), {});
    EXPECT_NE(text.find("16000 PIPL \"pipl.bin\""), std::string::npos);
    EXPECT_NE(text.find("16000 AETE \"aete.bin\""), std::string::npos);
    EXPECT_NE(text.find("LANGUAGE 9, 1"), std::string::npos);  // 1033
    for (const ov::ModuleString& s : ov::kModuleStrings) {
        // The .rc spells the string with \256 for 0xAE and \\ for a backslash.
        std::string spelled;
        for (char c : std::string(s.text)) {
            if (c == '\\') spelled += "\\\\";
            else if (c == '\n') spelled += "\\n";
            else if (uint8_t(c) == 0xAE) spelled += "\\256";
            else spelled += c;
        }
        const std::string line = std::to_string(s.id) + " \"" + spelled + "\"";
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}
