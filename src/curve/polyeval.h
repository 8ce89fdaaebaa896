#pragma once

namespace quorvex {

// Curve values y(i) = p(x(i)).  istat: 0 success, 1 xmin >= xmax, 2 a point
// below xmin, 3 a point above xmax; on failure y is all zero.
void POLYEVAL(int ncoef, const double* coef, int npts, const double* x, double xmin, double xmax,
              double* y, int& istat);

}  // namespace quorvex
