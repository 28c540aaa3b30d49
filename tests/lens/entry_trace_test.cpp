// ENTRYPOINT and the trace lines of the adapter: the first
// call constructs the filter before anything is logged; every call is traced with its
// selector; handler entry and exit lines stand at their depths. And the mend: no exception
// leaves ENTRYPOINT (out of memory answers -108, anything else -30100), with the suites
// still released and the log depth restored.
//
// The log file is created in a private HOME before the logger is first used (this program
// runs alone in its process).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>

#include <sys/stat.h>

#include "core/logger.h"
#include "fake_host.h"
#include "lens/entry_point.h"
#include "lens/pelidorn_filter.h"

namespace {

std::string LogPath() {
    static const std::string path = [] {
        char dir[] = "/tmp/pelidorn-trace-XXXXXX";
        std::string home = mkdtemp(dir) ? dir : "/tmp";
        mkdir((home + "/ostrovanne").c_str(), 0755);
        setenv("HOME", home.c_str(), 1);
        unsetenv("HOMEDRIVE");
        std::FILE* f = std::fopen((home + "/ostrovanne/pelidorn_ps.log").c_str(), "w");
        if (f) std::fclose(f);
        return home + "/ostrovanne/pelidorn_ps.log";
    }();
    return path;
}
const std::string kPath = LogPath();  // before any test runs

// The log's home folder goes when the test program ends.
class RemoveLogHome : public ::testing::Environment {
public:
    void TearDown() override {
        const std::string home = std::filesystem::path(kPath).parent_path().parent_path().string();
        if (home.rfind("/tmp/pelidorn-trace-", 0) != 0) return;
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
};
[[maybe_unused]] ::testing::Environment* const kRemoveLogHome =
    ::testing::AddGlobalTestEnvironment(new RemoveLogHome);

std::string ReadLog() {
    std::ifstream f(kPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

int16_t Entry(uint16_t selector, void* block) {
    int16_t result = 12345;
    intptr_t data = 0;
    ENTRYPOINT(selector, block, &data, &result);
    return result;
}

}  // namespace

TEST(EntryPoint, FirstCallConstructsThenTracesEveryCall) {
    lens_test::FakeHost host(8, 6, 3);
    EXPECT_EQ(Entry(filterSelectorPrepare, &host.rec), 0);
    const std::string log = ReadLog();
    const size_t ctor = log.find("pfFilterPelidorn::pfFilterPelidorn()\n");
    const size_t entry = log.find("ENTRYPOINT( selector(2), filterParamBlock(");
    ASSERT_NE(ctor, std::string::npos) << log;
    ASSERT_NE(entry, std::string::npos) << log;
    EXPECT_LT(ctor, entry);
    // The handler's line one level deeper.
    EXPECT_NE(log.find("\n    pfFilter::DoPrepareSelector( pFilterRecord(0x"), std::string::npos) << log;
    // The filter's identity.
    EXPECT_EQ(ov::PelidornFilter().name, "\xBBPelidorn\xAB");
    EXPECT_EQ(ov::PelidornFilter().maker, "Ostrovanne");
    EXPECT_EQ(ov::PelidornFilter().version[0], 1u);
    EXPECT_EQ(ov::PelidornFilter().version[1], 4u);
    EXPECT_EQ(ov::PelidornFilter().version[2], 5u);
    EXPECT_EQ(ov::PelidornFilter().description.rfind(
                  "Simulates a camera's 'Depth of Field' and 'Out of Focus' effect.", 0), 0u);
    EXPECT_EQ(ov::PelidornFilter().description.back(), '\n');
    // The pointers as 16 upper-case hexadecimal digits, like every pointer in a trace.
    int16_t result = 0;
    intptr_t data = 0;
    ENTRYPOINT(filterSelectorFinish, &host.rec, &data, &result);
    char line[160];
    std::snprintf(line, sizeof line, "ENTRYPOINT( selector(5), filterParamBlock(%016" PRIXPTR "), data(%016" PRIXPTR
                  "), result(%016" PRIXPTR ") )\n",
                  reinterpret_cast<uintptr_t>(&host.rec), reinterpret_cast<uintptr_t>(&data),
                  reinterpret_cast<uintptr_t>(&result));
    EXPECT_NE(ReadLog().find(line), std::string::npos) << line << ReadLog();
    // Unknown selectors answer -1; 65533 is -3 as a 16-bit signed selector.
    EXPECT_EQ(Entry(6, &host.rec), -1);
    EXPECT_EQ(Entry(65533, &host.rec), -1);
    EXPECT_NE(ReadLog().find("ENTRYPOINT( selector(65533)"), std::string::npos);
}

TEST(EntryPoint, StartTraceLinesAtTheirDepths) {
    lens_test::FakeHost host(8, 6, 3);
    host.rec.depth = 7;  // unsupported: nothing rendered, result 0
    const size_t before = ReadLog().size();
    EXPECT_EQ(Entry(filterSelectorStart, &host.rec), 0);
    const std::string log = ReadLog().substr(before);
    EXPECT_NE(log.find("    pfFilter::DoStartSelector( pFilterRecord(0x"), std::string::npos) << log;
    EXPECT_NE(log.find("        pfFilter::SetupFilterRecord( pFilterRecord(0x"), std::string::npos) << log;
    EXPECT_NE(log.find("), nScaleFactor(1) )\n"), std::string::npos) << log;
    EXPECT_NE(log.find("pFilterRecord:\n"), std::string::npos) << log;
    EXPECT_NE(log.find("    inRect: left(0), right(8), top(0), bottom(6)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("        SelectRenderTemplate()\n"), std::string::npos) << log;
    // The exit line at the inner depth.
    EXPECT_NE(log.find("        pfFilter::DoStartSelector( return(0) )\n"), std::string::npos) << log;
}

TEST(EntryPoint, NoExceptionLeavesTheEntryPoint) {
    for (int kind = 0; kind < 2; ++kind) {
        lens_test::FakeHost host(8, 6, 3);
        host.rec.advanceState = kind == 0 ? []() -> OSErr { throw std::bad_alloc(); }
                                          : []() -> OSErr { throw std::runtime_error("host failure"); };
        const int32_t depth = ov::GetLogger().indent.load();
        EXPECT_EQ(Entry(filterSelectorStart, &host.rec), kind == 0 ? -108 : -30100);
        EXPECT_EQ(ov::GetLogger().indent.load(), depth);
        EXPECT_EQ(host.released[PEL_BUFFER_SUITE_NAME], 1);
        EXPECT_EQ(host.released[PEL_HANDLE_SUITE_NAME], 1);
        EXPECT_EQ(ov::PelidornFilter().bufferSuite, nullptr);
    }
}

TEST(EntryPoint, RenderTraceForTheDepthMap) {
    lens_test::FakeHost host(8, 6, 3);
    host.rec.haveMask = 1;
    host.mask.assign(8 * 6, 200);
    const size_t before = ReadLog().size();
    // The blur view runs the tile renderer.
    const int16_t status = Entry(filterSelectorStart, &host.rec);
    EXPECT_EQ(status, 0) << status;
    const std::string log = ReadLog().substr(before);
    const size_t render = log.find("Render()\n");
    const size_t engine = log.find("render()\n", render);
    const size_t ret = log.find("Render( return(" + std::to_string(status) + ") )\n", engine);
    EXPECT_NE(render, std::string::npos) << log;
    EXPECT_NE(engine, std::string::npos) << log;
    EXPECT_NE(ret, std::string::npos) << log;
}
