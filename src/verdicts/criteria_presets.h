// Named sets of acceptance criteria, and the rules some of them add to the
// verdict: a least number of calibration levels, a relative standard error.
#pragma once

#include "verdicts/fit_record.h"

namespace quorvex::lab {

enum Preset {
  kPresetDefault = 0,   // this library's own rule
  kPresetIchM10 = 1,    // bioanalytical calibration standards
  kPresetEpaRse = 2,    // environmental, relative standard error
  kPresetEpaEach = 3,   // environmental, the error of each standard
  kPresetAssay = 4,     // assay of a drug substance or product
};
inline constexpr int kPresets = 5;

// The rules beyond the verdict's four criteria.
struct ExtraRules {
  int min_levels = 0;                       // distinct non-zero levels read back (0: none)
  double rse_limit = Criteria::kUnset;      // % (NaN: none)
};

struct PresetDef {
  Criteria criteria;
  ExtraRules extra;
};

// The preset's criteria, or a null pointer for an unknown id.
const PresetDef* criteria_preset(int id);

// Distinct non-zero x among the standards with passed[i] = 1.
int levels_passed(int n, const double* x, const int* passed);

// 100 sqrt( sum ((xback - x) / x)^2 / (n - ncoef) ) over the n non-blank
// standards; NaN where n <= ncoef.
double relative_standard_error(int n, const double* x, const double* xback, int ncoef);

}  // namespace quorvex::lab

namespace quorvex::lab {

// The extra rules judged on a fit's read-back standards, folded into the
// verdict's overall result `overall_in`.  statv: levels passed, RSE %;
// result: a QVXL_RESULT_* code per rule.  Returns 0 or a QVXL_* status.
int criteria_extra(int ncoef, int npts, const double* x, const double* xback, const int* passed,
                   const ExtraRules& rules, int warn, int overall_in, double* statv,
                   int* result, int* overall);

}  // namespace quorvex::lab
