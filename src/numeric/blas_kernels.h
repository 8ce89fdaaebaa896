// Inline copies of the reference BLAS/LAPACK routines the fits call once per
// point on operands of one to a few elements.
//
// A call of the Fortran routine on three numbers costs more in argument
// checks (LSAME on every character argument) and call overhead than in
// arithmetic.  These copies perform exactly the reference routine's
// operations in its order, for unit strides, so their results are the same
// bits; tests/test_blas_kernels.cpp holds them to that against the linked
// library.  Calls whose operands grow with the problem stay library calls.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvex::kernel {

namespace detail {

// a with its quiet bit set (a is a NaN).
inline double quiet(double a) {
  std::uint64_t u;
  std::memcpy(&u, &a, sizeof u);
  u |= std::uint64_t{1} << 51;
  std::memcpy(&a, &u, sizeof u);
  return a;
}

// a * b and a + b as the compiled reference computes them, with a in the
// destination register: when both operands are NaNs the result is a's
// (quieted), as SSE2 arithmetic gives it.  Otherwise a NaN result is the
// operand's NaN or the default NaN either way.  The compiler may commute a
// plain product or sum, so the rare NaN result is resolved explicitly.
inline double mul(double a, double b) {
  const double p = a * b;
  if (p == p) return p;
  if (a != a) return quiet(a);
  if (b != b) return quiet(b);
  return p;
}
inline double add(double a, double b) {
  const double s = a + b;
  if (s == s) return s;
  if (a != a) return quiet(a);
  if (b != b) return quiet(b);
  return s;
}

}  // namespace detail

// Euclidean norm of x[0 .. n-1]: the three-accumulator scaled sum of
// reference DNRM2 (the LAPACK 3.10+ version).  Squares above tbig are
// summed scaled down by sbig, those below tsml scaled up by ssml (and
// dropped once a big value has been seen), the others unscaled; the sums
// are combined as the reference does.  The constants are exact powers of
// two for IEEE double: tsml = 2^-511, tbig = 2^486, ssml = 2^537,
// sbig = 2^-538.
template <class N>
inline double nrm2(N n, const double* x) {
  constexpr double tsml = 0x1p-511, tbig = 0x1p486, ssml = 0x1p537, sbig = 0x1p-538;
  constexpr double maxn = 1.7976931348623157e308;
  if (static_cast<std::ptrdiff_t>(n) <= 0) return 0.0;
  bool notbig = true;
  double asml = 0.0, amed = 0.0, abig = 0.0;
  // The three sums; Add is the addition used.  Only a NaN element makes amed
  // a NaN, and only then can two NaNs meet in one sum.
  auto sums = [&](auto add) {
    notbig = true;
    asml = amed = abig = 0.0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
      const double ax = std::fabs(x[i]);
      if (ax > tbig) {
        const double t = ax * sbig;
        abig = add(abig, t * t);
        notbig = false;
      } else if (ax < tsml) {
        if (notbig) {
          const double t = ax * ssml;
          asml = add(asml, t * t);
        }
      } else {
        amed = add(amed, ax * ax);
      }
    }
  };
  sums([](double a, double b) { return a + b; });
  if (amed != amed) sums(detail::add);
  double scl, sumsq;
  if (abig > 0.0) {
    if (amed > 0.0 || amed > maxn || amed != amed) abig = abig + (amed * sbig) * sbig;
    scl = 1.0 / sbig;
    sumsq = abig;
  } else if (asml > 0.0) {
    if (amed > 0.0 || amed > maxn || amed != amed) {
      amed = std::sqrt(amed);
      asml = std::sqrt(asml) / ssml;
      double ymin, ymax;
      if (asml > amed) {
        ymin = amed;
        ymax = asml;
      } else {
        ymin = asml;
        ymax = amed;
      }
      scl = 1.0;
      const double r = ymin / ymax;
      sumsq = (ymax * ymax) * (1.0 + r * r);
    } else {
      scl = 1.0 / ssml;
      sumsq = asml;
    }
  } else {
    scl = 1.0;
    sumsq = amed;
  }
  return scl * std::sqrt(sumsq);
}

