#pragma once

#include "gls/glsargs.h"

namespace quorvex {

// Errors-in-variables fit of a scaled polynomial; see GLSPFIT in quorvex.h.
// istat(3): status, iterations, evaluations.
void GLSPFIT(const GlsData& data, int ncoef, double xmin, double xmax, const GlsControl& control,
             const GlsResults& out);

// Coefficient covariance (L L')^-1 from the packed border triangle L of the
// block factor; all NaN when L has an exactly zero diagonal element.
void GLSCOV(int ncoef, const double* r22, double* cov);

}  // namespace quorvex
