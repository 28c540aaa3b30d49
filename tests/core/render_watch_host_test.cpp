// The render watch of ov::OstrovanneHost: what the host's thread does while a render runs
// (set-up work on it, parallel runs beside it, a message that starts a run of its own), how
// the watch ends, and the pool's shape following each request.
#include "core/host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "core_test_support.h"

using pel_test::WithDeadline;

namespace {

using Progress = std::pair<uint32_t, uint32_t>;

struct Host : ov::OstrovanneHost {
    Host() : OstrovanneHost("Test", "Maker", 1, 0, 0, "") {}
};

}  // namespace

// Set-up work runs on the host's thread outside any parallel run: its progress reports reach
// the watch there (so the host's bar moves and its abort is heard), as the largest fraction
// any thread has reported; a report on another thread never calls the watch itself. Once the
// watch has answered "cancelled", every thread hears it and the watch is not asked again.
TEST(RenderWatchHost, WorkOnTheHostsThreadMovesTheBarAndAnswersTheAbort) {
    WithDeadline(30, [] {
        Host host;
        host.watchIntervalMs = 0;
        const uint32_t hostThread = pel::platform::CurrentThreadId();
        std::vector<Progress> seen;
        bool offThread = false;
        const size_t cancelAt = 4;
        host.BeginWatch([&](uint32_t done, uint32_t total) {
            offThread = offThread || pel::platform::CurrentThreadId() != hostThread;
            seen.emplace_back(done, total);
            return seen.size() >= cancelAt ? host.StatusCancelled() : host.StatusOk();
        });
        EXPECT_EQ(host.ReportProgress(1, 10), host.StatusOk());
        ASSERT_EQ(seen, (std::vector<Progress>{{1, 10}}));
        EXPECT_EQ(host.ReportProgress(30, 100), host.StatusOk());
        EXPECT_EQ(seen.back(), Progress(30, 100));
        // Another thread's report is kept for the bar but does not call the watch.
        std::thread([&] { EXPECT_EQ(host.ReportProgress(6, 10), host.StatusOk()); }).join();
        EXPECT_EQ(seen.size(), 2u);
        // A smaller fraction does not take the bar back.
        EXPECT_EQ(host.ReportProgress(2, 10), host.StatusOk());
        EXPECT_EQ(seen.back(), Progress(6, 10));
        EXPECT_EQ(host.ReportProgress(7, 10), host.StatusCancelled());
        EXPECT_EQ(seen.back(), Progress(7, 10));
        std::thread([&] { EXPECT_EQ(host.ReportProgress(8, 10), host.StatusCancelled()); }).join();
        EXPECT_EQ(host.ReportProgress(9, 10), host.StatusCancelled());
        EXPECT_EQ(seen.size(), cancelAt);
        EXPECT_FALSE(offThread);
        EXPECT_EQ(host.EndWatch(), host.StatusCancelled());

        // Within the watch's interval the host's thread reports without asking the host.
        seen.clear();
        host.watchIntervalMs = 3600 * 1000;
        host.BeginWatch([&](uint32_t done, uint32_t total) {
            seen.emplace_back(done, total);
            return host.StatusOk();
        });
        for (uint32_t y = 0; y < 100; ++y) EXPECT_EQ(host.ReportProgress(y, 100), host.StatusOk());
        EXPECT_TRUE(seen.empty());
        host.PollWatch(true);
        EXPECT_EQ(seen, (std::vector<Progress>{{99, 100}}));
        EXPECT_EQ(host.EndWatch(), host.StatusOk());
    });
}

