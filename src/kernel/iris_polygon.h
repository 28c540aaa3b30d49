// Inner arithmetic of the iris polygon rasteriser, shared by the rasteriser and its tests.
#pragma once

#include <cstdint>

#include "kernel/iris_kernel.h"

namespace iris_detail {

// The kernel's extent and block for one (radius, border_bias, aspect), in 64 bits.
struct Extent {
  int64_t n;         // half width: columns -n .. n
  int64_t m;         // half height: rows -m .. m
  int64_t capacity;  // record slots, row end records included
  uint64_t bytes;    // block size; UINT64_MAX when n or m cannot be formed
};
Extent irisExtent(double radius, double border_bias, double aspect);

// Geometry of one polygon: every point within R of all N arc centres -D * u_i lies inside.
struct Polygon {
  double R;  // arc radius
  double D;  // offset of the arc centres from the kernel centre (against the facet normal)
};
Polygon polygonGeometry(double circumradius, double roundness, int facets);

// Coverage of one polygon at the shape-space point (x, v): 1 at least one pixel step inside
// the boundary (measured across the nearest arc on the pixel grid), 0 on or outside it, a
// linear ramp between. sn, cs: sine and cosine of the facet directions.
double polygonCoverage(const Polygon& p, const double* sn, const double* cs, int facets,
                       double x, double v, double aspect);

// The rasteriser; `allowSkip` false scans every pixel (the reference for the run skip).
uint32_t rasterise(IrisKernel* kernel, void* buffer, double radius, double roundness,
                   int32_t facets, double angle, double border, double border_bias,
                   double aspect, ov::OstrovanneHost* host, bool allowSkip);

}  // namespace iris_detail
