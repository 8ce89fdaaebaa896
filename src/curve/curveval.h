// Checked evaluation of a scaled polynomial at a set of points, and the curve
// evaluator the rest of the library calls.
#pragma once

namespace quorvex {

// Interval of the curve being evaluated by CURVEVAL.  Every caller stores the
// curve's xmin and xmax here immediately before calling it.  Each thread has
// its own pair.
extern thread_local double SXMIN;
extern thread_local double SXMAX;

// s(i) = p(x(i)) for n coefficients a on [xmin, xmax].
// ifail = 1 (s not written) if n <= 0 or xmin >= xmax; 2 (s not written) if
// some x(i) lies outside [xmin, xmax]; 0 otherwise.
void CHEBVAL(int n, double xmin, double xmax, const double* a, int npts, const double* x,
             double* s, int& ifail);

// Coefficients of the k-th derivative into d(1..n); wk is work of length la.
// ifail = 1 (nothing computed) unless la >= n, 0 <= k < n and xmin < xmax.
void CHEBDERK(int n, double xmin, double xmax, const double* a, int k, double* d, double* wk,
              int la, int& ifail);

// Curve evaluator on [SXMIN, SXMAX].  y(i) = p(x(i)); when mode is 2 or 3 also
// dy(i) = dp/dx and basis(i, k) = phi_k(x(i)) (leading dimension npts).
// A point outside the interval sets mode = -1 and writes nothing; otherwise
// mode is left as it was.
void CURVEVAL(int& mode, int npts, int ncoef, const double* x, const double* coef, double* y,
              double* dy, double* basis);

// The signature of CURVEVAL, as the generalized fit receives its model routine.
using ModelFn = void (*)(int& mode, int npts, int ncoef, const double* x, const double* coef,
                         double* y, double* dy, double* basis);

}  // namespace quorvex
