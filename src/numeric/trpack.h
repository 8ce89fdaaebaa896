// Packed upper triangular factors.  An n x n upper triangle R is held as the
// lower triangle of R' packed by columns (LAPACK packed storage, UPLO = 'L'):
// the rows of R one after another, each from its diagonal element.
#pragma once

#include <cstddef>

namespace quorvex {

// Number of doubles in a packed triangle of order n.
inline constexpr std::size_t packed_size(std::size_t n) { return n * (n + 1) / 2; }

// Position of R(i, j), 0-based, i <= j, in the packed vector of order n.
inline std::size_t packed_index(std::size_t n, std::size_t i, std::size_t j) {
  return i * (2 * n - i + 1) / 2 + (j - i);
}

// unpack = true: r (n x n, column-major) = 0, then its upper triangle from ap.
// unpack = false: ap from the upper triangle of r (the lower part not read).
void TRPACK(bool unpack, int n, double* ap, double* r);

}  // namespace quorvex
