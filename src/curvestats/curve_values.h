// A curve at many points: values, slopes and u(p(x)).
#pragma once

#include "curvestats/curve_point.h"

namespace quorvex::lab {

// What curve_values computes (a sum of these).
inline constexpr int kWantValue = 1;
inline constexpr int kWantSlope = 2;
inline constexpr int kWantUncertainty = 4;

// y = p(x), dy = p'(x), u = sqrt(g(x)' C g(x)) at npts points, each written
// where `what` asks for it.  With extend the curve is taken beyond its
// interval too; without it every x must lie inside (the caller checks).
void curve_values(const CurveRef& c, int what, bool extend, int npts, const double* x, double* y,
                  double* dy, double* u);

}  // namespace quorvex::lab
