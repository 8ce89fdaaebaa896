// The factor of the coefficient covariance curves are drawn from.
//
// C is symmetrized, A = (C + C')/2, and diagonalized by the cyclic Jacobi
// method, A = V diag(lambda) V' (Golub and Van Loan, 8.5): plane rotations
// only, so that the factor is the same to the bit on every platform and
// needs no library beyond the language.  L = V diag(sqrt(max(lambda, 0))):
// then L L' = A, and a singular covariance (a coefficient held fixed, a
// curve without uncertainty) draws no deviation along its null space, as
// GUM Supplement 1 (6.4.8) asks of a multivariate normal.  Eigenvalues below
// zero by more than rounding can explain mean the matrix is no covariance.
#include "montecarlo/cov_factor.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

// Negative eigenvalues down to this share of the largest are rounding.
constexpr double kIndefinite = 1e-8;
constexpr int kSweeps = 60;

}  // namespace

int cov_factor(int n, const double* cov, std::vector<double>& l) {
  const std::size_t m = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < m * m; ++i)
    if (!std::isfinite(cov[i])) return QVXL_MC_COV_NOT_FINITE;
  std::vector<double> a(m * m), v(m * m, 0.0);
  auto A = [&](std::size_t i, std::size_t j) -> double& { return a[j * m + i]; };
  auto V = [&](std::size_t i, std::size_t j) -> double& { return v[j * m + i]; };
  for (std::size_t j = 0; j < m; ++j) {
    V(j, j) = 1.0;
    for (std::size_t i = 0; i < m; ++i) A(i, j) = 0.5 * (cov[j * m + i] + cov[i * m + j]);
  }
  for (int sweep = 0; sweep < kSweeps; ++sweep) {
    double off = 0.0, diag = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
      diag += A(j, j) * A(j, j);
      for (std::size_t i = 0; i < j; ++i) off += A(i, j) * A(i, j);
    }
    if (off == 0.0 || off <= 1e-32 * diag) break;
    for (std::size_t p = 0; p + 1 < m; ++p) {
      for (std::size_t q = p + 1; q < m; ++q) {
        const double apq = A(p, q);
        if (apq == 0.0) continue;
        // The rotation that zeroes A(p, q): t = tan(theta), the smaller root.
        const double theta = (A(q, q) - A(p, p)) / (2.0 * apq);
        const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                         (std::abs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (std::size_t k = 0; k < m; ++k) {  // columns p and q
          const double akp = A(k, p), akq = A(k, q);
          A(k, p) = c * akp - s * akq;
          A(k, q) = s * akp + c * akq;
        }
        for (std::size_t k = 0; k < m; ++k) {  // rows p and q
          const double apk = A(p, k), aqk = A(q, k);
          A(p, k) = c * apk - s * aqk;
          A(q, k) = s * apk + c * aqk;
        }
        A(p, q) = A(q, p) = 0.0;
        for (std::size_t k = 0; k < m; ++k) {
          const double vkp = V(k, p), vkq = V(k, q);
          V(k, p) = c * vkp - s * vkq;
          V(k, q) = s * vkp + c * vkq;
        }
      }
    }
  }
  double top = 0.0;
  for (std::size_t j = 0; j < m; ++j) top = std::max(top, A(j, j));
  for (std::size_t j = 0; j < m; ++j)
    if (A(j, j) < -kIndefinite * top) return QVXL_MC_COV_INDEFINITE;
  l.assign(m * m, 0.0);
  for (std::size_t j = 0; j < m; ++j) {
    const double r = std::sqrt(std::max(A(j, j), 0.0));
    for (std::size_t i = 0; i < m; ++i) l[j * m + i] = V(i, j) * r;
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
