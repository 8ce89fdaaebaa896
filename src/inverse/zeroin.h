#pragma once

namespace quorvex {

// fx(k) = p(x(k)) - yt for the curve (ncoef, coef, xmin, xmax).
// istat QVX_OK, or POLYEVAL's QVX_EVAL_BAD_INTERVAL, QVX_EVAL_X_BELOW,
// QVX_EVAL_X_ABOVE, the later test overwriting the earlier; fx is written
// only for QVX_OK.
void POLY_RESIDUAL(int nx, const double* x, int ncoef, const double* coef, double yt, double xmin,
                   double xmax, double* fx, int& istat);

// A zero of p(x) - yt in the bracket [ax, bx] by Brent's method, to within
// 4 eps |x| + tol.  Returns a quiet NaN for an invalid bracket.  When nfev
// is given, it receives the number of residual evaluations made.
double zeroin(double ax, double bx, int ncoef, const double* coef, double yt, double xmin,
              double xmax, double tol, int* nfev = nullptr);

// Residual evaluations one zeroin call may make.  Brackets of finite doubles
// take far fewer (under two hundred even for a root hundreds of orders of
// magnitude below the bracket's width); the limit only stops iterations that
// cannot converge (a negative tolerance, for one), and zeroin then returns a
// quiet NaN.  It also returns a quiet NaN at the first residual that is not
// a number.
inline constexpr int kZeroinMaxEvaluations = 5000;

}  // namespace quorvex
