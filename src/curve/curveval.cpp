// Curve values, slopes dp/dx and basis rows at a set of points.
// The slope is a second Chebyshev series with the derivative's coefficients,
// summed by the same Clenshaw routine as the curve itself.
#include "curve/curveval.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "curve/chebyshev.h"
#include "numeric/colmajor.h"

namespace quorvex {

thread_local double SXMIN = 0.0;
thread_local double SXMAX = 0.0;

void CHEBVAL(int n, double xmin, double xmax, const double* a, int npts, const double* x,
             double* s, int& ifail) {
  if (n <= 0 || xmin >= xmax) {
    ifail = 1;
    return;
  }
  const std::size_t m = count(npts);
  for (std::size_t i = 0; i < m; ++i) {
    if (x[i] < xmin || x[i] > xmax) {
      ifail = 2;
      return;
    }
  }
  ifail = 0;
  for (std::size_t i = 0; i < m; ++i) s[i] = CHEBSUM(n, XSCALE(xmin, xmax, x[i]), a, 1);
}

void CHEBDERK(int n, double xmin, double xmax, const double* a, int k, double* d, double* wk,
              int la, int& ifail) {
  if (!(la >= n && k >= 0 && k < n && n > 0 && xmin < xmax)) {
    ifail = 1;
    return;
  }
  ifail = 0;
  const std::size_t nn = count(n);
  std::copy(a, a + nn, d);
  for (int b = 1; b <= k; ++b) {
    std::copy(d, d + nn, wk);
    CHEBDER(n - b + 1, xmin, xmax, wk, 1, d, 1);
  }
}

void CURVEVAL(int& mode, int npts, int ncoef, const double* x, const double* coef, double* y,
              double* dy, double* basis) {
  const std::size_t m = count(npts);
  double xlo = std::numeric_limits<double>::max();
  double xhi = -std::numeric_limits<double>::max();
  for (std::size_t i = 0; i < m; ++i) {
    if (x[i] < xlo) xlo = x[i];
    if (x[i] > xhi) xhi = x[i];
  }
  if (xlo < SXMIN || xhi > SXMAX) {
    mode = -1;
    return;
  }
  if (ncoef < 1) return;

  int ifail = 0;
  CHEBVAL(ncoef, SXMIN, SXMAX, coef, npts, x, y, ifail);
  if (mode != 2 && mode != 3) return;

  if (ncoef == 1) {
    // The derivative of a constant is zero everywhere.
    std::fill(dy, dy + m, 0.0);
  } else {
    // Derivative coefficients in a per-thread buffer reused across calls, so
    // that repeated evaluations (the generalized fit, root refinement) do not
    // allocate.
    thread_local std::vector<double> d;
    thread_local std::vector<double> wk;
    const std::size_t n = count(ncoef);
    if (d.size() < n) {
      d.resize(n);
      wk.resize(n);
    }
    CHEBDERK(ncoef, SXMIN, SXMAX, coef, 1, d.data(), wk.data(), ncoef, ifail);
    CHEBVAL(ncoef - 1, SXMIN, SXMAX, d.data(), npts, x, dy, ifail);
  }
  CHEBBASIS(ncoef, SXMIN, SXMAX, npts, x, basis, npts > 0 ? npts : 1);
}

}  // namespace quorvex
