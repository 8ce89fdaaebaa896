// Products with a block-angular matrix A = [D | JB] and its transpose, where
// row group k (idx(k,2) consecutive rows) has its block entries jd in column
// block idx(k,1) and every row has its border entries jb:
//   'N': y = A x  (group rows assigned from their block, then border added);
//   'T': x = A' y (border part over all rows, block parts accumulated per
//        group, so groups sharing a block add up).
// Cost O(m (ncd + ncb) nrhs); A is never formed.
#include "gls/baprod.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "numeric/colmajor.h"

namespace quorvex {

namespace {

// Rows per chunk of the border sums in the 'N' product.
constexpr std::size_t kChunk = 256;

// s(q) = sum over the rows i of e(i, l + q) y(i), q < L, each summed from 0
// in increasing i.
template <std::size_t L>
void border_sums(std::size_t mm, const ColMajor<const double>& e, std::size_t l, const double* y,
                 double* s) {
  double acc[L] = {};
  const double* el[L];
  for (std::size_t q = 0; q < L; ++q) el[q] = e.col(static_cast<std::ptrdiff_t>(l + q));
  for (std::size_t i = 0; i < mm; ++i)
    for (std::size_t q = 0; q < L; ++q) acc[q] += el[q][i] * y[i];
  for (std::size_t q = 0; q < L; ++q) s[q] = acc[q];
}

// The same for a border holding only the odd rows, e(i, l) being row 2i + 1;
// the even rows add 0 * y in their place.
template <std::size_t L>
void odd_border_sums(std::size_t mm, const ColMajor<const double>& e, std::size_t l,
                     const double* y, double* s) {
  double acc[L] = {};
  const double* el[L];
  for (std::size_t q = 0; q < L; ++q) el[q] = e.col(static_cast<std::ptrdiff_t>(l + q));
  for (std::size_t k = 0; 2 * k < mm; ++k) {
    for (std::size_t q = 0; q < L; ++q) acc[q] += 0.0 * y[2 * k];
    for (std::size_t q = 0; q < L; ++q) acc[q] += el[q][k] * y[2 * k + 1];
  }
  for (std::size_t q = 0; q < L; ++q) s[q] = acc[q];
}

// Calls f(c, r, n) for each row group in order: its block number c, its
// first row r and its count of rows n.
template <class F>
void for_each_group(std::size_t ng, const int* idx, F&& f) {
  std::size_t r = 0;
  for (std::size_t k = 0; k < ng; ++k) {
    const std::size_t n = static_cast<std::size_t>(idx[ng + k]);
    f(idx[k], r, n);
    r += n;
  }
}

}  // namespace

void BAPROD(char trans, int nb, int ncd, int ncb, int nblk, int m, int nrhs, const int* idx,
            const double* jd, const double* jb, double* xv, double* yv, int& info,
            bool odd_border) {
  const bool notrans = trans == 'N' || trans == 'n';
  if (!notrans && trans != 'T' && trans != 't') { info = -1; return; }
  if (nb < 0) { info = -2; return; }
  if (ncd < 0) { info = -3; return; }
  if (ncb < 0) { info = -4; return; }
  if (m < 0) { info = -6; return; }
  if (nrhs < 0) { info = -7; return; }
  if (odd_border && m % 2 != 0) { info = -6; return; }
  // The row groups must stay inside the matrix: a block number 0..nb (0 for
  // rows without a block part), no negative row count, at most m rows.
  const std::size_t ng = count(nblk);
  {
    std::ptrdiff_t rows = 0;
    for (std::size_t k = 0; k < ng; ++k) {
      const int c = idx[k], n = idx[ng + k];
      if (c < 0 || c > nb || n < 0) { info = -8; return; }
      rows += n;
    }
    if (rows > m) { info = -8; return; }
  }
  info = 0;

  const std::size_t mm = count(m), nd = count(ncd), ne = count(ncb), nr = count(nrhs);
  const std::size_t nx = count(nb) * nd + ne;  // rows of xv
  const std::size_t nbd = count(nb) * nd;      // first border row of xv
  const ColMajor<const double> d(jd, static_cast<std::ptrdiff_t>(mm));
  const ColMajor<const double> e(jb, static_cast<std::ptrdiff_t>(odd_border ? mm / 2 : mm));

  if (notrans) {
    const ColMajor<const double> x(xv, static_cast<std::ptrdiff_t>(nx));
    const ColMajor<double> y(yv, static_cast<std::ptrdiff_t>(mm));
    std::fill(yv, yv + mm * nr, 0.0);
    // Group rows from their column block.
    for_each_group(ng, idx, [&](int c, std::size_t r, std::size_t n) {
      if (c <= 0) return;
      const std::size_t xc = static_cast<std::size_t>(c - 1) * nd;
      for (std::size_t b = 0; b < nr; ++b) {
        for (std::size_t a = r; a < r + n; ++a) {
          double s = 0.0;
          for (std::size_t l = 0; l < nd; ++l) s += d(a, l) * x(xc + l, b);
          y(a, b) = s;
        }
      }
    });
    // Border columns for every row, each row's sum formed before it is added.
    double s[kChunk];
    for (std::size_t b = 0; b < nr; ++b) {
      for (std::size_t i0 = 0; i0 < mm; i0 += kChunk) {
        const std::size_t len = std::min(kChunk, mm - i0);
        std::fill(s, s + len, 0.0);
        for (std::size_t l = 0; l < ne; ++l) {
          const double xl = x(nbd + l, b);
          if (odd_border) {
            // Chunks start at even rows (kChunk is even).
            const double* el = e.col(l) + i0 / 2;
            for (std::size_t i = 0; i < len; ++i) s[i] += (i % 2 != 0 ? el[i / 2] : 0.0) * xl;
          } else {
            const double* el = e.col(l) + i0;
            for (std::size_t i = 0; i < len; ++i) s[i] += el[i] * xl;
          }
        }
        double* yb = y.col(b) + i0;
        for (std::size_t i = 0; i < len; ++i) yb[i] = yb[i] + s[i];
      }
    }
  } else {
    const ColMajor<double> x(xv, static_cast<std::ptrdiff_t>(nx));
    const ColMajor<const double> y(yv, static_cast<std::ptrdiff_t>(mm));
    std::fill(xv, xv + nx * nr, 0.0);
    // Border part over all rows, up to four columns at a time (each sum still
    // runs over the rows in order; the columns only share the pass).
    for (std::size_t b = 0; b < nr; ++b) {
      const double* yb = y.col(b);
      std::size_t l = 0;
      if (odd_border) {
        for (; l + 4 <= ne; l += 4) odd_border_sums<4>(mm, e, l, yb, &x(nbd + l, b));
        switch (ne - l) {
          case 3: odd_border_sums<3>(mm, e, l, yb, &x(nbd + l, b)); break;
          case 2: odd_border_sums<2>(mm, e, l, yb, &x(nbd + l, b)); break;
          case 1: odd_border_sums<1>(mm, e, l, yb, &x(nbd + l, b)); break;
          default: break;
        }
        continue;
      }
      for (; l + 4 <= ne; l += 4) border_sums<4>(mm, e, l, yb, &x(nbd + l, b));
      switch (ne - l) {
        case 3: border_sums<3>(mm, e, l, yb, &x(nbd + l, b)); break;
        case 2: border_sums<2>(mm, e, l, yb, &x(nbd + l, b)); break;
        case 1: border_sums<1>(mm, e, l, yb, &x(nbd + l, b)); break;
        default: break;
      }
    }
    // Block parts, accumulated group by group.
    for_each_group(ng, idx, [&](int c, std::size_t r, std::size_t n) {
      if (c <= 0) return;
      const std::size_t xc = static_cast<std::size_t>(c - 1) * nd;
      for (std::size_t b = 0; b < nr; ++b) {
        for (std::size_t l = 0; l < nd; ++l) {
          double s = 0.0;
          for (std::size_t a = r; a < r + n; ++a) s += d(a, l) * y(a, b);
          x(xc + l, b) = x(xc + l, b) + s;
        }
      }
    });
  }
}

}  // namespace quorvex
