// ov::pfFilter: the selector table, the Start sequence and each of
// its failure paths, the suites, SetupFilterRecord, the scale accessors, host memory,
// UpdateProgress and RequestColor, with the mended behaviours.
#include <gtest/gtest.h>

#include "fake_host.h"
#include "host/filter_record.h"
#include "host/parameter.h"
#include "host/pf_filter.h"
#include "platform/platform.h"
#include "ui/preview.h"

using lens_test::FakeHost;
using lens_test::RectIsZero;

namespace {

class TestFilter : public ov::pfFilter {
public:
    TestFilter() : pfFilter("\xBBTest\xAB", "Maker", 1, 2, 3, "A test filter.\n") {
        value.SetName("Value");
        value.SetScriptKey(ov::FourCC("VALU"));
        value.SetMinimum(0, true);
        value.SetMaximum(10, true);
        parameters.Add(&value);
        dialog = &fakeDialog;
    }
    int16_t Render(FilterRecord* r) override {
        renders++;
        renderedRecord = r;
        renderedPreviewLevel = previewLevel;
        return renderStatus;
    }
    void ResetParameters(bool) override {}
    const char* GetFilterName() override { return "Test"; }

    struct FakeDialog : ov::pfPreview {
        bool Show(ov::pfFilter*, FilterRecord*, ov::pfParameterUIList&) override {
            shows++;
            return answer;
        }
        void Invalidate() override {}
        bool AlternativeColorSelection(FilterRecord*, double& r, double& g, double& b) override {
            colorAsks++;
            if (!colorAnswer) return false;
            r = 0.2, g = 0.4, b = 0.6;
            return true;
        }
        bool answer = true;
        bool colorAnswer = false;
        int shows = 0;
        int colorAsks = 0;
    } fakeDialog;

    ov::pfParameterFloat value;
    int renders = 0;
    int16_t renderStatus = 0;
    FilterRecord* renderedRecord = nullptr;
    int32_t renderedPreviewLevel = -1;
};

int16_t Call(TestFilter& f, int16_t selector, void* block) {
    int16_t result = 12345;
    intptr_t data = 0;
    f.DispatchSelector(selector, block, &data, &result);
    return result;
}

}  // namespace

// ---- the selector table ------------------------------------------------------------------

TEST(SelectorTable, EachSelectorRunsItsHandler) {
    struct Row {
        int16_t selector;
        int16_t expected;
    };
    const Row rows[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, -1}, {-3, -1}, {100, -1}};
    for (const Row& row : rows) {
        FakeHost host;
        TestFilter f;
        EXPECT_EQ(Call(f, row.selector, &host.rec), row.expected) << "selector " << row.selector;
        EXPECT_EQ(f.renders, row.selector == 3 ? 1 : 0) << "selector " << row.selector;
        // Suites are acquired and released around every call, known selector or not.
        EXPECT_EQ(host.acquired[PEL_BUFFER_SUITE_NAME], 1);
        EXPECT_EQ(host.acquired[PEL_HANDLE_SUITE_NAME], 1);
        EXPECT_EQ(host.released[PEL_BUFFER_SUITE_NAME], 1);
        EXPECT_EQ(host.released[PEL_HANDLE_SUITE_NAME], 1);
        EXPECT_EQ(f.GetFilterRecord(), &host.rec);
        EXPECT_EQ(ov::HostBasicSuite, &host.basic);
    }
}

TEST(SelectorTable, PrepareZeroesTheSpaces) {
    FakeHost host;
    TestFilter f;
    host.rec.maxSpace = 123456;
    host.rec.bufferSpace = 777;
    EXPECT_EQ(Call(f, filterSelectorPrepare, &host.rec), 0);
    EXPECT_EQ(host.rec.maxSpace, 0);
    EXPECT_EQ(host.rec.bufferSpace, 0);
}

TEST(SelectorTable, ParametersValidatesAndShowsNothing) {
    FakeHost host;
    TestFilter f;
    f.value.SetValue(50);  // above the hard maximum
    EXPECT_EQ(Call(f, filterSelectorParameters, &host.rec), 0);
    EXPECT_EQ(f.value.GetValue(), 10);
    EXPECT_EQ(f.fakeDialog.shows, 0);
    EXPECT_EQ(host.openReads + host.openWrites, 0);
}

