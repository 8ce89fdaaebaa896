// Checked evaluation of a curve at a set of points.
#include "curve/polyeval.h"

#include <algorithm>

#include "curve/curveval.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"
#include "numeric/xrange.h"

namespace quorvex {

void POLYEVAL(int ncoef, const double* coef, int npts, const double* x, double xmin, double xmax,
              double* y, int& istat) {
  const std::size_t m = count(npts);
  std::fill(y, y + m, 0.0);
  istat = QVX_OK;

  double xlo, xhi;
  XRANGE(m, x, xlo, xhi);
  if (xmin >= xmax) {
    istat = QVX_EVAL_BAD_INTERVAL;
    return;
  }
  if (xmin > xlo) {
    istat = QVX_EVAL_X_BELOW;
    return;
  }
  if (xmax < xhi) {
    istat = QVX_EVAL_X_ABOVE;
    return;
  }

  // Values only: slopes and basis rows would be dropped, so they are not
  // requested (the values are the same series summation either way).
  int mode = kModeValues;
  CURVEVAL(mode, Curve{ncoef, coef, xmin, xmax}, npts, x, y, nullptr, nullptr, nullptr);
}

}  // namespace quorvex
