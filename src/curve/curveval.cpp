// Curve values, slopes dp/dx and basis rows at a set of points.
// The slope is a second Chebyshev series with the derivative's coefficients,
// summed by the same Clenshaw routine as the curve itself.
#include "curve/curveval.h"

#include <algorithm>
#include <vector>

#include "curve/chebyshev.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"
#include "numeric/xrange.h"

namespace quorvex {

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

namespace {

// Coefficients of dp/dx by CHEBDERK in the caller's work, reused across
// calls.
const double* derivative(const Curve& c, CurveWork& work) {
  const std::size_t n = count(c.ncoef);
  if (work.d.size() < n) {
    work.d.resize(n);
    work.wk.resize(n);
  }
  int ifail = 0;
  CHEBDERK(c.ncoef, c.xmin, c.xmax, c.coef, 1, work.d.data(), work.wk.data(), c.ncoef, ifail);
  return work.d.data();
}

// No x below xmin or above xmax (NaNs pass).
bool inside(std::size_t m, const double* x, double xmin, double xmax) {
  double xlo, xhi;
  XRANGE(m, x, xlo, xhi);
  return !(xlo < xmin || xhi > xmax);
}

}  // namespace

void CURVEVAL(int& mode, const Curve& curve, int npts, const double* x, double* y, double* dy,
              double* basis, CurveWork* work) {
  const std::size_t m = count(npts);
  const int ncoef = curve.ncoef;
  const double* coef = curve.coef;
  const double xmin = curve.xmin, xmax = curve.xmax;
  if (!inside(m, x, xmin, xmax)) {
    mode = kModeRefused;
    return;
  }
  if (ncoef < 1) return;
  const bool rows = wants_rows(mode);
  if (xmin < xmax && (!rows || ncoef >= 2)) {
    // Every x is inside a proper interval: the sums of CHEBVAL and CHEBBASIS
    // point by point, each t formed once.
    if (!rows) {
      for (std::size_t i = 0; i < m; ++i) y[i] = CHEBSUM(ncoef, XSCALE(xmin, xmax, x[i]), coef, 1);
      return;
    }
    const double* d = derivative(curve, *work);
    const ColMajor<double> b(basis, static_cast<std::ptrdiff_t>(m));
    for (std::size_t i = 0; i < m; ++i) {
      const double t = XSCALE(xmin, xmax, x[i]);
      y[i] = CHEBSUM(ncoef, t, coef, 1);
      dy[i] = CHEBSUM(ncoef - 1, t, d, 1);
      CHEBROW(ncoef, xmin, xmax, x[i], [&](int j, double phi) { b(i, j) = phi; });
    }
    return;
  }

  int ifail = 0;
  CHEBVAL(ncoef, xmin, xmax, coef, npts, x, y, ifail);
  if (!rows) return;

  if (ncoef == 1) {
    // The derivative of a constant is zero everywhere.
    std::fill(dy, dy + m, 0.0);
  } else {
    CHEBVAL(ncoef - 1, xmin, xmax, derivative(curve, *work), npts, x, dy, ifail);
  }
  CHEBBASIS(ncoef, xmin, xmax, npts, x, basis, npts > 0 ? npts : 1);
}

}  // namespace quorvex
