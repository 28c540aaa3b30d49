// The six parameter kinds: setters, validation, scripting, undo, randomising, presets lines.
#include "host/parameter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "host/undo.h"
#include "ui/parameter_ui.h"

namespace ov {

// ---- random numbers and the reflection fold --------------------------------------------------

namespace {
uint32_t g_randomState = 1;

// -0 and +0 are one setting: Validate keeps +0, so that a value prints, saves and reads
// back the same way whichever zero a descriptor or preset handed in.
double PlusZero(double v) { return v == 0.0 ? 0.0 : v; }
bool SameValue(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

WriteDescriptorProcs* WriteProcs(FilterRecord* record) {
  return record && record->descriptorParameters ? record->descriptorParameters->writeDescriptorProcs : nullptr;
}
ReadDescriptorProcs* ReadProcs(FilterRecord* record) {
  return record && record->descriptorParameters ? record->descriptorParameters->readDescriptorProcs : nullptr;
}

// The put and get procedures are called only when present: the validity test of the
// interface checks the read procedures one by one but not the write procedures.
void PutFloat(FilterRecord* record, PIWriteDescriptor token, DescriptorKeyID key, double value) {
  WriteDescriptorProcs* w = WriteProcs(record);
  if (key && w && w->putFloatProc) w->putFloatProc(token, key, &value);
}
void PutInteger(FilterRecord* record, PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
  WriteDescriptorProcs* w = WriteProcs(record);
  if (key && w && w->putIntegerProc) w->putIntegerProc(token, key, value);
}
bool GetFloat(FilterRecord* record, PIReadDescriptor token, double& value) {
  ReadDescriptorProcs* r = ReadProcs(record);
  double v = 0.0;
  if (!r || !r->getFloatProc || r->getFloatProc(token, &v) != noErr) return false;
  value = v;
  return true;
}
bool GetInteger(FilterRecord* record, PIReadDescriptor token, int32_t& value) {
  ReadDescriptorProcs* r = ReadProcs(record);
  int32_t v = 0;
  if (!r || !r->getIntegerProc || r->getIntegerProc(token, &v) != noErr) return false;
  value = v;
  return true;
}

double RandomUnit() { return double(ParameterRandom()) / 32767.0; }

// Truncates toward zero into the signed 32-bit range; NaN answers `fallback`.
int32_t SaturatingTrunc(double v, int32_t fallback) {
  if (std::isnan(v)) return fallback;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}

// "%f": six decimals, "." as the decimal point, whatever the C locale says.
std::string Fixed6(double v) {
  char buffer[400];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), v, std::chars_format::fixed, 6);
  if (ec != std::errc()) return "0.000000";
  return std::string(buffer, end);
}

bool IsSetKey(DescriptorKeyID set, DescriptorKeyID key) { return set != 0 && set == key; }
} // namespace

void SeedParameterRandom(uint32_t seed) { g_randomState = seed; }

int32_t ParameterRandom() {
  g_randomState = g_randomState * 214013u + 2531011u;
  return int32_t((g_randomState >> 16) & 0x7FFF);
}

double ReflectIntoRange(double value, double width) {
  if (!(width > 0.0)) return value; // a range of width 0 keeps the value
  if (value < 0.0) {
    const double q = std::trunc(value / width);
    const double rest = value - q * width;
    value = std::fmod(q, 2.0) != 0.0 ? rest + width : -rest;
  } else if (value >= width) {
    const double q = std::trunc(value / width);
    const double rest = value - q * width;
    value = std::fmod(q, 2.0) != 0.0 ? width - rest : rest;
  }
  if (value == width) value = width - 0.0001;
  return value;
}

int32_t ParsePresetInteger(std::string_view token) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  int64_t v = 0;
  bool any = false;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    any = true;
    if (v <= int64_t(1) << 32) v = v * 10 + (token[i] - '0');
  }
  if (!any) return 0;
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}

