// Exported diagnostics and verdicts.
#include "interface/lab_guard.h"
#include "verdicts/diagnose.h"
#include "verdicts/goodness.h"

namespace {

quorvex::lab::FitRecord fit_record(const int* NCOEF, const double* COEF, const double* COV,
                                   const double* XMIN, const double* XMAX, const int* KIND,
                                   const int* COVKIND, const int* NDOF, const double* SRES,
                                   const double* CHI2, const int* STATED, const int* NPTS,
                                   const double* X, const double* Y, const double* W,
                                   const double* WRES, const double* WRESX) {
  return {*NCOEF, COEF, COV,  *XMIN,       *XMAX, *KIND, *COVKIND, *NDOF, *SRES,
          *CHI2,  *STATED != 0, *NPTS, X, Y, W, WRES, WRESX};
}

quorvex::lab::Criteria criteria(const double* CRIT, int warn) {
  return {CRIT[0], CRIT[1], CRIT[2], CRIT[3], CRIT[4], CRIT[5], CRIT[6], CRIT[7], CRIT[8], warn};
}

}  // namespace

extern "C" {

QVXL_API void QVXL_CALL QVXL_DIAGNOSE(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* KIND, const int* COVKIND, const int* NDOF, const double* SRES,
    const double* CHI2, const int* STATED, const int* NPTS, const double* X, const double* Y,
    const double* W, const double* WRES, const double* WRESX, const double* CRIT, double* LEV,
    double* STUDI, double* STUDE, double* COOK, double* STAT, double* STATX, int* OFLAG,
    double* XBACK, double* PCT, double* BLIM, int* BPASS, double* PCHI2, double* LOF,
    double* OUTL, double* BACK, double* CORR, double* LEVELS, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    return DIAGNOSE(fit_record(NCOEF, COEF, COV, XMIN, XMAX, KIND, COVKIND, NDOF, SRES, CHI2,
                               STATED, NPTS, X, Y, W, WRES, WRESX),
                    criteria(CRIT, 0),
                    Diagnosis{LEV, STUDI, STUDE, COOK, STAT, STATX, OFLAG, XBACK, PCT, BLIM,
                              BPASS, PCHI2, LOF, OUTL, BACK, CORR, LEVELS});
  });
}

QVXL_API void QVXL_CALL QVXL_VERDICT(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* KIND, const int* COVKIND, const int* NDOF, const double* SRES,
    const double* CHI2, const int* STATED, const int* NPTS, const double* X, const double* Y,
    const double* W, const double* WRES, const double* WRESX, const double* CRIT,
    const int* WARNONLY, int* APPLIES, double* STATV, double* PLIM, double* ALPHA, int* RESULT,
    int* DETAIL, int* OVERALL, int* REASONS, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    return VERDICT(fit_record(NCOEF, COEF, COV, XMIN, XMAX, KIND, COVKIND, NDOF, SRES, CHI2,
                              STATED, NPTS, X, Y, W, WRES, WRESX),
                   criteria(CRIT, *WARNONLY),
                   VerdictOut{APPLIES, STATV, PLIM, ALPHA, RESULT, DETAIL, OVERALL, REASONS});
  });
}

QVXL_API void QVXL_CALL QVXL_TEST_VERDICT(const double* P, const double* ALPHA, int* RESULT,
                                          int* DETAIL, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (!(*ALPHA > 0.0 && *ALPHA < 1.0)) return QVXL_VERDICT_BAD_CRITERIA;
    bool small = false;
    *RESULT = static_cast<int>(test_verdict(*P, *ALPHA, &small));
    *DETAIL = small ? kSmallScatter : 0;
    return QVXL_OK;
  });
}

}  // extern "C"
