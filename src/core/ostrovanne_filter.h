// ov::OstrovanneFilter: the base of every image filter.
//
// Skeleton of a filter: render(pass, passCount) stores the pass numbers, checks sizes and
// allocates through the render context (refusing what cannot fit), runs its render_slice
// worker on every work item through ParallelRun (run_slices), frees on every path and
// returns the first status that is not StatusOk. A worker processes item thread_index
// (a row or a band), touches only its own output and its threadID's scratch memory, and
// returns report_item(thread_index, items): ReportProgress(pass * items + item,
// passCount * items), so consecutive passes share one progress scale.
//
// The host is not owned. Views held by derived filters are not owned either.
#pragma once

#include <cstdint>

#include "core/host.h"
#include "core/render_context.h"

namespace ov {

class OstrovanneFilter {
public:
    explicit OstrovanneFilter(OstrovanneHost* host_ = nullptr) : host(host_) {}
    OstrovanneFilter(const OstrovanneFilter&) = default;
    OstrovanneFilter& operator=(const OstrovanneFilter&) = default;

    // slot 0
    virtual ~OstrovanneFilter() = default;
    // slot 1: the whole operation as pass `pass` of `passCount`.
    virtual uint32_t render(uint32_t pass_, uint32_t passCount_) = 0;
    // slot 2: the worker for item thread_index of thread_iterations (default: nothing, ok).
    virtual uint32_t render_slice(uint32_t thread_index, uint32_t thread_iterations,
                                  uint32_t threadID);
    // slot 3: a second worker (only the out-of-focus FFT filter has one; default: ok).
    virtual uint32_t prepare_slice(uint32_t thread_index, uint32_t thread_iterations,
                                   uint32_t threadID);

    // Runs render_slice (virtually) on items 0 .. count-1 through the host's ParallelRun.
    uint32_t run_slices(uint32_t count);
    // Runs prepare_slice (virtually) the same way.
    uint32_t run_prepare(uint32_t count);
    // The parallel jobs that call the two workers of this filter.
    ParallelJob slice_job();
    ParallelJob prepare_job();

    // The worker convention's progress report for item `item` of `items` in this pass:
    // ReportProgress(pass * items + item, passCount * items); its status is the item's.
    uint32_t report_item(uint32_t item, uint32_t items) const {
        return host->ReportProgress(pass * items + item, passCount * items);
    }
    uint32_t status_ok() const { return host->StatusOk(); }

    OstrovanneHost* host = nullptr;  // not owned
    // Stored by render. (Kept in the base rather than after each derived class's fields.)
    uint32_t pass = 0;
    uint32_t passCount = 1;
};

}  // namespace ov
