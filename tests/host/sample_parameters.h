// A parameter set shaped like the lens filter's: the same kinds, names, limits and keys in
// registration order (one table), for tests and fuzz targets of the parameter model.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/parameter.h"
#include "host/parameters.h"

namespace ov::test {

struct SampleParameters {
  pfParameterList show, selectionIs, outside;
  pfParameterFloat radius, highlightPreservative, highlightAdditive, focalPoint, depthCurve, irisAngle,
      irisRoundFacets, irisBorder, irisBorderBrightness, irisAspect, irisSoftness, selLow, selHigh, selSoften,
      selClimax;
  pfParameterBool depthInvert, gammaCorrection, showBasics, showAdvanced;
  pfParameterRGB colorOutside;
  pfParameterInt irisFacets;
  pfParameters set;

  SampleParameters() {
    struct F {
      pfParameterFloat* p;
      const char* name;
      double value, min;
      bool minHard;
      double max;
      bool maxHard;
      const char* key;
    };
    const F floats[] = {
        {&radius, "Radius", 5, 0, true, 50, false, "RADI"},
        {&highlightPreservative, "HighlightPreservative", 5, 0, true, 20, false, "HIPR"},
        {&highlightAdditive, "HighlightAdditive", 0, 0, true, 20, false, "HIAD"},
        {&focalPoint, "FocalPoint", 255, 0, false, 255, false, "FOPO"},
        {&depthCurve, "DepthCurve", 1, 0, true, 3, false, "DECU"},
        {&irisAngle, "IrisAngle", 0, 0, false, 1, false, "IFAN"},
        {&irisRoundFacets, "IrisRoundFacets", 1, 0, true, 1, true, "IRRF"},
        {&irisBorder, "IrisBorder", 0.2, 0, true, 1, true, "IRBO"},
        {&irisBorderBrightness, "IrisBorderBrightness", 0, -1, true, 1, true, "IRBB"},
        {&irisAspect, "IrisAspect", 0, -0.75, true, 0.75, true, "IRAS"},
        {&irisSoftness, "IrisSoftness", 0, 0, true, 200, false, "IRSO"},
        {&selLow, "HighlightSelectionLow", 200, 0, true, 255, true, "SELL"},
        {&selHigh, "HighlightSelectionHigh", 255, 0, true, 255, true, "SELH"},
        {&selSoften, "HighlightSelectionSoften", 0, 0, true, 3, false, "SELS"},
        {&selClimax, "HighlightSelectionClimax", 0, -1, true, 1, true, "SELC"},
    };
    for (const F& f : floats) {
      f.p->SetName(f.name);
      f.p->SetValue(f.value);
      f.p->SetDefault(f.value);
      if (f.p != &irisAngle) {
        f.p->SetMinimum(f.min, f.minHard);
        f.p->SetMaximum(f.max, f.maxHard);
      }
      f.p->SetScriptKey(Key(f.key));
    }
    auto list = [](pfParameterList& p, const char* name, std::vector<std::string> items, int sel, const char* key) {
      p.SetName(name);
      for (auto& i : items) p.AddItem(i);
      p.Select(sel);
      p.SetScriptKey(Key(key));
    };
    list(show, "Show",
         {"normal blur", "iris", "depth buffer", "highlight selection", "highlight selection only", "info density",
          "sharp zone"},
         1, "SHOW");
    list(selectionIs, "SelectionIs", {"depth map", "iris"}, 1, "SEIS");
    list(outside, "Outside", {"border color", "mirror image", "repeat image", "color"}, 2, "OUIM");
    auto flag = [](pfParameterBool& p, const char* name, bool v, const char* key) {
      p.SetName(name);
      p.SetValue(v);
      if (key) p.SetScriptKey(Key(key));
    };
    flag(depthInvert, "DepthInvert", false, "DEIN");
    flag(gammaCorrection, "GammaCorrection", true, "GACO");
    flag(showBasics, "ShowBasics", true, nullptr);
    flag(showAdvanced, "ShowAdvanced", false, nullptr);
    showBasics.SetSaved(false);
    showBasics.SetAffectsImage(false);
    showAdvanced.SetSaved(false);
    showAdvanced.SetAffectsImage(false);
    colorOutside.SetName("ColorOutside");
    colorOutside.SetScriptKey(Key("OUCR"), Key("OUCG"), Key("OUCB"));
    irisFacets.SetName("IrisFacets");
    irisFacets.SetMinimum(3, true);
    irisFacets.SetMaximum(15, false);
    irisFacets.SetValue(5);
    irisFacets.SetScriptKey(Key("IRFA"));

    pfParameter* order[] = {&radius,      &highlightPreservative, &highlightAdditive, &focalPoint,
                            &depthInvert, &selectionIs,           &outside,           &colorOutside,
                            &gammaCorrection, &depthCurve,        &irisFacets,        &irisAngle,
                            &irisRoundFacets, &irisBorder,        &irisBorderBrightness, &irisAspect,
                            &irisSoftness, &show,                 &selLow,            &selHigh,
                            &selSoften,   &selClimax,             &showBasics,        &showAdvanced};
    for (pfParameter* p : order) set.Add(p);
  }

  static DescriptorKeyID Key(const char* k) {
    return (uint32_t(uint8_t(k[0])) << 24) | (uint32_t(uint8_t(k[1])) << 16) | (uint32_t(uint8_t(k[2])) << 8) |
           uint32_t(uint8_t(k[3]));
  }
};

} // namespace ov::test
