#pragma once

#include "curve/curveval.h"

namespace quorvex {

// Runs the minimizer on the generalized fit from the start point in param,
// with model evaluating the curve on [xmin, xmax].
// wxs, wys: weights divided by the weight scale.  Outputs of the scaled
// problem: wres(2 npts), fnorm, the factor r11(npts), r12(npts, ncoef),
// r22 (packed), yfit(npts), rinfo(4); istat(3) = status, iteration, evaluations.
// For a usable status (0 to 3) yfit and the factor are those at the returned
// param, from one closing evaluation not counted in istat(3); wres and fnorm
// are the minimizer's (for 1 and 2 of the point one step before param).
// Argument codes (with istat(2) = istat(3) = 0): QVX_GLS_NPTS_LT_NCOEF,
// QVX_GLS_BAD_SCALED_WX an x weight <= 0, QVX_GLS_BAD_SCALED_WY a y weight < 0
// or fewer than ncoef positive, QVX_GLS_BAD_TOL, QVX_GLS_BAD_MAXIT, and
// QVX_NO_STORAGE for a problem too large to address.
void GLSDRV(int npts, int ncoef, const double* x, const double* y, const double* wxs,
            const double* wys, double* param, double* yfit, double* wres, double& fnorm,
            ModelFn model, double xmin, double xmax, double* r11, double* r12, double* r22,
            const double* tol, int maxit, double sigma, double* rinfo, int* istat);

}  // namespace quorvex
