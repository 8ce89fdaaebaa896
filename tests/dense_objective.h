// Test helper: objectives for the minimizer that keep a log of every call.
//
// A problem is given either as a plain callback body (scripted values, any
// behaviour a test needs) or as residuals with a dense Jacobian, from which
// the gradient 2 J'F and the Gauss-Newton step (least-squares solution of
// J p = -F by LAPACK dgels) are formed.  The minimizer is so tested apart
// from the generalized fit and its block-angular algebra.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <vector>

#include "minimizer/nlsmin.h"
#include "numeric/lapack.h"

namespace quorvex_test {

// Body of a callback: iflag in/out, x in, f, g, p out as the protocol asks.
using Body = std::function<void(int& iflag, const double* x, double* f, double* g, double* p)>;

// Residuals f(nres) and, when jac is not null, the Jacobian (nres x npar,
// column-major) at x.
using ResJac = std::function<void(const double* x, double* f, double* jac)>;

struct Call {
  int iflag;               // as requested
  std::vector<double> x;   // the point
  std::vector<double> f;   // residuals returned (empty on an abort)
};

// The USERARG of every test objective.
struct LoggedObjective {
  int nres = 0, npar = 0;
  Body body;
  std::vector<Call> log;
  int abort_call = -1;  // 0-based index of a call that aborts instead
  int abort_code = -1;
  bool nonfinite_point = false;

  // Calls with iflag 1 or 2, those the minimizer counts.
  int evaluations() const {
    return static_cast<int>(std::count_if(log.begin(), log.end(),
                                          [](const Call& c) { return c.iflag != 3; }));
  }
  int calls_with(int iflag) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(),
                                          [&](const Call& c) { return c.iflag == iflag; }));
  }
};

inline void logged_callback(int& iflag, int nres, int npar, const double* x, double* f, double* g,
                            double* p, void* userarg) {
  auto& o = *static_cast<LoggedObjective*>(userarg);
  Call c{iflag, std::vector<double>(x, x + npar), {}};
  for (int i = 0; i < npar; ++i)
    if (!std::isfinite(x[i])) o.nonfinite_point = true;
  if (nres != o.nres || npar != o.npar) {
    iflag = -900;
  } else if (static_cast<int>(o.log.size()) == o.abort_call) {
    iflag = o.abort_code;
  } else {
    o.body(iflag, x, f, g, p);
    if (iflag >= 0) c.f.assign(f, f + nres);
  }
  o.log.push_back(std::move(c));
}

inline constexpr quorvex::Objective kLogged = &logged_callback;

// Callback body for residuals with a dense Jacobian.
inline Body dense_body(int nres, int npar, ResJac resjac) {
  return [=](int& iflag, const double* x, double* f, double* g, double* p) {
    const std::size_t m = static_cast<std::size_t>(nres), n = static_cast<std::size_t>(npar);
    if (iflag < 2) {
      resjac(x, f, nullptr);
      return;
    }
    std::vector<double> jac(m * n);
    resjac(x, f, jac.data());
    for (std::size_t j = 0; j < n; ++j) {
      double s = 0.0;
      for (std::size_t i = 0; i < m; ++i) s += jac[j * m + i] * f[i];
      g[j] = 2.0 * s;
    }
    if (iflag < 3) return;
    // Gauss-Newton step: min |J p + F|.
    const int ldb = std::max(nres, npar), nrhs = 1;
    std::vector<double> b(static_cast<std::size_t>(ldb), 0.0);
    for (std::size_t i = 0; i < m; ++i) b[i] = -f[i];
    int lwork = -1, info = 0;
    double wq = 0.0;
    dgels_("N", &nres, &npar, &nrhs, jac.data(), &nres, b.data(), &ldb, &wq, &lwork, &info, 1);
    lwork = static_cast<int>(wq);
    std::vector<double> work(static_cast<std::size_t>(std::max(lwork, 1)));
    dgels_("N", &nres, &npar, &nrhs, jac.data(), &nres, b.data(), &ldb, work.data(), &lwork,
           &info, 1);
    if (info != 0) {
      iflag = -901;
      return;
    }
    std::copy(b.begin(), b.begin() + npar, p);
  };
}

inline LoggedObjective make_dense(int nres, int npar, ResJac resjac) {
  LoggedObjective o;
  o.nres = nres;
  o.npar = npar;
  o.body = dense_body(nres, npar, std::move(resjac));
  return o;
}

inline LoggedObjective make_scripted(int nres, int npar, Body body) {
  LoggedObjective o;
  o.nres = nres;
  o.npar = npar;
  o.body = std::move(body);
  return o;
}

}  // namespace quorvex_test
