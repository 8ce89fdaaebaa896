// Coverage factors, the scatter of one new response, and confidence and
// prediction bands of a curve.
#pragma once

namespace quorvex::lab {

// k for coverage probability `level`, two-sided (sided 2) or one-sided (1):
// Student's t with dof degrees of freedom for the scaled covariance (covkind
// 1), whose size was estimated from the scatter; the normal for the stated
// one (covkind 0).  NaN for the scaled covariance without degrees of freedom.
double band_coverage_factor(int covkind, int dof, double level, int sided);

// The standard deviation of one new response at x: the standards' common
// stated u(y) (ustd, when they carried one), else the weighting's scale 1/W(x)
// (1, sqrt(x), |x|); times SRES under the scaled covariance (covkind 1).
double response_sd(int weighting, bool has_ustd, double ustd, int covkind, double sres, double x);

// Confidence (kind 0) or prediction (kind 1) band at npts points inside the
// interval: y = p(x), u = sqrt(g' C g) (+ rsd^2 for a prediction), lower and
// upper = y -+ k u.
void band(const double* coef, const double* cov, int ncoef, double xmin, double xmax, int kind,
          double k, int npts, const double* x, const double* rsd, double* y, double* u,
          double* lower, double* upper);

}  // namespace quorvex::lab
