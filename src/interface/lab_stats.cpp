// Exported distributions of the laboratory layer.
#include "interface/lab_guard.h"
#include "stats/distributions.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_DISTRIBUTION(const int* DIST, const int* WHAT, const double* PAR1,
                                          const double* PAR2, double* P, double* X, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*DIST < 1 || *DIST > 5) return QVXL_BAD_CODE;
    const Dist d = static_cast<Dist>(*DIST);
    switch (*WHAT) {
      case 1:
        *X = quantile(d, *P, *PAR1, *PAR2);
        return QVXL_OK;
      case 2:
        *P = upper_tail(d, *X, *PAR1, *PAR2);
        return QVXL_OK;
      case 3:
        *P = lower_tail(d, *X, *PAR1, *PAR2);
        return QVXL_OK;
      default:
        return QVXL_BAD_CODE;
    }
  });
}

}  // extern "C"
