// parameters.h - the ordered parameter set, presets files and the scripting descriptor.
//
// ov::pfParameters is an ordered, non-owning array of a filter's parameters. Its order is
// the order of everything done for all parameters: validation, presets lines, scripting
// keys, last-used values and undo records.
//
// Presets file: 8-bit text whose lines end in the platform's line end ("\r\n" on Windows):
//   FileOwner <filter name>
//   <empty line>
//   name <preset name, blanks replaced by "_">
//   <parameter name> <value>...        one line per saved parameter, in set order
// Readers split it into tokens at any white space. A token longer than kMaxPresetToken
// bytes, or a file longer than kMaxPresetFile bytes, makes the file unreadable: the
// operation answers false and changes nothing (neither the parameters nor the file).
// Save and Delete write the new content to path + "tmp" and rename it over the file, so
// the presets file is either the old or the new one, never lost; any failure answers false.
//
// Every operation but Add, GetCount, GetParameter, ValidateAll, UpdateAllUI, DeleteAll and
// RandomizeAll is traced with the heads "pfParmeters::..." (spelled so).
// Used on the host's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace ov {

class pfParameter;
class pfUndoStack;

constexpr size_t kMaxPresetToken = 1024;
constexpr size_t kMaxPresetFile = 16u << 20;

class pfParameters {
public:
  pfParameters() = default;
  // Frees the array only: the parameters belong to their owner.
  virtual ~pfParameters() = default;
  pfParameters(const pfParameters&) = delete;
  pfParameters& operator=(const pfParameters&) = delete;

  void Add(pfParameter* parameter) { parameters_.push_back(parameter); }
  int GetCount() const { return int(parameters_.size()); }
  // 0-based; null outside 0..count-1.
  pfParameter* GetParameter(int index) const {
    return index >= 0 && index < GetCount() ? parameters_[size_t(index)] : nullptr;
  }
  void ValidateAll();
  // The bound control's Update for each parameter that has one.
  void UpdateAllUI();
  // Deletes every parameter (front first) and empties the set; for owners that allocate
  // their parameters one by one.
  void DeleteAll();
  // Seeds the random source with the tick count; pushes each randomizable parameter's undo
  // record (when a ring is given), randomises it, and closes the undo step.
  void RandomizeAll(double amount, pfUndoStack* undo);

  // Applies the preset `name` (as stored) of the file; undo records go to `undo` when given,
  // and the whole preset becomes one undo step. False when not found or unreadable.
  bool LoadSettings(std::string name, std::string path, pfUndoStack* undo);
  // Writes or replaces the preset `name` (blanks become "_"); creates the file with the
  // owner line when it does not exist. False when the file belongs to another filter, is
  // unreadable, or cannot be written.
  bool SaveSettings(std::string name, std::string path, std::string filterName);
  // Removes the preset `name` (as stored). False when missing, unreadable or not written.
  bool DeleteSettings(std::string name, std::string path);
  // Appends the preset names of the file (the list is not cleared). True for a file that
  // does not exist (no names); false for an empty path, another owner or an unreadable file.
  bool GetSettingNames(std::string path, std::list<std::string>& names, std::string filterName);
  // Owner check: false for an empty path or a file without owner line; true for a file that
  // cannot be opened (it will be created) or whose owner is filterName; for another owner
  // false, and that owner's name is written into filterName.
  bool IsSettingFileValid(std::string path, std::string& filterName);

  // Reads the keys the host recorded into the parameters; answers whether the dialog is to
  // be shown (true also without a usable descriptor interface).
  bool ReadScriptParams(FilterRecord* record);
  // Writes every parameter's keys into a new descriptor; the host result (0 without a
  // usable descriptor interface).
  OSErr WriteScriptParams(FilterRecord* record);

  // A new set holding, for each parameter, a new parameter of the same kind with the kind's
  // defaults; the caller owns the set and (through DeleteAll) its parameters.
  pfParameters* Generate();
  // Assigns source parameters to destination parameters of the same kind, index by index;
  // each destination keeps its own control link.
  static void CopyParameters(pfParameters* source, pfParameters* destination);

private:
  std::vector<pfParameter*> parameters_;
};

} // namespace ov
