// ov::ThreadPool: the caller is thread 0 and up to 63 workers join it. Items
// are handed out from a shared counter; a thread stops at its own first failure; the run
// answers the status of the lowest-numbered failing thread.
//
// Waiting caller: a pool brought up with Init(count, true) has count workers (threads 1 ..
// count) and the caller takes no items; while a run is in progress it calls the run's poll
// at least every kPollIntervalMs, so that the host's thread stays free for its progress and
// abort checks however long an item takes. The jobs then see threadID = worker - 1, so the
// thread ids a job sees are 0 .. min(count, items) - 1 in both shapes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/render_context.h"
#include "platform/platform.h"

namespace ov {

constexpr int32_t kMaxPoolThreads = 64;
// How long a waiting caller waits for its workers between two polls.
constexpr uint32_t kPollIntervalMs = 20;

// A manual-reset event whose failures are logged (level 3) and otherwise ignored.
class Event {
public:
    explicit Event(bool initiallySignalled = false);
    void Set();
    void Reset();
    pel::platform::WaitResult Wait(uint32_t milliseconds = pel::platform::kWaitInfinite);

private:
    pel::platform::Event event_;
};

// Calls its action once when it goes out of scope, also when an exception passes.
class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> action) : action_(std::move(action)) {}
    ~ScopeExit() { if (action_) action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> action_;
};

class ThreadPool {
public:
    struct ThreadData {
        int32_t index = 0;
        uint32_t status = 0;
        Event start, done, exited;
        ThreadPool* pool = nullptr;
        uint32_t threadId = 0;
    };

    ThreadPool();
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Brings the pool to count working threads (1 .. 64): the caller and count - 1 workers,
    // or, when callerWaits, count workers beside a caller that only waits. Nothing when
    // already there. Logs "initializing threadpool with <count> threads" when it rebuilds.
    void Init(int32_t count, bool callerWaits = false);
    // Runs job for every item. From inside a job of this pool (worker or
    // thread 0) the items run inline, in order, with threadID 0, without any lock. On a pool
    // whose caller waits, poll (when given) is called on the calling thread while the
    // workers run, at least every kPollIntervalMs and once more when they are done; it
    // must not throw.
    uint32_t Run(uint32_t thread_iterations, const ParallelJob& job,
                 const std::function<void()>& poll = {});
    // True on the workers 1 .. threadCount-1 (by thread id).
    bool IsWorkerThread();
    // True while the calling thread runs a job of this pool (as a worker or as thread 0).
    bool IsInsideJob() const;
    void Shutdown();

    int32_t ThreadCount() const { return threadCount; }
    bool CallerWaits() const { return callerWaits; }

    // Runs job(i, n, 0) for i = 0 .. n-1 in order, stopping at the first failure.
    static uint32_t RunInline(uint32_t thread_iterations, const ParallelJob& job);

private:
    static uint32_t WorkerProc(void* arg);
    void WorkLoop(ThreadData& t);

    int32_t threadCount = 0;
    int32_t jobCount = 0;
    int32_t nextItem = 0;
    bool stop = false;
    bool callerWaits = false;
    ParallelJob job;
    pel::platform::CriticalSection indexLock;
    pel::platform::CriticalSection poolLock;
    // Indexed by thread index; 0 (the caller) is never used. One more than the largest pool,
    // for a waiting caller beside 64 workers.
    pel::platform::ThreadHandle handles[kMaxPoolThreads + 1] = {};
    std::vector<std::shared_ptr<ThreadData>> threads;
};

}  // namespace ov
