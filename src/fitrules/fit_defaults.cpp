// The fit's defaults chosen from the data.
//
// Interval: the range of the standards' x.  The errors-in-variables fit moves
// each abscissa by a few u(x) and its minimizer tries steps beyond that, so
// its interval is widened on each side by max(10 max u(x), 5 % of the range)
// to keep the adjusted abscissae and the trial points inside.
//
// Tolerances (ISO/TS 28037's generalized fit, solved by Gauss-Newton): the
// minimizer stops when its step P satisfies ||P|| / (n + ncoef) < TOL(1) and
// the residual change of the full step, ||F(X + P) - F(X)|| / (2 n), is below
// TOL(2), F the weighted residuals divided by S = max(max wx, max wy).
// S ||F(X + P) - F(X)|| is the step's length in units of the parameters'
// standard uncertainties, so TOL(2) = 1e-7 / (2 n S) leaves every coefficient
// within about 1e-7 of its standard uncertainty of the converged solution; it
// is raised to 16 times the rounding level of F where that is larger (y - p(x
// - delta) cancels, and x - delta rounds).  TOL(1) = 1e-3 ||(u(x), u(c))|| /
// (n + ncoef) tells an iteration limit with small steps from one far from
// convergence.
#include "fitrules/fit_defaults.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"

namespace quorvex::lab {

void padded_interval(double lo, double hi, bool has_ux, double ux_max, double& xmin,
                     double& xmax) {
  if (!has_ux) {
    xmin = lo;
    xmax = hi;
    return;
  }
  const double pad = std::max(kPadUx * ux_max, kPadRange * (hi - lo));
  xmin = lo - pad;
  xmax = hi + pad;
}

void default_interval(std::size_t n, const double* x, const double* ux, double& xmin,
                      double& xmax) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo, umax = -lo;
  for (std::size_t i = 0; i < n; ++i) {
    lo = std::min(lo, x[i]);
    hi = std::max(hi, x[i]);
    if (ux) umax = std::max(umax, ux[i]);
  }
  padded_interval(lo, hi, ux != nullptr, umax, xmin, xmax);
}

void default_tolerances(std::size_t n, const double* x, const double* y, const double* wx,
                        const double* wy, int ncoef, const double* coef, const double* cov,
                        double xmin, double xmax, double tol[2]) {
  const double eps = std::numeric_limits<double>::epsilon();
  const std::size_t nc = static_cast<std::size_t>(ncoef);
  std::vector<double> d(nc);
  double s = 0.0, round2 = 0.0, ux2 = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    s = std::max({s, wx[i], wy[i]});
    slope_row(ncoef, xmin, xmax, x[i], d.data());
    double slope = 0.0;
    for (std::size_t k = 0; k < nc; ++k) slope += d[k] * coef[k];
    const double scale = wy[i] * (std::abs(y[i]) + std::abs(slope) * std::abs(x[i]));
    round2 += scale * scale;
    ux2 += 1.0 / (wx[i] * wx[i]);
  }
  double uc2 = 0.0;
  for (std::size_t k = 0; k < nc; ++k) uc2 += std::abs(cov[k * nc + k]);
  const double nres = 2.0 * static_cast<double>(n);
  tol[1] = std::max(kResidualRtol, 16.0 * eps * std::sqrt(round2)) / (s * nres);
  tol[0] = kStepRtol * std::sqrt(ux2 + uc2) / static_cast<double>(n + nc);
  if (!(tol[0] > 0.0)) tol[0] = kResidualRtol;
}

}  // namespace quorvex::lab
