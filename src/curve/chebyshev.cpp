// Basis rows and derivative coefficients of the scaled polynomial (the
// series sum and the scaled variable are inline in the header).
#include "curve/chebyshev.h"

#include "numeric/colmajor.h"

namespace quorvex {

void CHEBBASIS(int ncoef, double xmin, double xmax, int npts, const double* x, double* basis,
               int ldb) {
  const std::size_t m = count(npts);
  ColMajor<double> b(basis, ldb);
  for (std::size_t i = 0; i < m; ++i)
    CHEBROW(ncoef, xmin, xmax, x[i], [&](int j, double v) { b(i, j) = v; });
}

void CHEBDER(int n, double xmin, double xmax, const double* a, std::ptrdiff_t inca, double* d,
             std::ptrdiff_t incd) {
  // d(m) = sc * u(m), u(m) = 2m a(m+1) + u(m+2), u(n) = u(n+1) = 0, sc = dt/dx.
  const double sc = 2.0 / (xmax - xmin);
  double w1 = 0.0;  // u two places above
  double w2 = 0.0;  // u one place above
  for (std::ptrdiff_t m = static_cast<std::ptrdiff_t>(n) - 1; m >= 1; --m) {
    const double u = (2.0 * static_cast<double>(m)) * a[m * inca] + w1;
    d[m * incd] = sc * w2;
    w1 = w2;
    w2 = u;
  }
  d[0] = sc * w2;
}

}  // namespace quorvex
