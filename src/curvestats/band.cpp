// Confidence and prediction bands of a calibration curve.
//
// Confidence band: p(x) -+ k u(p(x)), u(p(x))^2 = g(x)' C g(x) (GUM 5.1.2).
// Prediction band for one new response: p(x) -+ k sqrt(u(p(x))^2 + s_r(x)^2),
// s_r the response's standard deviation (ISO 8466-1; Draper & Smith 1.4).
// k: the two-sided quantile of Student's t with the fit's nu = n - ncoef
// degrees of freedom where C was scaled by the residual scatter (its size is
// an estimate with nu degrees of freedom), of the normal distribution where C
// comes from stated uncertainties (GUM G.3, G.6.6).
#include "curvestats/band.h"

#include <cmath>
#include <limits>

#include "curvestats/curve_values.h"
#include "reading/readback.h"
#include "stats/distributions.h"

namespace quorvex::lab {

double band_coverage_factor(int covkind, int dof, double level, int sided) {
  const double q = sided == 2 ? (1.0 + level) / 2.0 : level;
  if (covkind == 1) {
    if (dof <= 0) return std::numeric_limits<double>::quiet_NaN();
    return quantile(Dist::StudentT, q, static_cast<double>(dof));
  }
  return quantile(Dist::Normal, q);
}

double response_sd(int weighting, bool has_ustd, double ustd, int covkind, double sres, double x) {
  // The "1/x" model's variance grows like x: it states no scatter below x = 0.
  if (!has_ustd && weighting == 1 && x < 0.0) return std::numeric_limits<double>::quiet_NaN();
  const double base = has_ustd ? ustd : response_scale(weighting, x);
  return base * (covkind == 1 ? sres : 1.0);
}

void band(const double* coef, const double* cov, int ncoef, double xmin, double xmax, int kind,
          double k, int npts, const double* x, const double* rsd, double* y, double* u,
          double* lower, double* upper) {
  curve_values(CurveRef{ncoef, coef, cov, xmin, xmax}, kWantValue | kWantUncertainty, false, npts,
               x, y, nullptr, u);
  for (int i = 0; i < npts; ++i) {
    if (kind == 1) u[i] = std::sqrt(u[i] * u[i] + rsd[i] * rsd[i]);
    lower[i] = y[i] - k * u[i];
    upper[i] = y[i] + k * u[i];
  }
}

}  // namespace quorvex::lab
