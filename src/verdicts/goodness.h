// Goodness of fit: the chi-squared test of stated uncertainties, the
// lack-of-fit F test from replicate standards, and the verdict of one test
// at its level.
#pragma once

#include "verdicts/fit_record.h"

namespace quorvex::lab {

// Verdict thresholds that do not depend on the criteria.
inline constexpr double kAlphaDoubt = 0.05;  // below: "doubtful"
inline constexpr double kAlphaSmall = 0.01;  // 1 - p below: scatter much smaller

// P(chi2_dof >= chi2), NaN without stated uncertainties or degrees of freedom.
double chi2_p_value(const FitRecord& f);

struct LackOfFit {
  bool applies = false;  // ordinary fit with replicates and enough levels
  double ss_lack = 0.0, ss_pure = 0.0, f = 0.0, p = 0.0;
  int dof_lack = 0, dof_pure = 0, groups = 0;
};
LackOfFit lack_of_fit(const FitRecord& f);

enum class Result { NotTested = 0, Pass = 1, Doubtful = 2, Fail = 3, Warn = 4 };

// One test at level alpha: fail at p < alpha, doubtful below
// max(0.05, alpha), else pass.  `small` says 1 - p < 0.01: the scatter is
// much smaller than the model allows.
Result test_verdict(double p, double alpha, bool* small = nullptr);

}  // namespace quorvex::lab
