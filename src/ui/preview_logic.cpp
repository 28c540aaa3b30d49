#include "ui/preview_logic.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "host/parameter.h"

namespace ov::ui {

// ---- zoom ------------------------------------------------------------------------------------

Zoom ComputeZoom(int32_t factor, uint32_t level) {
  Zoom z;
  if (factor >= 1) {
    z.label = 100.0 / factor;
    z.displayRatio = level > 0 ? double(factor) / (double(factor) + level) : 1.0;
    z.effectiveFactor = factor + int32_t(level);
  } else {
    z.label = (2 - factor) * 100 * 0.6666666666666666;
    z.displayRatio = 1.5 / (2 - factor);
    if (level > 0) z.displayRatio /= (level + 1.0);
    z.effectiveFactor = 1 + int32_t(level);
  }
  return z;
}

std::string ZoomLabelText(double label) {
  std::ostringstream s;
  s << std::setprecision(4) << label << '%';
  return s.str();
}

int32_t FitFactor(int32_t imageW, int32_t imageH, int32_t frameW, int32_t frameH) {
  if (int16_t(frameW) <= 0 || int16_t(frameH) <= 0) return 1;
  const int16_t a = int16_t(int16_t(imageW) / int16_t(frameW) + 1);
  const int16_t b = int16_t(int16_t(imageH) / int16_t(frameH) + 1);
  return std::max(a, b);
}

int32_t BufferStride(int32_t width) { return (width / 32 + 1) * 32; }

int32_t ViewCentre(int32_t frame, double oldRatio, int32_t pan, int32_t oldSize) {
  if (oldRatio > 0 && oldSize / oldRatio <= frame) return oldSize / 2;
  return int32_t(frame * oldRatio * 0.5 + pan);
}

int32_t PanForCentre(int32_t centre, int32_t newSize, int32_t oldSize, double ratio, int32_t frame) {
  if (oldSize <= 0) return 0;
  return int32_t(double(centre) * newSize / oldSize - ratio * 0.5 * frame);
}

// ---- bitmap ----------------------------------------------------------------------------------

PreviewPlanes PreviewPlanesOf(const FilterRecord& r) {
  PreviewPlanes p;
  if (r.inTransparencyMask == 0) {
    p.alpha = false;
    p.colours = r.inLayerPlanes ? r.inLayerPlanes : (r.inNonLayerPlanes ? r.inNonLayerPlanes : r.planes);
  } else {
    p.alpha = r.planes >= r.inLayerPlanes + 1;
    p.colours = r.inLayerPlanes ? r.inLayerPlanes : r.planes;
  }
  switch (r.imageMode) {
    case 1: case 10: case 17: p.colours = std::min(p.colours, 1); p.valid = true; break;
    case 3: case 7: case 11: case 14: case 16: p.colours = std::min(p.colours, 3); p.valid = true; break;
    default: p.valid = false; break;
  }
  if (p.colours < 1) p.valid = false;
  return p;
}

double SampleToByteRange(const uint8_t* s, int32_t depth) {
  double v;
  if (depth == 16) {
    uint16_t h;
    std::memcpy(&h, s, 2);
    v = h * 0.007782101167315175;
  } else if (depth == 32) {
    float f;
    std::memcpy(&f, s, 4);
    v = double(f) * 255.0;
  } else {
    v = *s;
  }
  if (!(v >= 0.0)) return 0.0; // negative or NaN
  return std::min(v, 255.0);
}

static double AlphaOf(const uint8_t* s, int32_t depth) {
  if (depth == 16) {
    uint16_t h;
    std::memcpy(&h, s, 2);
    return h * 3.051850947599719e-05;
  }
  if (depth == 32) {
    float f;
    std::memcpy(&f, s, 4);
    return f;
  }
  return *s * 0.00392156862745098;
}

static uint8_t ToByte(double v) {
  if (!(v >= 0.0)) return 0;
  if (v > 255.0) return 255;
  return uint8_t(int32_t(v));
}

bool DrawToPreviewBuffer(const FilterRecord& r, uint8_t* buffer, int32_t stride, int32_t height, bool hostDisplay) {
  if (!buffer || !r.outData) return false;
  const PreviewPlanes planes = PreviewPlanesOf(r);
  if (!planes.valid) return false;
  const int32_t outW = r.outRect.right - r.outRect.left;
  const int32_t outH = r.outRect.bottom - r.outRect.top;
  if (outW <= 0 || outH <= 0 || outW > stride || outH > height) return false;
  const int32_t bytes = r.depth == 16 ? 2 : (r.depth == 32 ? 4 : 1);
  const int32_t depth = r.depth == 0 ? 8 : r.depth;
  // Full-image pixels per proxy pixel, kept fractional: a proxy width that does not divide
  // the image width must not make the squares grow.
  const double imagePerOutX = double(r.imageSize.h) / outW, imagePerOutY = double(r.imageSize.v) / outH;
  const auto* base = static_cast<const uint8_t*>(r.outData);
  for (int32_t y = 0; y < outH; ++y) {
    const int32_t row = hostDisplay ? y : outH - 1 - y;
    uint8_t* d = buffer + size_t(row) * size_t(stride) * 3;
    const int32_t by = int32_t(y * imagePerOutY);
    for (int32_t x = 0; x < outW; ++x) {
      const uint8_t* px = base + ptrdiff_t(y) * r.outRowBytes + ptrdiff_t(x) * r.planes * bytes;
      double c[3];
      const double ch0 = SampleToByteRange(px, depth);
      if (planes.colours == 1) {
        c[0] = c[1] = c[2] = ch0;
      } else if (planes.colours == 2) {
        c[0] = SampleToByteRange(px + bytes, depth);
        c[1] = ch0;
        c[2] = 0.0;
      } else {
        c[0] = SampleToByteRange(px + 2 * bytes, depth);
        c[1] = SampleToByteRange(px + bytes, depth);
        c[2] = ch0;
        if (hostDisplay) std::swap(c[0], c[2]);
      }
      if (planes.alpha) {
        double a = AlphaOf(px + ptrdiff_t(r.inLayerPlanes) * bytes, depth);
        if (!(a >= 0.0)) a = 0.0;
        a = std::min(a, 1.0);
        const int32_t bx = int32_t(x * imagePerOutX);
        const double square = (((bx / 16) & 1) != ((by / 16) & 1)) ? 255.0 : 208.0;
        for (double& v : c) v = (v - square) * a + square;
      }
      d[size_t(x) * 3 + 0] = ToByte(c[0]);
      d[size_t(x) * 3 + 1] = ToByte(c[1]);
      d[size_t(x) * 3 + 2] = ToByte(c[2]);
    }
  }
  return true;
}

void PreviewToImagePoint(const FrameGeometry& f, int32_t inW, int32_t inH, double displayRatio, int32_t panX,
                         int32_t panY, int32_t x, int32_t y, double& u, double& v) {
  const double q = 1.0 / displayRatio;
  const int32_t dispW = int32_t(inW * q + 0.5), dispH = int32_t(inH * q + 0.5);
  int32_t ix, iy;
  if (dispW < f.width) ix = x - f.left - (f.width - dispW) / 2;
  else ix = int32_t(panX * q + (x - f.left));
  if (dispH >= f.height) iy = int32_t((dispH - f.height) - panY * q + (y - f.top));
  else iy = y - f.top - (f.height - dispH) / 2;
  u = dispW ? double(ix) / dispW : 0.0;
  v = dispH ? double(iy) / dispH : 0.0;
}

double TitleCoordinate(double normalised, int32_t proxySize, int32_t effectiveFactor) {
  return int32_t(normalised * proxySize * effectiveFactor * 10.0) * 0.1;
}

// ---- render scheduling -----------------------------------------------------------------------

int16_t RunRenderTurn(uint32_t& level, uint32_t defaultLevel, bool& changed, const RenderHooks& hooks) {
  int16_t result = 0;
  while (level > defaultLevel || changed) {
    changed = false;
    result = hooks.render(level);
    if (result == -128) {
      ++level;
      hooks.reassign();
      continue;
    }
    if (result != 0) break;
    hooks.show();
    if (changed) continue;
    if (level > defaultLevel) {
      level = defaultLevel;
      changed = true;
      hooks.reassign();
      continue;
    }
    break;
  }
  return result;
}

// ---- numeric fields --------------------------------------------------------------------------

bool ParseFieldNumber(const char* text, double& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string FormatFloatField(double value) {
  std::ostringstream s;
  s << value;
  return s.str();
}

static int32_t Saturate(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32_t(v);
}

int32_t FloatTrackbarPosition(double value) { return Saturate(value * 100.0); }

int32_t IntPageSize(int32_t minimum, int32_t maximum) {
  const int64_t p = std::llabs((int64_t(maximum) - minimum) / 10);
  return int32_t(std::max<int64_t>(p, 1));
}

int32_t FloatPageSize(double minimum, double maximum) {
  return std::max(Saturate(std::fabs((maximum - minimum) * 10.0)), 1);
}

double ClampTypedFloat(double typed, double minimum, bool minimumHard, double maximum, bool maximumHard) {
  if (typed < minimum && minimumHard) return minimum;
  if (typed > maximum && maximumHard) return maximum;
  return typed;
}

int32_t TypedInt(double typed) { return Saturate(typed); }

// ---- angle -----------------------------------------------------------------------------------

void SplitTurns(double value, int32_t& turns, double& degrees) {
  turns = Saturate(value * (1.0 / 360.0));
  degrees = value - 360.0 * turns + 0.0; // + 0.0: a negative zero shows as 0.00, not -0.00
  if (degrees < 0) {
    turns -= 1;
    degrees += 360.0;
  }
}

std::string FormatDegrees(double degrees) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(2) << std::showpoint << degrees;
  return s.str();
}

bool AngleFromDialPoint(double current, int32_t dx, int32_t dy, double& result) {
  constexpr double P = 3.1415926535, T = 6.283185307;
  const double r = std::sqrt(double(dx) * dx + double(dy) * dy);
  if (!(r > 0)) return false;
  const double inv = 1.0 / r;
  const double c = dx * inv, s = dy * inv;
  const double a0 = current * P * 0.005555555555555556;
  int64_t k = int64_t(a0 * 0.15915494309644432);
  double rem = a0 - double(k) * P * 2.0;
  if (rem < 0) {
    k -= 1;
    rem += T;
  }
  double base = double(k) * P * 2.0;
  double a;
  if (c > 0) {
    a = std::acos(-s);
    double opp = a - P;
    if (opp < 0) opp += T;
    if (rem > P && a < P && rem > opp) base = double(k) * P * 2.0 + T;
  } else {
    a = std::acos(s) + P;
    double opp = a + P;
    if (opp > T) opp -= T;
    if (rem < P && a > P && rem < opp) base = double(k) * P * 2.0 - T;
  }
  result = (a + base) * 180.0 * 0.31830988619288864;
  return true;
}

void DialHandEnd(double value, int32_t cx, int32_t cy, int32_t radius, int32_t& x, int32_t& y) {
  const double a = value * 3.1415926535 * 0.005555555555555556;
  x = int32_t(cx + std::sin(a) * radius);
  y = int32_t(cy - std::cos(a) * radius);
}

// ---- position fields -------------------------------------------------------------------------

std::string PositionFieldText(const char* current, double coordinate, int32_t size) {
  double typed;
  if (current && ParseFieldNumber(current, typed) && size != 0 && typed / size == coordinate) return current;
  return std::to_string(Saturate(size * coordinate));
}

// ---- placement -------------------------------------------------------------------------------

void ClampToVirtualScreen(int32_t& x, int32_t& y, int32_t screenW, int32_t screenH) {
  if (screenW == 0 || screenH == 0) return;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x > screenW) x = screenW - 50;
  if (y > screenH) y = screenH - 50;
}