// The watch's own answer is what every thread hears (a quit message during a preview is not
// turned into "cancelled"), and a watch that throws stops the render as cancelled instead of
// passing the exception into the pool's wait.
TEST(RenderWatchHost, TheWatchsAnswerIsKeptAndAThrowingWatchCancels) {
    WithDeadline(30, [] {
        Host host;
        host.threadCountSetting = 3;
        host.watchIntervalMs = 0;
        constexpr uint32_t kQuit = 0xFFFFFFFFu;
        host.BeginWatch([](uint32_t, uint32_t) { return kQuit; });
        EXPECT_EQ(host.ReportProgress(1, 4), kQuit);
        std::thread([&] { EXPECT_EQ(host.ReportProgress(2, 4), kQuit); }).join();
        EXPECT_EQ(host.EndWatch(), kQuit);

        int calls = 0;
        host.BeginWatch([&](uint32_t, uint32_t) -> uint32_t {
            ++calls;
            throw std::runtime_error("the host's progress procedure failed");
        });
        std::atomic<int> stopped{0};
        const uint32_t status = host.ParallelRun(6, [&](uint32_t, uint32_t, uint32_t) {
            // Each item reports until it hears the answer (bounded: a lost answer fails below).
            for (int i = 0; i < 2000; ++i) {
                if (host.ReportProgress(uint32_t(i), 2000) != host.StatusOk()) {
                    ++stopped;
                    return host.StatusCancelled();
                }
                pel::platform::SleepMilliseconds(1);
            }
            return host.StatusOk();
        });
        EXPECT_EQ(status, host.StatusCancelled());
        EXPECT_GE(stopped.load(), 1);  // each thread stops at its first failure
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(host.EndWatch(), host.StatusCancelled());
    });
}

// The watch ends with its render: after a render the watch cancelled, progress reports on
// any thread answer StatusOk and call no watch, a parallel run has the caller work beside its
// workers again, and the next watch starts its bar from zero.
TEST(RenderWatchHost, TheWatchEndsWithItsRender) {
    WithDeadline(30, [] {
        Host host;
        host.threadCountSetting = 3;
        host.watchIntervalMs = 0;
        int calls = 0;
        host.BeginWatch([&](uint32_t, uint32_t) {
            ++calls;
            return host.StatusCancelled();
        });
        EXPECT_EQ(host.ReportProgress(9, 10), host.StatusCancelled());
        EXPECT_EQ(host.EndWatch(), host.StatusCancelled());
        EXPECT_EQ(calls, 1);

        EXPECT_EQ(host.ReportProgress(1, 2), host.StatusOk());
        std::thread([&] { EXPECT_EQ(host.ReportProgress(1, 2), host.StatusOk()); }).join();
        host.PollWatch(true);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(host.EndWatch(), host.StatusOk());  // nothing kept

        const uint32_t caller = pel::platform::CurrentThreadId();
        std::atomic<int> onCaller{0}, refused{0};
        EXPECT_EQ(host.ParallelRun(60,
                                   [&](uint32_t i, uint32_t n, uint32_t) {
                                       if (pel::platform::CurrentThreadId() == caller) ++onCaller;
                                       if (host.ReportProgress(i, n) != host.StatusOk()) ++refused;
                                       pel::platform::SleepMilliseconds(1);
                                       return host.StatusOk();
                                   }),
                  host.StatusOk());
        EXPECT_FALSE(host.threadPool.CallerWaits());
        EXPECT_GT(onCaller.load(), 0);
        EXPECT_EQ(refused.load(), 0);
        EXPECT_EQ(calls, 1);

        // The next render's bar starts from zero, not from the last render's 9 of 10.
        std::vector<Progress> seen;
        host.BeginWatch([&](uint32_t done, uint32_t total) {
            seen.emplace_back(done, total);
            return host.StatusOk();
        });
        host.PollWatch(true);
        EXPECT_EQ(host.ReportProgress(1, 100), host.StatusOk());
        EXPECT_EQ(seen, (std::vector<Progress>{{0, 1}, {1, 100}}));
        EXPECT_EQ(host.EndWatch(), host.StatusOk());
    });
}

