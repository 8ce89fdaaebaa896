// Generalized (errors-in-variables) fit of a scaled polynomial:
//   min over d, c of  sum_i (wx_i d_i)^2 + (wy_i (y_i - p_c(x_i - d_i)))^2.
// Start: the weighted ordinary fit with weights wy and all d_i = 0.  The
// weights are divided by the largest of them, S, so the minimizer sees a
// problem whose largest weight is 1; residuals and factors are multiplied
// back by S afterwards.  The coefficient covariance is (L L')^-1 from the
// border triangle L of the final block factor: the Gauss-Newton normal matrix
// of the coefficients with the corrections eliminated.
#include "gls/glspfit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <vector>

#include "curve/curveval.h"
#include "gls/glsdrv.h"
#include "gls/glsobj.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/trpack.h"
#include "ols/olspfit.h"
#include "numeric/status.h"

namespace quorvex {

void GLSCOV(int ncoef, const double* r22, double* cov) {
  // COV = (L L')^-1 = E'E with E = L^-1.  A singular L has no inverse: the
  // covariance is then reported as NaN rather than as numbers that look valid.
  const std::size_t m = count(ncoef);
  // E on the stack for the counts a fit takes, so that a fit allocates none.
  std::array<double, kMaxCoef * kMaxCoef> small{};
  std::vector<double> large(m <= kMaxCoef ? 0 : m * m, 0.0);
  double* const e = m <= kMaxCoef ? small.data() : large.data();
  for (std::size_t k = 0; k < m; ++k) e[k * m + k] = 1.0;
  int info = 0;
  dtptrs_("L", "N", "N", &ncoef, &ncoef, r22, e, &ncoef, &info, 1, 1, 1);
  ColMajor<const double> ev(e, static_cast<std::ptrdiff_t>(m));
  ColMajor<double> c(cov, static_cast<std::ptrdiff_t>(m));
  for (std::size_t j = 0; j < m; ++j) {
    for (std::size_t i = 0; i < m; ++i) {
      double sum = 0.0;
      for (std::size_t k = 0; k < m; ++k) sum += ev(k, i) * ev(k, j);
      c(i, j) = info == 0 ? sum : std::numeric_limits<double>::quiet_NaN();
    }
  }
}

void GLSPFIT(const GlsData& data, int ncoef, double xmin, double xmax, const GlsControl& control,
             const GlsResults& out) {
  const int npts = data.npts;
  const double *x = data.x, *y = data.y, *wx = data.wx, *wy = data.wy;
  double* param = out.param;
  double* yfit = out.yfit;
  double* wres = out.wres;
  int& olstat = out.olstat;
  int* istat = out.istat;
  // Arrays sized by ncoef (the coefficient part of param, cov, r12, r22) are
  // the caller's to write only for a count the fit can take: a larger one
  // is refused by the ordinary fit, and the arrays need not have its size.
  const std::size_t n = count(npts), m = ncoef <= kMaxCoef ? count(ncoef) : 0;
  // Written on every path: should storage run out before the ordinary fit
  // reports, the status says it was not reached.
  olstat = QVX_OK;

  // Starting coefficients from the ordinary fit with the y weights; its other
  // outputs are not needed.  Its scratch is sized by the counts, so it is
  // obtained only once they pass the ordinary fit's checks; a refused count
  // is the ordinary fit's status.
  // All of it lives in the thread's kept fit workspace: the starting fit's
  // per-point outputs in three of the objective's vectors, and its design and
  // right-hand side in the memory of two more (basis, npts x ncoef, and v,
  // 2 npts), all overwritten before the minimization reads them.
  GLSWRK& w = GLSTHREADWRK();
  struct Release {
    GLSWRK& w;
    ~Release() { w.release(kKeepMaxBytes); }
  } release{w};
  std::vector<double>& coef0 = w.coef0;
  if (const int counts = OLSCOUNTS(npts, ncoef); counts != QVX_OK) {
    olstat = counts;
  } else {
    coef0.resize(m);
    w.scov.resize(m * m);
    w.dy.resize(n);
    w.xi.resize(n);
    w.qb1.resize(n);
    // v is given its full room (2 npts) before the starting fit takes it, as
    // part of that fit's storage: grown later, it would leave its first n
    // values' memory behind in the heap, resident through the minimization.
    bool room = true;
    try {
      w.v.reserve(2 * n);
    } catch (const std::exception&) {  // bad_alloc, or length_error on a 32-bit host
      room = false;
    }
    if (!room) {
      olstat = QVX_NO_STORAGE;
    } else {
      w.ols.a.swap(w.basis);
      w.ols.b.swap(w.v);
      double ssres = 0.0, swresmax = 0.0;
      OLSPFIT(npts, x, y, wy, ncoef, xmin, xmax, coef0.data(), w.scov.data(), ssres,
              w.dy.data(), w.xi.data(), w.qb1.data(), swresmax, olstat, w.ols);
      w.ols.a.swap(w.basis);
      w.ols.b.swap(w.v);
    }
  }

  istat[0] = QVX_OK;
  constexpr double huge = std::numeric_limits<double>::max();
  double wxmin = huge;
  for (std::size_t i = 0; i < n; ++i) wxmin = std::min(wxmin, wx[i]);
  if (wxmin <= 0.0) istat[0] = QVX_GLS_BAD_WX;

  if (olstat != QVX_OK || istat[0] != QVX_OK) {
    // Neither fit produced anything: leave no stale results behind when both
    // the ordinary fit and the x weights failed.
    if (olstat != QVX_OK && istat[0] == QVX_GLS_BAD_WX) {
      std::fill(param, param + n, 0.0);
      FitOutputs{param + n, out.cov, out.sres, yfit, out.res, wres, out.wresmax}.clear(n, m, 2 * n);
      out.factor.clear(n, m);
    }
    return;
  }

  // Weight scale and the scaled problem's start point.
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s = std::max(s, std::max(wx[i], wy[i]));
  std::vector<double>&wxs = w.wxs, &wys = w.wys;
  wxs.resize(n);
  wys.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    wxs[i] = wx[i] / s;
    wys[i] = wy[i] / s;
  }
  std::fill(param, param + n, 0.0);
  std::copy(coef0.begin(), coef0.end(), param + n);