#if !defined(_WIN32)  // the About box is modal on Windows
TEST(SelectorTable, AboutWithoutBasicSuiteAcquiresNothing) {
    FakeHost host;
    TestFilter f;
    AboutRecord about{};
    EXPECT_EQ(Call(f, filterSelectorAbout, &about), 0);
    EXPECT_TRUE(host.acquired.empty());
    EXPECT_TRUE(host.released.empty());
    EXPECT_EQ(ov::HostBasicSuite, nullptr);
}
#endif

// ---- suites --------------------------------------------------------------------------------

TEST(Suites, ReleasedOnlyWhenAcquired) {
    FakeHost host;
    TestFilter f;
    host.failBufferSuite = true;
    EXPECT_EQ(Call(f, filterSelectorContinue, &host.rec), 0);
    EXPECT_EQ(host.acquired[PEL_BUFFER_SUITE_NAME], 1);
    EXPECT_EQ(host.released[PEL_BUFFER_SUITE_NAME], 0);
    EXPECT_EQ(host.released[PEL_HANDLE_SUITE_NAME], 1);
    host.failBufferSuite = false;
    host.failHandleSuite = true;
    EXPECT_EQ(Call(f, filterSelectorContinue, &host.rec), 0);
    EXPECT_EQ(host.released[PEL_BUFFER_SUITE_NAME], 1);
    EXPECT_EQ(host.released[PEL_HANDLE_SUITE_NAME], 1);
}

TEST(Suites, BothPointersResetOnEveryCall) {
    FakeHost host;
    TestFilter f;
    EXPECT_EQ(Call(f, filterSelectorContinue, &host.rec), 0);
    // A later call from a host without a basic suite sees neither suite.
    host.rec.sSPBasic = nullptr;
    EXPECT_EQ(Call(f, filterSelectorContinue, &host.rec), 0);
    EXPECT_EQ(f.bufferSuite, nullptr);
    EXPECT_EQ(f.handleSuite, nullptr);
    EXPECT_EQ(ov::HostBasicSuite, nullptr);
    // Memory then comes from the heap.
    void* p = f.AllocateMemory(100);
    ASSERT_NE(p, nullptr);
    f.FreeMemory(p);
    EXPECT_EQ(host.bufferNews, 0);
}

// ---- the Start sequence ---------------------------------------------------------------------

TEST(Start, RendersOnceAndEmptiesTheRectangles) {
    FakeHost host;
    TestFilter f;
    f.previewLevel = 3;
    host.playback = {{ov::FourCC("VALU"), typeFloat, 7.5, 0, false}};
    EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), 0);
    EXPECT_EQ(f.renders, 1);
    EXPECT_EQ(f.renderedRecord, &host.rec);
    EXPECT_EQ(f.renderedPreviewLevel, 0);
    EXPECT_EQ(f.value.GetValue(), 7.5);              // read from the descriptor
    EXPECT_EQ(f.fakeDialog.shows, 0);                // playInfo 0: no dialog
    EXPECT_EQ(host.openReads, 1);
    EXPECT_EQ(host.closeWrites, 1);
    ASSERT_EQ(host.written.size(), 1u);
    EXPECT_EQ(host.written[0].key, ov::FourCC("VALU"));
    EXPECT_EQ(host.written[0].number, 7.5);
    EXPECT_EQ(host.advanceCalls, 1);
    ASSERT_EQ(host.progressCalls.size(), 1u);        // UpdateProgress(0, 1, false) after Render
    EXPECT_EQ(host.progressCalls[0], std::make_pair(0, 1));
    EXPECT_EQ(host.abortCalls, 1);
    EXPECT_TRUE(RectIsZero(host.rec.inRect));
    EXPECT_TRUE(RectIsZero(host.rec.outRect));
    EXPECT_TRUE(RectIsZero(host.rec.maskRect));
    // Continue then finds nothing to do.
    EXPECT_EQ(Call(f, filterSelectorContinue, &host.rec), 0);
}

TEST(Start, DialogWhenTheHostAsksForIt) {
    FakeHost host;
    TestFilter f;
    host.descriptor.playInfo = plugInDialogDisplay;
    EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), 0);
    EXPECT_EQ(f.fakeDialog.shows, 1);
    EXPECT_EQ(f.renders, 1);
}

