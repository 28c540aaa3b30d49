// ov::ThreadPool.
//
// Protocol: Run sets up the job under poolLock, resets each woken worker's `done` and sets
// its `start`; thread 0 runs the work loop on the calling thread; a ScopeExit guard waits for
// every woken worker's `done` (also when thread 0's job throws), drops the job and leaves the
// lock. A worker resets its own `start` before it sets `done`, so it never misses or repeats a
// run. Each thread writes only its own status; the run answers the lowest-numbered failure.
//
// Work loop: a thread draws the next item number, then looks at its own status; a thread
// whose job failed therefore draws one more number, which it does not run, and no other
// thread runs it either: items that no thread ran because of a failure are not run again
// (the run fails either way).
//
// Mended fault: a run started from inside a job of this pool, on a worker or on thread 0
// (detected by a thread-local chain of the pools whose job the thread is running), runs all
// its items inline in order with threadID 0, without any lock and without touching the pool.
#include "core/thread_pool.h"

#include <algorithm>
#include <new>

#include "core/logger.h"

namespace ov {

namespace {

// The pools whose work loop the calling thread is inside, innermost first.
struct JobFrame {
    const ThreadPool* pool;
    JobFrame* outer;
};
thread_local JobFrame* t_jobFrames = nullptr;

class JobFrameGuard {
public:
    explicit JobFrameGuard(const ThreadPool* pool) : frame_{pool, t_jobFrames} {
        t_jobFrames = &frame_;
    }
    ~JobFrameGuard() { t_jobFrames = frame_.outer; }
    JobFrameGuard(const JobFrameGuard&) = delete;
    JobFrameGuard& operator=(const JobFrameGuard&) = delete;

private:
    JobFrame frame_;
};

}  // namespace

// ---- Event --------------------------------------------------------------------------------

Event::Event(bool initiallySignalled) : event_(initiallySignalled) {
    if (!event_.IsValid())
        LogError("error creating event. Error code: ", pel::platform::LastError(), "\n");
}

void Event::Set() {
    if (!event_.Set())
        LogError("error signaling event. Error code: ", pel::platform::LastError(), "\n");
}

void Event::Reset() {
    if (!event_.Reset())
        LogError("error signaling event. Error code: ", pel::platform::LastError(), "\n");
}

pel::platform::WaitResult Event::Wait(uint32_t milliseconds) { return event_.Wait(milliseconds); }

// ---- ThreadPool ---------------------------------------------------------------------------

ThreadPool::ThreadPool() = default;

ThreadPool::~ThreadPool() {
    {
        pel::platform::CriticalSectionGuard guard(poolLock);
        Shutdown();
    }
    threads.clear();
    job = nullptr;
}

void ThreadPool::Init(int32_t count, bool waits) {
    pel::platform::CriticalSectionGuard guard(poolLock);
    // A waiting caller keeps count threads working: count workers beside it.
    const int32_t wanted = waits ? count + 1 : count;
    if (threadCount == wanted && callerWaits == waits) return;
    LogTrace("initializing threadpool with ", count, " threads\n");
    Shutdown();
    callerWaits = waits;
    threadCount = 1;
    // Memory for the thread records that cannot be had means fewer threads, as a thread that
    // cannot be started does: only the records made are kept. When not even the caller's
    // record can be had, the pool holds none and every run takes the inline path.
    int32_t made = 0;
    try {
        threads.resize(static_cast<size_t>(std::max(wanted, 1)));
    } catch (const std::bad_alloc&) {
        threads.clear();
    }
    const uint32_t callerId = pel::platform::CurrentThreadId();
    for (int32_t i = 0; i < wanted && i < static_cast<int32_t>(threads.size()); ++i) {
        std::shared_ptr<ThreadData> t;
        try {
            t = std::make_shared<ThreadData>();
        } catch (const std::bad_alloc&) {
            break;
        }
        t->start.Reset();
        t->done.Reset();
        t->exited.Reset();
        t->index = i;
        t->status = 0;
        t->pool = this;
        t->threadId = i == 0 ? callerId : 0;
        threads[static_cast<size_t>(i)] = std::move(t);
        made = i + 1;
    }
    threads.resize(static_cast<size_t>(made));
    for (int32_t i = 1; i < made; ++i) {
        ThreadData* t = threads[static_cast<size_t>(i)].get();
        uint32_t id = 0;
        handles[i] = pel::platform::StartThread(&ThreadPool::WorkerProc, t, &id);
        if (!handles[i]) {
            LogWarning("failed to create thread nr ", i, "of ", wanted, "\n");
            break;
        }
        t->threadId = id;
        ++threadCount;
    }
}

bool ThreadPool::IsWorkerThread() {
    if (threadCount < 2) return false;
    const uint32_t id = pel::platform::CurrentThreadId();
    for (int32_t i = 1; i < threadCount && i < static_cast<int32_t>(threads.size()); ++i)
        if (threads[static_cast<size_t>(i)] && threads[static_cast<size_t>(i)]->threadId == id)
            return true;
    return false;
}

bool ThreadPool::IsInsideJob() const {
    for (const JobFrame* f = t_jobFrames; f; f = f->outer)
        if (f->pool == this) return true;
    return false;
}

uint32_t ThreadPool::RunInline(uint32_t thread_iterations, const ParallelJob& job) {
    for (uint32_t i = 0; i < thread_iterations; ++i) {
        uint32_t status = job(i, thread_iterations, 0);
        if (status != kStatusOk) return status;
    }
    return kStatusOk;
}

uint32_t ThreadPool::WorkerProc(void* arg) {
    ThreadData* t = static_cast<ThreadData*>(arg);
    for (;;) {
        t->start.Wait();
        // Read after the wait: Run and Shutdown write these before they set `start`.
        ThreadPool* pool = t->pool;
        if (pool->stop) {
            t->exited.Set();
            return 0;
        }
        try {
            pool->WorkLoop(*t);
        } catch (...) {
            // Swallowed: a job's exception ends this worker's share of the run, nothing more.
        }
        t->start.Reset();
        t->done.Set();
    }
}

void ThreadPool::WorkLoop(ThreadData& t) {
    JobFrameGuard frame(this);
    // Beside a waiting caller, worker i is the job's thread i - 1.
    const uint32_t jobThread = static_cast<uint32_t>(t.index) - (callerWaits && t.index > 0 ? 1u : 0u);
    int32_t item;
    {
        pel::platform::CriticalSectionGuard guard(indexLock);
        item = nextItem;
        nextItem = item + 1;
    }
    while (item < jobCount) {
        if (t.status != kStatusOk) return;
        t.status = job(static_cast<uint32_t>(item), static_cast<uint32_t>(jobCount), jobThread);
        pel::platform::CriticalSectionGuard guard(indexLock);
        item = nextItem;
        nextItem = item + 1;
    }
}

uint32_t ThreadPool::Run(uint32_t thread_iterations, const ParallelJob& runJob,
                         const std::function<void()>& poll) {
    // A run from inside a job of this pool: inline, no lock, pool untouched.
    if (IsInsideJob()) return RunInline(thread_iterations, runJob);

    poolLock.Enter();
    // Leaves poolLock last: after the workers are done and the statuses are read, so that
    // the next run (of another caller) cannot overwrite them before they are read.
    ScopeExit leave([this] { poolLock.Leave(); });
    if (threads.empty()) {
        // Never initialised: the caller alone runs every item (as a pool of one thread).
        JobFrameGuard frame(this);
        return RunInline(thread_iterations, runJob);
    }
    // The working threads are records first .. last-1: 0 .. active-1, or 1 .. active beside
    // a waiting caller (which works itself only when it has no worker at all).
    const bool waiting = callerWaits && threadCount > 1;
    const int32_t first = waiting ? 1 : 0;
    const int32_t working = threadCount - first;
    const int32_t active = static_cast<int32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(working), thread_iterations));
    const int32_t last = first + active;
    {
        ScopeExit completion([this, last, waiting, &poll] {
            for (int32_t i = 1; i < last; ++i) {
                Event& done = threads[static_cast<size_t>(i)]->done;
                if (!waiting) {
                    done.Wait();
                    continue;
                }
                while (done.Wait(kPollIntervalMs) == pel::platform::WaitResult::Timeout)
                    if (poll) poll();
            }
            if (waiting && poll) poll();
            job = nullptr;
        });
        jobCount = static_cast<int32_t>(std::min<uint32_t>(thread_iterations, 0x7FFFFFFFu));
        nextItem = 0;
        job = runJob;
        stop = false;
        threads[0]->status = kStatusOk;
        for (int32_t i = 0; i < last; ++i) {
            ThreadData& t = *threads[static_cast<size_t>(i)];
            t.index = i;
            t.status = kStatusOk;
            t.pool = this;
        }
        for (int32_t i = 1; i < last; ++i) {
            threads[static_cast<size_t>(i)]->done.Reset();
            threads[static_cast<size_t>(i)]->start.Set();
        }
        if (!waiting) WorkLoop(*threads[0]);
    }
    // The statuses are final: every woken worker has signalled `done`.
    for (int32_t i = 0; i < last; ++i) {
        uint32_t status = threads[static_cast<size_t>(i)]->status;
        if (status != kStatusOk) return status;
    }
    return kStatusOk;
}

void ThreadPool::Shutdown() {
    stop = true;
    const int32_t count = std::min<int32_t>(threadCount, static_cast<int32_t>(threads.size()));
    for (int32_t i = 1; i < count; ++i) threads[static_cast<size_t>(i)]->start.Set();
    for (int32_t i = 1; i < count; ++i) {
        // A thread that has already ended (the system stops threads when the process ends)
        // cannot set its `exited` any more; set it on its behalf.
        if (handles[i] &&
            pel::platform::WaitThread(handles[i], 1) != pel::platform::WaitResult::Timeout)
            threads[static_cast<size_t>(i)]->exited.Set();
    }
    for (int32_t i = 1; i < count; ++i) threads[static_cast<size_t>(i)]->exited.Wait();
    for (int32_t i = 1; i <= kMaxPoolThreads; ++i) {
        if (handles[i]) pel::platform::CloseThread(handles[i]);
        handles[i] = nullptr;
    }
    threads.clear();
    // Zero makes a later Init with the same
    // count rebuild the pool instead of keeping one without workers.
    threadCount = 0;
}

}  // namespace ov
