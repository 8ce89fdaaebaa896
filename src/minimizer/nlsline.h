#pragma once

#include <vector>

#include "minimizer/nlsmin.h"

namespace quorvex {

// Work vectors of the line search: the trial point xt with its gradient gt
// and residual vector ft, and the secant point xs with gs and fs.  Sized on
// first use and kept by the caller, so that repeated searches allocate nothing;
// the secant vectors only once a derivative phase needs them.
struct LineWork {
  std::vector<double> xt, gt, xs, gs, ft, fs;
  void size(int nres, int npar);         // xt, gt, ft
  void size_secant(int nres, int npar);  // xs, gs, fs
};

// Goldstein line search for f = sum F(i)^2 from x0 = x along p.
// alpha: first trial step in, step of the returned point out (of the last
// trial on a give-up or abort).  f, g: residuals and gradient at x0 in, at
// the returned point out (g only when gradients were evaluated and the search
// ended in its final or derivative phase).  dg = p'g0.  info: kStepMade
// (accepted), kStepGaveUp (x, f, g unchanged), negative: the callback's abort
// code.  kfun is increased by one per evaluation; fsum is the sum of squares of
// the returned point.  scratch (npar, or null) stands in the P place of every
// evaluation, which never asks for a step.
void NLSLINE(int nres, int npar, double* x, const double* p, double& alpha, double* f, double* g,
             double dg, double sigma, Objective fcn, void* userarg, int& info, int& kfun,
             double& fsum, LineWork& w, double* scratch);

}  // namespace quorvex
