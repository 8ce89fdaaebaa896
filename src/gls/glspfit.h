#pragma once

namespace quorvex {

// Errors-in-variables fit of a scaled polynomial; see GLSPFIT in quorvex.h.
// istat(3): status, iterations, evaluations.
void GLSPFIT(int npts, const double* x, const double* y, const double* wx, const double* wy,
             int ncoef, double xmin, double xmax, const double* tol, int maxit, double sigma,
             double* param, double* cov, double& sres, double* yfit, double* res, double* wres,
             double& wresmax, double* r11, double* r12, double* r22, double* rinfo, int& olstat,
             int* istat);

// Coefficient covariance (L L')^-1 from the packed border triangle L of the
// block factor; all NaN when L has an exactly zero diagonal element.
void GLSCOV(int ncoef, const double* r22, double* cov);

}  // namespace quorvex
