// The dialog's control base and the preview object as a headless host answers it.
#include <gtest/gtest.h>

#include "core/module_globals.h"
#include "host/parameter.h"
#include "ui/dialogs.h"
#include "ui/parameter_ui.h"
#include "ui/preview.h"

namespace ov {
namespace {

struct CountingUI : pfParameterUI {
  int updates = 0;
  void Update() override { ++updates; }
};

TEST(ParameterUI, BuiltWithoutParameterIdsOrWindow) {
  pfParameterUI control;
  EXPECT_EQ(control.GetParameter(), nullptr);
  EXPECT_EQ(control.GetControlId(), -1);
  EXPECT_EQ(control.GetTrackbarId(), -1);
  EXPECT_EQ(control.GetEditId(), -1);
  EXPECT_EQ(control.GetLabelId(), -1);
  EXPECT_EQ(control.GetDialogWindow(), nullptr);
  EXPECT_TRUE(control.IsEnabled());
  EXPECT_TRUE(control.IsVisible());
  control.SetControlId(1013);
  control.SetTrackbarId(1011);
  control.SetEditId(1037);
  control.SetLabelId(1099);
  EXPECT_EQ(control.GetControlId(), 1013);
  EXPECT_EQ(control.GetTrackbarId(), 1011);
  EXPECT_EQ(control.GetEditId(), 1037);
  EXPECT_EQ(control.GetLabelId(), 1099);
}

TEST(ParameterUI, AttachAndDetachLinkBothWays) {
  pfParameterFloat a, b;
  CountingUI control;
  control.AttachParameter(&a);
  EXPECT_EQ(control.GetParameter(), &a);
  EXPECT_EQ(a.GetUI(), &control);
  control.AttachParameter(nullptr); // ignored
  EXPECT_EQ(control.GetParameter(), &a);
  control.AttachParameter(&a); // the same: nothing
  EXPECT_EQ(control.DetachParameter(), &a);
  EXPECT_EQ(a.GetUI(), nullptr);
  EXPECT_EQ(control.GetParameter(), nullptr);
  EXPECT_EQ(control.DetachParameter(), nullptr);
  control.AttachParameter(&b);
  b.SetValue(3); // a bound control refreshes on change
  EXPECT_EQ(control.updates, 1);
}

TEST(ParameterUI, FlagsRefreshOnlyOnChange) {
  struct Row {
    bool enable;
    bool value;
    int updates;
  };
  CountingUI control;
  const Row rows[] = {{true, true, 0}, {true, false, 1}, {true, false, 1}, {true, true, 2},
                      {false, true, 2}, {false, false, 3}, {false, false, 3}, {false, true, 4}};
  for (const Row& row : rows) {
    if (row.enable) control.SetEnabled(row.value);
    else control.SetVisible(row.value);
    EXPECT_EQ(control.updates, row.updates);
  }
  EXPECT_TRUE(control.IsEnabled());
  EXPECT_TRUE(control.IsVisible());
}

// Without a window the dialog accepts what the parameters hold (the native build's dialog).
#if !defined(_WIN32)
TEST(Preview, HeadlessShowAcceptsAndTouchesNothing) {
  pfPreviewWin32 preview;
  pfPreview& base = preview;
  FilterRecord record{};
  pfParameterUIList controls;
  CountingUI control;
  controls.push_back(&control);
  EXPECT_EQ(PreviewRenderTick, 0u);
  EXPECT_TRUE(LivePreview);
  EXPECT_TRUE(base.Show(nullptr, &record, controls));
  EXPECT_EQ(control.updates, 0);
  EXPECT_EQ(PreviewRenderTick, 0u);
  double r = 0.5, g = 0.25, b = 1.0;
  EXPECT_FALSE(base.AlternativeColorSelection(&record, r, g, b));
  EXPECT_EQ(g, 0.25);
  PreviewChanged = false;
  base.Invalidate();
  EXPECT_TRUE(PreviewChanged);
  PreviewChanged = false;
  preview.FitScaleFactor();
  EXPECT_EQ(preview.GetCurrentScale(), 1);
}
#else
// Without its dialog resources (a test program has none) Show fails like a window that cannot
// be created: Cancel, and nothing left behind.
TEST(Preview, WithoutItsWindowsShowAnswersCancel) {
  pfPreviewWin32 preview;
  FilterRecord record{};
  pfParameterUIList controls;
  EXPECT_FALSE(preview.Show(nullptr, &record, controls));
  EXPECT_EQ(PreviewRenderTick, 0u);
  EXPECT_EQ(preview.previewWindow, nullptr);
  EXPECT_EQ(preview.interfaceWindow, nullptr);
  EXPECT_EQ(preview.previewBuffer, nullptr);
  EXPECT_EQ(preview.pickCursor, nullptr);
}
#endif

TEST(Dialogs, AboutKeepsTheText) {
  ShowAbout("Pelidorn v1.4.5\rtext");
  EXPECT_EQ(AboutText(), "Pelidorn v1.4.5\rtext");
  ShowAbout(AboutText()); // the very string
  EXPECT_EQ(AboutText(), "Pelidorn v1.4.5\rtext");
}

} // namespace
} // namespace ov
