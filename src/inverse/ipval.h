#pragma once

#include <vector>

#include "curve/curveval.h"

namespace quorvex {

// Inverse prediction on a curve of any degree; see IPVAL in quorvex.h.
void IPVAL(int ncoef, const double* coef, const double* cov, int npts, const double* y,
           const double* covy, double xmin, double xmax, int ngrid, double tol, int* nroot,
           double* xroot, double* uxroot, int& istat);

// IPVAL's root search on checked arguments (2 <= ncoef, xmin < xmax,
// ngrid >= 1): nroot(i) and the first nroot(i) entries of column i of xroot
// (ncoef - 1 rows), nroot 0 where the grid cannot be evaluated; the rest
// of xroot is left as it was.
void IPVAL_ROOTS(int ncoef, const double* coef, int npts, const double* y, double xmin,
                 double xmax, int ngrid, double tol, int* nroot, double* xroot);

// IPVAL's standard uncertainty of one root x for a response variance vy:
// sqrt((g' cov g + vy) / p'(x)^2), g the basis row at x (NaN outside the
// interval).  After a call, variance() is g' cov g and slope() p'(x).
class RootUncertainty {
 public:
  RootUncertainty(const Curve& curve, const double* cov);
  double operator()(double x, double vy);
  double variance() const { return vp_; }
  double slope() const { return dpx_; }

 private:
  Curve curve_;
  const double* cov_;
  std::vector<double> g_;
  CurveWork work_;
  double dpx_ = 0.0, vp_ = 0.0;
};

}  // namespace quorvex
