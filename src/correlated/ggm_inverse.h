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
  bool diagonal = false;  // VS's diagonal only, nothing shared: correlations ignored
  const double* czs = nullptr;  // 2 nstd x m: Cov(standards' (x, y), samples' y)
};

// x (m), covx (m x m), ux (m).  Status 0, 1, 2, 3, 5, 96.
int GGM_INVERSE(const GgmInverseInput& in, double* x, double* covx, double* ux);

// The samples' covariance VS (m x m) = diag(uyind^2) + sum_k s_k s_k' and
// their covariance with the standards CZS (2 nstd x m) = sum_k t_k s_k',
// s_k = usmp(., k) (m), t_k = ustd(., k) (2 nstd): the sources they share.
// Status 0, 3, 5.
int GGM_SHARED(int nstd, int m, int nsrc, const double* ustd, const double* usmp,
               const double* uyind, double* vs, double* czs);

}  // namespace quorvex::lab