double ParsePresetReal(std::string_view token) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  const size_t mantissaStart = i;
  size_t digits = 0;
  while (i < token.size() && token[i] >= '0' && token[i] <= '9') ++i, ++digits;
  if (i < token.size() && token[i] == '.') {
    ++i;
    while (i < token.size() && token[i] >= '0' && token[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  bool exponentNegative = false;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    size_t j = i + 1;
    if (j < token.size() && (token[j] == '+' || token[j] == '-')) exponentNegative = token[j++] == '-';
    const size_t expDigits = j;
    while (j < token.size() && token[j] >= '0' && token[j] <= '9') ++j;
    if (j > expDigits) end = j;
  }
  std::string text(token.substr(mantissaStart, end - mantissaStart));
  double v = 0.0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) v = exponentNegative ? 0.0 : std::numeric_limits<double>::infinity();
  else if (ec != std::errc()) v = 0.0;
  return negative ? -v : v;
}

// ---- base -------------------------------------------------------------------------------------

pfParameter::~pfParameter() = default;

void pfParameter::UpdateUI() {
  if (control_) control_->Update();
}

// ---- Position ---------------------------------------------------------------------------------

void pfParameterPosition::Store(double x, double y) {
  x_ = x;
  y_ = y;
  UpdateUI();
}

bool pfParameterPosition::SetPosition(double x, double y) {
  if (x == x_ && y == y_) return false;
  x_ = x;
  y_ = y;
  return Changed();
}

void pfParameterPosition::Validate() {
  const double x = PlusZero(std::isfinite(x_) ? x_ : defaultX_);
  const double y = PlusZero(std::isfinite(y_) ? y_ : defaultY_);
  if (!SameValue(x, x_) || !SameValue(y, y_)) Store(x, y);
}

void pfParameterPosition::WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) {
  PutFloat(record, token, xKey_, x_);
  PutFloat(record, token, yKey_, y_);
}

void pfParameterPosition::ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) {
  if (!IsSetKey(xKey_, key) && !IsSetKey(yKey_, key)) return;
  double v;
  if (!GetFloat(record, token, v)) return;
  double x = x_, y = y_;
  if (IsSetKey(xKey_, key)) x = v;
  if (IsSetKey(yKey_, key)) y = v;
  if (x != x_ || y != y_) Store(x, y);
}

int pfParameterPosition::GetScriptKeyCount() const { return (xKey_ ? 1 : 0) + (yKey_ ? 1 : 0); }

void pfParameterPosition::GetScriptKeys(DescriptorKeyID* keys) const {
  if (xKey_) *keys++ = xKey_;
  if (yKey_) *keys++ = yKey_;
}

pfUndo* pfParameterPosition::CreateUndo() { return new pfUndoParameterPosition(this); }

void pfParameterPosition::Randomize(double amount) {
  if (!IsRandomizable()) return;
  const double x = ReflectIntoRange(x_ + (RandomUnit() - 0.5) * amount, 1.0);
  const double y = ReflectIntoRange(y_ + (RandomUnit() - 0.5) * amount, 1.0);
  if (x != x_ || y != y_) Store(x, y);
  Validate();
}

bool pfParameterPosition::AssignFrom(const pfParameter& source) {
  if (source.GetKind() != GetKind()) return false;
  *this = static_cast<const pfParameterPosition&>(source);
  return true;
}

std::string pfParameterPosition::FormatPresetLine() const { return Name() + " " + Fixed6(x_) + " " + Fixed6(y_); }

bool pfParameterPosition::SetFromPresetValues(const std::string* values) {
  return SetPosition(ParsePresetReal(values[0]), ParsePresetReal(values[1]));
}

// ---- Bool -------------------------------------------------------------------------------------

bool pfParameterBool::SetValue(bool value) {
  bool result = false;
  if (value != value_) {
    value_ = value;
    result = Changed();
  }
  FireCallback();
  return result;
}

void pfParameterBool::WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) {
  WriteDescriptorProcs* w = WriteProcs(record);
  if (key_ && w && w->putBooleanProc) w->putBooleanProc(token, key_, value_ ? 1 : 0);
}

void pfParameterBool::ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) {
  if (!IsSetKey(key_, key)) return;
  ReadDescriptorProcs* r = ReadProcs(record);
  Boolean b = 0;
  if (!r || !r->getBooleanProc || r->getBooleanProc(token, &b) != noErr) return;
  const bool v = b != 0;
  if (v != value_) {
    value_ = v;
    UpdateUI();
  }
  FireCallback();
}

