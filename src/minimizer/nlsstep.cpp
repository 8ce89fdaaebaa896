// One step of the damped Gauss-Newton iteration.
//
//  1. Descent check: if -p'g < 1e-6 |p||g|, p is replaced by the displacement
//     to the best point of the arc between -g and p at radius |p|/100.
//  2. Line search along the direction.
//  3. Small-step recovery when the step length a <= C: if the actual decrease
//     over its first-order prediction, R, says the model's minimum lies within
//     C as well (R < 1 and a/(1 - R) <= C), probe at x0 + C p; if the probe is
//     no better than x0, search the arc of radius a|p| around x0 and take its
//     best point when it beats the line search.
// The evaluation count of the whole minimization is checked against its
// limit after each sub-search and after the probe.
//
// The working point is xw itself.  The residual vector returned in fw is
// always that of the point returned in xw.
#include "minimizer/nlsstep.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "minimizer/nlsvec.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/status.h"

namespace quorvex {

namespace {

constexpr double kDescent = 1e-6;    // smallest cosine of the angle between p and -g
constexpr double kArcRadius = 0.01;  // radius of the descent arc, as a fraction of |p|

}  // namespace

void StepWork::size(int nres, int npar) {
  const std::size_t m = count(nres), n = count(npar);
  xs.resize(n);
  gs.resize(n);
  gw.resize(n);
  pw.resize(n);
  fs.resize(m);
}

void NLSSTEP(int nres, int npar, double* xw, double* p, double* g, double* fw, double& alpha,
             double alphmin, double sigma, Objective fcn, void* userarg, int& info, int& nfev,
             int maxfev, StepWork& w, double* sg, double* sp) {
  const std::size_t m = count(nres), n = count(npar);
  w.size(nres, npar);
  double* xs = w.xs.data();
  double* gs = w.gs.data();
  double* gw = w.gw.data();
  double* pw = w.pw.data();
  // Residual vector of the probe and of the arc searches, sized on first need.
  auto probe_residuals = [&] {
    w.fr.resize(m);
    return w.fr.data();
  };

  int kfun = 0;
  std::copy(p, p + n, pw);
  std::copy(g, g + n, gw);
  const double pnorm = nrm2(npar, pw);
  const double gnorm = nrm2(npar, gw);
  double dg = dot(n, pw, gw);
  double f0 = sumsq(m, fw);
  std::copy(gw, gw + n, gs);
  std::copy(fw, fw + m, w.fs.data());
  std::copy(xw, xw + n, xs);

  // The direction handed back with the new point.
  auto hand_back = [&] {
    std::copy(pw, pw + n, p);
    std::copy(gw, gw + n, g);
  };

  // Descent check.  The arc leaves gw and fw alone, so only the point has to
  // return to the start.
  if (-dg < kDescent * pnorm * gnorm) {
    double* fr = probe_residuals();
    double fc = 0.0;
    NLSARC(nres, npar, xw, pw, fc, gw, kArcRadius * pnorm, fcn, userarg, info, kfun, fr, w.arc,
           sg, sp);
    nfev += kfun;
    kfun = 0;
    if (nfev >= maxfev) {
      if (info >= 0) std::copy(fr, fr + m, fw);  // xw is the arc point
      info = kStepEvaluationLimit;
      return;
    }
    if (info < 0) return;
    for (std::size_t i = 0; i < n; ++i) pw[i] = xw[i] - xs[i];
    dg = dot(n, gs, pw);
    std::copy(xs, xs + n, xw);
  }

  // Line search.
  double fls = f0;
  NLSLINE(nres, npar, xw, pw, alpha, fw, gw, dg, sigma, fcn, userarg, info, kfun, fls, w.line,
          sp);
  nfev += kfun;
  if (nfev >= maxfev) {
    info = kStepEvaluationLimit;
    return hand_back();
  }
  if (info < 0) return;

  // Small-step recovery.
  if (alpha <= alphmin) {
    const double pred = [&] {
      double s = 0.0;
      for (std::size_t i = 0; i < n; ++i) s += (xw[i] - xs[i]) * gs[i];
      return s;
    }();
    const double r = (fls - f0) / pred;
    if (r < 1.0 && alpha / (1.0 - r) <= alphmin) {
      // Probe at a short fixed step.
      double* fr = probe_residuals();
      w.xp.resize(n);
      double* xp = w.xp.data();
      for (std::size_t i = 0; i < n; ++i) xp[i] = xs[i] + alphmin * pw[i];
      int iflag = kWantResiduals;
      fcn(iflag, nres, npar, xp, fr, sg, sp, userarg);
      const double fp = sumsq(m, fr);
      nfev += 1;
      if (nfev >= maxfev) {
        info = kStepEvaluationLimit;
        return hand_back();
      }
      if (iflag < 0) {
        info = iflag;
        return;
      }
      if (!(fp < f0) && !std::isnan(fp)) {
        // The probe is no better than the start: search the arc around it.
        kfun = 0;
        NLSARC(nres, npar, xs, pw, f0, gs, pnorm * alpha, fcn, userarg, info, kfun, fr, w.arc, sg,
               sp);
        nfev += kfun;
        if (nfev >= maxfev) {
          info = kStepEvaluationLimit;
          return hand_back();
        }
        if (info < 0) {
          std::copy(xs, xs + n, xw);
          std::copy(w.fs.data(), w.fs.data() + m, fw);
          return;
        }
        if (f0 < fls) {  // f0 now holds the arc's best value
          std::copy(xs, xs + n, xw);
          std::copy(gs, gs + n, gw);
          std::copy(fr, fr + m, fw);
        }
      }
    }
  }
  hand_back();
}

}  // namespace quorvex
