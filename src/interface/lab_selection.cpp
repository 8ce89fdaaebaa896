// Exported choice of a curve's degree.
#include "interface/lab_guard.h"
#include "selection/degree_selection.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_SELECT(const int* NPTS, const double* X, const double* Y,
                                    const double* W, const int* STATED, const double* XMIN,
                                    const double* XMAX, const int* NCAND, const int* DEGREES,
                                    const int* FITMODE, double* CHI2, int* FITSTAT, int* DOF,
                                    int* GOFTEST, double* GOFP, double* TERMSTAT, double* TERMP,
                                    double* AIC, int* BEST, int* REASON, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    const SelectionData d{*NPTS, X, Y, W, *STATED != 0, *XMIN, *XMAX, *NCAND, DEGREES, *FITMODE};
    return SELECT(d, SelectionRows{CHI2, FITSTAT, DOF, GOFTEST, GOFP, TERMSTAT, TERMP, AIC},
                  *BEST, *REASON);
  });
}

}  // extern "C"