void pfParameterBool::GetScriptKeys(DescriptorKeyID* keys) const {
  if (key_) keys[0] = key_;
}

pfUndo* pfParameterBool::CreateUndo() { return new pfUndoParameterBool(this); }

void pfParameterBool::Randomize(double) {
  if (!IsRandomizable()) return;
  const bool v = ParameterRandom() % 2 == 0;
  if (v != value_) {
    value_ = v;
    UpdateUI();
  }
  FireCallback();
  Validate();
}

bool pfParameterBool::AssignFrom(const pfParameter& source) {
  if (source.GetKind() != GetKind()) return false;
  *this = static_cast<const pfParameterBool&>(source);
  return true;
}

std::string pfParameterBool::FormatPresetLine() const { return Name() + (value_ ? " 1" : " 0"); }

bool pfParameterBool::SetFromPresetValues(const std::string* values) {
  return SetValue(ParsePresetInteger(values[0]) != 0);
}

// ---- Int --------------------------------------------------------------------------------------

bool pfParameterInt::SetValue(int32_t value) {
  if (value == value_) return false;
  value_ = value;
  return Changed();
}

void pfParameterInt::Validate() {
  const int32_t v = ClampToHardLimits(value_);
  if (v != value_) {
    value_ = v;
    UpdateUI();
  }
}

void pfParameterInt::WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) {
  PutInteger(record, token, key_, value_);
}

void pfParameterInt::ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) {
  if (!IsSetKey(key_, key)) return;
  int32_t v;
  if (!GetInteger(record, token, v)) return;
  if (v != value_) {
    value_ = v;
    UpdateUI();
  }
}

void pfParameterInt::GetScriptKeys(DescriptorKeyID* keys) const {
  if (key_) keys[0] = key_;
}

pfUndo* pfParameterInt::CreateUndo() { return new pfUndoParameterInt(this); }

void pfParameterInt::Randomize(double amount) {
  if (!IsRandomizable()) return;
  const double w = double(maximum_) - double(minimum_);
  const double u = RandomUnit();
  int32_t v = value_; // a range of width 0 (or less) keeps the value
  if (w > 0.0) {
    const double t = ReflectIntoRange(w * (u - 0.5) * amount + double(value_) - double(minimum_), w);
    v = SaturatingTrunc(t + double(minimum_) + 0.5, value_);
  }
  if (v != value_) {
    value_ = v;
    UpdateUI();
  }
  Validate();
}

bool pfParameterInt::AssignFrom(const pfParameter& source) {
  if (source.GetKind() != GetKind()) return false;
  *this = static_cast<const pfParameterInt&>(source);
  return true;
}

std::string pfParameterInt::FormatPresetLine() const { return Name() + " " + std::to_string(value_); }

bool pfParameterInt::SetFromPresetValues(const std::string* values) {
  return SetValue(ParsePresetInteger(values[0]));
}

// ---- Float ------------------------------------------------------------------------------------

bool pfParameterFloat::SetValue(double value) {
  bool result = false;
  if (value != value_) {
    value_ = value;
    result = Changed();
  }
  FireCallback();
  return result;
}

void pfParameterFloat::Validate() {
  double v = ClampToHardLimits(value_);
  if (!std::isfinite(v)) v = minimumHard_ && std::isfinite(minimum_) ? minimum_ : default_;
  v = PlusZero(v);
  // Exact comparison (the sign of zero included), but a NaN value that stays NaN (a NaN
  // default) is not stored again.
  if ((v != value_ || std::signbit(v) != std::signbit(value_)) && !(std::isnan(v) && std::isnan(value_))) {
    value_ = v;
    UpdateUI();
  }
  FireCallback();
}

void pfParameterFloat::WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) {
  PutFloat(record, token, key_, value_);
}

void pfParameterFloat::ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) {
  if (!IsSetKey(key_, key)) return;
  double v;
  if (GetFloat(record, token, v)) SetValue(v);
}

void pfParameterFloat::GetScriptKeys(DescriptorKeyID* keys) const {
  if (key_) keys[0] = key_;
}

pfUndo* pfParameterFloat::CreateUndo() { return new pfUndoParameterFloat(this); }

