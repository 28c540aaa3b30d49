// preview_logic.h - the dialog's arithmetic and rules, free of any window system, so that the
// native build tests them and the Win32 shell only moves their results into windows.
//
// Zoom: a scale factor n >= 1 shows the image reduced n times, n < 1 magnifies it (0, -1, -2
// give 133.3 %, 200 %, 266.7 %). The proxy is set up for the effective factor
// max(n, 1) + level; displayRatio is proxy pixels per screen pixel, chosen so that a coarser
// proxy (level > 0) keeps the apparent size of level 0.
//
// Preview bitmap: stride = (width / 32 + 1) * 32 pixels of 3 bytes per row. With the host's
// pixel-display callback rows run top-down as red, green, blue; without it the bitmap is a
// bottom-up device-independent one, blue, green, red. Transparent pixels lie over a
// checkerboard of 16 full-image pixels (255 and 208). Samples become bytes clamped to
// 0..255; a negative or NaN sample gives 0 (not its low byte).
//
// Typed numbers: a field's text counts only when strtod consumes all of it and the number is
// finite ("nan", "inf" and overflowing exponents are refused).
//
// Registry data: a stored value is used only when its size is the one expected, whatever
// type it was stored with; a string is cut at its first NUL, and one that does not fit the
// reader's buffer (its terminator included) is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace ov {

class pfParameter;