// A := alpha x y' + A for the m x n matrix A (leading dimension lda), unit
// strides: reference DGER's column loop, which skips columns with y(j) = 0
// and adds x(i) * (alpha y(j)) down each column.
//
// Plain arithmetic gives the reference's bits except where two NaNs meet in
// one operation; only a column whose results hold a NaN can have met them,
// and those rows are redone from the unchanged column with the reference's
// NaN order.  YFromDots: the caller guarantees y(j) = sum of A(i, j) x(i)
// formed from this very A and x, so that a NaN in x or in column j makes
// y(j), and with it alpha y(j), a NaN; then a column whose alpha y(j) is not a
// NaN is done in plain arithmetic without looking at its results.
template <bool YFromDots = false, class M, class N>
inline void ger(M m, N n, double alpha, const double* x, const double* y, double* a,
                std::ptrdiff_t lda) {
  const std::size_t mm = static_cast<std::size_t>(m), nn = static_cast<std::size_t>(n);
  if (static_cast<std::ptrdiff_t>(m) <= 0 || static_cast<std::ptrdiff_t>(n) <= 0 || alpha == 0.0)
    return;
  constexpr std::size_t kRows = 8;  // rows updated per pass
  for (std::size_t j = 0; j < nn; ++j) {
    if (y[j] != 0.0) {
      const double temp = detail::mul(y[j], alpha);
      double* aj = a + static_cast<std::ptrdiff_t>(j) * lda;
      if (YFromDots && temp == temp) {
        for (std::size_t i = 0; i < mm; ++i) aj[i] = x[i] * temp + aj[i];
        continue;
      }
      for (std::size_t i0 = 0; i0 < mm; i0 += kRows) {
        const std::size_t len = mm - i0 < kRows ? mm - i0 : kRows;
        double s[kRows];
        bool nan = false;
        for (std::size_t i = 0; i < len; ++i) {
          s[i] = x[i0 + i] * temp + aj[i0 + i];
          nan |= s[i] != s[i];
        }
        if (!nan) {
          for (std::size_t i = 0; i < len; ++i) aj[i0 + i] = s[i];
        } else {
          for (std::size_t i = 0; i < len; ++i)
            aj[i0 + i] = detail::add(detail::mul(x[i0 + i], temp), aj[i0 + i]);
        }
      }
    }
  }
}

// x := inv(op(L)) x for L lower triangular, non-unit diagonal, packed by
// columns (ap), unit stride: reference DTPSV with UPLO 'L'.  trans 'N'
// solves L x = b forward (skipping zero elements of x), any other value
// L' x = b backward.
inline void tpsv_lower(char trans, std::size_t n, const double* ap, double* x) {
  if (n == 0) return;
  if (trans == 'N' || trans == 'n') {
    std::size_t kk = 0;  // position of L(j, j)
    for (std::size_t j = 0; j < n; ++j) {
      if (x[j] != 0.0) {
        x[j] = x[j] / ap[kk];
        const double temp = x[j];
        std::size_t k = kk + 1;
        for (std::size_t i = j + 1; i < n; ++i, ++k) x[i] = x[i] - detail::mul(ap[k], temp);
      }
      kk += n - j;
    }
  } else {
    std::size_t kk = n * (n + 1) / 2 - 1;  // last element of column j
    for (std::size_t j = n; j-- > 0;) {
      double temp = x[j];
      std::size_t k = kk;
      for (std::size_t i = n - 1; i > j; --i, --k) temp = temp - detail::mul(ap[k], x[i]);
      temp = temp / ap[kk - (n - 1 - j)];
      x[j] = temp;
      kk -= n - j;
    }
  }
}

// Reference DTPTRS with UPLO 'L', DIAG 'N' for valid arguments: returns k > 0
// (1-based) if L(k, k) = 0, before anything is changed; otherwise solves the
// nrhs columns of b (leading dimension ldb) with tpsv_lower and returns 0.
inline int tptrs_lower(char trans, std::size_t n, std::size_t nrhs, const double* ap, double* b,
                       std::ptrdiff_t ldb) {
  if (n == 0) return 0;
  std::size_t jc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (ap[jc] == 0.0) return static_cast<int>(i) + 1;
    jc += n - i;
  }
  for (std::size_t j = 0; j < nrhs; ++j)
    tpsv_lower(trans, n, ap, b + static_cast<std::ptrdiff_t>(j) * ldb);
  return 0;
}

}  // namespace quorvex::kernel
