// parameter.h - typed filter parameters.
//
// One abstract base, ov::pfParameter, and six kinds: Position, Bool, Int, Float, List, RGB.
// A parameter knows its name (the key of its presets-file line), the dialog control bound to
// it (never owned), a change callback with its context, three flags (saved, affects image,
// randomizable), its scripting key or keys, and how to validate, read and write itself
// through the host's scripting descriptor, make an undo record and randomise itself.
//
// Setter rules (the table test in tests/host pins them):
// - every setter compares for exact equality; unchanged -> false; changed -> store,
//   UpdateUI(), and answer the affects-image flag;
// - the change callback runs after every Bool and Float set (changed or not) and after every
//   List Select of an index within 1..item count; Int, Position and RGB never call it;
// - a List index outside 1..item count is ignored entirely (false, no store, no callback).
// Limits: an Int or Float limit whose hard flag is clear is only the range of the control;
// Validate enforces the hard ones. List values are 1-based everywhere.
//
// Values that are not finite: after the kind's own clamps, Validate replaces a value that is
// still NaN or infinite by the hard minimum when the parameter has one, else by its default
// (SetDefault; the kind's initial value until then), so nothing non-finite read from a
// presets file, a descriptor or the registry survives the next Validate.
//
// Parameters are used on the host's thread only; nothing is locked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.h"

namespace ov {

class pfParameterUI;
class pfUndo;
class pfParameter;

// Change callback: the parameter and the context given with it; the result is ignored.
using pfParameterCallback = void (*)(pfParameter* parameter, void* context);

enum class pfParameterKind { Position, Bool, Int, Float, List, RGB };

// The pseudo-random source of Randomize: integers uniform in 0..32767 from one process-wide
// generator (a 32-bit linear congruential sequence, the same on every platform).
void SeedParameterRandom(uint32_t seed);
int32_t ParameterRandom();

// Folds a value into [0, width) by reflection at the range ends (width a whole number > 0);
// a result equal to width becomes width - 0.0001. A width that is not above 0 (or not a
// number) leaves the value as it is.
double ReflectIntoRange(double value, double width);

// The longest decimal prefix of a presets-file token as a number (0 when there is none).
// Integers saturate at the ends of the signed 32-bit range; reals accept sign, digits, one
// point and an exponent, never "inf", "nan" or hexadecimal.
int32_t ParsePresetInteger(std::string_view token);
double ParsePresetReal(std::string_view token);

class pfParameter {
public:
  pfParameter() = default;
  pfParameter(const pfParameter&) = default;
  pfParameter& operator=(const pfParameter&) = default;
  // Frees the name (and a List's items); the bound control is not touched.
  virtual ~pfParameter();

  // Brings the value back within the kind's hard limits (and replaces non-finite values).
  virtual void Validate() = 0;
  // When a control is bound, its Update(); otherwise nothing.
  virtual void UpdateUI();
  // Puts the parameter's set keys through the record's write-descriptor procedures.
  virtual void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) = 0;
  // Reads the value of `key` when it is one of the parameter's set keys; a non-zero answer
  // of the host's get procedure leaves the parameter untouched.
  virtual void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) = 0;
  // Number of set keys (0 or 1; Position 0..2; RGB 0..3).
  virtual int GetScriptKeyCount() const = 0;
  // Writes the set keys from keys[0] on, in the order x, y and r, g, b.
  virtual void GetScriptKeys(DescriptorKeyID* keys) const = 0;
  // A new undo record of the matching kind holding this parameter and its value; the caller
  // owns it.
  virtual pfUndo* CreateUndo() = 0;
  // Randomises the value by `amount` (nothing when the randomizable flag is clear).
  virtual void Randomize(double amount) = 0;

  // Further operations of this implementation (after the slots above).
  virtual pfParameterKind GetKind() const = 0;
  // A newly constructed parameter of the same kind with the kind's defaults.
  virtual pfParameter* CreateDefault() const = 0;
  // Copy-assigns `source` when it is of the same kind; answers whether it was.
  virtual bool AssignFrom(const pfParameter& source) = 0;
  // The presets-file line of the parameter, without the line end: "name value...".
  virtual std::string FormatPresetLine() const = 0;
  // Number of value tokens of a presets line (Position 2, RGB 3, the others 1).
  virtual int GetPresetValueCount() const = 0;
  // Sets the value from presets tokens (GetPresetValueCount of them) with the setter's
  // rules; answers what the setter answered.
  virtual bool SetFromPresetValues(const std::string* values) = 0;

  void SetName(std::string name) { name_ = std::move(name); }
  std::string GetName() const { return name_; }
  const std::string& Name() const { return name_; }
  pfParameterUI* GetUI() const { return control_; }
  void SetChangeCallback(pfParameterCallback callback, void* context) {
    callback_ = callback;
    callbackContext_ = context;
  }
  pfParameterCallback GetChangeCallback() const { return callback_; }
  void* GetCallbackContext() const { return callbackContext_; }
  void SetSaved(bool saved) { saved_ = saved; }
  bool IsSaved() const { return saved_; }
  void SetAffectsImage(bool affects) { affectsImage_ = affects; }
  bool AffectsImage() const { return affectsImage_; }
  void SetRandomizable(bool randomizable) { randomizable_ = randomizable; }
  bool IsRandomizable() const { return randomizable_; }

  // The control link; set by pfParameterUI::AttachParameter, cleared by DetachParameter.
  void SetUILink(pfParameterUI* control) { control_ = control; }

