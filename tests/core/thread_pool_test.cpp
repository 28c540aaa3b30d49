// ov::ThreadPool and ParallelRun, with the mended nested run.
#include "core/host.h"
#include "core/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "core_test_support.h"

using pel_test::WithDeadline;

namespace {

// Waits (bounded) until `count` distinct threads have arrived; used so that every woken
// thread surely takes part before any decides its result.
class Gate {
public:
    explicit Gate(int count) : count_(count) {}
    void Arrive() {
        ++arrived_;
        for (int i = 0; i < 20000 && arrived_.load() < count_; ++i)
            pel::platform::SleepMilliseconds(1);
    }

private:
    int count_;
    std::atomic<int> arrived_{0};
};

}  // namespace

// Every item runs exactly once for the thread counts and item counts of the issue, and
// threadID stays below both the pool size and the item count.
class PoolCoverage : public ::testing::TestWithParam<std::tuple<int32_t, uint32_t>> {};

TEST_P(PoolCoverage, EveryItemRunsExactlyOnce) {
    const auto [threads, items] = GetParam();
    WithDeadline(120, [&, threads = threads, items = items] {
        ov::OstrovanneHost host("Test", "Maker", 1, 0, 0, "");
        host.threadCountSetting = threads;
        for (int round = 0; round < 3; ++round) {  // the pool is reused between runs
            std::vector<std::atomic<int>> runs(items);
            std::atomic<uint32_t> maxId{0};
            std::atomic<bool> badCount{false};
            uint32_t status = host.ParallelRun(items, [&](uint32_t i, uint32_t n, uint32_t id) {
                if (n != items) badCount = true;
                runs[i]++;
                uint32_t m = maxId.load();
                while (id > m && !maxId.compare_exchange_weak(m, id)) {}
                return ov::kStatusOk;
            });
            EXPECT_EQ(status, ov::kStatusOk);
            EXPECT_FALSE(badCount.load());
            for (uint32_t i = 0; i < items; ++i) ASSERT_EQ(runs[i].load(), 1) << "item " << i;
            if (items > 0) {
                EXPECT_LT(maxId.load(), static_cast<uint32_t>(threads));
                EXPECT_LT(maxId.load(), items);
            }
        }
        EXPECT_EQ(host.threadPool.ThreadCount(), threads);
    });
}

INSTANTIATE_TEST_SUITE_P(ThreadsAndItems, PoolCoverage,
                         ::testing::Combine(::testing::Values(1, 2, 7, 8, 64),
                                            ::testing::Values(0u, 1u, 1000u)));

TEST(ThreadPool, RunOfZeroItemsNeverCallsTheJob) {
    ov::ThreadPool pool;
    pool.Init(4);
    std::atomic<int> calls{0};
    EXPECT_EQ(pool.Run(0, [&](uint32_t, uint32_t, uint32_t) { ++calls; return 5u; }), 0u);
    EXPECT_EQ(calls.load(), 0);
}

TEST(ThreadPool, RunWithoutInitRunsOnTheCaller) {
    ov::ThreadPool pool;
    std::vector<uint32_t> order;
    EXPECT_EQ(pool.Run(5, [&](uint32_t i, uint32_t, uint32_t id) {
                  EXPECT_EQ(id, 0u);
                  order.push_back(i);
                  return 0u;
              }),
              0u);
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
}

TEST(ThreadPool, ThreeItemsOnEightThreadsWakeOnlyWorkersOneAndTwo) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(8);
        for (int round = 0; round < 20; ++round) {
            std::mutex m;
            std::set<uint32_t> ids;
            pool.Run(3, [&](uint32_t, uint32_t, uint32_t id) {
                std::lock_guard<std::mutex> lock(m);
                ids.insert(id);
                return 0u;
            });
            for (uint32_t id : ids) EXPECT_LE(id, 2u);
        }
    });
}

TEST(ThreadPool, ThousandItemsOnFourThreads) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(4);
        std::vector<std::atomic<int>> runs(1000);
        EXPECT_EQ(pool.Run(1000, [&](uint32_t i, uint32_t, uint32_t) { runs[i]++; return 0u; }), 0u);
        for (auto& r : runs) EXPECT_EQ(r.load(), 1);
    });
}