void DefaultPreviewPlacement(int32_t screenW, int32_t screenH, int32_t& x, int32_t& y, int32_t& side) {
  side = int32_t(screenW * 2.0 * 0.3333333333333333);
  x = (screenW - side) / 2;
  y = (screenH - side) / 2;
}

double SwatchGrey(double red, double green, double blue) {
  return red * 0.292687786 + green * 0.552149646 + blue * 0.155162568;
}

bool IsGreySwatchMode(int16_t imageMode) { return imageMode == 1 || imageMode == 10; }

// ---- registry data ---------------------------------------------------------------------------

bool DecodeDword(const RegistryData& data, int32_t& value) {
  uint8_t b[4] = {};
  if (!DecodeBinary(data, 4, b)) return false;
  if (data.bytes.empty()) return true;
  uint32_t u = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  value = int32_t(u);
  return true;
}

bool DecodeString(const RegistryData& data, size_t capacity, std::string& value) {
  const auto* b = reinterpret_cast<const char*>(data.bytes.data());
  const size_t length = strnlen(b, data.bytes.size());
  if (length + 1 > capacity) return false;
  value.assign(b, length);
  return true;
}

bool DecodeBinary(const RegistryData& data, size_t size, void* out) {
  if (data.bytes.size() > size) return false;
  if (data.bytes.empty()) return true;
  std::memset(out, 0, size);
  std::memcpy(out, data.bytes.data(), data.bytes.size());
  return true;
}

