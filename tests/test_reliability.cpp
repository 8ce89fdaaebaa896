// Faults an adversarial run of the entry points found, each as the call that
// showed it: undefined pointer arithmetic in the block sweep, arrays written
// for a coefficient count no caller can have, a generalized fit's outputs
// that did not belong to the parameters it returned, and a status left
// unwritten when storage ran out.  All through the exported names, as a host
// calls them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <vector>

#include "alloc_hook.h"
#include "curve/curveval.h"
#include "gls/glsdrv.h"
#include "gls/glsobj.h"
#include "gls/glspfit.h"
#include "gls_data.h"
#include "host_library.h"
#include "numeric/trpack.h"
#include "ols/olspfit.h"

namespace {

using quorvex_test::EivData;
using quorvex_test::make_eiv_data;

constexpr double kSentinel = -4321.0;
constexpr int kIntSentinel = -55;

const quorvex_test::HostLibrary& library() {
  static const quorvex_test::HostLibrary lib;
  return lib;
}

// Every output of one exported GLSPFIT call.  Arrays sized by NCOEF get `mc`
// coefficients' worth of room (the caller's arrays: NCOEF itself when it is
// small, fewer when the count is one no caller can have).
struct Gls {
  std::vector<double> param, cov, yfit, res, wres, r11, r12, r22, rinfo;
  double sres = kSentinel, wresmax = kSentinel;
  int olstat = kIntSentinel;
  int istat[3] = {kIntSentinel, kIntSentinel, kIntSentinel};

