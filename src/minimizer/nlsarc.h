#pragma once

#include <vector>

#include "minimizer/nlsmin.h"

namespace quorvex {

// Work vectors of the arc search: the unit vectors u (along g) and v (the
// part of p orthogonal to u), the trial point and a trial residual vector.
struct ArcWork {
  std::vector<double> u, v, xt, ft;
  void size(int nres, int npar);
};

// Derivative-free search on the arc of radius `radius` around x from the
// steepest-descent point x - radius g/|g| to x + radius p/|p| (19
// evaluations).  On return x is the best point found, fsum its sum of squares
// and fbest (nres) its residual vector; on a callback abort (info < 0) x and
// fsum are unchanged and fbest is undefined.  kfun is increased by one per
// evaluation; sg and sp (npar, or null: its calls ask for residuals only) stand
// in the G and P places of the callback.
void NLSARC(int nres, int npar, double* x, const double* p, double& fsum, const double* g,
            double radius, Objective fcn, void* userarg, int& info, int& kfun, double* fbest,
            ArcWork& w, double* sg, double* sp);

}  // namespace quorvex
