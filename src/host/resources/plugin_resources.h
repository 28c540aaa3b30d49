// The module's two data resources: the plug-in property list (type "PIPL") and
// the scripting terminology (type "AETE"), both id 16000, language 1033. The bytes are built
// here from tables, once, and are the one source of truth: the Windows module embeds the
// files that `pelidorn_resgen` writes from these functions (src/host/resources/*.bin), a
// native test checks that the committed files still equal what these functions build, and
// the stand-in host reads its key list from BuildTerminology() exactly as a host reads it
// from the module.
//
// Byte order: every integer little-endian; a four-character code is a 32-bit integer whose
// most significant byte is the first character, so its bytes appear reversed in the file.
// Counted strings: a length byte and the characters (Windows-1252), no terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ov::resources {

constexpr uint32_t FourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}
std::string FourCCText(uint32_t code);

constexpr int kResourceId = 16000;
constexpr uint16_t kResourceLanguage = 1033;
constexpr size_t kPropertyListSize = 406;
constexpr size_t kTerminologySize = 1333;

// One parameter record of the terminology: name, key, value type (`long`, `doub`, `bool`),
// description; flags are 0 for all.
struct TerminologyParameter {
    std::string name;
    uint32_t key;
    uint32_t type;
    std::string description;
    uint16_t flags = 0;
};

// The property list, 406 bytes.
std::vector<uint8_t> BuildPropertyList();
// The terminology, from the given parameter records in their stored order (the lens filter's
// 24 records give 1333 bytes).
std::vector<uint8_t> BuildTerminology(const std::vector<TerminologyParameter>& parameters);

// What a host reads back from the terminology: the parameter records, or an empty list with
// error set when the bytes are malformed.
struct ParsedTerminology {
    std::string suiteName;
    uint32_t suiteCode = 0;
    std::string eventName;
    uint32_t eventClass = 0;
    uint32_t eventId = 0;
    std::vector<TerminologyParameter> parameters;
    std::string error;
};
ParsedTerminology ParseTerminology(const uint8_t* data, size_t size);

// What a host reads from a property list: its properties with key and data, and the
// entry-point name of the `8664` property.
struct Property {
    uint32_t vendor = 0;
    uint32_t key = 0;
    uint32_t id = 0;
    size_t offset = 0;  // of the property in the list
    std::vector<uint8_t> data;
};
struct ParsedPropertyList {
    std::vector<Property> properties;
    std::string entryPoint;   // from `8664`
    uint32_t kind = 0;        // from `kind`
    std::string error;
};
ParsedPropertyList ParsePropertyList(const uint8_t* data, size_t size);

}  // namespace ov::resources
