// The argument groups of the generalized fit inside the library: its data,
// the curve fitted, the minimizer's controls, the block factor and the
// outputs of the fit.
#pragma once

#include <algorithm>
#include <cstddef>

#include "curve/curveval.h"
#include "numeric/trpack.h"

namespace quorvex {

// npts points (x, y) with their weights wx, wy.
struct GlsData {
  int npts = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* wx = nullptr;
  const double* wy = nullptr;
};

// ncoef coefficients of a curve on [xmin, xmax], evaluated by model.
struct GlsCurve {
  int ncoef = 0;
  double xmin = 0.0;
  double xmax = 0.0;
  ModelFn model = nullptr;
};

// The minimizer's controls: tol(2) step and residual tolerances, the
// iteration limit and the line-search parameter.
struct GlsControl {
  const double* tol = nullptr;
  int maxit = 0;
  double sigma = 0.0;
};

// The block factor of the Gauss-Newton step: r11(npts), r12(npts, ncoef) and
// the packed triangle r22 of ncoef.
struct BlockFactor {
  double* r11 = nullptr;
  double* r12 = nullptr;
  double* r22 = nullptr;

  void clear(std::size_t npts, std::size_t ncoef) const {
    std::fill(r11, r11 + npts, 0.0);
    std::fill(r12, r12 + npts * ncoef, 0.0);
    std::fill(r22, r22 + packed_size(ncoef), 0.0);
  }
};

// The outputs of GLSPFIT (see quorvex.h).
struct GlsResults {
  double* param;
  double* cov;
  double& sres;
  double* yfit;
  double* res;
  double* wres;
  double& wresmax;
  BlockFactor factor;
  double* rinfo;
  int& olstat;
  int* istat;
};

}  // namespace quorvex
