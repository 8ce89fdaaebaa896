// One candidate curve of the degree selection fitted.
#pragma once

namespace quorvex::lab {

// The weighted least-squares fit (the engine's OLSPFIT) of NCOEF
// coefficients on [xmin, xmax]; chi2 = sum_i (W_i r_i)^2.  Returns the
// engine's status (0: fitted); chi2 is NaN otherwise.
int candidate_fit(int npts, const double* x, const double* y, const double* w, int ncoef,
                  double xmin, double xmax, double& chi2);

}  // namespace quorvex::lab
