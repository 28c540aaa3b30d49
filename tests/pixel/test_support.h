// Shared helpers of the pixel tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "core/host.h"
#include "pixel/formats.h"

namespace pel_test {

template <class L> struct ToGTest;
template <class... Ts> struct ToGTest<ov::TypeList<Ts...>> { using type = ::testing::Types<Ts...>; };

// A host that records every progress report (thread-safe) and can refuse from a given call.
struct RecordingHost : ov::OstrovanneHost {
    explicit RecordingHost(int32_t threads = 4) : OstrovanneHost("test", "maker", 1, 0, 0, "d") {
        threadCountSetting = threads;
        progressHook = [this](uint32_t done, uint32_t total) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.emplace_back(done, total);
            return !(refuseFrom >= 0 && int64_t(calls.size()) > refuseFrom);
        };
    }
    std::vector<std::pair<uint32_t, uint32_t>> sorted_calls() {
        std::lock_guard<std::mutex> lock(mutex);
        auto c = calls;
        std::sort(c.begin(), c.end());
        return c;
    }
    std::mutex mutex;
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    int64_t refuseFrom = -1;  // answer false from call number refuseFrom + 1 on
};

// Expects exactly the reports done = pass * h + y (y = 0 .. h-1), total = passCount * h.
inline void expect_row_progress(RecordingHost& host, uint32_t pass, uint32_t passCount, uint32_t h) {
    const auto calls = host.sorted_calls();
    ASSERT_EQ(calls.size(), h);
    for (uint32_t y = 0; y < h; ++y) {
        EXPECT_EQ(calls[y].first, pass * h + y);
        EXPECT_EQ(calls[y].second, passCount * h);
    }
}

}  // namespace pel_test
