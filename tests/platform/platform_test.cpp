// The platform layer: the Win32 semantics the system relies on, on both builds.
#include "platform/platform.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace pp = pel::platform;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        static std::atomic<int> counter{0};
        path = fs::temp_directory_path() /
               ("pel_platform_" + std::to_string(pp::CurrentThreadId()) + "_" +
                std::to_string(pp::TickCount()) + "_" + std::to_string(counter++));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

}  // namespace

TEST(PlatformEvent, ManualResetStaysSignalledUntilReset) {
    pp::Event e;
    ASSERT_TRUE(e.IsValid());
    EXPECT_EQ(e.Wait(0), pp::WaitResult::Timeout);
    EXPECT_TRUE(e.Set());
    EXPECT_EQ(e.Wait(0), pp::WaitResult::Signalled);
    EXPECT_EQ(e.Wait(0), pp::WaitResult::Signalled);   // a wait does not reset it
    EXPECT_EQ(e.Wait(pp::kWaitInfinite), pp::WaitResult::Signalled);
    EXPECT_TRUE(e.Reset());
    EXPECT_EQ(e.Wait(0), pp::WaitResult::Timeout);
}

TEST(PlatformEvent, CreatedSignalledWhenAsked) {
    pp::Event e(true);
    EXPECT_EQ(e.Wait(0), pp::WaitResult::Signalled);
}

TEST(PlatformEvent, TimedWaitTimesOut) {
    pp::Event e;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(e.Wait(30), pp::WaitResult::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(25));
}

TEST(PlatformEvent, SetReleasesEveryWaiter) {
    pp::Event e;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (e.Wait() == pp::WaitResult::Signalled) ++woken;
        });
    pp::SleepMilliseconds(20);
    e.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 4);
}

TEST(PlatformCriticalSection, IsRecursiveAndExclusive) {
    pp::CriticalSection cs;
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter());  // the holder may enter again
    bool otherGot = true;
    std::thread other([&] {
        otherGot = cs.TryEnter();
        if (otherGot) cs.Leave();
    });
    other.join();
    EXPECT_FALSE(otherGot);
    cs.Leave();
    cs.Leave();
    std::thread again([&] {
        otherGot = cs.TryEnter();
        if (otherGot) cs.Leave();
    });
    again.join();
    EXPECT_TRUE(otherGot);
}

TEST(PlatformCriticalSection, GuardsACounter) {
    pp::CriticalSection cs;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                pp::CriticalSectionGuard guard(cs);
                ++counter;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
}

namespace {
struct ThreadArgs {
    std::atomic<uint32_t> seenId{0};
    pp::Event release;
};
uint32_t ThreadBody(void* p) {
    auto* a = static_cast<ThreadArgs*>(p);
    a->seenId = pp::CurrentThreadId();
    a->release.Wait();
    return 7;
}
}  // namespace

TEST(PlatformThread, StartsWaitsAndReportsItsId) {
    ThreadArgs args;
    uint32_t id = 0;
    pp::ThreadHandle h = pp::StartThread(&ThreadBody, &args, &id);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, pp::CurrentThreadId());
    EXPECT_EQ(pp::WaitThread(h, 1), pp::WaitResult::Timeout);  // still waiting for release
    args.release.Set();
    EXPECT_EQ(pp::WaitThread(h, pp::kWaitInfinite), pp::WaitResult::Signalled);
    EXPECT_EQ(args.seenId.load(), id);
    EXPECT_EQ(pp::WaitThread(h, 1), pp::WaitResult::Signalled);  // ended stays ended
    pp::CloseThread(h);
}

TEST(PlatformThread, CurrentThreadIdIsStableAndNonZero) {
    uint32_t a = pp::CurrentThreadId();
    EXPECT_NE(a, 0u);
    EXPECT_EQ(a, pp::CurrentThreadId());
    uint32_t other = 0;
    std::thread t([&] { other = pp::CurrentThreadId(); });
    t.join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, a);
}

TEST(PlatformSystem, ProcessorCountIsPositive) { EXPECT_GE(pp::ProcessorCount(), 1u); }