TEST(Start, CancelledDialogWritesTheDescriptorAndRendersNothing) {
    FakeHost host;
    TestFilter f;
    host.descriptor.playInfo = plugInDialogDisplay;
    f.fakeDialog.answer = false;
    EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), -128);
    EXPECT_EQ(f.fakeDialog.shows, 1);
    EXPECT_EQ(host.openWrites, 1);
    EXPECT_EQ(host.closeWrites, 1);
    EXPECT_EQ(f.renders, 0);
    EXPECT_EQ(host.advanceCalls, 0);
    EXPECT_TRUE(RectIsZero(host.rec.inRect));
    EXPECT_TRUE(RectIsZero(host.rec.outRect));
    EXPECT_TRUE(RectIsZero(host.rec.maskRect));
}

#if !defined(_WIN32)  // the error box is modal on Windows
TEST(Start, WithoutProgressProcedureErrorBoxAndResultOne) {
    for (int which = 0; which < 2; ++which) {
        FakeHost host;
        TestFilter f;
        if (which == 0) host.rec.progressProc = nullptr;
        else host.rec.advanceState = nullptr;
        host.rec.inRect = {1, 2, 3, 4};
        host.rec.outRect = {1, 2, 3, 4};
        host.rec.maskRect = {1, 2, 3, 4};
        testing::internal::CaptureStderr();
        EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), 1);
        const std::string box = testing::internal::GetCapturedStderr();
        EXPECT_NE(box.find("Test"), std::string::npos);                      // the title
        EXPECT_NE(box.find("photoshop 3.0+ compatible host"), std::string::npos);
        EXPECT_EQ(f.renders, 0);
        EXPECT_EQ(host.openReads + host.openWrites, 0);                     // no descriptor read or written
        EXPECT_TRUE(RectIsZero(host.rec.inRect));
        EXPECT_TRUE(RectIsZero(host.rec.outRect));
        EXPECT_TRUE(RectIsZero(host.rec.maskRect));
    }
}
#endif

TEST(Start, AdvanceStateErrorIsPassedUp) {
    FakeHost host;
    TestFilter f;
    host.advanceError = -30000;
    EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), -30000);
    EXPECT_EQ(f.renders, 0);
    EXPECT_EQ(host.closeWrites, 1);
    EXPECT_TRUE(host.progressCalls.empty());
    EXPECT_TRUE(RectIsZero(host.rec.outRect));
}

TEST(Start, RenderStatusIsTheResult) {
    FakeHost host;
    TestFilter f;
    f.renderStatus = -108;
    EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), -108);
    EXPECT_EQ(host.progressCalls.size(), 1u);
    EXPECT_TRUE(RectIsZero(host.rec.inRect));
}

TEST(Start, HostAbortAfterTheRenderDoesNotChangeTheResult) {
    // UpdateProgress's answer is ignored by Start (step 6).
    FakeHost host;
    TestFilter f;
    host.abortAnswer = true;
    EXPECT_EQ(Call(f, filterSelectorStart, &host.rec), 0);
    EXPECT_EQ(f.renders, 1);
}

// ---- SetupFilterRecord -------------------------------------------------------------------------

TEST(SetupFilterRecord, ScaleZeroCountsAsOne) {
    FakeHost host(40, 30, 3);
    host.rec.inputPadding = host.rec.outputPadding = host.rec.maskPadding = -1;
    host.rec.wantsAbsolute = 1;
    EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 0), 0);
    const Rect whole{0, 0, 30, 40};
    for (const Rect& r : {host.rec.inRect, host.rec.outRect, host.rec.filterRect}) {
        EXPECT_EQ(r.top, whole.top);
        EXPECT_EQ(r.left, whole.left);
        EXPECT_EQ(r.bottom, whole.bottom);
        EXPECT_EQ(r.right, whole.right);
    }
    EXPECT_EQ(host.rec.inputRate, 65536);
    EXPECT_EQ(host.rec.maskRate, 65536);
    EXPECT_EQ(host.rec.inLoPlane, 0);
    EXPECT_EQ(host.rec.inHiPlane, 2);
    EXPECT_EQ(host.rec.outLoPlane, 0);
    EXPECT_EQ(host.rec.outHiPlane, 2);
    EXPECT_EQ(host.rec.inputPadding, 255);
    EXPECT_EQ(host.rec.outputPadding, 255);
    EXPECT_EQ(host.rec.maskPadding, 0);
    EXPECT_EQ(host.rec.wantsAbsolute, 0);
    EXPECT_EQ(host.advanceCalls, 1);
}

