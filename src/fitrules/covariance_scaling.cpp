// The size of the coefficients' covariance.
//
// The fit's covariance C = (A'A)^-1 takes the weights as exact (stated
// uncertainties: GUM 5.1).  Where they state only relative sizes (unit weights
// or a weighting preset), the scatter is estimated from the residuals:
// s^2 = chi2 / nu with nu = n - ncoef degrees of freedom, and the covariance
// used is C s^2.  With nu = 0 the residuals say nothing about the scatter:
// the scaled covariance is NaN throughout rather than 0.
#include "fitrules/covariance_scaling.h"

#include <cmath>
#include <limits>

namespace quorvex::lab {

bool scaled_covariance(int ncoef, const double* cov, double sres, int dof, double* out) {
  const std::size_t m = static_cast<std::size_t>(ncoef) * static_cast<std::size_t>(ncoef);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (dof == 0) {
    for (std::size_t i = 0; i < m; ++i) out[i] = nan;
    return true;
  }
  const double s2 = sres * sres;
  bool cov_finite = true, out_finite = true;
  for (std::size_t i = 0; i < m; ++i) {
    out[i] = cov[i] * s2;
    cov_finite = cov_finite && std::isfinite(cov[i]);
    out_finite = out_finite && std::isfinite(out[i]);
  }
  if (!std::isfinite(s2) || (cov_finite && !out_finite)) {
    for (std::size_t i = 0; i < m; ++i) out[i] = nan;
    return false;
  }
  return true;
}

double chi2(std::size_t n, const double* a, const double* b) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += a[i] * a[i];
  if (b == nullptr) return s;
  double t = 0.0;
  for (std::size_t i = 0; i < n; ++i) t += b[i] * b[i];
  return s + t;
}

}  // namespace quorvex::lab
