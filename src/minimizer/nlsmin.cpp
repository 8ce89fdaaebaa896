// Damped Gauss-Newton minimization of f(x) = sum F(i)^2.
//
// Each iteration asks the objective for F, the gradient g = 2 J'F and the
// Gauss-Newton step p (J p = -F in the least-squares sense) at x.  When the
// step measure |p|/npar is below tol(1), the full step x + p is tried and the
// run has converged if it changes the residual vector by less than tol(2)
// (|F(x + p) - F(x)|/nres); x itself is kept, so that x, fvec and fnorm
// belong together.  Otherwise NLSSTEP moves x by a line search along p.
//
// Measures reported in rinfo: |p|/npar, |Fnew - F|/nres, ||Fnew| - |F||/nres
// and |g|/npar, Fnew being the residual vector of the full step or of the
// new point.  Status in iinfo(1):
//   0 converged, 1/2/4 iteration limit with the step test / the residual test /
//   neither met, 3 line search gave up, 5 evaluation limit (50 maxit), or the
//   callback's negative abort code.
// iinfo(2) is the iteration of the exit (maxit at the limit) and iinfo(3) the
// number of evaluations without gradient step, those with iflag = 1 or 2.
//
// maxit <= 0, nres <= 0 or npar <= 0 leave nothing to iterate: no evaluation
// is made, x is untouched, fvec, fnorm and rinfo are zero and iinfo is
// (4, 0, 0): the limit was reached with neither test met, after no iteration.
#include "minimizer/nlsmin.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <vector>

#include "minimizer/nlsstep.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/status.h"

namespace quorvex {

namespace {

constexpr double kAlphaMin = 0.01;  // small-step threshold of the step controller
constexpr int kFevPerIter = 50;     // evaluation limit per allowed iteration
// The count can pass its limit by one sub-search; the limit saturates early
// enough that the count still fits an int.
constexpr long long kFevCeiling = INT_MAX - 1024;

}  // namespace

void MinWork::count(WorkBytes& b) const {
  for (const std::vector<double>* a :
       {&xw, &p, &g, &fw, &step.xs, &step.gs, &step.gw, &step.pw, &step.xp, &step.fs, &step.fr,
        &step.line.xt, &step.line.gt, &step.line.xs, &step.line.gs, &step.line.ft,
        &step.line.fs, &step.arc.u, &step.arc.v, &step.arc.xt, &step.arc.ft})
    b.add(*a);
}

void NLSMIN(int nres, int npar, double* x, Objective fcn, void* userarg, double* fvec,
            double& fnorm, const double* tol, int maxit, double sigma, double* rinfo, int* iinfo) {
  MinWork work;
  NLSMIN(nres, npar, x, fcn, userarg, fvec, fnorm, tol, maxit, sigma, rinfo, iinfo, work);
}

void NLSMIN(int nres, int npar, double* x, Objective fcn, void* userarg, double* fvec,
            double& fnorm, const double* tol, int maxit, double sigma, double* rinfo, int* iinfo,
            MinWork& mw) {
  const std::size_t m = count(nres), n = count(npar);
  std::fill(rinfo, rinfo + 4, 0.0);
  std::fill(iinfo, iinfo + 3, 0);
  if (maxit <= 0 || nres <= 0 || npar <= 0) {
    std::fill(fvec, fvec + m, 0.0);
    fnorm = 0.0;
    iinfo[0] = QVX_GLS_MAXIT;
    return;
  }

  // Working point / full-step trial, step, gradient, working residual vector
  // (each written before it is read).  Calls with iflag = 1 write no G or P:
  // they get null pointers in those places rather than two parameter-sized
  // stand-ins.
  std::vector<double>&xw = mw.xw, &p = mw.p, &g = mw.g, &fw = mw.fw;
  xw.resize(n);
  p.resize(n);
  g.resize(n);
  fw.resize(m);
  StepWork& work = mw.step;
  work.size(nres, npar);

  const double dres = static_cast<double>(nres), dpar = static_cast<double>(npar);
  const int maxfev = static_cast<int>(std::min(static_cast<long long>(kFevPerIter) * maxit,
                                               kFevCeiling));
  int nfev = 0;
  int iter = 1;
  double stepm = 0.0, resch = 0.0, normch = 0.0, gradm = 0.0;

  auto store = [&] {
    rinfo[0] = stepm;
    rinfo[1] = resch;
    rinfo[2] = normch;
    rinfo[3] = gradm;
  };
  auto finish = [&](int status) {
    iinfo[0] = status;
    iinfo[1] = iter;
    iinfo[2] = nfev;
  };
  // Norm change and residual change of fw against fvec (fw is overwritten).
  auto changes = [&] {
    normch = std::fabs(nrm2(nres, fw.data()) - fnorm) / dres;
    for (std::size_t i = 0; i < m; ++i) fw[i] -= fvec[i];
    resch = nrm2(nres, fw.data()) / dres;
  };

  for (int left = maxit; left > 0; --left, ++iter) {
    int iflag = kWantStep;
    fcn(iflag, nres, npar, x, fvec, g.data(), p.data(), userarg);
    if (iflag < 0) return finish(iflag);
    fnorm = nrm2(nres, fvec);
    stepm = nrm2(npar, p.data()) / dpar;
    gradm = nrm2(npar, g.data()) / dpar;

    // Full-step trial.
    if (stepm < tol[0]) {
      for (std::size_t i = 0; i < n; ++i) xw[i] = x[i] + p[i];
      iflag = kWantResiduals;
      fcn(iflag, nres, npar, xw.data(), fw.data(), nullptr, nullptr, userarg);
      ++nfev;
      if (iflag < 0) return finish(iflag);
      changes();
      store();
      if (resch < tol[1] && stepm < tol[0]) return finish(QVX_GLS_CONVERGED);
    }

    // Step.
    std::copy(x, x + n, xw.begin());
    std::copy(fvec, fvec + m, fw.begin());
    double alpha = 1.0;
    int info = 0;
    NLSSTEP(nres, npar, xw.data(), p.data(), g.data(), fw.data(), alpha, kAlphaMin, sigma, fcn,
            userarg, info, nfev, maxfev, work, nullptr, nullptr);
    if (info < 0) return finish(info);
    if (info == kStepEvaluationLimit) return finish(QVX_GLS_MAXFEV);
    if (info == kStepGaveUp) {
      store();
      return finish(QVX_GLS_LINE_SEARCH);
    }

    // Accept.
    std::copy(xw.begin(), xw.end(), x);
    changes();
    store();
  }

  // Iteration limit.
  --iter;
  finish(stepm < tol[0]    ? QVX_GLS_MAXIT_STEP
         : resch < tol[1] ? QVX_GLS_MAXIT_RESIDUAL
                          : QVX_GLS_MAXIT);
}

}  // namespace quorvex
