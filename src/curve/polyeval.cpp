// Checked evaluation of a curve at a set of points.
#include "curve/polyeval.h"

#include <algorithm>
#include <limits>

#include "curve/curveval.h"
#include "numeric/colmajor.h"

namespace quorvex {

void POLYEVAL(int ncoef, const double* coef, int npts, const double* x, double xmin, double xmax,
              double* y, int& istat) {
  const std::size_t m = count(npts);
  std::fill(y, y + m, 0.0);
  istat = 0;

  double xlo = std::numeric_limits<double>::max();
  double xhi = -std::numeric_limits<double>::max();
  for (std::size_t i = 0; i < m; ++i) {
    xlo = std::min(xlo, x[i]);
    xhi = std::max(xhi, x[i]);
  }
  if (xmin >= xmax) {
    istat = 1;
    return;
  }
  if (xmin > xlo) {
    istat = 2;
    return;
  }
  if (xmax < xhi) {
    istat = 3;
    return;
  }

  // Values only: slopes and basis rows would be dropped, so they are not
  // requested (the values are the same series summation either way).
  SXMIN = xmin;
  SXMAX = xmax;
  int mode = 1;
  CURVEVAL(mode, npts, ncoef, x, coef, y, nullptr, nullptr);
}

}  // namespace quorvex
