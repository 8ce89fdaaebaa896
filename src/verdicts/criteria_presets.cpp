// Named sets of acceptance criteria, each from the clause it implements, and
// the two rules some of them add to the verdict.
//
//  0 quorvex (the default): the statistical tests (chi-squared, lack of fit,
//    outliers) share alpha = 0.05 and reject; the standards read back within
//    15 % (20 % at the lowest level) for at least 75 % of them, the limits of
//    ICH M10 used as a coarse check of the curve's shape.
//  1 ICH M10 (2022), 3.2.5 "Calibration curve" (chromatography): each
//    back-calculated standard within 15 % of its nominal value, 20 % at the
//    LLOQ; at least 75 % of the standards, over at least six levels, meet
//    that.  The guideline asks for no statistical test: they only warn.
//  2 US EPA SW-846 Method 8000D, 11.5 (initial calibration by regression):
//    the relative standard error of the calibration
//      RSE = 100 sqrt( sum_i ((x'_i - x_i) / x_i)^2 / (n - p) ),
//    x'_i the standard read back, x_i its nominal value, n the standards and
//    p the curve's coefficients, at most 20 %.  Statistical tests only warn.
//  3 US EPA SW-846 Method 8000D, the alternative to the RSE: every standard
//    read back within 30 % of its nominal value, 50 % at the lowest level.
//  4 assay: every standard read back within 2 % (a common acceptance for
//    the assay of a drug substance over 80-120 % of the test concentration,
//    ICH Q2(R2) 3.2 range; no guideline fixes the 2 %); the statistical
//    tests reject as in the default.
#include "verdicts/criteria_presets.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

constexpr int kStatisticalTests = 1 | 2 | 4;  // goodness, lack of fit, outliers

PresetDef make(double tolerance, double lowest, double fraction, int warn, int levels,
               double rse) {
  PresetDef p;
  p.criteria.tolerance = tolerance;
  p.criteria.tolerance_lowest = lowest;
  p.criteria.fraction = fraction;
  p.criteria.warn = warn;
  p.extra.min_levels = levels;
  p.extra.rse_limit = rse;
  return p;
}

const PresetDef kTable[kPresets] = {
    make(15.0, 20.0, 0.75, 0, 0, Criteria::kUnset),
    make(15.0, 20.0, 0.75, kStatisticalTests, 6, Criteria::kUnset),
    // The RSE judges the standards together: the read-back row only shows.
    make(30.0, 50.0, 0.0, kStatisticalTests, 0, 20.0),
    make(30.0, 50.0, 1.0, kStatisticalTests, 0, Criteria::kUnset),
    make(2.0, 2.0, 1.0, 0, 0, Criteria::kUnset),
};

}  // namespace

const PresetDef* criteria_preset(int id) {
  return id >= 0 && id < kPresets ? &kTable[id] : nullptr;
}

int levels_passed(int n, const double* x, const int* passed) {
  std::vector<double> levels;
  for (int i = 0; i < n; ++i)
    if (x[i] != 0.0 && passed[i] != 0) levels.push_back(x[i]);
  std::sort(levels.begin(), levels.end());
  return static_cast<int>(std::unique(levels.begin(), levels.end()) - levels.begin());
}

double relative_standard_error(int n, const double* x, const double* xback, int ncoef) {
  double sum = 0.0;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (x[i] == 0.0) continue;
    const double e = (xback[i] - x[i]) / x[i];
    sum += e * e;
    ++m;
  }
  if (m <= ncoef) return Criteria::kUnset;
  return 100.0 * std::sqrt(sum / (m - ncoef));
}

}  // namespace quorvex::lab

namespace quorvex::lab {

int criteria_extra(int ncoef, int npts, const double* x, const double* xback, const int* passed,
                   const ExtraRules& rules, int warn, int overall_in, double* statv,
                   int* result, int* overall) {
  if (ncoef < 1 || ncoef > 10) return QVXL_BAD_NCOEF;
  if (npts < 1) return QVXL_BAD_COUNT;
  if (warn < 0 || warn > 3 || overall_in < 0 || overall_in > 2) return QVXL_BAD_CODE;
  if (rules.min_levels < 0 || !(std::isnan(rules.rse_limit) || rules.rse_limit > 0.0))
    return QVXL_PRESET_BAD_RULE;
  for (int i = 0; i < npts; ++i)
    if (!std::isfinite(x[i])) return QVXL_BAD_VALUE;

  const int levels = levels_passed(npts, x, passed);
  const double rse = relative_standard_error(npts, x, xback, ncoef);
  statv[0] = levels;
  statv[1] = rse;
  const bool judged[2] = {rules.min_levels > 0, !std::isnan(rules.rse_limit)};
  // A NaN RSE (no more standards than coefficients, or one not read back) fails.
  const bool ok[2] = {levels >= rules.min_levels, rse <= rules.rse_limit};
  bool rejected = false, warned = false;
  for (int k = 0; k < 2; ++k) {
    if (!judged[k]) {
      result[k] = QVXL_RESULT_NOT_TESTED;
    } else if (ok[k]) {
      result[k] = QVXL_RESULT_PASS;
    } else if (warn & (1 << k)) {
      result[k] = QVXL_RESULT_WARN;
      warned = true;
    } else {
      result[k] = QVXL_RESULT_FAIL;
      rejected = true;
    }
  }
  // 0 not fit for use, 2 fit with warnings (QVXL_VERDICT's OVERALL).
  *overall = overall_in == 0 || rejected ? 0 : warned ? 2 : overall_in;
  return QVXL_OK;
}

}  // namespace quorvex::lab
