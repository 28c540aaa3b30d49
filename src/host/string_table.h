// string_table.h - the module's string table (language 1033): the one list of its texts.
// The Windows module carries them as a STRINGTABLE resource (src/host/resources/pelidorn.rc,
// which a test compares with this list, as the Windows test host compares what LoadString
// reads); LoadModuleString (sdk_utils.h) reads the resource there and this list otherwise.
// Texts are Windows-1252 bytes. Header-only, so that hosts and tests use it without the
// rest of the host library.
#pragma once

#include <cstddef>
#include <string>

namespace ov {

struct ModuleString {
  int id;
  const char* text;
};

constexpr int kStringAboutText = 16000;
constexpr int kStringAboutTextEscaped = 16002;
constexpr int kStringIntegerRange = 16990;
constexpr int kStringDecimalRange = 16991;
constexpr int kStringHostTooOld = 16992;
constexpr int kStringHostIncompatible = 16993;
constexpr int kStringSuiteMissing = 16994;

// 16000 and 16002: the About text, the second with its line breaks written as backslash-n.
// 16992 holds the registered sign as the byte 0xAE; 16994 keeps a literal backslash before
// each quote.
inline constexpr ModuleString kModuleStrings[] = {
    {kStringAboutText, "Pelidorn\nVersion 1.4.5\nOstrovanne"},
    {kStringAboutTextEscaped, "Pelidorn\\nVersion 1.4.5\\nOstrovanne"},
    {kStringIntegerRange, "An integer is required between ^1 and ^2."},
    {kStringDecimalRange, "A decimal number is required between ^1 and ^2."},
    {kStringHostTooOld, "This plug-in requires Adobe Photoshop\xAE ^1 or later functionality."},
    {kStringHostIncompatible, "This plug-in is incompatible with this version of the host program."},
    {kStringSuiteMissing, "the required suite \\'^0\\' is unavailable"},
};
inline constexpr size_t kModuleStringCount = sizeof(kModuleStrings) / sizeof(kModuleStrings[0]);

// The text of `id`, or an empty string when the table has none.
inline std::string ModuleStringText(int id) {
  for (const ModuleString& s : kModuleStrings)
    if (s.id == id) return s.text;
  return std::string();
}

} // namespace ov
