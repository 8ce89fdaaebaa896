// The scaled polynomial: a Chebyshev series of the first kind in
//   t = ((x - xmin) - (xmax - x)) / (xmax - xmin),
// which maps [xmin, xmax] onto [-1, 1], the first coefficient at half weight:
//   p(x) = a1/2 + a2 T1(t) + ... + an T_{n-1}(t).
// These routines do not check their arguments; the checked forms are in
// curveval.h.
#pragma once

#include <cstddef>

namespace quorvex {

// Scaled variable t of x; not clamped, so x outside the interval gives |t| > 1.
double XSCALE(double xmin, double xmax, double x);

// Basis matrix: basis(i, k) = phi_k(x(i)), phi_1 = 0.5, phi_2 = t, phi_k = T_{k-1}(t).
// Column-major with leading dimension ldb >= npts; requires ncoef >= 1.
void CHEBBASIS(int ncoef, double xmin, double xmax, int npts, const double* x, double* basis,
               int ldb);

// s = a(1)/2 + sum_{k=2..n} a(k) T_{k-1}(t), the coefficients inc apart.
double CHEBSUM(int n, double t, const double* a, std::ptrdiff_t inc);

// Coefficients of dp/dx (with respect to x, not t) into d(1..n), d(n) = 0.
void CHEBDER(int n, double xmin, double xmax, const double* a, std::ptrdiff_t inca, double* d,
             std::ptrdiff_t incd);

}  // namespace quorvex
