// The scaled polynomial: a Chebyshev series of the first kind in
//   t = ((x - xmin) - (xmax - x)) / (xmax - xmin),
// which maps [xmin, xmax] onto [-1, 1], the first coefficient at half weight:
//   p(x) = a1/2 + a2 T1(t) + ... + an T_{n-1}(t).
// These routines do not check their arguments; the checked forms are in
// curveval.h.
#pragma once

#include <cstddef>

namespace quorvex {

// Scaled variable t of x; not clamped, so x outside the interval gives |t| > 1.
inline double XSCALE(double xmin, double xmax, double x) {
  return ((x - xmin) - (xmax - x)) / (xmax - xmin);
}

// Basis rows at L abscissae x[0 .. L-1] at once: put(k, phi) for k = 0 ..
// ncoef-1 in turn, phi[l] = phi_{k+1}(x[l]), phi_1 = 0.5, phi_2 = t,
// phi_k = T_{k-1}(t) by the recurrence T_j = 2t T_{j-1} - T_{j-2} on the
// unhalved T_0 = 1.  Every basis value of the library comes from here, so a
// row formed twice is the same bits; the rows are independent, so several
// at once overlap their recurrences.
template <std::size_t L, class Put>
inline void CHEBROWS(int ncoef, double xmin, double xmax, const double* x, Put&& put) {
  double phi[L], t2[L], tm2[L], tm1[L];
  for (std::size_t l = 0; l < L; ++l) phi[l] = 0.5;
  put(0, static_cast<const double*>(phi));
  if (ncoef < 2) return;
  for (std::size_t l = 0; l < L; ++l) {
    const double t = XSCALE(xmin, xmax, x[l]);
    phi[l] = t;
    t2[l] = 2.0 * t;
    tm2[l] = 1.0;
    tm1[l] = t;
  }
  put(1, static_cast<const double*>(phi));
  for (int j = 2; j < ncoef; ++j) {
    for (std::size_t l = 0; l < L; ++l) {
      phi[l] = t2[l] * tm1[l] - tm2[l];
      tm2[l] = tm1[l];
      tm1[l] = phi[l];
    }
    put(j, static_cast<const double*>(phi));
  }
}

// The basis row at one abscissa: put(k, phi_{k+1}(x)).
template <class Put>
inline void CHEBROW(int ncoef, double xmin, double xmax, double x, Put&& put) {
  CHEBROWS<1>(ncoef, xmin, xmax, &x, [&](int j, const double* phi) { put(j, phi[0]); });
}

// Basis matrix: basis(i, k) = phi_k(x(i)), phi_1 = 0.5, phi_2 = t, phi_k = T_{k-1}(t).
// Column-major with leading dimension ldb >= npts; requires ncoef >= 1.
void CHEBBASIS(int ncoef, double xmin, double xmax, int npts, const double* x, double* basis,
               int ldb);

// s = a(1)/2 + sum_{k=2..n} a(k) T_{k-1}(t), the coefficients inc apart.
// Clenshaw's recurrence, with Reinsch's modification near t = +-1 where the
// plain recurrence loses accuracy.  Every operation is written in the order
// the results depend on; the build turns off floating-point contraction.
// (Inline: it is summed once per point in every curve evaluation.)
inline double CHEBSUM(int n, double t, const double* a, std::ptrdiff_t inc) {
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

// Coefficients of dp/dx (with respect to x, not t) into d(1..n), d(n) = 0.
void CHEBDER(int n, double xmin, double xmax, const double* a, std::ptrdiff_t inca, double* d,
             std::ptrdiff_t incd);

}  // namespace quorvex
