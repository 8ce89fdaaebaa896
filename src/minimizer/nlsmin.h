#pragma once

namespace quorvex {

struct MinWork;

// Objective callback: iflag 1 residuals f(nres); 2 also the gradient
// g(npar) = 2 J'f; 3 also the Gauss-Newton step p(npar) solving J p = -f in
// the least-squares sense.  A negative iflag on return aborts.  g and p are
// written only when iflag asks for them and may be null otherwise.
using Objective = void (*)(int& iflag, int nres, int npar, const double* x, double* f, double* g,
                           double* p, void* userarg);

// Outcomes of NLSSTEP and NLSLINE (info), besides a callback's negative code.
inline constexpr int kStepMade = 0;
inline constexpr int kStepGaveUp = 1;
inline constexpr int kStepEvaluationLimit = 2;

// Damped Gauss-Newton minimization of sum f(i)^2 over x(npar).
// tol(2): step and residual-change tolerances; rinfo(4): convergence measures;
// iinfo(3): status, iteration number, evaluation count.
void NLSMIN(int nres, int npar, double* x, Objective fcn, void* userarg, double* fvec,
            double& fnorm, const double* tol, int maxit, double sigma, double* rinfo, int* iinfo);
// The same with the caller's work vectors, sized here and kept by the caller.
void NLSMIN(int nres, int npar, double* x, Objective fcn, void* userarg, double* fvec,
            double& fnorm, const double* tol, int maxit, double sigma, double* rinfo, int* iinfo,
            MinWork& work);

}  // namespace quorvex