namespace ui {

// ---- zoom ------------------------------------------------------------------------------------
struct Zoom {
  double label = 100.0;        // percent shown beside the zoom buttons
  double displayRatio = 1.0;   // proxy pixels per screen pixel
  int32_t effectiveFactor = 1; // the factor the proxy is set up for
};
Zoom ComputeZoom(int32_t factor, uint32_t level);
// "100%", "33.33%", "133.3%": four significant digits and a percent sign.
std::string ZoomLabelText(double label);
// The factor that shows the whole image in the frame: max(w / fw + 1, h / fh + 1) in 16-bit
// arithmetic (an image that fits exactly gets the next factor). A frame without area gives 1.
int32_t FitFactor(int32_t imageW, int32_t imageH, int32_t frameW, int32_t frameH);
// Width in pixels of a preview bitmap row: a whole block of 32 added even to a multiple of 32.
int32_t BufferStride(int32_t width);
// The view centre along one axis in old proxy pixels: frame * ratio / 2 + pan, or the middle
// of the proxy when all of it is visible.
int32_t ViewCentre(int32_t frame, double oldRatio, int32_t pan, int32_t oldSize);
// The pan that puts `centre` (old proxy pixels) in the middle of the frame of the new proxy.
int32_t PanForCentre(int32_t centre, int32_t newSize, int32_t oldSize, double ratio, int32_t frame);

// ---- bitmap ----------------------------------------------------------------------------------
// Colour planes and alpha of the host's output, by the record's layer description and mode.
struct PreviewPlanes {
  int32_t colours = 0; // 1 to 3
  bool alpha = false;
  bool valid = false;  // false: an image mode the preview cannot show
};
PreviewPlanes PreviewPlanesOf(const FilterRecord& record);
// Converts the record's output rectangle (outData) into `buffer` (stride x height x 3 bytes).
// Answers false (nothing written) without a buffer, without outData, for an unknown image
// mode, or when the output is larger than the buffer.
bool DrawToPreviewBuffer(const FilterRecord& record, uint8_t* buffer, int32_t stride, int32_t height,
                         bool hostDisplay);
// One sample of the host's depth (8, 16 or 32) as 0..255, clamped; NaN gives 0.
double SampleToByteRange(const uint8_t* sample, int32_t depth);

// A point of the preview window to normalised image coordinates (no clamping).
struct FrameGeometry {
  int32_t left = 0, top = 0, width = 0, height = 0;
};
void PreviewToImagePoint(const FrameGeometry& frame, int32_t inW, int32_t inH, double displayRatio, int32_t panX,
                         int32_t panY, int32_t x, int32_t y, double& u, double& v);
// The title's coordinate: value truncated to one decimal place.
double TitleCoordinate(double normalised, int32_t proxySize, int32_t effectiveFactor);

// ---- render scheduling -----------------------------------------------------------------------
// The refinement loop of one idle turn. `render` renders at the level given and answers the
// host result; `coarser` sets up the proxy again after the level changed; `show` takes a
// finished render into the preview. `changed` is the flag a parameter change sets (also from
// inside a render). A render answered -128 is repeated one level coarser; a successful
// coarse render is followed by a full one at `defaultLevel`; another failure ends the turn.
struct RenderHooks {
  std::function<int16_t(uint32_t level)> render;
  std::function<void()> reassign;
  std::function<void()> show;
};
// Answers the last render result (0 when nothing was rendered).
int16_t RunRenderTurn(uint32_t& level, uint32_t defaultLevel, bool& changed, const RenderHooks& hooks);

// ---- numeric fields --------------------------------------------------------------------------
// The whole text as a finite number (leading blanks allowed, nothing after the number).
bool ParseFieldNumber(const char* text, double& value);
// A Float value as the edit field shows it: general notation, 6 significant digits.
std::string FormatFloatField(double value);
// Trackbar units of a Float: value * 100 truncated toward zero (saturating at the ends of
// the 32-bit range, where a trackbar position lives).
int32_t FloatTrackbarPosition(double value);
int32_t IntPageSize(int32_t minimum, int32_t maximum);
int32_t FloatPageSize(double minimum, double maximum);
// A typed Float: clamped only at a hard limit.
double ClampTypedFloat(double typed, double minimum, bool minimumHard, double maximum, bool maximumHard);
// A typed Int: truncated toward zero and saturated at the 32-bit range.
int32_t TypedInt(double typed);

// ---- angle -----------------------------------------------------------------------------------
// v = 360 t + d with 0 <= d < 360.
void SplitTurns(double value, int32_t& turns, double& degrees);
// Degrees with two decimals ("45.00").
std::string FormatDegrees(double degrees);
// The angle (degrees, clockwise from the top, screen y downward) of a dial point relative to
// the centre, the whole turn chosen nearest to `current`. False at the centre.
bool AngleFromDialPoint(double current, int32_t dx, int32_t dy, double& result);
// The dial hand's end point for a value (0 points up, clockwise).
void DialHandEnd(double value, int32_t cx, int32_t cy, int32_t radius, int32_t& x, int32_t& y);

// ---- position fields -------------------------------------------------------------------------
// The text a position field shows for a normalised coordinate: keeps `current` when it parses
// to exactly that coordinate, else the truncated pixel coordinate.
std::string PositionFieldText(const char* current, double coordinate, int32_t size);

// ---- placement -------------------------------------------------------------------------------
// A stored window corner put back on the virtual screen: negative -> 0, beyond the width
// (height) -> width - 50 (height - 50). Nothing changes when a screen dimension is 0.
void ClampToVirtualScreen(int32_t& x, int32_t& y, int32_t screenW, int32_t screenH);
// First-use placement of the preview window: a square of two thirds of the screen width,
// centred on the screen.
void DefaultPreviewPlacement(int32_t screenW, int32_t screenH, int32_t& x, int32_t& y, int32_t& side);
// The grey a swatch shows in the grey image modes (1 and 10).
double SwatchGrey(double red, double green, double blue);
bool IsGreySwatchMode(int16_t imageMode);

// ---- registry data ---------------------------------------------------------------------------
constexpr uint32_t kRegString = 1; // REG_SZ
constexpr uint32_t kRegBinary = 3; // REG_BINARY
constexpr uint32_t kRegDword = 4;  // REG_DWORD
// The values under the plug-in's key (RegistryKeyPath, under the current user): the panel's
// are written when the panel closes, the preview window's when it closes, whether the dialog
// ended with OK or Cancel. The last used parameter values live in the subkey kLastUsedSubkey,
// written only after OK.
struct RegistryValue {
  const char* name;
  uint32_t type;
};
constexpr RegistryValue kInterfacePositionX{"Interface Position X", kRegDword};
constexpr RegistryValue kInterfacePositionY{"Interface Position Y", kRegDword};
constexpr RegistryValue kPresetPath{"Preset Path", kRegString};              // read into 256 bytes
constexpr RegistryValue kFixedPreview{"Interface FixedPreview", kRegBinary}; // the live-preview byte
constexpr RegistryValue kPreviewPositionX{"Preview Position X", kRegDword};
constexpr RegistryValue kPreviewPositionY{"Preview Position Y", kRegDword};
constexpr RegistryValue kPreviewWidth{"Preview Position Width", kRegDword};
constexpr RegistryValue kPreviewHeight{"Preview Position Height", kRegDword};
constexpr RegistryValue kPreviewState{"Preview State", kRegDword};
constexpr const char* kLastUsedSubkey = "\\LastUsed";
constexpr size_t kPresetPathBytes = 256;

// Raw data as stored: type and bytes.
struct RegistryData {
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};
// A value of up to 4 bytes as a little-endian signed 32-bit number read into a zeroed buffer
// (a 2-byte value gives those two bytes); longer values are refused. An empty value is read
// but leaves `value` as it was, as a query that writes nothing does. The type it was stored
// with is not checked.
bool DecodeDword(const RegistryData& data, int32_t& value);
// A string value cut at its first NUL; refused when it does not fit `capacity` bytes with
// its terminator.
bool DecodeString(const RegistryData& data, size_t capacity, std::string& value);
// A value of up to `size` bytes, read into `size` bytes that start zeroed (a shorter value
// leaves the rest 0); a longer value is refused and leaves `out` alone, and an empty one is
// read and leaves it alone too (the caller's starting value stands).
bool DecodeBinary(const RegistryData& data, size_t size, void* out);

// Last used values: one or more named binary values per saved parameter (Float 8-byte
// double, Int 4-byte integer, Bool 1 byte, List the 4-byte selection, Position name_X and
// name_Y doubles, RGB name_red, name_green, name_blue doubles), little-endian.
struct NamedValue {
  std::string name;
  RegistryData data;
};
std::vector<NamedValue> EncodeLastUsed(const pfParameter& parameter);
// Applies the stored values of one parameter through its setters; `lookup` answers the raw
// data of a value name (false when absent). A Position or RGB changes only when all of its
// values are present and well formed; a value longer than its buffer is ignored, a shorter
// one reads into a buffer that starts zeroed (an empty one reads 0).
// Answers whether something was set.
bool ApplyLastUsed(pfParameter& parameter, const std::function<bool(const std::string&, RegistryData&)>& lookup);

// ---- presets ---------------------------------------------------------------------------------
// The name a preset is saved under: every blank becomes an underscore.
std::string PresetNameFromInput(std::string text);
// The list index selected after deleting item `index` of a list: the previous item, or the
// next one when the first is deleted.
int32_t NeighbourAfterDelete(int32_t index);
// Index of `name` in `names`, compared without regard to case; -1 when absent.
int32_t FindPresetName(const std::vector<std::string>& names, const std::string& name);

} // namespace ui
} // namespace ov
