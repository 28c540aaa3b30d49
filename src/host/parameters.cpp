// The ordered parameter set: validation, presets files and the scripting descriptor.
//
// Presets files are read whole (at most kMaxPresetFile bytes) and split into tokens at
// white space; a token longer than kMaxPresetToken makes the file unreadable. Save and
// Delete build the new content in memory from the old bytes (every byte value is data),
// write it to path + "tmp" and rename that over the file: on any failure the old file
// stays as it was and the operation answers false.
#include "host/parameters.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <string_view>

#include "core/logger.h"
#include "host/host_os.h"
#include "host/parameter.h"
#include "host/sdk_utils.h"
#include "host/undo.h"
#include "platform/platform.h"
#include "ui/parameter_ui.h"

namespace ov {

namespace {

enum class FileRead { Ok, NotFound, CannotOpen, Unreadable };

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

FileRead ReadPresetFile(const std::string& path, std::string& content) {
  content.clear();
  errno = 0;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return errno == ENOENT ? FileRead::NotFound : FileRead::CannotOpen;
  char buffer[8192];
  FileRead result = FileRead::Ok;
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof(buffer), f);
    content.append(buffer, n);
    if (content.size() > kMaxPresetFile) {
      result = FileRead::Unreadable;
      break;
    }
    if (n < sizeof(buffer)) {
      if (std::ferror(f)) result = FileRead::Unreadable;
      break;
    }
  }
  std::fclose(f);
  // A token longer than the bound anywhere makes the whole file unreadable, so that every
  // operation sees the same file.
  size_t run = 0;
  for (size_t i = 0; result == FileRead::Ok && i < content.size(); ++i) {
    run = IsSpace(content[i]) ? 0 : run + 1;
    if (run > kMaxPresetToken) result = FileRead::Unreadable;
  }
  if (result != FileRead::Ok) content.clear();
  return result;
}

// Writes the content to `temporary` and renames it over `path`. On failure the temporary
// file is removed and `path` is untouched; `opened` tells whether the temporary file could
// be created at all.
bool WriteAndReplace(const std::string& path, const std::string& temporary, const std::string& content,
                     bool& opened) {
  opened = false;
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) return false;
  opened = true;
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  ok = ok && hostos::ReplaceFileWith(temporary, path);
  if (!ok) std::remove(temporary.c_str());
  return ok;
}


// Tokens of a presets file, with byte positions for the copying edits.
class TokenReader {
public:
  enum Result { kToken, kEnd, kError };
  explicit TokenReader(std::string_view data) : data_(data) {}
  Result Next(std::string_view& token) {
    while (pos_ < data_.size() && IsSpace(data_[pos_])) ++pos_;
    if (pos_ >= data_.size()) return kEnd;
    const size_t start = pos_;
    while (pos_ < data_.size() && !IsSpace(data_[pos_])) ++pos_;
    if (pos_ - start > kMaxPresetToken) return kError;
    token = data_.substr(start, pos_ - start);
    return kToken;
  }
  // Just after the last token read (before the white space that follows it).
  size_t Position() const { return pos_; }

private:
  std::string_view data_;
  size_t pos_ = 0;
};

// Reads up to and including the name token of preset `name`: a "name" token followed by a
// token equal to `name`. kToken when found; blockStart then holds the position before that
// "name" token (just after the token before it).
TokenReader::Result FindPreset(TokenReader& reader, std::string_view name, size_t* blockStart = nullptr) {
  std::string_view token;
  for (;;) {
    const size_t before = reader.Position();
    TokenReader::Result r = reader.Next(token);
    if (r != TokenReader::kToken) return r;
    if (token != "name") continue;
    r = reader.Next(token);
    if (r != TokenReader::kToken) return r;
    if (token == name) {
      if (blockStart) *blockStart = before;
      return TokenReader::kToken;
    }
  }
}

// Skips tokens until a "name" token (kToken) or the end.
TokenReader::Result SkipToNextBlock(TokenReader& reader) {
  std::string_view token;
  for (;;) {
    const TokenReader::Result r = reader.Next(token);
    if (r != TokenReader::kToken || token == "name") return r;
  }
}

