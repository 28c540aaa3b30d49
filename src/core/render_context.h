// ov::OstrovanneRenderContext: the one interface through which every filter
// reports progress, allocates and frees memory, asks for a thread count and runs parallel
// jobs. Slot order is fixed: ReportProgress, AllocateMemory, FreeMemory, GetThreadCount,
// ParallelRun, GetFrame, GetFrameScale, GetFrameRange.
#pragma once

#include <cstdint>
#include <functional>

namespace ov {

// A status is an unsigned 32-bit integer. Filters compare against the host's StatusOk();
// these are the base host's values (the host adapter answers -108 for out of
// memory).
using Status = uint32_t;
constexpr Status kStatusOk = 0;
constexpr Status kStatusOutOfMemory = 1;
constexpr Status kStatusCancelled = 2;

// A parallel job: (thread_index = work item 0 .. thread_iterations-1, thread_iterations = the
// item count, threadID = the pool thread that runs it, 0 = the calling thread) -> status.
using ParallelJob = std::function<uint32_t(uint32_t thread_index, uint32_t thread_iterations,
                                           uint32_t threadID)>;

class OstrovanneRenderContext {
public:
    // slot 0: (done, total) -> StatusOk, or StatusCancelled when the progress hook says stop.
    virtual uint32_t ReportProgress(uint32_t done, uint32_t total) = 0;
    // slot 1: a block of size bytes; null when there is no memory (never throws).
    virtual void* AllocateMemory(uint32_t size) = 0;
    // slot 2: returns a block from AllocateMemory; null is accepted and ignored.
    virtual void FreeMemory(void* block) = 0;
    // slot 3: setting or processor count, at most requested when requested > 0, at most 64.
    virtual int32_t GetThreadCount(int32_t requested) = 0;
    // slot 4: runs job for every item 0 .. thread_iterations-1 on the pool;
    // StatusOk, or the failure of the lowest-numbered failing thread.
    virtual uint32_t ParallelRun(uint32_t thread_iterations, const ParallelJob& job) = 0;
    // slot 5: the current frame (0.0 in the base).
    virtual double GetFrame() = 0;
    // slot 6: 1.0 in the base.
    virtual double GetFrameScale() = 0;
    // slot 7: the base leaves both untouched.
    virtual void GetFrameRange(double& first, double& last) = 0;

protected:
    // Not deleted through this interface: no virtual destructor, so slot 0 stays ReportProgress.
    ~OstrovanneRenderContext() = default;
};

}  // namespace ov
