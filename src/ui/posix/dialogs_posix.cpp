// About and error boxes without a window system: the About text is kept, the error goes to
// standard error.
#include <cstdio>

#include "core/logger.h"
#include "core/module_globals.h"
#include "ui/dialogs.h"

namespace ov {

void ShowAbout(const std::string& text) {
  LogTrace("ShowAbout()\n");
  LogScope scope;
  if (&text != &AboutText()) AboutText() = text;
}

void ShowErrorBox(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

} // namespace ov
