// The covariance V of the standards' (x, y) built from what a laboratory
// writes down: named common sources with independent parts, and dilution
// chains (see QVXL_GGM_COMPONENTS and QVXL_GGM_DILUTION in quorvex_lab.h).
#pragma once

namespace quorvex::lab {

// V (2n x 2n) = [add ? V : 0] + diag(uxind^2, uyind^2) + sum_s u_s u_s',
// u_s = (uxsrc(., s), uysrc(., s)).  Status 0, 3, 4, 5.
int GGM_COMPONENTS(int n, int nsrc, const double* uxind, const double* uyind,
                   const double* uxsrc, const double* uysrc, int add, double* v);

// The x block of V (2n x 2n): [add ? V : 0] + x_i x_j (rstock^2 + sum of
// rel_k^2 over the preparation steps k that i and j share).  bad: the first
// standard of a chain that does not reach the stock.  Status 0, 3, 4, 5, 94.
int GGM_DILUTION(int n, const double* x, const int* parent, const double* rel, double rstock,
                 int add, double* v, int* bad);

}  // namespace quorvex::lab
