// Shared helpers of the kernel tests: a host with hooks, and a dense view of a sparse kernel.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "core/host.h"
#include "kernel/iris_kernel.h"

namespace kernel_test {

// A bare host; tests install hooks and a thread count on it.
struct TestHost : ov::OstrovanneHost {
  explicit TestHost(int32_t threads = 0)
      : ov::OstrovanneHost("kernel tests", "Ostrovanne", 1, 0, 0, "test host") {
    threadCountSetting = threads;
  }
};

// The raw running weights (or coverages) of a kernel's rows: value(x, r) for
// x in [x0, x1], r in [-half_height, rows - 1 - half_height], built by the readers' walk.
struct Dense {
  int32_t x0 = 0, x1 = 0, r0 = 0, r1 = 0;
  std::vector<double> v;
  double at(int32_t x, int32_t r) const {
    if (x < x0 || x > x1 || r < r0 || r > r1) return 0.0;
    return v[static_cast<size_t>(r - r0) * (x1 - x0 + 1) + (x - x0)];
  }
  double total() const {
    double s = 0.0;
    for (double d : v) s += d;
    return s;
  }
};

inline Dense dense(const IrisKernel& k, int32_t x0, int32_t x1, int32_t rows,
                   bool coverage = false) {
  Dense d;
  d.x0 = x0;
  d.x1 = x1;
  d.r0 = -k.half_height;
  d.r1 = rows - 1 - k.half_height;
  d.v.assign(static_cast<size_t>(rows) * (x1 - x0 + 1), 0.0);
  for (int32_t r = d.r0; r <= d.r1; ++r) {
    const KernelDeltaRecord* rec = k.rowRecords(r);
    const int32_t c = k.rowCount(r);
    double run = 0.0;
    int32_t i = 0;
    for (int32_t x = x0; x <= x1; ++x) {
      while (i < c && rec[i].x <= x) {
        run += coverage ? rec[i].coverage_delta : rec[i].weight_delta;
        ++i;
      }
      d.v[static_cast<size_t>(r - d.r0) * (x1 - x0 + 1) + (x - x0)] = run;
    }
  }
  return d;
}

}  // namespace kernel_test