void pfParameterFloat::Randomize(double amount) {
  if (!IsRandomizable()) return;
  const double w = maximum_ - minimum_;
  const double u = RandomUnit();
  // The fold takes the whole part of the width: a range of -0.75..0.75 folds into
  // [minimum, minimum + 1). A whole part of 0 (or less) keeps the value.
  const double width = std::trunc(w);
  double v = value_;
  if (width > 0.0) v = minimum_ + ReflectIntoRange(w * (u - 0.5) * amount + value_ - minimum_, width);
  if (v != value_) {
    value_ = v;
    UpdateUI();
  }
  FireCallback();
  Validate();
}

bool pfParameterFloat::AssignFrom(const pfParameter& source) {
  if (source.GetKind() != GetKind()) return false;
  *this = static_cast<const pfParameterFloat&>(source);
  return true;
}

std::string pfParameterFloat::FormatPresetLine() const {
  return Name() + " " + Fixed6(double(float(value_))); // rounded to single precision first
}

bool pfParameterFloat::SetFromPresetValues(const std::string* values) {
  return SetValue(ParsePresetReal(values[0]));
}

// ---- List -------------------------------------------------------------------------------------

bool pfParameterList::Select(int32_t index) {
  if (index < 1 || index > GetItemCount()) return false;
  bool result = false;
  if (index != selection_) {
    selection_ = index;
    result = Changed();
  }
  FireCallback();
  return result;
}

std::string pfParameterList::GetItemText(int32_t index) const {
  if (index < 0 || index >= GetItemCount()) return std::string();
  return items_[size_t(index)];
}

void pfParameterList::FillChannelNames(const FilterRecord* record) {
  ClearItems();
  AddItem(" none");
  if (!record) return;
  const int total = std::max(record->inLayerPlanes + record->inTransparencyMask + record->inLayerMasks +
                                 record->inInvertedLayerMasks + record->inNonLayerPlanes,
                             int(record->planes));
  int colours;
  bool transparency = false;
  if (record->inTransparencyMask > 0) {
    colours = record->inLayerPlanes ? record->inLayerPlanes : record->planes;
    transparency = total >= record->inLayerPlanes + 1;
  } else {
    colours = record->inLayerPlanes      ? record->inLayerPlanes
              : record->inNonLayerPlanes ? record->inNonLayerPlanes
                                         : record->planes;
  }
  switch (record->imageMode) {
  case plugInModeGrayScale:
  case plugInModeGray16:
    colours = std::min(colours, 1);
    break;
  case plugInModeRGBColor:
  case plugInModeMultichannel:
  case plugInModeRGB48:
  case plugInModeDeepMultichannel:
    colours = std::min(colours, 3);
    break;
  default:
    return;
  }
  if (colours >= 1) AddItem("red");
  if (colours >= 2) AddItem("green");
  if (colours >= 3) AddItem("blue");
  int counted = std::max(colours, 0);
  if (transparency) {
    AddItem("transparency");
    ++counted;
  }
  for (int i = 0; i < total - counted; ++i) AddItem("alpha " + std::to_string(i));
}

void pfParameterList::Validate() {
  if (items_.empty()) return;
  const int32_t c = std::min(std::max(selection_, int32_t(1)), GetItemCount());
  if (c != selection_) {
    selection_ = c;
    UpdateUI();
  }
  FireCallback();
}

void pfParameterList::WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) {
  PutInteger(record, token, key_, selection_);
}

void pfParameterList::ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) {
  if (!IsSetKey(key_, key)) return;
  int32_t v;
  if (GetInteger(record, token, v)) Select(v);
}

void pfParameterList::GetScriptKeys(DescriptorKeyID* keys) const {
  if (key_) keys[0] = key_;
}

pfUndo* pfParameterList::CreateUndo() { return new pfUndoParameterList(this); }

