// Which root of a drawn curve a Monte Carlo draw contributes.
#pragma once

namespace quorvex::lab {

// roots[0..nroot) in increasing order; ref the first-order x (NaN where the
// fitted curve has no root).  Returns the root nearest ref (the first of
// equally near ones), the first root where ref is NaN, NaN for no root.
double pick_root(const double* roots, int nroot, double ref);

}  // namespace quorvex::lab
