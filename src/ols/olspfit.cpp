// Weighted least-squares fit of a scaled polynomial:
//   min sum (w_i (y_i - p(x_i)))^2,   p(x) = sum_k c_k phi_k(x).
// The rows of the basis matrix B and of y are scaled by s_i = w_i / wmax
// (every row weight at most 1) and solved by QR, A = S B = Q Rf.  Then
//   weighted residuals  w_i (y_i - p(x_i)) = wmax (S y - A c)_i,
//   covariance          (B' W^2 B)^-1 = (Rf' Rf)^-1 / wmax^2 = T'T,
//                       T = Rf'^-1 diag(1/wmax),
// with T from a packed triangular solve on the factor.
// A singular or nearly singular design is refused (status 24): fewer distinct
// scaled abscissae than coefficients, the solver's test on the diagonal of
// Rf, or a condition number ||Rf||_F ||Rf^-1||_F of at least n / (m eps).
#include "ols/olspfit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <type_traits>
#include <vector>

#include "curve/chebyshev.h"
#include "numeric/colmajor.h"
#include "numeric/keepwrk.h"
#include "numeric/lapack.h"
#include "numeric/trpack.h"
#include "ols/qrlsq.h"
#include "numeric/status.h"
#include "numeric/xrange.h"

namespace quorvex {

namespace {

// Calls f(rows, i0) over rows 0 .. m-1: four rows at a time (rows an
// integral constant 4), then the rest one at a time (1).  Each row's
// numbers are independent of the others', so a block of rows computes the
// same bits as rows taken singly, with their chains of operations
// overlapping.
template <class F>
void by_rows(std::size_t m, F&& f) {
  constexpr std::size_t kBlock = 4;
  std::size_t i = 0;
  for (; i + kBlock <= m; i += kBlock) f(std::integral_constant<std::size_t, kBlock>(), i);
  for (; i < m; ++i) f(std::integral_constant<std::size_t, 1>(), i);
}

// Status of the argument checks, in the order they are made (0: all pass).
int check_arguments(int npts, const double* x, const double* w, int ncoef, double xmin,
                    double xmax) {
  if (const int status = OLSCOUNTS(npts, ncoef); status != QVX_OK) return status;
  const std::size_t m = count(npts);
  // Ordered comparisons throughout: a NaN raises none of the codes below.
  double wmin = w[0];
  for (std::size_t i = 1; i < m; ++i) wmin = std::min(wmin, w[i]);
  if (wmin <= 0.0) return QVX_OLS_BAD_WEIGHT;
  if (xmin >= xmax) return QVX_OLS_BAD_INTERVAL;
  double xlo, xhi;
  XRANGE(m, x, xlo, xhi);
  if (xmin > xlo) return QVX_OLS_X_BELOW;
  if (xmax < xhi) return QVX_OLS_X_ABOVE;
  return QVX_OK;
}

// The number of distinct scaled abscissae t among the rows of nonzero scale
// factor, counted up to `enough`: at most enough - 1 comparisons a row.
std::size_t distinct_rows(std::size_t m, std::size_t enough, const double* x, const double* w,
                          double wmax, double xmin, double xmax) {
  std::array<double, kMaxCoef> seen;
  std::size_t found = 0;
  for (std::size_t i = 0; i < m && found < enough; ++i) {
    if (!(w[i] / wmax > 0.0)) continue;
    const double t = XSCALE(xmin, xmax, x[i]);
    bool is_new = true;
    for (std::size_t k = 0; k < found && is_new; ++k) is_new = seen[k] != t;
    if (is_new) seen[found++] = t;
  }
  return found;
}

// Whether kappa_F npts eps < n for the factor Rf (packed, n(n+1)/2 values)
// and T = Rf'^-1 / wmax (n x n), so that ||Rf^-1||_F = wmax ||T||_F.  Sums
// that overflow, or are not numbers, fail.
bool well_conditioned(std::size_t m, std::size_t n, const double* rpack, const double* t,
                      double wmax) {
  double sr = 0.0, st = 0.0;
  for (std::size_t k = 0; k < packed_size(n); ++k) sr += rpack[k] * rpack[k];
  for (std::size_t k = 0; k < n * n; ++k) st += t[k] * t[k];
  const double kappa = std::sqrt(sr) * (std::sqrt(st) * wmax);
  const double eps = std::numeric_limits<double>::epsilon();
  return kappa * (static_cast<double>(m) * eps) < static_cast<double>(n);
}

// The fit proper, on arguments that passed the checks (so ncoef <= kMaxCoef
// and the coefficient-sized scratch is on the stack).  Returns the status; on
// a nonzero status the outputs may be partly written.
int fit(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
        double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
        double* wres, double& wresmax, OlsWork& work) {
  const std::size_t m = count(npts);
  const std::size_t n = count(ncoef);
  // Grown only (a kept array larger than needed is not touched beyond its use).
  if (work.a.size() < m * n) work.a.resize(m * n);
  if (work.b.size() < m) work.b.resize(m);
  double* const a = work.a.data();
  double* const b = work.b.data();  // right-hand side, then the solver's residual
  std::array<double, packed_size(kMaxCoef)> rpack;
  std::array<double, kMaxCoef * kMaxCoef> t{};
  std::array<double, 2 * kMaxCoef> qrwork;

  double wmax = w[0];
  for (std::size_t i = 1; i < m; ++i) wmax = std::max(wmax, w[i]);

  // Fewer distinct rows than coefficients: the design is singular, and the
  // rounding residue of its factor can lie far above the conditioning
  // test's line, so the rows are counted.  Rows are equal when their scaled
  // abscissae are (the basis row is a function of t alone); a row whose
  // scale factor underflows to 0 is no row at all.
  if (distinct_rows(m, n, x, w, wmax, xmin, xmax) < n) return QVX_OLS_ILL_CONDITIONED;

  // Weighted design A(i, j) = (w_i / wmax) phi_j(x_i) and right-hand side,
  // each row of the basis scaled by its factor as it is formed.
  const ColMajor<double> av(a, npts);
  by_rows(m, [&](auto rows, std::size_t i0) {
    constexpr std::size_t L = rows;
    double s[L];
    for (std::size_t l = 0; l < L; ++l) s[l] = w[i0 + l] / wmax;
    CHEBROWS<L>(ncoef, xmin, xmax, x + i0, [&](int j, const double* phi) {
      for (std::size_t l = 0; l < L; ++l) av(i0 + l, j) = s[l] * phi[l];
    });
    for (std::size_t l = 0; l < L; ++l) b[i0 + l] = s[l] * y[i0 + l];
  });

  double rnorm = 0.0;
  int info = 0;
  // The design is factorized where it was built: it is not needed afterwards.
  QRLSQ_INPLACE(npts, ncoef, a, npts, b, coef, rnorm, info, rpack.data(), qrwork.data());
  // The checks guarantee npts >= ncoef >= 1, so the solver refuses no argument.
  // Its codes 1 to 4 become 21 to 24.
  if (info != 0) return QVX_OLS_QR_FAILED - 1 + info;

  // Weighted residuals as the solver produced them.
  double rmax = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    wres[i] = wmax * b[i];
    rmax = std::max(rmax, std::fabs(wres[i]));
  }
  wresmax = rmax;

