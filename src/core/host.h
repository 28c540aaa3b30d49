// ov::OstrovanneHost: the plug-in base plus the render context, implemented on
// the thread pool. The host adapter derives from it and replaces the memory
// operations, StatusOutOfMemory and GetFrameRange.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/plugin.h"
#include "core/render_context.h"
#include "core/thread_pool.h"
#include "platform/platform.h"

namespace ov {

class OstrovanneHost : public OstrovannePlugin, public OstrovanneRenderContext {
public:
    // A record nobody asks for; kept for the slot layout (CreateChannelAccess).
    struct ChannelAccess {
        virtual ~ChannelAccess() = default;
        void* data = nullptr;
        uint64_t size = 0;
        std::shared_ptr<void> owner;
        double scale = 1.0;
    };

    OstrovanneHost(std::string name, std::string maker, uint32_t major, uint32_t minor,
                   uint32_t revision, std::string description);
    ~OstrovanneHost() override;

    // Host slots 9 .. 16 (after the plug-in's 0 .. 8).
    virtual std::string GetSourceName();                                   // 9: "Source"
    virtual std::string GetOutputName();                                   // 10: "Output"
    virtual bool ReturnFalse11();                                          // 11
    virtual uint32_t StatusOk();                                           // 12: 0
    virtual uint32_t StatusOutOfMemory();                                  // 13: 1
    virtual uint32_t StatusCancelled();                                    // 14: 2
    virtual void NoOpString15(std::string s);                              // 15
    virtual std::shared_ptr<ChannelAccess> CreateChannelAccess(std::string channel);  // 16

    // Render context (second base).
    uint32_t ReportProgress(uint32_t done, uint32_t total) override;
    void* AllocateMemory(uint32_t size) override;   // hook, else the heap; null when exhausted
    void FreeMemory(void* block) override;           // hook, else the heap
    int32_t GetThreadCount(int32_t requested) override;
    // Init(GetThreadCount(-1)) then Run; a run started from inside a job of this host's pool
    // (on a worker or on thread 0) skips Init and runs all items inline with threadID 0.
    uint32_t ParallelRun(uint32_t thread_iterations, const ParallelJob& job) override;
    double GetFrame() override;
    double GetFrameScale() override;
    void GetFrameRange(double& first, double& last) override;

    // Render watch. Between BeginWatch and EndWatch (on the host's thread, the one that
    // called the selector), the host's thread does not take work items: ParallelRun runs
    // them on GetThreadCount(-1) workers while the host's thread calls `watch` with the
    // render's progress at least every watchIntervalMs, and ReportProgress on the host's
    // thread (work that runs there outside a parallel run) calls it too, at most once per
    // interval. The first status other than StatusOk that `watch` answers is kept, and
    // from then on ReportProgress answers it on every thread, so the engines stop at their
    // next row. The progress handed to `watch` is the largest done / total reported since
    // BeginWatch, so it never goes backwards within a render. `watch` is only ever called on
    // the host's thread; a parallel run that it starts runs inline.
    void BeginWatch(std::function<uint32_t(uint32_t done, uint32_t total)> watch);
    // Ends the watch; answers the status it kept (StatusOk when none).
    uint32_t EndWatch();
    // Calls `watch` now when a watch runs on this thread and the last call is at least
    // watchIntervalMs old (always when force).
    void PollWatch(bool force = false);
    // The watch's interval in ms (a test may shorten it; the pool waits at most
    // kPollIntervalMs between two looks, so 0 means about that often).
    uint32_t watchIntervalMs = 50;

    // GetThreadCount's rule on given numbers: setting when > 0 else processors; at most
    // requested when requested > 0; at most 64.
    static int32_t ComputeThreadCount(int32_t setting, int32_t processors, int32_t requested);

    ThreadPool threadPool;
    std::map<std::string, std::vector<uint8_t>> ChannelMap;  // created empty, never filled
    pel::platform::CriticalSection channelLock;
    int32_t threadCountSetting = 0;
    std::function<bool(uint32_t done, uint32_t total)> progressHook;
    std::function<void*(uint32_t size)> allocateHook;
    std::function<void(void* block)> freeHook;

private:
    std::function<uint32_t(uint32_t, uint32_t)> watch_;
    std::atomic<bool> watching_{false};
    std::atomic<uint32_t> watchStatus_{kStatusOk};
    std::atomic<uint64_t> watchProgress_{1};  // done << 32 | total of the largest fraction
    uint32_t watchThread_ = 0;
    uint32_t watchTick_ = 0;
    bool inWatch_ = false;
};

}  // namespace ov