// A parallel run that the watch itself starts (a message handled during a preview, while the
// pool is busy with the render's run) runs inline on the host's thread with thread id 0; it
// does not enter the busy pool, and the render's run still runs each of its items once.
TEST(RenderWatchHost, ARunStartedFromTheWatchRunsInline) {
    WithDeadline(60, [] {
        Host host;
        host.threadCountSetting = 4;
        host.watchIntervalMs = 0;
        const uint32_t hostThread = pel::platform::CurrentThreadId();
        constexpr uint32_t kItems = 48, kInner = 8;
        std::vector<std::atomic<int>> runs(kItems);
        std::atomic<int> outerOnHost{0}, innerRuns{0}, innerElsewhere{0};
        int polls = 0;
        host.BeginWatch([&](uint32_t, uint32_t) {
            if (++polls <= 3) {
                const uint32_t s = host.ParallelRun(kInner, [&](uint32_t i, uint32_t n, uint32_t id) {
                    if (id != 0 || n != kInner || i >= kInner || pel::platform::CurrentThreadId() != hostThread)
                        ++innerElsewhere;
                    ++innerRuns;
                    return host.StatusOk();
                });
                EXPECT_EQ(s, host.StatusOk());
            }
            return host.StatusOk();
        });
        const uint32_t status = host.ParallelRun(kItems, [&](uint32_t i, uint32_t, uint32_t) {
            if (pel::platform::CurrentThreadId() == hostThread) ++outerOnHost;
            pel::platform::SleepMilliseconds(4);
            ++runs[i];
            return host.StatusOk();
        });
        EXPECT_EQ(host.EndWatch(), host.StatusOk());
        EXPECT_EQ(status, host.StatusOk());
        ASSERT_GE(polls, 1);
        EXPECT_EQ(innerRuns.load(), int(kInner) * std::min(polls, 3));
        EXPECT_EQ(innerElsewhere.load(), 0);
        EXPECT_EQ(outerOnHost.load(), 0);
        for (uint32_t i = 0; i < kItems; ++i) EXPECT_EQ(runs[i].load(), 1) << "item " << i;
        EXPECT_TRUE(host.threadPool.CallerWaits());
    });
}

// The pool's shape follows each request, also when the number of threads stays the same:
// a caller that works takes items beside count - 1 workers, a waiting caller takes none
// beside count workers; either way the job sees thread ids below count.
TEST(RenderWatchHost, PoolShapeFollowsEachRequest) {
    struct Step {
        int32_t count;
        bool waits;
    };
    // Pairs whose thread records coincide (4 waiting and 5 working both hold five), and pairs
    // with the same count in both shapes.
    const std::vector<Step> steps = {{4, true}, {5, false}, {4, true}, {4, false}, {4, true},
                                     {1, true}, {2, false}, {1, true}, {1, false}, {2, true}};
    WithDeadline(60, [&] {
        ov::ThreadPool pool;
        const uint32_t caller = pel::platform::CurrentThreadId();
        for (size_t s = 0; s < steps.size(); ++s) {
            const Step step = steps[s];
            SCOPED_TRACE(testing::Message() << "step " << s << ": " << step.count << " threads, caller waits "
                                            << step.waits);
            pool.Init(step.count, step.waits);
            EXPECT_EQ(pool.CallerWaits(), step.waits);
            EXPECT_EQ(pool.ThreadCount(), step.waits ? step.count + 1 : step.count);
            std::atomic<int> onCaller{0}, badId{0}, total{0};
            EXPECT_EQ(pool.Run(40,
                               [&](uint32_t, uint32_t, uint32_t id) {
                                   if (pel::platform::CurrentThreadId() == caller) ++onCaller;
                                   if (id >= uint32_t(step.count)) ++badId;
                                   pel::platform::SleepMilliseconds(1);
                                   ++total;
                                   return ov::kStatusOk;
                               }),
                      ov::kStatusOk);
            EXPECT_EQ(total.load(), 40);
            EXPECT_EQ(badId.load(), 0);
            if (step.waits) {
                EXPECT_EQ(onCaller.load(), 0);
            } else {
                EXPECT_GT(onCaller.load(), 0);
            }
        }
    });
    // Through the host: the same setting, watched and plain runs in turn.
    WithDeadline(60, [] {
        Host host;
        host.threadCountSetting = 4;
        const uint32_t caller = pel::platform::CurrentThreadId();
        for (int round = 0; round < 4; ++round) {
            const bool watched = round % 2 == 0;
            SCOPED_TRACE(testing::Message() << "round " << round);
            if (watched) host.BeginWatch([&](uint32_t, uint32_t) { return host.StatusOk(); });
            std::atomic<int> onCaller{0};
            EXPECT_EQ(host.ParallelRun(40,
                                       [&](uint32_t, uint32_t, uint32_t) {
                                           if (pel::platform::CurrentThreadId() == caller) ++onCaller;
                                           pel::platform::SleepMilliseconds(1);
                                           return host.StatusOk();
                                       }),
                      host.StatusOk());
            if (watched) {
                EXPECT_EQ(host.EndWatch(), host.StatusOk());
            }
            EXPECT_EQ(host.threadPool.CallerWaits(), watched);
            EXPECT_EQ(onCaller.load() == 0, watched);
        }
    });
}
