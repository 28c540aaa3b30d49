// The trace lines of the parameter set, with their heads spelled exactly as the log has
// always spelled them ("pfParmeters", the blank after DeleteSettings' exit, the quote in
// WriteScriptParams' exit). The logger writes into a temporary log file for this test.
#include <gtest/gtest.h>

#include <memory>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/logger.h"
#include "fake_descriptor_host.h"
#include "host/parameters.h"
#include "sample_parameters.h"

namespace ov {
namespace {

namespace fs = std::filesystem;

class LogHeads : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / "pel_log_heads";
    fs::remove_all(dir);
    fs::create_directories(dir);
    log = (dir / "trace.log").string();
    std::ofstream(log).put('\n');
    Logger& logger = GetLogger();
    savedPath = logger.path;
    ASSERT_EQ(logger.file, nullptr) << "a debug log is open; this test needs the logger to itself";
    logger.path = log;
    logger.indent = 0;
  }
  void TearDown() override {
    Logger& logger = GetLogger();
    if (logger.file) std::fclose(logger.file);
    logger.file = nullptr;
    logger.path = savedPath;
    logger.ClearActive();
    logger.Refresh(); // closes the console mirror again
    fs::remove_all(dir);
  }
  // The lines written since the last call.
  std::vector<std::string> Lines() {
    std::fflush(GetLogger().file);
    std::ifstream in(log, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back(); // text mode on Windows
      lines.push_back(line);
    }
    std::vector<std::string> fresh(lines.begin() + std::min(seen, lines.size()), lines.end());
    seen = lines.size();
    return fresh;
  }

  fs::path dir;
  std::string log, savedPath;
  size_t seen = 0;
  test::SampleParameters p;
};

TEST_F(LogHeads, PresetsAndScriptingOperations) {
  const std::string file = (dir / "p.cfg").string();
  Lines();
  p.set.SaveSettings("a b", file, "Pelidorn");
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "pfParmeters::SaveSettings( strName(a b), strPath(" + file + ") )",
                         "    pfParmeters::IsSettingFileValid( strPath(" + file + "), strFilterName(Pelidorn) )",
                         "        pfParmeters::IsSettingFileValid( return(1) )",
                         "    pfParmeters::SaveSettings( return(1) )",
                     }));
  p.set.LoadSettings("nope", dir.string() + "/missing.cfg", nullptr);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "pfParmeters::LoadSettings( strName(nope), strPath(" + dir.string() +
                             "/missing.cfg), pFilter(0000000000000000) )",
                         "    -**### WARNING ###**-: Could not open file for reading: '" + dir.string() +
                             "/missing.cfg'",
                         "    pfParmeters::LoadSettings( return(0) )",
                     }));
  std::list<std::string> names;
  p.set.GetSettingNames(file, names, "Pelidorn");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "pfParmeters::GetSettingNames( strPath(" + file + "), lstNames(), strFilterName(Pelidorn) )");
  EXPECT_EQ(lines[3], "    pfParmeters::GetSettingNames( return(1) )");
  p.set.DeleteSettings("a_b", file);
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "pfParmeters::DeleteSettings( strName(a_b), strPath(" + file + ") )");
  EXPECT_EQ(lines[1], "    pfParmeters::DeleteSettings( return(1) ) ");

  test::FakeDescriptorHost host;
  p.set.WriteScriptParams(&host.record);
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("pfParmeters::WriteScriptParams( pFilterRecord(0x", 0), 0u);
  EXPECT_EQ(lines[1], "    pfParmeters::WriteScriptParams(' return(0) )");
  host.params.playInfo = plugInDialogDisplay;
  p.set.ReadScriptParams(&host.record);
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::ostringstream pointer;
  pointer << HexPtr(&host.record);
  EXPECT_EQ(lines[0], "pfParmeters::ReadScriptParams( pFilterRecord(0x" + pointer.str() + ") )");
  EXPECT_EQ(lines[1], "    pfParmeters::ReadScriptParams( return(1) )");

  std::unique_ptr<pfParameters> generated(p.set.Generate());
  generated->DeleteAll();  // the set does not own its parameters
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "pfParmeters::Generate()");
  EXPECT_EQ(lines[1].rfind("    pfParmeters::Generate( return(0x", 0), 0u);
  pfParameters::CopyParameters(nullptr, &p.set);
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::ostringstream set;
  set << HexPtr(&p.set);
  EXPECT_EQ(lines[0], "pfParmeters::CopyParameters( pSrc(0x0000000000000000), pDest(0x" + set.str() + ") )");
  EXPECT_EQ(lines[1], "    -**###  ERROR  ###**-: Address Pointer was Zero");
  EXPECT_EQ(GetLogger().indent.load(), 0);
}

} // namespace
} // namespace ov
