// A curve at many points.  Inside its interval the values are the curve
// evaluator's (POLYEVAL's bits, one call for all points); beyond it, and for
// slopes, the basis rows of curve_point.  u(p(x))^2 = g(x)' C g(x), the law of
// propagation of uncertainty (GUM 5.1.2) for the linear function p(x) = g' c.
#include "curvestats/curve_values.h"

#include <cmath>
#include <vector>

#include "curve/curveval.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"

namespace quorvex::lab {

void curve_values(const CurveRef& c, int what, bool extend, int npts, const double* x, double* y,
                  double* dy, double* u) {
  const std::size_t n = count(npts);
  PointEval at(c);
  if (what & kWantValue) {
    if (!extend) {
      int mode = kModeValues;
      CURVEVAL(mode, Curve{c.ncoef, c.coef, c.xmin, c.xmax}, npts, x, y, nullptr, nullptr,
               nullptr);
    } else {
      for (std::size_t i = 0; i < n; ++i) y[i] = at.value(x[i]);
    }
  }
  if (what & kWantSlope) {
    for (std::size_t i = 0; i < n; ++i) dy[i] = at.slope(x[i]);
  }
  if (what & kWantUncertainty) {
    for (std::size_t i = 0; i < n; ++i) u[i] = std::sqrt(at.variance(x[i]));
  }
}

}  // namespace quorvex::lab
