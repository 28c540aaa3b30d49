// ov::OstrovanneHost: the render context on top of the thread pool.
#include "core/host.h"

#include <algorithm>
#include <new>
#include <utility>

namespace ov {

OstrovanneHost::OstrovanneHost(std::string name_, std::string maker_, uint32_t major,
                               uint32_t minor, uint32_t revision, std::string description_)
    : OstrovannePlugin(std::move(name_), std::move(maker_), major, minor, revision,
                       std::move(description_)) {
    // Created empty and emptied again at once; nothing ever fills it.
    pel::platform::CriticalSectionGuard guard(channelLock);
    ChannelMap.clear();
}

// Members go in reverse order: hooks, setting, the channel map's lock and the map, then the
// thread pool (which stops and joins its workers), then the plug-in base.
OstrovanneHost::~OstrovanneHost() = default;

std::string OstrovanneHost::GetSourceName() { return "Source"; }
std::string OstrovanneHost::GetOutputName() { return "Output"; }
bool OstrovanneHost::ReturnFalse11() { return false; }
uint32_t OstrovanneHost::StatusOk() { return kStatusOk; }
uint32_t OstrovanneHost::StatusOutOfMemory() { return kStatusOutOfMemory; }
uint32_t OstrovanneHost::StatusCancelled() { return kStatusCancelled; }
void OstrovanneHost::NoOpString15(std::string) {}

std::shared_ptr<OstrovanneHost::ChannelAccess> OstrovanneHost::CreateChannelAccess(std::string) {
    return std::make_shared<ChannelAccess>();
}

uint32_t OstrovanneHost::ReportProgress(uint32_t done, uint32_t total) {
    if (progressHook && !progressHook(done, total)) return StatusCancelled();
    if (!watching_.load(std::memory_order_acquire)) return StatusOk();
    // Keep the largest fraction: each filter reports its own done / total, rising through
    // its passes, so the largest one moves with the render and never goes backwards.
    if (total != 0 && done <= total) {
        uint64_t seen = watchProgress_.load(std::memory_order_relaxed);
        const uint64_t mine = uint64_t(done) << 32 | total;
        while (uint64_t(done) * uint32_t(seen) > uint64_t(seen >> 32) * total &&
               !watchProgress_.compare_exchange_weak(seen, mine, std::memory_order_relaxed)) {
        }
    }
    if (pel::platform::CurrentThreadId() == watchThread_) PollWatch();
    return watchStatus_.load(std::memory_order_acquire);
}

void OstrovanneHost::BeginWatch(std::function<uint32_t(uint32_t done, uint32_t total)> watch) {
    watch_ = std::move(watch);
    watchThread_ = pel::platform::CurrentThreadId();
    watchTick_ = pel::platform::TickCount();
    watchStatus_.store(StatusOk(), std::memory_order_relaxed);
    watchProgress_.store(1, std::memory_order_relaxed);  // 0 of 1
    inWatch_ = false;
    watching_.store(true, std::memory_order_release);
}

uint32_t OstrovanneHost::EndWatch() {
    watching_.store(false, std::memory_order_release);
    watch_ = nullptr;
    watchThread_ = 0;
    return watchStatus_.exchange(StatusOk());
}

void OstrovanneHost::PollWatch(bool force) {
    // Only the host's thread calls the watch, and never from inside it (a message that the
    // watch dispatches may report progress itself).
    if (!watching_.load(std::memory_order_acquire) || pel::platform::CurrentThreadId() != watchThread_ ||
        inWatch_ || !watch_)
        return;
    const uint32_t now = pel::platform::TickCount();
    if (!force && now - watchTick_ < watchIntervalMs) return;
    watchTick_ = now;
    if (watchStatus_.load(std::memory_order_relaxed) != StatusOk()) return;  // already answered
    const uint64_t progress = watchProgress_.load(std::memory_order_relaxed);
    inWatch_ = true;
    uint32_t status = StatusOk();
    try {
        status = watch_(uint32_t(progress >> 32), uint32_t(progress));
    } catch (...) {
        status = StatusCancelled();  // a watch that fails cannot let the render go on unseen
    }
    inWatch_ = false;
    if (status != StatusOk()) watchStatus_.store(status, std::memory_order_release);
}

void* OstrovanneHost::AllocateMemory(uint32_t size) {
    if (allocateHook) return allocateHook(size);
    // Null when the heap is exhausted, never an exception: a worker swallows exceptions, so
    // a throwing allocation would turn into a silently skipped item.
    return ::operator new(static_cast<size_t>(size), std::nothrow);
}

void OstrovanneHost::FreeMemory(void* block) {
    if (freeHook) {
        freeHook(block);
        return;
    }
    ::operator delete(block);
}

int32_t OstrovanneHost::ComputeThreadCount(int32_t setting, int32_t processors,
                                           int32_t requested) {
    int32_t count = setting > 0 ? setting : processors;
    if (requested > 0) count = std::min(count, requested);
    return std::min(count, kMaxPoolThreads);
}

int32_t OstrovanneHost::GetThreadCount(int32_t requested) {
    return ComputeThreadCount(threadCountSetting,
                              static_cast<int32_t>(pel::platform::ProcessorCount()), requested);
}

uint32_t OstrovanneHost::ParallelRun(uint32_t thread_iterations, const ParallelJob& job) {
    // A run started from inside a job (on a worker or on thread 0), or from inside the watch
    // while the pool is busy, must not enter the pool lock through Init; it runs all its items
    // inline, threadID 0.
    if (threadPool.IsInsideJob() || inWatch_) return ThreadPool::RunInline(thread_iterations, job);
    const bool hostWaits =
        watching_.load(std::memory_order_acquire) && pel::platform::CurrentThreadId() == watchThread_;
    threadPool.Init(GetThreadCount(-1), hostWaits);
    if (!hostWaits) return threadPool.Run(thread_iterations, job);
    return threadPool.Run(thread_iterations, job, [this] { PollWatch(); });
}

double OstrovanneHost::GetFrame() { return 0.0; }
double OstrovanneHost::GetFrameScale() { return 1.0; }
void OstrovanneHost::GetFrameRange(double&, double&) {}

}  // namespace ov
