// A host for the FFT and resampling tests: a thread count of choice, allocation that can be
// made to fail at the n-th request, a count of live blocks (leaks), and a progress log with
// an optional cancel after a number of reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "core/host.h"

namespace pel_test {

class TestHost : public ov::OstrovanneHost {
public:
    explicit TestHost(int threads = 4) : ov::OstrovanneHost("test", "test", 1, 0, 0, "") {
        threadCountSetting = threads;
        allocateHook = [this](uint32_t size) -> void* {
            std::lock_guard<std::mutex> lock(mutex);
            ++allocations;
            if (failAt != 0 && allocations == failAt) return nullptr;
            void* p = std::malloc(size ? size : 1);
            if (p) live.insert(p);
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            live.erase(p);
            std::free(p);
        };
        progressHook = [this](uint32_t done, uint32_t total) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.emplace_back(done, total);
            return cancelAfter == 0 || reports.size() < cancelAfter;
        };
    }

    void reset() {
        allocations = 0;
        failAt = 0;
        cancelAfter = 0;
        reports.clear();
    }
    std::vector<uint32_t> sortedDone() const {
        std::vector<uint32_t> d;
        for (const auto& r : reports) d.push_back(r.first);
        std::sort(d.begin(), d.end());
        return d;
    }

    std::mutex mutex;
    uint32_t allocations = 0;
    uint32_t failAt = 0;       // the allocation that answers null (1-based; 0 = none)
    size_t cancelAfter = 0;    // the report that answers "stop" (1-based; 0 = none)
    std::set<void*> live;
    std::vector<std::pair<uint32_t, uint32_t>> reports;
};

}  // namespace pel_test
