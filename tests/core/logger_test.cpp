// The debug logger and the path operations, with a temporary home folder.
#include "core/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core_test_support.h"

using pel_test::TempDir;
using pel_test::TempHome;
namespace fs = std::filesystem;

TEST(Logger, DefaultPathIsInTheHomeFolder) {
    TempHome home(false);
    EXPECT_EQ(ov::Logger::DefaultPath(), home.dir.str() + "/ostrovanne/pelidorn_ps.log");
}

TEST(Logger, WritesNothingWhenTheFileDoesNotExist) {
    TempHome home(false);
    ov::LogTrace("a trace line\n");
    ov::LogWarning("a warning\n");
    ov::LogError("an error\n");
    ov::Logger& log = ov::GetLogger();
    EXPECT_EQ(log.file, nullptr);
    EXPECT_FALSE(log.active);
    EXPECT_FALSE(log.console);
    EXPECT_FALSE(pel::platform::DebugConsoleIsOpen());
    EXPECT_FALSE(fs::exists(home.LogPath()));
    EXPECT_EQ(log.path, ov::Logger::DefaultPath());
    // The existence test is repeated: a file created now is picked up by the next message.
    pel_test::Touch(home.LogPath());
    ov::LogTrace("now written\n");
    EXPECT_TRUE(log.active);
    EXPECT_EQ(home.Log(), pel_test::InFile("now written\n"));
}

TEST(Logger, TracedCallWarningAndErrorLines) {
    TempHome home(true);
    const void* record = reinterpret_cast<const void*>(static_cast<uintptr_t>(0x1234ABCDull));
    ov::LogTrace("pfFilter::DoStartSelector( pFilterRecord(0x", ov::HexPtr(record), ") )\n");
    {
        ov::LogScope scope;
        ov::LogTrace("inner line ", 42, "\n");
        ov::LogWarning("something odd\n");
        ov::LogError("something failed: ", -108, "\n");
        {
            ov::LogScope deeper;
            ov::LogTrace("two deep\n");
        }
        ov::LogTrace("pfFilter::DoStartSelector( return(", 0, ") )\n");
    }
    ov::LogTrace("after\n");
    EXPECT_EQ(home.Log(), pel_test::InFile(
              "pfFilter::DoStartSelector( pFilterRecord(0x000000001234ABCD) )\n"
              "    inner line 42\n"
              "    -**### WARNING ###**-: something odd\n"
              "    -**###  ERROR  ###**-: something failed: -108\n"
              "        two deep\n"
              "    pfFilter::DoStartSelector( return(0) )\n"
              "after\n"));
    EXPECT_EQ(ov::GetLogger().indent.load(), 0);
    // With a file the console mirror is open (a console window on Windows, stderr natively).
    EXPECT_TRUE(ov::GetLogger().console);
}

TEST(Logger, AppendsToWhatTheFileHolds) {
    TempHome home(false);
    pel_test::Touch(home.LogPath(), "earlier\n");
    ov::GetLogger().Write(std::string("later\n"), ov::LogLevelTrace);
    std::ostringstream os;
    os << "from a stream " << 7 << "\n";
    ov::GetLogger().Write(os, ov::LogLevelError);
    EXPECT_EQ(home.Log(), "earlier\n" + pel_test::InFile("later\nfrom a stream 7\n"));
}

TEST(Logger, MessagesBelowTheLevelAreDropped) {
    TempHome home(true);
    ov::GetLogger().SetLevel(2);
    ov::LogTrace("dropped\n");
    ov::LogWarning("kept\n");
    ov::GetLogger().SetLevel(1);
    EXPECT_EQ(home.Log(), pel_test::InFile("-**### WARNING ###**-: kept\n"));
}

TEST(Logger, NegativeDepthWritesNoIndent) {
    TempHome home(true);
    ov::LogOutdent();
    ov::LogTrace("flush left\n");
    ov::LogIndent();
    EXPECT_EQ(home.Log(), pel_test::InFile("flush left\n"));
}

TEST(Logger, HexPtrIsSixteenUpperCaseDigits) {
    std::ostringstream os;
    os << ov::HexPtr(reinterpret_cast<const void*>(static_cast<uintptr_t>(0xdeadbeefull)))
       << " " << ov::HexPtr(nullptr);
    EXPECT_EQ(os.str(), "00000000DEADBEEF 0000000000000000");
}

