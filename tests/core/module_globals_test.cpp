// The module's globals.
#include "core/module_globals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<std::string> g_released;
bool g_basicSuiteKnown = true;
bool RecordRelease(const char* name, int32_t version) {
    if (!g_basicSuiteKnown) return false;
    g_released.push_back(std::string(name) + "/" + std::to_string(version));
    return true;
}
int g_dummySuite;
}  // namespace

TEST(ModuleGlobals, StartValues) {
    EXPECT_EQ(ov::AboutText(), "");
    EXPECT_EQ(ov::RegistryKeyPath(), "SOFTWARE\\Ostrovanne\\Photoshop\\Pelidorn");
    EXPECT_STREQ(ov::HostSuiteName(0), "AS ZString Suite");
    EXPECT_STREQ(ov::HostSuiteName(6), "Photoshop Buffer Suite for Plug-ins");
    EXPECT_STREQ(ov::HostSuiteName(9), "Photoshop Handle Suite for Plug-ins");
    EXPECT_STREQ(ov::HostSuiteName(15), "SP Runtime Suite");
    for (int i = 0; i < ov::kHostSuiteCount; ++i) {
        EXPECT_EQ(ov::GetHostSuiteHolder(i).suite, nullptr);
        EXPECT_STREQ(ov::GetHostSuiteHolder(i).name, ov::HostSuiteName(i));
    }
    EXPECT_EQ(ov::FindHostSuiteHolder("Photoshop Buffer Suite for Plug-ins"), &ov::GetHostSuiteHolder(6));
    EXPECT_EQ(ov::FindHostSuiteHolder("no such suite"), nullptr);
}

TEST(ModuleGlobals, ReleaseLastHolderFirstOnlyWhenFilledAndKnown) {
    ov::SetHostSuiteReleaser(&RecordRelease);
    ov::GetHostSuiteHolder(6).suite = &g_dummySuite;
    ov::GetHostSuiteHolder(6).version = 1;
    ov::GetHostSuiteHolder(9).suite = &g_dummySuite;
    ov::GetHostSuiteHolder(9).version = 2;

    g_basicSuiteKnown = false;  // no basic suite: nothing happens
    g_released.clear();
    ov::ReleaseHostSuites();
    EXPECT_TRUE(g_released.empty());
    EXPECT_NE(ov::GetHostSuiteHolder(6).suite, nullptr);

    g_basicSuiteKnown = true;
    ov::ReleaseHostSuites();
    EXPECT_EQ(g_released, (std::vector<std::string>{"Photoshop Handle Suite for Plug-ins/2",
                                                    "Photoshop Buffer Suite for Plug-ins/1"}));
    EXPECT_EQ(ov::GetHostSuiteHolder(6).suite, nullptr);
    EXPECT_EQ(ov::GetHostSuiteHolder(9).suite, nullptr);
    g_released.clear();
    ov::ReleaseHostSuites();
    EXPECT_TRUE(g_released.empty());
    ov::SetHostSuiteReleaser(nullptr);
}
