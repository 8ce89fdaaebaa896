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

namespace quorvex {

// Fit workspace: the data of one fit and the objective's latest results.
// Owned by one driver call; never shared between threads.
struct GLSWRK {
  int npts = 0;
  int ncoef = 0;
  // The data (weights already divided by the scale) and where the latest
  // curve values and block factor go: the vectors below, or the driver's own
  // arrays, which the objective then reads and writes in place.
  const double *xd = nullptr, *yd = nullptr, *wxd = nullptr, *wyd = nullptr;
  double *yfd = nullptr, *r11d = nullptr, *r12d = nullptr, *r22d = nullptr;
  std::vector<double> x, y, wx, wy;   // own data
  std::vector<double> yf;             // own curve values at xi
  std::vector<double> r11, r12, r22;  // own block factor of the latest Gauss-Newton step
  std::vector<double> dy, basis;      // slopes, basis rows at xi
  std::vector<int> idx;               // idx(npts, 2): block number, rows per block
  std::vector<double> jd, jb;         // Jacobian: own-column entries, coefficient columns
  std::vector<double> xi, v, qb1, qb2;  // per-evaluation scratch, reused
  // Residuals, gradient and step of the driver's closing evaluation at the
  // returned point, which keeps only its curve values and factor (sized by
  // the driver for that evaluation only).
  std::vector<double> fl, gl, pl;
  BalsqWork ba;                         // scratch of the step solve, reused
  ModelFn model = nullptr;

  // Sizes every array for npts points and ncoef coefficients, all zero; the
  // data and results are the vectors of this workspace.
  void setup(int npts, int ncoef, ModelFn model);
  // The same with the data read from x, y, wx, wy and the curve values and
  // factor kept in yf(npts), r11(npts), r12(npts, ncoef), r22 (packed),
  // which are cleared here.
  void setup(int npts, int ncoef, ModelFn model, const double* x, const double* y,
             const double* wx, const double* wy, double* yf, double* r11, double* r12,
             double* r22);
  // Forgets the data and result arrays; frees every array when together they
  // hold more than keep bytes.
  void release(std::size_t keep);
};

// Request code the objective hands to the curve evaluator: set to 2 at every
// call with iflag > 1, overwritten with -1 when the evaluator refuses.  One per
// thread, 0 at start.
extern thread_local int EVMODE;

// Objective callback of the generalized fit (userarg: the GLSWRK).
// iflag on return: unchanged, or -1 (size mismatch), -101 (an adjusted
// abscissa outside the interval), -3 (gradient product failed), -2 (step
// solve failed).
void GLSOBJ(int& iflag, int nres, int npar, const double* x, double* f, double* g, double* p,
            void* userarg);

}  // namespace quorvex
