// The joint covariance of x values read off one curve.
#pragma once

namespace quorvex::lab {

struct Readings {
  int ncoef;
  const double* coef;
  const double* cov;  // ncoef x ncoef
  double xmin, xmax;
  int npts;
  const double* x;   // the readings' x (NaN: no root)
  const double* uy;  // their u(y)
};

// The factors of Cov = S C S' + diag(d): S (npts x ncoef, column-major),
// S_i = -g(x_i) / p'(x_i), and d_i = u(y_i)^2 / p'(x_i)^2; NaN where x_i is NaN.
void sensitivity(const Readings& r, double* s, double* d);

// The npts x npts covariance from the factors.
void joint_covariance(const Readings& r, const double* s, const double* d, double* out);

// nw weighted sums sum_i w(k, i) x_i (w nw x npts, column-major): their
// values and their nw x nw covariance.  Readings whose weight is 0 in every
// sum are left out (a missing root there does not matter).
void combinations(const Readings& r, const double* s, const double* d, int nw, const double* w,
                  double* value, double* out);

}  // namespace quorvex::lab
