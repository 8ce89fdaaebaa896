#pragma once

#include <cstddef>
#include <vector>

#include "minimizer/nlsarc.h"
#include "minimizer/nlsline.h"
#include "minimizer/nlsmin.h"
#include "numeric/keepwrk.h"

namespace quorvex {

// Work vectors of one step: the saved start point xs, gradient gs and
// residual vector fs, the working gradient gw and direction pw, the probe
// point xp, a residual vector fr for the probe and the arc search, and the
// work of the two searches.  Sized on first use and kept by the caller; the
// vectors of the probe and of the searches only when they are needed.
struct StepWork {
  std::vector<double> xs, gs, gw, pw, xp, fs, fr;
  LineWork line;
  ArcWork arc;
  void size(int nres, int npar);
};

// One move of the minimizer from xw along the Gauss-Newton step p, with the
// arc search when p is not a descent direction and a small-step recovery.
// On return xw is the new point and fw its residual vector; p and g hold the
// direction searched and the gradient kept (on the exits that set them).
// info: kStepMade, kStepGaveUp (the line search gave up),
// kStepEvaluationLimit (nfev reached maxfev), negative: the callback's abort
// code.  nfev is increased by every
// evaluation; sg and sp (npar, or null) stand in the G and P places of IFLAG = 1
// calls, which write neither.
// The minimizer's own vectors (working point, step, gradient, working
// residual vector) and its step work.  A caller that keeps one across runs
// lets repeated runs of the same or a smaller size allocate nothing.
struct MinWork {
  std::vector<double> xw, p, g, fw;
  StepWork step;
  // Adds every vector's bytes to b.
  void count(WorkBytes& b) const;
};

void NLSSTEP(int nres, int npar, double* xw, double* p, double* g, double* fw, double& alpha,
             double alphmin, double sigma, Objective fcn, void* userarg, int& info, int& nfev,
             int maxfev, StepWork& w, double* sg, double* sp);

}  // namespace quorvex
