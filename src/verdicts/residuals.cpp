// Residual diagnostics of a weighted least-squares fit.
//
// With the weighted design A = diag(W) G and C = (A'A)^-1, the hat matrix
// H = A C A' has the diagonal h_i = W_i^2 g_i' C g_i; the weighted residual
// r_i = W_i e_i has variance sigma^2 (1 - h_i).  Hence (Belsley, Kuh and
// Welsch 1980; Cook and Weisberg 1982):
//   internally studentized  t_i = r_i / (s sqrt(1 - h_i)),  s^2 = chi2/dof;
//   externally studentized  r_i / (s_(i) sqrt(1 - h_i)), s_(i)^2 the scatter
//     of the refit without standard i, (chi2 - r_i^2/(1 - h_i)) / (dof - 1):
//     Student's t with dof - 1 under the model;
//   Cook's distance         D_i = t_i^2 h_i / (ncoef (1 - h_i)).
// With stated uncertainties the normalized residual r_i / sqrt(1 - h_i) is
// N(0, 1).  The largest of n statistics is tested at the two-sided
// Bonferroni level alpha/n (ISO 5725-2's single-outlier logic with the
// multiplicity of the standards); errors in variables tests 2n statistics.
#include "verdicts/residuals.h"

#include <cmath>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double one_minus(double h) { return h < kPinnedLeverage ? 1.0 - h : kNaN; }
}  // namespace

void leverages(const FitRecord& f, double* h) {
  const std::size_t n = f.n();
  if (!f.ordinary()) {
    for (std::size_t i = 0; i < n; ++i) h[i] = kNaN;
    return;
  }
  std::vector<double> g(static_cast<std::size_t>(f.ncoef));
  for (std::size_t i = 0; i < n; ++i) {
    basis_row(f.ncoef, f.xmin, f.xmax, f.x[i], g.data());
    h[i] = f.w[i] * f.w[i] * quad_form(g.size(), f.cov, g.data());
  }
}

void studentized(const FitRecord& f, const double* h, bool external, double* out) {
  const std::size_t n = f.n();
  for (std::size_t i = 0; i < n; ++i) {
    const double r = f.wres[i];
    const double one_h = one_minus(h[i]);
    double s2;
    if (!external) {
      s2 = f.ndof > 0 ? f.chi2 / f.ndof : kNaN;
    } else {
      s2 = f.ndof > 1 ? (f.chi2 - r * r / one_h) / (f.ndof - 1) : kNaN;
      if (!(s2 > 0.0)) s2 = kNaN;
    }
    out[i] = r / std::sqrt(s2 * one_h);
  }
}

void cooks_distance(const FitRecord& f, const double* h, const double* t_int, double* d) {
  for (std::size_t i = 0; i < f.n(); ++i) {
    d[i] = t_int[i] * t_int[i] * h[i] / (f.ncoef * (1.0 - h[i]));
  }
}

Statistic residual_statistic(const FitRecord& f, const double* h, const double* t_ext,
                             double* stat, double* statx) {
  const std::size_t n = f.n();
  if (!f.ordinary()) {
    const double s = f.sigma_hat();
    for (std::size_t i = 0; i < n; ++i) {
      stat[i] = f.wres[i] / s;
      statx[i] = f.wresx[i] / s;
    }
    return Statistic::NormalizedY;
  }
  for (std::size_t i = 0; i < n; ++i) statx[i] = kNaN;
  if (f.covkind == 0) {
    for (std::size_t i = 0; i < n; ++i) stat[i] = f.wres[i] / std::sqrt(one_minus(h[i]));
    return Statistic::Normalized;
  }
  for (std::size_t i = 0; i < n; ++i) stat[i] = t_ext[i];
  return Statistic::Studentized;
}

Threshold outlier_threshold(const FitRecord& f, double alpha) {
  const double n = f.npts > 1 ? f.npts : 1;
  if (!f.ordinary()) {
    const double q = alpha / (4 * n);
    if (f.covkind == 0) return {upper_quantile(Dist::Normal, q), ThresholdFrom::Normal, kNaN};
    if (f.ndof < 1) return {kInf, ThresholdFrom::None, kNaN};
    return {upper_quantile(Dist::StudentT, q, f.ndof), ThresholdFrom::StudentT,
            static_cast<double>(f.ndof)};
  }
  const double q = alpha / (2 * n);
  if (f.covkind == 0) return {upper_quantile(Dist::Normal, q), ThresholdFrom::Normal, kNaN};
  if (f.ndof < 2) return {kInf, ThresholdFrom::None, kNaN};
  return {upper_quantile(Dist::StudentT, q, f.ndof - 1), ThresholdFrom::StudentT,
          static_cast<double>(f.ndof - 1)};
}

void outlier_flags(const FitRecord& f, const double* h, const double* cook, const double* stat,
                   const double* statx, double threshold, double cook_limit, int* flags) {
  for (std::size_t i = 0; i < f.n(); ++i) {
    int b = 0;
    if (std::abs(stat[i]) > threshold) b |= kOutlierY;
    if (!f.ordinary()) {
      if (std::abs(statx[i]) > threshold) b |= kOutlierX;
    } else {
      if (cook[i] > cook_limit) b |= kInfluential;
      if (h[i] >= kPinnedLeverage && f.ndof > 0) b |= kPinned;
    }
    flags[i] = b;
  }
}

}  // namespace quorvex::lab
