// Samples read back off a curve whose weights came from a fitted variance
// model.
//
// u(y) is the model's scatter at the sample, sigma(x^) / sqrt(m) for the mean
// of m readings (sigma(y) for the power of the mean); u(x)^2 = (g' C g +
// u(y)^2) / p'(x)^2 as for any reading (GUM 5.1.2).  Both parts are
// estimated through the model's parameters theta: V(theta) = g' C g +
// sigma^2(x^) / m with g' C g = sum_j (g' C G_j)^2 / sigma_j^2 (the fit's
// weights held), and their degrees of freedom are Satterthwaite's,
//     nu = 2 V^2 / (dV/dtheta' Cov(theta) dV/dtheta)
// (Satterthwaite, Biometrics Bulletin 1946; GUM G.4.1 is its special case of
// independent parts).  For the constant model this is the pooled variance's
// sum of nu_g.  k is Student's t with nu (GUM G.3), U = k u(x), and the
// inversion interval is formed with that k.
#include <cmath>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"
#include "numeric/colmajor.h"
#include "quorvex_lab.h"
#include "reading/inversion_interval.h"
#include "reading/readback.h"
#include "stats/distributions.h"
#include "variance/variance_model.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

double model_dof(const VarianceModel& m, const ModelStandards& st, int ncoef, const double* cov,
                 double xmin, double xmax, double x, double mu, double repl) {
  const std::size_t nc = count(ncoef);
  std::vector<double> g(nc), gj(nc), cg(nc, 0.0);
  basis_row(ncoef, xmin, xmax, x, g.data());
  for (std::size_t k = 0; k < nc; ++k)
    for (std::size_t l = 0; l < nc; ++l) cg[k] += cov[k + l * nc] * g[l];
  double v = 0.0, dv[2] = {0.0, 0.0}, z[2];
  for (std::size_t j = 0; j < count(st.n); ++j) {
    basis_row(ncoef, xmin, xmax, st.x[j], gj.data());
    double l = 0.0;
    for (std::size_t k = 0; k < nc; ++k) l += cg[k] * gj[k];
    const double s2 = variance_at(m, st.x[j], st.mu[j], z);
    const double c = l * l / (s2 * s2);  // (g' C G_j / sigma_j^2)^2
    v += c * s2;
    dv[0] += c * z[0];
    dv[1] += c * z[1];
  }
  const double s2 = variance_at(m, x, mu, z);
  v += s2 / repl;
  dv[0] += z[0] / repl;
  dv[1] += z[1] / repl;
  return satterthwaite(m, v, dv);
}

int variance_readback(const FittedCurve& c, const VarianceModel& m, const ModelStandards& st,
                      const Standards& s, const ReadRequest& r, const ReadResults& out) {
  if (const int e = check_model(m); e != QVXL_OK) return e;
  if (st.n < 1 || r.npts < 1) return QVXL_BAD_COUNT;
  const std::size_t n = count(r.npts);
  for (std::size_t i = 0; i < n; ++i)
    if (!(r.repl[i] >= 1.0) || std::isinf(r.repl[i])) return QVXL_BAD_VALUE;
  for (std::size_t j = 0; j < count(st.n); ++j) {
    double z[2];
    const double v = variance_at(m, st.x[j], st.mu[j], z);
    if (!std::isfinite(st.x[j]) || !std::isfinite(st.mu[j]) || !(v > 0.0) || std::isinf(v))
      return QVXL_VAR_ZERO_AT_STANDARD;
  }
  FittedCurve cs = c;
  cs.covkind = 0;
  cs.stated = true;
  cs.weighting = 0;

  // The roots alone first: u(y) depends on where the sample lies.
  const std::size_t rows = count(c.ncoef - 1);
  std::vector<double> uy(n, 0.0);
  {
    ReadRequest r2 = r;
    r2.uymode = 2;
    const int e = READBACK(cs, s, r2, out);
    if (e != QVXL_OK) return e;
  }
  PointEval at(CurveRef{c.ncoef, c.coef, c.cov, c.xmin, c.xmax});
  const double p_lo = at.value(c.xmin), p_hi = at.value(c.xmax);
  std::vector<double> xs(n);
  for (std::size_t i = 0; i < n; ++i) {
    double x = out.nroot[i] > 0 ? out.roots[i * rows] : kNaN;
    if (std::isnan(x)) x = std::abs(r.y[i] - p_lo) <= std::abs(r.y[i] - p_hi) ? c.xmin : c.xmax;
    xs[i] = x;
    double z[2];
    const double v = variance_at(m, x, r.y[i], z);
    uy[i] = std::sqrt(v / r.repl[i]);
    if (!std::isfinite(uy[i])) uy[i] = 0.0;
  }
  ReadRequest r0 = r;
  r0.uymode = 0;
  r0.uy = uy.data();
  if (const int e = READBACK(cs, s, r0, out); e != QVXL_OK) return e;

  InversionInterval inv(CurveRef{c.ncoef, c.coef, c.cov, c.xmin, c.xmax});
  for (std::size_t i = 0; i < n; ++i) {
    out.uysrc[i] = QVXL_UYSRC_MODEL;
    if (out.nroot[i] == 0) continue;
    const double nu =
        model_dof(m, st, c.ncoef, c.cov, c.xmin, c.xmax, xs[i], r.y[i], r.repl[i]);
    out.dof[i] = nu;
    out.k[i] = coverage_factor(r.level, nu);
    out.U[i] = out.k[i] * out.uroots[i * rows];
    out.low[i] = out.high[i] = kNaN;
    out.flags[i] &= ~QVXL_FLAG_INTERVAL_OPEN;
    if (std::isfinite(out.k[i])) {
      inv(r.y[i], xs[i], out.k[i], uy[i] * uy[i], out.low[i], out.high[i]);
      if (out.low[i] <= c.xmin || out.high[i] >= c.xmax) out.flags[i] |= QVXL_FLAG_INTERVAL_OPEN;
    }
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
