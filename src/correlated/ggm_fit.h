// The generalized Gauss-Markov fit of a scaled polynomial to standards whose
// x and y values carry a full covariance matrix (see QVXL_GGM_FIT in
// quorvex_lab.h).
#pragma once

namespace quorvex::lab {

struct GgmInput {
  int n = 0;                 // standards
  const double* x = nullptr;  // x(n)
  const double* y = nullptr;  // y(n)
  const double* v = nullptr;  // V (2n x 2n), the covariance of (x1..xn, y1..yn)
  int ncoef = 0;
  bool has_interval = false;
  double xmin = 0.0, xmax = 0.0;  // in when has_interval, out always
  double tol = 1e-8;              // step length in standard uncertainties
  int maxit = 100;
  bool diagonal = false;  // use V's diagonal only: the correlations ignored
};

struct GgmOutput {
  double* coef;    // ncoef
  double* cov;     // ncoef x ncoef
  double* chi2;
  int* ndof;
  double* xadj;    // n: the adjusted (true) x values
  double* fitted;  // n: the curve at them
  double* gain;    // ncoef x 2n: d coef / d z at the solution (may be null)
  int* info;       // 3: iterations; the standard named by a status; 1 its x, 2 its y
};

// Status 0, 1, 3, 5, 90..93, 95 (the header's QVXL_GGM_* codes).
int GGM_FIT(GgmInput& in, const GgmOutput& out);

// Cholesky factor (LAPACK DPOTRF) of the symmetric m x m matrix a
// (column-major, lower triangle read and overwritten by L, the upper left
// alone).  Returns 0, or 1 + the index of the first pivot that is not
// positive, or positive but below m eps of its diagonal entry: the matrix is
// not positive definite (or singular to working precision) there.
int cholesky_lower(int m, double* a);

}  // namespace quorvex::lab
