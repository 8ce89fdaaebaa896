// Exported curve statistics.
#include <cmath>
#include <cstddef>

#include "curvestats/band.h"
#include "curvestats/curve_values.h"
#include "curvestats/joint_covariance.h"
#include "curvestats/power_form.h"
#include "interface/lab_guard.h"
#include "numeric/colmajor.h"

namespace {

int check_curve(int ncoef, double xmin, double xmax, int least = 1) {
  if (ncoef < least || ncoef > 10) return QVXL_BAD_NCOEF;
  if (!(xmin < xmax) || !std::isfinite(xmin) || !std::isfinite(xmax)) return QVXL_BAD_INTERVAL;
  return QVXL_OK;
}

// 5 for a NaN x, 40 for one outside the interval (unless extend), else 0.
int check_points(int npts, const double* x, double xmin, double xmax, bool extend) {
  const std::size_t n = quorvex::count(npts);
  for (std::size_t i = 0; i < n; ++i)
    if (std::isnan(x[i])) return QVXL_BAD_VALUE;
  if (!extend)
    for (std::size_t i = 0; i < n; ++i)
      if (!(x[i] >= xmin && x[i] <= xmax)) return QVXL_CURVE_OUTSIDE;
  return QVXL_OK;
}

int coverage(int covkind, int ndof, double level, int sided, double& k) {
  if (covkind < 0 || covkind > 1 || (sided != 1 && sided != 2)) return QVXL_BAD_CODE;
  if (!(level > 0.0 && level < 1.0)) return QVXL_BAD_VALUE;
  if (covkind == 1 && ndof < 1) return QVXL_CURVE_NO_DOF;
  k = quorvex::lab::band_coverage_factor(covkind, ndof, level, sided);
  return QVXL_OK;
}

}  // namespace

extern "C" {

QVXL_API void QVXL_CALL QVXL_CURVE(const int* NCOEF, const double* COEF, const double* COV,
                                   const double* XMIN, const double* XMAX, const int* WHAT,
                                   const int* EXTEND, const int* NPTS, const double* X, double* Y,
                                   double* DY, double* U, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (int st = check_curve(*NCOEF, *XMIN, *XMAX); st) return st;
    if (*NPTS < 0) return QVXL_BAD_COUNT;
    if (*WHAT < 1 || *WHAT > 7 || *EXTEND < 0 || *EXTEND > 1) return QVXL_BAD_CODE;
    if (int st = check_points(*NPTS, X, *XMIN, *XMAX, *EXTEND == 1); st) return st;
    curve_values(CurveRef{*NCOEF, COEF, COV, *XMIN, *XMAX}, *WHAT, *EXTEND == 1, *NPTS, X, Y, DY,
                 U);
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_COVERAGE(const int* COVKIND, const int* NDOF, const double* LEVEL,
                                      const int* SIDED, double* K, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] { return coverage(*COVKIND, *NDOF, *LEVEL, *SIDED, *K); });
}

QVXL_API void QVXL_CALL QVXL_RESPONSE_SD(const int* NPTS, const double* X, const int* WEIGHTING,
                                         const int* NSTD, const double* USTD, const int* COVKIND,
                                         const double* SRES, double* SD, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (*NPTS < 0 || *NSTD < 0) return QVXL_BAD_COUNT;
    if (*WEIGHTING < 0 || *WEIGHTING > 2 || *COVKIND < 0 || *COVKIND > 1) return QVXL_BAD_CODE;
    if (!(*SRES >= 0.0)) return QVXL_BAD_VALUE;
    const std::size_t n = quorvex::count(*NPTS), m = quorvex::count(*NSTD);
    for (std::size_t i = 0; i < n; ++i)
      if (std::isnan(X[i])) return QVXL_BAD_VALUE;
    for (std::size_t j = 1; j < m; ++j)
      if (!(USTD[j] == USTD[0])) return QVXL_CURVE_UY_DIFFER;
    for (std::size_t i = 0; i < n; ++i)
      SD[i] = response_sd(*WEIGHTING, m > 0, m > 0 ? USTD[0] : 0.0, *COVKIND, *SRES, X[i]);
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_BAND(const int* NCOEF, const double* COEF, const double* COV,
                                  const double* XMIN, const double* XMAX, const int* COVKIND,
                                  const int* NDOF, const double* LEVEL, const int* KIND,
                                  const int* NPTS, const double* X, const double* RSD, double* Y,
                                  double* U, double* LOWER, double* UPPER, double* K, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (int st = check_curve(*NCOEF, *XMIN, *XMAX); st) return st;
    if (*NPTS < 0) return QVXL_BAD_COUNT;
    if (*KIND < 0 || *KIND > 1) return QVXL_BAD_CODE;
    double k = 0.0;
    if (int st = coverage(*COVKIND, *NDOF, *LEVEL, 2, k); st) return st;
    if (int st = check_points(*NPTS, X, *XMIN, *XMAX, false); st) return st;
    if (*KIND == 1) {
      const std::size_t n = quorvex::count(*NPTS);
      for (std::size_t i = 0; i < n; ++i)
        if (!(RSD[i] >= 0.0)) return QVXL_BAD_VALUE;
    }
    band(COEF, COV, *NCOEF, *XMIN, *XMAX, *KIND, k, *NPTS, X, RSD, Y, U, LOWER, UPPER);
    *K = k;
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_POWER(const int* NCOEF, const double* COEF, const double* COV,
                                   const double* XMIN, const double* XMAX, double* A, double* CA,
                                   int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (int st = check_curve(*NCOEF, *XMIN, *XMAX); st) return st;
    power_form(*NCOEF, COEF, COV, *XMIN, *XMAX, A, CA);
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_JOINT_COV(const int* NCOEF, const double* COEF, const double* COV,
                                       const double* XMIN, const double* XMAX, const int* NPTS,
                                       const double* X, const double* UY, const int* MODE,
                                       const int* NW, const double* W, double* S, double* D,
                                       double* OUT, double* VALUE, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    if (int st = check_curve(*NCOEF, *XMIN, *XMAX, 2); st) return st;
    if (*NPTS < 1 || (*MODE == 2 && *NW < 1)) return QVXL_BAD_COUNT;
    if (*MODE < 0 || *MODE > 2) return QVXL_BAD_CODE;
    const std::size_t n = quorvex::count(*NPTS);
    for (std::size_t i = 0; i < n; ++i)
      if (!(UY[i] >= 0.0)) return QVXL_BAD_VALUE;
    const Readings r{*NCOEF, COEF, COV, *XMIN, *XMAX, *NPTS, X, UY};
    sensitivity(r, S, D);
    if (*MODE == 1) joint_covariance(r, S, D, OUT);
    if (*MODE == 2) combinations(r, S, D, *NW, W, VALUE, OUT);
    return QVXL_OK;
  });
}

}  // extern "C"
