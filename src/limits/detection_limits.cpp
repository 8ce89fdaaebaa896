// Detection and quantification limits of a calibration.
//
// ICH Q2(R1): LOD = 3.3 sigma / S and LOQ = 10 sigma / S, sigma = SRES / W
// (the scatter of one reading under the fit's weights) and S = |p'(x)|, both
// at the lowest standard.
//
// ISO 11843-2, at the blank x0, from the prediction band there:
//   s0^2 = u(p(x0))^2 + sigma0^2 / K   (K readings averaged per sample),
//   y_C = p(x0) + k_(1-alpha) s0        (critical value of the response),
//   x_C = p^-1(y_C) - x0,  x_D = p^-1(p(x0) + delta s0) - x0,
// k one-sided: Student's t with the fit's degrees of freedom under the scaled
// covariance, the normal under the stated one; delta = k_(1-alpha) +
// k_(1-beta) (normal), or the non-centrality of the t with
// P(t'(nu, delta) <= t_(1-alpha)) = beta (limits/noncentral_delta.cpp).
// p^-1 is the root nearest x0; the sign follows the curve's slope at x0.
// A blank outside the interval is reached on the curve extended by at most a
// quarter of the interval's width (limits/extended_roots.cpp); farther is
// refused.  DIN 32645's LOQ: limits/loq_din.cpp.
//
// sigma0, the scatter of one reading of the blank, comes from data about the
// blank: u_blank where given (exact; or estimated from readings of blanks, or
// a variance model's floor a of sigma^2 = a^2 + b^2 x^2, each with its
// degrees of freedom); else that of the standards at the blank; else the
// stated u(y) of the standards where they are all equal, or the residual
// scatter where the fit states it is the same at every x.  Under a 1/x or
// 1/x2 weighting without any of these the model predicts no scatter at the
// blank and nothing else tells it: the limits at the blank are not computed
// (NaN, source 0), rather than borrowed from the lowest standard, whose
// scatter may lie far above the blank's (a new blank then exceeds y_C far
// more often than alpha).
// Where sigma0 is estimated with nu0 degrees of freedom, k and delta take the
// Welch-Satterthwaite degrees of freedom of s0 (GUM G.4.1):
//   nu = s0^4 / (u(p(x0))^4 / nu_c + (sigma0^2 / K)^2 / nu0),
// nu_c the curve's (the fit's under the scaled covariance, +inf stated).
#include "limits/detection_limits.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "curvestats/curve_point.h"
#include "limits/extended_roots.h"
#include "limits/loq_din.h"
#include "limits/noncentral_delta.h"
#include "numeric/colmajor.h"
#include "quorvex_lab.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {

int check(const LimitsCurve& c, const LimitsRequest& r) {
  if (c.ncoef < 2 || c.ncoef > 10) return QVXL_BAD_NCOEF;
  if (!(c.xmin < c.xmax) || !std::isfinite(c.xmin) || !std::isfinite(c.xmax))
    return QVXL_BAD_INTERVAL;
  if (c.nstd < 1 || r.replicates < 1) return QVXL_BAD_COUNT;
  if (c.covkind < 0 || c.covkind > 1 || c.weighting < 0 || c.weighting > 2)
    return QVXL_BAD_CODE;
  if (!(r.alpha > 0.0 && r.alpha < 0.5) || !(r.beta > 0.0 && r.beta < 0.5) ||
      !std::isfinite(r.blank) || !(r.k_loq > 0.0) || std::isinf(r.k_loq) || c.ndof < 0 ||
      !(c.sres >= 0.0) || std::isinf(c.sres))
    return QVXL_BAD_VALUE;
  if (r.has_u_blank && (r.u_blank_kind < 1 || r.u_blank_kind > 3)) return QVXL_BAD_CODE;
  if (r.has_u_blank && (!(r.u_blank >= 0.0) || std::isinf(r.u_blank))) return QVXL_BAD_VALUE;
  if (r.has_u_blank && r.u_blank_kind > 1 && !(r.u_blank_dof > 0.0) &&
      !(r.u_blank_kind == 3 && r.u_blank == 0.0))
    return QVXL_BAD_VALUE;
  for (std::size_t i = 0; i < count(c.nstd); ++i) {
    if (!std::isfinite(c.x[i]) || !(c.w[i] > 0.0) || std::isinf(c.w[i])) return QVXL_BAD_VALUE;
    if (c.stated && (!(c.uy[i] > 0.0) || std::isinf(c.uy[i]))) return QVXL_BAD_VALUE;
  }
  return QVXL_OK;
}

// sqrt(mean(sq_i)) over the standards where pick(i).
template <class V, class P>
double rms(std::size_t n, V sq, P pick) {
  double s = 0.0;
  int m = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!pick(i)) continue;
    s += sq(i);
    ++m;
  }
  return std::sqrt(s / m);
}

}  // namespace

