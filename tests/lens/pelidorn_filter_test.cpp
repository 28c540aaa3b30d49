// ov::pfFilterPelidorn: the parameter table, defaults, limits, keys, flags,
// control bindings, view lists, control states, the callbacks and ResetParameters.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fake_host.h"
#include "host/undo.h"
#include "lens/lens_parameter_table.h"
#include "lens/pelidorn_filter.h"
#include "lens/settings_blocks.h"

using namespace ov::lens;

namespace {

std::unique_ptr<ov::pfFilterPelidorn> MakeFilter() {
    return std::make_unique<ov::pfFilterPelidorn>("\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5, "desc\n");
}

std::vector<std::string> Items(const ov::pfParameterList& list) {
    std::vector<std::string> v;
    for (int i = 0; i < list.GetItemCount(); ++i) v.push_back(list.GetItemText(i));
    return v;
}

const std::vector<std::string> kFull = {"normal blur",          "iris",         "depth buffer", "highlight selection",
                                        "highlight selection only", "info density", "sharp zone"};
const std::vector<std::string> kShort = {"normal blur", "iris", "highlight selection", "highlight selection only"};

}  // namespace

TEST(ParameterTable, RegistrationOrderNamesAndKeys) {
    auto f = MakeFilter();
    const char* names[] = {"Radius", "HighlightPreservative", "HighlightAdditive", "FocalPoint", "DepthInvert",
                           "SelectionIs", "Outside", "ColorOutside", "GammaCorrection", "DepthCurve", "IrisFacets",
                           "IrisAngle", "IrisRoundFacets", "IrisBorder", "IrisBorderBrightness", "IrisAspect",
                           "IrisSoftness", "Show", "HighlightSelectionLow", "HighlightSelectionHigh",
                           "HighlightSelectionSoften", "HighlightSelectionClimax", "ShowBasics", "ShowAdvanced"};
    ASSERT_EQ(f->parameters.GetCount(), 24);
    std::vector<uint32_t> keys;
    for (int i = 0; i < 24; ++i) {
        ov::pfParameter* p = f->parameters.GetParameter(i);
        EXPECT_EQ(p->GetName(), names[i]);
        uint32_t k[3] = {};
        p->GetScriptKeys(k);
        for (int j = 0; j < p->GetScriptKeyCount(); ++j) keys.push_back(k[j]);
    }
    const char* expected[] = {"RADI", "HIPR", "HIAD", "FOPO", "DEIN", "SEIS", "OUIM", "OUCR", "OUCG", "OUCB", "GACO",
                              "DECU", "IRFA", "IFAN", "IRRF", "IRBO", "IRBB", "IRAS", "IRSO", "SHOW", "SELL", "SELH",
                              "SELS", "SELC"};
    ASSERT_EQ(keys.size(), 24u);
    for (size_t i = 0; i < keys.size(); ++i) {
        char text[5] = {char(keys[i] >> 24), char(keys[i] >> 16), char(keys[i] >> 8), char(keys[i]), 0};
        EXPECT_STREQ(text, expected[i]);
    }
}

TEST(ParameterTable, DefaultsLimitsAndFlags) {
    auto f = MakeFilter();
    struct FloatRow {
        ov::pfParameterFloat* p;
        double value, min;
        bool minHard;
        double max;
        bool maxHard;
    };
    const FloatRow floats[] = {
        {&f->Radius, 5, 0, true, 50, false},
        {&f->HighlightPreservative, 5, 0, true, 20, false},
        {&f->HighlightAdditive, 0, 0, true, 20, false},
        {&f->FocalPoint, 255, 0, false, 255, false},
        {&f->DepthCurve, 1, 0, true, 3, false},
        {&f->IrisAngle, 0, 0, false, 1, false},  // no limits set: the kind's initial range
        {&f->IrisRoundFacets, 1, 0, true, 1, true},
        {&f->IrisBorder, 0.2, 0, true, 1, true},
        {&f->IrisBorderBrightness, 0, -1, true, 1, true},
        {&f->IrisAspect, 0, -0.75, true, 0.75, true},
        {&f->IrisSoftness, 0, 0, true, 200, false},
        {&f->HighlightSelectionLow, 200, 0, true, 255, true},
        {&f->HighlightSelectionHigh, 255, 0, true, 255, true},
        {&f->HighlightSelectionSoften, 0, 0, true, 3, false},
        {&f->HighlightSelectionClimax, 0, -1, true, 1, true},
    };
    for (const FloatRow& r : floats) {
        EXPECT_EQ(r.p->GetValue(), r.value) << r.p->GetName();
        EXPECT_EQ(r.p->GetMinimum(), r.min) << r.p->GetName();
        EXPECT_EQ(r.p->IsMinimumClamped(), r.minHard) << r.p->GetName();
        EXPECT_EQ(r.p->GetMaximum(), r.max) << r.p->GetName();
        EXPECT_EQ(r.p->IsMaximumClamped(), r.maxHard) << r.p->GetName();
        EXPECT_TRUE(r.p->IsSaved());
        EXPECT_TRUE(r.p->AffectsImage());
    }
    EXPECT_EQ(f->IrisFacets.GetValue(), 5);
    EXPECT_EQ(f->IrisFacets.GetMinimum(), 3);
    EXPECT_TRUE(f->IrisFacets.IsMinimumClamped());
    EXPECT_EQ(f->IrisFacets.GetMaximum(), 15);
    EXPECT_FALSE(f->IrisFacets.IsMaximumClamped());
    EXPECT_FALSE(f->DepthInvert.GetValue());
    EXPECT_TRUE(f->GammaCorrection.GetValue());
    EXPECT_EQ(f->SelectionIs.GetSelection(), 1);
    EXPECT_EQ(Items(f->SelectionIs), (std::vector<std::string>{"depth map", "iris"}));
    EXPECT_EQ(f->Outside.GetSelection(), 2);
    EXPECT_EQ(Items(f->Outside), (std::vector<std::string>{"border color", "mirror image", "repeat image", "color"}));
    double r, g, b;
    f->ColorOutside.GetColor(r, g, b);
    EXPECT_EQ(r + g + b, 3.0);
    EXPECT_EQ(f->Show.GetSelection(), 1);
    EXPECT_EQ(Items(f->Show), kFull);
    EXPECT_TRUE(f->ShowBasics.GetValue());
    EXPECT_FALSE(f->ShowAdvanced.GetValue());
    for (ov::pfParameter* p : {static_cast<ov::pfParameter*>(&f->ShowBasics), static_cast<ov::pfParameter*>(&f->ShowAdvanced)}) {
        EXPECT_FALSE(p->IsSaved());
        EXPECT_FALSE(p->AffectsImage());
        EXPECT_EQ(p->GetScriptKeyCount(), 0);
    }
    EXPECT_STREQ(f->GetFilterName(), "Pelidorn");
    EXPECT_EQ(f->name, "\xBBPelidorn\xAB");
}

TEST(ParameterTable, ControlsBoundWithTheirIds) {
    auto f = MakeFilter();
    struct Row {
        ParamId id;
        int main, trackbar, edit, label;
    };
    const Row rows[] = {
        {Radius, 1013, 1011, -1, -1},          {HighlightPreservative, 1049, 1048, -1, 1099},
        {HighlightAdditive, 1053, 1052, -1, 1086}, {FocalPoint, 1031, 1028, -1, 1087},
        {DepthInvert, 1079, -1, -1, -1},       {SelectionIs, 1019, -1, -1, 1083},
        {Outside, 1018, -1, -1, -1},           {ColorOutside, 1082, -1, -1, -1},
        {GammaCorrection, 1080, -1, -1, -1},   {DepthCurve, 1032, 1029, -1, 1088},
        {IrisFacets, 1036, 1035, -1, 1094},    {IrisAngle, 1081, -1, 1037, 1104},
        {IrisRoundFacets, 1039, 1038, -1, 1095}, {IrisBorder, 1043, 1042, -1, 1098},
        {IrisBorderBrightness, 1041, 1040, -1, 1097}, {IrisAspect, 1030, 1027, -1, 1096},
        {IrisSoftness, 1051, 1050, -1, 1089},  {Show, 1009, -1, -1, -1},
        {HighlightSelectionLow, 1014, 1012, -1, 1100}, {HighlightSelectionHigh, 1045, 1044, -1, 1101},
        {HighlightSelectionSoften, 1017, 1016, -1, 1102}, {HighlightSelectionClimax, 1047, 1046, -1, 1103},
        {ShowBasics, 1105, -1, -1, -1},        {ShowAdvanced, 1106, -1, -1, -1},
    };
    for (const Row& row : rows) {
        ov::pfParameterUI* c = f->ControlOf(row.id);
        EXPECT_EQ(c->GetControlId(), row.main);
        EXPECT_EQ(c->GetTrackbarId(), row.trackbar);
        EXPECT_EQ(c->GetEditId(), row.edit);
        EXPECT_EQ(c->GetLabelId(), row.label);
        EXPECT_EQ(c->GetParameter(), f->ParameterOf(row.id));
        EXPECT_EQ(f->ParameterOf(row.id)->GetUI(), c);
    }
    // The control list: registration order with GammaCorrection after DepthInvert.
    const ParamId order[] = {Radius, HighlightPreservative, HighlightAdditive, FocalPoint, DepthInvert,
                             GammaCorrection, SelectionIs, Outside, ColorOutside, DepthCurve, IrisFacets, IrisAngle,
                             IrisRoundFacets, IrisBorder, IrisBorderBrightness, IrisAspect, IrisSoftness, Show,
                             HighlightSelectionLow, HighlightSelectionHigh, HighlightSelectionSoften,
                             HighlightSelectionClimax, ShowBasics, ShowAdvanced};
    ASSERT_EQ(f->GetControlCount(), 24);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(f->GetControl(i), f->ControlOf(order[i])) << i;
}

TEST(ParameterTable, TerminologyCoversEveryKeyOnce) {
    std::vector<uint32_t> seen;
    for (const auto& t : kTerminology) {
        ASSERT_NE(SpecForKey(t.key), nullptr);
        for (uint32_t k : seen) EXPECT_NE(k, t.key);
        seen.push_back(t.key);
    }
    EXPECT_EQ(seen.size(), 24u);
    EXPECT_EQ(TerminologyType(Key("SHOW")), Key("long"));
    EXPECT_EQ(TerminologyType(Key("IRFA")), Key("long"));
    EXPECT_EQ(TerminologyType(Key("DEIN")), Key("bool"));
    EXPECT_EQ(TerminologyType(Key("OUCG")), Key("doub"));
}

TEST(Callbacks, RadiusCappedAtAThousand) {
    auto f = MakeFilter();
    f->Radius.SetValue(1500);
    EXPECT_EQ(f->Radius.GetValue(), 1000);
    f->Radius.SetValue(1000);
    EXPECT_EQ(f->Radius.GetValue(), 1000);
    f->Radius.SetValue(80);   // above the soft 50: kept
    f->parameters.ValidateAll();
    EXPECT_EQ(f->Radius.GetValue(), 80);
}

TEST(Callbacks, SelectionIsRebuildsTheViewList) {
    struct Row {
        int from, to, show, expectShow;
        bool full;
    };
    const Row rows[] = {{1, 2, 2, 2, false}, {1, 2, 3, 1, false}, {1, 2, 7, 1, false},
                        {2, 1, 4, 1, true},  {2, 1, 2, 2, true},  {2, 1, 1, 1, true}};
    for (const Row& row : rows) {
        auto f = MakeFilter();
        f->SelectionIs.Select(row.from);
        f->Show.Select(row.show);
        f->SelectionIs.Select(row.to);
        EXPECT_EQ(f->Show.GetSelection(), row.expectShow) << row.from << "->" << row.to << " show " << row.show;
        EXPECT_EQ(Items(f->Show), row.full ? kFull : kShort);
    }
}

TEST(Callbacks, SameListKeepsTheView) {
    // Deviation (pelidorn_filter.h): validation re-runs the SelectionIs callback; a view from 3
    // on survives it while the list does not change.
    auto f = MakeFilter();
    f->Show.Select(4);
    f->parameters.ValidateAll();
    EXPECT_EQ(f->Show.GetSelection(), 4);
    EXPECT_EQ(Items(f->Show), kFull);
    f->SelectionIs.Select(2);   // the list changes: back to 1
    EXPECT_EQ(f->Show.GetSelection(), 1);
    f->Show.Select(3);
    f->parameters.ValidateAll();
    EXPECT_EQ(f->Show.GetSelection(), 3);
    EXPECT_EQ(Items(f->Show), kShort);
}

TEST(Callbacks, PagesStayOpposite) {
    auto f = MakeFilter();
    f->ShowAdvanced.SetValue(true);
    EXPECT_FALSE(f->ShowBasics.GetValue());
    for (ParamId id : kIrisPage) EXPECT_FALSE(f->ControlOf(id)->IsVisible());
    for (ParamId id : kHighlightsPage) EXPECT_TRUE(f->ControlOf(id)->IsVisible());
    f->ShowBasics.SetValue(true);
    EXPECT_FALSE(f->ShowAdvanced.GetValue());
    for (ParamId id : kIrisPage) EXPECT_TRUE(f->ControlOf(id)->IsVisible());
    for (ParamId id : kHighlightsPage) EXPECT_FALSE(f->ControlOf(id)->IsVisible());
    f->ShowBasics.SetValue(true);  // the value it has: the other stays
    EXPECT_FALSE(f->ShowAdvanced.GetValue());
}

TEST(ControlStates, DepthMapModeAndTheIrisShape) {
    struct Row {
        bool mask;
        int selectionIs;
        bool depthControls, irisShape;
    };
    const Row rows[] = {{false, 1, false, true}, {true, 1, true, true}, {true, 2, false, false}, {false, 2, false, false}};
    for (const Row& row : rows) {
        auto f = MakeFilter();
        lens_test::FakeHost host;
        uint8_t maskByte = 255;
        host.rec.maskData = row.mask ? &maskByte : nullptr;
        f->filterRecord = &host.rec;
        f->SelectionIs.Select(row.selectionIs);  // runs UpdateControlStates
        EXPECT_EQ(f->IsDepthMapMode(), row.depthControls);
        EXPECT_EQ(f->FocalPointUI.IsEnabled(), row.depthControls);
        EXPECT_EQ(f->DepthInvertUI.IsEnabled(), row.depthControls);
        EXPECT_EQ(f->DepthCurveUI.IsEnabled(), row.depthControls);
        EXPECT_EQ(f->HighlightAdditiveUI.IsEnabled(), !row.depthControls);
        EXPECT_EQ(f->IrisSoftnessUI.IsEnabled(), !row.depthControls);
        for (ParamId id : kIrisShape) EXPECT_EQ(f->ControlOf(id)->IsEnabled(), row.irisShape);
        f->filterRecord = nullptr;
    }
}

TEST(AdaptToHostMask, WithoutASelection) {
    auto f = MakeFilter();
    lens_test::FakeHost host;
    f->SelectionIs.Select(2);
    f->Show.Select(2);
    f->AdaptToHostMask(&host.rec);
    EXPECT_EQ(f->SelectionIs.GetSelection(), 1);
    EXPECT_FALSE(f->SelectionIsUI.IsEnabled());
    EXPECT_EQ(Items(f->Show), kShort);
    EXPECT_EQ(f->Show.GetSelection(), 1);
    EXPECT_FALSE(f->FocalPointUI.IsEnabled());
    EXPECT_FALSE(f->DepthInvertUI.IsEnabled());
    EXPECT_FALSE(f->DepthCurveUI.IsEnabled());
    EXPECT_TRUE(f->HighlightAdditiveUI.IsEnabled());
    EXPECT_TRUE(f->IrisSoftnessUI.IsEnabled());
}

TEST(AdaptToHostMask, WithASelection) {
    for (int selectionIs : {1, 2}) {
        auto f = MakeFilter();
        lens_test::FakeHost host;
        uint8_t maskByte = 255;
        host.rec.maskData = &maskByte;
        f->filterRecord = &host.rec;
        f->SelectionIs.Select(selectionIs);
        f->Show.Select(2);
        f->AdaptToHostMask(&host.rec);
        EXPECT_TRUE(f->SelectionIsUI.IsEnabled());
        EXPECT_EQ(Items(f->Show), selectionIs == 1 ? kFull : kShort);
        EXPECT_EQ(f->Show.GetSelection(), 1);
        EXPECT_EQ(f->FocalPointUI.IsEnabled(), selectionIs == 1);
        EXPECT_EQ(f->HighlightAdditiveUI.IsEnabled(), selectionIs != 1);
        EXPECT_EQ(f->IrisSoftnessUI.IsEnabled(), selectionIs != 1);
        if (selectionIs == 2) {
            for (ParamId id : kIrisShape) EXPECT_FALSE(f->ControlOf(id)->IsEnabled());
        }
        f->filterRecord = nullptr;
    }
}

TEST(ResetParameters, DefaultsWithClimaxOneAndUndoRecords) {
    auto f = MakeFilter();
    f->undo.SetRecording(true);
    EXPECT_EQ(f->HighlightSelectionClimax.GetValue(), 0.0);
    f->Radius.SetValue(30);
    f->IrisFacets.SetValue(9);
    f->ColorOutside.SetColor(0.1, 0.2, 0.3);
    f->SelectionIs.Select(2);
    f->Show.Select(4);
    f->ShowAdvanced.SetValue(true);
    const int32_t before = f->undo.Cursor();
    f->ResetParameters(true);
    EXPECT_EQ(f->undo.Cursor() - before, 22);
    EXPECT_EQ(f->Radius.GetValue(), 5);
    EXPECT_EQ(f->IrisFacets.GetValue(), 5);
    double r, g, b;
    f->ColorOutside.GetColor(r, g, b);
    EXPECT_EQ(r + g + b, 3.0);
    EXPECT_EQ(f->SelectionIs.GetSelection(), 1);
    EXPECT_EQ(f->Show.GetSelection(), 1);
    EXPECT_EQ(Items(f->Show), kFull);  // the callback does not look at the mask
    EXPECT_EQ(f->HighlightSelectionClimax.GetValue(), 1.0);
    EXPECT_FALSE(f->ShowBasics.GetValue());  // the page state is left alone
    EXPECT_TRUE(f->ShowAdvanced.GetValue());
    // Undo brings the values back.
    EXPECT_TRUE(f->undo.Undo());
    EXPECT_EQ(f->Radius.GetValue(), 30);
    EXPECT_EQ(f->IrisFacets.GetValue(), 9);
}

TEST(ResetParameters, WithoutUndoRecordsNothing) {
    auto f = MakeFilter();
    f->undo.SetRecording(true);
    f->ResetParameters(false);
    EXPECT_EQ(f->undo.Cursor(), 0);
    EXPECT_EQ(f->HighlightSelectionClimax.GetValue(), 1.0);
}

// ---- the chosen view reaches the render --------------------------------------------------------

namespace {

// Plays the user in the dialog: the panel opens (AdaptToHostMask), the user picks `view`
// (0: leaves Show alone) and presses OK.
struct ViewPickingDialog : ov::pfPreview {
    explicit ViewPickingDialog(int32_t v) : view(v) {}
    bool Show(ov::pfFilter* filter, FilterRecord* record, ov::pfParameterUIList&) override {
        auto* f = static_cast<ov::pfFilterPelidorn*>(filter);
        // As the panel does: the record is set up for the preview before the panel adapts.
        EXPECT_EQ(ov::pfFilter::SetupFilterRecord(record, 1), 0);
        f->AdaptToHostMask(record);
        if (view) f->Show.Select(view);
        return true;
    }
    void Invalidate() override {}
    bool AlternativeColorSelection(FilterRecord*, double&, double&, double&) override { return false; }
    int32_t view;
};

// A small document without a selection: a dim ramp with one bright pixel, so that the blur,
// the highlight selection and the highlight selection alone all look different.
void FillDocument(lens_test::FakeHost& host) {
    for (size_t i = 0; i < host.in.size(); ++i) host.in[i] = uint8_t(40 + (i * 7) % 90);
    for (int p = 0; p < 3; ++p) host.in[(2 * 8 + 3) * 3 + size_t(p)] = 255;
}

int16_t Start(ov::pfFilterPelidorn& f, lens_test::FakeHost& host) {
    int16_t result = 12345;
    intptr_t data = 0;
    f.DispatchSelector(filterSelectorStart, &host.rec, &data, &result);
    return result;
}

// The reference: the document rendered with `view` set on the short list just before the
// render, past every validation.
std::vector<uint8_t> RenderedWithView(int32_t view) {
    auto f = MakeFilter();
    lens_test::FakeHost host;
    FillDocument(host);
    EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    f->filterRecord = &host.rec;
    f->AdaptToHostMask(&host.rec);
    f->Show.Select(view);
    EXPECT_EQ(f->Show.GetSelection(), view);
    EXPECT_EQ(f->Render(&host.rec), 0);
    return host.out;
}

}  // namespace

TEST(ShowView, ChosenViewSurvivesValidationOnADocumentWithoutSelection) {
    // Both roads into Start: the dialog (the panel opens with the short list, the user picks
    // the view, Start validates and renders) and the scripted step played back after a dialog
    // session left the short list in Show.
    const std::vector<uint8_t> blur = RenderedWithView(1);
    struct Row {
        bool dialog;
        int32_t view;
    };
    for (const Row row : {Row{true, 3}, Row{true, 4}, Row{false, 3}, Row{false, 4}}) {
        SCOPED_TRACE(std::string(row.dialog ? "dialog" : "scripted") + ", view " + std::to_string(row.view));
        const std::vector<uint8_t> expected = RenderedWithView(row.view);  // one FakeHost at a time
        EXPECT_NE(expected, blur);  // the view is visible in the pixels
        auto f = MakeFilter();
        ViewPickingDialog panel(row.dialog ? row.view : 0);
        f->dialog = &panel;
        lens_test::FakeHost host;
        FillDocument(host);
        if (row.dialog) {
            host.descriptor.playInfo = plugInDialogDisplay;
        } else {
            host.descriptor.playInfo = plugInDialogDisplay;  // an earlier session with the panel
            ASSERT_EQ(Start(*f, host), 0);
            FillDocument(host);
            host.out.assign(host.out.size(), 0);
            host.descriptor.playInfo = plugInDialogDontDisplay;
            host.playback = {{ov::FourCC("SHOW"), typeInteger, 0, row.view, false}};
        }
        ASSERT_EQ(Start(*f, host), 0);
        EXPECT_EQ(f->Show.GetSelection(), row.view);
        EXPECT_EQ(host.out, expected);
    }
}

// ---- a recorded view plays back on any document, whatever ran before ------------------------

namespace {

// A document of the session: the dim ramp, with or without a selection (a ramp too, so that
// the depth map and the iris image are not flat). Its highlight is tinted, so that the
// highlight selection (the source times the weight) differs from the selection alone (the
// weight as grey).
void OpenDocument(lens_test::FakeHost& host, bool selection) {
    FillDocument(host);
    const uint8_t tint[3] = {255, 235, 215};
    for (int p = 0; p < 3; ++p) host.in[(2 * 8 + 3) * 3 + size_t(p)] = tint[p];
    host.rec.haveMask = selection;
    if (selection) {
        host.mask.resize(size_t(host.rec.imageSize.h) * size_t(host.rec.imageSize.v));
        for (size_t i = 0; i < host.mask.size(); ++i) host.mask[i] = uint8_t(30 + i * 4);
    }
}

struct Rendered {
    std::string name;  // the view's text; empty when the document's list has no such index
    int16_t status = 0;
    std::vector<uint8_t> pixels;
};

// The reference: the dialog's road on a fresh filter. The record is set up, the panel opens
// on it (AdaptToHostMask installs this document's list), the view is picked and rendered.
Rendered DialogReference(bool selection, int32_t selectionIs, int32_t view) {
    auto f = MakeFilter();
    lens_test::FakeHost host;
    OpenDocument(host, selection);
    EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    f->filterRecord = &host.rec;
    f->SelectionIs.Select(selectionIs);
    f->AdaptToHostMask(&host.rec);
    Rendered r;
    f->Show.Select(view);
    if (f->Show.GetSelection() != view) return r;
    r.name = f->Show.GetItemText(view - 1);
    r.status = f->Render(&host.rec);
    r.pixels = host.out;
    return r;
}

// One Start of the session's filter on a new document. Scripted: the descriptor holds
// SelectionIs (0: absent) and Show. Dialog: the descriptor holds SelectionIs, the panel opens
// and the user picks `show`.
struct Step {
    bool selection;
    int32_t seis;
    int32_t show;
    bool dialog = false;
    bool showFirst = false;  // Show ahead of SelectionIs in the descriptor
};

struct Played {
    Rendered rendered;
    int32_t dispatchedView = 0;
    int32_t writtenShow = 0, writtenSeis = 0;
};

Played Play(ov::pfFilterPelidorn& f, const Step& step) {
    ViewPickingDialog panel(step.show);
    f.dialog = &panel;
    lens_test::FakeHost host;
    OpenDocument(host, step.selection);
    host.descriptor.playInfo = step.dialog ? plugInDialogDisplay : plugInDialogDontDisplay;
    if (step.seis) host.playback.push_back({ov::FourCC("SEIS"), typeInteger, 0, step.seis, false});
    if (!step.dialog) {
        const lens_test::DescriptorValue show{ov::FourCC("SHOW"), typeInteger, 0, step.show, false};
        host.playback.insert(step.showFirst ? host.playback.begin() : host.playback.end(), show);
    }
    Played p;
    p.rendered.status = Start(f, host);
    p.rendered.pixels = host.out;
    p.rendered.name = f.Show.GetItemText(f.Show.GetSelection() - 1);
    // The view the render dispatch hands its engine (nothing changes Show after the render).
    p.dispatchedView = f.IsDepthMapMode() ? ov::MakeDepthOfFieldParams(f, 8, 6).view
                                          : ov::MakeOutOfFocusParams(f, 8, 6).view;
    for (const lens_test::DescriptorValue& w : host.written) {
        if (w.key == ov::FourCC("SHOW")) p.writtenShow = w.integer;
        if (w.key == ov::FourCC("SEIS")) p.writtenSeis = w.integer;
    }
    f.filterRecord = nullptr;  // the record goes with its host
    f.dialog = &f.preview;
    return p;
}

}  // namespace

TEST(ShowView, RecordedViewPlaysBackWhateverDocumentRanBefore) {
    // Every view of each kind of document, reached on the dialog's road by a fresh filter.
    std::map<std::tuple<bool, int32_t, int32_t>, Rendered> reference;
    for (bool selection : {false, true})
        for (int32_t seis : {1, 2})
            for (int32_t view = 1; view <= 7; ++view)
                reference[std::make_tuple(selection, seis, view)] = DialogReference(selection, seis, view);
    auto ref = [&](bool selection, int32_t seis, int32_t view) -> const Rendered& {
        return reference.at(std::make_tuple(selection, seis, view));
    };
    // The pixels tell the four views of the out-of-focus documents apart.
    for (bool selection : {false, true})
        for (int32_t a = 1; a <= 4; ++a)
            for (int32_t b = a + 1; b <= 4; ++b)
                EXPECT_NE(ref(selection, 2, a).pixels, ref(selection, 2, b).pixels) << selection << ": " << a << " " << b;
    // Those of the depth-map document that render pixels (its blur views may answer that the
    // engine cannot blur yet, with the destination untouched).
    const int32_t depthViews[] = {2, 3, 4, 5, 7};
    for (int32_t a : depthViews)
        for (int32_t b : depthViews)
            if (a < b) {
                EXPECT_NE(ref(true, 1, a).pixels, ref(true, 1, b).pixels) << "depth map: " << a << " " << b;
            }
    EXPECT_EQ(ref(true, 1, 5).name, "highlight selection only");
    EXPECT_EQ(ref(false, 1, 3).name, "highlight selection");
    EXPECT_EQ(ref(false, 1, 5).name, "");

    // What ran before in the session: nothing (the constructor's list), a document without a
    // selection, a depth map, a selection as iris, and two-document histories.
    const std::vector<std::vector<Step>> histories = {
        {},
        {{false, 1, 4}},
        {{true, 1, 7}},
        {{true, 2, 4}},
        {{true, 1, 6}, {false, 1, 3}},
        {{true, 2, 3}, {true, 1, 5}},
        {{true, 2, 4, true}},
        {{true, 1, 7, true}, {false, 1, 4, true}},
    };
    int checked = 0;
    for (size_t h = 0; h < histories.size(); ++h) {
        for (bool selection : {false, true}) {
            for (int32_t seis : {0, 1, 2}) {
                for (bool dialog : {false, true}) {
                    if (dialog && seis == 0) continue;
                    for (int32_t show = 1; show <= 7; ++show) {
                        auto f = MakeFilter();
                        std::vector<Step> steps = histories[h];
                        steps.push_back({selection, seis, show, dialog});
                        for (size_t i = 0; i < steps.size(); ++i) {
                            const Step& step = steps[i];
                            // SelectionIs after the step: the descriptor's, else the session's;
                            // the panel on a document without a selection sets 1.
                            int32_t seisAfter = step.seis ? step.seis : f->SelectionIs.GetSelection();
                            if (step.dialog && !step.selection) seisAfter = 1;
                            const Rendered& expected = ref(step.selection, seisAfter, step.show);
                            if (expected.name.empty()) break;  // a view this document does not have
                            SCOPED_TRACE("history " + std::to_string(h) + ", step " + std::to_string(i) +
                                         (step.selection ? ", selection" : ", no selection") + ", SEIS " +
                                         std::to_string(step.seis) + ", SHOW " + std::to_string(step.show) +
                                         (step.dialog ? ", dialog" : ", scripted"));
                            const Played p = Play(*f, step);
                            EXPECT_EQ(p.rendered.name, expected.name);
                            EXPECT_EQ(p.dispatchedView, step.show);
                            EXPECT_EQ(p.rendered.status, expected.status);
                            EXPECT_EQ(p.rendered.pixels, expected.pixels);
                            EXPECT_EQ(p.writtenShow, step.show);
                            EXPECT_EQ(p.writtenSeis, seisAfter);
                            if (i + 1 == steps.size()) ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 0);
}

TEST(ShowView, SelectionIsAfterShowKeepsOnlyTheViewsBothListsShare) {
    // A descriptor that holds Show ahead of SelectionIs, played on a document whose selection
    // is the iris after a depth-map document: Show is read on the full list, then SelectionIs
    // 2 brings the short list in. "normal blur" and "iris" mean the same in both and stay;
    // from 3 on the index names another view, so the view falls back to "normal blur".
    struct Row {
        int32_t show;
        const char* view;
    };
    for (const Row row : {Row{1, "normal blur"}, Row{2, "iris"}, Row{3, "normal blur"}, Row{5, "normal blur"}}) {
        SCOPED_TRACE(row.show);
        auto f = MakeFilter();
        Play(*f, {true, 1, 7});
        const Played p = Play(*f, {true, 2, row.show, false, true});
        EXPECT_EQ(p.rendered.name, row.view);
        EXPECT_EQ(f->Show.GetItemText(p.writtenShow - 1), row.view);
        EXPECT_EQ(p.writtenSeis, 2);
        EXPECT_EQ(p.rendered.status, 0);
    }
}