TEST(SetupFilterRecord, ScaleThreeOnAThousandBySevenHundred) {
    FakeHost host(1000, 700, 1);
    host.rec.filterRect = {10, 10, 20, 20};  // the host's selection bounds are replaced
    EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 3), 0);
    EXPECT_EQ(host.rec.inRect.right, 333);
    EXPECT_EQ(host.rec.inRect.bottom, 233);
    EXPECT_EQ(host.rec.outRect.right, 333);
    EXPECT_EQ(host.rec.filterRect.right, 1000);
    EXPECT_EQ(host.rec.filterRect.bottom, 700);
    EXPECT_EQ(host.rec.filterRect.top, 0);
    // The host samples image and selection alike: every third pixel, in 16.16.
    EXPECT_EQ(host.rec.inputRate, 196608);
    EXPECT_EQ(host.rec.maskRate, 196608);
}

TEST(SetupFilterRecord, MaskRectangleAndAutoMask) {
    struct Row {
        bool haveMask, floating;
        bool maskRectSet;
        uint8_t autoMask;
    };
    const Row rows[] = {{false, false, false, 1}, {true, false, true, 0}, {true, true, true, 1}};
    for (const Row& row : rows) {
        FakeHost host(16, 8, 3);
        host.rec.haveMask = row.haveMask;
        host.rec.isFloating = row.floating;
        host.rec.autoMask = 1;
        host.rec.maskRect = {7, 7, 7, 7};
        host.mask.assign(16 * 8, 255);
        EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 2), 0);
        EXPECT_EQ(host.rec.autoMask, row.autoMask);
        if (row.maskRectSet) {
            EXPECT_EQ(host.rec.maskRect.right, 8);
            EXPECT_EQ(host.rec.maskRect.bottom, 4);
        } else {
            EXPECT_EQ(host.rec.maskRect.right, 7);  // left as the host set it
        }
    }
}

TEST(SetupFilterRecord, AdvanceStateErrorIsTheResult) {
    FakeHost host;
    host.advanceError = memFullErr;
    EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), memFullErr);
}

TEST(HostRect, ScaleSetCopy) {
    Rect r{};
    ov::SetHostRect(r, 1, 2, 3, 4);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(r.right, 3);
    EXPECT_EQ(r.bottom, 4);
    Rect big{0, 0, 32767, 30000};
    ov::ScaleHostRect(big, 1, 7);
    EXPECT_EQ(big.bottom, 32767 / 7);
    EXPECT_EQ(big.right, 30000 / 7);
    Rect copy{};
    ov::CopyHostRect(copy, big);
    EXPECT_EQ(copy.right, big.right);
    EXPECT_EQ(copy.bottom, big.bottom);
}

// ---- scale accessors (mended) --------------------------------------------------------------------

TEST(ScaleFactor, RecoveredFromTheRecord) {
    struct Row {
        int width, height;
        uint32_t scale;
        int32_t x, y;
    };
    // 10 wide at scale 4: outRect width 2, answer 5 (the documented case); 1000x700 at 3: 3, 3;
    // mended: 3x3 at scale 4 leaves an empty outRect, answer the requested 4.
    const Row rows[] = {{10, 10, 4, 5, 5}, {1000, 700, 3, 3, 3}, {3, 3, 4, 4, 4}, {3, 100, 4, 4, 4}, {1, 1, 1, 1, 1}};
    for (const Row& row : rows) {
        FakeHost host(row.width, row.height, 1);
        TestFilter f;
        f.filterRecord = &host.rec;
        ASSERT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, row.scale), 0);
        EXPECT_EQ(f.GetScaleFactorX(), row.x) << row.width << "x" << row.height << " at " << row.scale;
        EXPECT_EQ(f.GetScaleFactorY(), row.y) << row.width << "x" << row.height << " at " << row.scale;
    }
}

