// Inverse prediction from a curve of the generalized Gauss-Markov fit, with
// the joint covariance of the results (see QVXL_GGM_INVERSE in quorvex_lab.h).
#pragma once

namespace quorvex::lab {

struct GgmInverseInput {
  int ncoef = 0;
  const double* coef = nullptr;
  const double* cov = nullptr;
  double xmin = 0.0, xmax = 0.0;
  int nstd = 0;                 // standards of the fit
  const double* gain = nullptr;  // ncoef x 2 nstd (read with shared)
  int m = 0;                     // samples
  const double* ys = nullptr;    // m responses
  const double* vs = nullptr;    // m x m their covariance
  bool shared = false;
  const double* czs = nullptr;  // 2 nstd x m: Cov(standards' (x, y), samples' y)
};

// x (m), covx (m x m), ux (m).  Status 0, 1, 2, 3, 5, 96.
int GGM_INVERSE(const GgmInverseInput& in, double* x, double* covx, double* ux);

}  // namespace quorvex::lab
