// Reading samples back off a fitted curve.
//
// One root search per response (IPVAL's grid and zero finder, its roots to
// the bit), then per response:
//   u(y)     stated; or the scatter of one reading at the sample's x as the
//            fit's weighting model predicts it, SRES / W(x), over sqrt(m)
//            for the mean of m readings -- where the standards' stated u(y)
//            are relative (the covariance scaled by SRES^2), SRES times the
//            sample's own relative u(y), its variance s_yx^2 / w_s with the
//            weight w_s = 1 / u_rel^2 (Massart et al., Handbook of
//            Chemometrics and Qualimetrics A, 8.2.3); or 0 (the curve alone);
//   u(x)^2 = (g' C g + u(y)^2) / p'(x)^2 for every root (GUM 5.1.2), the
//            curve's part u_c^2 = g' C g / p'(x)^2 and the reading's part
//            u_r^2 = u(y)^2 / p'(x)^2;
//   nu       the fit's degrees of freedom where both parts come from its
//            scatter, +inf where both are stated, and where a scaled part
//            meets a stated one Welch-Satterthwaite (GUM G.4.1):
//            nu = u(x)^4 / (u_c^4 / nu_c + u_r^4 / nu_r);
//   k        Student's t with nu at the coverage probability (two-sided),
//            U = k u(x) (GUM 6.2);
//   the inversion interval and the sample flags.
#include "reading/readback.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"
#include "inverse/ipval.h"
#include "inverse/ipval_degree1.h"
#include "numeric/colmajor.h"
#include "quorvex_lab.h"
#include "reading/inversion_interval.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// A root within this share of the interval's width of an end is "at the end".
constexpr double kEndRtol = 1e-9;
// How far beyond its interval (share of the width) the curve may reach x = 0
// for the blank's response.
constexpr double kBlankReach = 0.25;

int check(const FittedCurve& c, const ReadRequest& r) {
  if (c.ncoef < 2 || c.ncoef > 10) return QVXL_BAD_NCOEF;
  if (!(c.xmin < c.xmax) || !std::isfinite(c.xmin) || !std::isfinite(c.xmax))
    return QVXL_BAD_INTERVAL;
  if (r.npts < 1 || r.ngrid < 1) return QVXL_BAD_COUNT;
  if (c.weighting < 0 || c.weighting > 2 || c.covkind < 0 || c.covkind > 1 || r.uymode < 0 ||
      r.uymode > 2)
    return QVXL_BAD_CODE;
  if (r.extrapolate && c.ncoef != 2) return QVXL_BAD_NCOEF;
  if (!(r.level > 0.0 && r.level < 1.0) || !(r.tol >= 0.0) || std::isinf(r.tol) || c.ndof < 0)
    return QVXL_BAD_VALUE;
  const std::size_t n = count(r.npts);
  if (r.uymode == 0) {
    for (std::size_t i = 0; i < n; ++i)
      if (!(r.uy[i] >= 0.0)) return QVXL_BAD_VALUE;
  }
  if (r.uymode == 1) {
    // Stated u(y) that set the scale say nothing of the scatter; stated u(y)
    // scaled by it are relative, and a sample's relative u(y) says where it
    // sits on their scale.
    if (c.stated && c.covkind != 1) return QVXL_UY_STATED_STANDARDS;
    if (c.ndof == 0) return QVXL_UY_NO_DOF;
    for (std::size_t i = 0; i < n; ++i)
      if (!(r.repl[i] >= 1.0) || std::isinf(r.repl[i])) return QVXL_BAD_VALUE;
    if (c.stated) {
      for (std::size_t i = 0; i < n; ++i)
        if (!(r.uy[i] > 0.0) || std::isinf(r.uy[i])) return QVXL_BAD_VALUE;
    }
  }
  return QVXL_OK;
}

}  // namespace

double response_scale(int weighting, double x) {
  if (weighting == 1) return std::sqrt(std::max(x, 0.0));
  if (weighting == 2) return std::abs(x);
  return 1.0;
}

double curve_dof(const FittedCurve& c) {
  return c.covkind == 1 && c.ndof > 0 ? static_cast<double>(c.ndof) : kInf;
}

