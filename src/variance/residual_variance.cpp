// Variance models fitted to the residuals of the curve, for standards without
// replicates.
//
// Each standard's residual r_i of a weighted fit with leverage h_i has
// variance sigma_i^2 (1 - h_i) (weights held), so s_i^2 = r_i^2 / (1 - h_i)
// estimates sigma_i^2 with about one degree of freedom.  The model is fitted
// to these as to replicate groups of nu = 1 (variance_model.cpp), the curve
// refitted with the weights 1/sigma_i, and the two steps repeated (three
// cycles: Carroll & Ruppert, Transformation and Weighting in Regression, 1988,
// 3.3, who find two or three enough; Davidian & Carroll, JASA 82 (1987) 1079).
// The residuals hold n - p degrees of freedom, not n: the parameters'
// covariance is scaled by n / (n - p), so that the constant model's a^2
// carries the fit's n - p, and NDOF reports n - p.  mu, for the power of the
// mean, is the fitted curve at each standard.
#include "variance/residual_variance.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "curvestats/curve_point.h"
#include "numeric/colmajor.h"
#include "ols/olspfit.h"
#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {
constexpr int kCycles = 3;
}

int variance_fit_residuals(int n, const double* x, const double* y, int ncoef, int kind,
                           double alpha, VarianceChoice& out, double* sd, double* mu) {
  if (ncoef < 1 || ncoef > 10) return QVXL_BAD_NCOEF;
  const std::size_t m = count(n);
  if (n < ncoef + 2) return QVXL_VAR_FEW_REPLICATES;
  double xmin = x[0], xmax = x[0];
  for (std::size_t i = 1; i < m; ++i) xmin = std::min(xmin, x[i]), xmax = std::max(xmax, x[i]);
  if (!(xmin < xmax)) return QVXL_BAD_INTERVAL;
  const std::size_t nc = count(ncoef);
  std::vector<double> w(m, 1.0), coef(nc), cov(nc * nc), yf(m), r(m), wr(m), g(nc);
  std::vector<ReplicateGroup> groups(m);
  VarianceChoice c;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    double sres = 0.0, wmax = 0.0;
    int st = 0;
    OLSPFIT(n, x, y, w.data(), ncoef, xmin, xmax, coef.data(), cov.data(), sres, yf.data(),
            r.data(), wr.data(), wmax, st);
    if (st != 0) return QVXL_FIT_OLS_FAILED;
    for (std::size_t i = 0; i < m; ++i) {
      basis_row(ncoef, xmin, xmax, x[i], g.data());
      const double h = w[i] * w[i] * quad_form(ncoef, cov.data(), g.data());
      ReplicateGroup& q = groups[i];
      q.x = x[i];
      q.mu = yf[i];
      q.nu = 1;
      q.s2 = h < 1.0 ? r[i] * r[i] / (1.0 - h) : 0.0;
    }
    const int st2 = variance_fit(groups, kind, alpha, c);
    if (st2 != QVXL_OK) return st2;
    for (std::size_t i = 0; i < m; ++i) {
      double z[2];
      const double v = variance_at(c.model, x[i], yf[i], z);
      if (!(v > 0.0) || std::isinf(v)) return QVXL_VAR_ZERO_AT_STANDARD;
      w[i] = 1.0 / std::sqrt(v);
    }
  }
  const double scale = static_cast<double>(n) / static_cast<double>(n - ncoef);
  for (double& v : c.model.cov) v *= scale;
  c.dof = n - ncoef;
  c.groups = n;
  for (std::size_t i = 0; i < m; ++i) {
    sd[i] = 1.0 / w[i];
    mu[i] = yf[i];
  }
  out = c;
  return QVXL_OK;
}

}  // namespace quorvex::lab