void pfParameterList::Randomize(double amount) {
  if (!IsRandomizable()) return;
  if (amount > 2.0) amount = 0.0;
  const int32_t n = GetItemCount();
  const double u = RandomUnit();
  int32_t index = 0; // no items: nothing to choose
  if (n > 0) {
    const double t = ReflectIntoRange(double(n) * (u - 0.5) * amount + double(selection_) - 1.0, double(n));
    index = SaturatingTrunc(t + 1.0 + 0.5, 0);
  }
  if (index >= 1 && index <= n) {
    if (index != selection_) {
      selection_ = index;
      UpdateUI();
    }
    FireCallback();
  }
  Validate();
}

bool pfParameterList::AssignFrom(const pfParameter& source) {
  if (source.GetKind() != GetKind()) return false;
  *this = static_cast<const pfParameterList&>(source);
  return true;
}

std::string pfParameterList::FormatPresetLine() const { return Name() + " " + std::to_string(selection_); }

bool pfParameterList::SetFromPresetValues(const std::string* values) {
  return Select(ParsePresetInteger(values[0]));
}

// ---- RGB --------------------------------------------------------------------------------------

void pfParameterRGB::Store(double r, double g, double b) {
  r_ = r;
  g_ = g;
  b_ = b;
  UpdateUI();
}

bool pfParameterRGB::SetColor(double r, double g, double b) {
  if (r == r_ && g == g_ && b == b_) return false;
  r_ = r;
  g_ = g;
  b_ = b;
  return Changed();
}

void pfParameterRGB::Validate() {
  auto clamp = [](double c) {
    if (c < 0.0) c = 0.0;
    if (c > 1.0) c = 1.0;
    return std::isnan(c) ? 0.0 : PlusZero(c); // 0 is the hard minimum of every channel
  };
  const double r = clamp(r_), g = clamp(g_), b = clamp(b_);
  if (!SameValue(r, r_) || !SameValue(g, g_) || !SameValue(b, b_)) Store(r, g, b);
}

void pfParameterRGB::WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) {
  PutFloat(record, token, rKey_, r_);
  PutFloat(record, token, gKey_, g_);
  PutFloat(record, token, bKey_, b_);
}

void pfParameterRGB::ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) {
  if (!IsSetKey(rKey_, key) && !IsSetKey(gKey_, key) && !IsSetKey(bKey_, key)) return;
  double v;
  if (!GetFloat(record, token, v)) return;
  double r = r_, g = g_, b = b_;
  if (IsSetKey(rKey_, key)) r = v;
  if (IsSetKey(gKey_, key)) g = v;
  if (IsSetKey(bKey_, key)) b = v;
  if (r != r_ || g != g_ || b != b_) Store(r, g, b);
}

int pfParameterRGB::GetScriptKeyCount() const { return (rKey_ ? 1 : 0) + (gKey_ ? 1 : 0) + (bKey_ ? 1 : 0); }

void pfParameterRGB::GetScriptKeys(DescriptorKeyID* keys) const {
  if (rKey_) *keys++ = rKey_;
  if (gKey_) *keys++ = gKey_;
  if (bKey_) *keys++ = bKey_;
}

pfUndo* pfParameterRGB::CreateUndo() { return new pfUndoParameterRGB(this); }

void pfParameterRGB::Randomize(double amount) {
  if (!IsRandomizable()) return;
  if (amount > 2.0) amount = 2.0;
  const double ur = RandomUnit(), ug = RandomUnit(), ub = RandomUnit();
  const double r = ReflectIntoRange(r_ + (ur - 0.5) * amount, 1.0);
  const double g = ReflectIntoRange(g_ + (ug - 0.5) * amount, 1.0);
  const double b = ReflectIntoRange(b_ + (ub - 0.5) * amount, 1.0);
  if (r != r_ || g != g_ || b != b_) Store(r, g, b);
  Validate();
}

bool pfParameterRGB::AssignFrom(const pfParameter& source) {
  if (source.GetKind() != GetKind()) return false;
  *this = static_cast<const pfParameterRGB&>(source);
  return true;
}

std::string pfParameterRGB::FormatPresetLine() const {
  return Name() + " " + Fixed6(r_) + " " + Fixed6(g_) + " " + Fixed6(b_);
}

bool pfParameterRGB::SetFromPresetValues(const std::string* values) {
  return SetColor(ParsePresetReal(values[0]), ParsePresetReal(values[1]), ParsePresetReal(values[2]));
}

} // namespace ov
