// the filter base's parallel-run pattern and worker progress convention.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "core/host.h"
#include "core/ostrovanne_filter.h"

using namespace ov;

namespace {

struct CountingHost : OstrovanneHost {
    CountingHost() : OstrovanneHost("t", "m", 1, 0, 0, "d") {
        threadCountSetting = 4;
        progressHook = [this](uint32_t done, uint32_t total) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.emplace_back(done, total);
            return true;
        };
    }
    std::mutex mutex;
    std::vector<std::pair<uint32_t, uint32_t>> calls;
};

struct RowFilter : OstrovanneFilter {
    explicit RowFilter(OstrovanneHost* h, uint32_t rows_) : OstrovanneFilter(h), rows(rows_), seen(rows_) {}
    uint32_t render(uint32_t p, uint32_t n) override {
        pass = p;
        passCount = n;
        const uint32_t s = run_prepare(rows);
        if (s != status_ok()) return s;
        return run_slices(rows);
    }
    uint32_t render_slice(uint32_t i, uint32_t n, uint32_t threadID) override {
        EXPECT_EQ(n, rows);
        EXPECT_LT(threadID, 4u);
        ++seen[i];
        return report_item(i, n);
    }
    uint32_t prepare_slice(uint32_t i, uint32_t, uint32_t) override {
        ++prepared[i % 4];
        return status_ok();
    }
    uint32_t rows;
    std::vector<std::atomic<int>> seen;
    std::atomic<int> prepared[4] = {};
};

TEST(OstrovanneFilter, RowWorkersReportOnOneProgressScale) {
    CountingHost host;
    RowFilter f(&host, 100);
    EXPECT_EQ(f.render(1, 3), 0u);
    for (auto& s : f.seen) EXPECT_EQ(s.load(), 1);
    int prepared = 0;
    for (auto& p : f.prepared) prepared += p.load();
    EXPECT_EQ(prepared, 100);
    auto calls = host.calls;
    std::sort(calls.begin(), calls.end());
    ASSERT_EQ(calls.size(), 100u);
    for (uint32_t y = 0; y < 100; ++y) {
        EXPECT_EQ(calls[y].first, 100 + y);  // done = pass * H + row
        EXPECT_EQ(calls[y].second, 300u);    // total = passCount * H
    }
}

TEST(OstrovanneFilter, DefaultWorkersAnswerOk) {
    CountingHost host;
    struct Plain : OstrovanneFilter {
        using OstrovanneFilter::OstrovanneFilter;
        uint32_t render(uint32_t, uint32_t) override { return run_slices(5); }
    } plain(&host);
    EXPECT_EQ(plain.render(0, 1), 0u);
    EXPECT_EQ(plain.prepare_slice(0, 1, 0), 0u);
    EXPECT_TRUE(host.calls.empty());
}

}  // namespace