// The failing thread stops at its first failure, the others go on, and the run answers the
// status of the lowest-numbered failing thread, whatever thread 0 does later.
TEST(ThreadPool, LowestNumberedFailingThreadIsReturned) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(4);
        Gate gate(4);
        std::vector<std::atomic<int>> runs(1000);
        std::atomic<int> firstOfThread[4] = {};
        std::atomic<int> runsOnThread[4] = {};
        uint32_t status = pool.Run(1000, [&](uint32_t i, uint32_t, uint32_t id) -> uint32_t {
            runs[i]++;
            runsOnThread[id]++;
            if (firstOfThread[id]++ == 0) gate.Arrive();
            if (id == 3) return 9;
            if (id == 2) return 7;
            return 0;
        });
        EXPECT_EQ(status, 7u);
        EXPECT_EQ(runsOnThread[2].load(), 1);
        EXPECT_EQ(runsOnThread[3].load(), 1);
        int total = 0;
        for (auto& r : runs) {
            EXPECT_LE(r.load(), 1);
            total += r.load();
        }
        // Threads 2 and 3 each drew one more number that nobody runs (unless the others had
        // drawn every number by then).
        EXPECT_GE(total, 998);
        EXPECT_LE(total, 1000);
    });
}

TEST(ThreadPool, ThreadZeroFailureWinsOverWorkers) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(4);
        Gate gate(4);
        std::atomic<int> firstOfThread[4] = {};
        uint32_t status = pool.Run(400, [&](uint32_t, uint32_t, uint32_t id) -> uint32_t {
            if (firstOfThread[id]++ == 0) gate.Arrive();
            if (id == 0) return 11;
            if (id == 1) return 12;
            return 0;
        });
        EXPECT_EQ(status, 11u);
    });
}

TEST(ThreadPool, WorkerFailureNotHiddenByLaterSuccessesOfThreadZero) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(3);
        Gate gate(3);
        std::atomic<int> firstOfThread[3] = {};
        std::atomic<int> zeroRuns{0};
        uint32_t status = pool.Run(300, [&](uint32_t, uint32_t, uint32_t id) -> uint32_t {
            if (firstOfThread[id]++ == 0) gate.Arrive();
            if (id == 0) {
                ++zeroRuns;
                return 0;
            }
            return id == 2 ? 5u : 0u;
        });
        EXPECT_EQ(status, 5u);
        EXPECT_GT(zeroRuns.load(), 0);
    });
}

// A run started from inside a job, on a worker or on thread 0, completes inline on that
// thread, in order, with threadID 0, without rebuilding the pool.
TEST(ThreadPool, NestedRunFromInsideAJobCompletesInline) {
    pel_test::TempHome home(true);
    WithDeadline(60, [] {
        ov::OstrovanneHost host("Test", "Maker", 1, 0, 0, "");
        host.threadCountSetting = 4;
        Gate gate(4);
        std::atomic<int> firstOfThread[4] = {};
        std::atomic<int> nestedOnWorker{0}, nestedOnZero{0}, bad{0};
        uint32_t status = host.ParallelRun(64, [&](uint32_t, uint32_t, uint32_t outerId) {
            if (firstOfThread[outerId]++ == 0) gate.Arrive();
            const uint32_t self = pel::platform::CurrentThreadId();
            const bool onWorker = host.threadPool.IsWorkerThread();
            if (onWorker != (outerId != 0)) ++bad;
            std::vector<uint32_t> order;
            uint32_t inner = host.ParallelRun(5, [&](uint32_t i, uint32_t n, uint32_t id) {
                if (id != 0 || n != 5 || pel::platform::CurrentThreadId() != self) ++bad;
                order.push_back(i);
                return ov::kStatusOk;
            });
            if (inner != ov::kStatusOk || order != std::vector<uint32_t>{0, 1, 2, 3, 4}) ++bad;
            (outerId == 0 ? nestedOnZero : nestedOnWorker)++;
            return ov::kStatusOk;
        });
        EXPECT_EQ(status, ov::kStatusOk);
        EXPECT_EQ(bad.load(), 0);
        EXPECT_GT(nestedOnZero.load(), 0);
        EXPECT_GT(nestedOnWorker.load(), 0);
        EXPECT_EQ(host.threadPool.ThreadCount(), 4);
    });
    // One pool build only: the nested runs skipped Init.
    const std::string log = home.Log();
    EXPECT_EQ(log, pel_test::InFile("initializing threadpool with 4 threads\n"));
}

