#include "host/string_table.h"

namespace ov {

const ModuleString kModuleStrings[] = {
    {kStringAboutText, "Pelidorn\nVersion 1.4.5\nOstrovanne"},
    {kStringAboutTextEscaped, "Pelidorn\\nVersion 1.4.5\\nOstrovanne"},
    {kStringIntegerRange, "An integer is required between ^1 and ^2."},
    {kStringDecimalRange, "A decimal number is required between ^1 and ^2."},
    {kStringHostTooOld, "This plug-in requires Adobe Photoshop\xAE ^1 or later functionality."},
    {kStringHostIncompatible, "This plug-in is incompatible with this version of the host program."},
    {kStringSuiteMissing, "the required suite \\'^0\\' is unavailable"},
};
const size_t kModuleStringCount = sizeof(kModuleStrings) / sizeof(kModuleStrings[0]);

std::string ModuleStringText(int id) {
  for (const ModuleString& s : kModuleStrings)
    if (s.id == id) return s.text;
  return std::string();
}

} // namespace ov
