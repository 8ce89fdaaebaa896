// Variance models fitted to the residuals of the curve, for standards without
// replicates (QVXL_VARIANCE_FIT_RESIDUALS).
#pragma once

#include "variance/variance_model.h"

namespace quorvex::lab {

// Fits `kind` (0..3, or -1 chosen at level alpha) to the leverage-corrected
// squared residuals of a curve of ncoef coefficients, refitting the curve with
// the model's weights.  sd(n), mu(n): sigma at each standard and the fitted
// curve there.  Returns the status; outputs written only on 0.
int variance_fit_residuals(int n, const double* x, const double* y, int ncoef, int kind,
                           double alpha, VarianceChoice& out, double* sd, double* mu);

}  // namespace quorvex::lab
