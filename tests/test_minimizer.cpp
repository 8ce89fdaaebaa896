// The damped Gauss-Newton minimizer and its searches, on problems given as
// residuals with a dense Jacobian and on scripted callbacks whose every call
// is logged, so that evaluation counts, statuses and the points returned can
// be checked exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dense_objective.h"
#include "minimizer/nlsarc.h"
#include "minimizer/nlsline.h"
#include "minimizer/nlsmin.h"
#include "minimizer/nlsstep.h"
#include "numeric/lapack.h"

namespace {

using quorvex::nrm2;
using quorvex_test::Call;
using quorvex_test::kLogged;
using quorvex_test::LoggedObjective;
using quorvex_test::make_dense;
using quorvex_test::make_scripted;
using quorvex_test::ResJac;
using Vec = std::vector<double>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double sumsq(const Vec& v) {
  double s = 0.0;
  for (double a : v) s += a * a;
  return s;
}

// ---------------------------------------------------------------------------
// Problems

// Rosenbrock's valley as residuals: f = (10 (x2 - x1^2), 1 - x1), minimum (1, 1).
ResJac rosenbrock() {
  return [](const double* x, double* f, double* jac) {
    f[0] = 10.0 * (x[1] - x[0] * x[0]);
    f[1] = 1.0 - x[0];
    if (jac != nullptr) {
      jac[0] = -20.0 * x[0];
      jac[1] = -1.0;
      jac[2] = 10.0;
      jac[3] = 0.0;
    }
  };
}

// Fit of a exp(-b t) to 20 points y = 5 exp(-0.7 t) + amp sin(1.7 i), t = i/2.
// amp = 0 has zero residual at (5, 0.7); amp = 3 leaves a residual as large as
// the signal.
ResJac exp_decay(double amp) {
  Vec t(20), y(20);
  for (int i = 0; i < 20; ++i) {
    t[i] = 0.5 * i;
    y[i] = 5.0 * std::exp(-0.7 * t[i]) + amp * std::sin(1.7 * i);
  }
  return [t, y](const double* x, double* f, double* jac) {
    for (int i = 0; i < 20; ++i) {
      const double e = std::exp(-x[1] * t[i]);
      f[i] = x[0] * e - y[i];
      if (jac != nullptr) {
        jac[i] = e;
        jac[20 + i] = -x[0] * t[i] * e;
      }
    }
  };
}

// F = A x - b, 3 residuals, 2 parameters.
ResJac linear3x2() {
  return [](const double* x, double* f, double* jac) {
    static const double a[6] = {1.0, 2.0, -1.0, 0.5, 1.0, 3.0};  // column-major
    static const double b[3] = {1.0, -2.0, 4.0};
    for (int i = 0; i < 3; ++i) f[i] = a[i] * x[0] + a[3 + i] * x[1] - b[i];
    if (jac != nullptr) std::copy(a, a + 6, jac);
  };
}

// F = x - 2 in one parameter: the Gauss-Newton step from 0 is exactly 2.
ResJac shift1() {
  return [](const double* x, double* f, double* jac) {
    f[0] = x[0] - 2.0;
    if (jac != nullptr) jac[0] = 1.0;
  };
}

// F, G, P at x straight from the problem, outside any log.
struct Eval {
  Vec f, g, p;
};
Eval evaluate(LoggedObjective& o, const Vec& x, int iflag = 3) {
  Eval e{Vec(o.nres), Vec(o.npar), Vec(o.npar)};
  o.body(iflag, x.data(), e.f.data(), e.g.data(), e.p.data());
  EXPECT_EQ(iflag >= 0, true);
  return e;
}

// ---------------------------------------------------------------------------
// NLSMIN: convergence to known minima

struct MinCase {
  const char* name;
  int nres, npar;
  std::function<ResJac()> problem;
  Vec start;
  double tol;     // both tolerances
  double sigma;
  Vec xref;       // minimum (independent least-squares solver)
  double xtol;    // relative
  double fnorm;   // norm of the residual at the minimum
};

class Convergence : public ::testing::TestWithParam<MinCase> {};

TEST_P(Convergence, ReachesMinimumWithConsistentReport) {
  const MinCase& c = GetParam();
  LoggedObjective o = make_dense(c.nres, c.npar, c.problem());
  Vec x = c.start, fvec(c.nres, 7.0), rinfo(4, 7.0);
  double fnorm = 7.0;
  const double tol[2] = {c.tol, c.tol};
  int iinfo[3] = {7, 7, 7};
  quorvex::NLSMIN(c.nres, c.npar, x.data(), kLogged, &o, fvec.data(), fnorm, tol, 200, c.sigma,
                  rinfo.data(), iinfo);

  ASSERT_EQ(iinfo[0], 0);
  EXPECT_EQ(iinfo[1], o.calls_with(3));
  EXPECT_EQ(iinfo[2], o.evaluations());
  EXPECT_FALSE(o.nonfinite_point);
  for (int j = 0; j < c.npar; ++j)
    EXPECT_NEAR(x[j], c.xref[j], c.xtol * std::fabs(c.xref[j])) << "x(" << j << ")";
  EXPECT_NEAR(fnorm, c.fnorm, 1e-12 * c.fnorm + 1e-10);

  // x, fvec and fnorm belong together; the measures are those of the last
  // Gauss-Newton step and of the full-step trial x + p.
  const Eval e = evaluate(o, x);
  EXPECT_EQ(fvec, e.f);
  EXPECT_EQ(fnorm, nrm2(c.nres, fvec.data()));
  EXPECT_EQ(rinfo[0], nrm2(c.npar, e.p.data()) / c.npar);
  EXPECT_EQ(rinfo[3], nrm2(c.npar, e.g.data()) / c.npar);
  Vec xt(c.npar);
  for (int j = 0; j < c.npar; ++j) xt[j] = x[j] + e.p[j];
  const Eval t = evaluate(o, xt, 1);
  EXPECT_EQ(o.log.back().x, xt);  // the last call was that trial
  Vec d(c.nres);
  for (int i = 0; i < c.nres; ++i) d[i] = t.f[i] - e.f[i];
  EXPECT_EQ(rinfo[1], nrm2(c.nres, d.data()) / c.nres);
  EXPECT_EQ(rinfo[2], std::fabs(nrm2(c.nres, t.f.data()) - fnorm) / c.nres);
  EXPECT_LT(rinfo[0], c.tol);
  EXPECT_LT(rinfo[1], c.tol);
}

INSTANTIATE_TEST_SUITE_P(
    Problems, Convergence,
    ::testing::Values(
        MinCase{"RosenbrockGoldstein", 2, 2, rosenbrock, {-1.2, 1.0}, 1e-10, 0.1, {1.0, 1.0},
                1e-12, 0.0},
        MinCase{"RosenbrockDerivative", 2, 2, rosenbrock, {-1.2, 1.0}, 1e-10, 0.4, {1.0, 1.0},
                1e-12, 0.0},
        MinCase{"ExpZeroResidual", 20, 2, [] { return exp_decay(0.0); }, {1.0, 0.1}, 1e-10, 0.1,
                {5.0, 0.7}, 1e-10, 0.0},
        MinCase{"ExpZeroResidualDerivative", 20, 2, [] { return exp_decay(0.0); }, {1.0, 0.1},
                1e-10, 0.4, {5.0, 0.7}, 1e-10, 0.0},
        MinCase{"ExpSmallResidual", 20, 2, [] { return exp_decay(0.01); }, {1.0, 0.1}, 1e-10, 0.1,
                {5.0028197611218603, 0.70029325557507771}, 1e-10, 0.031181158548496176},
        MinCase{"ExpLargeResidual", 20, 2, [] { return exp_decay(3.0); }, {1.0, 0.1}, 1e-7, 0.1,
                {5.8478033941307217, 0.78033564924486054}, 1e-7, 9.3545811607397642},
        MinCase{"ExpLargeResidualDerivative", 20, 2, [] { return exp_decay(3.0); }, {1.0, 0.1},
                1e-7, 0.4, {5.8478033941307217, 0.78033564924486054}, 1e-7,
                9.3545811607397642}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// NLSMIN: statuses and exact counts

struct MinRun {
  Vec x, fvec, rinfo;
  double fnorm = 0.0;
  int iinfo[3] = {7, 7, 7};
};

MinRun minimize(LoggedObjective& o, Vec start, double tol1, double tol2, int maxit, double sigma) {
  MinRun r{std::move(start), Vec(o.nres, 7.0), Vec(4, 7.0)};
  r.fnorm = 7.0;
  const double tol[2] = {tol1, tol2};
  quorvex::NLSMIN(o.nres, o.npar, r.x.data(), kLogged, &o, r.fvec.data(), r.fnorm, tol, maxit,
                  sigma, r.rinfo.data(), r.iinfo);
  return r;
}

TEST(MinimizerExit, ConvergenceInFirstIterationCountsOneEvaluation) {
  // Start at the least-squares solution: the step is at rounding level.
  LoggedObjective o = make_dense(3, 2, linear3x2());
  const Vec x0 = [&] {
    const Eval e = evaluate(o, {0.0, 0.0});
    return e.p;
  }();
  const MinRun r = minimize(o, x0, 1e-8, 1e-8, 10, 0.1);
  EXPECT_EQ(r.iinfo[0], 0);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], 1);
  EXPECT_EQ(r.x, x0);
  EXPECT_EQ(r.fvec, evaluate(o, x0).f);
  ASSERT_EQ(o.log.size(), 2u);
  EXPECT_EQ(o.log[0].iflag, 3);
  EXPECT_EQ(o.log[1].iflag, 1);
}

TEST(MinimizerExit, AbortOnFirstCall) {
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  o.abort_call = 0;
  o.abort_code = -1;
  const MinRun r = minimize(o, {-1.2, 1.0}, 1e-8, 1e-8, 10, 0.1);
  EXPECT_EQ(r.iinfo[0], -1);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], 0);
  EXPECT_EQ(r.x, (Vec{-1.2, 1.0}));
  EXPECT_EQ(r.rinfo, Vec(4, 0.0));
}