std::string WithUnderscores(std::string name) {
  for (char& c : name)
    if (c == ' ') c = '_';
  return name;
}

const char* LineEnd() { return hostos::TextLineEnd(); }

} // namespace

// ---- the set ------------------------------------------------------------------------------------

void pfParameters::ValidateAll() {
  for (pfParameter* p : parameters_) p->Validate();
}

void pfParameters::UpdateAllUI() {
  for (pfParameter* p : parameters_)
    if (pfParameterUI* control = p->GetUI()) control->Update();
}

void pfParameters::DeleteAll() {
  for (pfParameter* p : parameters_) delete p;
  parameters_.clear();
}

void pfParameters::RandomizeAll(double amount, pfUndoStack* undo) {
  SeedParameterRandom(pel::platform::TickCount());
  for (pfParameter* p : parameters_) {
    if (!p->IsRandomizable()) continue;
    if (undo) undo->Push(p->CreateUndo());
    p->Randomize(amount);
  }
  if (undo) undo->BeginStep();
}

// ---- presets file -----------------------------------------------------------------------------

bool pfParameters::IsSettingFileValid(std::string path, std::string& filterName) {
  LogTrace("pfParmeters::IsSettingFileValid( strPath(", path, "), strFilterName(", filterName, ") )\n");
  LogScope scope;
  bool result = false;
  std::string content;
  if (path.empty()) {
    result = false;
  } else if (const FileRead read = ReadPresetFile(path, content); read != FileRead::Ok) {
    result = read != FileRead::Unreadable; // a file that cannot be opened will be created
  } else {
    TokenReader reader(content);
    std::string_view token;
    TokenReader::Result r;
    while ((r = reader.Next(token)) == TokenReader::kToken && token != "FileOwner") {
    }
    if (r == TokenReader::kToken && reader.Next(token) == TokenReader::kToken) {
      result = token == filterName;
      if (!result) filterName.assign(token);
    }
  }
  LogTrace("pfParmeters::IsSettingFileValid( return(", result, ") )\n");
  return result;
}

bool pfParameters::GetSettingNames(std::string path, std::list<std::string>& names, std::string filterName) {
  LogTrace("pfParmeters::GetSettingNames( strPath(", path, "), lstNames(), strFilterName(", filterName, ") )\n");
  LogScope scope;
  std::string owner = filterName;
  bool result = !path.empty() && IsSettingFileValid(path, owner);
  std::string content;
  if (result && ReadPresetFile(path, content) == FileRead::Ok) {
    TokenReader reader(content);
    std::list<std::string> found;
    std::string_view token;
    TokenReader::Result r;
    while ((r = reader.Next(token)) == TokenReader::kToken) {
      if (token != "name") continue;
      if ((r = reader.Next(token)) != TokenReader::kToken) break;
      found.emplace_back(token);
    }
    if (r == TokenReader::kError) result = false; // an unreadable file gives no names
    else names.splice(names.end(), found);
  }
  LogTrace("pfParmeters::GetSettingNames( return(", result, ") )\n");
  return result;
}

