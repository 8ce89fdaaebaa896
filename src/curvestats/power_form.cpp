// The curve in powers of x.
//
// p(x) = c_1/2 + sum_k c_{k+1} T_k(t) with t = alpha x + beta, alpha = 2 /
// (xmax - xmin), beta = -(xmin + xmax) / (xmax - xmin).  Each T_k is written
// in powers of t (T_0 = 1, T_1 = t, T_{k+1} = 2 t T_k - T_{k-1}: exact small
// integers), then in powers of x by Horner's rule in the polynomial t(x).
// The column k of M holds T_k's power coefficients in x (half of T_0's), so
// a = M c, and the covariance of a is M C M' (GUM 5.2, linear map).  M's
// condition grows like ((|xmin| + |xmax|) / (xmax - xmin))^degree 2^degree:
// the power form is for reporting; the scaled form is for computing.
#include "curvestats/power_form.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quorvex::lab {

void power_matrix(int ncoef, double xmin, double xmax, double* m) {
  const std::size_t n = static_cast<std::size_t>(ncoef);
  const double alpha = 2.0 / (xmax - xmin);
  const double beta = -(xmin + xmax) / (xmax - xmin);
  std::fill(m, m + n * n, 0.0);
  // T_k in powers of t, by the recurrence.
  std::vector<std::vector<double>> t(n);
  for (std::size_t k = 0; k < n; ++k) {
    t[k].assign(k + 1, 0.0);
    if (k == 0) {
      t[k][0] = 1.0;
    } else if (k == 1) {
      t[k][1] = 1.0;
    } else {
      for (std::size_t j = 0; j < k; ++j) t[k][j + 1] += 2.0 * t[k - 1][j];
      for (std::size_t j = 0; j + 1 < k; ++j) t[k][j] -= t[k - 2][j];
    }
  }
  std::vector<double> px, next;
  for (std::size_t k = 0; k < n; ++k) {
    const double w = k == 0 ? 0.5 : 1.0;
    // Horner in t(x) = beta + alpha x: px <- px * (beta + alpha x) + a_j.
    px.assign(1, 0.0);
    for (std::size_t jj = k + 1; jj-- > 0;) {
      next.assign(px.size() + 1, 0.0);
      for (std::size_t i = 0; i < px.size(); ++i) {
        next[i] += px[i] * beta;
        next[i + 1] += px[i] * alpha;
      }
      next[0] += w * t[k][jj];
      px.swap(next);
    }
    for (std::size_t i = 0; i < std::min(px.size(), n); ++i) m[k * n + i] = px[i];
  }
}

void power_form(int ncoef, const double* coef, const double* cov, double xmin, double xmax,
                double* a, double* ca) {
  const std::size_t n = static_cast<std::size_t>(ncoef);
  std::vector<double> m(n * n);
  power_matrix(ncoef, xmin, xmax, m.data());
  if (a) {
    for (std::size_t i = 0; i < n; ++i) {
      double s = 0.0;
      for (std::size_t k = 0; k < n; ++k) s += m[k * n + i] * coef[k];
      a[i] = s;
    }
  }
  if (cov && ca) {
    // MC = M C, then Ca = MC M', symmetrized.
    std::vector<double> mc(n * n, 0.0), full(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (std::size_t k = 0; k < n; ++k) s += m[k * n + i] * cov[j * n + k];
        mc[j * n + i] = s;
      }
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (std::size_t k = 0; k < n; ++k) s += mc[k * n + i] * m[k * n + j];
        full[j * n + i] = s;
      }
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = 0; i < n; ++i) ca[j * n + i] = 0.5 * (full[j * n + i] + full[i * n + j]);
  }
}

}  // namespace quorvex::lab