  // Fitted values from the unweighted basis.  The design has been overwritten
  // by its factorization, so each row is formed again, as the design's was,
  // and summed at once rather than stored.
  by_rows(m, [&](auto rows, std::size_t i0) {
    constexpr std::size_t L = rows;
    double s[L];
    for (std::size_t l = 0; l < L; ++l) s[l] = 0.0;
    CHEBROWS<L>(ncoef, xmin, xmax, x + i0, [&](int j, const double* phi) {
      for (std::size_t l = 0; l < L; ++l) s[l] = s[l] + phi[l] * coef[j];
    });
    for (std::size_t l = 0; l < L; ++l) {
      yfit[i0 + l] = s[l];
      res[i0 + l] = y[i0 + l] - s[l];
    }
  });

  // Covariance T'T with T = L^-1 diag(1/wmax), L = Rf' the packed factor.
  // The solver has excluded a zero diagonal, so the solve cannot fail.
  const ColMajor<double> tv(t.data(), ncoef);
  for (std::size_t i = 0; i < n; ++i) tv(i, i) = 1.0 / wmax;
  int lapinfo = 0;
  dtptrs_("L", "N", "N", &ncoef, &ncoef, rpack.data(), t.data(), &ncoef, &lapinfo, 1, 1, 1);

  // Conditioning: a design whose condition number reaches 1 / (npts eps)
  // leaves its results no correct digit.  The factor and its inverse give
  // kappa_F = ||Rf||_F ||Rf^-1||_F, which lies between kappa_2 and n kappa_2,
  // so refusing kappa_F npts eps >= n refuses only designs with
  // kappa_2 npts eps >= 1 and keeps every design with kappa_2 npts eps < 1.
  // The solver's test on the diagonal alone misses designs whose
  // conditioning the diagonal of an unpivoted factor does not show.
  if (!well_conditioned(m, n, rpack.data(), t.data(), wmax)) return QVX_OLS_ILL_CONDITIONED;

