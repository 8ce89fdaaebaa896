// Checked evaluation of a scaled polynomial at a set of points, and the curve
// evaluator the rest of the library calls.
#pragma once

#include <vector>

namespace quorvex {

// A curve as the library's routines hand it on: ncoef coefficients of the
// scaled polynomial on [xmin, xmax].  A view: the coefficients stay the
// caller's.
struct Curve {
  int ncoef = 0;
  const double* coef = nullptr;
  double xmin = 0.0;
  double xmax = 0.0;
};

// Coefficients of the curve's slope dp/dx, kept by whoever evaluates slopes
// repeatedly (a fit's workspace, a root search) so that the evaluations do
// not allocate.
struct CurveWork {
  std::vector<double> d, wk;
};

// s(i) = p(x(i)) for n coefficients a on [xmin, xmax].
// ifail = 1 (s not written) if n <= 0 or xmin >= xmax; 2 (s not written) if
// some x(i) lies outside [xmin, xmax]; 0 otherwise.
void CHEBVAL(int n, double xmin, double xmax, const double* a, int npts, const double* x,
             double* s, int& ifail);

// Coefficients of the k-th derivative into d(1..n); wk is work of length la.
// ifail = 1 (nothing computed) unless la >= n, 0 <= k < n and xmin < xmax.
void CHEBDERK(int n, double xmin, double xmax, const double* a, int k, double* d, double* wk,
              int la, int& ifail);

// Curve evaluator.  y(i) = p(x(i)); when mode is kModeRows or kModeRowsToo also
// dy(i) = dp/dx and basis(i, k) = phi_k(x(i)) (leading dimension npts), with
// the slope's coefficients formed in work (which may be null for values only).
// A point outside the interval sets mode = kModeRefused and writes nothing;
// otherwise mode is left as it was.
void CURVEVAL(int& mode, const Curve& curve, int npts, const double* x, double* y, double* dy,
              double* basis, CurveWork* work);

// The signature of CURVEVAL, as the generalized fit receives its model routine.
using ModelFn = void (*)(int& mode, const Curve& curve, int npts, const double* x, double* y,
                         double* dy, double* basis, CurveWork* work);

}  // namespace quorvex