#if defined(__linux__)
// A process held to some processors (taskset, a container's cpuset) counts only those.
TEST(PlatformSystem, ProcessorCountFollowsTheAffinityMask) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(pp::ProcessorCount(), uint32_t(CPU_COUNT(&all)));
    int first = 0;
    while (!CPU_ISSET(first, &all)) ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const uint32_t held = pp::ProcessorCount();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(held, 1u);
}
#endif

TEST(PlatformSystem, TickCountCountsMilliseconds) {
    uint32_t t0 = pp::TickCount();
    pp::SleepMilliseconds(50);
    uint32_t dt = pp::TickCount() - t0;
    EXPECT_GE(dt, 30u);
    EXPECT_LT(dt, 5000u);
}

TEST(PlatformSystem, PerformanceCounterIsMonotonicWithItsRate) {
    int64_t f = pp::PerformanceFrequency();
    ASSERT_GT(f, 0);
    int64_t a = pp::PerformanceCounter();
    pp::SleepMilliseconds(20);
    int64_t b = pp::PerformanceCounter();
    EXPECT_GT(b, a);
    double seconds = static_cast<double>(b - a) / static_cast<double>(f);
    EXPECT_GT(seconds, 0.010);
    EXPECT_LT(seconds, 5.0);
}

TEST(PlatformEnvironment, SetReadAndRemove) {
    ASSERT_TRUE(pp::SetEnvironmentVariableValue("PEL_PLATFORM_TEST_VAR", "abc"));
    std::string v;
    EXPECT_TRUE(pp::EnvironmentVariable("PEL_PLATFORM_TEST_VAR", &v));
    EXPECT_EQ(v, "abc");
    ASSERT_TRUE(pp::SetEnvironmentVariableValue("PEL_PLATFORM_TEST_VAR", nullptr));
    EXPECT_FALSE(pp::EnvironmentVariable("PEL_PLATFORM_TEST_VAR", &v));
}

TEST(PlatformPath, SplitPathLikeSplitpath) {
    std::string drive, dir, name, ext;
    pp::SplitPath("C:\\Program Files\\Host\\Plug-ins\\Pelidorn.8bf", &drive, &dir, &name, &ext);
    EXPECT_EQ(drive, "C:");
    EXPECT_EQ(dir, "\\Program Files\\Host\\Plug-ins\\");
    EXPECT_EQ(name, "Pelidorn");
    EXPECT_EQ(ext, ".8bf");
    pp::SplitPath("/usr/lib/pelidorn.so", &drive, &dir, &name, &ext);
    EXPECT_EQ(drive, "");
    EXPECT_EQ(dir, "/usr/lib/");
    EXPECT_EQ(name, "pelidorn");
    EXPECT_EQ(ext, ".so");
    pp::SplitPath("plain", &drive, &dir, &name, &ext);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(name, "plain");
    EXPECT_EQ(ext, "");
}

TEST(PlatformModule, FileNameIsThisProgram) {
    std::string f = pp::ModuleFileName();
    ASSERT_FALSE(f.empty());
    EXPECT_NE(f.find("platform_tests"), std::string::npos) << f;
    EXPECT_NE(pp::ModuleHandle(), nullptr);
}

TEST(PlatformFiles, ListsEntriesWithTheirKind) {
    TempDir t;
    Touch(t.path / "a.txt");
    fs::create_directories(t.path / "sub");
    std::vector<pp::DirectoryEntry> entries;
    ASSERT_TRUE(pp::ListDirectory(t.path.string(), &entries));
    bool sawFile = false, sawDir = false;
    for (const auto& e : entries) {
        if (e.name == "a.txt") sawFile = !e.isDirectory;
        if (e.name == "sub") sawDir = e.isDirectory;
    }
    EXPECT_TRUE(sawFile);
    EXPECT_TRUE(sawDir);
    EXPECT_FALSE(pp::ListDirectory((t.path / "missing").string(), &entries));
}

TEST(PlatformConsole, FollowsOpenAndClose) {
    EXPECT_FALSE(pp::DebugConsoleIsOpen());
    pp::DebugConsoleWrite("not shown\n");  // closed: goes nowhere
    if (pp::DebugConsoleOpen("Debug Window")) {
        EXPECT_TRUE(pp::DebugConsoleIsOpen());
        pp::DebugConsoleWrite("");
        pp::DebugConsoleClose();
    }
    EXPECT_FALSE(pp::DebugConsoleIsOpen());
}
