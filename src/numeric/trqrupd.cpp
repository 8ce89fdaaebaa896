// Householder reflectors and the update of a triangular factor by new rows.
#include "numeric/trqrupd.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "numeric/colmajor.h"
#include "numeric/lapack.h"

namespace quorvex {

// HOUSEG and HOUSEAPL are the batched steps for one reflector: the same
// operations in the same order.
using One = std::integral_constant<std::size_t, 1>;

void HOUSEG(int n, const double* x, double& beta, double* v, double& alpha) {
  houseg_steps(One(), count(n), &x, v, &beta, &alpha);
}

void HOUSEAPL(int m, int n, double* a, std::ptrdiff_t lda, double beta, const double* v,
              double* w) {
  houseapl_steps(One(), count(m), &n, &a, lda, &beta, v, w);
}

void houseg_batch(int k, int n, const double* const* x, double* v, double* beta, double* alpha) {
  if (n == 3)
    houseg_steps(count(k), std::integral_constant<std::size_t, 3>(), x, v, beta, alpha);
  else
    houseg_steps(count(k), count(n), x, v, beta, alpha);
}

void houseapl_batch(int k, int m, const int* ncol, double* const* a, std::ptrdiff_t lda,
                    const double* beta, const double* v, double* w) {
  if (m == 3)
    houseapl_steps(count(k), std::integral_constant<std::size_t, 3>(), ncol, a, lda, beta, v, w);
  else
    houseapl_steps(count(k), count(m), ncol, a, lda, beta, v, w);
}

void TRQRSWEEP(int n, int m, int p, double* w, std::ptrdiff_t ldw, TrqrWork& ws) {
  const std::ptrdiff_t nn = count(n), ncol = nn + static_cast<std::ptrdiff_t>(count(p));
  const std::ptrdiff_t mm = count(m);
  double* v = ws.v.data();
  double* wv = ws.wv.data();
  for (std::ptrdiff_t k = 0; k < nn; ++k) {
    // Reflector for rows k .. k+m of column k.
    double* wk = w + k * ldw + k;
    double beta, alpha;
    houseg_steps(One(), count(m + 1), &wk, v, &beta, &alpha);
    wk[0] = alpha;
    for (std::ptrdiff_t i = 1; i <= mm; ++i) wk[i] = 0.0;
    // Apply it to the columns on the right, right-hand sides included.
    if (k + 1 < ncol)
      HOUSEAPL(m + 1, static_cast<int>(ncol - k - 1), wk + ldw, ldw, beta, v, wv);
  }
}

void TRQRUPD(int n, int m, int p, double* a, double* b, const double* c, const double* d,
             TrqrWork& ws) {
  if (m <= 0) return;
  const std::size_t nn = count(n), mm = count(m), pp = count(p);
  const std::ptrdiff_t ldw = static_cast<std::ptrdiff_t>(mm + nn);
  ws.reserve(n, m, p);
  const ColMajor<double> w(ws.w.data(), ldw);
  std::fill(ws.w.begin(), ws.w.begin() + static_cast<std::ptrdiff_t>((mm + nn) * (nn + pp)), 0.0);

  // Stack [C D; R B].
  for (std::size_t j = 0; j < nn; ++j) {
    std::copy(c + j * mm, c + (j + 1) * mm, w.col(j));
    std::copy(a + j * nn, a + (j + 1) * nn, w.col(j) + mm);
  }
  for (std::size_t j = 0; j < pp; ++j) {
    std::copy(d + j * mm, d + (j + 1) * mm, w.col(nn + j));
    std::copy(b + j * nn, b + (j + 1) * nn, w.col(nn + j) + mm);
  }

  TRQRSWEEP(n, m, p, ws.w.data(), ldw, ws);

  // [R~ B~] are the first n rows.
  for (std::size_t j = 0; j < nn; ++j) std::copy(w.col(j), w.col(j) + nn, a + j * nn);
  for (std::size_t j = 0; j < pp; ++j) std::copy(w.col(nn + j), w.col(nn + j) + nn, b + j * nn);
}

}  // namespace quorvex
