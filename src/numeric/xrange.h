// Smallest and largest element of a set of abscissae, as the range tests
// against a curve's interval need them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>

namespace quorvex {

// xlo, xhi: the smallest and largest of x(1..n), NaNs skipped (they compare
// false); the largest finite double and its negative when there is none.
// Four interleaved runs, merged at the end, keep the comparisons independent;
// minimum and maximum are exact, so the order does not change the result.
inline void XRANGE(std::size_t n, const double* x, double& xlo, double& xhi) {
  constexpr double big = std::numeric_limits<double>::max();
  double lo[4] = {big, big, big, big}, hi[4] = {-big, -big, -big, -big};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    for (std::size_t k = 0; k < 4; ++k) {
      if (x[i + k] < lo[k]) lo[k] = x[i + k];
      if (x[i + k] > hi[k]) hi[k] = x[i + k];
    }
  }
  for (; i < n; ++i) {
    if (x[i] < lo[0]) lo[0] = x[i];
    if (x[i] > hi[0]) hi[0] = x[i];
  }
  xlo = std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3]));
  xhi = std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3]));
}

}  // namespace quorvex
