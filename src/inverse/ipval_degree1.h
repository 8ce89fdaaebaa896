#pragma once

namespace quorvex {

// Inverse prediction on a straight line in closed form; see IPVAL_DEGREE1 in quorvex.h.
void IPVAL_DEGREE1(const double* coef, const double* cov, int npts, const double* y,
                   const double* covy, double xmin, double xmax, double* xpred, double* uxpred,
                   int& istat);

}  // namespace quorvex
