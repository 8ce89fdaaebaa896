// A laboratory's acceptance criteria: the level each statistical test runs
// at, and the verdict rule over the criteria.
#pragma once

#include "verdicts/back_calculation.h"
#include "verdicts/fit_record.h"
#include "verdicts/goodness.h"

namespace quorvex::lab {

// The criteria in their order (rows of the verdict, bits of the warn mask).
// kLackOfFit is the row of the curve's shape: the lack-of-fit test with
// replicates, the test of the next-higher term without (ShapeTest).
enum Criterion { kGoodness = 0, kLackOfFit = 1, kOutliers = 2, kBackCalculated = 3 };
inline constexpr int kCriteria = 4;
// The family level of the outlier threshold where that test does not apply.
inline constexpr double kFamilyAlpha = 0.05;

struct Levels {
  bool applies[3] = {false, false, false};  // goodness, shape, outliers
  double alpha[3];                           // NaN where the test does not apply
};

// Which statistical tests apply to the fit and the level of each: its own
// where the criteria give one, else an equal share of alpha among the tests
// that apply (Bonferroni).
Levels test_levels(const FitRecord& f, const Criteria& c, bool shape_applies);

struct VerdictRow {
  bool applies = false;
  double statistic = 0.0;  // chi2, F (or Delta chi2), largest |residual statistic|, share
  double limit = 0.0;      // p-value, p-value, threshold, share required
  double alpha = 0.0;      // the level used (NaN: none)
  Result result = Result::NotTested;
  int detail = 0;
};

// Goodness detail codes.
inline constexpr int kNoDof = 1, kNotStated = 2, kSmallScatter = 3;
// The shape row's detail: which test ran (ShapeKind in goodness.h).
// Overall verdicts and reasons.
inline constexpr int kNotFit = 0, kFit = 1, kFitWithWarnings = 2;
inline constexpr int kReasonNoDof = 16, kReasonConstant = 32;

struct Verdict {
  VerdictRow row[kCriteria];
  int overall = kNotFit;
  int reasons = 0;  // bit 1 << criterion for each that rejects; 16 no dof; 32 constant
};

struct Findings {
  double p_chi2;
  LackOfFit lof;
  ShapeTest shape;     // the test of the curve's shape that ran (or none)
  int outliers;        // standards whose residual is beyond the threshold
  double largest;      // the largest |residual statistic|
  double threshold;
  bool has_back;       // a curve of degree >= 1 was read back
  BackSummary back;
};

Verdict verdict_rule(const FitRecord& f, const Criteria& c, const Levels& lv,
                     const Findings& x);

}  // namespace quorvex::lab