// An abort at any later call: the status is the callback's code, the counts
// those of the log, x the point where the iteration started.
class AbortLater : public ::testing::TestWithParam<int> {};

TEST_P(AbortLater, StopsAtOnceWithStartOfIteration) {
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  o.abort_call = GetParam();
  o.abort_code = -17;
  const MinRun r = minimize(o, {-1.2, 1.0}, 1e-10, 1e-10, 100, 0.4);
  ASSERT_EQ(static_cast<int>(o.log.size()), GetParam() + 1);
  EXPECT_EQ(r.iinfo[0], -17);
  EXPECT_EQ(r.iinfo[1], o.calls_with(3));
  EXPECT_EQ(r.iinfo[2], o.evaluations());
  const Call* top = nullptr;  // the call that started the last iteration
  for (const Call& call : o.log)
    if (call.iflag == 3) top = &call;
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(r.x, top->x);
  if (top != &o.log.back()) {
    EXPECT_EQ(r.fvec, top->f);
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, AbortLater, ::testing::Values(1, 2, 3, 5, 8, 13, 21));

// MAXIT = 1 without convergence: the status follows the last measures, x has
// moved one step, fvec and fnorm still belong to the start point, and the
// residual change is that of the point returned.
struct LimitCase {
  double tol1, tol2;
  int status;
};

class IterationLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(IterationLimit, StatusFromLastMeasures) {
  const LimitCase& c = GetParam();
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  const Vec x0{-1.2, 1.0};
  const MinRun r = minimize(o, x0, c.tol1, c.tol2, 1, 0.1);
  EXPECT_EQ(r.iinfo[0], c.status);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], o.evaluations());
  EXPECT_NE(r.x, x0);
  const Eval e0 = evaluate(o, x0);
  EXPECT_EQ(r.fvec, e0.f);
  EXPECT_EQ(r.fnorm, nrm2(2, e0.f.data()));
  const Eval e1 = evaluate(o, r.x, 1);
  const Vec d{e1.f[0] - e0.f[0], e1.f[1] - e0.f[1]};
  EXPECT_EQ(r.rinfo[1], nrm2(2, d.data()) / 2);
  EXPECT_EQ(r.rinfo[2], std::fabs(nrm2(2, e1.f.data()) - r.fnorm) / 2);
  EXPECT_EQ(r.rinfo[0], nrm2(2, e0.p.data()) / 2);
}

INSTANTIATE_TEST_SUITE_P(Tolerances, IterationLimit,
                         ::testing::Values(LimitCase{1e10, 1e-300, 1},
                                           LimitCase{1e-300, 1e10, 2},
                                           LimitCase{1e-300, 1e-300, 4}));

