// Profiler: timed intervals on the high-resolution counter and two plain-text
// reports. Writes nothing itself; one Profiler and one Measures collection per thread at a
// time.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ov {

class Profiler {
public:
    // One timed interval. frequency is the counter's rate (ticks per second).
    struct Measure {
        int64_t start = 0;
        int64_t end = 0;
        int64_t frequency = Profiler::QueryFrequency();

        void Start() { Profiler::QueryCounter(start); }
        void Stop() { Profiler::QueryCounter(end); }
        double StartTime() const { return static_cast<double>(start) / static_cast<double>(frequency); }
        double EndTime() const { return static_cast<double>(end) / static_cast<double>(frequency); }
        double Duration() const { return static_cast<double>(end - start) / static_cast<double>(frequency); }
    };

    // What a mark refers to.
    class Workload {
    public:
        virtual ~Workload() = default;                 // slot 0 (not called by the profiler)
        virtual std::string GetLabel() = 0;            // "Name" column
        virtual double GetSeconds() = 0;               // duration in seconds
        virtual uint64_t GetBytes() = 0;               // bytes processed
        virtual double GetReferenceBandwidth() = 0;    // bytes per second
    };

    struct MarkRecord {
        double time = 0.0;                  // seconds from the clock's start
        std::shared_ptr<Workload> workload;
    };

    struct Summary {
        std::string name;
        double firstStart;
        double lastEnd = 0.0;
        double longest = 0.0;
        double shortest;
        double total = 0.0;
        int32_t count = 0;
        Summary();
    };

    // Named measures: visited in ascending name order by the report.
    using Measures = std::map<std::string, std::vector<Measure>>;

    Profiler();  // Reset()

    static void QueryCounter(int64_t& out);
    static int64_t QueryFrequency();

    void Reset();
    void Mark(std::shared_ptr<Workload> workload);
    std::string ReportTable() const;
    static std::string ReportMeasures(const Measures& measures);
    static bool CompareRecords(const Summary& a, const Summary& b);

    Measure clock;
    std::list<MarkRecord> marks;
};

// Times a scope into measures[name] (appends one finished Measure when it ends).
class ScopedMeasure {
public:
    ScopedMeasure(Profiler::Measures& measures, std::string name)
        : measures_(measures), name_(std::move(name)) { measure_.Start(); }
    ~ScopedMeasure() { measure_.Stop(); measures_[name_].push_back(measure_); }
    ScopedMeasure(const ScopedMeasure&) = delete;
    ScopedMeasure& operator=(const ScopedMeasure&) = delete;

private:
    Profiler::Measures& measures_;
    std::string name_;
    Profiler::Measure measure_;
};

}  // namespace ov
