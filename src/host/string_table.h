// string_table.h - the module's string table (language 1033) as data both builds use.
// The Windows module carries the same texts as a STRINGTABLE resource (built from this
// table); LoadModuleString (sdk_utils.h) reads the resource there and this table otherwise.
// Texts are Windows-1252 bytes.
#pragma once

#include <cstddef>
#include <string>

namespace ov {

struct ModuleString {
  int id;
  const char* text;
};

// 16000 About text lines, 16002 the same with "\n" written out, 16990..16994 messages.
extern const ModuleString kModuleStrings[];
extern const size_t kModuleStringCount;

constexpr int kStringAboutText = 16000;
constexpr int kStringAboutTextEscaped = 16002;
constexpr int kStringIntegerRange = 16990;
constexpr int kStringDecimalRange = 16991;
constexpr int kStringHostTooOld = 16992;
constexpr int kStringHostIncompatible = 16993;
constexpr int kStringSuiteMissing = 16994;

// The text of `id`, or an empty string when the table has none.
std::string ModuleStringText(int id);

} // namespace ov