bool pfParameters::LoadSettings(std::string name, std::string path, pfUndoStack* undo) {
  LogTrace("pfParmeters::LoadSettings( strName(", name, "), strPath(", path, "), pFilter(", HexPtr(undo), ") )\n");
  LogScope scope;
  bool result = false;
  std::string content;
  FileRead read = FileRead::NotFound;
  if (!name.empty() && !path.empty()) {
    read = ReadPresetFile(path, content);
    if (read == FileRead::NotFound || read == FileRead::CannotOpen)
      LogWarning("Could not open file for reading: '", path, "'\n");
  }
  if (read == FileRead::Ok) {
    TokenReader reader(content);
    if (FindPreset(reader, name) == TokenReader::kToken) {
      // Parse the whole block first, so that an unreadable file changes nothing.
      struct Assignment {
        pfParameter* parameter;
        std::string values[3];
      };
      std::vector<Assignment> block;
      bool readable = true;
      std::string_view key, value;
      for (;;) {
        TokenReader::Result r = reader.Next(key);
        if (r == TokenReader::kToken && key == "name") break;
        if (r == TokenReader::kToken) r = reader.Next(value);
        if (r != TokenReader::kToken) {
          readable = r != TokenReader::kError; // the file ends inside the block: the block ends
          break;
        }
        bool ended = false;
        for (pfParameter* p : parameters_) {
          if (p->Name() != key) continue;
          Assignment a{p, {std::string(value), {}, {}}};
          for (int i = 1; i < p->GetPresetValueCount() && !ended; ++i) {
            std::string_view more;
            r = reader.Next(more);
            if (r == TokenReader::kToken) a.values[i].assign(more);
            else ended = true;
          }
          if (ended) break;
          block.push_back(std::move(a));
        }
        if (ended) {
          readable = r != TokenReader::kError;
          break;
        }
      }
      if (readable) {
        for (Assignment& a : block) {
          pfUndo* record = undo ? a.parameter->CreateUndo() : nullptr;
          const bool changed = a.parameter->SetFromPresetValues(a.values);
          if (record && changed) undo->Push(record);
          else delete record;
        }
        if (undo) undo->BeginStep();
        ValidateAll();
        result = true;
      }
    }
  }
  LogTrace("pfParmeters::LoadSettings( return(", result, ") )\n");
  return result;
}

bool pfParameters::SaveSettings(std::string name, std::string path, std::string filterName) {
  LogTrace("pfParmeters::SaveSettings( strName(", name, "), strPath(", path, ") )\n");
  LogScope scope;
  bool result = false;
  std::string owner = filterName;
  if (!name.empty() && !path.empty() && IsSettingFileValid(path, owner)) {
    const std::string temporary = path + "tmp";
    const std::string stored = WithUnderscores(name);
    const char* le = LineEnd();
    std::string lines;
    for (pfParameter* p : parameters_)
      if (p->IsSaved()) lines += p->FormatPresetLine() + le;

    std::string content, updated;
    const FileRead read = ReadPresetFile(path, content);
    bool writable = true;
    if (read == FileRead::Ok) {
      TokenReader reader(content);
      const TokenReader::Result found = FindPreset(reader, stored);
      if (found == TokenReader::kToken) {
        // Replace in place: the bytes up to and including the name, the new lines, then
        // "name" and everything after the next block's "name" token.
        updated = content.substr(0, reader.Position()) + le + lines;
        const TokenReader::Result next = SkipToNextBlock(reader);
        if (next == TokenReader::kToken) updated += "name" + content.substr(reader.Position());
        writable = next != TokenReader::kError;
      } else {
        updated = content + le + "name " + stored + le + lines; // append
        writable = found != TokenReader::kError;
      }
    } else if (read == FileRead::NotFound) {
      updated = "FileOwner " + filterName + le + le + "name " + stored + le + lines;
    } else {
      writable = false; // it exists but cannot be read: never overwrite it
    }
    bool opened = false;
    result = writable && WriteAndReplace(path, temporary, updated, opened);
  }
  LogTrace("pfParmeters::SaveSettings( return(", result, ") )\n");
  return result;
}

bool pfParameters::DeleteSettings(std::string name, std::string path) {
  LogTrace("pfParmeters::DeleteSettings( strName(", name, "), strPath(", path, ") )\n");
  LogScope scope;
  bool result = false;
  if (!name.empty() && !path.empty()) {
    const std::string temporary = path + "tmp";
    std::string content;
    const FileRead read = ReadPresetFile(path, content);
    if (read == FileRead::NotFound || read == FileRead::CannotOpen) {
      LogWarning("Could not open file for reading: '", path, "'\n");
    } else if (read == FileRead::Ok) {
      TokenReader reader(content);
      size_t blockStart = 0;
      if (FindPreset(reader, name, &blockStart) == TokenReader::kToken) {
        const char* le = LineEnd();
        std::string updated = content.substr(0, blockStart) + le;
        const TokenReader::Result next = SkipToNextBlock(reader);
        if (next == TokenReader::kToken) updated += le + std::string("name") + content.substr(reader.Position());
        bool opened = false;
        if (next != TokenReader::kError) {
          result = WriteAndReplace(path, temporary, updated, opened);
          if (!opened) LogWarning("Could not open file for writing: '", temporary, "'\n");
          else if (!result) LogWarning("Could not open file for writing: '", path, "'\n");
        }
      }
    }
  }
  LogTrace("pfParmeters::DeleteSettings( return(", result, ") ) \n");
  return result;
}

