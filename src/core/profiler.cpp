// Profiler: the counter and the two reports, in their fixed formats.
#include "core/profiler.h"

#include <algorithm>
#include <iomanip>
#include <limits>
#include <sstream>
#include <vector>

#include "platform/platform.h"

namespace ov {

namespace {

// Fixed-point with the given decimals, right-aligned in width (0: unpadded).
struct Fixed {
    double value;
    int decimals;
    int width;
};

std::ostream& operator<<(std::ostream& os, const Fixed& f) {
    os << std::right << std::fixed << std::setprecision(f.decimals);
    if (f.width > 0) os << std::setw(f.width);
    return os << f.value;
}

// Text left-aligned in width.
struct Left {
    const std::string& text;
    int width;
};

std::ostream& operator<<(std::ostream& os, const Left& l) {
    return os << std::left << std::setw(l.width) << l.text << std::right;
}

struct Right {
    const char* text;
    int width;
};

std::ostream& operator<<(std::ostream& os, const Right& r) {
    return os << std::right << std::setw(r.width) << r.text;
}

}  // namespace

Profiler::Summary::Summary()
    : firstStart(std::numeric_limits<double>::max()),
      shortest(std::numeric_limits<double>::max()) {}

Profiler::Profiler() { Reset(); }

void Profiler::QueryCounter(int64_t& out) { out = pel::platform::PerformanceCounter(); }

int64_t Profiler::QueryFrequency() { return pel::platform::PerformanceFrequency(); }

void Profiler::Reset() {
    QueryCounter(clock.start);
    marks.clear();
}

void Profiler::Mark(std::shared_ptr<Workload> workload) {
    int64_t now;
    QueryCounter(now);
    MarkRecord record;
    record.time = static_cast<double>(now - clock.start) / static_cast<double>(clock.frequency);
    record.workload = std::move(workload);
    marks.push_back(std::move(record));
}

bool Profiler::CompareRecords(const Summary& a, const Summary& b) { return a.total < b.total; }

std::string Profiler::ReportMeasures(const Measures& measures) {
    if (measures.empty()) return std::string();

    std::vector<Summary> list;
    for (const auto& [name, records] : measures) {
        Summary s;
        s.name = name;
        for (const Measure& m : records) {
            const double startTime = m.StartTime();
            const double endTime = m.EndTime();
            const double duration = m.Duration();
            s.firstStart = std::min(s.firstStart, startTime);
            s.lastEnd = std::max(s.lastEnd, endTime);
            s.total += duration;
            s.longest = std::max(s.longest, duration);
            s.shortest = std::min(s.shortest, duration);
            s.count += 1;
        }
        list.push_back(std::move(s));
    }

    double overallStart = std::numeric_limits<double>::max();
    double overallEnd = 0.0;
    double sumLongest = 0.0;
    double sumShortest = 0.0;
    for (const Summary& s : list) {
        overallStart = std::min(overallStart, s.firstStart);
        overallEnd = std::max(overallEnd, s.lastEnd);
        sumLongest += s.longest;
        sumShortest += s.shortest;
    }
    std::stable_sort(list.begin(), list.end(), CompareRecords);

    const double envelope = overallEnd - overallStart;
    auto p = [envelope](double v) { return v * 100.0 * (1.0 / envelope); };

    std::ostringstream os;
    os << "[Measure]\n" << "[Combined ]\n";
    double sumAverages = 0.0;
    for (const Summary& s : list) {
        const double average = s.total / static_cast<double>(s.count);
        const double e = s.lastEnd - s.firstStart;
        os << "envelope:" << Fixed{e, 3, 7} << "(" << Fixed{p(e), 1, 5};
        os << "%) | max:" << Fixed{s.longest, 3, 7} << "(" << Fixed{p(s.longest), 1, 5};
        os << "%) | min:" << Fixed{s.shortest, 3, 7} << "(" << Fixed{p(s.shortest), 1, 5};
        os << "%)" << " | average:" << Fixed{average, 3, 7} << " (" << Fixed{p(average), 1, 5};
        os << "%) - (" << s.count << "x) " << s.name << "\n";
        sumAverages += average;
    }
    os << "-------------------------\n";
    os << "envelope:" << Fixed{envelope, 3, 7} << "(100.0%) | max:" << Fixed{sumLongest, 3, 7}
       << "(" << Fixed{p(sumLongest), 1, 5} << "%) | min:" << Fixed{sumShortest, 3, 7} << "("
       << Fixed{p(sumShortest), 1, 5} << "%) | average:" << Fixed{sumAverages, 3, 7} << "("
       << Fixed{p(sumAverages), 1, 5} << "%)";
    return os.str();
}

std::string Profiler::ReportTable() const {
    double sumSeconds = 0.0;
    uint64_t sumBytes = 0;
    double sumReference = 0.0;
    for (const MarkRecord& m : marks) {
        sumSeconds += m.workload->GetSeconds();
        sumBytes += m.workload->GetBytes();
        sumReference += m.workload->GetReferenceBandwidth();
    }
    const double R = sumReference / static_cast<double>(marks.size());

    std::ostringstream os;
    os << Left{"time", 10} << Left{"Name", 30} << Right{"duration (s)", 27}
       << Right{"workload (gb)", 17} << Right{"bandwidth (gb/s)", 37} << "\n";
    os << "--------\n";
    for (const MarkRecord& m : marks) {
        const double s = m.workload->GetSeconds();
        const double n = static_cast<double>(m.workload->GetBytes());
        const double b = n / s;
        const double reference = m.workload->GetReferenceBandwidth();
        std::ostringstream time;
        time << std::fixed << std::setprecision(5) << m.time;
        os << Left{time.str(), 10} << Left{m.workload->GetLabel(), 30};
        os << Fixed{s, 5, 17} << " (" << Fixed{s * 100.0 * (1.0 / sumSeconds), 2, 6} << "%)";
        os << Fixed{n * 1e-9, 5, 17};
        os << Fixed{b * 1e-9, 2, 17} << " (" << Fixed{b * 100.0 / reference, 2, 6} << "% of "
           << Fixed{reference * 1e-9, 2, 0} << ")\n";
    }
    os << "\n" << "--------\n";
    const double B = static_cast<double>(sumBytes) / sumSeconds;
    os << std::string(40, ' ') << Fixed{sumSeconds, 5, 17} << " (100.00%)"
       << Fixed{static_cast<double>(sumBytes) * 1e-9, 5, 17} << Fixed{B * 1e-9, 2, 17} << " ("
       << Fixed{B * 100.0 / R, 2, 6} << "% of " << Fixed{R * 1e-9, 2, 0} << ")";
    return os.str();
}

}  // namespace ov