namespace {

template <typename T>
RegistryData Binary(T value) {
  RegistryData d;
  d.type = kRegBinary;
  d.bytes.resize(sizeof(T));
  std::memcpy(d.bytes.data(), &value, sizeof(T));
  return d;
}

template <typename T>
bool Lookup(const std::function<bool(const std::string&, RegistryData&)>& lookup, const std::string& name,
            T& value) {
  RegistryData d;
  return lookup(name, d) && DecodeBinary(d, sizeof(T), &value);
}

} // namespace

std::vector<NamedValue> EncodeLastUsed(const pfParameter& p) {
  std::vector<NamedValue> out;
  const std::string name = p.GetName();
  if (auto* q = dynamic_cast<const pfParameterPosition*>(&p)) {
    out.push_back({name + "_X", Binary(q->GetX())});
    out.push_back({name + "_Y", Binary(q->GetY())});
  } else if (auto* b = dynamic_cast<const pfParameterBool*>(&p)) {
    out.push_back({name, Binary(uint8_t(b->GetValue() ? 1 : 0))});
  } else if (auto* i = dynamic_cast<const pfParameterInt*>(&p)) {
    out.push_back({name, Binary(i->GetValue())});
  } else if (auto* f = dynamic_cast<const pfParameterFloat*>(&p)) {
    out.push_back({name, Binary(f->GetValue())});
  } else if (auto* c = dynamic_cast<const pfParameterRGB*>(&p)) {
    double r, g, bl;
    c->GetColor(r, g, bl);
    out.push_back({name + "_red", Binary(r)});
    out.push_back({name + "_green", Binary(g)});
    out.push_back({name + "_blue", Binary(bl)});
  } else if (auto* l = dynamic_cast<const pfParameterList*>(&p)) {
    out.push_back({name, Binary(l->GetSelection())});
  }
  return out;
}

