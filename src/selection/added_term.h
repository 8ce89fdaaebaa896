// The test of terms added to a calibration curve: does the curve of the
// next-higher degree fit significantly better?  Shared by the degree
// selection and the verdict's test of the curve's shape.
#pragma once

namespace quorvex::lab {

struct AddedTerm {
  double statistic;  // Delta chi2 (stated) or F; NaN where the test cannot run
  double p;          // its p-value; NaN where the test cannot run
};

// chi2_lower, chi2_higher: the sums of squared weighted residuals of the two
// curves; added: the number of terms added (>= 1); dof_higher: the degrees of
// freedom of the higher curve.  With stated uncertainties Delta chi2 =
// chi2_lower - chi2_higher (at least 0) against chi2 with `added` degrees of
// freedom; otherwise the extra-sum-of-squares F = (Delta chi2 / added) /
// (chi2_higher / dof_higher) against F(added, dof_higher), which needs
// dof_higher > 0 and chi2_higher > 0.
AddedTerm added_term_test(double chi2_lower, double chi2_higher, int added, int dof_higher,
                          bool stated);

}  // namespace quorvex::lab
