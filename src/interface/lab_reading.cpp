// Exported reading back of samples.
#include "interface/lab_guard.h"
#include "reading/readback.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_READBACK(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* COVKIND, const int* NDOF, const double* SRES,
    const int* WEIGHTING, const int* STATED, const double* XSTD, const int* HASLIM,
    const double* LIMITS, const int* NPTS, const double* Y, const int* UYMODE, const double* UY,
    const double* REPL, const double* LEVEL, const int* NGRID, const double* TOL,
    const int* EXTRAP, int* NROOT, double* ROOTS, double* UROOTS, double* UYUSED, int* UYSRC,
    double* UCURVE, double* DOF, double* K, double* U, double* LOW, double* HIGH, double* XEXT,
    double* UXEXT, int* FLAGS, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    const FittedCurve c{*NCOEF, COEF,  COV,        *XMIN,       *XMAX, *COVKIND,
                        *NDOF,  *SRES, *WEIGHTING, *STATED != 0};
    const Standards s{XSTD[0], XSTD[1], *HASLIM, LIMITS[0], LIMITS[1]};
    const ReadRequest r{*NPTS, Y, *UYMODE, UY, REPL, *LEVEL, *NGRID, *TOL, *EXTRAP != 0};
    return READBACK(c, s, r,
                    ReadResults{NROOT, ROOTS, UROOTS, UYUSED, UYSRC, UCURVE, DOF, K, U, LOW,
                                HIGH, XEXT, UXEXT, FLAGS});
  });
}

}  // extern "C"