protected:
  void FireCallback() {
    if (callback_) callback_(this, callbackContext_);
  }
  // What a setter answers for a changed value.
  bool Changed() {
    UpdateUI();
    return affectsImage_;
  }

private:
  std::string name_;
  pfParameterUI* control_ = nullptr;
  pfParameterCallback callback_ = nullptr;
  void* callbackContext_ = nullptr;
  bool saved_ = true;
  bool affectsImage_ = true;
  bool randomizable_ = true;
};

// A point in 0..1 (no limits are enforced).
class pfParameterPosition : public pfParameter {
public:
  bool SetPosition(double x, double y);
  double GetX() const { return x_; }
  double GetY() const { return y_; }
  void SetScriptKey(DescriptorKeyID xKey, DescriptorKeyID yKey) {
    xKey_ = xKey;
    yKey_ = yKey;
  }
  // The value a non-finite coordinate is replaced by (initially 0, 0).
  void SetDefault(double x, double y) {
    defaultX_ = x;
    defaultY_ = y;
  }

  void Validate() override;
  void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) override;
  void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) override;
  int GetScriptKeyCount() const override;
  void GetScriptKeys(DescriptorKeyID* keys) const override;
  pfUndo* CreateUndo() override;
  void Randomize(double amount) override;
  pfParameterKind GetKind() const override { return pfParameterKind::Position; }
  pfParameter* CreateDefault() const override { return new pfParameterPosition; }
  bool AssignFrom(const pfParameter& source) override;
  std::string FormatPresetLine() const override;
  int GetPresetValueCount() const override { return 2; }
  bool SetFromPresetValues(const std::string* values) override;

private:
  void Store(double x, double y);
  double x_ = 0.0, y_ = 0.0;
  double defaultX_ = 0.0, defaultY_ = 0.0;
  DescriptorKeyID xKey_ = 0, yKey_ = 0;
};

class pfParameterBool : public pfParameter {
public:
  bool SetValue(bool value);
  bool GetValue() const { return value_; }
  void SetScriptKey(DescriptorKeyID key) { key_ = key; }

  void Validate() override {}
  void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) override;
  void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) override;
  int GetScriptKeyCount() const override { return key_ ? 1 : 0; }
  void GetScriptKeys(DescriptorKeyID* keys) const override;
  pfUndo* CreateUndo() override;
  void Randomize(double amount) override;
  pfParameterKind GetKind() const override { return pfParameterKind::Bool; }
  pfParameter* CreateDefault() const override { return new pfParameterBool; }
  bool AssignFrom(const pfParameter& source) override;
  std::string FormatPresetLine() const override;
  int GetPresetValueCount() const override { return 1; }
  bool SetFromPresetValues(const std::string* values) override;

private:
  bool value_ = false;
  DescriptorKeyID key_ = 0;
};

// The limits of the Int and Float kinds: a minimum and a maximum (initially 0 and 1), each
// with a hard flag. A hard limit is enforced by Validate; a soft one is only the control's
// range.
template <class T>
class pfParameterLimits : public pfParameter {
public:
  void SetMinimum(T value, bool hard) {
    minimum_ = value;
    minimumHard_ = hard;
  }
  void SetMaximum(T value, bool hard) {
    maximum_ = value;
    maximumHard_ = hard;
  }
  T GetMinimum() const { return minimum_; }
  T GetMaximum() const { return maximum_; }
  bool IsMinimumClamped() const { return minimumHard_; }
  bool IsMaximumClamped() const { return maximumHard_; }

protected:
  // `value` brought within the hard limits. A NaN passes a hard minimum and meets a hard
  // maximum, which then replaces it.
  T ClampToHardLimits(T value) const {
    if (minimumHard_ && minimum_ > value) value = minimum_;
    if (maximumHard_ && !(maximum_ >= value)) value = maximum_;
    return value;
  }

  T minimum_ = T(0), maximum_ = T(1);
  bool minimumHard_ = false, maximumHard_ = false;
};

class pfParameterInt : public pfParameterLimits<int32_t> {
public:
  bool SetValue(int32_t value);
  int32_t GetValue() const { return value_; }
  void SetScriptKey(DescriptorKeyID key) { key_ = key; }

