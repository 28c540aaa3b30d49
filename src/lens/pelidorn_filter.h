// ov::pfFilterPelidorn: the product's filter. 24 parameters and 24 dialog
// controls as members, configured from the one parameter table (lens_parameter_table.h);
// the page and depth-map rules of the parameter panel; the callbacks; ResetParameters; and
// Render, which is SelectRenderTemplate (lens/render_template.h).
//
// The Show view survives validation: every validation runs the SelectionIs callback (Start
// validates after the dialog and after reading the descriptor). The callback keeps a view
// from 3 on, with its list, when Show already holds the list it would install, or when Show
// holds the list the render reads the index by (the full list in depth-map mode, the short
// one otherwise, while a call gives a record): the index then keeps its meaning. So a
// "highlight selection" chosen in the dialog of a document without a selection (short list,
// while SelectionIs 1 names the full one) reaches the render. A real change of the list in
// force still falls back to 1, since indexes from 3 on name different views in the lists.
//
// Start reads the descriptor before anything looks at the document (on the scripted road,
// without a dialog, nothing else ever does), so PrepareScriptRead first installs the list this document's render reads by
// (full when SelectionIs is 1 and the host gives a selection, else short; views 1 and 2
// kept, others fall back to 1): a recorded Show then selects the view it was recorded with,
// whatever document ran before, and the first call of a session on a document without a
// selection does not read it against the constructor's full list. Before the record is set
// up the host's mask data is not there yet, so "gives a selection" is the mask data or the
// record's haveMask flag. A SelectionIs read from the same descriptor runs the callback
// above with that record, so when it changes the list the render reads by, the new list
// comes in before a Show that follows it (the set's order puts SelectionIs first).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/parameter.h"
#include "host/pf_filter.h"
#include "lens/lens_parameter_table.h"
#include "ui/parameter_ui.h"
#include "ui/parameter_ui_win32.h"

namespace ov {

// The panel's control classes: the Win32 ones in the Windows build; the native build has no
// panel, so its controls are the base class (bound to their parameters, showing nothing).
#if defined(_WIN32)
using PelidornListControl = pfParameterUIListWin32;
using PelidornFloatControl = pfParameterUIFloatWin32;
using PelidornAngleControl = pfParameterUIAngleWin32;
using PelidornBoolControl = pfParameterUIBoolWin32;
using PelidornRGBControl = pfParameterUIRGBWin32;
using PelidornIntControl = pfParameterUIIntWin32;
#else
using PelidornListControl = pfParameterUI;
using PelidornFloatControl = pfParameterUI;
using PelidornAngleControl = pfParameterUI;
using PelidornBoolControl = pfParameterUI;
using PelidornRGBControl = pfParameterUI;
using PelidornIntControl = pfParameterUI;
#endif

class pfFilterPelidorn : public pfFilter {
public:
    pfFilterPelidorn(std::string name, std::string maker, uint32_t major, uint32_t minor, uint32_t revision,
                     std::string description);
    ~pfFilterPelidorn() override;

    int16_t Render(FilterRecord* record) override;
    void AdaptToHostMask(FilterRecord* record) override;
    void ResetParameters(bool withUndo) override;
    const char* GetFilterName() override { return "Pelidorn"; }

    void UpdateControlStates();
    static void OnRadiusChanged(pfParameter* parameter, void* context);
    static void OnSelectionIsChanged(pfParameter* parameter, void* context);
    static void OnShowBasicsChanged(pfParameter* parameter, void* context);
    static void OnShowAdvancedChanged(pfParameter* parameter, void* context);

    // Depth-map mode: SelectionIs 1 and the current record carries mask data.
    bool IsDepthMapMode() const;
    // Start, before the descriptor is read: Show holds the list this record's render reads by.
    void PrepareScriptRead(FilterRecord* record) override;
    pfParameter* ParameterOf(lens::ParamId id) const { return parameterById[id]; }
    pfParameterUI* ControlOf(lens::ParamId id) const { return controlById[id]; }

    // Parameters, in member order.
    pfParameterList Show;
    pfParameterFloat Radius;
    pfParameterFloat HighlightPreservative;
    pfParameterFloat HighlightAdditive;
    pfParameterFloat FocalPoint;
    pfParameterBool DepthInvert;
    pfParameterBool GammaCorrection;
    pfParameterFloat DepthCurve;
    pfParameterList SelectionIs;
    pfParameterList Outside;
    pfParameterRGB ColorOutside;
    pfParameterInt IrisFacets;
    pfParameterFloat IrisAngle;
    pfParameterFloat IrisRoundFacets;
    pfParameterFloat IrisBorder;
    pfParameterFloat IrisBorderBrightness;
    pfParameterFloat IrisAspect;
    pfParameterFloat IrisSoftness;
    pfParameterFloat HighlightSelectionLow;
    pfParameterFloat HighlightSelectionHigh;
    pfParameterFloat HighlightSelectionSoften;
    pfParameterFloat HighlightSelectionClimax;
    pfParameterBool ShowBasics;
    pfParameterBool ShowAdvanced;

    // Controls, one per parameter, in the same order.
    PelidornListControl ShowUI;
    PelidornFloatControl RadiusUI;
    PelidornFloatControl HighlightPreservativeUI;
    PelidornFloatControl HighlightAdditiveUI;
    PelidornFloatControl FocalPointUI;
    PelidornBoolControl DepthInvertUI;
    PelidornBoolControl GammaCorrectionUI;
    PelidornFloatControl DepthCurveUI;
    PelidornListControl SelectionIsUI;
    PelidornListControl OutsideUI;
    PelidornRGBControl ColorOutsideUI;
    PelidornIntControl IrisFacetsUI;
    PelidornAngleControl IrisAngleUI;
    PelidornFloatControl IrisRoundFacetsUI;
    PelidornFloatControl IrisBorderUI;
    PelidornFloatControl IrisBorderBrightnessUI;
    PelidornFloatControl IrisAspectUI;
    PelidornFloatControl IrisSoftnessUI;
    PelidornFloatControl HighlightSelectionLowUI;
    PelidornFloatControl HighlightSelectionHighUI;
    PelidornFloatControl HighlightSelectionSoftenUI;
    PelidornFloatControl HighlightSelectionClimaxUI;
    PelidornBoolControl ShowBasicsUI;
    PelidornBoolControl ShowAdvancedUI;

private:
    void FillShowList(bool full);
    // A new list in Show: views 1 and 2 are kept, any other falls back to 1.
    void ReplaceShowList(bool full);
    bool ShowHoldsList(bool full) const;
    // Whether the render of a document this record describes reads Show by the full list.
    bool RenderReadsFullList(const FilterRecord* record) const;
    std::array<pfParameter*, lens::kParamCount> parameterById{};
    std::array<pfParameterUI*, lens::kParamCount> controlById{};
};

}  // namespace ov
