// Presets files: golden content, round trips, replace in place, delete, names, owner check,
// and files that are corrupted or cannot be written (the original stays, failure is reported).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <list>
#include <sstream>

#include "host/parameters.h"
#include "host/undo.h"
#include "sample_parameters.h"

namespace ov {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Files are written with the platform's line end; compare them with "\n".
std::string Unix(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out.push_back(s[i]);
  return out;
}

class Presets : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pel_presets_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = (dir / "presets.cfg").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  // The block of the sample set as it stands, in the file's "\n" form.
  std::string Block(const std::string& name) {
    std::string s = "\nname " + name + "\n";
    for (int i = 0; i < p.set.GetCount(); ++i)
      if (p.set.GetParameter(i)->IsSaved()) s += p.set.GetParameter(i)->FormatPresetLine() + "\n";
    return s;
  }
  void Change(double radius, int outside) {
    p.radius.SetValue(radius);
    p.outside.Select(outside);
  }

  fs::path dir;
  std::string file;
  test::SampleParameters p;
};

TEST_F(Presets, SaveToANewFileMatchesTheGoldenFile) {
  ASSERT_TRUE(p.set.SaveSettings("my preset", file, "Pelidorn"));
  const std::string golden = ReadBytes(fs::path(PEL_HOST_TEST_DIR) / "golden" / "presets_one_block.txt");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Unix(ReadBytes(file)), Unix(golden));
  EXPECT_FALSE(fs::exists(file + "tmp"));
}

