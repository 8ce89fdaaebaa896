// r and r^2 of a fit, weighted as the fit was:
//   r^2 = 1 - sum (W_i e_i)^2 / sum W_i^2 (y_i - ybar_W)^2,
// ybar_W the weighted mean of y; r = sqrt(max(r^2, 0)), negative for a
// falling straight line (its slope's sign), as the correlation coefficient
// of x and y is.  They measure how much of the spread of y the curve follows,
// which standards spread over a wide range make close to 1 whether or not
// the curve is right: the tests and the back-calculation judge a calibration.
#include "verdicts/correlation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvex::lab {

Correlation correlation(const FitRecord& f) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = f.n();
  double sw = 0.0, swy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w2 = f.w[i] * f.w[i];
    sw += w2;
    swy += w2 * f.y[i];
  }
  const double ybar = swy / sw;
  double tot = 0.0, res = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w2 = f.w[i] * f.w[i];
    const double d = f.y[i] - ybar;
    tot += w2 * (d * d);
    res += f.wres[i] * f.wres[i];
  }
  if (!(tot > 0.0)) return {kNaN, kNaN};
  // The curve contains the constant, so res <= tot: a negative 1 - res/tot
  // is rounding (a constant curve, r^2 = 0).
  const double r2 = std::max(1.0 - res / tot, 0.0);
  double r = std::sqrt(r2);
  if (f.ncoef == 2 && f.coef[1] < 0.0) r = -r;
  return {r, r2};
}

}  // namespace quorvex::lab
