// p(x) = a1/2 + sum_{k>=2} ak T_{k-1}(t),  t = ((x - xmin) - (xmax - x)) / (xmax - xmin).
// Clenshaw's recurrence, with Reinsch's modification near t = +-1 where the
// plain recurrence loses accuracy.  Every operation is written in the order
// the results depend on; the build turns off floating-point contraction.
#include "curve/chebyshev.h"

#include "numeric/colmajor.h"

namespace quorvex {

double XSCALE(double xmin, double xmax, double x) {
  return ((x - xmin) - (xmax - x)) / (xmax - xmin);
}

void CHEBBASIS(int ncoef, double xmin, double xmax, int npts, const double* x, double* basis,
               int ldb) {
  const std::size_t m = count(npts);
  ColMajor<double> b(basis, ldb);
  for (std::size_t i = 0; i < m; ++i) b(i, 0) = 1.0;
  if (ncoef >= 2) {
    for (std::size_t i = 0; i < m; ++i) b(i, 1) = XSCALE(xmin, xmax, x[i]);
    // The recurrence T_j = 2t T_{j-1} - T_{j-2} runs on the unhalved first column.
    for (std::size_t i = 0; i < m; ++i) {
      const double t2 = 2.0 * XSCALE(xmin, xmax, x[i]);
      for (int j = 2; j < ncoef; ++j) b(i, j) = t2 * b(i, j - 1) - b(i, j - 2);
    }
  }
  for (std::size_t i = 0; i < m; ++i) b(i, 0) *= 0.5;
}

double CHEBSUM(int n, double t, const double* a, std::ptrdiff_t inc) {
  if (n <= 1) return 0.5 * a[0];
  double d1 = 0.0;
  double d2 = 0.0;
  const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(n) - 1;
  if (t > 0.5) {
    // Near t = 1: run on the differences, u = 2 - 2t.
    const double u = 2.0 - (t + t);
    for (std::ptrdiff_t k = last; k >= 1; --k) {
      d1 = (d1 + a[k * inc]) - u * d2;
      d2 = d1 + d2;
    }
    return (0.5 * a[0] + d1) - (0.5 * u) * d2;
  }
  if (t < -0.5) {
    // Near t = -1: run on the sums, u = 2t + 2.
    const double u = (t + t) + 2.0;
    for (std::ptrdiff_t k = last; k >= 1; --k) {
      d1 = u * d2 + (a[k * inc] - d1);
      d2 = d1 - d2;
    }
    return (0.5 * a[0] - d1) + (0.5 * u) * d2;
  }
  // Plain Clenshaw in the middle of the interval.
  const double u = t + t;
  for (std::ptrdiff_t k = last; k >= 1; --k) {
    const double d1new = u * d1 + (a[k * inc] - d2);
    d2 = d1;
    d1 = d1new;
  }
  return (0.5 * a[0] - d2) + (0.5 * u) * d1;
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