TEST_F(Presets, LoadFindsTheStoredNameOnly) {
  ASSERT_TRUE(p.set.SaveSettings("my preset", file, "Pelidorn"));
  Change(12.5, 4);
  EXPECT_FALSE(p.set.LoadSettings("my preset", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 12.5);
  EXPECT_TRUE(p.set.LoadSettings("my_preset", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 5.0);
  EXPECT_EQ(p.outside.GetSelection(), 2);
  EXPECT_FALSE(p.set.LoadSettings("", file, nullptr));
  EXPECT_FALSE(p.set.LoadSettings("my_preset", "", nullptr));
  EXPECT_FALSE(p.set.LoadSettings("my_preset", (dir / "missing.cfg").string(), nullptr));
}

TEST_F(Presets, RoundTripOfEveryKind) {
  p.radius.SetValue(12.5);
  p.depthInvert.SetValue(true);
  p.outside.Select(4);
  p.colorOutside.SetColor(0.25, 0.5, 0.75);
  p.irisFacets.SetValue(9);
  p.irisAspect.SetValue(-0.5);
  p.show.Select(7);
  ASSERT_TRUE(p.set.SaveSettings("all", file, "Pelidorn"));
  test::SampleParameters fresh;
  ASSERT_TRUE(fresh.set.LoadSettings("all", file, nullptr));
  for (int i = 0; i < p.set.GetCount(); ++i)
    EXPECT_EQ(fresh.set.GetParameter(i)->FormatPresetLine(), p.set.GetParameter(i)->FormatPresetLine());
  double r, g, b;
  fresh.colorOutside.GetColor(r, g, b);
  EXPECT_EQ(g, 0.5);
  EXPECT_EQ(fresh.show.GetSelection(), 7); // 1-based in the file and in the parameter
}

// A name with spaces is stored with underscores whether it starts the file, is added to it or
// replaces a block, and is found under that name.
TEST_F(Presets, NamesWithSpacesAreStoredWithUnderscoresEverywhere) {
  ASSERT_TRUE(p.set.SaveSettings("first one", file, "Pelidorn"));
  Change(7, 1);
  ASSERT_TRUE(p.set.SaveSettings("second one here", file, "Pelidorn"));
  Change(9, 3);
  ASSERT_TRUE(p.set.SaveSettings("first one", file, "Pelidorn"));
  std::list<std::string> names;
  ASSERT_TRUE(p.set.GetSettingNames(file, names, "Pelidorn"));
  EXPECT_EQ(names, (std::list<std::string>{"first_one", "second_one_here"}));
  Change(1, 4);
  ASSERT_TRUE(p.set.LoadSettings("second_one_here", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 7.0);
  EXPECT_EQ(p.outside.GetSelection(), 1);
  ASSERT_TRUE(p.set.LoadSettings("first_one", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 9.0);
  EXPECT_EQ(p.outside.GetSelection(), 3);
}

TEST_F(Presets, SavingAnExistingNameReplacesItsBlockInPlace) {
  ASSERT_TRUE(p.set.SaveSettings("A", file, "Pelidorn"));
  const std::string a = Block("A");
  Change(7, 1);
  ASSERT_TRUE(p.set.SaveSettings("B", file, "Pelidorn"));
  Change(8, 3);
  ASSERT_TRUE(p.set.SaveSettings("C", file, "Pelidorn"));
  const std::string c = Block("C");
  Change(9, 4);
  ASSERT_TRUE(p.set.SaveSettings("B", file, "Pelidorn"));
  std::string b = Block("B");
  // A replaced block is followed directly by the next "name" line.
  EXPECT_EQ(Unix(ReadBytes(file)), "FileOwner Pelidorn\n" + a + b + c.substr(1));
  std::list<std::string> names;
  ASSERT_TRUE(p.set.GetSettingNames(file, names, "Pelidorn"));
  EXPECT_EQ(names, (std::list<std::string>{"A", "B", "C"}));
  ASSERT_TRUE(p.set.LoadSettings("C", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 8.0);
  ASSERT_TRUE(p.set.LoadSettings("B", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 9.0);
}

TEST_F(Presets, DeleteLeavesOneEmptyLineBetweenNeighbours) {
  ASSERT_TRUE(p.set.SaveSettings("A", file, "Pelidorn"));
  const std::string a = Block("A");
  Change(7, 1);
  ASSERT_TRUE(p.set.SaveSettings("B", file, "Pelidorn"));
  Change(8, 3);
  ASSERT_TRUE(p.set.SaveSettings("C", file, "Pelidorn"));
  const std::string c = Block("C");
  ASSERT_TRUE(p.set.DeleteSettings("B", file));
  EXPECT_EQ(Unix(ReadBytes(file)), "FileOwner Pelidorn\n" + a + c); // one empty line between
  EXPECT_FALSE(p.set.DeleteSettings("B", file));
  EXPECT_FALSE(p.set.DeleteSettings("", file));
  EXPECT_FALSE(fs::exists(file + "tmp"));
  std::list<std::string> names{"kept"};
  ASSERT_TRUE(p.set.GetSettingNames(file, names, "Pelidorn"));
  EXPECT_EQ(names, (std::list<std::string>{"kept", "A", "C"}));
}

TEST_F(Presets, DeletingTheOnlyPresetLeavesTheOwnerLine) {
  ASSERT_TRUE(p.set.SaveSettings("only one", file, "Pelidorn"));
  ASSERT_TRUE(p.set.DeleteSettings("only_one", file));
  EXPECT_EQ(Unix(ReadBytes(file)), "FileOwner Pelidorn\n");
  std::list<std::string> names;
  EXPECT_TRUE(p.set.GetSettingNames(file, names, "Pelidorn"));
  EXPECT_TRUE(names.empty());
}

TEST_F(Presets, ANameWithByte0xFFSurvivesDeletingAnother) {
  const std::string odd = "odd\xFF\x1A" "name";
  ASSERT_TRUE(p.set.SaveSettings(odd, file, "Pelidorn"));
  ASSERT_TRUE(p.set.SaveSettings("other", file, "Pelidorn"));
  ASSERT_TRUE(p.set.DeleteSettings("other", file));
  std::list<std::string> names;
  ASSERT_TRUE(p.set.GetSettingNames(file, names, "Pelidorn"));
  EXPECT_EQ(names, (std::list<std::string>{odd}));
  EXPECT_TRUE(p.set.LoadSettings(odd, file, nullptr));
}

TEST_F(Presets, OwnerCheck) {
  std::string name = "Pelidorn";
  EXPECT_TRUE(p.set.IsSettingFileValid((dir / "missing.cfg").string(), name)); // will be created
  EXPECT_FALSE(p.set.IsSettingFileValid("", name));
  WriteBytes(dir / "empty.cfg", "");
  EXPECT_FALSE(p.set.IsSettingFileValid((dir / "empty.cfg").string(), name));
  EXPECT_FALSE(p.set.SaveSettings("x", (dir / "empty.cfg").string(), "Pelidorn"));
  EXPECT_EQ(ReadBytes(dir / "empty.cfg"), "");
  WriteBytes(file, "FileOwner Lumen\n\nname theirs\nRadius 3.000000\n");
  EXPECT_FALSE(p.set.IsSettingFileValid(file, name));
  EXPECT_EQ(name, "Lumen");
  EXPECT_FALSE(p.set.SaveSettings("mine", file, "Pelidorn"));
  std::list<std::string> names;
  EXPECT_FALSE(p.set.GetSettingNames(file, names, "Pelidorn"));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(p.set.GetSettingNames((dir / "missing.cfg").string(), names, "Pelidorn"));
  EXPECT_FALSE(p.set.GetSettingNames("", names, "Pelidorn"));
  // Loading does not check the owner.
  EXPECT_TRUE(p.set.LoadSettings("theirs", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 3.0);
}

TEST_F(Presets, LoadingPushesOneUndoStepOfTheChangedParametersOnly) {
  ASSERT_TRUE(p.set.SaveSettings("A", file, "Pelidorn"));
  pfUndoStack undo;
  undo.SetRecording(true);
  ASSERT_TRUE(p.set.LoadSettings("A", file, &undo)); // nothing changes
  EXPECT_FALSE(undo.CanUndo());
  EXPECT_EQ(undo.Step(), 1); // yet the step was closed
  Change(30, 4);
  p.irisFacets.SetValue(12);
  ASSERT_TRUE(p.set.LoadSettings("A", file, &undo));
  EXPECT_EQ(undo.Cursor(), 3);
  EXPECT_TRUE(undo.Undo());
  EXPECT_EQ(p.radius.GetValue(), 30.0);
  EXPECT_EQ(p.outside.GetSelection(), 4);
  EXPECT_EQ(p.irisFacets.GetValue(), 12);
  EXPECT_FALSE(undo.CanUndo());
}

TEST_F(Presets, LoadAppliesTheSettersRulesAndValidates) {
  WriteBytes(file, "FileOwner Pelidorn\n\nname v\nRadius 1e999\nIrisBorder nan\nOutside 9\nIrisFacets 1\n"
                   "Unknown 4\nColorOutside 2 -1 0.5\nDepthInvert 7\nShow");
  p.outside.Select(3);
  ASSERT_TRUE(p.set.LoadSettings("v", file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 0.0);      // infinity, no hard maximum: the hard minimum
  EXPECT_EQ(p.irisBorder.GetValue(), 0.0);  // "nan" is no number
  EXPECT_EQ(p.outside.GetSelection(), 3);   // 9 is ignored by the list
  EXPECT_EQ(p.irisFacets.GetValue(), 3);    // hard minimum
  EXPECT_TRUE(p.depthInvert.GetValue());
  double r, g, b;
  p.colorOutside.GetColor(r, g, b);
  EXPECT_EQ(r, 1.0);
  EXPECT_EQ(g, 0.0);
  EXPECT_EQ(b, 0.5);
  EXPECT_EQ(p.show.GetSelection(), 1); // the file ends inside the block
}

// A token longer than the bound anywhere makes the file unreadable: every operation fails and
// nothing changes, wherever the token stands (inside the block asked for, or after it, where
// reading that block alone never reaches it).
TEST_F(Presets, ACorruptedFileChangesNothingAndReportsFailure) {
  const std::string longToken(kMaxPresetToken + 1, 'x');
  struct Row {
    const char* where;
    std::string content;
  };
  const Row rows[] = {
      {"inside the requested block",
       "FileOwner Pelidorn\n\nname A\nRadius 9.000000\nOutside 4\n" + longToken + " 1\n\nname B\nRadius 2.000000\n"},
      {"after the requested block",
       "FileOwner Pelidorn\n\nname A\nRadius 9.000000\nOutside 4\n\nname B\nRadius 2.000000\n" + longToken + " 1\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.where);
    WriteBytes(file, row.content);
    EXPECT_FALSE(p.set.LoadSettings("A", file, nullptr));
    EXPECT_EQ(p.radius.GetValue(), 5.0);
    EXPECT_EQ(p.outside.GetSelection(), 2);
    EXPECT_FALSE(p.set.SaveSettings("A", file, "Pelidorn"));
    EXPECT_FALSE(p.set.SaveSettings("new", file, "Pelidorn"));
    EXPECT_FALSE(p.set.DeleteSettings("A", file));
    EXPECT_FALSE(p.set.DeleteSettings("B", file));
    std::list<std::string> names;
    EXPECT_FALSE(p.set.GetSettingNames(file, names, "Pelidorn"));
    EXPECT_EQ(ReadBytes(file), row.content);
    EXPECT_FALSE(fs::exists(file + "tmp"));
  }
  // A token just within the bound is fine.
  WriteBytes(file, "FileOwner Pelidorn\n\nname " + std::string(kMaxPresetToken, 'n') + "\nRadius 4\n");
  EXPECT_TRUE(p.set.LoadSettings(std::string(kMaxPresetToken, 'n'), file, nullptr));
  EXPECT_EQ(p.radius.GetValue(), 4.0);
}

// The temporary file cannot be created (its path is a folder): the original stays.
TEST_F(Presets, AFileThatCannotBeWrittenStaysAsItWas) {
  ASSERT_TRUE(p.set.SaveSettings("A", file, "Pelidorn"));
  const std::string before = ReadBytes(file);
  fs::create_directory(file + "tmp");
  Change(20, 4);
  EXPECT_FALSE(p.set.SaveSettings("A", file, "Pelidorn"));
  EXPECT_FALSE(p.set.SaveSettings("B", file, "Pelidorn"));
  EXPECT_FALSE(p.set.DeleteSettings("A", file));
  EXPECT_EQ(ReadBytes(file), before);
  const std::string fresh = (dir / "fresh.cfg").string();
  fs::create_directory(fresh + "tmp");
  EXPECT_FALSE(p.set.SaveSettings("A", fresh, "Pelidorn"));
  EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(Presets, UnsavedParametersAreNotWritten) {
  ASSERT_TRUE(p.set.SaveSettings("A", file, "Pelidorn"));
  const std::string content = ReadBytes(file);
  EXPECT_EQ(content.find("ShowBasics"), std::string::npos);
  EXPECT_EQ(content.find("ShowAdvanced"), std::string::npos);
}

} // namespace
} // namespace ov
