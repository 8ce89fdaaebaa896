// Driver of the generalized fit: checks what the minimizer and the objective
// rely on, builds the fit workspace, minimizes over the npts + ncoef
// parameters and 2 npts residuals, and hands back the curve values, the
// residual vector and the factor: those at the returned point for a usable
// status (0 to 3), the minimizer's and the objective's latest otherwise.
#include "gls/glsdrv.h"

#include <algorithm>
#include <climits>
#include <limits>

#include "gls/glsobj.h"
#include "minimizer/nlsmin.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/trpack.h"
#include "numeric/status.h"

namespace quorvex {

GLSWRK& GLSTHREADWRK() {
  thread_local GLSWRK w;
  return w;
}

void GLSDRV(const GlsData& data, const GlsCurve& curve, const GlsControl& control,
            double* param, double* yfit, double* wres, double& fnorm, const BlockFactor& factor,
            double* rinfo, int* istat) {
  const int npts = data.npts, ncoef = curve.ncoef;
  const double *wxs = data.wx, *wys = data.wy, *tol = control.tol;
  const int maxit = control.maxit;
  const std::size_t n = count(npts), m = count(ncoef);
  std::fill(wres, wres + 2 * n, 0.0);
  fnorm = 0.0;
  factor.clear(n, m);

  auto reject = [istat](int code) {
    istat[0] = code;
    istat[1] = 0;
    istat[2] = 0;
  };
  constexpr double huge = std::numeric_limits<double>::max();
  double wxmin = huge, wymin = huge;
  std::size_t npos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    wxmin = std::min(wxmin, wxs[i]);
    wymin = std::min(wymin, wys[i]);
    if (wys[i] > 0.0) ++npos;
  }
  if (npts < ncoef) return reject(QVX_GLS_NPTS_LT_NCOEF);
  if (wxmin <= 0.0) return reject(QVX_GLS_BAD_SCALED_WX);
  if (wymin < 0.0) return reject(QVX_GLS_BAD_SCALED_WY);
  if (npos < m) return reject(QVX_GLS_BAD_SCALED_WY);
  if (tol[0] <= 0.0 || tol[1] <= 0.0) return reject(QVX_GLS_BAD_TOL);
  if (maxit <= 0) return reject(QVX_GLS_BAD_MAXIT);
  // The minimizer counts residuals and parameters in 32-bit integers.
  if (npts > (INT_MAX - std::max(ncoef, 0)) / 2) return reject(QVX_NO_STORAGE);

  // The objective reads the data in place and leaves its latest curve values
  // and factor directly in yfit, r11, r12, r22, whatever the outcome.  The
  // workspace is this thread's: the next fit on the thread finds its memory
  // in place, unless this fit's size made the thread give it back
  // (numeric/keepwrk.h: up to 384 MiB on 64-bit hosts, some 380 bytes per
  // point at most, so 10^6 points at any degree).
  GLSWRK& w = GLSTHREADWRK();
  struct Release {
    GLSWRK& w;
    ~Release() { w.release(kKeepMaxBytes); }
  } release{w};
  w.setup(data, curve, yfit, factor);

  int iinfo[3] = {0, 0, 0};
  NLSMIN(2 * npts, npts + ncoef, param, GLSOBJ, &w, wres, fnorm, tol, maxit, control.sigma,
         rinfo, iinfo, w.mw);
  std::copy(iinfo, iinfo + 3, istat);

  // A usable fit's outputs belong to the point returned.  The objective's
  // latest evaluation need not be there: with status 0 it is the full step
  // the minimizer tried but did not take, with 3 a trial the line search
  // rejected; and with 1 and 2 the point has moved one step past the
  // residual vector's and the factor's.  One more evaluation at the returned
  // point, not counted in istat(3), puts there the curve values (0, 3), or
  // the curve values, the residual vector and the factor (1, 2); its
  // gradient and step are dropped, and so are its residuals for 0 and 3,
  // where the minimizer's are already those of the point.  The point has
  // been evaluated before, so the curve evaluator accepts it; should the
  // factor there be singular (the step solve's only failure), it stays as
  // computed and the covariance formed from it says so.
  if (iinfo[0] >= QVX_GLS_CONVERGED && iinfo[0] <= QVX_GLS_LINE_SEARCH) {
    const bool moved = iinfo[0] == QVX_GLS_MAXIT_STEP || iinfo[0] == QVX_GLS_MAXIT_RESIDUAL;
    int iflag = moved ? kWantStep : kWantResiduals;
    // The minimizer's residual, gradient and step vectors are free again
    // (sized 2 npts and npts + ncoef): they take the outputs.
    GLSOBJ(iflag, 2 * npts, npts + ncoef, param, w.mw.fw.data(), w.mw.g.data(), w.mw.p.data(),
           &w);
    if (moved) {
      std::copy(w.mw.fw.begin(), w.mw.fw.begin() + 2 * n, wres);
      fnorm = nrm2(2 * npts, wres);
    }
  }
}

}  // namespace quorvex