TEST(Logger, LinesFromManyThreadsDoNotInterleave) {
    TempHome home(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) ov::LogTrace("thread ", t, " line ", i, "\n");
        });
    for (auto& th : threads) th.join();
    std::istringstream in(home.Log());
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_EQ(line.rfind("thread ", 0), 0u) << line;
        ++count;
    }
    EXPECT_EQ(count, 200);
}

// GetHomeDirectory: HOMEDRIVE + (HOME, else HOMEPATH) + "/".
TEST(Paths, HomeDirectory) {
    TempHome restore(false);  // restores the variables afterwards
    namespace pp = pel::platform;
    pp::SetEnvironmentVariableValue("HOME", "/home/user");
    pp::SetEnvironmentVariableValue("HOMEDRIVE", "D:");
    pp::SetEnvironmentVariableValue("HOMEPATH", "\\Users\\user");
    EXPECT_EQ(ov::GetHomeDirectory(), "D:/home/user/");
    pp::SetEnvironmentVariableValue("HOMEDRIVE", nullptr);
    EXPECT_EQ(ov::GetHomeDirectory(), "/home/user/");
    pp::SetEnvironmentVariableValue("HOME", nullptr);
    pp::SetEnvironmentVariableValue("HOMEDRIVE", "C:");
    EXPECT_EQ(ov::GetHomeDirectory(), "C:\\Users\\user/");
    EXPECT_EQ(ov::Logger::DefaultPath(), "C:\\Users\\user/ostrovanne/pelidorn_ps.log");
    pp::SetEnvironmentVariableValue("HOMEPATH", nullptr);
    EXPECT_EQ(ov::GetHomeDirectory(), "");
    EXPECT_EQ(ov::Logger::DefaultPath(), "ostrovanne/pelidorn_ps.log");
}

TEST(Paths, ModuleDirectoryHoldsThisProgram) {
    std::string dir = ov::GetModuleDirectory();
    ASSERT_FALSE(dir.empty());
    char last = dir.back();
    EXPECT_TRUE(last == '/' || last == '\\') << dir;
    std::string file = pel::platform::ModuleFileName();
    EXPECT_EQ(file.rfind(dir, 0), 0u) << file << " vs " << dir;
}

namespace {
std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}
}  // namespace

TEST(Paths, ListFilesByExtension) {
    TempDir t;
    const std::string sep = pel::platform::PathSeparator();
    for (const char* name : {"a.cfg", "u.CFG", "b.cfg.bak", ".cfg", "cfg", "z.txt"})
        pel_test::Touch(t.path / name);
    fs::create_directories(t.path / "sub" / "deeper");
    fs::create_directories(t.path / ".hidden");
    pel_test::Touch(t.path / "sub" / "c.cfg");
    pel_test::Touch(t.path / "sub" / "deeper" / "d.cfg");
    pel_test::Touch(t.path / ".hidden" / "e.cfg");
    const std::string d = t.str();

    std::vector<std::string> out;
    ov::ListFiles(out, d, "cfg", false);
    // "cfg" has no dot: its whole name is its extension.
    EXPECT_EQ(Sorted(out), Sorted({d + sep + "a.cfg", d + sep + "cfg"}));

    out.clear();
    ov::ListFiles(out, d, "cfg", true);
    EXPECT_EQ(Sorted(out), Sorted({d + sep + "a.cfg", d + sep + "cfg", d + sep + "sub" + sep + "c.cfg",
                                   d + sep + "sub" + sep + "deeper" + sep + "d.cfg"}));

    out.clear();
    ov::ListFiles(out, d, "*", false);
    EXPECT_EQ(Sorted(out), Sorted({d + sep + "a.cfg", d + sep + "u.CFG", d + sep + "b.cfg.bak",
                                   d + sep + "cfg", d + sep + "z.txt"}));

    out = {"kept"};
    ov::ListFiles(out, d + sep + "missing", "*", true);
    EXPECT_EQ(out, std::vector<std::string>{"kept"});
}

TEST(Paths, ListFilesDescendsBeforeTheNextEntry) {
    TempDir t;
    const std::string sep = pel::platform::PathSeparator();
    fs::create_directories(t.path / "only");
    pel_test::Touch(t.path / "only" / "x.cfg");
    std::vector<std::string> out{"first"};
    ov::ListFiles(out, t.str(), "cfg", true);
    EXPECT_EQ(out, (std::vector<std::string>{"first", t.str() + sep + "only" + sep + "x.cfg"}));
}
