// Fuzz target: the presets-file reader and writer against a hostile file. The input is the
// file. Every operation runs on it; the properties checked:
// - no parameter holds a non-finite value or leaves its hard limits after a load;
// - a save or delete that answers false leaves the file byte for byte as it was;
// - after a successful save the file is still readable.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <unistd.h>

#include "host/sample_parameters.h"
#include "host/undo.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
  }
}

void CheckValues(ov::test::SampleParameters& p) {
  for (int i = 0; i < p.set.GetCount(); ++i) {
    ov::pfParameter* q = p.set.GetParameter(i);
    if (q->GetKind() == ov::pfParameterKind::Float) {
      auto* f = static_cast<ov::pfParameterFloat*>(q);
      Check(std::isfinite(f->GetValue()), "finite float");
      if (f->IsMinimumClamped()) Check(f->GetValue() >= f->GetMinimum(), "hard minimum");
      if (f->IsMaximumClamped()) Check(f->GetValue() <= f->GetMaximum(), "hard maximum");
    } else if (q->GetKind() == ov::pfParameterKind::List) {
      auto* l = static_cast<ov::pfParameterList*>(q);
      Check(l->GetSelection() >= 1 && l->GetSelection() <= l->GetItemCount(), "list selection");
    } else if (q->GetKind() == ov::pfParameterKind::RGB) {
      double r, g, b;
      static_cast<ov::pfParameterRGB*>(q)->GetColor(r, g, b);
      Check(r >= 0 && r <= 1 && g >= 0 && g <= 1 && b >= 0 && b <= 1, "colour");
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A memory-backed folder when there is one: the target writes and renames files each run.
  static const std::string path =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/pel_fuzz_presets_" + std::to_string(getpid()) + ".cfg";
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << input;
  }
  ov::test::SampleParameters p;
  ov::pfUndoStack undo;
  undo.SetRecording(true);

  std::string owner = "Pelidorn";
  p.set.IsSettingFileValid(path, owner);
  std::list<std::string> names;
  p.set.GetSettingNames(path, names, "Pelidorn");
  for (const std::string& name : names) {
    p.set.LoadSettings(name, path, &undo);
    CheckValues(p);
  }
  p.set.LoadSettings("A", path, nullptr);
  CheckValues(p);
  while (undo.Undo()) {
  }
  while (undo.Redo()) {
  }

  std::string before = ReadBytes(path);
  if (!p.set.SaveSettings("fuzz preset", path, "Pelidorn")) {
    Check(ReadBytes(path) == before, "failed save leaves the file");
  } else {
    // (Loading it back may legitimately fail: a stray "name" token before the new block
    // makes the search take "name" itself for a preset name.)
    std::list<std::string> after;
    Check(p.set.GetSettingNames(path, after, "Pelidorn"), "names after save");
    p.set.LoadSettings("fuzz_preset", path, nullptr);
    CheckValues(p);
  }
  before = ReadBytes(path);
  const std::string victim = names.empty() ? std::string("A") : names.front();
  if (!p.set.DeleteSettings(victim, path)) Check(ReadBytes(path) == before, "failed delete leaves the file");
  std::remove(path.c_str());
  std::remove((path + "tmp").c_str());
  return 0;
}
