// Exported helpers a worksheet needs besides the rules themselves: the
// default acceptance criteria, so that a spreadsheet passes the library's
// own defaults instead of a copy of them.
#include "interface/lab_guard.h"
#include "verdicts/fit_record.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_DEFAULT_CRITERIA(double* CRIT, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    const Criteria c;
    const double v[10] = {c.alpha,     c.alpha_goodness,   c.alpha_lack_of_fit,
                          c.alpha_outliers, c.tolerance, c.tolerance_lowest,
                          c.fraction,  c.cook,             c.threshold,
                          0.0};
    for (int k = 0; k < 10; ++k) CRIT[k] = v[k];
    return QVXL_OK;
  });
}

}  // extern "C"
