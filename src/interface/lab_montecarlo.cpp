// Exported Monte Carlo inverse prediction.
#include <cstdint>

#include "interface/lab_guard.h"
#include "montecarlo/montecarlo.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_MONTECARLO(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* COVKIND, const int* NDOF, const double* SRES,
    const int* WEIGHTING, const int* STATED, const int* NPTS, const double* Y, const int* UYMODE,
    const double* UY, const double* REPL, const int* FIRST, const int* NDRAW, const double* LEVEL,
    const int* NGRID, const int* SEED, double* MEAN, double* SD, double* MEDIAN, double* LOW,
    double* HIGH, double* SELOW, double* SEHIGH, double* NOROOT, double* SEVERAL, int* CHECK,
    int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    const FittedCurve c{*NCOEF, COEF,  COV,        *XMIN,       *XMAX, *COVKIND,
                        *NDOF,  *SRES, *WEIGHTING, *STATED != 0};
    McRequest r;
    r.npts = *NPTS;
    r.y = Y;
    r.uymode = *UYMODE;
    r.uy = UY;
    r.repl = REPL;
    r.first = *FIRST;
    r.ndraw = *NDRAW;
    r.level = *LEVEL;
    r.ngrid = *NGRID;
    r.seed = static_cast<std::uint64_t>(static_cast<std::uint32_t>(SEED[0])) |
             static_cast<std::uint64_t>(static_cast<std::uint32_t>(SEED[1])) << 32;
    return MONTECARLO(
        c, r, McResults{MEAN, SD, MEDIAN, LOW, HIGH, SELOW, SEHIGH, NOROOT, SEVERAL, CHECK});
  });
}

}  // extern "C"
