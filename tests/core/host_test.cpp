// ov::OstrovannePlugin and ov::OstrovanneHost.
#include "core/host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace {

struct ThreadCountCase {
    int32_t setting, processors, requested, expected;
};

void PrintTo(const ThreadCountCase& c, std::ostream* os) {
    *os << "setting " << c.setting << ", processors " << c.processors << ", requested "
        << c.requested << " -> " << c.expected;
}

class GetThreadCountCases : public ::testing::TestWithParam<ThreadCountCase> {};

TEST_P(GetThreadCountCases, FollowsTheRule) {
    const auto& c = GetParam();
    EXPECT_EQ(ov::OstrovanneHost::ComputeThreadCount(c.setting, c.processors, c.requested),
              c.expected);
}

// The cases, then the limits.
INSTANTIATE_TEST_SUITE_P(Part1101, GetThreadCountCases,
                         ::testing::Values(ThreadCountCase{0, 8, -1, 8},
                                           ThreadCountCase{0, 8, 3, 3},
                                           ThreadCountCase{0, 8, 999999, 8},
                                           ThreadCountCase{0, 96, -1, 64},
                                           ThreadCountCase{0, 96, 999999, 64},
                                           ThreadCountCase{4, 8, -1, 4},
                                           ThreadCountCase{4, 8, 2, 2},
                                           ThreadCountCase{0, 8, 0, 8},
                                           ThreadCountCase{-3, 8, -1, 8},
                                           ThreadCountCase{100, 8, -1, 64},
                                           ThreadCountCase{12, 2, 999999, 12}));

ov::OstrovanneHost* NewHost() { return new ov::OstrovanneHost("Pelidorn", "Ostrovanne", 1, 2, 3, "lens blur"); }

}  // namespace

TEST(OstrovanneHost, ConstructorKeepsTheIdentity) {
    ov::OstrovanneHost host("Pelidorn", "Ostrovanne", 1, 2, 3, "lens blur");
    EXPECT_EQ(host.name, "Pelidorn");
    EXPECT_EQ(host.maker, "Ostrovanne");
    EXPECT_EQ(host.reserved, "");
    EXPECT_EQ(host.version[0], 1u);
    EXPECT_EQ(host.version[1], 2u);
    EXPECT_EQ(host.version[2], 3u);
    EXPECT_EQ(host.description, "lens blur");
    EXPECT_EQ(host.GetParameters().Count(), 0u);
    EXPECT_EQ(host.threadCountSetting, 0);
    EXPECT_FALSE(host.progressHook);
    EXPECT_FALSE(host.allocateHook);
    EXPECT_FALSE(host.freeHook);
    EXPECT_TRUE(host.ChannelMap.empty());
    EXPECT_EQ(host.threadPool.ThreadCount(), 0);  // idle until the first run
}

TEST(OstrovanneHost, FixedAnswers) {
    std::unique_ptr<ov::OstrovanneHost> host(NewHost());
    EXPECT_EQ(host->GetSourceName(), "Source");
    EXPECT_EQ(host->GetOutputName(), "Output");
    EXPECT_EQ(host->StatusOk(), 0u);
    EXPECT_EQ(host->StatusOutOfMemory(), 1u);
    EXPECT_EQ(host->StatusCancelled(), 2u);
    EXPECT_FALSE(host->ReturnFalse6());
    EXPECT_FALSE(host->ReturnFalse11());
    auto access = host->CreateChannelAccess("Source");
    ASSERT_TRUE(access);
    EXPECT_EQ(access->data, nullptr);
    EXPECT_EQ(access->size, 0u);
    EXPECT_EQ(access->scale, 1.0);
    ov::OstrovanneRenderContext& ctx = *host;
    EXPECT_EQ(ctx.GetFrame(), 0.0);
    EXPECT_EQ(ctx.GetFrameScale(), 1.0);
    double first = 7.0, last = 8.0;
    ctx.GetFrameRange(first, last);
    EXPECT_EQ(first, 7.0);
    EXPECT_EQ(last, 8.0);
}

TEST(OstrovanneHost, ReportProgressFollowsTheHook) {
    ov::OstrovanneHost host("a", "b", 1, 0, 0, "c");
    EXPECT_EQ(host.ReportProgress(1, 10), 0u);
    uint32_t seenDone = 0, seenTotal = 0;
    host.progressHook = [&](uint32_t d, uint32_t t) {
        seenDone = d;
        seenTotal = t;
        return d < 5;
    };
    EXPECT_EQ(host.ReportProgress(4, 10), 0u);
    EXPECT_EQ(host.ReportProgress(5, 10), 2u);
    EXPECT_EQ(seenDone, 5u);
    EXPECT_EQ(seenTotal, 10u);
}

namespace {
struct CancelCodeHost : ov::OstrovanneHost {
    CancelCodeHost() : OstrovanneHost("a", "b", 1, 0, 0, "c") {}
    uint32_t StatusCancelled() override { return 77; }
};
}  // namespace

TEST(OstrovanneHost, ReportProgressAnswersTheDerivedStatus) {
    CancelCodeHost host;
    host.progressHook = [](uint32_t, uint32_t) { return false; };
    EXPECT_EQ(host.ReportProgress(0, 1), 77u);
}

TEST(OstrovanneHost, GetThreadCountUsesSettingOrProcessors) {
    ov::OstrovanneHost host("a", "b", 1, 0, 0, "c");
    const int32_t cpus = static_cast<int32_t>(pel::platform::ProcessorCount());
    EXPECT_EQ(host.GetThreadCount(-1), std::min(cpus, 64));
    EXPECT_EQ(host.GetThreadCount(1), 1);
    host.threadCountSetting = 4;
    EXPECT_EQ(host.GetThreadCount(-1), 4);
    EXPECT_EQ(host.GetThreadCount(2), 2);
    EXPECT_EQ(host.GetThreadCount(999999), 4);
    host.threadCountSetting = 500;
    EXPECT_EQ(host.GetThreadCount(-1), 64);
}

TEST(OstrovanneHost, MemoryFromTheHeapOrTheHooks) {
    ov::OstrovanneHost host("a", "b", 1, 0, 0, "c");
    void* block = host.AllocateMemory(1024);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 1024);
    host.FreeMemory(block);
    void* empty = host.AllocateMemory(0);
    host.FreeMemory(empty);
    host.FreeMemory(nullptr);

    std::vector<void*> freed;
    static char arena[16];
    host.allocateHook = [](uint32_t size) -> void* { return size <= 16 ? arena : nullptr; };
    host.freeHook = [&](void* p) { freed.push_back(p); };
    EXPECT_EQ(host.AllocateMemory(8), arena);
    EXPECT_EQ(host.AllocateMemory(17), nullptr);
    host.FreeMemory(arena);
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_EQ(freed[0], arena);
}

// Without a hook an exhausted heap answers null (never an exception). Run in a child process
// with a small address-space limit; not under the sanitizers, which reserve their own shadow.
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(OstrovanneHostDeathTest, AllocationAnswersNullWhenMemoryRunsOut) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = 512ull << 20;
            setrlimit(RLIMIT_AS, &limit);
            ov::OstrovanneHost host("a", "b", 1, 0, 0, "c");
            void* p = nullptr;
            try {
                p = host.AllocateMemory(0xFFFFFF00u);
            } catch (...) {
                std::_Exit(2);
            }
            std::_Exit(p == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif
