// Exported fit rules.
#include <cmath>
#include <cstddef>

#include "fitrules/covariance_scaling.h"
#include "fitrules/fit.h"
#include "fitrules/fit_defaults.h"
#include "fitrules/weighting.h"
#include "interface/lab_guard.h"
#include "numeric/colmajor.h"
#include "reading/readback.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_FIT(const int* NPTS, const double* X, const double* Y,
                                 const double* UY, const double* UX, const int* GIVEN,
                                 const int* WEIGHTING, const int* KEEP, const int* NCOEF,
                                 const int* DEFAULTS, double* INTERVAL, double* TOL, int* MAXIT,
                                 double* SIGMA, int* COVKIND, double* COEF, double* COV,
                                 double* COVSC, double* SRES, int* NDOF, double* CHI2,
                                 double* FITTED, double* RES, double* WRES, double* XADJ,
                                 double* RESX, double* WRESX, double* WEIGHTS, double* XWEIGHTS,
                                 double* RINFO, int* INFO, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*GIVEN < 0 || *GIVEN > 3 || *DEFAULTS < 0 || *DEFAULTS > 15) return QVXL_BAD_CODE;
    const FitInput in{*NPTS,      X,    Y,     (*GIVEN & QVXL_GIVEN_UY) ? UY : nullptr,
                      (*GIVEN & QVXL_GIVEN_UX) ? UX : nullptr, *WEIGHTING, KEEP, *NCOEF};
    FitOptions opt;
    opt.has_interval = (*DEFAULTS & QVXL_OPT_INTERVAL) != 0;
    opt.has_tol = (*DEFAULTS & QVXL_OPT_TOL) != 0;
    opt.has_maxit = (*DEFAULTS & QVXL_OPT_MAXIT) != 0;
    opt.has_sigma = (*DEFAULTS & QVXL_OPT_SIGMA) != 0;
    if (opt.has_interval) {
      opt.xmin = INTERVAL[0];
      opt.xmax = INTERVAL[1];
    }
    if (opt.has_tol) {
      opt.tol[0] = TOL[0];
      opt.tol[1] = TOL[1];
    }
    if (opt.has_maxit) opt.maxit = *MAXIT;
    if (opt.has_sigma) opt.sigma = *SIGMA;
    opt.covkind = *COVKIND;
    const int st = FIT(in, opt,
                       FitOutput{COEF, COV, COVSC, SRES, NDOF, CHI2, FITTED, RES, WRES, XADJ,
                                 RESX, WRESX, WEIGHTS, XWEIGHTS, RINFO, INFO});
    if (st == QVXL_OK || (st >= QVXL_FIT_OLS_FAILED && st <= QVXL_FIT_SCALE_OVERFLOW)) {
      INTERVAL[0] = opt.xmin;
      INTERVAL[1] = opt.xmax;
      TOL[0] = opt.tol[0];
      TOL[1] = opt.tol[1];
      *MAXIT = opt.maxit;
      *SIGMA = opt.sigma;
      *COVKIND = opt.covkind;
    }
    return st;
  });
}

QVXL_API void QVXL_CALL QVXL_DEFAULT_INTERVAL(const int* NPTS, const double* X, const int* HASUX,
                                              const double* UX, double* XMIN, double* XMAX,
                                              int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*NPTS < 1) return QVXL_BAD_COUNT;
    if (*HASUX < 0 || *HASUX > 1) return QVXL_BAD_CODE;
    const std::size_t n = quorvex::count(*NPTS);
    for (std::size_t i = 0; i < n; ++i)
      if (!std::isfinite(X[i]) || (*HASUX && !std::isfinite(UX[i]))) return QVXL_BAD_VALUE;
    double lo, hi;
    default_interval(n, X, *HASUX ? UX : nullptr, lo, hi);
    if (!(lo < hi)) return QVXL_FIT_NO_SPREAD;
    *XMIN = lo;
    *XMAX = hi;
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_DEFAULT_TOLERANCES(const int* NPTS, const double* X, const double* Y,
                                                const double* WX, const double* WY,
                                                const int* NCOEF, const double* COEF,
                                                const double* COV, const double* XMIN,
                                                const double* XMAX, double* TOL, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*NCOEF < 1 || *NCOEF > 10) return QVXL_BAD_NCOEF;
    if (!(*XMIN < *XMAX) || !std::isfinite(*XMIN) || !std::isfinite(*XMAX))
      return QVXL_BAD_INTERVAL;
    if (*NPTS < 1) return QVXL_BAD_COUNT;
    const std::size_t n = quorvex::count(*NPTS);
    for (std::size_t i = 0; i < n; ++i)
      if (!(WX[i] > 0.0) || !(WY[i] > 0.0) || !std::isfinite(WX[i]) || !std::isfinite(WY[i]))
        return QVXL_BAD_VALUE;
    default_tolerances(n, X, Y, WX, WY, *NCOEF, COEF, COV, *XMIN, *XMAX, TOL);
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_WEIGHTS(const int* WEIGHTING, const int* WHAT, const int* NPTS,
                                     const double* X, double* OUT, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*NPTS < 0) return QVXL_BAD_COUNT;
    if (*WEIGHTING < 0 || *WEIGHTING > 2 || *WHAT < 1 || *WHAT > 2) return QVXL_BAD_CODE;
    const std::size_t n = quorvex::count(*NPTS);
    if (*WHAT == 1) {
      return preset_weights(*WEIGHTING, n, X, OUT) == n ? QVXL_OK : QVXL_FIT_X_NOT_POSITIVE;
    }
    for (std::size_t i = 0; i < n; ++i) OUT[i] = response_scale(*WEIGHTING, X[i]);
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_SCALED_COV(const int* NCOEF, const double* COV, const double* SRES,
                                        const int* NDOF, double* COVSC, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*NCOEF < 1 || *NCOEF > 10) return QVXL_BAD_NCOEF;
    if (*SRES < 0.0 || *NDOF < 0) return QVXL_BAD_VALUE;
    return scaled_covariance(*NCOEF, COV, *SRES, *NDOF, COVSC) ? QVXL_OK
                                                               : QVXL_FIT_SCALE_OVERFLOW;
  });
}

}  // extern "C"