TEST(ThreadPool, NestedRunStopsAtItsFirstFailure) {
    WithDeadline(60, [] {
        ov::OstrovanneHost host("Test", "Maker", 1, 0, 0, "");
        host.threadCountSetting = 3;
        std::atomic<int> bad{0};
        uint32_t status = host.ParallelRun(30, [&](uint32_t, uint32_t, uint32_t) {
            std::vector<uint32_t> seen;
            uint32_t inner = host.ParallelRun(10, [&](uint32_t i, uint32_t, uint32_t) {
                seen.push_back(i);
                return i == 3 ? 42u : 0u;
            });
            if (inner != 42u || seen != std::vector<uint32_t>{0, 1, 2, 3}) ++bad;
            return 0u;
        });
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(bad.load(), 0);
    });
}

TEST(ThreadPool, NestedRunDirectlyOnThePoolFromThreadZero) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(2);
        std::atomic<int> bad{0};
        pool.Run(1, [&](uint32_t, uint32_t, uint32_t id) {
            if (id != 0 || !pool.IsInsideJob() || pool.IsWorkerThread()) ++bad;
            uint32_t count = 0;
            pool.Run(3, [&](uint32_t, uint32_t, uint32_t innerId) {
                if (innerId != 0) ++bad;
                ++count;
                return 0u;
            });
            if (count != 3) ++bad;
            return 0u;
        });
        EXPECT_EQ(bad.load(), 0);
        EXPECT_FALSE(pool.IsInsideJob());
        EXPECT_FALSE(pool.IsWorkerThread());
    });
}

// The pool is rebuilt only when the count changes, with its log line.
TEST(ThreadPool, RebuiltOnlyWhenTheCountChanges) {
    pel_test::TempHome home(true);
    WithDeadline(60, [] {
        ov::OstrovanneHost host("Test", "Maker", 1, 0, 0, "");
        host.threadCountSetting = 3;
        auto job = [](uint32_t, uint32_t, uint32_t) { return 0u; };
        EXPECT_EQ(host.ParallelRun(10, job), 0u);
        EXPECT_EQ(host.ParallelRun(10, job), 0u);
        host.threadPool.Init(3);
        EXPECT_EQ(host.threadPool.ThreadCount(), 3);
        host.threadCountSetting = 5;
        EXPECT_EQ(host.ParallelRun(10, job), 0u);
        EXPECT_EQ(host.threadPool.ThreadCount(), 5);
        EXPECT_EQ(host.ParallelRun(10, job), 0u);
    });
    EXPECT_EQ(home.Log(), pel_test::InFile("initializing threadpool with 3 threads\n"
                                           "initializing threadpool with 5 threads\n"));
}

// A worker's exception is dropped and ends that worker's share; thread 0's passes to the
// caller after the workers are done.
TEST(ThreadPool, WorkerExceptionIsSwallowed) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(4);
        Gate gate(4);
        std::atomic<int> firstOfThread[4] = {};
        std::atomic<int> runsAfterThrow{0};
        std::atomic<bool> thrown{false};
        uint32_t status = pool.Run(200, [&](uint32_t, uint32_t, uint32_t id) -> uint32_t {
            if (firstOfThread[id]++ == 0) gate.Arrive();
            if (id == 2) {
                if (thrown.exchange(true)) ++runsAfterThrow;
                throw std::runtime_error("worker fails");
            }
            return 0;
        });
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(runsAfterThrow.load(), 0);
        // The pool still works afterwards.
        std::atomic<int> count{0};
        EXPECT_EQ(pool.Run(50, [&](uint32_t, uint32_t, uint32_t) { ++count; return 0u; }), 0u);
        EXPECT_EQ(count.load(), 50);
    });
}

