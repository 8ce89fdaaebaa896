// A degree-1 scaled polynomial p = c1/2 + c2 t, t = (2x - xmin - xmax)/(xmax - xmin),
// is the line slope*x + intercept with (slope, intercept)' = T c,
//   T = [ 0    2/(xmax - xmin)            ]
//       [ 1/2  (xmax + xmin)/(xmin - xmax) ],
// and covariance T COV T'.
#include "curve/linear_conv.h"
#include "numeric/status.h"

namespace quorvex {

void LINEAR_CONV(const double* coef, const double* cov, double xmin, double xmax, double* lcoef,
                 double* lcov, int& istat) {
  istat = QVX_OK;
  if (xmin >= xmax) {
    istat = QVX_LINEAR_BAD_INTERVAL;
    return;
  }
  double t[2][2];  // t[i][j] = T(i+1, j+1)
  t[0][0] = 0.0;
  t[0][1] = 2.0 / (xmax - xmin);
  t[1][0] = 0.5;
  t[1][1] = (xmax + xmin) / (xmin - xmax);

  for (int i = 0; i < 2; ++i) {
    double s = 0.0;
    for (int j = 0; j < 2; ++j) s += t[i][j] * coef[j];
    lcoef[i] = s;
  }

  // W = COV T', then LCOV = T W, formed in full before LCOV is written.
  double w[2][2];  // w[b][a] = W(b+1, a+1)
  for (int b = 0; b < 2; ++b) {
    for (int a = 0; a < 2; ++a) {
      double s = 0.0;
      for (int k = 0; k < 2; ++k) s += cov[b + 2 * k] * t[a][k];
      w[b][a] = s;
    }
  }
  double out[2][2];
  for (int b = 0; b < 2; ++b) {
    for (int a = 0; a < 2; ++a) {
      double s = 0.0;
      for (int k = 0; k < 2; ++k) s += t[b][k] * w[k][a];
      out[b][a] = s;
    }
  }
  for (int b = 0; b < 2; ++b)
    for (int a = 0; a < 2; ++a) lcov[b + 2 * a] = out[b][a];
}

}  // namespace quorvex
