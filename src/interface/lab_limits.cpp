// Exported detection and quantification limits.
#include "interface/lab_guard.h"
#include <cmath>

#include "limits/detection_limits.h"
#include "limits/sample_limits.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_LIMITS(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* COVKIND, const int* NDOF, const double* SRES,
    const int* WEIGHTING, const int* NSTD, const double* XSTD, const double* WSTD,
    const int* STATED, const double* UYSTD, const double* ALPHA, const double* BETA,
    const double* BLANK, const int* REPL, const int* HASUB, const double* UBLANK,
    const double* KLOQ, double* LIM, int* SOURCE, int* EXTRAP, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    LimitsCurve c;
    c.ncoef = *NCOEF;
    c.coef = COEF;
    c.cov = COV;
    c.xmin = *XMIN;
    c.xmax = *XMAX;
    c.covkind = *COVKIND;
    c.ndof = *NDOF;
    c.sres = *SRES;
    c.weighting = *WEIGHTING;
    c.nstd = *NSTD;
    c.x = XSTD;
    c.w = WSTD;
    c.stated = *STATED != 0;
    c.uy = UYSTD;
    if (*HASUB < 0 || *HASUB > 3) return QVXL_BAD_CODE;
    LimitsRequest r{*ALPHA, *BETA, *BLANK, *REPL, *HASUB != 0, *UBLANK, *KLOQ};
    if (*HASUB >= 2) {
      r.u_blank_kind = *HASUB;
      r.u_blank_dof = UBLANK[1];
    }
    LimitsResult o{};
    const int st = LIMITS(c, r, o);
    if (st != 0) return st;
    const double v[kLimitsReals] = {o.sigma,       o.slope,      o.lod,         o.loq,
                                    o.sigma_blank, o.s_blank,    o.y_critical,  o.x_critical,
                                    o.x_detection, o.k_alpha,    o.delta,       o.loq_din};
    for (int i = 0; i < kLimitsReals; ++i) LIM[i] = v[i];
    *SOURCE = o.source;
    *EXTRAP = o.extrapolated;
    return 0;
  });
}

}  // extern "C"

extern "C" {

QVXL_API void QVXL_CALL QVXL_SAMPLE_LIMITS(const double* BLANK, const double* XD,
                                           const double* LOQ, const double* LOQDIN,
                                           int* HASLIM, double* LIMITS, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (!std::isfinite(*BLANK)) return QVXL_BAD_VALUE;
    const SampleLimits s = sample_limits(*BLANK, *XD, *LOQ, *LOQDIN);
    *HASLIM = s.haslim;
    LIMITS[0] = s.lod;
    LIMITS[1] = s.loq;
    return QVXL_OK;
  });
}

}  // extern "C"