TEST(ThreadPool, ThreadZeroExceptionPassesToTheCaller) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(3);
        Gate gate(3);
        std::atomic<int> firstOfThread[3] = {};
        EXPECT_THROW(pool.Run(100,
                              [&](uint32_t, uint32_t, uint32_t id) -> uint32_t {
                                  if (firstOfThread[id]++ == 0) gate.Arrive();
                                  if (id == 0) throw std::runtime_error("caller fails");
                                  return 0;
                              }),
                     std::runtime_error);
        std::atomic<int> count{0};
        EXPECT_EQ(pool.Run(30, [&](uint32_t, uint32_t, uint32_t) { ++count; return 0u; }), 0u);
        EXPECT_EQ(count.load(), 30);
    });
}

TEST(ThreadPool, IsWorkerThreadOnlyOnWorkers) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        EXPECT_FALSE(pool.IsWorkerThread());
        pool.Init(1);
        EXPECT_FALSE(pool.IsWorkerThread());
        pool.Init(3);
        EXPECT_FALSE(pool.IsWorkerThread());
        Gate gate(3);
        std::atomic<int> firstOfThread[3] = {};
        std::atomic<int> bad{0};
        pool.Run(30, [&](uint32_t, uint32_t, uint32_t id) {
            if (firstOfThread[id]++ == 0) gate.Arrive();
            if (pool.IsWorkerThread() != (id != 0)) ++bad;
            return 0u;
        });
        EXPECT_EQ(bad.load(), 0);
    });
}

TEST(ThreadPool, ConcurrentRunsFromTwoCallersAreSerialised) {
    WithDeadline(120, [] {
        ov::OstrovanneHost host("Test", "Maker", 1, 0, 0, "");
        host.threadCountSetting = 4;
        std::atomic<int> total{0};
        auto caller = [&] {
            for (int r = 0; r < 20; ++r)
                host.ParallelRun(100, [&](uint32_t, uint32_t, uint32_t) { ++total; return 0u; });
        };
        std::thread a(caller), b(caller);
        a.join();
        b.join();
        EXPECT_EQ(total.load(), 2 * 20 * 100);
    });
}

// A thread whose job fails draws one more item number before it looks at its status, and
// stops without running it; no other thread runs that item: exactly one item besides the
// failed one is lost, every other item runs once, and the run answers the failure. Item 0
// fails at once; every other item waits until it has failed and then a little (so that the
// failed thread draws its number while items are left), on both pool shapes (the caller
// works, or waits beside its workers) with two and eight working threads.
TEST(ThreadPool, FailedThreadDrawsOneMoreItemThatNoThreadRuns) {
    struct Row {
        int32_t threads;
        bool callerWaits;
    };
    for (const Row row : {Row{2, false}, Row{8, false}, Row{2, true}, Row{8, true}}) {
        SCOPED_TRACE(testing::Message() << row.threads << " threads, caller waits " << row.callerWaits);
        WithDeadline(60, [&] {
            ov::ThreadPool pool;
            pool.Init(row.threads, row.callerWaits);
            for (int round = 0; round < 2; ++round) {
                // The other threads need about 100 ms to use up the items after the failure.
                const uint32_t items = 32u * uint32_t(row.threads);
                std::vector<std::atomic<int>> runs(items);
                std::atomic<bool> failed{false};
                const uint32_t status = pool.Run(items, [&](uint32_t i, uint32_t, uint32_t) {
                    runs[i]++;
                    if (i == 0) {
                        failed = true;
                        return 7u;
                    }
                    while (!failed) pel::platform::SleepMilliseconds(1);
                    pel::platform::SleepMilliseconds(3);
                    return ov::kStatusOk;
                });
                EXPECT_EQ(status, 7u);
                uint32_t lost = 0;
                for (uint32_t i = 0; i < items; ++i) {
                    ASSERT_LE(runs[i].load(), 1) << "item " << i;
                    if (runs[i].load() == 0) ++lost;
                }
                EXPECT_EQ(runs[0].load(), 1);
                EXPECT_EQ(lost, 1u);
            }
        });
    }
}

