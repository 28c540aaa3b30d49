// ov::pfFilterPelidorn. Every parameter is configured from kParams; the
// constructor's numbered steps follow its documented construction order.
#include "lens/pelidorn_filter.h"

#include "core/logger.h"
#include "host/undo.h"
#include "lens/render_template.h"

namespace ov {

using namespace lens;

pfFilterPelidorn::pfFilterPelidorn(std::string name_, std::string maker_, uint32_t major, uint32_t minor,
                                   uint32_t revision, std::string description_)
    : pfFilter(std::move(name_), std::move(maker_), major, minor, revision, std::move(description_)) {
    // 2.
    LogTrace("pfFilterPelidorn::pfFilterPelidorn()\n");
    LogScope scope;
    parameterById = {&Show, &Radius, &HighlightPreservative, &HighlightAdditive, &FocalPoint, &DepthInvert,
                     &GammaCorrection, &DepthCurve, &SelectionIs, &Outside, &ColorOutside, &IrisFacets, &IrisAngle,
                     &IrisRoundFacets, &IrisBorder, &IrisBorderBrightness, &IrisAspect, &IrisSoftness,
                     &HighlightSelectionLow, &HighlightSelectionHigh, &HighlightSelectionSoften,
                     &HighlightSelectionClimax, &ShowBasics, &ShowAdvanced};
    controlById = {&ShowUI, &RadiusUI, &HighlightPreservativeUI, &HighlightAdditiveUI, &FocalPointUI,
                   &DepthInvertUI, &GammaCorrectionUI, &DepthCurveUI, &SelectionIsUI, &OutsideUI, &ColorOutsideUI,
                   &IrisFacetsUI, &IrisAngleUI, &IrisRoundFacetsUI, &IrisBorderUI, &IrisBorderBrightnessUI,
                   &IrisAspectUI, &IrisSoftnessUI, &HighlightSelectionLowUI, &HighlightSelectionHighUI,
                   &HighlightSelectionSoftenUI, &HighlightSelectionClimaxUI, &ShowBasicsUI, &ShowAdvancedUI};

    // 3. Dialog ids.
    for (const ParamSpec& p : kParams) {
        pfParameterUI* c = controlById[p.id];
        c->SetControlId(p.mainId);
        if (p.secondId != kNoId) {
            if (p.control == Control::Angle) c->SetEditId(p.secondId);
            else c->SetTrackbarId(p.secondId);
        }
        if (p.labelId != kNoId) c->SetLabelId(p.labelId);
    }

    // 4. Name, items and selection, value, limits, keys, flags; the callback last, so no
    //    callback runs while the parameters are configured.
    for (const ParamSpec& p : kParams) {
        pfParameter* parameter = parameterById[p.id];
        parameter->SetName(p.name);
        switch (p.kind) {
            case Kind::Float: {
                auto* f = static_cast<pfParameterFloat*>(parameter);
                f->SetValue(p.value);
                f->SetDefault(p.value);
                if (p.minimum.set) f->SetMinimum(p.minimum.value, p.minimum.hard);
                if (p.maximum.set) f->SetMaximum(p.maximum.value, p.maximum.hard);
                f->SetScriptKey(p.keys[0]);
                break;
            }
            case Kind::Int: {
                auto* i = static_cast<pfParameterInt*>(parameter);
                i->SetValue(int32_t(p.value));
                if (p.minimum.set) i->SetMinimum(int32_t(p.minimum.value), p.minimum.hard);
                if (p.maximum.set) i->SetMaximum(int32_t(p.maximum.value), p.maximum.hard);
                i->SetScriptKey(p.keys[0]);
                break;
            }
            case Kind::Bool: {
                auto* b = static_cast<pfParameterBool*>(parameter);
                b->SetValue(p.value != 0);
                b->SetScriptKey(p.keys[0]);
                break;
            }
            case Kind::List: {
                auto* l = static_cast<pfParameterList*>(parameter);
                if (p.id == lens::SelectionIs)
                    for (const char* item : kSelectionIsItems) l->AddItem(item);
                else if (p.id == lens::Outside)
                    for (const char* item : kOutsideItems) l->AddItem(item);
                else
                    for (const char* item : kFullViewList) l->AddItem(item);
                l->Select(int32_t(p.value));
                l->SetScriptKey(p.keys[0]);
                break;
            }
            case Kind::RGB: {
                auto* c = static_cast<pfParameterRGB*>(parameter);
                c->SetColor(p.value, p.value, p.value);
                c->SetScriptKey(p.keys[0], p.keys[1], p.keys[2]);
                break;
            }
        }
        if (!p.saved) {
            parameter->SetSaved(false);
            parameter->SetAffectsImage(false);
        }
        switch (p.callback) {
            case Callback::Radius: parameter->SetChangeCallback(OnRadiusChanged, this); break;
            case Callback::SelectionIs: parameter->SetChangeCallback(OnSelectionIsChanged, this); break;
            case Callback::ShowBasics: parameter->SetChangeCallback(OnShowBasicsChanged, this); break;
            case Callback::ShowAdvanced: parameter->SetChangeCallback(OnShowAdvancedChanged, this); break;
            case Callback::None: break;
        }
    }

    // 5. Controls and parameters linked both ways.
    for (int id = 0; id < kParamCount; ++id) controlById[id]->AttachParameter(parameterById[id]);
    // 6. The control list.
    for (ParamId id : kControlOrder) controls.push_back(controlById[id]);
    // 7. The parameter set, in registration order.
    for (const ParamSpec& p : kParams) parameters.Add(parameterById[p.id]);
    // 8.
    parameters.ValidateAll();
    UpdateControlStates();
}

pfFilterPelidorn::~pfFilterPelidorn() {
    // The controls go before the parameters (reverse member order); unlink them first so that
    // neither side is left pointing at the other.
    for (int id = 0; id < kParamCount; ++id) controlById[id]->DetachParameter();
}

int16_t pfFilterPelidorn::Render(FilterRecord* record) { return SelectRenderTemplate(this, record); }

bool pfFilterPelidorn::IsDepthMapMode() const {
    return SelectionIs.GetSelection() == 1 && filterRecord != nullptr && filterRecord->maskData != nullptr;
}

void pfFilterPelidorn::UpdateControlStates() {
    // 1. Pages.
    const bool basics = ShowBasics.GetValue();
    for (ParamId id : kIrisPage) controlById[id]->SetVisible(basics);
    for (ParamId id : kHighlightsPage) controlById[id]->SetVisible(!basics);
    // 2. The depth-map controls.
    const bool depth = IsDepthMapMode();
    HighlightAdditiveUI.SetEnabled(!depth);
    IrisSoftnessUI.SetEnabled(!depth);
    FocalPointUI.SetEnabled(depth);
    DepthInvertUI.SetEnabled(depth);
    DepthCurveUI.SetEnabled(depth);
    // 3. The iris shape applies when the selection is not the iris.
    const bool drawnIris = SelectionIs.GetSelection() == 1;
    for (ParamId id : kIrisShape) controlById[id]->SetEnabled(drawnIris);
}

void pfFilterPelidorn::FillShowList(bool full) {
    Show.ClearItems();
    if (full)
        for (const char* item : kFullViewList) Show.AddItem(item);
    else
        for (const char* item : kShortViewList) Show.AddItem(item);
}

void pfFilterPelidorn::ReplaceShowList(bool full) {
    const int32_t remembered = Show.GetSelection();
    FillShowList(full);
    Show.Select(1);
    if (remembered == 1 || remembered == 2) Show.Select(remembered);
}

bool pfFilterPelidorn::RenderReadsFullList(const FilterRecord* record) const {
    const bool selection = record != nullptr && (record->maskData != nullptr || record->haveMask != 0);
    return SelectionIs.GetSelection() == 1 && selection;
}

void pfFilterPelidorn::PrepareScriptRead(FilterRecord* record) {
    const bool full = RenderReadsFullList(record);
    if (ShowHoldsList(full)) return;
    ReplaceShowList(full);
    Show.UpdateUI();
}

void pfFilterPelidorn::AdaptToHostMask(FilterRecord* record) {
    const bool mask = record != nullptr && record->maskData != nullptr;
    bool full;
    if (mask) {
        full = SelectionIs.GetSelection() == 1;
        SelectionIsUI.SetEnabled(true);
    } else {
        SelectionIs.Select(1);
        SelectionIsUI.SetEnabled(false);
        full = false;
    }
    FillShowList(full);
    Show.Select(1);
    Show.UpdateUI();
    const bool depth = mask && SelectionIs.GetSelection() == 1;
    HighlightAdditiveUI.SetEnabled(!depth);
    IrisSoftnessUI.SetEnabled(!depth);
    FocalPointUI.SetEnabled(depth);
    DepthInvertUI.SetEnabled(depth);
    DepthCurveUI.SetEnabled(depth);
}

void pfFilterPelidorn::OnRadiusChanged(pfParameter*, void* context) {
    auto* f = static_cast<pfFilterPelidorn*>(context);
    if (f->Radius.GetValue() > 1000.0) f->Radius.SetValue(1000.0);
}

bool pfFilterPelidorn::ShowHoldsList(bool full) const {
    const int32_t n = full ? int32_t(kFullViewList.size()) : int32_t(kShortViewList.size());
    if (Show.GetItemCount() != n) return false;
    for (int32_t i = 0; i < n; ++i)
        if (Show.GetItemText(i) != (full ? kFullViewList[size_t(i)] : kShortViewList[size_t(i)])) return false;
    return true;
}

void pfFilterPelidorn::OnSelectionIsChanged(pfParameter*, void* context) {
    auto* f = static_cast<pfFilterPelidorn*>(context);
    const bool full = f->SelectionIs.GetSelection() == 1;
    // A view from 3 on falls back to 1 only when the list really changes (see the header):
    // not when Show holds the list this callback installs, nor the list the render reads by.
    const bool keep =
        f->ShowHoldsList(full) || (f->filterRecord && f->ShowHoldsList(f->RenderReadsFullList(f->filterRecord)));
    if (!keep) f->ReplaceShowList(full);
    f->Show.UpdateUI();
    f->UpdateControlStates();
}

void pfFilterPelidorn::OnShowBasicsChanged(pfParameter*, void* context) {
    auto* f = static_cast<pfFilterPelidorn*>(context);
    if (f->ShowAdvanced.GetValue() == !f->ShowBasics.GetValue()) f->UpdateControlStates();
    else f->ShowAdvanced.SetValue(!f->ShowBasics.GetValue());
}

void pfFilterPelidorn::OnShowAdvancedChanged(pfParameter*, void* context) {
    auto* f = static_cast<pfFilterPelidorn*>(context);
    if (f->ShowBasics.GetValue() == !f->ShowAdvanced.GetValue()) f->UpdateControlStates();
    else f->ShowBasics.SetValue(!f->ShowAdvanced.GetValue());
}

void pfFilterPelidorn::ResetParameters(bool withUndo) {
    // 1. One undo record per parameter, whether or not its value will change.
    if (withUndo)
        for (ParamId id : kResetOrder) undo.Push(parameterById[id]->CreateUndo());
    // 2. The values, in the same order.
    for (ParamId id : kResetOrder) {
        const ParamSpec& p = Spec(id);
        pfParameter* parameter = parameterById[id];
        switch (p.kind) {
            case Kind::Float: static_cast<pfParameterFloat*>(parameter)->SetValue(p.resetValue); break;
            case Kind::Int: static_cast<pfParameterInt*>(parameter)->SetValue(int32_t(p.resetValue)); break;
            case Kind::Bool: static_cast<pfParameterBool*>(parameter)->SetValue(p.resetValue != 0); break;
            case Kind::List: static_cast<pfParameterList*>(parameter)->Select(int32_t(p.resetValue)); break;
            case Kind::RGB:
                static_cast<pfParameterRGB*>(parameter)->SetColor(p.resetValue, p.resetValue, p.resetValue);
                break;
        }
    }
    // 3.
    UpdateControlStates();
}

}  // namespace ov
