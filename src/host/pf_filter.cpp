// ov::pfFilter: the selector dispatcher and the six handlers.
//
// Guarded cases:
// - Suites: both suite pointers are reset at the start of every call, and a suite is
//   released only when its acquisition succeeded (a zero error and a suite pointer); the
//   pointers are cleared again after the release, so nothing refers to a released suite.
// - Release also happens when a handler throws (the guard below); the entry point turns the
//   exception into a result (lens/entry_point.cpp).
#include "host/pf_filter.h"

#include <cstdio>
#include <new>

#include "core/logger.h"
#include "core/thread_pool.h"
#include "host/filter_record.h"
#include "host/sdk_utils.h"
#include "ui/dialogs.h"

namespace ov {

pfFilter::pfFilter(std::string name_, std::string maker_, uint32_t major, uint32_t minor, uint32_t revision,
                   std::string description_)
    : OstrovanneHost(std::move(name_), std::move(maker_), major, minor, revision, std::move(description_)) {}

pfFilter::~pfFilter() = default;

uint32_t pfFilter::StatusOutOfMemory() { return kStatusHostOutOfMemory; }

xParameterList pfFilter::CreateParameterList() { return xParameterList(); }

void pfFilter::AdaptToHostMask(FilterRecord*) {}

void pfFilter::PrepareScriptRead(FilterRecord*) {}

pfParameterUI* pfFilter::GetControl(int32_t index) const {
    if (index < 0 || index >= GetControlCount()) return nullptr;
    auto it = controls.begin();
    std::advance(it, index);
    return *it;
}

namespace {

// Releases, on every path out of DispatchSelector, exactly the suites that were acquired.
class SuiteRelease {
public:
    SuiteRelease(const PSBufferSuite1*& buffer, const PSHandleSuite2*& handle, bool& bufferAcquired,
                 bool& handleAcquired)
        : buffer_(buffer), handle_(handle), bufferAcquired_(bufferAcquired), handleAcquired_(handleAcquired) {}
    ~SuiteRelease() {
        SPBasicSuite* basic = HostBasicSuite;
        if (basic && basic->ReleaseSuite) {
            if (bufferAcquired_) basic->ReleaseSuite(PEL_BUFFER_SUITE_NAME, kPSBufferSuiteVersion1);
            if (handleAcquired_) basic->ReleaseSuite(PEL_HANDLE_SUITE_NAME, kPSHandleSuiteVersion2);
        }
        buffer_ = nullptr;
        handle_ = nullptr;
        bufferAcquired_ = handleAcquired_ = false;
    }
    SuiteRelease(const SuiteRelease&) = delete;
    SuiteRelease& operator=(const SuiteRelease&) = delete;

private:
    const PSBufferSuite1*& buffer_;
    const PSHandleSuite2*& handle_;
    bool& bufferAcquired_;
    bool& handleAcquired_;
};

}  // namespace

void pfFilter::DispatchSelector(int16_t selector, void* block, intptr_t* /*data*/, int16_t* result) {
    // 1. The basic suite: the About record's for selector 0, else the filter record's.
    SPBasicSuite* basic = nullptr;
    if (block) {
        basic = selector == filterSelectorAbout ? static_cast<AboutRecord*>(block)->sSPBasic
                                                : static_cast<FilterRecord*>(block)->sSPBasic;
    }
    HostBasicSuite = basic;
    // 2. Both suite pointers start the call empty.
    bufferSuite = nullptr;
    handleSuite = nullptr;
    bufferSuiteAcquired = handleSuiteAcquired = false;
    SuiteRelease release(bufferSuite, handleSuite, bufferSuiteAcquired, handleSuiteAcquired);
    // 3. Acquire the Buffer suite (version 1), then the Handle suite (version 2).
    if (HostBasicSuite && HostBasicSuite->AcquireSuite) {
        const void* suite = nullptr;
        if (HostBasicSuite->AcquireSuite(PEL_BUFFER_SUITE_NAME, kPSBufferSuiteVersion1, &suite) == 0 && suite) {
            bufferSuite = static_cast<const PSBufferSuite1*>(suite);
            bufferSuiteAcquired = true;
        }
        suite = nullptr;
        if (HostBasicSuite->AcquireSuite(PEL_HANDLE_SUITE_NAME, kPSHandleSuiteVersion2, &suite) == 0 && suite) {
            handleSuite = static_cast<const PSHandleSuite2*>(suite);
            handleSuiteAcquired = true;
        }
    }
    // 4. The parameter block of this call.
    filterRecord = static_cast<FilterRecord*>(block);
    // 5. The handler; its result goes to the host.
    const int16_t r = RunSelector(selector, block);
    if (result) *result = r;
    // 6. The guard releases what was acquired.
}

int16_t pfFilter::RunSelector(int16_t selector, void* block) {
    auto* record = static_cast<FilterRecord*>(block);
    switch (selector) {
        case filterSelectorAbout: return DoAboutSelector(static_cast<AboutRecord*>(block));
        case filterSelectorParameters: return DoParametersSelector(record);
        case filterSelectorPrepare: return DoPrepareSelector(record);
        case filterSelectorStart: return DoStartSelector(record);
        case filterSelectorContinue: return DoContinueSelector(record);
        case filterSelectorFinish: return DoFinishSelector(record);
        default: return errUnknownSelector;
    }
}

int16_t pfFilter::DoAboutSelector(AboutRecord* record) {
    LogTrace("pfFilter::DoAboutSelector( pFilterRecord(0x", HexPtr(record), ") )\n");
    LogScope scope;
    char text[4096];
    std::snprintf(text, sizeof text, "%s v%d.%d.%d\r%s", GetPluginName().c_str(), int(version[0]), int(version[1]),
                  int(version[2]), GetDescription().c_str());
    ShowAbout(text);
    return 0;
}

int16_t pfFilter::DoParametersSelector(FilterRecord* record) {
    LogTrace("pfFilter::DoParametersSelector( pFilterRecord(0x", HexPtr(record), ") )\n");
    LogScope scope;
    parameters.ValidateAll();
    return 0;
}

int16_t pfFilter::DoPrepareSelector(FilterRecord* record) {
    LogTrace("pfFilter::DoPrepareSelector( pFilterRecord(0x", HexPtr(record), ") )\n");
    LogScope scope;
    if (record) {
        record->maxSpace = 0;
        record->bufferSpace = 0;
    }
    return 0;
}

int16_t pfFilter::DoStartSelector(FilterRecord* record) {
    LogTrace("pfFilter::DoStartSelector( pFilterRecord(0x", HexPtr(record), ") )\n");
    LogScope scope;
    int16_t result = 0;
    if (!record) {
        result = paramErr;
    } else if (!IsAdvanceStateAvailable(record->advanceState) || record->progressProc == nullptr) {
        // 1. A host without advance-state or progress procedure.
        LogError("AdvanceStateAvailable() or ProgressProcedure not available\n");
        ShowErrorBox(GetFilterName(),
                     "Sorry, but this Plug-In requires some functions\n which are not supported by this host.\n you "
                     "need a photoshop 3.0+ compatible host to run this filter.");
        result = errShownToUser;
    } else {
        // 2.-5. Validate, read the descriptor, the dialog when asked for, write it back.
        parameters.ValidateAll();
        PrepareScriptRead(record);
        if (parameters.ReadScriptParams(record)) {
            if (!dialog->Show(this, record, controls)) result = userCanceledErr;
        }
        parameters.WriteScriptParams(record);
        // 6. Render the whole image at full size.
        if (result == 0) {
            parameters.ValidateAll();
            result = SetupFilterRecord(record, 1);
            if (result == 0) {
                previewLevel = 0;
                result = RenderWatched(record);
                UpdateProgress(0, 1, false);
            }
        }
    }
    // 8. On every path: the host has no further area to deliver.
    if (record) {
        record->inRect = Rect{0, 0, 0, 0};
        record->outRect = record->inRect;
        record->maskRect = record->inRect;
    }
    LogTrace("pfFilter::DoStartSelector( return(", result, ") )\n");
    return result;
}

int16_t pfFilter::RenderWatched(FilterRecord* record) {
    BeginWatch([this](uint32_t done, uint32_t total) { return UpdateProgress(done, total, false); });
    // The watch ends however the render does. A render that finished before it saw an answer
    // has done its whole work: its own result stands.
    ScopeExit end([this] { EndWatch(); });
    return Render(record);
}

int16_t pfFilter::DoContinueSelector(FilterRecord* record) {
    LogTrace("pfFilter::DoContinueSelector( pFilterRecord(0x", HexPtr(record), ") )\n");
    LogScope scope;
    return 0;
}

int16_t pfFilter::DoFinishSelector(FilterRecord* record) {
    LogTrace("pfFilter::DoFinishSelector( pFilterRecord(0x", HexPtr(record), ") )\n");
    LogScope scope;
    return 0;
}

}  // namespace ov
