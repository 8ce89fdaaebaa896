#pragma once

#include <cstddef>

#include "gls/glsargs.h"
#include "numeric/keepwrk.h"

namespace quorvex {

struct GLSWRK;

// This thread's fit workspace, kept from one fit to the next as
// numeric/keepwrk.h describes.  A caller that fills some of it before GLSDRV
// releases it with release(kKeepMaxBytes) when done.
GLSWRK& GLSTHREADWRK();

// Runs the minimizer on the generalized fit of curve to data from the start
// point in param; the data's weights are divided by the weight scale.
// Outputs of the scaled problem: wres(2 npts), fnorm, the factor, yfit(npts),
// rinfo(4); istat(3) = status, iteration, evaluations.
// For a usable status (0 to 3) yfit, wres, fnorm and the factor are those at
// the returned param: the minimizer's residual vector where it is there
// (0, 3), and the rest from one closing evaluation not counted in istat(3).
// Argument codes (with istat(2) = istat(3) = 0): QVX_GLS_NPTS_LT_NCOEF,
// QVX_GLS_BAD_SCALED_WX an x weight <= 0, QVX_GLS_BAD_SCALED_WY a y weight < 0
// or fewer than ncoef positive, QVX_GLS_BAD_TOL, QVX_GLS_BAD_MAXIT, and
// QVX_NO_STORAGE for a problem too large to address.
void GLSDRV(const GlsData& data, const GlsCurve& curve, const GlsControl& control,
            double* param, double* yfit, double* wres, double& fnorm, const BlockFactor& factor,
            double* rinfo, int* istat);

}  // namespace quorvex
