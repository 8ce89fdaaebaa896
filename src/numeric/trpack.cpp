// Conversion between a packed upper triangle and its full n x n array.  The
// packed vector walks R row by row, each row from its diagonal element:
//   AP = (R11, R12, ..., R1n, R22, ..., R2n, ..., Rnn).
#include "numeric/trpack.h"

#include <algorithm>

#include "numeric/colmajor.h"

namespace quorvex {

void TRPACK(bool unpack, int n, double* ap, double* r) {
  const std::size_t nn = count(n);
  if (nn == 0) return;
  const ColMajor<double> a(r, static_cast<std::ptrdiff_t>(nn));
  if (unpack) {
    std::fill(r, r + nn * nn, 0.0);
    for (std::size_t i = 0; i < nn; ++i)
      for (std::size_t j = i; j < nn; ++j) a(i, j) = ap[packed_index(nn, i, j)];
  } else {
    for (std::size_t i = 0; i < nn; ++i)
      for (std::size_t j = i; j < nn; ++j) ap[packed_index(nn, i, j)] = a(i, j);
  }
}

}  // namespace quorvex
