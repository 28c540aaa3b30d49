// The iris kernel record, its sizing and the anti-aliased polygon rasteriser.
//
// Skeleton: size the kernel from (radius, border_bias, aspect) in 64 bits and refuse what
// does not fit; lay the row tables and records out in the caller's block; scan every row
// (polling progress before each) and write a record wherever the pixel weight changes by
// more than 0.0001; normalise a kernel whose total weight is below 1. Runs on the calling
// thread, writes only the kernel and its block, allocates nothing.
#include "kernel/iris_kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/host.h"
#include "kernel/iris_polygon.h"

IrisKernel::IrisKernel()
    : records(nullptr),
      row_count(nullptr),
      row_first(nullptr),
      top_row(0),
      bottom_row(0),
      half_height(0),
      inv_sum(0.0),
      sum(0.0),
      radius(0.0),
      buffer(nullptr) {}

void IrisKernel::clear() {
  records = nullptr;
  row_count = nullptr;
  row_first = nullptr;
}

void releaseIrisKernel(IrisKernel* kernel, ov::OstrovanneHost* host) {
  host->FreeMemory(kernel->buffer);
  kernel->buffer = nullptr;
}

namespace iris_detail {

namespace {

// Extents beyond this cannot be drawn (and their blocks could never be allocated); it keeps
// every product below in range of 64-bit integers.
constexpr double kExtentLimit = 1099511627776.0;  // 2^40

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxFacets = 1000;

}  // namespace

Extent irisExtent(double radius, double border_bias, double aspect) {
  Extent e{0, 0, 0, std::numeric_limits<uint64_t>::max()};
  const double n1 = std::trunc(radius + 1.0);
  if (!(n1 < kExtentLimit)) return e;  // too large, or not a number
  e.n = n1 > 0.0 ? static_cast<int64_t>(n1) : 0;
  const double a = aspect > 0.05 ? aspect : 0.05;
  const double m1 = std::trunc(static_cast<double>(e.n) * a) + 1.0;
  if (!(m1 < kExtentLimit)) return e;
  e.m = static_cast<int64_t>(m1);
  const int64_t slots = border_bias == 0.0 ? 12 : 22;
  e.capacity = (2 * std::max(e.n, e.m) + 1) * slots;
  e.bytes = static_cast<uint64_t>(2 * (8 * e.m + 4) + 1 + e.capacity * 12);
  return e;
}

Polygon polygonGeometry(double r, double roundness, int facets) {
  const double s = std::sin(kPi / facets);
  const double c = std::cos(kPi / facets);
  double h = (r - c * r) * roundness;
  if (h == 0.0) h = 0.001;
  double R = (h * h + (s * r) * (s * r)) / (2.0 * h);
  if (R < r || std::isnan(R)) R = r;
  return Polygon{R, R - c * r - h};
}

double polygonCoverage(const Polygon& p, const double* sn, const double* cs, int facets,
                       double x, double v, double aspect) {
  double dmin = 9999999.0;
  // The direction across the nearest arc. It stays (0, 0) only when no arc came nearer than
  // the start value, where the pixel is deep inside and its coverage is 1 whatever G is.
  double gx = 0.0;
  double gv = 0.0;
  for (int i = 0; i < facets; ++i) {
    const double dx = x + p.D * sn[i];
    const double dv = v + p.D * cs[i];
    const double dist = std::sqrt(dx * dx + dv * dv);
    const double t = p.R - dist;
    if (t <= 0.0) return 0.0;  // outside this arc: outside the polygon
    if (t < dmin) {
      dmin = t;
      if (dist > 0.0) {
        gx = dx / dist;
        gv = dv / dist;
      } else {
        // Exactly on the arc centre every direction is equally near the arc; take the
        // facet's normal rather than dividing by zero.
        gx = sn[i];
        gv = cs[i];
      }
    }
  }
  const double G = std::sqrt(gx * gx + gv * gv / (aspect * aspect));
  if (dmin > G) return 1.0;
  return dmin / G;
}

namespace {

// A column span of one row: the intersection of the chords of all facet circles.
struct Span {
  bool present = false;
  double l = 0.0;
  double r = 0.0;
};

Span chordSpan(const Polygon& p, double rho, const double* sn, const double* cs, int facets,
               double v) {
  Span s;
  if (!(rho > 0.0)) return s;
  double l = -std::numeric_limits<double>::infinity();
  double r = std::numeric_limits<double>::infinity();
  for (int i = 0; i < facets; ++i) {
    const double cx = -p.D * sn[i];
    const double dv = v + p.D * cs[i];  // v minus the centre's row coordinate
    const double q = rho * rho - dv * dv;
    if (q < 0.0) return s;  // this circle misses the row
    const double half = std::sqrt(q);
    l = std::max(l, cx - half);
    r = std::min(r, cx + half);
  }
  s.present = true;
  s.l = l;
  s.r = r;
  return s;
}

// The spans of one row: where every pixel has coverage 1 (full) and outside of which every
// pixel has coverage 0 (reach), for the outer and the inner polygon.
struct RowSpans {
  Span outerFull, outerReach, innerFull, innerReach;
};

// The column the scan may jump to from column x (its weight being 0, 1 or the plateau), or
// no jump (returns false).
bool jumpTarget(const RowSpans& s, double x, double& target) {
  auto inside = [x](const Span& sp) { return sp.present && sp.l <= x && x <= sp.r; };
  auto leftOf = [x](const Span& sp) { return sp.present && x < sp.l; };
  auto passed = [x](const Span& sp) { return !sp.present || (sp.l < x && sp.r < x); };

  if (leftOf(s.outerReach)) {
    target = s.outerReach.l;
    return true;
  }
  const bool inOuterFull = inside(s.outerFull);
  if (inOuterFull && leftOf(s.innerReach) && s.innerReach.l < s.outerFull.r) {
    target = s.innerReach.l;
    return true;
  }
  if (inside(s.innerFull)) {
    target = s.innerFull.r;
    return true;
  }
  // Right of the inner polygon (or without one in this row): flat up to the outer full end.
  if (inOuterFull && (!s.innerFull.present || s.innerFull.r < x) &&
      (!s.innerReach.present || s.innerReach.r < x)) {
    target = s.outerFull.r;
    return true;
  }
  if (!s.outerReach.present ||
      (passed(s.outerFull) && passed(s.outerReach) && passed(s.innerFull) &&
       passed(s.innerReach))) {
    target = std::numeric_limits<double>::infinity();  // column n + 1
    return true;
  }
  return false;
}

}  // namespace

uint32_t rasterise(IrisKernel* kernel, void* buffer, double radius, double roundness,
                   int32_t facets, double angle, double border, double border_bias,
                   double aspect, ov::OstrovanneHost* host, bool allowSkip) {
  uint32_t status = host->StatusOk();

  if (!(aspect > 0.05)) aspect = 0.05;
  if (roundness > 0.999) roundness = 0.999;
  int N = facets > kMaxFacets ? kMaxFacets : facets;
  if (N < 3) N = 3;  // fewer facets make no polygon (and 0 would divide by zero)

  const Extent ext = irisExtent(radius, border_bias, aspect);
  if (ext.bytes > std::numeric_limits<uint32_t>::max()) return host->StatusOutOfMemory();
  const int32_t n = static_cast<int32_t>(ext.n);
  const int32_t m = static_cast<int32_t>(ext.m);
  const int64_t Q = ext.capacity;

  double sn[kMaxFacets];
  double cs[kMaxFacets];
  for (int i = 0; i < N; ++i) {
    const double theta = angle + 2.0 * kPi * i / N;
    sn[i] = std::sin(theta);
    cs[i] = std::cos(theta);
  }

  kernel->radius = radius;
  kernel->half_height = m;
  unsigned char* block = static_cast<unsigned char*>(buffer);
  kernel->row_count = reinterpret_cast<int32_t*>(block);
  kernel->row_first = reinterpret_cast<int32_t*>(block + 4 * (2 * static_cast<int64_t>(m) + 1));
  kernel->records =
      reinterpret_cast<KernelDeltaRecord*>(block + 8 * (2 * static_cast<int64_t>(m) + 1));

  const Polygon outer = polygonGeometry(radius, roundness, N);
  const Polygon inner = polygonGeometry(radius * (1.0 - border), roundness, N);
  const bool useInner = border_bias != 0.0;
  const double plateau = border_bias >= 0.0 ? 1.0 - border_bias : 1.0 + border_bias;
  const double e = aspect >= 1.0 ? 1.0 : 1.0 / aspect;
  const bool skip = allowSkip && n > 5;

  auto pixel = [&](double x, double v, double& p) {
    const double covO = polygonCoverage(outer, sn, cs, N, x, v, aspect);
    p = std::min(covO, 1.0);
    double w;
    if (!useInner) {
      w = covO;
    } else {
      const double covI = polygonCoverage(inner, sn, cs, N, x, v, aspect);
      if (border_bias > 0.0) w = (1.0 - border_bias) * covI + (covO - covI);
      else w = (covO - covI) * (1.0 + border_bias) + covI;
    }
    if (w <= 0.001) w = 0.0;
    else if (w > 1.0) w = 1.0;
    return w;
  };

  KernelDeltaRecord* rec = kernel->records;
  int64_t written = 0;
  bool anyRecord = false;
  double sum = 0.0;
  const double invAspect = 1.0 / aspect;

  for (int32_t y = -m; y <= m; ++y) {
    status = host->ReportProgress(0, 1);
    if (status != host->StatusOk()) break;
    const double v = y * invAspect;
    if (!anyRecord) kernel->top_row = y;
    kernel->row_first[y + m] = static_cast<int32_t>(written);
    const int64_t rowStart = written;

    RowSpans spans;
    if (skip) {
      spans.outerFull = chordSpan(outer, outer.R - 1.0 - e, sn, cs, N, v);
      spans.outerReach = chordSpan(outer, outer.R + 1.0, sn, cs, N, v);
      // Without a border weighting the inner polygon does not shape the weight.
      if (useInner) {
        spans.innerFull = chordSpan(inner, inner.R - 1.0 - e, sn, cs, N, v);
        spans.innerReach = chordSpan(inner, inner.R + 1.0, sn, cs, N, v);
      }
    }

    double prevW = 0.0;
    double prevP = 0.0;
    for (int32_t x = -n; x <= n;) {
      double p;
      const double w = pixel(x, v, p);
      if (std::fabs(w - prevW) > 0.0001 && written < Q) {
        rec[written++] = KernelDeltaRecord{static_cast<float>(w - prevW),
                                           static_cast<float>(p - prevP), x};
        anyRecord = true;
        kernel->bottom_row = y;
      }
      prevW = w;
      prevP = p;
      sum += w;

      if (skip && (w == 0.0 || w == 1.0 || w == plateau)) {
        double end;
        if (jumpTarget(spans, x, end)) {
          const double t = std::min(std::trunc(end), static_cast<double>(n) + 1.0);
          if (t > x) {
            const int32_t target = static_cast<int32_t>(t);
            sum += static_cast<double>(target - x) * w;
            x = target + 1;
            continue;
          }
        }
      }
      ++x;
    }
    kernel->row_count[y + m] = static_cast<int32_t>(written - rowStart);
    if (written < Q) rec[written++] = KernelDeltaRecord{0.0f, 0.0f, kKernelRowEnd};
  }

  // An aperture without a single record: keep the row range empty for readers, also when
  // the kernel held an earlier build.
  if (!anyRecord && kernel->bottom_row >= kernel->top_row) kernel->bottom_row = kernel->top_row - 1;

  kernel->sum = sum;
  if (status == host->StatusOk()) {
    if (sum > 0.0 && sum < 1.0) {
      const double k = 1.0 / sum;
      for (int64_t i = 0; i < written; ++i) {
        rec[i].weight_delta = static_cast<float>(rec[i].weight_delta * k);
        rec[i].coverage_delta = static_cast<float>(rec[i].coverage_delta * k);
      }
      kernel->sum = 1.0;
    }
    kernel->inv_sum = kernel->sum != 0.0 ? 1.0 / kernel->sum : 0.0;
  }
  return status;
}

}  // namespace iris_detail

uint64_t kernelBufferSize64(double radius, double border_bias, double aspect) {
  return iris_detail::irisExtent(radius, border_bias, aspect).bytes;
}

uint32_t kernelBufferSize(double radius, double border_bias, double aspect) {
  const uint64_t bytes = kernelBufferSize64(radius, border_bias, aspect);
  return bytes > std::numeric_limits<uint32_t>::max() ? 0u : static_cast<uint32_t>(bytes);
}

uint32_t buildIrisKernel(IrisKernel* kernel, void* buffer, double radius, double roundness,
                         int32_t facets, double angle, double border, double border_bias,
                         double aspect, ov::OstrovanneHost* host) {
  return iris_detail::rasterise(kernel, buffer, radius, roundness, facets, angle, border,
                                border_bias, aspect, host, true);
}

uint32_t buildIrisKernel(IrisKernel* kernel, void* buffer, double radius, double roundness,
                         int32_t facets, double angle, double border, double border_bias,
                         double aspect, const float* /*table*/, int32_t /*table_size*/,
                         ov::OstrovanneHost* host, int32_t /*flag*/) {
  return iris_detail::rasterise(kernel, buffer, radius, roundness, facets, angle, border,
                                border_bias, aspect, host, true);
}
