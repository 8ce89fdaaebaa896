// Arc search.  With u = g/|g| and v the unit vector along the part of p
// orthogonal to u, the arc
//
//   x(th) = x + R sin(th) v - R cos(th) u,   0 <= th <= thmax = angle(p, -g),
//
// runs at distance R from x from the steepest-descent point (th = 0) to
// x + R p/|p| (th = thmax).  Five equally spaced angles bracket the best
// value; each of seven further passes halves the bracket around the best
// angle and evaluates its two new midpoints: 5 + 7*2 = 19 evaluations.
//
// Degenerate geometry falls back to a collapsed arc, never to 0/0:
//   g = 0 (or not finite): no steepest-descent end; every trial is the far
//     end x + R p/|p| (the centre x when p is unusable too);
//   p = 0 (or not finite), or p parallel to g in either sense: every trial is
//     the steepest-descent point x - R u.  Parallel means that the part of p
//     orthogonal to u does not survive a second Gram-Schmidt projection; when
//     it does survive (p at a tiny angle to g) it is used as v, orthogonal to
//     u to rounding, so the trial points stay at distance R;
//   the arccos argument is clamped to [-1, 1];
//   a radius that is not finite is taken as 0 (every trial is x).
// Norms come from nrm2, so tiny or huge g and p neither underflow nor
// overflow.  A value that is not a number never counts as the best while
// some value is a number.
#include "minimizer/nlsarc.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "minimizer/nlsvec.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/status.h"

namespace quorvex {

namespace {

constexpr int kPasses = 8;
// Largest |v'u| accepted after one projection before projecting again.
constexpr double kOrthTol = 1e-10;

// a before b in the choice of the best value: numbers in their order, then
// values that are not numbers (which never displace a number).
bool before(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

void ArcWork::size(int nres, int npar) {
  const std::size_t m = count(nres), n = count(npar);
  u.resize(n);
  v.resize(n);
  xt.resize(n);
  ft.resize(m);
}

void NLSARC(int nres, int npar, double* x, const double* p, double& fsum, const double* g,
            double radius, Objective fcn, void* userarg, int& info, int& kfun, double* fbest,
            ArcWork& w, double* sg, double* sp) {
  const std::size_t m = count(nres), n = count(npar);
  w.size(nres, npar);
  double* u = w.u.data();
  double* v = w.v.data();
  double* xt = w.xt.data();
  info = kStepMade;

  // The plane of the arc.
  const double gnorm = nrm2(npar, g);
  const double pnorm = nrm2(npar, p);
  const bool g_ok = gnorm > 0.0 && std::isfinite(gnorm);
  const bool p_ok = pnorm > 0.0 && std::isfinite(pnorm);
  const double rad = std::isfinite(radius) ? radius : 0.0;
  double thmax = 0.0;
  bool v_ok = false;
  if (g_ok) {
    for (std::size_t i = 0; i < n; ++i) u[i] = g[i] / gnorm;
    if (p_ok) {
      const double t = dot(n, p, u);
      for (std::size_t i = 0; i < n; ++i) v[i] = p[i] - t * u[i];
      double vnorm = nrm2(npar, v);
      if (vnorm > 0.0) {
        for (std::size_t i = 0; i < n; ++i) v[i] /= vnorm;
        const double s = dot(n, v, u);
        if (std::fabs(s) <= kOrthTol) {
          v_ok = true;
        } else {
          // Cancellation: v is mostly rounding.  Project once more; what is
          // left is a direction only if most of it survives.
          for (std::size_t i = 0; i < n; ++i) v[i] -= s * u[i];
          vnorm = nrm2(npar, v);
          v_ok = vnorm >= 1.0 / std::sqrt(2.0);
          if (v_ok)
            for (std::size_t i = 0; i < n; ++i) v[i] /= vnorm;
        }
      }
      if (v_ok) thmax = std::acos(std::clamp(-t / pnorm, -1.0, 1.0));
    }
  } else if (p_ok) {
    for (std::size_t i = 0; i < n; ++i) u[i] = -p[i] / pnorm;
  } else {
    std::fill(u, u + n, 0.0);
  }
  if (!v_ok) std::fill(v, v + n, 0.0);

  auto point = [&](double th, double* xe) {
    const double a = rad * std::sin(th), b = rad * std::cos(th);
    for (std::size_t i = 0; i < n; ++i) xe[i] = x[i] + a * v[i] - b * u[i];
  };

  // Residual vectors: every trial is evaluated into the buffer that does not
  // hold the best point so far.  The best so far is the smallest value, ties
  // going to the smaller angle; the bracketing never drops it, so it is the
  // point the final pass chooses and its residual vector is at hand.
  double* buf[2] = {fbest, w.ft.data()};
  int hold = -1;
  double fbst = 0.0, thbst = 0.0;
  auto evaluate = [&](double th, double& fk) -> bool {
    point(th, xt);
    const int k = hold == 0 ? 1 : 0;
    int iflag = kWantResiduals;
    fcn(iflag, nres, npar, xt, buf[k], sg, sp, userarg);
    ++kfun;
    if (iflag < 0) {
      info = iflag;
      return false;
    }
    fk = sumsq(m, buf[k]);
    if (hold < 0 || before(fk, fbst) || (same(fk, fbst) && th < thbst)) {
      hold = k;
      fbst = fk;
      thbst = th;
    }
    return true;
  };

  double th[5], f[5];
  th[0] = 0.0;
  th[4] = thmax;
  th[2] = (th[0] + th[4]) / 2.0;
  th[1] = (th[0] + th[2]) / 2.0;
  th[3] = (th[2] + th[4]) / 2.0;
  for (int k = 0; k < 5; ++k)
    if (!evaluate(th[k], f[k])) return;

  int b = 0;
  for (int pass = 1; pass <= kPasses; ++pass) {
    b = 0;
    for (int k = 1; k < 5; ++k)
      if (before(f[k], f[b])) b = k;
    if (pass == kPasses) break;
    if (b <= 1) {
      th[4] = th[2];
      f[4] = f[2];
      th[2] = th[1];
      f[2] = f[1];
    } else if (b == 2) {
      th[0] = th[1];
      f[0] = f[1];
      th[4] = th[3];
      f[4] = f[3];
    } else {
      th[0] = th[2];
      f[0] = f[2];
      th[2] = th[3];
      f[2] = f[3];
    }
    th[1] = (th[0] + th[2]) / 2.0;
    th[3] = (th[2] + th[4]) / 2.0;
    if (!evaluate(th[1], f[1])) return;
    if (!evaluate(th[3], f[3])) return;
  }

  point(th[b], x);
  fsum = f[b];
  if (hold == 1) std::copy(buf[1], buf[1] + m, fbest);
}

}  // namespace quorvex
