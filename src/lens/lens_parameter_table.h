// The lens filter's 24 parameters, declared once. Everything that walks the
// parameters reads this table: the constructor of ov::pfFilterPelidorn (names, kinds,
// defaults, limits, keys, control classes and dialog ids, callbacks, registration order),
// ResetParameters (its own order and defaults), the control list, and the scripting
// terminology of the module's resources, whose records and their own order
// are kept in kTerminology below, the value type of each key coming from its parameter's
// kind.
#pragma once

#include <array>
#include <cstdint>

namespace ov::lens {

// The parameters in member order (the order of construction).
enum ParamId : int {
    Show, Radius, HighlightPreservative, HighlightAdditive, FocalPoint, DepthInvert,
    GammaCorrection, DepthCurve, SelectionIs, Outside, ColorOutside, IrisFacets, IrisAngle,
    IrisRoundFacets, IrisBorder, IrisBorderBrightness, IrisAspect, IrisSoftness,
    HighlightSelectionLow, HighlightSelectionHigh, HighlightSelectionSoften,
    HighlightSelectionClimax, ShowBasics, ShowAdvanced,
    kParamCount
};

enum class Kind : uint8_t { Float, Bool, Int, List, RGB };
enum class Control : uint8_t { List, Float, Angle, Bool, RGB, Int };
enum class Callback : uint8_t { None, Radius, SelectionIs, ShowBasics, ShowAdvanced };

constexpr uint32_t Key(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// A limit: value and whether it is hard (enforced by Validate) or only the control's range.
struct Limit {
    bool set;
    double value;
    bool hard;
};
constexpr Limit kNoLimit{false, 0.0, false};
constexpr Limit Hard(double v) { return {true, v, true}; }
constexpr Limit Soft(double v) { return {true, v, false}; }

constexpr int kNoId = -1;

struct ParamSpec {
    ParamId id;
    const char* name;
    Kind kind;
    double value;           // constructor default (a list's selection, a bool's 0/1)
    double resetValue;      // ResetParameters' value (differs only for the climax)
    Limit minimum;
    Limit maximum;
    std::array<uint32_t, 3> keys;   // 0 = none; ColorOutside has three
    Callback callback;
    bool saved;             // saved and affects the image (both cleared for the page buttons)
    Control control;
    int mainId;             // SetControlId
    int secondId;           // SetTrackbarId (Float, Int) or SetEditId (the angle's edit field)
    int labelId;            // SetLabelId
};

// Registration order: the order of the parameter set, presets lines, last-used values and
// the scripting descriptor.
constexpr std::array<ParamSpec, kParamCount> kParams{{
    {Radius, "Radius", Kind::Float, 5, 5, Hard(0), Soft(50), {Key("RADI")}, Callback::Radius,
     true, Control::Float, 1013, 1011, kNoId},
    {HighlightPreservative, "HighlightPreservative", Kind::Float, 5, 5, Hard(0), Soft(20),
     {Key("HIPR")}, Callback::None, true, Control::Float, 1049, 1048, 1099},
    {HighlightAdditive, "HighlightAdditive", Kind::Float, 0, 0, Hard(0), Soft(20),
     {Key("HIAD")}, Callback::None, true, Control::Float, 1053, 1052, 1086},
    {FocalPoint, "FocalPoint", Kind::Float, 255, 255, Soft(0), Soft(255), {Key("FOPO")},
     Callback::None, true, Control::Float, 1031, 1028, 1087},
    {DepthInvert, "DepthInvert", Kind::Bool, 0, 0, kNoLimit, kNoLimit, {Key("DEIN")},
     Callback::None, true, Control::Bool, 1079, kNoId, kNoId},
    {SelectionIs, "SelectionIs", Kind::List, 1, 1, kNoLimit, kNoLimit, {Key("SEIS")},
     Callback::SelectionIs, true, Control::List, 1019, kNoId, 1083},
    {Outside, "Outside", Kind::List, 2, 2, kNoLimit, kNoLimit, {Key("OUIM")}, Callback::None,
     true, Control::List, 1018, kNoId, kNoId},
    {ColorOutside, "ColorOutside", Kind::RGB, 1, 1, kNoLimit, kNoLimit,
     {Key("OUCR"), Key("OUCG"), Key("OUCB")}, Callback::None, true, Control::RGB, 1082, kNoId,
     kNoId},
    {GammaCorrection, "GammaCorrection", Kind::Bool, 1, 1, kNoLimit, kNoLimit, {Key("GACO")},
     Callback::None, true, Control::Bool, 1080, kNoId, kNoId},
    {DepthCurve, "DepthCurve", Kind::Float, 1, 1, Hard(0), Soft(3), {Key("DECU")},
     Callback::None, true, Control::Float, 1032, 1029, 1088},
    {IrisFacets, "IrisFacets", Kind::Int, 5, 5, Hard(3), Soft(15), {Key("IRFA")},
     Callback::None, true, Control::Int, 1036, 1035, 1094},
    {IrisAngle, "IrisAngle", Kind::Float, 0, 0, kNoLimit, kNoLimit, {Key("IFAN")},
     Callback::None, true, Control::Angle, 1081, 1037, 1104},
    {IrisRoundFacets, "IrisRoundFacets", Kind::Float, 1, 1, Hard(0), Hard(1), {Key("IRRF")},
     Callback::None, true, Control::Float, 1039, 1038, 1095},
    {IrisBorder, "IrisBorder", Kind::Float, 0.2, 0.2, Hard(0), Hard(1), {Key("IRBO")},
     Callback::None, true, Control::Float, 1043, 1042, 1098},
    {IrisBorderBrightness, "IrisBorderBrightness", Kind::Float, 0, 0, Hard(-1), Hard(1),
     {Key("IRBB")}, Callback::None, true, Control::Float, 1041, 1040, 1097},
    {IrisAspect, "IrisAspect", Kind::Float, 0, 0, Hard(-0.75), Hard(0.75), {Key("IRAS")},
     Callback::None, true, Control::Float, 1030, 1027, 1096},
    {IrisSoftness, "IrisSoftness", Kind::Float, 0, 0, Hard(0), Soft(200), {Key("IRSO")},
     Callback::None, true, Control::Float, 1051, 1050, 1089},
    {Show, "Show", Kind::List, 1, 1, kNoLimit, kNoLimit, {Key("SHOW")}, Callback::None, true,
     Control::List, 1009, kNoId, kNoId},
    {HighlightSelectionLow, "HighlightSelectionLow", Kind::Float, 200, 200, Hard(0), Hard(255),
     {Key("SELL")}, Callback::None, true, Control::Float, 1014, 1012, 1100},
    {HighlightSelectionHigh, "HighlightSelectionHigh", Kind::Float, 255, 255, Hard(0),
     Hard(255), {Key("SELH")}, Callback::None, true, Control::Float, 1045, 1044, 1101},
    {HighlightSelectionSoften, "HighlightSelectionSoften", Kind::Float, 0, 0, Hard(0), Soft(3),
     {Key("SELS")}, Callback::None, true, Control::Float, 1017, 1016, 1102},
    {HighlightSelectionClimax, "HighlightSelectionClimax", Kind::Float, 0, 1, Hard(-1),
     Hard(1), {Key("SELC")}, Callback::None, true, Control::Float, 1047, 1046, 1103},
    {ShowBasics, "ShowBasics", Kind::Bool, 1, 1, kNoLimit, kNoLimit, {}, Callback::ShowBasics,
     false, Control::Bool, 1105, kNoId, kNoId},
    {ShowAdvanced, "ShowAdvanced", Kind::Bool, 0, 0, kNoLimit, kNoLimit, {},
     Callback::ShowAdvanced, false, Control::Bool, 1106, kNoId, kNoId},
}};

// The order in which the controls enter the filter's control list (GammaCorrection moves
// up behind DepthInvert).
constexpr std::array<ParamId, kParamCount> kControlOrder{
    Radius, HighlightPreservative, HighlightAdditive, FocalPoint, DepthInvert, GammaCorrection,
    SelectionIs, Outside, ColorOutside, DepthCurve, IrisFacets, IrisAngle, IrisRoundFacets,
    IrisBorder, IrisBorderBrightness, IrisAspect, IrisSoftness, Show, HighlightSelectionLow,
    HighlightSelectionHigh, HighlightSelectionSoften, HighlightSelectionClimax, ShowBasics,
    ShowAdvanced};

// ResetParameters' order (undo records, then the values); the page buttons are not reset.
constexpr std::array<ParamId, 22> kResetOrder{
    Show, Radius, HighlightPreservative, HighlightAdditive, FocalPoint, DepthCurve, DepthInvert,
    GammaCorrection, SelectionIs, Outside, ColorOutside, IrisFacets, IrisAngle,
    IrisRoundFacets, IrisBorder, IrisBorderBrightness, IrisAspect, IrisSoftness,
    HighlightSelectionLow, HighlightSelectionHigh, HighlightSelectionSoften,
    HighlightSelectionClimax};

// Pages of the panel.
constexpr std::array<ParamId, 7> kIrisPage{IrisFacets, IrisAngle, IrisRoundFacets, IrisBorder,
                                           IrisBorderBrightness, IrisAspect, IrisSoftness};
constexpr std::array<ParamId, 6> kHighlightsPage{
    HighlightSelectionLow, HighlightSelectionHigh, HighlightSelectionSoften,
    HighlightSelectionClimax, HighlightPreservative, HighlightAdditive};
// Enabled exactly when SelectionIs is 1, mask or no mask.
constexpr std::array<ParamId, 6> kIrisShape{IrisFacets, IrisAngle, IrisRoundFacets,
                                            IrisBorder, IrisBorderBrightness, IrisAspect};

// List items.
constexpr std::array<const char*, 2> kSelectionIsItems{"depth map", "iris"};
constexpr std::array<const char*, 4> kOutsideItems{"border color", "mirror image",
                                                   "repeat image", "color"};
constexpr std::array<const char*, 7> kFullViewList{
    "normal blur", "iris", "depth buffer", "highlight selection", "highlight selection only",
    "info density", "sharp zone"};
constexpr std::array<const char*, 4> kShortViewList{
    "normal blur", "iris", "highlight selection", "highlight selection only"};

// The scripting terminology's records in their stored order: key, name,
// description. The value type follows the parameter that holds the key.
struct TerminologySpec {
    uint32_t key;
    const char* name;
    const char* description;
};
constexpr std::array<TerminologySpec, 24> kTerminology{{
    {Key("SHOW"), "show", "what to see"},
    {Key("RADI"), "radius", "blur radius"},
    {Key("FOPO"), "focal point", "depth where image is in focus"},
    {Key("DECU"), "depth curve", "alters depth curve"},
    {Key("SEIS"), "Selection usage",
     "defines what a possible selection is used for. As Depth map or alternative Iris."},
    {Key("HIPR"), "highlight preservative", "selected highlights preservative strength"},
    {Key("HIAD"), "highlight additive", "selected highlights additive strength"},
    {Key("DEIN"), "depth invert", "invert Depth"},
    {Key("GACO"), "gamma correction", "gamma correction"},
    {Key("OUIM"), "outside image", "what is assumed outside the iamge"},
    {Key("OUCR"), "outside color red", "outside color"},
    {Key("OUCG"), "outside color green", "otside color"},
    {Key("OUCB"), "outside color blue", "outside color"},
    {Key("IRFA"), "iris facets", "iris Facet count"},
    {Key("IFAN"), "iris angle", "iris angle"},
    {Key("IRRF"), "iris round facets", "iris rotation"},
    {Key("IRBO"), "iris border", "iris border size"},
    {Key("IRBB"), "relative iris border brightness", "iris border size"},
    {Key("IRAS"), "iris aspect", "iris x-y aspect"},
    {Key("IRSO"), "iris softness", "iris softness"},
    {Key("SELL"), "highlight selection low", "lower highlight grayscale selection"},
    {Key("SELH"), "highlight selection high", "upper highlight grayscale selection"},
    {Key("SELS"), "highlight selection soften", "Selection Soften based on Climax"},
    {Key("SELC"), "highlight selection climax", "Peak intensity when softened"},
}};

constexpr const ParamSpec& Spec(ParamId id) {
    for (const auto& p : kParams)
        if (p.id == id) return p;
    return kParams[0];
}

// The parameter that holds a key, or nullptr.
constexpr const ParamSpec* SpecForKey(uint32_t key) {
    for (const auto& p : kParams)
        for (uint32_t k : p.keys)
            if (k != 0 && k == key) return &p;
    return nullptr;
}

// The terminology value type of a key: `long` for lists and Int, `bool`, else `doub`.
constexpr uint32_t TerminologyType(uint32_t key) {
    const ParamSpec* p = SpecForKey(key);
    if (!p) return 0;
    switch (p->kind) {
        case Kind::List:
        case Kind::Int: return Key("long");
        case Kind::Bool: return Key("bool");
        default: return Key("doub");
    }
}

}  // namespace ov::lens