// Beside a waiting caller the items run on `count` workers only, the job sees thread ids
// 0 .. count-1 (as many as the working threads of the plain shape), and the caller polls
// at least every kPollIntervalMs while a slow item runs, and once at the end of a run.
TEST(ThreadPool, WaitingCallerPollsWhileTheWorkersRun) {
    WithDeadline(60, [] {
        ov::ThreadPool pool;
        pool.Init(4, true);
        EXPECT_TRUE(pool.CallerWaits());
        EXPECT_EQ(pool.ThreadCount(), 5);
        const uint32_t caller = pel::platform::CurrentThreadId();
        std::atomic<int> onCaller{0}, polls{0}, pollsElsewhere{0};
        std::atomic<uint32_t> maxId{0};
        std::vector<std::atomic<int>> runs(1000);
        const uint32_t status = pool.Run(
            1000,
            [&](uint32_t i, uint32_t, uint32_t id) {
                if (pel::platform::CurrentThreadId() == caller) onCaller++;
                uint32_t m = maxId.load();
                while (id > m && !maxId.compare_exchange_weak(m, id)) {}
                if (i == 500) pel::platform::SleepMilliseconds(10 * ov::kPollIntervalMs);
                runs[i]++;
                return ov::kStatusOk;
            },
            [&] {
                polls++;
                if (pel::platform::CurrentThreadId() != caller) pollsElsewhere++;
            });
        EXPECT_EQ(status, ov::kStatusOk);
        EXPECT_EQ(onCaller.load(), 0);
        EXPECT_LE(maxId.load(), 3u);
        EXPECT_GE(polls.load(), 4);
        EXPECT_EQ(pollsElsewhere.load(), 0);
        for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(runs[i].load(), 1) << "item " << i;
        // Two items wake two workers, ids 0 and 1; a run still ends with one poll.
        std::set<uint32_t> ids;
        std::mutex m;
        polls = 0;
        EXPECT_EQ(pool.Run(2, [&](uint32_t, uint32_t, uint32_t id) {
                      std::lock_guard<std::mutex> lock(m);
                      ids.insert(id);
                      pel::platform::SleepMilliseconds(5);
                      return ov::kStatusOk;
                  }, [&] { polls++; }),
                  ov::kStatusOk);
        ASSERT_FALSE(ids.empty());
        EXPECT_LE(*ids.rbegin(), 1u);
        EXPECT_GE(polls.load(), 1);
    });
}

// A thread that cannot be started (no room for its stack) means fewer threads: the pool keeps
// the caller and the workers it got, runs every item once on them, and a later Init with the
// same count tries again (and gets them all once threads can be started).
TEST(ThreadPool, ThreadsThatCannotStartMeanFewerThreads) {
    WithDeadline(60, [] {
        struct Lift {
            ~Lift() { pel::platform::LimitThreadStartsForTesting(-1); }
        } lift;
        for (const bool waits : {false, true}) {
            ov::ThreadPool pool;
            pel::platform::LimitThreadStartsForTesting(2);
            pool.Init(8, waits);
            pel::platform::LimitThreadStartsForTesting(-1);
            EXPECT_EQ(pool.ThreadCount(), 3) << waits;
            std::vector<std::atomic<int>> runs(200);
            std::atomic<uint32_t> maxId{0};
            EXPECT_EQ(pool.Run(200, [&](uint32_t i, uint32_t, uint32_t id) {
                runs[i]++;
                uint32_t m = maxId.load();
                while (id > m && !maxId.compare_exchange_weak(m, id)) {}
                return ov::kStatusOk;
            }), ov::kStatusOk);
            for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
            EXPECT_LE(maxId.load(), 2u);
            pool.Init(8, waits);
            EXPECT_EQ(pool.ThreadCount(), waits ? 9 : 8);
        }
    });
}
