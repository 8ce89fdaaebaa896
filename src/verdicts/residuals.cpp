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
// multiplicity of the standards).
//
// Errors in variables (generalized distance regression, ISO/TS 28037 7): the
// fit adjusts each standard's x to xi_i, leaving the normalized residuals
// a_i = (x_i - xi_i)/u(x_i) and b_i = W_i (y_i - p(xi_i)).  Eliminating xi_i
// leaves one residual per standard, the combined normalized residual
// r_i = sign(b_i) sqrt(a_i^2 + b_i^2) (chi2 = sum r_i^2), whose Jacobian with
// respect to the coefficients is -W'_i g(xi_i) with the effective weight
// W'_i = 1 / sqrt(u(y_i)^2 + p'(xi_i)^2 u(x_i)^2).  At the minimum
// a_i = -p'(xi_i) u(x_i) W_i b_i, so that W'_i = W_i |b_i| / |r_i| without
// u(x), and xi_i is the root of p(xi) = y_i - b_i / W_i next to x_i.  The
// leverage is h_i = W'_i^2 g(xi_i)' C g(xi_i), C the fit's unscaled
// coefficient covariance (the inverse of the reduced J'J, sum h_i = ncoef),
// and r_i / sqrt(1 - h_i) is tested as the ordinary fit's residual is.
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

// The adjusted x of an errors-in-variables standard: the root of
// p(xi) = target next to x by Newton's steps (x itself where they fail).
double adjusted_x(PointEval& p, double x, double target) {
  const double width = p.curve().xmax - p.curve().xmin;
  double xi = x;
  for (int it = 0; it < 50; ++it) {
    const double s = p.slope(xi);
    if (!(s != 0.0) || !std::isfinite(s)) return x;
    const double step = (p.value(xi) - target) / s;
    if (!std::isfinite(step)) return x;
    xi -= step;
    if (std::abs(step) <= 1e-15 * (std::abs(xi) + width)) break;
  }
  return std::isfinite(xi) && std::abs(xi - x) <= width ? xi : x;
}
}  // namespace

double combined_residual(const FitRecord& f, std::size_t i) {
  if (f.ordinary()) return f.wres[i];
  const double r = std::hypot(f.wres[i], f.wresx[i]);
  return f.wres[i] < 0.0 ? -r : r;
}

void leverages(const FitRecord& f, double* h) {
  const std::size_t n = f.n();
  std::vector<double> g(static_cast<std::size_t>(f.ncoef));
  PointEval p(CurveRef{f.ncoef, f.coef, nullptr, f.xmin, f.xmax});
  for (std::size_t i = 0; i < n; ++i) {
    double at = f.x[i], w = f.w[i];
    if (!f.ordinary()) {
      at = adjusted_x(p, f.x[i], f.y[i] - f.wres[i] / f.w[i]);
      const double r = std::abs(combined_residual(f, i));
      if (r > 0.0) w *= std::abs(f.wres[i]) / r;
    }
    basis_row(f.ncoef, f.xmin, f.xmax, at, g.data());
    h[i] = w * w * quad_form(g.size(), f.cov, g.data());
  }
}

void studentized(const FitRecord& f, const double* h, bool external, double* out) {
  const std::size_t n = f.n();
  for (std::size_t i = 0; i < n; ++i) {
    const double r = combined_residual(f, i);
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
  for (std::size_t i = 0; i < n; ++i) statx[i] = kNaN;
  if (f.covkind == 0) {
    for (std::size_t i = 0; i < n; ++i)
      stat[i] = combined_residual(f, i) / std::sqrt(one_minus(h[i]));
    return f.ordinary() ? Statistic::Normalized : Statistic::CombinedNormalized;
  }
  for (std::size_t i = 0; i < n; ++i) stat[i] = t_ext[i];
  return f.ordinary() ? Statistic::Studentized : Statistic::CombinedStudentized;
}

Threshold outlier_threshold(const FitRecord& f, double alpha) {
  const double n = f.npts > 1 ? f.npts : 1;
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
    if (std::abs(statx[i]) > threshold) b |= kOutlierX;  // NaN: never
    if (cook[i] > cook_limit) b |= kInfluential;           // NaN for errors in variables
    if (h[i] >= kPinnedLeverage && f.ndof > 0) b |= kPinned;
    flags[i] = b;
  }
}

}  // namespace quorvex::lab
