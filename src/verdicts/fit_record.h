// A fitted calibration as the diagnostics see it, and a laboratory's
// acceptance criteria.  Shared by the routines of this folder.
#pragma once

#include <cstddef>
#include <limits>

namespace quorvex::lab {

// The fit: the curve with its unscaled covariance C = (A'A)^-1 of the
// weighted design A = diag(W) G, and the standards with the weights W the fit
// used and the weighted residuals W (y - p(x)) it left.
struct FitRecord {
  int ncoef = 0;
  const double* coef = nullptr;
  const double* cov = nullptr;  // unscaled: (A'A)^-1
  double xmin = 0.0, xmax = 0.0;
  int kind = 0;         // 0 ordinary (x exact), 1 errors in variables
  int covkind = 0;      // 0 stated, 1 scaled by SRES^2
  int ndof = 0;         // npts - ncoef
  double sres = 0.0;    // sqrt(chi2 / ndof), 0 without degrees of freedom
  double chi2 = 0.0;    // sum of squared weighted residuals (x ones included)
  bool stated = false;  // the standards carried stated u(y)
  int npts = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* w = nullptr;      // weights W (1/u(y), ones, or a preset)
  const double* wres = nullptr;   // weighted y residuals
  const double* wresx = nullptr;  // weighted x residuals (errors in variables)

  std::size_t n() const { return static_cast<std::size_t>(npts); }
  bool ordinary() const { return kind == 0; }
  // 1 when the stated uncertainties set the scale, else SRES.
  double sigma_hat() const { return covkind == 0 ? 1.0 : sres; }
};

// Acceptance criteria.  NaN for a test's own level means: its equal share of
// `alpha` among the tests that apply; NaN for `threshold`: the outlier
// threshold from the outlier test's level.
struct Criteria {
  static constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
  double alpha = 0.05;
  double alpha_goodness = kUnset;
  double alpha_lack_of_fit = kUnset;
  double alpha_outliers = kUnset;
  double tolerance = 15.0;        // % allowed deviation of a read-back standard
  double tolerance_lowest = 20.0; // % at the lowest non-zero level
  double fraction = 0.75;         // share of standards that must read back
  double cook = 1.0;              // Cook's distance that marks influence
  double threshold = kUnset;      // |residual statistic| limit
  int warn = 0;                   // criteria that only warn (bits 1, 2, 4, 8)
};

// Validation of a fit record and criteria: 0 or a QVXL_* status.
int check_fit(const FitRecord& f);
int check_criteria(const Criteria& c);

}  // namespace quorvex::lab
