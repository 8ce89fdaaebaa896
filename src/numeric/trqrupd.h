// Householder update of an upper triangular least-squares factor.
//
// Appending m rows [C | D] to a factor R (n x n, upper triangular) and its
// transformed right-hand sides B (n x p) is an orthogonal reduction of
//
//        [ C  D ]            [ R~  B~ ]
//    W = [ R  B ]   to   Q'W = [ 0   E  ],   R~'R~ = R'R + C'C,  R~'B~ = R'B + C'D.
//
// Column k of W is nonzero only in rows 1 .. m + k (R is triangular), so the
// reflector that clears it spans the m + 1 rows k .. k + m and an update costs
// O(n (m + 1) (n + p)).  The diagonal of R~ may be negative.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "numeric/blas_kernels.h"
#include "numeric/lapack.h"

namespace quorvex {

// H = I - beta v v' with H x = (alpha, 0, ..., 0)', n >= 2.  x is scaled by
// its largest magnitude before its norm is taken; alpha has the sign opposite
// to x(1) so that v(1) is formed without cancellation.  x = 0 gives beta = 0,
// v = 0, alpha = 0.  x and v must not overlap.
void HOUSEG(int n, const double* x, double& beta, double* v, double& alpha);

// A := (I - beta v v') A for the m x n matrix A (leading dimension lda), with
// v of m elements, by the rank-one update A - beta v (A'v)'.  w: n doubles of
// scratch.  beta = 0 leaves A unchanged.
void HOUSEAPL(int m, int n, double* a, std::ptrdiff_t lda, double beta, const double* v,
              double* w);

// Several independent reflectors at once: for r = 0 .. k-1 the reflector of
// HOUSEG for x[r] (n >= 2 elements) into v + r n, beta[r], alpha[r].  The
// operations are those of k calls of HOUSEG, done step by step across the k
// vectors, so that the divisions and norms of different reflectors overlap.
// k <= kHouseBatch; x[r] must not overlap v.
inline constexpr int kHouseBatch = 16;
void houseg_batch(int k, int n, const double* const* x, double* v, double* beta, double* alpha);

// Several independent HOUSEAPL: a[r] (m x ncol[r], leading dimension lda) :=
// (I - beta[r] v_r v_r') a[r], v_r = v + r m, with the operations of k calls
// of HOUSEAPL, each A'v formed before any matrix is updated.  w: scratch of
// sum ncol[r] doubles.  k <= kHouseBatch; the matrices must not overlap.
void houseapl_batch(int k, int m, const int* ncol, double* const* a, std::ptrdiff_t lda,
                    const double* beta, const double* v, double* w);

// The steps of houseg_batch and houseapl_batch, for callers that know the
// count of reflectors and their length at compile time: Count and Len are
// std::size_t or std::integral_constant, with which the loops unroll.
template <class Count, class Len>
inline void houseg_steps(Count kk, Len nn, const double* const* x, double* v, double* beta,
                         double* alpha) {
  double mx[kHouseBatch], nrm[kHouseBatch];
  // Largest magnitudes and scaled vectors.
  for (std::size_t r = 0; r < kk; ++r) {
    const double* xr = x[r];
    double m = std::fabs(xr[0]);
    for (std::size_t i = 1; i < nn; ++i) {
      const double a = std::fabs(xr[i]);
      if (a > m) m = a;
    }
    mx[r] = m;
    if (m > 0.0) {
      double* vr = v + r * nn;
      for (std::size_t i = 0; i < nn; ++i) vr[i] = xr[i] / m;
    }
  }
  // Norms (the reference DNRM2's arithmetic, inline: a few elements each).
  for (std::size_t r = 0; r < kk; ++r) nrm[r] = mx[r] > 0.0 ? kernel::nrm2(nn, v + r * nn) : 0.0;
  // The reflectors.
  for (std::size_t r = 0; r < kk; ++r) {
    double* vr = v + r * nn;
    const double m = mx[r];
    if (m > 0.0) {
      const double s = x[r][0] >= 0.0 ? 1.0 : -1.0;
      alpha[r] = -(s * m * nrm[r]);
      beta[r] = 1.0 / ((std::fabs(vr[0]) + nrm[r]) * nrm[r]);
      vr[0] = s * nrm[r] + vr[0];
    } else {
      beta[r] = 0.0;
      for (std::size_t i = 0; i < nn; ++i) vr[i] = 0.0;
      alpha[r] = 0.0;
    }
  }
}

template <class Count, class Len>
inline void houseapl_steps(Count kk, Len mm, const int* ncol, double* const* a,
                           std::ptrdiff_t lda, const double* beta, const double* v, double* w) {
  // w_r = A_r' v_r for every matrix first.
  double* wr = w;
  for (std::size_t r = 0; r < kk; ++r) {
    const std::size_t nc = static_cast<std::size_t>(ncol[r] > 0 ? ncol[r] : 0);
    if (beta[r] != 0.0) {
      const double* vr = v + r * mm;
      for (std::size_t j = 0; j < nc; ++j) {
        const double* aj = a[r] + static_cast<std::ptrdiff_t>(j) * lda;
        double s = 0.0;
        for (std::size_t i = 0; i < mm; ++i) s += aj[i] * vr[i];
        wr[j] = s;
      }
    }
    wr += nc;
  }
  // Then the rank-one updates (the reference DGER's arithmetic, inline).
  wr = w;
  for (std::size_t r = 0; r < kk; ++r) {
    if (beta[r] != 0.0)
      kernel::ger<true>(mm, ncol[r], -beta[r], v + r * mm, wr, a[r], lda);  // wr = A_r' v_r
    wr += static_cast<std::size_t>(ncol[r] > 0 ? ncol[r] : 0);
  }
}

// Scratch of the update, sized once for the largest call and reused.
struct TrqrWork {
  std::vector<double> w;    // the stacked array W, (m + n) x (n + p)
  std::vector<double> v;    // one reflector, m + 1 elements
  std::vector<double> wv;   // A'v in HOUSEAPL, n + p elements
  // Room for updates with up to m rows, order n and p right-hand sides.
  void reserve(int n, int m, int p) {
    const std::size_t nn = n > 0 ? static_cast<std::size_t>(n) : 0;
    const std::size_t mm = m > 0 ? static_cast<std::size_t>(m) : 0;
    const std::size_t cols = nn + (p > 0 ? static_cast<std::size_t>(p) : 0);
    if (w.size() < (mm + nn) * cols) w.resize((mm + nn) * cols, 0.0);
    if (v.size() < mm + 1) v.resize(mm + 1, 0.0);
    if (wv.size() < cols) wv.resize(cols, 0.0);
  }
};

// The reflector sweep on an already stacked W (leading dimension ldw >= m + n,
// n + p columns): rows 0 .. m-1 hold [C | D], rows m .. m+n-1 hold [R | B].
// Entries of the R part below its diagonal are never read.  On return rows
// 0 .. n-1 hold [R~ | B~] in their upper part.  m >= 1; ws reserved for
// (n, m, p).
void TRQRSWEEP(int n, int m, int p, double* w, std::ptrdiff_t ldw, TrqrWork& ws);

// Appends the m rows [C | D] (leading dimension m) to R (upper triangle of
// a, n x n, leading dimension n) and B (n x p, leading dimension n).  m = 0
// leaves a and b unchanged.  The strictly lower part of a has no meaning on
// return.  Arguments are not validated (n, m, p >= 0).
void TRQRUPD(int n, int m, int p, double* a, double* b, const double* c, const double* d,
             TrqrWork& ws);

}  // namespace quorvex