  const ColMajor<double> cv(cov, ncoef);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t i = 0; i < n; ++i) {
      double s = 0.0;
      for (std::size_t k = 0; k < n; ++k) s = s + tv(k, i) * tv(k, j);
      cv(i, j) = s;
    }
  }

  // Residual standard deviation; an interpolating fit has none.
  sres = m > n ? (wmax * rnorm) / std::sqrt(static_cast<double>(m - n)) : 0.0;
  return QVX_OK;
}

}  // namespace

void FitOutputs::clear(std::size_t npts, std::size_t ncoef, std::size_t nres) const {
  std::fill(coef, coef + ncoef, 0.0);
  std::fill(cov, cov + ncoef * ncoef, 0.0);
  sres = 0.0;
  std::fill(yfit, yfit + npts, 0.0);
  std::fill(res, res + nres, 0.0);
  std::fill(wres, wres + nres, 0.0);
  wresmax = 0.0;
}

int OLSCOUNTS(int npts, int ncoef) {
  if (ncoef < 1) return QVX_OLS_NCOEF_LT1;
  if (npts < ncoef) return QVX_OLS_NPTS_LT_NCOEF;
  if (ncoef > kMaxCoef) return QVX_OLS_NCOEF_GT10;
  return QVX_OK;
}

void OLSPFIT(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
             double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
             double* wres, double& wresmax, int& istat, OlsWork& work) {
  // COEF and COV are cleared only for a count that can be valid: a larger
  // one always ends in code 2 or 3, and the caller's arrays need not have
  // its size (NCOEF = INT_MAX would mean a COV of 2^62 elements).
  const std::size_t m = count(npts);
  const std::size_t n = ncoef <= kMaxCoef ? count(ncoef) : 0;
  const FitOutputs out{coef, cov, sres, yfit, res, wres, wresmax};
  out.clear(m, n, m);
  istat = QVX_OK;

  istat = check_arguments(npts, x, w, ncoef, xmin, xmax);
  if (istat != QVX_OK) return;

  // Failures leave every output zero.  Running out of working storage is
  // reported here too, so that a caller inside the library sees a status.
  int status = QVX_OK;
  try {
    status = fit(npts, x, y, w, ncoef, xmin, xmax, coef, cov, sres, yfit, res, wres, wresmax,
                 work);
  } catch (const std::exception&) {
    // std::bad_alloc, or std::length_error for an array larger than the
    // address space can hold (a 32-bit host): both mean no storage.
    status = QVX_NO_STORAGE;
  }
  if (status != QVX_OK) out.clear(m, n, m);
  istat = status;
}

void OLSPFIT(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
             double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
             double* wres, double& wresmax, int& istat) {
  thread_local OlsWork kept;
  OLSPFIT(npts, x, y, w, ncoef, xmin, xmax, coef, cov, sres, yfit, res, wres, wresmax, istat,
          kept);
  // A fit of valid counts needs npts x (ncoef + 1) values of what the thread
  // holds (a refused count has touched nothing).
  if (OLSCOUNTS(npts, ncoef) == QVX_OK) {
    WorkBytes bytes;
    bytes.add(kept.a);
    bytes.add(kept.b);
    const std::size_t used = count(npts) * (count(ncoef) + 1) * sizeof(double);
    if (!KEEPWRK(bytes.held, used)) kept = OlsWork();
  }
}

}  // namespace quorvex
