// The six exported entry points.  Each is a thin shim: dereference the
// arguments, call the internal routine, and let no exception reach the host.
// An exception can only mean that working storage could not be obtained; it
// becomes QVX_NO_STORAGE with nothing further computed.
#define QUORVEX_BUILDING 1
#include "quorvex.h"

#include "curve/linear_conv.h"
#include "curve/polyeval.h"
#include "gls/glspfit.h"
#include "inverse/ipval.h"
#include "inverse/ipval_degree1.h"
#include "ols/olspfit.h"

namespace {

template <class F>
void guarded(int* istat, F&& body) noexcept {
  try {
    body();
  } catch (...) {
    *istat = QVX_NO_STORAGE;
  }
}

}  // namespace

extern "C" {

QVX_API void QVX_CALL GLSPFIT(const int* NPTS, const double* X, const double* Y, const double* WX,
                              const double* WY, const int* NCOEF, const double* XMIN,
                              const double* XMAX, const double* TOL, const int* MAXIT,
                              const double* SIGMA, double* PARAM, double* COV, double* SRES,
                              double* YFIT, double* RES, double* WRES, double* WRESMAX,
                              double* R11, double* R12, double* R22, double* RINFO, int* OLSTAT,
                              int* ISTAT) {
  guarded(ISTAT, [&] {
    quorvex::GLSPFIT(quorvex::GlsData{*NPTS, X, Y, WX, WY}, *NCOEF, *XMIN, *XMAX,
                     quorvex::GlsControl{TOL, *MAXIT, *SIGMA},
                     quorvex::GlsResults{PARAM, COV, *SRES, YFIT, RES, WRES, *WRESMAX,
                                         quorvex::BlockFactor{R11, R12, R22}, RINFO, *OLSTAT,
                                         ISTAT});
  });
}

QVX_API void QVX_CALL IPVAL(const int* NCOEF, const double* COEF, const double* COV,
                            const int* NPTS, const double* Y, const double* COVY,
                            const double* XMIN, const double* XMAX, const int* NGRID,
                            const double* TOL, int* NROOT, double* XROOT, double* UXROOT,
                            int* ISTAT) {
  guarded(ISTAT, [&] {
    quorvex::IPVAL(*NCOEF, COEF, COV, *NPTS, Y, COVY, *XMIN, *XMAX, *NGRID, *TOL, NROOT, XROOT,
                   UXROOT, *ISTAT);
  });
}

QVX_API void QVX_CALL IPVAL_DEGREE1(const double* COEF, const double* COV, const int* NPTS,
                                    const double* Y, const double* COVY, const double* XMIN,
                                    const double* XMAX, double* XPRED, double* UXPRED,
                                    int* ISTAT) {
  guarded(ISTAT, [&] {
    quorvex::IPVAL_DEGREE1(COEF, COV, *NPTS, Y, COVY, *XMIN, *XMAX, XPRED, UXPRED, *ISTAT);
  });
}

QVX_API void QVX_CALL LINEAR_CONV(const double* COEF, const double* COV, const double* XMIN,
                                  const double* XMAX, double* LCOEF, double* LCOV, int* ISTAT) {
  guarded(ISTAT, [&] { quorvex::LINEAR_CONV(COEF, COV, *XMIN, *XMAX, LCOEF, LCOV, *ISTAT); });
}

QVX_API void QVX_CALL OLSPFIT(const int* NPTS, const double* X, const double* Y, const double* W,
                              const int* NCOEF, const double* XMIN, const double* XMAX,
                              double* COEF, double* COV, double* SRES, double* YFIT, double* RES,
                              double* WRES, double* WRESMAX, int* ISTAT) {
  guarded(ISTAT, [&] {
    quorvex::OLSPFIT(*NPTS, X, Y, W, *NCOEF, *XMIN, *XMAX, COEF, COV, *SRES, YFIT, RES, WRES,
                     *WRESMAX, *ISTAT);
  });
}

QVX_API void QVX_CALL POLYEVAL(const int* NCOEF, const double* COEF, const int* NPTS,
                               const double* X, const double* XMIN, const double* XMAX, double* Y,
                               int* ISTAT) {
  guarded(ISTAT,
          [&] { quorvex::POLYEVAL(*NCOEF, COEF, *NPTS, X, *XMIN, *XMAX, Y, *ISTAT); });
}

}  // extern "C"
