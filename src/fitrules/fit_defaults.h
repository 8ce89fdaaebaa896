// The fit's defaults chosen from the data: the curve's interval (with its
// padding for the errors-in-variables fit) and the errors-in-variables fit's
// stopping tolerances.
#pragma once

#include <cstddef>

namespace quorvex::lab {

// Padding of the errors-in-variables fit's interval: max(kPadUx max u(x),
// kPadRange (hi - lo)) on each side.
inline constexpr double kPadUx = 10.0;
inline constexpr double kPadRange = 0.05;
// The default stopping rule of the errors-in-variables fit.
inline constexpr double kResidualRtol = 1e-7;
inline constexpr double kStepRtol = 1e-3;
inline constexpr int kDefaultMaxit = 100;
inline constexpr double kDefaultSigma = 0.1;

// [lo, hi] padded for the errors-in-variables fit (has_ux), else as given.
void padded_interval(double lo, double hi, bool has_ux, double ux_max, double& xmin,
                     double& xmax);

// The default interval of n points x (u(x) where has_ux): the range of x, padded
// with u(x) (the caller passes the kept standards only).
void default_interval(std::size_t n, const double* x, const double* ux, double& xmin,
                      double& xmax);

// TOL(1), TOL(2) of the errors-in-variables fit for n points with weights wx,
// wy, from a starting curve coef (ncoef) with covariance cov on [xmin, xmax].
void default_tolerances(std::size_t n, const double* x, const double* y, const double* wx,
                        const double* wy, int ncoef, const double* coef, const double* cov,
                        double xmin, double xmax, double tol[2]);

}  // namespace quorvex::lab
