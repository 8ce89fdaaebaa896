// Line search on the Goldstein ratio
//
//   r(a) = (f(x0 + a p) - f0) / (a dg),   dg = p'g0 < 0,
//
// accepting a step with sigma <= r <= 1 - sigma.  Three phases:
//   expansion   r > 1 - sigma: the step is too short; grow it to the minimum
//               of the quadratic through f0, dg and f(a) (at most 10 a);
//   sectioning  a bracket [a_lo, a_hi] with r(a_lo) > 1 - sigma > sigma >
//               r(a_hi) is known; interpolate linearly in r to r = 0.5,
//               staying a tenth of the bracket away from either end;
//   derivative  only for sigma > 0.25, where gradients are evaluated: up to
//               five secant steps on the slope p'g until |p'g| < (1 - 2 sigma)|dg|.
// More than 200 evaluations in one call end the search with "KFUN > 200" on
// standard output and the start point returned.
#include "minimizer/nlsline.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "minimizer/nlsvec.h"
#include "numeric/colmajor.h"

namespace quorvex {

namespace {

constexpr double kTau = 0.1;        // sectioning safeguard
constexpr double kExpand = 10.0;    // largest growth of one expansion step
constexpr int kMaxFun = 200;        // evaluations allowed in one call
constexpr double kStepTol = 1e-8;   // negligible step, relative and absolute
constexpr int kMaxSecant = 5;       // secant steps of the derivative phase
constexpr double kGradSigma = 0.25; // gradients are evaluated above this sigma

}  // namespace

void LineWork::size(int nres, int npar) {
  const std::size_t m = count(nres), n = count(npar);
  xt.resize(n);
  gt.resize(n);
  ft.resize(m);
}

void LineWork::size_secant(int nres, int npar) {
  const std::size_t m = count(nres), n = count(npar);
  xs.resize(n);
  gs.resize(n);
  fs.resize(m);
}

void NLSLINE(int nres, int npar, double* x, const double* p, double& alpha, double* f, double* g,
             double dg, double sigma, Objective fcn, void* userarg, int& info, int& kfun,
             double& fsum, LineWork& w, double* scratch) {
  const std::size_t m = count(nres), n = count(npar);
  w.size(nres, npar);
  // Current trial (xt, gt, ftv) and secant point (xs, gs, fsv); the two swap
  // roles when a secant point becomes current, so each residual vector always
  // belongs to its own point.
  double* xt = w.xt.data();
  double* gt = w.gt.data();
  double* ftv = w.ft.data();
  double* xs = nullptr;  // set when a derivative phase begins
  double* gs = nullptr;
  double* fsv = nullptr;

  const int level = sigma > kGradSigma ? 2 : 1;
  const double f0 = sumsq(m, f);
  const int kfun0 = kfun;  // the limit counts this call's evaluations
  info = kStepMade;

  double alo = 0.0, rlo = 1.0, dglo = dg;  // lower end of the bracket
  double ahi = 0.0, rhi = 0.0;             // upper end
  double a = alpha, r = 0.0, dgt = 0.0, ft = f0;

  // One evaluation at x0 + s p into (xe, fe, ge); false on a callback abort.
  auto evaluate = [&](double s, double* xe, double* fe, double* ge, double& fe_sum,
                      double& dge) -> bool {
    for (std::size_t i = 0; i < n; ++i) xe[i] = x[i] + s * p[i];
    int iflag = level;
    fcn(iflag, nres, npar, xe, fe, ge, scratch, userarg);
    ++kfun;
    if (iflag < 0) {
      info = iflag;
      return false;
    }
    fe_sum = sumsq(m, fe);
    dge = level == 2 ? dot(n, p, ge) : 0.0;
    return true;
  };
  // Goldstein ratio of the current trial, the change of the sum of squares
  // accumulated term by term.
  auto ratio = [&](double s) {
    double d = 0.0;
    for (std::size_t i = 0; i < m; ++i) d += (ftv[i] - f[i]) * (ftv[i] + f[i]);
    return d / (s * dg);
  };
  // Leave x, f, g as they came in.
  auto keep_start = [&] {
    alpha = a;
    fsum = f0;
  };
  auto too_many = [&] {
    std::puts("KFUN > 200");
    std::fflush(stdout);
    info = kStepGaveUp;
    keep_start();
  };
  auto accept = [&](bool with_gradient) {
    std::copy(xt, xt + n, x);
    std::copy(ftv, ftv + m, f);
    if (with_gradient) std::copy(gt, gt + n, g);
    fsum = ft;
    alpha = a;
    info = kStepMade;
  };

  // A trial whose ratio is not a number (residuals that overflowed or are
  // not numbers there) counts as a step too long, so the bracket shrinks
  // back towards finite values and such a point is never accepted.
  auto too_long = [sigma](double rr) { return rr < sigma || std::isnan(rr); };

  // Expansion.  It is bounded like sectioning: an uphill direction, or values
  // whose ratio is not a number, would otherwise grow the step for ever.
  bool in_band = false;
  for (;;) {
    if (!evaluate(a, xt, ftv, gt, ft, dgt)) return keep_start();
    r = ratio(a);
    if (kfun - kfun0 > kMaxFun) return too_many();
    if (sigma <= r && r <= 1.0 - sigma) {
      ahi = a;
      rhi = r;
      in_band = true;
      break;
    }
    if (too_long(r) || (level == 2 && dgt / dg <= 0.0)) {  // too long, or the slope turned
      ahi = a;
      rhi = r;
      break;
    }
    alo = a;
    rlo = r;
    dglo = dgt;
    a = r <= 1.0 - 0.5 / kExpand ? a * 0.5 / (1.0 - r) : kExpand * a;
  }

  // Sectioning.
  if (!in_band) {
    double s0 = 0.0;  // largest |x0(i)|, for the step tolerance
    for (std::size_t i = 0; i < n; ++i) s0 = std::max(s0, std::fabs(x[i]));
    const double tol = kStepTol * s0 + kStepTol;
    while (too_long(r) || r > 1.0 - sigma) {
      if (level == 2 && r >= sigma && dgt / dg <= 0.0) break;  // slope turned: final phase
      if (too_long(r)) {
        ahi = a;
        rhi = r;
      }
      if (r > 1.0 - sigma && (level == 1 || dgt / dg > 0.0)) {
        alo = a;
        rlo = r;
        dglo = dgt;
      }
      // Linear interpolation in r to 0.5, kept a tenth of the bracket inside.
      const double lo = kTau * ahi + (1.0 - kTau) * alo;
      const double hi = kTau * alo + (1.0 - kTau) * ahi;
      double an = ahi + (0.5 - rhi) * (alo - ahi) / (rlo - rhi);
      if (std::isnan(an)) {
        an = lo;
      } else {
        an = std::max(an, lo);
        an = std::min(an, hi);
      }
      a = an;
      if (!evaluate(a, xt, ftv, gt, ft, dgt)) return keep_start();
      r = ratio(a);
      if (kfun - kfun0 > kMaxFun) return too_many();
      double d = 0.0, e = 0.0;  // distance of xt from x0 and from the lower end
      for (std::size_t i = 0; i < n; ++i) {
        const double dx = xt[i] - x[i];
        d = std::max(d, std::fabs(dx));
        e = std::max(e, std::fabs(dx - alo * p[i]));
      }
      if (d <= tol) {  // negligible step
        info = kStepGaveUp;
        return keep_start();
      }
      if (e <= tol) return accept(false);  // back at the lower end
    }
    ahi = a;
  }

  // Final phase.
  if (sigma <= kGradSigma) return accept(false);
  const double c2 = 1.0 - 2.0 * sigma;
  {
    const double q = dgt / dg;
    if (q >= 1.0 || std::fabs(q) < c2) return accept(true);
  }

  // Derivative phase: secant steps on the slope between the lower end and
  // the current point.
  w.size_secant(nres, npar);
  xs = w.xs.data();
  gs = w.gs.data();
  fsv = w.fs.data();
  for (int ns = 0;;) {
    const double dgc = dgt, fc = ft;
    if (dglo == dgc) return accept(true);
    const double as = alo - (ahi - alo) * dglo / (dgc - dglo);
    double fs = 0.0, dgs = 0.0;
    if (!evaluate(as, xs, fsv, gs, fs, dgs)) return keep_start();
    if (std::fabs(dgc) < std::fabs(dglo)) {
      alo = ahi;
      dglo = dgc;
    }
    if (!(fs < fc)) return accept(true);  // not better (or not a number): keep the current point
    std::swap(xt, xs);
    std::swap(gt, gs);
    std::swap(ftv, fsv);
    ft = fs;
    a = as;
    ahi = as;
    dgt = dgs;
    ++ns;
    if (std::fabs(dgs / dg) < c2 || ns == kMaxSecant) return accept(true);
  }
}

}  // namespace quorvex