TEST(ScaleFactor, PreviewLevel) {
    TestFilter f;
    EXPECT_EQ(f.GetPreviewLevel(), 0);
    f.SetPreviewLevel(2);
    EXPECT_EQ(f.GetPreviewLevel(), 2);
}

// ---- memory ----------------------------------------------------------------------------------------

TEST(Memory, ThroughTheBufferSuiteWhileACallRuns) {
    FakeHost host;
    TestFilter f;
    struct Probe : TestFilter {
        int16_t DoParametersSelector(FilterRecord*) override {
            block = AllocateMemory(1000);
            outOfMemory = AllocateMemory64(uint64_t(1) << 32);   // does not fit 32 bits
            FreeMemory(block);
            FreeMemory(nullptr);
            return 0;
        }
        void* block = nullptr;
        void* outOfMemory = reinterpret_cast<void*>(1);
    } probe;
    EXPECT_EQ(Call(probe, filterSelectorParameters, &host.rec), 0);
    EXPECT_NE(probe.block, nullptr);
    EXPECT_EQ(probe.outOfMemory, nullptr);
    EXPECT_EQ(host.bufferNews, 1);       // the 4 GiB request never reached the host
    EXPECT_EQ(host.bufferDisposes, 1);   // null is not handed to Dispose
    EXPECT_EQ(f.StatusOutOfMemory(), uint32_t(-108));
}

TEST(Memory, HostWithoutMemoryAnswersNull) {
    FakeHost host;
    host.bufferBudget = 100;
    struct Probe : TestFilter {
        int16_t DoParametersSelector(FilterRecord*) override {
            block = AllocateMemory(1000);
            return 0;
        }
        void* block = reinterpret_cast<void*>(1);
    } probe;
    EXPECT_EQ(Call(probe, filterSelectorParameters, &host.rec), 0);
    EXPECT_EQ(probe.block, nullptr);
}

TEST(Memory, SizesThatFitTheHost) {
    EXPECT_TRUE(ov::pfFilter::FitsHostSize(0xFFFFFFFFull));
    EXPECT_FALSE(ov::pfFilter::FitsHostSize(0x100000000ull));
    // A 40000 x 40000 RGBA float buffer computed in 64 bits is refused, not wrapped.
    const uint64_t size = uint64_t(40000) * 40000 * 16;
    TestFilter f;
    EXPECT_EQ(f.AllocateMemory64(size), nullptr);
}

TEST(Memory, FrameRange) {
    TestFilter f;
    double first = -1, last = -1;
    f.GetFrameRange(first, last);
    EXPECT_EQ(first, 0.0);
    EXPECT_EQ(last, 1.0);
}

// ---- UpdateProgress -------------------------------------------------------------------------------

TEST(UpdateProgress, HostAbortAnswersCancelled) {
    FakeHost host;
    TestFilter f;
    f.filterRecord = &host.rec;
    host.abortAnswer = true;
    EXPECT_EQ(f.UpdateProgress(0, 1, false), uint32_t(-128));
    ASSERT_EQ(host.progressCalls.size(), 1u);
    EXPECT_EQ(host.progressCalls[0], std::make_pair(0, 1));
    EXPECT_EQ(host.abortCalls, 1);
}

TEST(UpdateProgress, Cases) {
    struct Row {
        bool progressProc, abortProc, abortAnswer, silent;
        uint32_t expected;
        size_t progressCalls;
        int abortCalls;
    };
    const Row rows[] = {
        {true, true, false, false, 0, 1, 1},
        {true, true, true, true, 0, 0, 0},     // silent: nothing is called
        {true, false, false, false, 0, 1, 0},  // mended: no abort procedure, not aborted
        {false, false, false, false, 0, 0, 0},
        {false, true, true, false, uint32_t(-128), 0, 1},
    };
    for (const Row& row : rows) {
        FakeHost host;
        TestFilter f;
        f.filterRecord = &host.rec;
        if (!row.progressProc) host.rec.progressProc = nullptr;
        if (!row.abortProc) host.rec.abortProc = nullptr;
        host.abortAnswer = row.abortAnswer;
        EXPECT_EQ(f.UpdateProgress(3, 7, row.silent), row.expected);
        EXPECT_EQ(host.progressCalls.size(), row.progressCalls);
        EXPECT_EQ(host.abortCalls, row.abortCalls);
    }
}

