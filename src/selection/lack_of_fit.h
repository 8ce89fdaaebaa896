// The lack-of-fit F test of a fit to standards with replicate x values.
#pragma once

namespace quorvex::lab {

struct LackOfFitTest {
  bool applies = false;  // replicates, and more distinct x than coefficients
  double ss_lack = 0.0, ss_pure = 0.0, f = 0.0, p = 0.0;
  int dof_lack = 0, dof_pure = 0, groups = 0;
};

// The test of an ordinary fit with NCOEF coefficients and weighted residual
// sum of squares chi2 to (x, y) with weights w.
LackOfFitTest lack_of_fit(int npts, const double* x, const double* y, const double* w, int ncoef,
                          double chi2);

}  // namespace quorvex::lab
