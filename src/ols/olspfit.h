#pragma once

namespace quorvex {

// Weighted least-squares fit of a scaled polynomial; see OLSPFIT in quorvex.h
// for the arguments and status codes (999: working storage unavailable).
void OLSPFIT(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
             double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
             double* wres, double& wresmax, int& istat);

}  // namespace quorvex
