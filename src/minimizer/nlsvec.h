// Small vector kernels shared by the minimizer's routines.
//
// Sums run from the first element to the last in double precision, so a sum
// of squares or a directional derivative has the same value wherever it is
// formed.  Euclidean norms that are reported or compared with tolerances go
// through quorvex::nrm2 instead.
#pragma once

#include <cstddef>

namespace quorvex {

// sum_i a(i)^2
inline double sumsq(std::size_t n, const double* a) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += a[i] * a[i];
  return s;
}

// sum_i a(i) b(i)
inline double dot(std::size_t n, const double* a, const double* b) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

}  // namespace quorvex