TEST(UpdateProgress, StalePreviewRender) {
    FakeHost host;
    TestFilter f;
    f.filterRecord = &host.rec;
    host.abortAnswer = true;  // never asked on the dialog's path
    const uint32_t now = pel::platform::TickCount();
    ov::PreviewChanged = true;
    ov::LivePreview = true;
    ov::PreviewRenderTick = now - 100;
    EXPECT_EQ(f.UpdateProgress(0, 1, false), 0u);
    ov::PreviewRenderTick = now - 1000;
    EXPECT_EQ(f.UpdateProgress(0, 1, false), uint32_t(-128));
    ov::LivePreview = false;
    EXPECT_EQ(f.UpdateProgress(0, 1, false), 0u);
    ov::LivePreview = true;
    ov::PreviewChanged = false;
    EXPECT_EQ(f.UpdateProgress(0, 1, false), 0u);
    EXPECT_TRUE(host.progressCalls.empty());
    EXPECT_EQ(host.abortCalls, 0);
    ov::PreviewRenderTick = 0;
    ov::PreviewChanged = false;
}

// ---- RequestColor, controls -------------------------------------------------------------------------

TEST(RequestColor, HostPickerAndGrayCollapse) {
    static int16_t seenSpace = -99;
    struct Row {
        int16_t mode;
        int16_t space;
        bool collapsed;
    };
    for (const Row& row : {Row{plugInModeGrayScale, 4, true}, Row{plugInModeGray16, 4, false},
                           Row{plugInModeRGBColor, 0, false}}) {
        FakeHost host;
        TestFilter f;
        host.rec.imageMode = row.mode;
        host.rec.colorServices = [](ColorServicesInfo* info) -> OSErr {
            seenSpace = info->sourceSpace;
            EXPECT_EQ(info->infoSize, int32_t(sizeof(ColorServicesInfo)));
            EXPECT_EQ(info->colorComponents[0], 127);  // 0.5 * 255, truncated
            info->colorComponents[0] = 51, info->colorComponents[1] = 102, info->colorComponents[2] = 153;
            return 0;
        };
        double r = 0.5, g = 0.5, b = 0.5;
        EXPECT_TRUE(f.RequestColor(&host.rec, r, g, b));
        EXPECT_EQ(seenSpace, row.space);
        if (row.collapsed) {
            EXPECT_EQ(r, g);
            EXPECT_EQ(g, b);
            EXPECT_NEAR(r, 0.292687786 * 0.2 + 0.552149646 * 0.4 + 0.155162568 * 0.6, 1e-12);
        } else {
            EXPECT_DOUBLE_EQ(r, 51 / 255.0);
            EXPECT_DOUBLE_EQ(g, 102 / 255.0);
            EXPECT_DOUBLE_EQ(b, 153 / 255.0);
        }
    }
}

TEST(RequestColor, FallbackWhenTheHostHasNoPicker) {
    FakeHost host;
    TestFilter f;
    double r = 0.1, g = 0.1, b = 0.1;
    EXPECT_FALSE(f.RequestColor(&host.rec, r, g, b));   // cancelled: unchanged
    EXPECT_EQ(r, 0.1);
    f.fakeDialog.colorAnswer = true;
    EXPECT_TRUE(f.RequestColor(&host.rec, r, g, b));
    EXPECT_EQ(r, 0.2);
    EXPECT_EQ(b, 0.6);
    EXPECT_EQ(f.fakeDialog.colorAsks, 2);
}

TEST(Controls, GetControlBounds) {
    TestFilter f;
    ov::pfParameterUI a, b;
    f.controls.push_back(&a);
    f.controls.push_back(&b);
    EXPECT_EQ(f.GetControlCount(), 2);
    EXPECT_EQ(f.GetControl(-1), nullptr);
    EXPECT_EQ(f.GetControl(2), nullptr);
    EXPECT_EQ(f.GetControl(0), &a);
    EXPECT_EQ(f.GetControl(1), &b);
}

TEST(Identity, NamesAndDescriptionKept) {
    TestFilter f;
    EXPECT_EQ(f.GetPluginName(), "\xBBTest\xAB");
    EXPECT_EQ(f.GetDescription(), "A test filter.\n");
    EXPECT_EQ(f.CreateParameterList().Count(), 0u);
}
