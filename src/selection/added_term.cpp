// The significance of terms added to a weighted least-squares curve.
//
// Two nested curves fitted to the same standards with the same weights, the
// higher one with `added` more coefficients:
//   stated uncertainties (they set the scale): Delta chi2 = chi2_lower -
//     chi2_higher follows chi-squared with `added` degrees of freedom when the
//     lower curve is right;
//   scale from the scatter: the extra-sum-of-squares F (Draper and Smith,
//     Applied Regression Analysis, 6.2)
//       F = (Delta chi2 / added) / (chi2_higher / dof_higher)
//     against F(added, dof_higher).  For one added term (a straight line
//     against a parabola) this is Mandel's fitting test of ISO 8466-1 and
//     DIN 38402-51, the test value PG = (dof_1 s_1^2 - dof_2 s_2^2) / s_2^2.
#include "selection/added_term.h"

#include <algorithm>
#include <limits>

#include "stats/distributions.h"

namespace quorvex::lab {

AddedTerm added_term_test(double chi2_lower, double chi2_higher, int added, int dof_higher,
                          bool stated) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  AddedTerm t{kNaN, kNaN};
  const double diff = std::max(chi2_lower - chi2_higher, 0.0);
  if (stated) {
    t.statistic = diff;
    t.p = upper_tail(Dist::ChiSquared, diff, added);
  } else if (dof_higher > 0 && chi2_higher > 0.0) {
    t.statistic = (diff / added) / (chi2_higher / dof_higher);
    t.p = upper_tail(Dist::F, t.statistic, added, dof_higher);
  }
  return t;
}

}  // namespace quorvex::lab
