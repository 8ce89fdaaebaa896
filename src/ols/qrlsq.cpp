// Linear least squares by Householder QR:
//   A = Q [Rf; 0],  Q'b = [c; d],  Rf xsol = c,  b - A xsol = Q [0; d],
// so the residual is formed by applying Q to (0, ..., 0, d) rather than by
// subtracting A xsol from b, and ||b - A xsol|| = ||d||.
// The problem is refused when the diagonal of Rf spans so many orders of
// magnitude that the smallest element is at the rounding level of the
// largest: min|Rf(i,i)| <= max|Rf(i,i)| * m * eps.
#include "ols/qrlsq.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/trpack.h"

namespace quorvex {

namespace {

// The conditioning test refuses min|Rf(i,i)| <= max|Rf(i,i)| * kCondC * m * eps.
// Householder QR of an m-row matrix is exact for a matrix within about
// m eps of it, so a smaller diagonal element is rounding residue.  Every
// |Rf(i,i)| lies between the smallest and the largest singular value, so a
// matrix of condition number kappa passes whenever kappa * m * eps < 1 / kCondC.
// Measured (tests/conditioning/measure_threshold.cpp): the ordinary fit's
// full-rank designs of condition up to 1e12 stay at least 29 times above the
// line; exactly singular ones reach up to 534 times above it (their residue
// grows with the column count), which is why the ordinary fit also counts
// its distinct abscissae and bounds the condition number itself.
constexpr double kCondC = 1.0;

}  // namespace

namespace {

// The solve on the validated problem with its matrix in aw (m x n, leading
// dimension ld), factorized in place, and the right-hand side already in
// rvec.
// scratch: 2 nn values.
void solve(int mm, int nn, double* aw, int ld, double* xsol, double* rvec, double& rnorm,
           int& info, double* rpack, double* scratch) {
  const std::size_t cols = count(nn);
  double* tau = scratch;
  double* work = scratch + cols;
  const ColMajor<double> r(aw, ld);

  // Factorize A = Q Rf; Rf lands in the upper triangle of aw.
  const int lwork = nn;
  const int one = 1;
  const int ldr = mm;
  int lapinfo = 0;
  dgeqrf_(&mm, &nn, aw, &ld, tau, work, &lwork, &lapinfo);
  if (lapinfo != 0) {
    info = 1;
    return;
  }

  // Apply Q' to the right-hand side.
  dormqr_("L", "T", &mm, &one, &nn, aw, &ld, tau, rvec, &ldr, work, &lwork,
          &lapinfo, 1, 1);
  if (lapinfo != 0) {
    info = 2;
    return;
  }

  // Conditioning test on the diagonal of Rf.  A diagonal element that is not
  // finite (NaN or infinite data) leaves nothing to solve with and fails too.
  double dmax = 0.0;
  double dmin = std::numeric_limits<double>::infinity();
  bool finite = true;
  for (std::size_t i = 0; i < cols; ++i) {
    const double d = std::fabs(r(i, i));
    if (!std::isfinite(d)) finite = false;
    if (d > dmax) dmax = d;
    if (d < dmin) dmin = d;
  }
  const double eps = std::numeric_limits<double>::epsilon();
  if (!finite || dmin <= dmax * (kCondC * static_cast<double>(mm) * eps)) {
    info = 4;
    return;
  }

  // Back-substitute Rf xsol = (Q'b)(1..n).
  dtrtrs_("U", "N", "N", &nn, &one, aw, &ld, rvec, &ldr, &lapinfo, 1, 1, 1);
  if (lapinfo != 0) {
    info = 3;
    return;
  }
  std::copy(rvec, rvec + cols, xsol);
  std::fill(rvec, rvec + cols, 0.0);

  // Residual b - A xsol = Q (0, ..., 0, (Q'b)(n+1..m)).
  dormqr_("L", "N", &mm, &one, &nn, aw, &ld, tau, rvec, &ldr, work, &lwork,
          &lapinfo, 1, 1);
  if (lapinfo != 0) {
    info = 2;
    return;
  }
  rnorm = nrm2(mm, rvec);

  // Rf row by row, each row from its diagonal.
  if (rpack != nullptr) {
    for (std::size_t i = 0; i < cols; ++i)
      for (std::size_t j = i; j < cols; ++j) rpack[packed_index(cols, i, j)] = r(i, j);
  }
}

// The argument checks shared by both forms; 0 when the problem is valid.
int check(int m, int n, int lda, int mb) {
  const int mm = std::max(m, 0);
  const int nn = std::max(n, 0);
  if (mm < nn) return -1;
  if (std::max(mb, 0) != mm) return -2;
  // An empty problem and a leading dimension shorter than a column would
  // reach LAPACK's argument checks, which end the process.
  if (nn < 1) return -3;
  if (lda < mm) return -4;
  return 0;
}

}  // namespace

void QRLSQ(int m, int n, const double* a, int lda, int mb, const double* b, double* xsol,
           double* rvec, double& rnorm, int& info, double* rpack) {
  info = check(m, n, lda, mb);
  if (info != 0) return;
  const int mm = std::max(m, 0);
  const int nn = std::max(n, 0);
  const std::size_t rows = count(mm);
  const std::size_t cols = count(nn);
  std::vector<double> aw(rows * cols);
  const ColMajor<const double> av(a, lda);
  const ColMajor<double> r(aw.data(), mm);
  for (std::size_t j = 0; j < cols; ++j) std::copy(av.col(j), av.col(j) + rows, r.col(j));
  std::copy(b, b + rows, rvec);
  std::vector<double> scratch(2 * cols);
  solve(mm, nn, aw.data(), mm, xsol, rvec, rnorm, info, rpack, scratch.data());
}

void QRLSQ_INPLACE(int m, int n, double* a, int lda, double* b, double* xsol, double& rnorm,
                   int& info, double* rpack, double* work) {
  info = check(m, n, lda, m);
  if (info != 0) return;
  solve(std::max(m, 0), std::max(n, 0), a, lda, xsol, b, rnorm, info, rpack, work);
}

}  // namespace quorvex
