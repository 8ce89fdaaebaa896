// Exported fits and inverse predictions of correlated standards.
#include "correlated/ggm_covariance.h"
#include "correlated/ggm_fit.h"
#include "correlated/ggm_inverse.h"
#include "interface/lab_guard.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_GGM_FIT(const int* NPTS, const double* X, const double* Y,
                                     const double* V, const int* NCOEF, const int* DEFAULTS,
                                     double* INTERVAL, double* TOL, int* MAXIT, double* COEF,
                                     double* COV, double* CHI2, int* NDOF, double* XADJ,
                                     double* FITTED, double* GAIN, int* INFO, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    for (int k = 0; k < 3; ++k) INFO[k] = 0;
    if (*DEFAULTS < 0 || *DEFAULTS > 15) return QVXL_BAD_CODE;
    GgmInput in;
    in.n = *NPTS;
    in.x = X;
    in.y = Y;
    in.v = V;
    in.ncoef = *NCOEF;
    in.has_interval = (*DEFAULTS & QVXL_GGM_OPT_INTERVAL) != 0;
    if (in.has_interval) {
      in.xmin = INTERVAL[0];
      in.xmax = INTERVAL[1];
    }
    if (*DEFAULTS & QVXL_GGM_OPT_TOL) in.tol = *TOL;
    if (*DEFAULTS & QVXL_GGM_OPT_MAXIT) in.maxit = *MAXIT;
    in.diagonal = (*DEFAULTS & QVXL_GGM_IGNORE) != 0;
    const int st = GGM_FIT(in, GgmOutput{COEF, COV, CHI2, NDOF, XADJ, FITTED, GAIN, INFO});
    if (st == QVXL_OK || st == QVXL_GGM_NO_CONVERGENCE) {
      INTERVAL[0] = in.xmin;
      INTERVAL[1] = in.xmax;
      *TOL = in.tol;
      *MAXIT = in.maxit;
    }
    return st;
  });
}

QVXL_API void QVXL_CALL QVXL_GGM_COMPONENTS(const int* NPTS, const int* NSRC, const double* UXIND,
                                            const double* UYIND, const double* UXSRC,
                                            const double* UYSRC, const int* ADD, double* V,
                                            int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    return GGM_COMPONENTS(*NPTS, *NSRC, UXIND, UYIND, UXSRC, UYSRC, *ADD, V);
  });
}

QVXL_API void QVXL_CALL QVXL_GGM_DILUTION(const int* NPTS, const double* X, const int* PARENT,
                                          const double* REL, const double* RSTOCK, const int* ADD,
                                          double* V, int* IBAD, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] { return GGM_DILUTION(*NPTS, X, PARENT, REL, *RSTOCK, *ADD, V, IBAD); });
}

QVXL_API void QVXL_CALL QVXL_GGM_INVERSE(const int* NCOEF, const double* COEF, const double* COV,
                                         const double* XMIN, const double* XMAX, const int* NSTD,
                                         const double* GAIN, const int* M, const double* YS,
                                         const double* VS, const int* SHARED, const double* CZS,
                                         double* X, double* COVX, double* UX, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*SHARED < 0 || *SHARED > 2) return QVXL_BAD_CODE;
    GgmInverseInput in;
    in.ncoef = *NCOEF;
    in.coef = COEF;
    in.cov = COV;
    in.xmin = *XMIN;
    in.xmax = *XMAX;
    in.nstd = *NSTD;
    in.gain = GAIN;
    in.m = *M;
    in.ys = YS;
    in.vs = VS;
    in.shared = *SHARED == 1;
    in.diagonal = *SHARED == 2;
    in.czs = CZS;
    return GGM_INVERSE(in, X, COVX, UX);
  });
}

QVXL_API void QVXL_CALL QVXL_GGM_SHARED(const int* NSTD, const int* M, const int* NSRC,
                                        const double* USTD, const double* USMP,
                                        const double* UYIND, double* VS, double* CZS,
                                        int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] { return GGM_SHARED(*NSTD, *M, *NSRC, USTD, USMP, UYIND, VS, CZS); });
}

}  // extern "C"