bool ApplyLastUsed(pfParameter& p, const std::function<bool(const std::string&, RegistryData&)>& lookup) {
  const std::string name = p.GetName();
  if (auto* q = dynamic_cast<pfParameterPosition*>(&p)) {
    double x = 0, y = 0;
    if (!Lookup(lookup, name + "_X", x) || !Lookup(lookup, name + "_Y", y)) return false;
    q->SetPosition(x, y);
  } else if (auto* b = dynamic_cast<pfParameterBool*>(&p)) {
    uint8_t v = 0;
    if (!Lookup(lookup, name, v)) return false;
    b->SetValue(v != 0);
  } else if (auto* i = dynamic_cast<pfParameterInt*>(&p)) {
    int32_t v = 0;
    if (!Lookup(lookup, name, v)) return false;
    i->SetValue(v);
  } else if (auto* f = dynamic_cast<pfParameterFloat*>(&p)) {
    double v = 0;
    if (!Lookup(lookup, name, v)) return false;
    f->SetValue(v);
  } else if (auto* c = dynamic_cast<pfParameterRGB*>(&p)) {
    double r = 0, g = 0, bl = 0;
    if (!Lookup(lookup, name + "_red", r) || !Lookup(lookup, name + "_green", g) ||
        !Lookup(lookup, name + "_blue", bl))
      return false;
    c->SetColor(r, g, bl);
  } else if (auto* l = dynamic_cast<pfParameterList*>(&p)) {
    int32_t v = 0;
    if (!Lookup(lookup, name, v)) return false;
    l->Select(v);
  } else {
    return false;
  }
  return true;
}

// ---- presets ---------------------------------------------------------------------------------

std::string PresetNameFromInput(std::string text) {
  std::replace(text.begin(), text.end(), ' ', '_');
  return text;
}

int32_t NeighbourAfterDelete(int32_t index) { return index == 0 ? 1 : index - 1; }

int32_t FindPresetName(const std::vector<std::string>& names, const std::string& name) {
  auto lower = [](std::string s) {
    for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  const std::string key = lower(name);
  for (size_t i = 0; i < names.size(); ++i)
    if (lower(names[i]) == key) return int32_t(i);
  return -1;
}

} // namespace ov::ui
