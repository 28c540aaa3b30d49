// Profiler: the report strings, exactly.
#include "core/profiler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

ov::Profiler::Measure M(int64_t start, int64_t end, int64_t frequency = 1000) {
    ov::Profiler::Measure m;
    m.start = start;
    m.end = end;
    m.frequency = frequency;
    return m;
}

struct FixedWorkload : ov::Profiler::Workload {
    std::string label;
    double seconds;
    uint64_t bytes;
    double reference;
    FixedWorkload(std::string l, double s, uint64_t b, double r)
        : label(std::move(l)), seconds(s), bytes(b), reference(r) {}
    std::string GetLabel() override { return label; }
    double GetSeconds() override { return seconds; }
    uint64_t GetBytes() override { return bytes; }
    double GetReferenceBandwidth() override { return reference; }
};

std::string Pad(size_t n) { return std::string(n, ' '); }

}  // namespace

TEST(Profiler, MeasureDerivedValues) {
    auto m = M(500, 700);
    EXPECT_DOUBLE_EQ(m.StartTime(), 0.5);
    EXPECT_DOUBLE_EQ(m.EndTime(), 0.7);
    EXPECT_DOUBLE_EQ(m.Duration(), 0.2);
}

TEST(Profiler, EmptyMeasuresGiveTheEmptyString) {
    EXPECT_EQ(ov::Profiler::ReportMeasures({}), "");
}

TEST(Profiler, SummaryReportOfThePart) {
    ov::Profiler::Measures measures;
    measures["load"].push_back(M(100, 200));
    measures["blur"].push_back(M(0, 400));
    measures["blur"].push_back(M(500, 700));
    EXPECT_EQ(ov::Profiler::ReportMeasures(measures),
              "[Measure]\n"
              "[Combined ]\n"
              "envelope:  0.100( 14.3%) | max:  0.100( 14.3%) | min:  0.100( 14.3%) | average:  0.100 ( 14.3%) - (1x) load\n"
              "envelope:  0.700(100.0%) | max:  0.400( 57.1%) | min:  0.200( 28.6%) | average:  0.300 ( 42.9%) - (2x) blur\n"
              "-------------------------\n"
              "envelope:  0.700(100.0%) | max:  0.500( 71.4%) | min:  0.300( 42.9%) | average:  0.400( 57.1%)");
}

TEST(Profiler, EqualTotalsKeepNameOrder) {
    ov::Profiler::Measures measures;
    measures["b"].push_back(M(0, 100));
    measures["a"].push_back(M(100, 200));
    std::string report = ov::Profiler::ReportMeasures(measures);
    size_t a = report.find("(1x) a\n");
    size_t b = report.find("(1x) b\n");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_NE(report.back(), '\n');
}

TEST(Profiler, TableReportOfThePart) {
    ov::Profiler profiler;
    profiler.marks.push_back({0.25, std::make_shared<FixedWorkload>("decode", 0.2, 400000000ull, 4000000000.0)});
    profiler.marks.push_back({1.0, std::make_shared<FixedWorkload>("blur", 0.6, 1200000000ull, 4000000000.0)});
    const std::string expected =
        "time      " "Name" + Pad(26) + Pad(15) + "duration (s)" + Pad(4) + "workload (gb)" + Pad(21) + "bandwidth (gb/s)\n"
        "--------\n"
        "0.25000   " "decode" + Pad(24) + Pad(10) + "0.20000" + " ( 25.00%)" + Pad(10) + "0.40000" + Pad(13) + "2.00" + " ( 50.00% of 4.00)\n"
        "1.00000   " "blur" + Pad(26) + Pad(10) + "0.60000" + " ( 75.00%)" + Pad(10) + "1.20000" + Pad(13) + "2.00" + " ( 50.00% of 4.00)\n"
        "\n"
        "--------\n" + Pad(40) + Pad(10) + "0.80000" + " (100.00%)" + Pad(10) + "1.60000" + Pad(13) + "2.00" + " ( 50.00% of 4.00)";
    EXPECT_EQ(profiler.ReportTable(), expected);
}

TEST(Profiler, GigabyteIsTenToTheNine) {
    ov::Profiler profiler;
    profiler.marks.push_back({0.0, std::make_shared<FixedWorkload>("one", 1.0, 1000000000ull, 1e9)});
    std::string table = profiler.ReportTable();
    EXPECT_NE(table.find(Pad(10) + "1.00000" + Pad(13) + "1.00 (100.00% of 1.00)\n"), std::string::npos)
        << table;
}

TEST(Profiler, MarksKeepCallOrderAndTime) {
    ov::Profiler profiler;
    profiler.Mark(std::make_shared<FixedWorkload>("z-first", 1.0, 1, 1.0));
    profiler.Mark(std::make_shared<FixedWorkload>("a-second", 1.0, 1, 1.0));
    ASSERT_EQ(profiler.marks.size(), 2u);
    EXPECT_GE(profiler.marks.front().time, 0.0);
    EXPECT_LE(profiler.marks.front().time, profiler.marks.back().time);
    std::string table = profiler.ReportTable();
    EXPECT_LT(table.find("z-first"), table.find("a-second"));
    EXPECT_NE(table.back(), '\n');
    std::weak_ptr<ov::Profiler::Workload> w = profiler.marks.front().workload;
    profiler.Reset();
    EXPECT_TRUE(profiler.marks.empty());
    EXPECT_TRUE(w.expired());
}

TEST(Profiler, CounterAndScopedMeasure) {
    int64_t a = 0, b = 0;
    ov::Profiler::QueryCounter(a);
    ov::Profiler::QueryCounter(b);
    EXPECT_LE(a, b);
    EXPECT_GT(ov::Profiler::QueryFrequency(), 0);
    ov::Profiler::Measures measures;
    { ov::ScopedMeasure m(measures, "stage"); }
    ASSERT_EQ(measures["stage"].size(), 1u);
    EXPECT_GE(measures["stage"][0].Duration(), 0.0);
}

TEST(Profiler, CompareRecordsByTotal) {
    ov::Profiler::Summary a, b;
    a.total = 1.0;
    b.total = 2.0;
    EXPECT_TRUE(ov::Profiler::CompareRecords(a, b));
    EXPECT_FALSE(ov::Profiler::CompareRecords(b, a));
    EXPECT_FALSE(ov::Profiler::CompareRecords(a, a));
    ov::Profiler::Summary fresh;
    EXPECT_EQ(fresh.lastEnd, 0.0);
    EXPECT_EQ(fresh.count, 0);
    EXPECT_EQ(fresh.firstStart, std::numeric_limits<double>::max());
    EXPECT_EQ(fresh.shortest, std::numeric_limits<double>::max());
}
