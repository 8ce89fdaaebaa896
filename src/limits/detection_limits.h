// Detection and quantification limits of a calibration (QVXL_LIMITS in
// quorvex_lab.h).
#pragma once

#include <limits>

namespace quorvex::lab {

// The calibration and its standards as the limits need them.
struct LimitsCurve {
  int ncoef = 0;
  const double* coef = nullptr;
  const double* cov = nullptr;  // the covariance in use
  double xmin = 0.0, xmax = 0.0;
  int covkind = 0;  // 0 stated, 1 scaled
  int ndof = 0;
  double sres = 0.0;
  int weighting = 0;  // 0 none, 1 1/x, 2 1/x2
  int nstd = 0;
  const double* x = nullptr;  // x(nstd) of the standards
  const double* w = nullptr;  // w(nstd): the fit's weights W_i
  bool stated = false;        // the standards carried stated u(y) ...
  const double* uy = nullptr;  // ... uy(nstd)
};

struct LimitsRequest {
  double alpha = 0.05, beta = 0.05;
  double blank = 0.0;
  int replicates = 1;
  bool has_u_blank = false;
  double u_blank = 0.0;
  double k_loq = 3.0;
  // Where u_blank came from: 1 given (exact), 2 blank readings, 3 a variance
  // model's floor; for 2 and 3 it is an estimate with u_blank_dof degrees of
  // freedom.
  int u_blank_kind = 1;
  double u_blank_dof = std::numeric_limits<double>::infinity();
};

// Where the blank's scatter came from (SOURCE of QVXL_LIMITS).
enum BlankSource {
  kBlankNone = 0,         // no data about the blank: its limits not computed
  kBlankGiven = 1,        // u_blank as given
  kBlankStandards = 2,    // the standards at the blank
  kBlankLowest = 3,       // no longer given: see kBlankNone
  kBlankStatedUy = 4,     // the stated u(y) of the standards (all equal)
  kBlankResidual = 5,     // the residual scatter, the same at every x
  kBlankReadings = 6,     // readings of blanks, with their degrees of freedom
  kBlankModel = 7,        // a variance model's floor, with its degrees of freedom
};

// The outputs, in the order of LIM(1..12).
struct LimitsResult {
  double sigma, slope, lod, loq, sigma_blank, s_blank, y_critical, x_critical, x_detection,
      k_alpha, delta, loq_din;
  int source;
  int extrapolated;
};
inline constexpr int kLimitsReals = 12;

// Returns the status (0 or a QVXL_* code); `out` is written only on 0.
int LIMITS(const LimitsCurve& c, const LimitsRequest& r, LimitsResult& out);

}  // namespace quorvex::lab
