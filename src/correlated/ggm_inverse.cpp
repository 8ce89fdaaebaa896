// Inverse prediction with the joint covariance of the results (GUM 5.2,
// first order; ISO/TS 28037:2010 clause 11 for the straight line).
//
// Sample s with response y_s is read off the curve at its first root x_s of
// p(x) = y_s in [xmin, xmax].  To first order
//   dx_s = (dy_s - g_s' dc) / p'(x_s),
// g_s the basis row at x_s.  The coefficients' errors are dc = K dz (K the fit's
// gain, z the standards' (x, y)), so a sample that shares an error source with
// the standards (an instrument's drift, a common stock) carries the
// covariance Cov(z, y_s) = CZS(., s) into its result:
//   Cov(x_s, x_t) p'_s p'_t = VS_st - g_s' K CZS_.t - g_t' K CZS_.s + g_s' C g_t.
// Without a shared part the middle terms vanish; with the correlations
// ignored, VS's off-diagonal terms too.  Results without a root are
// NaN with their row and column of the covariance.
#include "correlated/ggm_inverse.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"
#include "inverse/ipval.h"
#include "numeric/colmajor.h"
#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kGrid = 100;
}  // namespace

int GGM_INVERSE(const GgmInverseInput& in, double* x, double* covx, double* ux) {
  if (in.ncoef < 2 || in.ncoef > 10) return QVXL_BAD_NCOEF;
  if (!(std::isfinite(in.xmin) && std::isfinite(in.xmax) && in.xmin < in.xmax))
    return QVXL_BAD_INTERVAL;
  if (in.m < 1 || (in.shared && in.nstd < 1)) return QVXL_BAD_COUNT;
  const int p = in.ncoef, m = in.m;
  const std::size_t mm = count(m) * count(m);
  for (int k = 0; k < p; ++k)
    if (!std::isfinite(in.coef[k])) return QVXL_BAD_VALUE;
  for (int k = 0; k < p * p; ++k)
    if (!std::isfinite(in.cov[k])) return QVXL_BAD_VALUE;
  for (int s = 0; s < m; ++s)
    if (!std::isfinite(in.ys[s])) return QVXL_BAD_VALUE;
  for (std::size_t k = 0; k < mm; ++k)
    if (!std::isfinite(in.vs[k])) return QVXL_BAD_VALUE;
  const std::size_t nz = 2 * count(in.nstd);
  if (in.shared) {
    for (std::size_t k = 0; k < nz * count(p); ++k)
      if (!std::isfinite(in.gain[k])) return QVXL_BAD_VALUE;
    for (std::size_t k = 0; k < nz * count(m); ++k)
      if (!std::isfinite(in.czs[k])) return QVXL_BAD_VALUE;
  }
  ColMajor<const double> VS(in.vs, m);
  for (int s = 0; s < m; ++s)
    if (!(VS(s, s) >= 0.0)) return QVXL_BAD_VALUE;

  // Roots, basis rows G (p x m) and slopes.
  const CurveRef c{p, in.coef, in.cov, in.xmin, in.xmax};
  PointEval ev(c);
  std::vector<double> g(count(p) * count(m), 0.0), slope(count(m), kNaN),
      roots(count(p - 1));
  for (int s = 0; s < m; ++s) {
    int nroot = 0;
    IPVAL_ROOTS(p, in.coef, 1, &in.ys[s], in.xmin, in.xmax, kGrid, 0.0, &nroot, roots.data());
    x[s] = nroot > 0 ? roots[0] : kNaN;
    if (nroot > 0) {
      basis_row(p, in.xmin, in.xmax, x[s], &g[count(s) * count(p)]);
      slope[s] = ev.slope(x[s]);
    }
  }
  // H = K CZS (p x m).
  std::vector<double> h(count(p) * count(m), 0.0);
  if (in.shared) {
    ColMajor<const double> K(in.gain, p), Z(in.czs, static_cast<std::ptrdiff_t>(nz));
    for (int s = 0; s < m; ++s)
      for (int a = 0; a < p; ++a) {
        double t = 0.0;
        for (std::size_t k = 0; k < nz; ++k) t += K(a, static_cast<std::ptrdiff_t>(k)) * Z(k, s);
        h[count(s) * count(p) + count(a)] = t;
      }
  }
  ColMajor<const double> C(in.cov, p);
  ColMajor<double> X(covx, m);
  bool consistent = true;
  for (int t = 0; t < m; ++t)
    for (int s = 0; s < m; ++s) {
      if (std::isnan(x[s]) || std::isnan(x[t])) {
        X(s, t) = kNaN;
        continue;
      }
      const double* gs = &g[count(s) * count(p)];
      const double* gt = &g[count(t) * count(p)];
      const double* hs = &h[count(s) * count(p)];
      const double* ht = &h[count(t) * count(p)];
      double cc = 0.0, sh = 0.0;
      for (int a = 0; a < p; ++a) {
        double w = 0.0;
        for (int b = 0; b < p; ++b) w += C(a, b) * gt[b];
        cc += gs[a] * w;
        sh += gs[a] * ht[a] + gt[a] * hs[a];
      }
      const double vst = in.diagonal && s != t ? 0.0 : VS(s, t);
      X(s, t) = (vst - sh + cc) / (slope[s] * slope[t]);
    }
  for (int s = 0; s < m; ++s) {
    const double v = X(s, s);
    if (v < 0.0) consistent = false;
    ux[s] = v >= 0.0 ? std::sqrt(v) : kNaN;
  }
  return consistent ? QVXL_OK : QVXL_GGM_INCONSISTENT;
}

int GGM_SHARED(int nstd, int m, int nsrc, const double* ustd, const double* usmp,
               const double* uyind, double* vs, double* czs) {
  if (nstd < 1 || m < 1 || nsrc < 0) return QVXL_BAD_COUNT;
  const std::size_t nz = 2 * count(nstd), mm = count(m), ns = count(nsrc);
  for (std::size_t k = 0; k < nz * ns; ++k)
    if (!std::isfinite(ustd[k])) return QVXL_BAD_VALUE;
  for (std::size_t k = 0; k < mm * ns; ++k)
    if (!std::isfinite(usmp[k])) return QVXL_BAD_VALUE;
  for (std::size_t s = 0; s < mm; ++s)
    if (!(uyind[s] >= 0.0) || !std::isfinite(uyind[s])) return QVXL_BAD_VALUE;
  for (std::size_t t = 0; t < mm; ++t) {
    for (std::size_t s = 0; s < mm; ++s) {
      double v = s == t ? uyind[s] * uyind[s] : 0.0;
      for (std::size_t k = 0; k < ns; ++k) v += usmp[k * mm + s] * usmp[k * mm + t];
      vs[t * mm + s] = v;
    }
    for (std::size_t i = 0; i < nz; ++i) {
      double v = 0.0;
      for (std::size_t k = 0; k < ns; ++k) v += ustd[k * nz + i] * usmp[k * mm + t];
      czs[t * nz + i] = v;
    }
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