  double fnorm = 0.0;
  GLSDRV(GlsData{npts, x, y, wxs.data(), wys.data()}, GlsCurve{ncoef, xmin, xmax, CURVEVAL},
         control, param, yfit, wres, fnorm, out.factor, out.rinfo, istat);
  if (istat[0] < QVX_GLS_CONVERGED || istat[0] > QVX_GLS_LINE_SEARCH) return;

  // Back to the caller's weights.
  const std::size_t nres = 2 * n;
  double& wresmax = out.wresmax;
  wresmax = 0.0;
  for (std::size_t k = 0; k < nres; ++k) {
    wres[k] *= s;
    wresmax = std::max(wresmax, std::fabs(wres[k]));
  }
  fnorm = nrm2(2 * npts, wres);
  const BlockFactor& f = out.factor;
  for (std::size_t i = 0; i < n; ++i) f.r11[i] *= s;
  for (std::size_t k = 0; k < n * m; ++k) f.r12[k] *= s;
  for (std::size_t k = 0; k < packed_size(m); ++k) f.r22[k] *= s;

  GLSCOV(ncoef, f.r22, out.cov);

  for (std::size_t i = 0; i < n; ++i) {
    out.res[2 * i] = param[i];
    out.res[2 * i + 1] = y[i] - yfit[i];
  }
  out.sres = npts > ncoef ? fnorm / std::sqrt(static_cast<double>(npts - ncoef)) : 0.0;
}

}  // namespace quorvex