int LIMITS(const LimitsCurve& c, const LimitsRequest& r, LimitsResult& out) {
  if (const int st = check(c, r); st != QVXL_OK) return st;
  const std::size_t n = count(c.nstd);
  const double width = c.xmax - c.xmin;
  const double x0 = r.blank;
  const bool extrapolated = !(c.xmin <= x0 && x0 <= c.xmax);
  if (extrapolated &&
      !(c.xmin - kBlankExtend * width <= x0 && x0 <= c.xmax + kBlankExtend * width))
    return QVXL_LIM_BLANK_FAR;
  PointEval at(CurveRef{c.ncoef, c.coef, c.cov, c.xmin, c.xmax});

  // ICH: sigma and slope at the lowest standard.
  double xl = c.x[0];
  for (std::size_t i = 1; i < n; ++i) xl = std::min(xl, c.x[i]);
  auto lowest = [&](std::size_t i) { return c.x[i] == xl; };
  const double sigma_hat = c.covkind == 0 ? 1.0 : c.sres;
  auto sd_std2 = [&](std::size_t i) {
    const double s = sigma_hat / c.w[i];
    return s * s;
  };
  const double sigma =
      c.sres * rms(n, [&](std::size_t i) { return 1.0 / (c.w[i] * c.w[i]); }, lowest);
  const double s_low = std::abs(at.slope(xl));
  const double lod = 3.3 * sigma / s_low, loq = 10.0 * sigma / s_low;

  // The blank's scatter.
  bool equal_uy = true;
  for (std::size_t i = 1; c.stated && i < n; ++i) equal_uy = equal_uy && c.uy[i] == c.uy[0];
  double sigma0;
  int source;
  bool at_blank = false;
  for (std::size_t i = 0; i < n; ++i) at_blank = at_blank || c.x[i] == x0;
  double nu0 = std::numeric_limits<double>::infinity();
  if (r.has_u_blank && r.u_blank_kind == 3 && !(r.u_blank > 0.0)) {
    // A variance model without a floor (or whose fitted floor is 0) tells
    // nothing about the blank's scatter.
    sigma0 = std::numeric_limits<double>::quiet_NaN();
    source = kBlankNone;
  } else if (r.has_u_blank) {
    sigma0 = r.u_blank;
    source = r.u_blank_kind == 2 ? kBlankReadings
                                 : r.u_blank_kind == 3 ? kBlankModel : kBlankGiven;
    if (r.u_blank_kind > 1) nu0 = r.u_blank_dof;
  } else if (at_blank) {
    sigma0 = rms(n, sd_std2, [&](std::size_t i) { return c.x[i] == x0; });
    source = kBlankStandards;
  } else if (c.weighting != 0) {
    sigma0 = std::numeric_limits<double>::quiet_NaN();
    source = kBlankNone;
  } else if (c.stated) {
    if (!equal_uy) return QVXL_LIM_BLANK_UNKNOWN;
    sigma0 = c.uy[0] * sigma_hat;
    source = kBlankStatedUy;
  } else {
    sigma0 = 1.0 * sigma_hat;
    source = kBlankResidual;
  }

  // ISO 11843-2 at the blank.
  const double y0 = at.value(x0);
  const double u0 = std::sqrt(at.variance(x0));
  const double s0 = std::sqrt(u0 * u0 + sigma0 * sigma0 / r.replicates);
  if (c.covkind == 1 && c.ndof == 0) return QVXL_LIM_NO_DOF;
  const double nu_c = c.covkind == 1 ? static_cast<double>(c.ndof)
                                     : std::numeric_limits<double>::infinity();
  double nu = nu_c;
  if (std::isfinite(nu0)) {
    const double v0 = sigma0 * sigma0 / r.replicates, uc2 = u0 * u0;
    const double denom = (std::isfinite(nu_c) ? uc2 * uc2 / nu_c : 0.0) + v0 * v0 / nu0;
    nu = denom > 0.0 ? (uc2 + v0) * (uc2 + v0) / denom : nu_c;
  }
  const double k_a = quantile(Dist::StudentT, 1.0 - r.alpha, nu);
  const double delta = std::isinf(nu) ? k_a + quantile(Dist::Normal, 1.0 - r.beta)
                                      : noncentral_delta(nu, k_a, r.beta);
  const double sgn = at.slope(x0) >= 0.0 ? 1.0 : -1.0;
  const double yc = y0 + sgn * k_a * s0;
  const double yd = y0 + sgn * delta * s0;
  const CurveRef& cr = at.curve();
  const bool known = source != kBlankNone;
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const double xc = !known         ? kNaN
                    : extrapolated ? root_near_extended(at, yc, x0)
                                   : root_near(cr, yc, x0);
  const double xd = !known         ? kNaN
                    : extrapolated ? root_near_extended(at, yd, x0)
                                   : root_near(cr, yd, x0);

  // DIN 32645's LOQ.
  ReadingScatter rs;
  rs.sigma0 = sigma0;
  rs.fixed = r.has_u_blank || (c.stated && !equal_uy);
  rs.base = c.stated ? c.uy[0] : 1.0;
  rs.weighting = c.stated ? 0 : c.weighting;
  rs.sigma_hat = sigma_hat;
  const double k2 = coverage_factor(1.0 - r.alpha, nu);
  const double xq = loq_din(at, x0, rs, r.replicates, k2, r.k_loq);

  out = LimitsResult{sigma, s_low, lod,     loq,     sigma0, s0, yc, xc - x0, xd - x0,
                     k_a,   delta, xq,      source,  extrapolated ? 1 : 0};
  return QVXL_OK;
}

}  // namespace quorvex::lab
