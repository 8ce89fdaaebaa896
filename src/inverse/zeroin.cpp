// Residual of a scaled polynomial, f(x) = p(x) - yt, and a bracketing zero
// finder for it (Brent's method).
//
// zeroin keeps three points: b, the best estimate; c, the contrapoint with
// f(c) of the other sign, so that a zero lies between b and c; and a, the
// previous b.  Each step tries inverse quadratic interpolation through
// (a, b, c), or the secant through (a, b) when a = c, and falls back to
// bisection unless the interpolated step is both inside the bracket and
// smaller than half the step before last.  A step shorter than the
// tolerance tol1 = 2 eps |b| + tol/2 is replaced by exactly tol1 towards c.
// The bracket [b, c] never grows and every new b lies strictly inside it.
#include "inverse/zeroin.h"

#include <cmath>
#include <limits>

#include "curve/curveval.h"
#include "numeric/colmajor.h"
#include "numeric/d1mach.h"
#include "numeric/status.h"
#include "numeric/xrange.h"

namespace quorvex {

void POLY_RESIDUAL(int nx, const double* x, int ncoef, const double* coef, double yt, double xmin,
                   double xmax, double* fx, int& istat) {
  const std::size_t n = count(nx);
  double xlo, xhi;
  XRANGE(n, x, xlo, xhi);

  // All three tests run; a later failure overwrites an earlier one.
  istat = QVX_OK;
  if (xmin >= xmax) istat = QVX_EVAL_BAD_INTERVAL;
  if (xmin > xlo) istat = QVX_EVAL_X_BELOW;
  if (xmax < xhi) istat = QVX_EVAL_X_ABOVE;
  if (istat != QVX_OK) return;

  // The curve values go straight into fx and the response is subtracted in
  // place: the same numbers as through a separate buffer, with no storage
  // per call.  An empty series (ncoef < 1) is the zero curve.
  if (ncoef < 1) {
    for (std::size_t k = 0; k < n; ++k) fx[k] = 0.0;
  } else {
    int mode = kModeValues;
    CURVEVAL(mode, Curve{ncoef, coef, xmin, xmax}, nx, x, fx, nullptr, nullptr, nullptr);
  }
  for (std::size_t k = 0; k < n; ++k) fx[k] = fx[k] - yt;
}

double zeroin(double ax, double bx, int ncoef, const double* coef, double yt, double xmin,
              double xmax, double tol, int* evaluations) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  int nfev = 0;
  int unused = 0;
  int& out_nfev = evaluations != nullptr ? *evaluations : unused;
  // A point the residual refuses (outside [xmin, xmax]) evaluates to NaN.
  auto f = [&](double x) {
    double fx = nan;
    int st = QVX_OK;
    POLY_RESIDUAL(1, &x, ncoef, coef, yt, xmin, xmax, &fx, st);
    ++nfev;
    return fx;
  };

  const double eps = D1MACH(4);
  double a = ax, b = bx;
  double fa = f(a), fb = f(b);
  out_nfev = nfev;

  // Bracket test: a zero at either end, or opposite signs.  Equal signs or a
  // NaN give no bracket and no iteration.
  if (!(fa == 0.0 || fb == 0.0 || fa * (fb / std::fabs(fb)) <= 0.0)) return nan;

  double c = 0.0, fc = 0.0, d = 0.0, e = 0.0;
  bool new_bracket = true;
  for (;;) {
    if (new_bracket) {
      c = a;
      fc = fa;
      d = b - a;
      e = d;
    }
    // Make b the point with the smaller residual.
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }

    const double tol1 = 2.0 * eps * std::fabs(b) + 0.5 * tol;
    const double xm = 0.5 * (c - b);
    if (fb == 0.0 || std::fabs(xm) <= tol1) {
      out_nfev = nfev;
      return b;
    }

    if (std::fabs(e) < tol1 || std::fabs(fa) <= std::fabs(fb)) {
      d = xm;
      e = d;
    } else {
      double s = fb / fa;
      double p, q;
      if (a == c) {
        // Secant through a and b.
        p = 2.0 * xm * s;
        q = 1.0 - s;
      } else {
        // Inverse quadratic interpolation through a, b and c.
        q = fa / fc;
        const double r = fb / fc;
        p = s * (2.0 * xm * q * (q - r) - (b - a) * (r - 1.0));
        q = (q - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (p > 0.0) {
        q = -q;
      } else {
        p = -p;
      }
      s = e;
      e = d;
      if (p >= std::fabs(0.5 * s * q) || 2.0 * p >= 3.0 * xm * q - std::fabs(tol1 * q)) {
        d = xm;
        e = d;
      } else {
        d = p / q;
      }
    }

    a = b;
    fa = fb;
    if (std::fabs(d) > tol1) {
      b = b + d;
    } else if (xm > 0.0) {
      b = b + tol1;
    } else {
      b = b - tol1;
    }

    // Iterations that cannot converge end here with no result: the limit,
    // or a residual that is not a number (nothing can be interpolated or
    // compared through it).
    if (nfev >= kZeroinMaxEvaluations) {
      out_nfev = nfev;
      return nan;
    }
    fb = f(b);
    if (std::isnan(fb)) {
      out_nfev = nfev;
      return nan;
    }
    new_bracket = fb * (fc / std::fabs(fc)) > 0.0;
  }
}

}  // namespace quorvex
