// ov::OstrovanneFilter: the parallel-run pattern.
#include "core/ostrovanne_filter.h"

namespace ov {

uint32_t OstrovanneFilter::render_slice(uint32_t, uint32_t, uint32_t) { return host->StatusOk(); }
uint32_t OstrovanneFilter::prepare_slice(uint32_t, uint32_t, uint32_t) { return host->StatusOk(); }

ParallelJob OstrovanneFilter::slice_job() {
    return [this](uint32_t index, uint32_t iterations, uint32_t threadID) {
        return this->render_slice(index, iterations, threadID);
    };
}

ParallelJob OstrovanneFilter::prepare_job() {
    return [this](uint32_t index, uint32_t iterations, uint32_t threadID) {
        return this->prepare_slice(index, iterations, threadID);
    };
}

uint32_t OstrovanneFilter::run_slices(uint32_t count) {
    return host->ParallelRun(count, slice_job());
}

uint32_t OstrovanneFilter::run_prepare(uint32_t count) {
    return host->ParallelRun(count, prepare_job());
}

}  // namespace ov
