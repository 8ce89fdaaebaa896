// The x of a response on a curve extended a little beyond its interval.
#pragma once

#include "curvestats/curve_point.h"

namespace quorvex::lab {

// How far beyond its interval (share of the width) the curve may be extended
// to reach a blank.
inline constexpr double kBlankExtend = 0.25;

// The root of p(x) = y nearest to x0 among those in
// [xmin - kBlankExtend w, xmax + kBlankExtend w], w = xmax - xmin, on the
// curve extended; NaN where there is none.
double root_near_extended(PointEval& at, double y, double x0);

// The root of p(x) = y in [xmin, xmax] nearest to x0 (IPVAL's grid of 100
// cells and zero finder, its roots to the bit); NaN where there is none.
double root_near(const CurveRef& c, double y, double x0);

}  // namespace quorvex::lab
