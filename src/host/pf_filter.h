// ov::pfFilter: the framework host turned into a filter
// plug-in for a Photoshop-compatible host.
//
// The entry point hands every host call to DispatchSelector, which takes the host's basic
// suite, acquires the Buffer and Handle suites for the length of the call, runs the handler
// of the selector and releases what it acquired. All the work happens in Start, in one
// request for the whole image: validate, read the scripting descriptor, show the dialog when
// the host asks for one, write the descriptor back, set the record up (SetupFilterRecord),
// render through the derived class's Render, and empty the rectangles so that Continue has
// nothing left to do.
//
// Results reach the host as 16-bit signed values: 0 success, 1 an error already shown to the
// user, -128 cancelled, -108 out of memory (StatusOutOfMemory), -1 an unknown selector.
//
// Memory: AllocateMemory serves the render context from the host's Buffer suite
// while one is acquired, else from the process heap, and answers null when there is none.
// Sizes are 64-bit where this class computes them; AllocateMemory64 refuses a request that
// does not fit the host's 32-bit size (null, so the caller answers -108) instead of wrapping.
//
// Threads: selector calls arrive on the host's thread; AllocateMemory, FreeMemory and
// UpdateProgress take `lock` (recursive). Memory is asked for from render workers too;
// UpdateProgress (the host's progress and abort procedures, the dialog's message pump) is
// called on the host's thread alone: during a render by the render watch (RenderWatched),
// while the render's work runs on the pool's workers.
#pragma once

#include <cstdint>
#include <string>

#include "core/host.h"
#include "host/host_api.h"
#include "host/parameters.h"
#include "host/undo.h"
#include "platform/platform.h"
#include "ui/parameter_ui.h"
#include "ui/preview.h"

namespace ov {

// Host result codes as statuses (a status is unsigned 32-bit; its low 16 bits reach the host).
constexpr uint32_t kStatusHostOutOfMemory = uint32_t(int32_t(memFullErr));       // -108
constexpr uint32_t kStatusHostCancelled = uint32_t(int32_t(userCanceledErr));    // -128
constexpr uint32_t kStatusQuit = uint32_t(-1);  // a quit message during a preview render

class pfFilter : public OstrovanneHost {
public:
    pfFilter(std::string name, std::string maker, uint32_t major, uint32_t minor, uint32_t revision,
             std::string description);
    ~pfFilter() override;
    pfFilter(const pfFilter&) = delete;
    pfFilter& operator=(const pfFilter&) = delete;

    // Slot 13: the host's out-of-memory code, -108.
    uint32_t StatusOutOfMemory() override;

    // Render context.
    void* AllocateMemory(uint32_t size) override;
    void FreeMemory(void* block) override;
    void GetFrameRange(double& first, double& last) override;  // 0.0 and 1.0
    // A request computed in 64 bits: null when it does not fit the host's 32-bit size.
    void* AllocateMemory64(uint64_t size);
    static bool FitsHostSize(uint64_t size) { return size <= 0xFFFFFFFFull; }

    // Slot 17: drives the host's progress bar and abort check (or, during a dialog preview
    // render, keeps the dialog responsive). StatusOk, kStatusHostCancelled or kStatusQuit.
    virtual uint32_t UpdateProgress(uint32_t done, uint32_t total, bool silent);
    // Render (slot 19) under the render watch: while it runs, the calling thread (the host's)
    // waits for the pool and calls UpdateProgress(done, total, false) with the render's
    // progress at least every 50 ms (watchIntervalMs), and an answer other than StatusOk (the host's abort,
    // a stale preview, a quit message) stops the engines at their next row and becomes the
    // result. Start and the dialog's preview render through it.
    int16_t RenderWatched(FilterRecord* record);
    // Slot 18: a new, empty list; nothing calls it.
    virtual xParameterList CreateParameterList();
    // Slot 19: renders the image the record describes; a status whose low 16 bits are the result.
    virtual int16_t Render(FilterRecord* record) = 0;
    // Slot 20: called by the dialog when it opens; empty here.
    virtual void AdaptToHostMask(FilterRecord* record);
    // Slot 21: restores the default values (recording undo when asked).
    virtual void ResetParameters(bool withUndo) = 0;
    // Slot 22: the filter's name (message-box titles, presets-file owner).
    virtual const char* GetFilterName() = 0;
    // Slot 23: selector 1.
    virtual int16_t DoParametersSelector(FilterRecord* record);
    // After slot 23: Start calls it with the record of the call after its first validation
    // and before the scripting descriptor is read, so that a filter can bring parameters
    // whose meaning depends on the document (a list whose items differ from one document to
    // the next) in line with this document first; the recorded values then keep the meaning
    // they were recorded with. Empty here.
    virtual void PrepareScriptRead(FilterRecord* record);

    // Every host call: see the file comment. `data` is not used.
    void DispatchSelector(int16_t selector, void* block, intptr_t* data, int16_t* result);

    int16_t DoAboutSelector(AboutRecord* record);
    int16_t DoPrepareSelector(FilterRecord* record);
    int16_t DoStartSelector(FilterRecord* record);
    int16_t DoContinueSelector(FilterRecord* record);
    int16_t DoFinishSelector(FilterRecord* record);

    std::string GetPluginName() const { return name; }
    std::string GetDescription() const { return description; }

    // The record set up for one request covering the whole image, sampled every
    // nScaleFactor-th pixel (0 counts as 1); answers the host's advanceState error.
    static int16_t SetupFilterRecord(FilterRecord* record, uint32_t nScaleFactor);
    // The reduction of the last set-up, recovered from the record: image size divided by the
    // output rectangle's size. An empty output rectangle answers the scale requested at
    // set-up (remembered from inputRate), so there is never a division by 0.
    int32_t GetScaleFactorX() const;
    int32_t GetScaleFactorY() const;
    int32_t GetPreviewLevel() const { return previewLevel; }
    void SetPreviewLevel(int32_t level) { previewLevel = level; }
    FilterRecord* GetFilterRecord() const { return filterRecord; }
    // The host's colour picker, or the dialog's fallback; values 0..1 in and out.
    bool RequestColor(FilterRecord* record, double& red, double& green, double& blue);
    int32_t GetControlCount() const { return int32_t(controls.size()); }
    pfParameterUI* GetControl(int32_t index) const;

    // Test access: whether each suite was acquired by the running call.
    bool BufferSuiteAcquired() const { return bufferSuiteAcquired; }

    pfPreviewWin32 preview;
    // The dialog Start shows, called through the pfPreview slots: `preview` itself; a test
    // may point it at another pfPreview to play the user's OK or Cancel.
    pfPreview* dialog = &preview;
    pfParameters parameters;
    pfParameterUIList controls;
    pfUndoStack undo;
    const PSBufferSuite1* bufferSuite = nullptr;
    const PSHandleSuite2* handleSuite = nullptr;
    int32_t previewLevel = 0;
    FilterRecord* filterRecord = nullptr;
    pel::platform::CriticalSection lock;

private:
    int16_t RunSelector(int16_t selector, void* block);
    bool bufferSuiteAcquired = false;
    bool handleSuiteAcquired = false;
};

}  // namespace ov
