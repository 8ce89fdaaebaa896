// Back-calculated standards: each standard's response read back through the
// curve, as a percentage of its nominal x, against tolerances.
#pragma once

#include "verdicts/fit_record.h"

namespace quorvex::lab {

struct BackSummary {
  int tested = 0;  // non-blank standards
  int passed = 0;  // of those, within their limits
  bool overall = false;
};

// xback, percent, limit: n reals; passed: n ints (1/0).  ncoef >= 2.
BackSummary back_calculate(const FitRecord& f, double tolerance, double tolerance_lowest,
                           double fraction, double* xback, double* percent, double* limit,
                           int* passed);

// At least `fraction` of the tested standards passed (and some were tested).
bool back_fraction_met(int tested, int passed, double fraction);

}  // namespace quorvex::lab