// At the limit with both tests met, the step test decides: status 1.  The
// last iteration's full-step trial changes the residuals by more than the
// step the line search takes, and TOL(2) lies between the two, so the trial
// does not converge while the step taken meets the residual test as well.
TEST(MinimizerExit, LimitWithBothTestsMetIsTheStepStatus) {
  LoggedObjective o = make_dense(20, 2, exp_decay(3.0));
  const Vec x0{4.0, 1.5};
  const Eval e0 = evaluate(o, x0);
  Vec xt(2), d(20);
  for (int i = 0; i < 2; ++i) xt[i] = x0[i] + e0.p[i];
  const Eval et = evaluate(o, xt, 1);
  for (int i = 0; i < 20; ++i) d[i] = et.f[i] - e0.f[i];
  const double trial = nrm2(20, d.data()) / 20;
  const MinRun probe = minimize(o, x0, 1e10, 1e-300, 1, 0.1);
  ASSERT_EQ(probe.iinfo[0], 1);
  const double taken = probe.rinfo[1];
  ASSERT_LT(taken, trial);  // the line search stopped short of the full step
  const double tol2 = 0.5 * (taken + trial);
  const MinRun r = minimize(o, x0, 1e10, tol2, 1, 0.1);
  EXPECT_LT(r.rinfo[0], 1e10);
  EXPECT_LT(r.rinfo[1], tol2);
  EXPECT_EQ(r.iinfo[0], 1);
  EXPECT_EQ(r.iinfo[1], 1);
}

// Both tolerance tests are strict.  F = x - 2 from 0: the step is exactly 2
// and the full step changes the residual by exactly 2.
struct StrictCase {
  double tol1, tol2;
  int iter, nfev;
  double x;
};

class StrictTolerance : public ::testing::TestWithParam<StrictCase> {};

TEST_P(StrictTolerance, EqualityDoesNotPass) {
  const StrictCase& c = GetParam();
  LoggedObjective o = make_dense(1, 1, shift1());
  const MinRun r = minimize(o, {0.0}, c.tol1, c.tol2, 10, 0.1);
  EXPECT_EQ(r.iinfo[0], 0);
  EXPECT_EQ(r.iinfo[1], c.iter);
  EXPECT_EQ(r.iinfo[2], c.nfev);
  EXPECT_EQ(r.x, Vec{c.x});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrictTolerance,
    ::testing::Values(StrictCase{2.0, 1e-3, 2, 2, 2.0},  // step measure = tol(1): no trial
                      StrictCase{3.0, 2.0, 2, 3, 2.0},   // residual change = tol(2): go on
                      // both strictly below: converged, x kept at the start
                      StrictCase{3.0, 2.0000001, 1, 1, 0.0}));

TEST(MinimizerExit, EvaluationLimit) {
  // A constant residual offered as descending along a huge step: the line
  // search halves the step about 90 times before it is negligible, far past
  // the 50 evaluations that MAXIT = 1 allows.  The limit is tested first.
  LoggedObjective o = make_scripted(1, 1, [](int& iflag, const double*, double* f, double* g,
                                             double* p) {
    f[0] = 1.0;
    if (iflag >= 2) g[0] = -1.0;
    if (iflag == 3) p[0] = 1e20;
  });
  testing::internal::CaptureStdout();
  const MinRun r = minimize(o, {0.0}, 1e-300, 1e-300, 1, 0.1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(r.iinfo[0], 5);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], o.evaluations());
  EXPECT_GT(o.evaluations(), 50);
  EXPECT_LT(o.evaluations(), 201);
  EXPECT_EQ(r.x, Vec{0.0});
  EXPECT_EQ(r.fvec, Vec{1.0});
  EXPECT_EQ(r.rinfo, Vec(4, 0.0));  // no trial and no step stored any measure
}

// One parameter from x = 0 with F = 1, gradient -1/P and step P, so that the
// line search's ratio at x = a P is (1 - F^2)/a.  F stays 1 (ratio 0: the
// step is halved) down to the trial 2^-k P, where the ratio is 1/2: the search
// accepts a = 2^-k with its (k + 1)-th evaluation.
LoggedObjective halving(int k, double pstep) {
  const double band_below = 1.5 * std::ldexp(pstep, -k);
  return make_scripted(1, 1, [=](int& iflag, const double* x, double* f, double* g, double* p) {
    const bool in_band = x[0] > 0.0 && x[0] < band_below;
    f[0] = in_band ? std::sqrt(1.0 - 0.5 * x[0] / pstep) : 1.0;
    if (iflag >= 2) g[0] = -1.0 / pstep;
    if (iflag == 3) p[0] = pstep;
  });
}

TEST(MinimizerExit, EvaluationLimitIsFiftyPerIteration) {
  // 49 line-search evaluations end at a = 2^-48, so small that the step
  // controller probes at 0.01 P: the 50th evaluation, the last that MAXIT = 1
  // allows, ends the run before the recovery arc.
  const double pstep = 1e8;
  LoggedObjective o = halving(48, pstep);
  const MinRun r = minimize(o, {0.0}, 1e-300, 1e-300, 1, 0.1);
  EXPECT_EQ(r.iinfo[0], 5);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], 50);
  EXPECT_EQ(o.evaluations(), 50);
  EXPECT_EQ(o.log.back().x, Vec{0.01 * pstep});  // the probe
  EXPECT_EQ(r.x, Vec{0.0});
}

TEST(MinimizerExit, LineSearchEndingAtTheLimitEndsTheRun) {
  // 50 line-search evaluations end at a = 2^-49: the count is exactly the
  // limit of MAXIT = 1 when the line search returns, and the run ends there,
  // before the probe that so small a step would call for.
  const double pstep = 1e8;
  LoggedObjective o = halving(49, pstep);
  const MinRun r = minimize(o, {0.0}, 1e-300, 1e-300, 1, 0.1);
  EXPECT_EQ(r.iinfo[0], 5);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], 50);
  EXPECT_EQ(o.evaluations(), 50);
  EXPECT_EQ(o.log.back().x, Vec{std::ldexp(pstep, -49)});  // the line search's last trial
  EXPECT_EQ(r.x, Vec{0.0});
}