  void Validate() override;
  void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) override;
  void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) override;
  int GetScriptKeyCount() const override { return key_ ? 1 : 0; }
  void GetScriptKeys(DescriptorKeyID* keys) const override;
  pfUndo* CreateUndo() override;
  void Randomize(double amount) override;
  pfParameterKind GetKind() const override { return pfParameterKind::Int; }
  pfParameter* CreateDefault() const override { return new pfParameterInt; }
  bool AssignFrom(const pfParameter& source) override;
  std::string FormatPresetLine() const override;
  int GetPresetValueCount() const override { return 1; }
  bool SetFromPresetValues(const std::string* values) override;

private:
  int32_t value_ = 0;
  DescriptorKeyID key_ = 0;
};

class pfParameterFloat : public pfParameterLimits<double> {
public:
  bool SetValue(double value);
  double GetValue() const { return value_; }
  void SetScriptKey(DescriptorKeyID key) { key_ = key; }
  // The value a non-finite value is replaced by when there is no hard minimum (initially 0).
  void SetDefault(double value) { default_ = value; }
  double GetDefault() const { return default_; }

  void Validate() override;
  void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) override;
  void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) override;
  int GetScriptKeyCount() const override { return key_ ? 1 : 0; }
  void GetScriptKeys(DescriptorKeyID* keys) const override;
  pfUndo* CreateUndo() override;
  void Randomize(double amount) override;
  pfParameterKind GetKind() const override { return pfParameterKind::Float; }
  pfParameter* CreateDefault() const override { return new pfParameterFloat; }
  bool AssignFrom(const pfParameter& source) override;
  std::string FormatPresetLine() const override;
  int GetPresetValueCount() const override { return 1; }
  bool SetFromPresetValues(const std::string* values) override;

private:
  double value_ = 0.0;
  double default_ = 0.0;
  DescriptorKeyID key_ = 0;
};

class pfParameterList : public pfParameter {
public:
  // Selects a 1-based index; see the setter rules at the top.
  bool Select(int32_t index);
  int32_t GetSelection() const { return selection_; }
  void SetScriptKey(DescriptorKeyID key) { key_ = key; }
  void AddItem(std::string text) { items_.push_back(std::move(text)); }
  void ClearItems() { items_.clear(); }
  int32_t GetItemCount() const { return int32_t(items_.size()); }
  // 0-based; empty for an index outside 0..count-1.
  std::string GetItemText(int32_t index) const;
  // " none", then the document's channels (red, green, blue, transparency, alpha N).
  void FillChannelNames(const FilterRecord* record);

  void Validate() override;
  void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) override;
  void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) override;
  int GetScriptKeyCount() const override { return key_ ? 1 : 0; }
  void GetScriptKeys(DescriptorKeyID* keys) const override;
  pfUndo* CreateUndo() override;
  void Randomize(double amount) override;
  pfParameterKind GetKind() const override { return pfParameterKind::List; }
  pfParameter* CreateDefault() const override { return new pfParameterList; }
  bool AssignFrom(const pfParameter& source) override;
  std::string FormatPresetLine() const override;
  int GetPresetValueCount() const override { return 1; }
  bool SetFromPresetValues(const std::string* values) override;

private:
  int32_t selection_ = 1;
  std::vector<std::string> items_;
  DescriptorKeyID key_ = 0;
};

// A colour, each channel 0..1 (hard limits).
class pfParameterRGB : public pfParameter {
public:
  bool SetColor(double r, double g, double b);
  void GetColor(double& r, double& g, double& b) const {
    r = r_;
    g = g_;
    b = b_;
  }
  void SetScriptKey(DescriptorKeyID rKey, DescriptorKeyID gKey, DescriptorKeyID bKey) {
    rKey_ = rKey;
    gKey_ = gKey;
    bKey_ = bKey;
  }

  void Validate() override;
  void WriteScriptParam(FilterRecord* record, PIWriteDescriptor token) override;
  void ReadScriptParam(FilterRecord* record, DescriptorKeyID key, PIReadDescriptor token) override;
  int GetScriptKeyCount() const override;
  void GetScriptKeys(DescriptorKeyID* keys) const override;
  pfUndo* CreateUndo() override;
  void Randomize(double amount) override;
  pfParameterKind GetKind() const override { return pfParameterKind::RGB; }
  pfParameter* CreateDefault() const override { return new pfParameterRGB; }
  bool AssignFrom(const pfParameter& source) override;
  std::string FormatPresetLine() const override;
  int GetPresetValueCount() const override { return 3; }
  bool SetFromPresetValues(const std::string* values) override;

private:
  void Store(double r, double g, double b);
  double r_ = 1.0, g_ = 1.0, b_ = 1.0;
  DescriptorKeyID rKey_ = 0, gKey_ = 0, bKey_ = 0;
};

} // namespace ov
