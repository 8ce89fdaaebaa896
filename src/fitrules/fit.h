// One complete calibration fit: the standards (with u(y), u(x) or a weighting
// preset, and a keep mask), the defaults the data choose, the ordinary or the
// errors-in-variables fit, and everything derived from it (see QVXL_FIT in
// quorvex_lab.h).
#pragma once

namespace quorvex::lab {

struct FitInput {
  int npts = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* uy = nullptr;  // null: not given
  const double* ux = nullptr;  // null: not given
  int weighting = 0;           // 0 none, 1 1/x, 2 1/x2
  const int* keep = nullptr;   // null: every standard
  int ncoef = 0;
};

// Options: given where the flag says so, else the defaults; on return they
// hold what the fit used.
struct FitOptions {
  bool has_interval = false;
  double xmin = 0.0, xmax = 0.0;
  bool has_tol = false;
  double tol[2] = {0.0, 0.0};
  bool has_maxit = false;
  int maxit = 0;
  bool has_sigma = false;
  double sigma = 0.0;
  int covkind = -1;  // -1 default: stated with u(y), scaled otherwise
};

struct FitOutput {
  double* coef;      // ncoef
  double* cov;       // ncoef x ncoef, stated
  double* cov_scaled;
  double* sres;
  int* dof;
  double* chi2;
  double* fitted;    // npts each
  double* res;
  double* wres;
  double* xadj;
  double* resx;
  double* wresx;
  double* wy;
  double* wx;
  double* rinfo;     // 4
  int* info;         // 5: OLSPFIT status, GLSPFIT status, iterations, evaluations,
                     //    1 where the scaled covariance overflowed
};

// Returns the status (0 or a QVXL_* code).
int FIT(const FitInput& in, FitOptions& opt, const FitOutput& out);

}  // namespace quorvex::lab
