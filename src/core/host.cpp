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
    return StatusOk();
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
    // A run started from inside a job (on a worker or on thread 0)
    // must not enter the pool lock through Init; it runs all its items inline, threadID 0.
    if (threadPool.IsInsideJob()) return ThreadPool::RunInline(thread_iterations, job);
    threadPool.Init(GetThreadCount(-1));
    return threadPool.Run(thread_iterations, job);
}

double OstrovanneHost::GetFrame() { return 0.0; }
double OstrovanneHost::GetFrameScale() { return 1.0; }
void OstrovanneHost::GetFrameRange(double&, double&) {}

}  // namespace ov