TEST(MinimizerExit, LineSearchGivesUp) {
  // A gradient of the wrong sign: f rises along every step the search tries,
  // so it sections down to a negligible step.
  LoggedObjective o = make_scripted(1, 1, [](int& iflag, const double* x, double* f, double* g,
                                             double* p) {
    f[0] = x[0] - 1.0;
    if (iflag >= 2) g[0] = -2.0 * f[0];  // true gradient 2 f
    if (iflag == 3) p[0] = 0.5 * f[0];   // uphill in truth, downhill by g
  });
  testing::internal::CaptureStdout();
  const MinRun r = minimize(o, {0.0}, 1e-300, 1e-300, 10, 0.1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(r.iinfo[0], 3);
  EXPECT_EQ(r.iinfo[1], 1);
  EXPECT_EQ(r.iinfo[2], o.evaluations());
  EXPECT_EQ(r.x, Vec{0.0});
  EXPECT_EQ(r.fvec, Vec{-1.0});
  EXPECT_EQ(r.fnorm, 1.0);
  EXPECT_EQ(r.rinfo, (Vec{0.5, 0.0, 0.0, 2.0}));
}

// No iteration: nothing evaluated, x untouched, zero outputs, (4, 0, 0).
class NoIteration : public ::testing::TestWithParam<std::array<int, 3>> {};

TEST_P(NoIteration, ReportsLimitWithoutEvaluating) {
  const auto [nres, npar, maxit] = GetParam();
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  Vec x{-1.2, 1.0}, fvec(2, 7.0), rinfo(4, 7.0);
  double fnorm = 7.0;
  const double tol[2] = {1e-8, 1e-8};
  int iinfo[3] = {7, 7, 7};
  quorvex::NLSMIN(nres, npar, x.data(), kLogged, &o, fvec.data(), fnorm, tol, maxit, 0.1,
                  rinfo.data(), iinfo);
  EXPECT_TRUE(o.log.empty());
  EXPECT_EQ(iinfo[0], 4);
  EXPECT_EQ(iinfo[1], 0);
  EXPECT_EQ(iinfo[2], 0);
  EXPECT_EQ(x, (Vec{-1.2, 1.0}));
  EXPECT_EQ(rinfo, Vec(4, 0.0));
  EXPECT_EQ(fnorm, 0.0);
  for (int i = 0; i < std::max(nres, 0); ++i) EXPECT_EQ(fvec[i], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, NoIteration,
                         ::testing::Values(std::array<int, 3>{2, 2, 0},
                                           std::array<int, 3>{2, 2, -3},
                                           std::array<int, 3>{0, 2, 10},
                                           std::array<int, 3>{2, 0, 10}));

TEST(MinimizerThreads, ConcurrentRunsMatchSerialRuns) {
  auto run = [](int which) {
    LoggedObjective o = which == 0 ? make_dense(2, 2, rosenbrock())
                                   : make_dense(20, 2, exp_decay(3.0));
    return minimize(o, which == 0 ? Vec{-1.2, 1.0} : Vec{1.0, 0.1}, 1e-7, 1e-7, 100,
                    which == 0 ? 0.1 : 0.4);
  };
  const MinRun s0 = run(0), s1 = run(1);
  MinRun t0, t1;
  for (int rep = 0; rep < 4; ++rep) {
    std::thread a([&] { t0 = run(0); });
    std::thread b([&] { t1 = run(1); });
    a.join();
    b.join();
    EXPECT_EQ(t0.x, s0.x);
    EXPECT_EQ(t1.x, s1.x);
    EXPECT_EQ(t0.rinfo, s0.rinfo);
    EXPECT_EQ(t1.rinfo, s1.rinfo);
    EXPECT_EQ(t0.iinfo[2], s0.iinfo[2]);
    EXPECT_EQ(t1.iinfo[2], s1.iinfo[2]);
  }
}

// ---------------------------------------------------------------------------
// NLSLINE

struct Line {
  Vec x, f, g;
  double alpha = 1.0, fsum = -1.0;
  int info = 7, kfun = 0;
  std::string out;
};

Line line_search(LoggedObjective& o, Vec x, const Vec& p, Vec f, Vec g, double dg, double sigma,
                 double alpha = 1.0) {
  Line r{std::move(x), std::move(f), std::move(g), 1.0, -1.0, 7, 0, {}};
  r.alpha = alpha;
  quorvex::LineWork w;
  Vec scratch(o.npar);
  testing::internal::CaptureStdout();
  quorvex::NLSLINE(o.nres, o.npar, r.x.data(), p.data(), r.alpha, r.f.data(), r.g.data(), dg,
                   sigma, kLogged, &o, r.info, r.kfun, r.fsum, w, scratch.data());
  r.out = testing::internal::GetCapturedStdout();
  return r;
}

// F = x - 3 from 0 along p = 0.5: r(1) = 11/12 (too short), then the
// quadratic step 6 lands on the minimum.
LoggedObjective shifted3() {
  return make_dense(1, 1, [](const double* x, double* f, double* jac) {
    f[0] = x[0] - 3.0;
    if (jac != nullptr) jac[0] = 1.0;
  });
}

struct LevelCase {
  double sigma;
  int iflag;
};

class LineLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LineLevel, GradientsOnlyAboveAQuarter) {
  const LevelCase& c = GetParam();
  LoggedObjective o = shifted3();
  const Line r = line_search(o, {0.0}, {0.5}, {-3.0}, {-6.0}, -3.0, c.sigma);
  EXPECT_EQ(r.info, 0);
  EXPECT_EQ(r.kfun, 2);
  ASSERT_EQ(o.log.size(), 2u);
  for (const Call& call : o.log) EXPECT_EQ(call.iflag, c.iflag);
  EXPECT_NEAR(r.x[0], 3.0, 1e-14);
  EXPECT_EQ(r.x, o.log.back().x);
  EXPECT_EQ(r.f, o.log.back().f);
  EXPECT_EQ(r.fsum, r.f[0] * r.f[0]);
  EXPECT_NEAR(r.alpha, 6.0, 1e-13);
  if (c.iflag == 2)  // the gradient is taken over only when evaluated
    EXPECT_NEAR(r.g[0], 0.0, 1e-13);
  else
    EXPECT_EQ(r.g, Vec{-6.0});
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Sigma, LineLevel,
                         ::testing::Values(LevelCase{0.1, 1}, LevelCase{0.25, 1},
                                           LevelCase{std::nextafter(0.25, 1.0), 2},
                                           LevelCase{0.4, 2}));

TEST(LineSearch, FirstTrialInBandAcceptedAfterOneEvaluation) {
  // F = x from 1 along -1: r(1) = 1/2.
  LoggedObjective o = make_dense(1, 1, [](const double* x, double* f, double* jac) {
    f[0] = x[0];
    if (jac != nullptr) jac[0] = 1.0;
  });
  const Line r = line_search(o, {1.0}, {-1.0}, {1.0}, {2.0}, -2.0, 0.1);
  EXPECT_EQ(r.info, 0);
  EXPECT_EQ(r.kfun, 1);
  EXPECT_EQ(r.alpha, 1.0);
  EXPECT_EQ(r.x, Vec{0.0});
  EXPECT_EQ(r.f, Vec{0.0});
  EXPECT_EQ(r.fsum, 0.0);
}

TEST(LineSearch, ATrialWhoseResidualsAreNotNumbersCountsAsTooLong) {
  // F = x - 1 from 0 along p = 10, not a number for 0.5 < x < 2.  Sectioning
  // reaches x = 1 (ratio NaN), shrinks back and accepts x = 0.271, where the
  // ratio 1 - 5 alpha lies in the band.
  LoggedObjective o = make_dense(1, 1, [](const double* x, double* f, double* jac) {
    f[0] = (x[0] > 0.5 && x[0] < 2.0) ? std::nan("") : x[0] - 1.0;
    if (jac != nullptr) jac[0] = 1.0;
  });
  const Line r = line_search(o, {0.0}, {10.0}, {-1.0}, {-2.0}, -20.0, 0.1);
  EXPECT_EQ(r.info, 0);
  ASSERT_TRUE(std::isfinite(r.x[0]));
  EXPECT_TRUE(std::isfinite(r.f[0]));
  EXPECT_NEAR(r.x[0], 0.271, 1e-12);
  EXPECT_EQ(r.f[0], r.x[0] - 1.0);
  EXPECT_EQ(r.fsum, r.f[0] * r.f[0]);
}

// Searches that must give up: x, f, g come back unchanged, fsum = f0, INFO = 1.
struct GiveUpCase {
  const char* name;
  quorvex_test::Body body;
  double p, dg, sigma;
  int kfun;          // evaluations made
  bool printed;      // "KFUN > 200"
};

class LineGiveUp : public ::testing::TestWithParam<GiveUpCase> {};

TEST_P(LineGiveUp, StartPointReturned) {
  const GiveUpCase& c = GetParam();
  LoggedObjective o = make_scripted(1, 1, c.body);
  const Line r = line_search(o, {0.0}, {c.p}, {1.0}, {-0.5}, c.dg, c.sigma);
  EXPECT_EQ(r.info, 1);
  EXPECT_EQ(r.kfun, c.kfun);
  EXPECT_EQ(static_cast<int>(o.log.size()), c.kfun);
  EXPECT_EQ(r.x, Vec{0.0});
  EXPECT_EQ(r.f, Vec{1.0});
  EXPECT_EQ(r.g, Vec{-0.5});
  EXPECT_EQ(r.fsum, 1.0);
  EXPECT_EQ(r.out, c.printed ? "KFUN > 200\n" : "");
  EXPECT_DOUBLE_EQ(r.alpha, o.log.back().x[0] / c.p);  // the step of the last trial
}

void constant_one(int& iflag, const double*, double* f, double* g, double*) {
  f[0] = 1.0;
  if (iflag >= 2) g[0] = 0.0;
}
void rising(int& iflag, const double* x, double* f, double* g, double*) {  // f = 1 + x
  f[0] = std::sqrt(1.0 + x[0]);
  if (iflag >= 2) g[0] = 1.0;
}
void not_a_number(int& iflag, const double*, double* f, double* g, double*) {
  f[0] = kNaN;
  if (iflag >= 2) g[0] = kNaN;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineGiveUp,
    ::testing::Values(
        // f constant, claimed slope -1: r = 0 halves the step each time; with
        // p = 1e60 the step is still far from negligible at the 201st trial.
        GiveUpCase{"SectioningLimit", constant_one, 1e60, -1.0, 0.1, 201, true},
        GiveUpCase{"SectioningLimitGradients", constant_one, 1e60, -1.0, 0.4, 201, true},
        // Same with p = 1: the step becomes negligible long before.
        GiveUpCase{"NegligibleStep", constant_one, 1.0, -1.0, 0.1, 28, false},
        // Uphill: r = 1 for ever; expansion is bounded like sectioning.
        GiveUpCase{"UphillExpansion", rising, 1.0, 1.0, 0.1, 201, true},
        GiveUpCase{"UphillExpansionGradients", rising, 1.0, 1.0, 0.4, 201, true},
        // Values that are not numbers: every trial counts as too long, so
        // sectioning shrinks the step until it is negligible.
        GiveUpCase{"NotANumber", not_a_number, 1.0, -1.0, 0.1, 10, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineSearch, AbortLeavesStartAndReportsCode) {
  LoggedObjective o = shifted3();
  o.abort_call = 1;
  o.abort_code = -101;
  const Line r = line_search(o, {0.0}, {0.5}, {-3.0}, {-6.0}, -3.0, 0.1);
  EXPECT_EQ(r.info, -101);
  EXPECT_EQ(r.kfun, 2);
  EXPECT_EQ(r.x, Vec{0.0});
  EXPECT_EQ(r.f, Vec{-3.0});
  EXPECT_EQ(r.fsum, 9.0);
  EXPECT_NEAR(r.alpha, 6.0, 1e-13);  // the trial that aborted
}

// Derivative phase on scripted values (x0 = 0, p = 1, f0 = 1, dg = -2,
// sigma = 0.4): the first trial (x = 1, f = 0.09, slope -1) is in the band but
// its slope has not dropped enough; the secant step goes to x = 2.
struct SecantCase {
  const char* name;
  double f2, g2;  // residual and gradient at x = 2
  double x, f, g, alpha;
};

class Secant : public ::testing::TestWithParam<SecantCase> {};

TEST_P(Secant, ResidualsBelongToReturnedPoint) {
  const SecantCase& c = GetParam();
  LoggedObjective o = make_scripted(1, 1, [&](int&, const double* x, double* f, double* g,
                                               double*) {
    if (x[0] == 1.0) {
      f[0] = 0.3;
      g[0] = -1.0;
    } else if (x[0] == 2.0) {
      f[0] = c.f2;
      g[0] = c.g2;
    } else {
      f[0] = kNaN;
      g[0] = kNaN;
      ADD_FAILURE() << "unexpected point " << x[0];
    }
  });
  const Line r = line_search(o, {0.0}, {1.0}, {1.0}, {-2.0}, -2.0, 0.4);
  EXPECT_EQ(r.info, 0);
  EXPECT_EQ(r.kfun, 2);
  EXPECT_EQ(r.x, Vec{c.x});
  EXPECT_EQ(r.f, Vec{c.f});
  EXPECT_EQ(r.g, Vec{c.g});
  EXPECT_EQ(r.fsum, c.f * c.f);
  EXPECT_EQ(r.alpha, c.alpha);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Secant,
    ::testing::Values(SecantCase{"Rejected", 0.5, 0.25, 1.0, 0.3, -1.0, 1.0},
                      SecantCase{"RejectedNotANumber", kNaN, 0.25, 1.0, 0.3, -1.0, 1.0},
                      SecantCase{"Accepted", 0.1, -0.1, 2.0, 0.1, -0.1, 2.0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// NLSARC

struct Arc {
  Vec x, fbest;
  double fsum = 42.0;
  int info = 7, kfun = 0;
};

Arc arc_search(LoggedObjective& o, const Vec& x, const Vec& p, const Vec& g, double radius) {
  Arc r{x, Vec(o.nres, 7.0)};
  quorvex::ArcWork w;
  Vec sg(o.npar), sp(o.npar);
  quorvex::NLSARC(o.nres, o.npar, r.x.data(), p.data(), r.fsum, g.data(), radius, kLogged, &o,
                  r.info, r.kfun, r.fbest.data(), w, sg.data(), sp.data());
  return r;
}

double distance(const Vec& a, const Vec& b) {
  Vec d(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) d[i] = a[i] - b[i];
  return nrm2(static_cast<int>(d.size()), d.data());
}

// The choice of the search replayed from the logged values alone: five
// slots of evaluation indices, the best by value (ties to the lower slot,
// values that are not numbers last), the bracket halved around it.
std::size_t replay_best(const LoggedObjective& o) {
  auto val = [&](std::size_t k) { return sumsq(o.log[k].f); };
  auto before = [&](std::size_t a, std::size_t b) {
    const double fa = val(a), fb = val(b);
    if (std::isnan(fa)) return false;
    if (std::isnan(fb)) return true;
    return fa < fb;
  };
  std::size_t s[5] = {0, 1, 2, 3, 4}, next = 5;
  int b = 0;
  for (int pass = 1; pass <= 8; ++pass) {
    b = 0;
    for (int k = 1; k < 5; ++k)
      if (before(s[k], s[b])) b = k;
    if (pass == 8) break;
    if (b <= 1) {
      s[4] = s[2];
      s[2] = s[1];
    } else if (b == 2) {
      s[0] = s[1];
      s[4] = s[3];
    } else {
      s[0] = s[2];
      s[2] = s[3];
    }
    s[1] = next++;
    s[3] = next++;
  }
  return s[b];
}

struct ArcCase {
  const char* name;
  int npar;
  unsigned seed;
  double quantum;  // values rounded to multiples of this (0: none) to force ties
  bool orthogonal; // p orthogonal to g
  double nan_above = 2.0;  // residuals are not numbers where sin(s_1) exceeds this
};

class ArcGeometry : public ::testing::TestWithParam<ArcCase> {};

TEST_P(ArcGeometry, NineteenPointsOnCircleBestReturnedWithItsResiduals) {
  const ArcCase& c = GetParam();
  std::mt19937 gen(c.seed);
  std::normal_distribution<double> nd;
  const int n = c.npar, m = n + 2;
  Vec a(static_cast<std::size_t>(m) * n), b(m);
  for (double& v : a) v = nd(gen);
  for (double& v : b) v = nd(gen);
  // With a quantum (a power of 2) the values are rounded and then rotated by
  // an amount that depends on the point: sums of squares tie exactly while
  // the residual vectors of tied points differ.
  const double q = c.quantum;
  LoggedObjective o = make_scripted(m, n, [&](int&, const double* x, double* f, double*, double*) {
    Vec v(m);
    for (int i = 0; i < m; ++i) {
      double s = -b[i];
      for (int j = 0; j < n; ++j) s += a[static_cast<std::size_t>(j) * m + i] * x[j];
      v[i] = q > 0.0 ? q * std::round(std::sin(s) / q) : std::sin(s);
    }
    const int shift = q > 0.0 ? static_cast<int>(std::fabs(x[0]) * 1e4) % m : 0;
    for (int i = 0; i < m; ++i) f[(i + shift) % m] = v[0] > c.nan_above ? kNaN : v[i];
  });
  Vec x(n), p(n), g(n);
  for (int j = 0; j < n; ++j) {
    x[j] = nd(gen);
    p[j] = nd(gen);
    g[j] = nd(gen);
  }
  if (c.orthogonal) {  // p minus its component along g
    double pg = 0.0, gg = 0.0;
    for (int j = 0; j < n; ++j) {
      pg += p[j] * g[j];
      gg += g[j] * g[j];
    }
    for (int j = 0; j < n; ++j) p[j] -= pg / gg * g[j];
  }
  const double radius = 0.7;
  const Arc r = arc_search(o, x, p, g, radius);
  EXPECT_EQ(r.info, 0);
  EXPECT_EQ(r.kfun, 19);
  ASSERT_EQ(o.log.size(), 19u);
  for (const Call& call : o.log) {
    EXPECT_EQ(call.iflag, 1);
    EXPECT_NEAR(distance(call.x, x), radius, 1e-14);
  }
  const Call& best = o.log[replay_best(o)];
  EXPECT_EQ(r.x, best.x);
  EXPECT_EQ(r.fbest, best.f);
  EXPECT_EQ(r.fsum, sumsq(best.f));
  int numbers = 0;
  for (const Call& call : o.log) {
    if (std::isnan(sumsq(call.f))) continue;
    ++numbers;
    EXPECT_LE(r.fsum, sumsq(call.f));
  }
  if (c.nan_above < 1.0) {  // some values are not numbers, and never chosen
    EXPECT_LT(numbers, 19);
    EXPECT_TRUE(std::isfinite(r.fsum));
  }
  // The near end is the steepest-descent point, the fifth trial the far end.
  const double gn = nrm2(n, g.data()), pn = nrm2(n, p.data());
  for (int j = 0; j < n; ++j) {
    EXPECT_NEAR(o.log[0].x[j], x[j] - radius * g[j] / gn, 1e-14);
    EXPECT_NEAR(o.log[4].x[j], x[j] + radius * p[j] / pn, 1e-14);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArcGeometry,
    ::testing::Values(ArcCase{"Plane2", 2, 1, 0.0, false}, ArcCase{"General5", 5, 2, 0.0, false},
                      ArcCase{"General9", 9, 3, 0.0, false},
                      ArcCase{"Orthogonal4", 4, 4, 0.0, true},
                      ArcCase{"Ties5a", 5, 5, 0.25, false}, ArcCase{"Ties5b", 5, 6, 0.5, false},
                      ArcCase{"Ties3", 3, 7, 0.125, true}, ArcCase{"Ties8", 8, 8, 0.0625, false},
                      ArcCase{"Ties2", 2, 9, 0.5, false}, ArcCase{"Ties6", 6, 10, 0.25, true},
                      ArcCase{"SomeNotANumber", 5, 11, 0.0, false, -0.3},
                      ArcCase{"SomeNotANumberTies", 4, 12, 0.25, false, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ArcSearch, AllEqualValuesReturnSteepestDescentPoint) {
  LoggedObjective o = make_scripted(2, 3, [](int&, const double*, double* f, double*, double*) {
    f[0] = 1.0;
    f[1] = -2.0;
  });
  const Vec x{1.0, -2.0, 0.5}, p{0.3, 0.2, -1.0}, g{1.0, 2.0, 2.0};
  const Arc r = arc_search(o, x, p, g, 0.3);
  EXPECT_EQ(r.kfun, 19);
  EXPECT_EQ(r.x, o.log[0].x);
  for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(r.x[j], x[j] - 0.3 * g[j] / 3.0);
  EXPECT_EQ(r.fsum, 5.0);
  EXPECT_EQ(r.fbest, (Vec{1.0, -2.0}));
}

TEST(ArcSearch, AbortOnFirstEvaluation) {
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  o.abort_call = 0;
  o.abort_code = -3;
  const Arc r = arc_search(o, {0.5, 0.5}, {1.0, 0.0}, {0.0, 1.0}, 0.1);
  EXPECT_EQ(r.info, -3);
  EXPECT_EQ(r.kfun, 1);
  EXPECT_EQ(r.x, (Vec{0.5, 0.5}));
  EXPECT_EQ(r.fsum, 42.0);
}

// Degenerate geometry: no point that is not a number is ever evaluated, the
// budget stays 19, and the points stay at distance radius where a direction
// exists.
struct DegenerateCase {
  const char* name;
  Vec p, g;
  double radius;
  bool on_circle;
  Vec returned;  // expected returned point (empty: not checked)
};

class ArcDegenerate : public ::testing::TestWithParam<DegenerateCase> {};

TEST_P(ArcDegenerate, NoNaNPoint) {
  const DegenerateCase& c = GetParam();
  const int n = static_cast<int>(c.p.size());
  LoggedObjective o = make_scripted(n, n, [n](int&, const double* x, double* f, double*, double*) {
    for (int i = 0; i < n; ++i) f[i] = x[i] - 0.25 * (i + 1);
  });
  const Vec x(n, 0.0);
  const Arc r = arc_search(o, x, c.p, c.g, c.radius);
  EXPECT_EQ(r.info, 0);
  EXPECT_EQ(r.kfun, 19);
  EXPECT_FALSE(o.nonfinite_point);
  EXPECT_TRUE(std::isfinite(r.fsum));
  for (const Call& call : o.log) {
    if (c.on_circle) {
      EXPECT_NEAR(distance(call.x, x), c.radius, 1e-15);
    }
  }
  for (std::size_t j = 0; j < c.returned.size(); ++j) EXPECT_NEAR(r.x[j], c.returned[j], 1e-15);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArcDegenerate,
    ::testing::Values(
        // g = 0: every trial is the far end x + R p/|p|.
        DegenerateCase{"ZeroGradient", {3.0, 4.0}, {0.0, 0.0}, 0.5, true, {0.3, 0.4}},
        // p = 0: every trial is the steepest-descent point.
        DegenerateCase{"ZeroDirection", {0.0, 0.0}, {0.0, 2.0}, 0.5, true, {0.0, -0.5}},
        DegenerateCase{"SteepestDescent", {-1.0, -1.0, -1.0}, {1.0, 1.0, 1.0}, 0.5, true, {}},
        DegenerateCase{"SteepestDescentScaled", {-3.0, -6.0}, {1.0, 2.0}, 1.0, true, {}},
        DegenerateCase{"Uphill", {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}, 0.5, true, {}},
        DegenerateCase{"UphillScaled", {0.3, 0.6, 0.9}, {1.0, 2.0, 3.0}, 0.5, true, {}},
        DegenerateCase{"NearlyParallel", {1.0, 1.0 + 1e-15, 1.0}, {1.0, 1.0, 1.0}, 0.5, true, {}},
        DegenerateCase{"OneParameterUphill", {2.0}, {1.0}, 0.5, true, {-0.5}},
        DegenerateCase{"OneParameterDownhill", {-2.0}, {1.0}, 0.5, true, {-0.5}},
        DegenerateCase{"TinyGradient", {1.0, 0.0}, {0.0, 1e-300}, 0.5, true, {}},
        DegenerateCase{"InfiniteRadius", {1.0, 0.0}, {0.0, 1.0}, kInf, false, {0.0, 0.0}},
        DegenerateCase{"NothingDefined", {0.0, 0.0}, {0.0, 0.0}, 0.5, false, {0.0, 0.0}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// NLSSTEP: the residual vector returned belongs to the point returned.

struct Step {
  Vec x, p, g, f;
  double alpha = 1.0;
  int info = 7, nfev = 0;
};

Step step(LoggedObjective& o, const Vec& x0, const Vec& p0, double sigma, int maxfev = 1000) {
  Step s{x0, p0, Vec(o.npar), Vec(o.nres)};
  {
    Vec scratch(o.npar);
    int iflag = 2;
    o.body(iflag, x0.data(), s.f.data(), s.g.data(), scratch.data());
  }
  quorvex::StepWork w;
  Vec sg(o.npar), sp(o.npar);
  quorvex::NLSSTEP(o.nres, o.npar, s.x.data(), s.p.data(), s.g.data(), s.f.data(), s.alpha, 0.01,
                   sigma, kLogged, &o, s.info, s.nfev, maxfev, w, sg.data(), sp.data());
  return s;
}

// The residuals logged for the latest evaluation at x.
const Vec* logged_f(const LoggedObjective& o, const Vec& x) {
  for (auto it = o.log.rbegin(); it != o.log.rend(); ++it)
    if (it->x == x && !it->f.empty()) return &it->f;
  return nullptr;
}

// f = x^2 + 1e4 y^2 from (1, 0) along (-1, 1): the line search ends with a
// step near 1e-4, the probe at 0.01 is worse than the start, and the arc
// finds a better point towards steepest descent.
LoggedObjective valley() {
  return make_dense(2, 2, [](const double* x, double* f, double* jac) {
    f[0] = x[0];
    f[1] = 100.0 * x[1];
    if (jac != nullptr) {
      jac[0] = 1.0;
      jac[1] = 0.0;
      jac[2] = 0.0;
      jac[3] = 100.0;
    }
  });
}

// F = x for x >= 0 and x/10 below: from 1 along -500 the line search ends
// near 0.0055 and the probe at x = -4 is better than the start.
LoggedObjective kinked() {
  return make_dense(1, 1, [](const double* x, double* f, double* jac) {
    f[0] = x[0] >= 0.0 ? x[0] : 0.1 * x[0];
    if (jac != nullptr) jac[0] = x[0] >= 0.0 ? 1.0 : 0.1;
  });
}

TEST(StepController, PlainLineSearch) {
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  const Eval e = evaluate(o, {-1.2, 1.0});
  const Step s = step(o, {-1.2, 1.0}, e.p, 0.1);
  EXPECT_EQ(s.info, 0);
  EXPECT_GT(s.alpha, 0.01);
  EXPECT_EQ(s.nfev, o.evaluations());
  ASSERT_NE(logged_f(o, s.x), nullptr);
  EXPECT_EQ(s.f, *logged_f(o, s.x));
  EXPECT_EQ(s.p, e.p);
}

TEST(StepController, ProbeBetterKeepsLineSearchPoint) {
  LoggedObjective o = kinked();
  const Step s = step(o, {1.0}, {-500.0}, 0.1);
  EXPECT_EQ(s.info, 0);
  EXPECT_LE(s.alpha, 0.01);
  ASSERT_EQ(o.log.back().x, Vec{-4.0});  // the probe was the last evaluation
  EXPECT_LT(sumsq(o.log.back().f), 1.0);
  EXPECT_NE(s.x, Vec{-4.0});
  EXPECT_EQ(s.nfev, o.evaluations());
  ASSERT_NE(logged_f(o, s.x), nullptr);
  EXPECT_EQ(s.f, *logged_f(o, s.x));
}

TEST(StepController, RecoveryArcTakenOrNot) {
  // First run: the arc point is taken.
  LoggedObjective o = valley();
  const Step s = step(o, {1.0, 0.0}, {-1.0, 1.0}, 0.1);
  const int before_arc = s.nfev - 19;  // line search and probe
  ASSERT_GE(before_arc, 2);
  EXPECT_EQ(s.info, 0);
  EXPECT_EQ(s.nfev, o.evaluations());
  EXPECT_EQ(o.log[before_arc - 1].x, (Vec{1.0 + 0.01 * -1.0, 0.0 + 0.01 * 1.0}));  // the probe
  const Vec* arc_f = logged_f(o, s.x);
  ASSERT_NE(arc_f, nullptr);
  EXPECT_EQ(s.f, *arc_f);
  EXPECT_EQ(s.g, (Vec{2.0, 0.0}));  // gradient of the start point

  // Second run: the same, but every arc evaluation is made worse, so the
  // line-search point stays, with its own residuals.
  LoggedObjective worse = valley();
  auto plain = worse.body;
  worse.body = [&, plain](int& iflag, const double* x, double* f, double* g, double* p) {
    plain(iflag, x, f, g, p);
    if (static_cast<int>(worse.log.size()) >= before_arc)
      for (int i = 0; i < 2; ++i) f[i] *= 10.0;
  };
  const Step t = step(worse, {1.0, 0.0}, {-1.0, 1.0}, 0.1);
  EXPECT_EQ(t.info, 0);
  EXPECT_EQ(t.nfev, s.nfev);
  EXPECT_EQ(worse.log.size(), o.log.size());
  const Vec* ls_f = logged_f(worse, t.x);
  ASSERT_NE(ls_f, nullptr);
  EXPECT_EQ(t.f, *ls_f);
  EXPECT_LT(std::find_if(worse.log.begin(), worse.log.end(),
                         [&](const Call& c) { return c.x == t.x; }) -
                worse.log.begin(),
            before_arc - 1);  // a line-search point
}

// The probe is made only when the step is small AND the model's minimum lies
// within the threshold too (a/(1 - R) <= 0.01, R = 1/2 here): a = 2^-7 is
// below 0.01 but a/(1 - R) is not; a = 2^-8 satisfies both.
TEST(StepController, ProbeOnlyWhenBothSmallStepConditionsHold) {
  for (const auto& [k, probe] : {std::pair{7, false}, std::pair{8, true}}) {
    LoggedObjective o = halving(k, 1.0);
    const Step s = step(o, {0.0}, {1.0}, 0.1);
    EXPECT_EQ(s.info, 0) << k;
    EXPECT_EQ(s.alpha, std::ldexp(1.0, -k)) << k;
    const bool probed = std::any_of(o.log.begin(), o.log.end(),
                                    [](const Call& c) { return c.x == Vec{0.01}; });
    EXPECT_EQ(probed, probe) << k;
    if (!probe) {
      EXPECT_EQ(s.nfev, k + 1);
    }
  }
}

TEST(StepController, UphillDirectionSearchesArcFirst) {
  LoggedObjective o = make_dense(2, 2, [](const double* x, double* f, double* jac) {
    f[0] = x[0];
    f[1] = x[1];
    if (jac != nullptr) {
      jac[0] = 1.0;
      jac[1] = 0.0;
      jac[2] = 0.0;
      jac[3] = 1.0;
    }
  });
  const Step s = step(o, {1.0, 1.0}, {1.0, 0.5}, 0.1);
  EXPECT_EQ(s.info, 0);
  EXPECT_EQ(s.nfev, o.evaluations());
  EXPECT_GT(s.nfev, 19);
  // The direction searched is the displacement to the best arc point, at a
  // hundredth of |p|.
  EXPECT_NEAR(nrm2(2, s.p.data()), 0.01 * std::sqrt(1.25), 1e-14);
  EXPECT_LT(s.p[0] * 2.0 + s.p[1] * 2.0, 0.0);
  ASSERT_NE(logged_f(o, s.x), nullptr);
  EXPECT_EQ(s.f, *logged_f(o, s.x));
  EXPECT_LT(sumsq(s.f), 2.0);
}

TEST(StepController, EvaluationLimitInsideTheDescentArc) {
  // An uphill direction: the descent arc spends 19 evaluations, past a limit
  // of 1; the arc's best point comes back with its own residuals.
  LoggedObjective o = make_dense(2, 2, [](const double* x, double* f, double* jac) {
    f[0] = x[0];
    f[1] = x[1];
    if (jac != nullptr) {
      jac[0] = 1.0;
      jac[1] = 0.0;
      jac[2] = 0.0;
      jac[3] = 1.0;
    }
  });
  const Step s = step(o, {1.0, 1.0}, {1.0, 0.5}, 0.1, 1);
  EXPECT_EQ(s.info, 2);
  EXPECT_EQ(s.nfev, 19);
  EXPECT_NE(s.x, (Vec{1.0, 1.0}));
  ASSERT_NE(logged_f(o, s.x), nullptr);
  EXPECT_EQ(s.f, *logged_f(o, s.x));
}

TEST(StepController, EvaluationLimitAfterLineSearch) {
  LoggedObjective o = make_dense(2, 2, rosenbrock());
  const Eval e = evaluate(o, {-1.2, 1.0});
  const Step s = step(o, {-1.2, 1.0}, e.p, 0.1, 1);
  EXPECT_EQ(s.info, 2);
  EXPECT_EQ(s.nfev, o.evaluations());
  ASSERT_NE(logged_f(o, s.x), nullptr);
  EXPECT_EQ(s.f, *logged_f(o, s.x));
}

}  // namespace
