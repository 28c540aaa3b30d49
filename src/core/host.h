// ov::OstrovanneHost: the plug-in base plus the render context, implemented on
// the thread pool. The host adapter derives from it and replaces the memory
// operations, StatusOutOfMemory and GetFrameRange.
#pragma once

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
};

}  // namespace ov
