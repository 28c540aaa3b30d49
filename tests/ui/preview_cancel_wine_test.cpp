// preview_cancel_wine_test: a slow preview does not hold the dialog (Windows build, run under
// Wine on a virtual display). The module is loaded as a host loads it and opens its dialog on
// a document with a depth map and a large radius, so that a preview render takes seconds. A
// thread timer plays the user: while the first preview renders, the dialog must answer (its
// messages are pumped from the render), a radius typed then makes the running preview stale,
// which stops it so that a coarse preview of the new radius shows soon, and OK (Enter) while
// the next full preview renders ends the dialog promptly. The time of the final render
// (after OK) is the yardstick: each of those waits must stay well below it.
//
//   preview_cancel_wine_test MODULE
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/resources/plugin_resources.h"
#include "tests/ui/dialog_wine_support.h"

using namespace pelidorn;

namespace {

// A 400 x 300 RGB scene with a left-to-right depth ramp as its selection.
HostDocument Scene() {
  return Squares(400, 300, 2, [](int x, int y) { return (x * 7 + y * 13) % 97 == 0; }, true);
}

// Distinct colours in the preview window's client area (a blank preview has one or two).
size_t PreviewColours() { return Preview() ? Colours(Capture(ScreenRect(Preview(), true)), 7) : 0; }

}  // namespace

int main(int argc, char** argv) {
  LoadedModule module;
  if (const int code = OpenModule(argc, argv, "preview_cancel_wine_test", module)) return code;
  // A preview window large enough to show the whole document at 100%.
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  WriteDword("Interface Position X", 0);
  WriteDword("Interface Position Y", 0);
  WriteDword("Preview Position X", 340);
  WriteDword("Preview Position Y", 0);
  WriteDword("Preview Position Width", 620);
  WriteDword("Preview Position Height", 520);

  DWORD opened = 0, answered = 0, coarseShown = 0, okPressed = 0;
  std::vector<Step> script = {
      [&] {
        if (!Panel() || !Preview()) return false;
        opened = GetTickCount();
        return true;
      },
      // The next tick: it can only come while the first (slow) preview renders when the render
      // pumps the dialog's messages. Typing a radius makes that preview stale.
      [&] {
        answered = GetTickCount();
        Check(Text(1007) == "100%", "the document is shown at 100% (" + Text(1007) + ")");
        // Whether a coarse first preview is already on the screen by now depends on the
        // machine's load, so the colours are only reported; the timing checks at the end
        // tell whether the dialog answered while the previews rendered.
        std::printf("preview colours when the dialog first answers: %zu\n", PreviewColours());
        SetFocus(Item(1013));
        SetWindowTextA(Item(1013), "280");
        SetFocus(Item(IDOK));
        Check(Text(1013) == "280", "radius typed: 280");
        return true;
      },
      [&] {
        if (PreviewColours() <= 8) return false;
        coarseShown = GetTickCount();
        return true;
      },
      // OK while the full preview of the new radius renders.
      [&] {
        okPressed = GetTickCount();
        PostMessageA(Panel(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(Item(IDOK)));
        return true;
      },
  };
  const UINT_PTR timer = StartScript(module.entry, std::move(script), 90000);
  HostDocument doc = Scene();
  RunOptions options;
  options.recorded = true;
  options.playback = {{ov::resources::FourCC("RADI"), typeFloat, 0, 300.0, false}};
  RunResult run = RunFilter(AskForDialog, doc, options);
  const DWORD ended = GetTickCount();
  KillTimer(nullptr, timer);
  Check(g_next == g_steps.size(), "every step of the script ran");
  Check(run.error.empty() && run.result == 0, "OK renders the image (result " + std::to_string(run.result) + ")");
  double radius = std::nan("");
  for (const DescriptorItem& i : run.written)
    if (i.key == ov::resources::FourCC("RADI")) radius = i.number;
  Check(radius == 280.0, "the radius typed in the dialog is recorded");

  // The final render (full size, radius 280) follows OK; it takes about as long as the full
  // preview, and the waits above must each be a small part of it.
  const DWORD yardstick = ended - okPressed;
  std::printf("first answer after %lu ms, coarse preview %lu ms after the change, OK to the end %lu ms\n",
              static_cast<unsigned long>(answered - opened), static_cast<unsigned long>(coarseShown - answered),
              static_cast<unsigned long>(yardstick));
  Check(yardstick >= 1500, "the final render takes long enough to measure the dialog by it");
  Check(answered - opened < yardstick / 3, "the dialog answers while the first preview renders");
  Check(coarseShown - answered < yardstick / 3,
        "the stale preview stops and a coarse preview of the new radius shows soon");

  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
