// Goodness of fit: the chi-squared test of stated uncertainties, the
// lack-of-fit F test from replicate standards, the test of the curve's shape
// without them, and the verdict of one test at its level.
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

// The test of the curve's shape the verdict runs, in order of preference:
// the lack-of-fit F test where standards are replicated; without replicates
// the test of the next-higher term (Mandel's F test where the scatter sets
// the scale, Delta chi2 where stated uncertainties do); none for errors in
// variables, or where the next-higher curve cannot be fitted with degrees of
// freedom left.  The codes are the verdict's DETAIL of its shape row.
enum ShapeKind {
  kShapeLackOfFit = 0,
  kShapeNoneErrorsInVariables = 1,
  kShapeNone = 2,
  kShapeMandel = 3,
  kShapeAddedChi2 = 4,
};

struct ShapeTest {
  int kind = kShapeNone;
  double statistic = 0.0, p = 0.0;  // F or Delta chi2 and its p-value; NaN for none
  bool applies() const { return kind == kShapeLackOfFit || kind >= kShapeMandel; }
};
// `lof` the fit's lack-of-fit test (lack_of_fit(f)).
ShapeTest shape_test(const FitRecord& f, const LackOfFit& lof);

enum class Result { NotTested = 0, Pass = 1, Doubtful = 2, Fail = 3, Warn = 4 };

// One test at level alpha: fail at p < alpha, doubtful below
// max(0.05, alpha), else pass.  `small` says 1 - p < 0.01: the scatter is
// much smaller than the model allows.
Result test_verdict(double p, double alpha, bool* small = nullptr);

}  // namespace quorvex::lab
