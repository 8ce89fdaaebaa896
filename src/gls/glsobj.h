// The objective of the generalized fit and the workspace it shares with the
// driver.
//
// Parameters x = (d_1 .. d_n, c_1 .. c_m): one correction per abscissa, then
// the curve coefficients.  Residuals, interleaved per point,
//   f(2i-1) = wx_i d_i,   f(2i) = wy_i (y_i - p_c(xi_i)),   xi_i = x_i - d_i,
// so the Jacobian is block-angular: point i's two rows touch its own column i
// (entries wx_i and wy_i p'(xi_i)) and the m coefficient columns (0 and
// -wy_i phi_j(xi_i)).
#pragma once

#include <cstddef>
#include <vector>

#include "curve/curveval.h"
#include "gls/balsq.h"
#include "gls/glsargs.h"
#include "minimizer/nlsstep.h"
#include "numeric/status.h"
#include "ols/olspfit.h"

namespace quorvex {

// Fit workspace: the data of one fit and the objective's latest results.
// Owned by one driver call; never shared between threads.
struct GLSWRK {
  int npts = 0;
  int ncoef = 0;
  // The data (weights already divided by the scale), read in place, and the
  // caller's arrays where the objective leaves its latest curve values and
  // block factor.
  const double *xd = nullptr, *yd = nullptr, *wxd = nullptr, *wyd = nullptr;
  double *yfd = nullptr, *r11d = nullptr, *r12d = nullptr, *r22d = nullptr;
  std::vector<double> dy, basis;      // slopes, basis rows at xi
  std::vector<int> idx;               // idx(npts, 2): block number, rows per block
  // Jacobian: own-column entries; the coefficient columns are formed in
  // basis (only their nonzero rows: -wy times the basis rows).
  std::vector<double> jd;
  std::vector<double> xi, v, qb1, qb2;  // per-evaluation scratch, reused
  BalsqWork ba;                         // scratch of the step solve, reused
  // The fit's scaled weights and the starting fit's coefficients and
  // covariance (the starting fit's per-point outputs go to dy, xi and qb1,
  // which the objective's setup overwrites afterwards).
  std::vector<double> wxs, wys, coef0, scov;
  // The starting fit's design and right-hand side: empty but during that
  // fit, when they hold the memory of basis and v (swapped in and out).
  OlsWork ols;
  // The minimizer's vectors, reused; once it has returned, its residual,
  // gradient and step vectors take the dropped outputs of the driver's
  // closing evaluation.
  MinWork mw;
  CurveWork cw;                         // the model's slope coefficients, reused
  ModelFn model = nullptr;
  double xmin = 0.0, xmax = 0.0;        // the curve's interval, for the model
  // What the objective asks of the model: kModeRows from the first call with
  // iflag > 1, kModeRefused once the model has refused a point (kModeNone
  // before either).  It outlives the fit: the thread's next fit starts from it.
  int evmode = kModeNone;

  // Sizes the scratch for the data's points and the curve's coefficients;
  // the data are read in place, and the curve values and factor kept in
  // yf(npts) and factor, which are cleared here.
  void setup(const GlsData& data, const GlsCurve& curve, double* yf, const BlockFactor& factor);
  // Forgets the data and result arrays; frees every array unless KEEPWRK
  // keeps them under the cap (evmode stays).
  void release(std::size_t cap);
};

// Objective callback of the generalized fit (userarg: the GLSWRK).
// iflag on return: unchanged, or QVX_GLS_SIZE_MISMATCH, QVX_GLS_OUTSIDE_INTERVAL
// (an adjusted abscissa outside the interval), QVX_GLS_GRADIENT_FAILED (the
// gradient product failed), QVX_GLS_STEP_FAILED (the step solve failed).
void GLSOBJ(int& iflag, int nres, int npar, const double* x, double* f, double* g, double* p,
            void* userarg);

}  // namespace quorvex
