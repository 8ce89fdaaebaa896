#pragma once

namespace quorvex {

// Straight line p = c1/2 + c2 t on [xmin, xmax] to lcoef = (slope, intercept)
// with lcov = T cov T'.  istat 1 (nothing written) when xmin >= xmax.
void LINEAR_CONV(const double* coef, const double* cov, double xmin, double xmax, double* lcoef,
                 double* lcov, int& istat);

}  // namespace quorvex