int READBACK(const FittedCurve& c, const Standards& s, const ReadRequest& r,
             const ReadResults& out) {
  if (const int st = check(c, r); st != QVXL_OK) return st;
  const std::size_t n = count(r.npts);
  const std::size_t rows = static_cast<std::size_t>(c.ncoef) - 1;
  ColMajor<double> xr(out.roots, static_cast<std::ptrdiff_t>(rows));
  ColMajor<double> ur(out.uroots, static_cast<std::ptrdiff_t>(rows));
  std::fill(out.roots, out.roots + rows * n, kNaN);
  std::fill(out.uroots, out.uroots + rows * n, kNaN);

  // Roots.
  if (r.extrapolate) {
    // A straight line in closed form (IPVAL_DEGREE1), also beyond the interval.
    for (std::size_t i = 0; i < n; ++i) {
      out.nroot[i] = 0;
      const double zero = 0.0;
      double x = kNaN, ux = kNaN;
      int st = 0;
      IPVAL_DEGREE1(c.coef, c.cov, 1, r.y + i, &zero, c.xmin, c.xmax, &x, &ux, st);
      if (st == 0 && std::isfinite(x)) {
        out.nroot[i] = 1;
        xr(0, i) = x;
      }
    }
  } else {
    IPVAL_ROOTS(c.ncoef, c.coef, r.npts, r.y, c.xmin, c.xmax, r.ngrid, r.tol, out.nroot,
                out.roots);
  }

  PointEval at(CurveRef{c.ncoef, c.coef, c.cov, c.xmin, c.xmax});
  const double p_lo = at.value(c.xmin), p_hi = at.value(c.xmax);

  // u(y) and where it came from.
  for (std::size_t i = 0; i < n; ++i) {
    if (r.uymode == 0) {
      out.uy[i] = r.uy[i];
      out.uysrc[i] = r.uy[i] > 0.0 ? QVXL_UYSRC_STATED : QVXL_UYSRC_CURVE_ONLY;
    } else if (r.uymode == 2) {
      out.uy[i] = 0.0;
      out.uysrc[i] = QVXL_UYSRC_CURVE_ONLY;
    } else {
      double scale = 1.0;
      if (c.stated) {
        scale = r.uy[i];  // the sample's relative u(y), on the standards' scale
      } else if (c.weighting != 0) {
        // The scatter at the sample's x: its root, or the nearer end of the
        // interval in response where it has none.
        double x = out.nroot[i] > 0 ? xr(0, i) : kNaN;
        if (std::isnan(x)) {
          x = std::abs(r.y[i] - p_lo) <= std::abs(r.y[i] - p_hi) ? c.xmin : c.xmax;
        }
        scale = response_scale(c.weighting, x);
      }
      out.uy[i] = c.sres * scale / std::sqrt(r.repl[i]);
      out.uysrc[i] = QVXL_UYSRC_SCATTER;
    }
  }

  // u(x) on the straight line's closed form.
  if (r.extrapolate) {
    for (std::size_t i = 0; i < n; ++i) {
      if (out.nroot[i] == 0) continue;
      const double vy = out.uy[i] * out.uy[i];
      double x = kNaN;
      int st = 0;
      IPVAL_DEGREE1(c.coef, c.cov, 1, r.y + i, &vy, c.xmin, c.xmax, &x, &ur(0, i), st);
    }
  }

  // u(x) of every root, the parts of the first one's, nu, k and U.
  const double nu_c = curve_dof(c);
  const double nu_r = r.uymode == 1 ? static_cast<double>(c.ndof) : kInf;
  RootUncertainty ru(Curve{c.ncoef, c.coef, c.xmin, c.xmax}, c.cov);
  double k_nu = kNaN, k_last = kNaN;  // the coverage factor of the latest nu
  for (std::size_t i = 0; i < n; ++i) {
    const double vy = out.uy[i] * out.uy[i];
    const int nr = out.nroot[i];
    double uc2 = kNaN, ur2 = kNaN;
    for (int j = 0; j < nr; ++j) {
      double u;
      double vp, slope;
      if (r.extrapolate) {
        u = ur(0, i);
        vp = at.variance(xr(0, i));
        slope = at.slope(xr(0, i));
      } else {
        u = ru(xr(j, i), vy);
        vp = ru.variance();
        slope = ru.slope();
        ur(j, i) = u;
      }
      if (j == 0) {
        const double s2 = slope * slope;
        uc2 = vp / s2;
        ur2 = vy / s2;
      }
    }
    double nu = kNaN;
    if (nr > 0) {
      if (std::isfinite(nu_r) && nu_r == nu_c) {
        nu = nu_c;
      } else {
        const double denom = (std::isfinite(nu_c) ? uc2 * uc2 / nu_c : 0.0) +
                             (std::isfinite(nu_r) ? ur2 * ur2 / nu_r : 0.0);
        nu = denom > 0.0 ? (uc2 + ur2) * (uc2 + ur2) / denom : kInf;
      }
    }
    out.ucurve[i] = std::sqrt(uc2);
    out.dof[i] = nu;
    if (std::isnan(nu)) {
      out.k[i] = kNaN;
    } else {
      if (!(nu == k_nu)) {
        k_nu = nu;
        k_last = coverage_factor(r.level, nu);
      }
      out.k[i] = k_last;
    }
    out.U[i] = out.k[i] * ur(0, i);
  }

  // A covariance scaled by the residual scatter of a fit without degrees of
  // freedom has no size: the roots stand, their uncertainties are unknown,
  // and the flag says why (rather than a silent NaN, or a normal k).
  const bool no_scale = c.covkind == 1 && c.ndof == 0;
  if (no_scale) {
    std::fill(out.uroots, out.uroots + rows * n, kNaN);
    for (std::size_t i = 0; i < n; ++i) out.ucurve[i] = out.dof[i] = out.k[i] = out.U[i] = kNaN;
  }

  // The inversion interval.
  InversionInterval inv(CurveRef{c.ncoef, c.coef, c.cov, c.xmin, c.xmax});
  for (std::size_t i = 0; i < n; ++i) {
    out.low[i] = out.high[i] = kNaN;
    if (out.nroot[i] > 0 && std::isfinite(out.k[i])) {
      inv(r.y[i], xr(0, i), out.k[i], out.uy[i] * out.uy[i], out.low[i], out.high[i]);
    }
  }

  // Flags.  A sample without a root lies beyond the end its response is past.
  const bool rising = p_hi >= p_lo;
  const double width = c.xmax - c.xmin;
  const double atol = kEndRtol * width;
  const bool blank = c.xmin - kBlankReach * width <= 0.0 && 0.0 <= c.xmax + kBlankReach * width;
  const double y_blank = blank ? at.value(0.0) : kNaN;
  const bool rising_blank = blank && at.slope(0.0) >= 0.0;
  const bool has_lod = (s.haslim & 1) != 0, has_loq = (s.haslim & 2) != 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double y = r.y[i];
    const int nr = out.nroot[i];
    const bool none = nr == 0;
    const double first = none ? kNaN : xr(0, i);
    int f = 0;
    if (none) f |= QVXL_FLAG_NO_ROOT;
    if (nr > 1) f |= QVXL_FLAG_SEVERAL_ROOTS;
    bool at_end = false, flat = false;
    for (int j = 0; j < nr; ++j) {
      const double x = xr(j, i);
      at_end = at_end || std::abs(x - c.xmin) <= atol || std::abs(x - c.xmax) <= atol;
      flat = flat || std::isinf(ur(j, i));
    }
    if (at_end) f |= QVXL_FLAG_AT_END;
    if (out.low[i] <= c.xmin || out.high[i] >= c.xmax) f |= QVXL_FLAG_INTERVAL_OPEN;
    const bool past_lo = rising ? y < p_lo : y > p_lo;
    const bool past_hi = rising ? y > p_hi : y < p_hi;
    if (first < s.lowest || (none && past_lo)) f |= QVXL_FLAG_BELOW_LOWEST;
    if (first > s.highest || (none && past_hi)) f |= QVXL_FLAG_ABOVE_HIGHEST;
    if (blank && (rising_blank ? y < y_blank : y > y_blank)) f |= QVXL_FLAG_BELOW_BLANK;
    const bool below_lod = has_lod && first < s.lod;
    if (below_lod) f |= QVXL_FLAG_BELOW_LOD;
    if (has_loq && first < s.loq && !below_lod) f |= QVXL_FLAG_BELOW_LOQ;
    if (flat) f |= QVXL_FLAG_FLAT;
    if (no_scale) f |= QVXL_FLAG_NO_SCALE;
    out.flags[i] = f;

    // A straight line without a root still gives its value on the line
    // extended (IPVAL_DEGREE1).
    out.xext[i] = out.uxext[i] = kNaN;
    if (none && c.ncoef == 2) {
      const double vy = out.uy[i] * out.uy[i];
      double x = kNaN, ux = kNaN;
      int st = 0;
      IPVAL_DEGREE1(c.coef, c.cov, 1, r.y + i, &vy, c.xmin, c.xmax, &x, &ux, st);
      if (st == 0 && std::isfinite(x)) {
        out.xext[i] = x;
        out.uxext[i] = ux;
      }
    }
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
