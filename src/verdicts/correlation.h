// The correlation coefficient of a fit and its square.
#pragma once

#include "verdicts/fit_record.h"

namespace quorvex::lab {

struct Correlation {
  double r, r2;
};

Correlation correlation(const FitRecord& f);

}  // namespace quorvex::lab