// ---- scripting descriptor ---------------------------------------------------------------------

bool pfParameters::ReadScriptParams(FilterRecord* record) {
  LogTrace("pfParmeters::ReadScriptParams( pFilterRecord(0x", HexPtr(record), ") )\n");
  LogScope scope;
  bool result = true;
  size_t count = 0;
  for (pfParameter* p : parameters_) count += size_t(p->GetScriptKeyCount());
  std::unique_ptr<DescriptorKeyID[]> keys(new (std::nothrow) DescriptorKeyID[count + 1]);
  if (keys) {
    DescriptorKeyID* next = keys.get();
    for (pfParameter* p : parameters_) {
      p->GetScriptKeys(next);
      next += p->GetScriptKeyCount();
    }
    *next = 0;
    PIDescriptorParameters* dp = record ? record->descriptorParameters : nullptr;
    if (IsDescriptorInterfaceValid(dp)) {
      PIReadDescriptor token = dp->readDescriptorProcs->openReadDescriptorProc(dp->descriptor, keys.get());
      if (token) {
        DescriptorKeyID key = 0;
        DescriptorTypeID type = 0;
        int32_t flags = 0;
        while (dp->readDescriptorProcs->getKeyProc(token, &key, &type, &flags))
          for (pfParameter* p : parameters_) p->ReadScriptParam(record, key, token);
        CloseReadDescriptor(dp, record->handleProcs, token);
      }
      result = IsPlayInfoDialog(dp);
    }
  }
  LogTrace("pfParmeters::ReadScriptParams( return(", result, ") )\n");
  return result;
}

OSErr pfParameters::WriteScriptParams(FilterRecord* record) {
  LogTrace("pfParmeters::WriteScriptParams( pFilterRecord(0x", HexPtr(record), ") )\n");
  LogScope scope;
  OSErr result = noErr;
  PIDescriptorParameters* dp = record ? record->descriptorParameters : nullptr;
  if (IsDescriptorInterfaceValid(dp) && dp->writeDescriptorProcs->openWriteDescriptorProc) {
    PIWriteDescriptor token = dp->writeDescriptorProcs->openWriteDescriptorProc();
    if (token) {
      for (pfParameter* p : parameters_) p->WriteScriptParam(record, token);
      result = CloseWriteDescriptor(dp, record->handleProcs, token);
    }
  }
  LogTrace("pfParmeters::WriteScriptParams(' return(", result, ") )\n");
  return result;
}

// ---- copies -----------------------------------------------------------------------------------

pfParameters* pfParameters::Generate() {
  LogTrace("pfParmeters::Generate()\n");
  LogScope scope;
  auto* set = new pfParameters;
  for (pfParameter* p : parameters_) set->Add(p->CreateDefault());
  LogTrace("pfParmeters::Generate( return(0x", HexPtr(set), ") )\n");
  return set;
}

void pfParameters::CopyParameters(pfParameters* source, pfParameters* destination) {
  LogTrace("pfParmeters::CopyParameters( pSrc(0x", HexPtr(source), "), pDest(0x", HexPtr(destination), ") )\n");
  LogScope scope;
  if (!source || !destination) {
    LogError("Address Pointer was Zero\n");
    return;
  }
  const int n = std::min(source->GetCount(), destination->GetCount());
  for (int i = 0; i < n; ++i) {
    pfParameter* to = destination->GetParameter(i);
    pfParameterUI* control = to->GetUI();
    if (to->AssignFrom(*source->GetParameter(i))) to->SetUILink(control);
  }
}

} // namespace ov