  Gls(std::size_t n, std::size_t mc)
      : param(n + mc, kSentinel), cov(mc * mc, kSentinel), yfit(n, kSentinel),
        res(2 * n, kSentinel), wres(2 * n, kSentinel), r11(n, kSentinel), r12(n * mc, kSentinel),
        r22(quorvex::packed_size(mc), kSentinel), rinfo(4, kSentinel) {}
};

// The call itself, into outputs obtained beforehand (it allocates nothing).
void call_gls(const EivData& d, Gls& r, std::array<double, 2> tol = {1e-10, 1e-10},
              int maxit = 50, double sigma = 0.1) {
  auto* fn = QVX_HOST_FN(library(), GLSPFIT);
  ASSERT_NE(fn, nullptr);
  fn(&d.npts, d.x.data(), d.y.data(), d.wx.data(), d.wy.data(), &d.ncoef, &d.xmin, &d.xmax,
     tol.data(), &maxit, &sigma, r.param.data(), r.cov.data(), &r.sres, r.yfit.data(),
     r.res.data(), r.wres.data(), &r.wresmax, r.r11.data(), r.r12.data(), r.r22.data(),
     r.rinfo.data(), &r.olstat, r.istat);
}

Gls gls(const EivData& d, std::array<double, 2> tol = {1e-10, 1e-10}, int maxit = 50,
        double sigma = 0.1, std::size_t mc = static_cast<std::size_t>(-1)) {
  if (mc == static_cast<std::size_t>(-1)) mc = d.ncoef > 0 ? d.ncoef : 0;
  Gls r(d.npts > 0 ? d.npts : 0, mc);
  call_gls(d, r, tol, maxit, sigma);
  return r;
}

bool all_equal(const std::vector<double>& v, std::size_t from, std::size_t to, double value) {
  for (std::size_t k = from; k < to; ++k)
    if (!(v[k] == value)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// 1. Two equal abscissae: the block sweep's later reflectors of a chunk once
//    found their column by unsigned arithmetic that wrapped below zero (the
//    clang sanitizer build stops on it).  Through the entry point the
//    starting fit refuses the singular design (OLSTAT 24); the driver, given
//    a start, runs the sweep, whose step solve fails: status -2.

TEST(Reliability, TwoEqualAbscissaeFitWithoutWrappedPointerArithmetic) {
  EivData d;
  d.npts = 2;
  d.ncoef = 2;
  d.xmin = -1.0;
  d.xmax = 1.0;
  d.x = {0.5, 0.5};
  d.y = {0.5, 0.5};
  d.wx = {0.5, 0.5};
  d.wy = {0.5, 2.0};
  const Gls r = gls(d, {1e-10, 1e-10}, 27, 0.1);
  EXPECT_EQ(r.olstat, 24);
  EXPECT_EQ(r.istat[0], 0);

  // The weights divided by the largest (2), from corrections 0 and a line.
  const std::vector<double> wxs{0.25, 0.25}, wys{0.25, 1.0};
  Gls g(2, 2);
  g.param = {0.0, 0.0, 1.0, 0.5};
  double fnorm = 0.0;
  const std::array<double, 2> tol{1e-10, 1e-10};
  quorvex::GLSDRV({d.npts, d.x.data(), d.y.data(), wxs.data(), wys.data()},
                  {d.ncoef, d.xmin, d.xmax, quorvex::CURVEVAL}, {tol.data(), 27, 0.1},
                  g.param.data(), g.yfit.data(), g.wres.data(), fnorm,
                  {g.r11.data(), g.r12.data(), g.r22.data()}, g.rinfo.data(), g.istat);
  EXPECT_EQ(g.istat[0], -2);
}

// ---------------------------------------------------------------------------
// 2. A coefficient count above 10 is never valid, so the caller's arrays need
//    not have its size: nothing sized by it is written, and nothing is
//    allocated for it.  Arrays sized by NPTS are cleared as for every
//    failing call.

struct CountCase {
  int npts, ncoef, status;
  std::size_t room;  // coefficients the caller's arrays have room for
};

class OversizedCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(OversizedCount, OrdinaryFitLeavesTheCoefficientArraysAlone) {
  const CountCase c = GetParam();
  const EivData d = make_eiv_data(c.npts, 3, 0.05, 0.05, 41);
  const std::size_t n = c.npts, mc = c.room;
  std::vector<double> coef(mc, kSentinel), cov(mc * mc, kSentinel);
  std::vector<double> yfit(n, kSentinel), res(n, kSentinel), wres(n, kSentinel);
  double sres = kSentinel, wresmax = kSentinel;
  int istat = kIntSentinel;
  auto* fn = QVX_HOST_FN(library(), OLSPFIT);
  ASSERT_NE(fn, nullptr);
  fn(&c.npts, d.x.data(), d.y.data(), d.wy.data(), &c.ncoef, &d.xmin, &d.xmax, coef.data(),
     cov.data(), &sres, yfit.data(), res.data(), wres.data(), &wresmax, &istat);
  EXPECT_EQ(istat, c.status);
  EXPECT_TRUE(all_equal(coef, 0, coef.size(), kSentinel));
  EXPECT_TRUE(all_equal(cov, 0, cov.size(), kSentinel));
  for (const auto* v : {&yfit, &res, &wres}) EXPECT_TRUE(all_equal(*v, 0, n, 0.0));
  EXPECT_EQ(sres, 0.0);
  EXPECT_EQ(wresmax, 0.0);
}

TEST_P(OversizedCount, GeneralizedFitNeitherAllocatesNorWritesForIt) {
  const CountCase c = GetParam();
  for (bool badwx : {false, true}) {
    EivData d = make_eiv_data(c.npts, 3, 0.05, 0.05, 42);
    d.ncoef = c.ncoef;
    if (badwx) d.wx[1] = 0.0;
    // An allocation sized by the count would be far above a megabyte.
    Gls r(c.npts, c.room);
    quorvex_test::g_fail_above = std::size_t{1} << 20;
    call_gls(d, r);
    quorvex_test::g_fail_above = static_cast<std::size_t>(-1);
    EXPECT_EQ(r.olstat, c.status);
    EXPECT_EQ(r.istat[0], badwx ? 44 : 0);
    EXPECT_EQ(r.istat[1], kIntSentinel);
    EXPECT_EQ(r.istat[2], kIntSentinel);
    // Both checks failed: the outputs sized by NPTS are cleared, those sized
    // by NCOEF are not the library's to write.
    const std::size_t n = c.npts;
    const double cleared = badwx ? 0.0 : kSentinel;
    EXPECT_TRUE(all_equal(r.param, 0, n, cleared));
    EXPECT_TRUE(all_equal(r.param, n, r.param.size(), kSentinel));
    for (const auto* v : {&r.cov, &r.r12, &r.r22})
      EXPECT_TRUE(all_equal(*v, 0, v->size(), kSentinel));
    for (const auto* v : {&r.yfit, &r.res, &r.wres, &r.r11})
      EXPECT_TRUE(all_equal(*v, 0, v->size(), cleared));
    EXPECT_EQ(r.sres, cleared);
    EXPECT_EQ(r.wresmax, cleared);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, OversizedCount,
    ::testing::Values(CountCase{3, INT_MAX, 2, 1},   // the crash of the adversarial run
                      CountCase{30, INT_MAX, 2, 0},  // arrays of no room at all
                      CountCase{30, 11, 3, 11}, CountCase{30, 12, 3, 12},
                      CountCase{8, 12, 2, 12}, CountCase{30, 1 << 20, 2, 0}),
    [](const auto& info) {
      return "npts" + std::to_string(info.param.npts) + "_ncoef" +
             std::to_string(info.param.ncoef);
    });

TEST(Reliability, CountsUpToTenStillClearEveryOutput) {
  // NPTS < NCOEF with a count the fit can take: COEF and COV are cleared.
  const EivData d = make_eiv_data(4, 3, 0.05, 0.05, 43);
  const int npts = 4, ncoef = 10;
  std::vector<double> coef(10, kSentinel), cov(100, kSentinel), yfit(4, kSentinel),
      res(4, kSentinel), wres(4, kSentinel);
  double sres = kSentinel, wresmax = kSentinel;
  int istat = kIntSentinel;
  auto* fn = QVX_HOST_FN(library(), OLSPFIT);
  ASSERT_NE(fn, nullptr);
  fn(&npts, d.x.data(), d.y.data(), d.wy.data(), &ncoef, &d.xmin, &d.xmax, coef.data(),
     cov.data(), &sres, yfit.data(), res.data(), wres.data(), &wresmax, &istat);
  EXPECT_EQ(istat, 2);
  for (const auto* v : {&coef, &cov, &yfit, &res, &wres})
    EXPECT_TRUE(all_equal(*v, 0, v->size(), 0.0));
}

// ---------------------------------------------------------------------------
// 3. A usable fit's outputs belong to the PARAM it returns: YFIT is the curve
//    at the adjusted abscissae (bit for bit what POLYEVAL gives there), RES
//    follows from it, and the factor and COV are those at PARAM.  The
//    closing evaluation is not counted in ISTAT(3).

struct UsableCase {
  const char* name;
  int npts, ncoef;
  double ux, uy;
  unsigned seed;
  std::array<double, 2> tol;
  int maxit;
  int status;
};

class UsableStatus : public ::testing::TestWithParam<UsableCase> {};

// The curve of PARAM at X - PARAM(1..NPTS), through POLYEVAL.
std::vector<double> curve_at_param(const EivData& d, const std::vector<double>& param) {
  std::vector<double> xi(d.npts), y(d.npts, kSentinel);
  for (int i = 0; i < d.npts; ++i) xi[i] = d.x[i] - param[i];
  int istat = kIntSentinel;
  auto* fn = QVX_HOST_FN(library(), POLYEVAL);
  EXPECT_NE(fn, nullptr);
  if (fn != nullptr)
    fn(&d.ncoef, param.data() + d.npts, &d.npts, xi.data(), &d.xmin, &d.xmax, y.data(), &istat);
  EXPECT_EQ(istat, 0);
  return y;
}

TEST_P(UsableStatus, CurveResidualsAndFactorBelongToTheReturnedParameters) {
  const UsableCase c = GetParam();
  const EivData d = make_eiv_data(c.npts, c.ncoef, c.ux, c.uy, c.seed);
  const Gls r = gls(d, c.tol, c.maxit);
  ASSERT_EQ(r.olstat, 0);
  ASSERT_EQ(r.istat[0], c.status);

  const std::vector<double> want = curve_at_param(d, r.param);
  for (int i = 0; i < d.npts; ++i) {
    EXPECT_EQ(r.yfit[i], want[i]) << "point " << i;
    EXPECT_EQ(r.res[2 * i], r.param[i]);
    EXPECT_EQ(r.res[2 * i + 1], d.y[i] - r.yfit[i]);
  }

  // The factor of the objective evaluated afresh at PARAM (on the problem
  // scaled by the largest weight, as the fit sees it), scaled back.
  const std::size_t n = d.npts, m = d.ncoef;
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s = std::max({s, d.wx[i], d.wy[i]});
  std::vector<double> wxs(n), wys(n), yf(n), r11(n), r12(n * m), r22w(quorvex::packed_size(m));
  for (std::size_t i = 0; i < n; ++i) {
    wxs[i] = d.wx[i] / s;
    wys[i] = d.wy[i] / s;
  }
  quorvex::GLSWRK w;
  w.setup({d.npts, d.x.data(), d.y.data(), wxs.data(), wys.data()},
          {d.ncoef, d.xmin, d.xmax, quorvex::CURVEVAL}, yf.data(),
          {r11.data(), r12.data(), r22w.data()});
  std::vector<double> f(2 * n), g(n + m), p(n + m);
  int iflag = 3;
  quorvex::GLSOBJ(iflag, 2 * d.npts, d.npts + d.ncoef, r.param.data(), f.data(), g.data(),
                  p.data(), &w);
  ASSERT_EQ(iflag, 3);
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(r.r11[i], r11[i] * s) << "R11 " << i;
  for (std::size_t k = 0; k < n * m; ++k) EXPECT_EQ(r.r12[k], r12[k] * s) << "R12 " << k;
  std::vector<double> r22(quorvex::packed_size(m));
  for (std::size_t k = 0; k < r22.size(); ++k) {
    r22[k] = r22w[k] * s;
    EXPECT_EQ(r.r22[k], r22[k]) << "R22 " << k;
  }
  std::vector<double> cov(m * m);
  quorvex::GLSCOV(d.ncoef, r22.data(), cov.data());
  EXPECT_EQ(r.cov, cov);

  // The weighted residuals, their largest magnitude and the residual
  // standard deviation are those at PARAM too, statuses 1 and 2 included.
  double wresmax = 0.0;
  for (std::size_t k = 0; k < 2 * n; ++k) {
    EXPECT_EQ(r.wres[k], f[k] * s) << "WRES " << k;
    wresmax = std::max(wresmax, std::fabs(f[k] * s));
  }
  EXPECT_EQ(r.wresmax, wresmax);
  long double ss = 0.0L;
  for (std::size_t k = 0; k < 2 * n; ++k) ss += (long double)r.wres[k] * r.wres[k];
  EXPECT_NEAR(r.sres, std::sqrt((double)ss / (d.npts - d.ncoef)), 1e-14 * r.sres);
}

// The minimizer's evaluations, counted by a model that wraps the curve
// evaluator: the iterations' gradient steps, the ISTAT(3) others, and the
// closing one.
thread_local int g_model_calls = 0;

void counting_model(int& mode, const quorvex::Curve& curve, int npts, const double* x, double* y,
                    double* dy, double* basis, quorvex::CurveWork* work) {
  ++g_model_calls;
  quorvex::CURVEVAL(mode, curve, npts, x, y, dy, basis, work);
}

TEST_P(UsableStatus, ClosingEvaluationIsNotCounted) {
  const UsableCase c = GetParam();
  const EivData d = make_eiv_data(c.npts, c.ncoef, c.ux, c.uy, c.seed);
  const Gls ref = gls(d, c.tol, c.maxit);
  ASSERT_EQ(ref.istat[0], c.status);

  // The driver on the same scaled problem from the same start.
  const std::size_t n = d.npts, m = d.ncoef;
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s = std::max({s, d.wx[i], d.wy[i]});
  std::vector<double> wxs(n), wys(n);
  for (std::size_t i = 0; i < n; ++i) {
    wxs[i] = d.wx[i] / s;
    wys[i] = d.wy[i] / s;
  }
  Gls r(n, m);
  std::fill(r.param.begin(), r.param.begin() + n, 0.0);
  std::vector<double> scov(m * m), syfit(n), sres(n), swres(n);
  double ssres = 0.0, swresmax = 0.0;
  int olstat = kIntSentinel;
  quorvex::OLSPFIT(d.npts, d.x.data(), d.y.data(), d.wy.data(), d.ncoef, d.xmin, d.xmax,
                   r.param.data() + n, scov.data(), ssres, syfit.data(), sres.data(),
                   swres.data(), swresmax, olstat);
  ASSERT_EQ(olstat, 0);
  double fnorm = 0.0;
  g_model_calls = 0;
  quorvex::GLSDRV({d.npts, d.x.data(), d.y.data(), wxs.data(), wys.data()},
                  {d.ncoef, d.xmin, d.xmax, counting_model}, {c.tol.data(), c.maxit, 0.1},
                  r.param.data(), r.yfit.data(), r.wres.data(), fnorm,
                  {r.r11.data(), r.r12.data(), r.r22.data()}, r.rinfo.data(), r.istat);
  EXPECT_EQ(r.istat[0], ref.istat[0]);
  EXPECT_EQ(r.istat[1], ref.istat[1]);
  EXPECT_EQ(r.istat[2], ref.istat[2]);
  EXPECT_EQ(r.param, ref.param);
  EXPECT_EQ(r.yfit, ref.yfit);
  // One gradient step per iteration (ISTAT(2) of them), the counted ones,
  // and the closing evaluation.
  EXPECT_EQ(g_model_calls, r.istat[1] + r.istat[2] + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, UsableStatus,
    ::testing::Values(
        // The adversarial run's 200-point quintic: converged.
        UsableCase{"converged_200", 200, 6, 0.05, 0.02, 7, {1e-8, 1e-8}, 50, 0},
        UsableCase{"converged_line", 12, 2, 0.05, 0.05, 5, {1e-8, 1e-8}, 50, 0},
        // The limit with the step test met, and with the residual test met.
        UsableCase{"limit_step", 40, 4, 0.1, 0.02, 13, {1.0, 1e-300}, 3, 1},
        UsableCase{"limit_residual", 40, 4, 0.1, 0.02, 13, {1e-300, 1.0}, 3, 2},
        UsableCase{"limit_step_quadratic", 25, 3, 0.2, 0.05, 17, {1.0, 1e-300}, 2, 1},
        // The line search gives up short of tolerances at rounding level.
        UsableCase{"line_search", 21, 3, 0.05, 0.05, 1, {1e-12, 1e-12}, 50, 3},
        UsableCase{"line_search_sextic", 24, 6, 0.05, 0.05, 4, {1e-12, 1e-12}, 50, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// 4. OLSTAT is written on every path, 999 included: 0 when storage ran out
//    before the ordinary fit reported, its own status otherwise.

TEST(Reliability, StorageFailureAnywhereWritesOlstat) {
  const EivData d = make_eiv_data(30, 4, 0.05, 0.05, 44);
  const Gls ref = gls(d);
  ASSERT_EQ(ref.olstat, 0);
  ASSERT_EQ(ref.istat[0], 0);
  // Storage that cannot be obtained: std::bad_alloc, or std::length_error
  // (a size beyond the address space, as on a 32-bit host).
  for (const bool length_error : {false, true}) {
    SCOPED_TRACE(length_error ? "length_error" : "bad_alloc");
    int at_999 = 0, in_ordinary = 0;
    for (long k = 0; k < 200; ++k) {
      Gls r(d.npts, d.ncoef);
      bool fired = false;
      // A new thread: the kept workspace of this one would serve the fit.
      quorvex_test::on_fresh_thread([&] {
        quorvex_test::g_fail_as_length_error = length_error;
        quorvex_test::g_fail_countdown = k;
        call_gls(d, r);
        fired = quorvex_test::g_fail_countdown < 0;
        quorvex_test::g_fail_countdown = -1;
        quorvex_test::g_fail_as_length_error = false;
      });
      if (!fired) {
        EXPECT_EQ(r.param, ref.param);
        break;
      }
      if (r.istat[0] == 999) {
        ++at_999;
        EXPECT_EQ(r.olstat, 0) << "allocation " << k;
      } else {
        // Inside the ordinary fit: its own status, and no generalized fit.
        ++in_ordinary;
        EXPECT_EQ(r.olstat, 999) << "allocation " << k;
        EXPECT_EQ(r.istat[0], 0) << "allocation " << k;
      }
    }
    EXPECT_GE(at_999, 3);
    EXPECT_GE(in_ordinary, 1);
  }
}

}  // namespace
