// Inverse prediction on a straight line y = S x + A in closed form:
//   x = r / S,  r = y - A,
// with the first-order variance through the partial derivatives -r/S^2
// (slope), -1/S (intercept) and 1/S (response):
//   u(x)^2 = r^2/S^4 var(S) + var(A)/S^2 + 2r/S^3 cov(S, A) + u(y)^2/S^2.
// Every response is answered, also when x falls outside [xmin, xmax].
#include "inverse/ipval_degree1.h"

#include <algorithm>
#include <cmath>

#include "curve/linear_conv.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"

namespace quorvex {

void IPVAL_DEGREE1(const double* coef, const double* cov, int npts, const double* y,
                   const double* covy, double xmin, double xmax, double* xpred, double* uxpred,
                   int& istat) {
  const std::size_t n = count(npts);
  std::fill(xpred, xpred + n, 0.0);
  std::fill(uxpred, uxpred + n, 0.0);
  istat = QVX_OK;
  if (xmin >= xmax) {
    istat = QVX_IPVAL1_BAD_INTERVAL;
    return;
  }

  double lcoef[2];
  double lcov[4];
  int st = QVX_OK;
  LINEAR_CONV(coef, cov, xmin, xmax, lcoef, lcov, st);
  const double s = lcoef[0];
  const double a = lcoef[1];
  const double vs = lcov[0];   // var(S)
  const double csa = lcov[2];  // cov(S, A)
  const double va = lcov[3];   // var(A)
  const double s2 = s * s;
  const double s3 = s2 * s;
  const double s4 = s2 * s2;

  for (std::size_t i = 0; i < n; ++i) {
    const double r = y[i] - a;
    xpred[i] = r / s;
    // COVY(i, i) lies i (npts + 1) elements in, past 2^31 for npts > 46340.
    const double vy = covy[i * (n + 1)];
    const double var = (r * r / s4) * vs + va / s2 + (2.0 * r / s3) * csa + vy / s2;
    uxpred[i] = std::sqrt(var);
  }
}

}  // namespace quorvex
