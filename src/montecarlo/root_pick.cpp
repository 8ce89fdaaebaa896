// The root a draw contributes.  A drawn curve near a turning point may have
// a second root at the far side of it; the draw contributes the root nearest
// the first-order estimate (the fitted curve's first root), so that the
// distribution describes the branch the sample was read on.  Where the
// fitted curve has no root, there is no branch to follow: the draw's first
// root.  A draw without a root contributes nothing (its share is reported).
#include "montecarlo/root_pick.h"

#include <cmath>
#include <limits>

namespace quorvex::lab {

double pick_root(const double* roots, int nroot, double ref) {
  if (nroot <= 0) return std::numeric_limits<double>::quiet_NaN();
  if (nroot == 1 || std::isnan(ref)) return roots[0];
  int best = 0;
  double dist = std::abs(roots[0] - ref);
  for (int j = 1; j < nroot; ++j) {
    const double d = std::abs(roots[j] - ref);
    if (d < dist) {
      dist = d;
      best = j;
    }
  }
  return roots[best];
}

}  // namespace quorvex::lab
