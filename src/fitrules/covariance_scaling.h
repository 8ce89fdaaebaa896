// The coefficient covariance scaled by the residual scatter, the fit's degrees
// of freedom and chi2.
#pragma once

#include <cstddef>

namespace quorvex::lab {

// Residual degrees of freedom of a fit of ncoef coefficients to npts points.
inline int fit_dof(int npts, int ncoef) { return npts - ncoef; }

// out = cov * sres^2 (ncoef x ncoef); all NaN when dof == 0 (the scatter then
// says nothing).  Returns false when sres^2 is not finite, or when a finite
// covariance overflows on scaling (the scaled covariance is then not formed
// and out holds NaN).
bool scaled_covariance(int ncoef, const double* cov, double sres, int dof, double* out);

// Sum of the squared weighted residuals a (n) and, where b is not null, b (n).
double chi2(std::size_t n, const double* a, const double* b);

}  // namespace quorvex::lab
