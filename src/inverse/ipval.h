#pragma once

namespace quorvex {

// Inverse prediction on a curve of any degree; see IPVAL in quorvex.h.
void IPVAL(int ncoef, const double* coef, const double* cov, int npts, const double* y,
           const double* covy, double xmin, double xmax, int ngrid, double tol, int* nroot,
           double* xroot, double* uxroot, int& istat);

}  // namespace quorvex
