// The generalized fit: its objective against dense assembly, the covariance
// against the effective-variance formula, weight scaling, statuses, and the
// entry point as a host calls it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cmath>
#include <limits>
#include <utility>
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

struct GlsResult {
  std::vector<double> param, cov, yfit, res, wres, r11, r12, r22, rinfo;
  double sres = -1, wresmax = -1;
  int olstat = -1;
  int istat[3] = {-7, 77, 88};  // 77, 88: values a failed check must keep
};

constexpr double kSentinel = 12345.0;

GlsResult sized(const EivData& d) {
  const std::size_t n = d.npts, m = d.ncoef > 0 ? d.ncoef : 0;
  GlsResult r;
  r.param.assign(n + m, kSentinel);
  r.cov.assign(m * m, kSentinel);
  r.yfit.assign(n, kSentinel);
  r.res.assign(2 * n, kSentinel);
  r.wres.assign(2 * n, kSentinel);
  r.r11.assign(n, kSentinel);
  r.r12.assign(n * m, kSentinel);
  r.r22.assign(quorvex::packed_size(m), kSentinel);
  r.rinfo.assign(4, kSentinel);
  r.sres = r.wresmax = kSentinel;
  return r;
}

GlsResult fit(const EivData& d, std::array<double, 2> tol = {1e-10, 1e-10}, int maxit = 50,
              double sigma = 0.1) {
  GlsResult r = sized(d);
  quorvex::GLSPFIT(quorvex::GlsData{d.npts, d.x.data(), d.y.data(), d.wx.data(), d.wy.data()},
                   d.ncoef, d.xmin, d.xmax, quorvex::GlsControl{tol.data(), maxit, sigma},
                   quorvex::GlsResults{r.param.data(), r.cov.data(), r.sres, r.yfit.data(),
                                       r.res.data(), r.wres.data(), r.wresmax,
                                       {r.r11.data(), r.r12.data(), r.r22.data()},
                                       r.rinfo.data(), r.olstat, r.istat});
  return r;
}

// Inverse of a symmetric positive definite matrix by Gauss-Jordan in long double.
std::vector<long double> invert(std::vector<long double> a, int m) {
  std::vector<long double> inv(m * m, 0.0L);
  for (int i = 0; i < m; ++i) inv[i + i * m] = 1.0L;
  for (int k = 0; k < m; ++k) {
    const long double piv = a[k + k * m];
    for (int j = 0; j < m; ++j) {
      a[k + j * m] /= piv;
      inv[k + j * m] /= piv;
    }
    for (int i = 0; i < m; ++i) {
      if (i == k) continue;
      const long double f = a[i + k * m];
      for (int j = 0; j < m; ++j) {
        a[i + j * m] -= f * a[k + j * m];
        inv[i + j * m] -= f * inv[k + j * m];
      }
    }
  }
  return inv;
}

// (sum phi phi' / (1/wy^2 + p'^2/wx^2))^-1 at the adjusted abscissae of param.
std::vector<long double> effective_variance_cov(const EivData& d, const std::vector<double>& param) {
  const int n = d.npts, m = d.ncoef;
  std::vector<double> xi(n), yv(n), dy(n), basis(n * m);
  for (int i = 0; i < n; ++i) xi[i] = d.x[i] - param[i];
  int mode = 2;
  quorvex::CurveWork work;
  quorvex::CURVEVAL(mode, quorvex::Curve{m, param.data() + n, d.xmin, d.xmax}, n, xi.data(),
                    yv.data(), dy.data(), basis.data(), &work);
  EXPECT_EQ(mode, 2);
  std::vector<long double> nm(m * m, 0.0L);
  for (int i = 0; i < n; ++i) {
    const long double wx = d.wx[i], wy = d.wy[i], s = dy[i];
    const long double den = 1.0L / (wy * wy) + s * s / (wx * wx);
    for (int a = 0; a < m; ++a)
      for (int b = 0; b < m; ++b) nm[a + b * m] += (long double)basis[i + a * n] * basis[i + b * n] / den;
  }
  return invert(nm, m);
}

struct FitCase {
  int npts, ncoef;
  double ux, uy;
  unsigned seed;
};

class GlsFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(GlsFit, CovarianceIsTheEffectiveVarianceInverse) {
  const FitCase c = GetParam();
  const EivData d = make_eiv_data(c.npts, c.ncoef, c.ux, c.uy, c.seed);
  const GlsResult r = fit(d);
  ASSERT_EQ(r.olstat, 0);
  // Statuses 0 and 3 both leave the factor formed at the returned point.
  ASSERT_TRUE(r.istat[0] == 0 || r.istat[0] == 3) << r.istat[0];
  const auto ref = effective_variance_cov(d, r.param);
  const int m = c.ncoef;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      const double scale = std::sqrt((double)(ref[i + i * m] * ref[j + j * m]));
      EXPECT_NEAR(r.cov[i + j * m], (double)ref[i + j * m], 1e-9 * scale) << i << "," << j;
    }
  // Residual bookkeeping: x residuals are the corrections, weighted ones follow.
  double ss = 0.0;
  for (int i = 0; i < c.npts; ++i) {
    EXPECT_EQ(r.res[2 * i], r.param[i]);
    EXPECT_EQ(r.res[2 * i + 1], d.y[i] - r.yfit[i]);
    EXPECT_NEAR(r.wres[2 * i], d.wx[i] * r.res[2 * i], 1e-12 * (1 + std::fabs(r.wres[2 * i])));
    ss += r.wres[2 * i] * r.wres[2 * i] + r.wres[2 * i + 1] * r.wres[2 * i + 1];
  }
  EXPECT_NEAR(r.sres, std::sqrt(ss / (c.npts - c.ncoef)), 1e-12 * r.sres);
}

TEST_P(GlsFit, ScalingAllWeightsByAPowerOfTwo) {
  const FitCase c = GetParam();
  const EivData d = make_eiv_data(c.npts, c.ncoef, c.ux, c.uy, c.seed);
  const GlsResult r = fit(d);
  for (int k : {-3, 1, 6}) {
    EivData e = d;
    const double f = std::ldexp(1.0, k);
    for (int i = 0; i < d.npts; ++i) {
      e.wx[i] *= f;
      e.wy[i] *= f;
    }
    const GlsResult s = fit(e);
    ASSERT_EQ(s.istat[0], r.istat[0]);
    EXPECT_EQ(s.istat[1], r.istat[1]);
    EXPECT_EQ(s.istat[2], r.istat[2]);
    EXPECT_EQ(s.param, r.param);
    EXPECT_EQ(s.yfit, r.yfit);
    EXPECT_EQ(s.res, r.res);
    for (std::size_t i = 0; i < r.wres.size(); ++i) EXPECT_EQ(s.wres[i], f * r.wres[i]);
    EXPECT_EQ(s.wresmax, f * r.wresmax);
    EXPECT_DOUBLE_EQ(s.sres, f * r.sres);
    for (std::size_t i = 0; i < r.cov.size(); ++i) EXPECT_EQ(s.cov[i], r.cov[i] / (f * f));
    // The factor is that of the weighted problem: it scales with the weights.
    for (const auto& [sv, rv] : {std::pair{&s.r11, &r.r11}, {&s.r12, &r.r12}, {&s.r22, &r.r22}})
      for (std::size_t i = 0; i < rv->size(); ++i) EXPECT_EQ((*sv)[i], f * (*rv)[i]) << i;
  }
}

TEST_P(GlsFit, ExactEntryPointAgreesWithTheInternalRoutine) {
  const FitCase c = GetParam();
  const EivData d = make_eiv_data(c.npts, c.ncoef, c.ux, c.uy, c.seed);
  const GlsResult r = fit(d);
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded());
  auto* glspfit = QVX_HOST_FN(lib, GLSPFIT);
  ASSERT_NE(glspfit, nullptr);
  GlsResult h = sized(d);
  const double tol[2] = {1e-10, 1e-10};
  const int maxit = 50;
  const double sigma = 0.1;
  glspfit(&d.npts, d.x.data(), d.y.data(), d.wx.data(), d.wy.data(), &d.ncoef, &d.xmin, &d.xmax,
          tol, &maxit, &sigma, h.param.data(), h.cov.data(), &h.sres, h.yfit.data(), h.res.data(),
          h.wres.data(), &h.wresmax, h.r11.data(), h.r12.data(), h.r22.data(), h.rinfo.data(),
          &h.olstat, h.istat);
  EXPECT_EQ(h.olstat, 0);
  EXPECT_EQ(h.istat[0], r.istat[0]);
  EXPECT_EQ(h.param, r.param);
  EXPECT_EQ(h.cov, r.cov);
  EXPECT_EQ(h.r22, r.r22);
  EXPECT_EQ(h.rinfo, r.rinfo);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GlsFit,
                         ::testing::Values(FitCase{20, 2, 0.05, 0.05, 1}, FitCase{40, 3, 0.02, 0.1, 2},
                                           FitCase{100, 4, 0.01, 0.01, 3},
                                           FitCase{200, 6, 0.005, 0.02, 4},
                                           FitCase{8, 3, 0.1, 0.1, 5}));

TEST(Gls, PointsOnTheCurveConvergeInTheFirstIteration) {
  EivData d = make_eiv_data(30, 3, 0.05, 0.05, 11);
  int istat = 0;
  quorvex::POLYEVAL(3, d.coef.data(), d.npts, d.x.data(), d.xmin, d.xmax, d.y.data(), istat);
  const GlsResult r = fit(d, {1e-6, 1e-6});
  ASSERT_EQ(r.olstat, 0);
  EXPECT_EQ(r.istat[0], 0);
  EXPECT_EQ(r.istat[1], 1);
  EXPECT_EQ(r.istat[2], 1);
  // The point is the start point: zero corrections and the ordinary fit's coefficients.
  std::vector<double> coef(3), cov(9), yfit(30), res(30), wres(30);
  double sres, wresmax;
  int olstat;
  quorvex::OLSPFIT(d.npts, d.x.data(), d.y.data(), d.wy.data(), 3, d.xmin, d.xmax, coef.data(),
                   cov.data(), sres, yfit.data(), res.data(), wres.data(), wresmax, olstat);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(r.param[30 + k], coef[k]);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(r.param[i], 0.0);
    EXPECT_NEAR(r.res[2 * i + 1], 0.0, 1e-12);
  }
  EXPECT_LT(r.sres, 1e-10);
}

// As many points as coefficients: no degree of freedom is left, and the
// residual standard deviation is exactly 0.
TEST(Gls, NoDegreeOfFreedomGivesZeroResidualDeviation) {
  const EivData d = make_eiv_data(3, 3, 0.05, 0.05, 14);
  const GlsResult r = fit(d);
  ASSERT_EQ(r.olstat, 0);
  ASSERT_GE(r.istat[0], 0);
  ASSERT_LE(r.istat[0], 3);
  EXPECT_EQ(r.sres, 0.0);
}

// WRESMAX is a magnitude: a response far below the curve makes the weighted
// residual of largest magnitude a negative one.
TEST(Gls, LargestWeightedResidualIsAMagnitude) {
  EivData d = make_eiv_data(20, 2, 0.05, 0.05, 15);
  d.y[9] -= 2.0;
  const GlsResult r = fit(d);
  ASSERT_EQ(r.olstat, 0);
  ASSERT_GE(r.istat[0], 0);
  ASSERT_LE(r.istat[0], 3);
  const double largest = *std::max_element(
      r.wres.begin(), r.wres.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
  ASSERT_LT(largest, 0.0);
  EXPECT_EQ(r.wresmax, -largest);
}

// The weight scale is the largest of all x and y weights.  With x weights
// the larger ones, the minimizer's measures are those of the driver run on
// the weights divided by max(WX, WY) from the ordinary fit's coefficients.
TEST(Gls, WeightScaleIsTheLargestOfAllWeights) {
  const EivData d = make_eiv_data(30, 3, 0.002, 0.05, 16);
  const double wxmax = *std::max_element(d.wx.begin(), d.wx.end());
  const double wymax = *std::max_element(d.wy.begin(), d.wy.end());
  ASSERT_GT(wxmax, 10.0 * wymax);
  const GlsResult r = fit(d);
  ASSERT_EQ(r.olstat, 0);
  ASSERT_GE(r.istat[0], 0);
  ASSERT_LE(r.istat[0], 3);

  const int n = d.npts, m = d.ncoef;
  std::vector<double> coef(m), cov(m * m), yfit(n), res(n), wres(n);
  double sres, wresmax;
  int olstat;
  quorvex::OLSPFIT(n, d.x.data(), d.y.data(), d.wy.data(), m, d.xmin, d.xmax, coef.data(),
                   cov.data(), sres, yfit.data(), res.data(), wres.data(), wresmax, olstat);
  GlsResult g = sized(d);
  std::fill(g.param.begin(), g.param.begin() + n, 0.0);
  std::copy(coef.begin(), coef.end(), g.param.begin() + n);
  std::vector<double> wxs(n), wys(n);
  for (int i = 0; i < n; ++i) {
    wxs[i] = d.wx[i] / wxmax;
    wys[i] = d.wy[i] / wxmax;
  }
  const double tol[2] = {1e-10, 1e-10};
  double fnorm = 0.0;
  quorvex::GLSDRV({n, d.x.data(), d.y.data(), wxs.data(), wys.data()},
                  {m, d.xmin, d.xmax, quorvex::CURVEVAL}, {tol, 50, 0.1}, g.param.data(),
                  g.yfit.data(), g.wres.data(), fnorm,
                  {g.r11.data(), g.r12.data(), g.r22.data()}, g.rinfo.data(), g.istat);
  EXPECT_EQ(g.istat[0], r.istat[0]);
  EXPECT_EQ(g.istat[2], r.istat[2]);
  EXPECT_EQ(g.rinfo, r.rinfo);
  EXPECT_EQ(g.param, r.param);
}

TEST(Gls, NearlyExactAbscissaeGiveTheOrdinaryCovariance) {
  EivData d = make_eiv_data(50, 3, 0.05, 0.05, 12);
  for (double& w : d.wx) w *= 1e7;
  const GlsResult r = fit(d);
  ASSERT_LE(r.istat[0], 3);
  std::vector<double> coef(3), cov(9), yfit(50), res(50), wres(50);
  double sres, wresmax;
  int olstat;
  quorvex::OLSPFIT(d.npts, d.x.data(), d.y.data(), d.wy.data(), 3, d.xmin, d.xmax, coef.data(),
                   cov.data(), sres, yfit.data(), res.data(), wres.data(), wresmax, olstat);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(r.cov[i], cov[i], 1e-6 * std::sqrt(cov[0] * cov[4]));
}

TEST(Gls, IterationLimitStillPostProcessesUsableStatuses) {
  const EivData d = make_eiv_data(60, 4, 0.1, 0.02, 13);
  const GlsResult r = fit(d, {1e-30, 1e-30}, 1);
  ASSERT_EQ(r.olstat, 0);
  EXPECT_EQ(r.istat[1], 1);
  EXPECT_TRUE(r.istat[0] == 1 || r.istat[0] == 2 || r.istat[0] == 4) << r.istat[0];
  if (r.istat[0] == 4) {
    EXPECT_EQ(r.cov[0], kSentinel);  // a failure is not post-processed
  }
}

// ---------------------------------------------------------------------------
// Statuses and what each leaves in the outputs.

TEST(GlsStatus, XWeightTestAfterASuccessfulOrdinaryFit) {
  EivData d = make_eiv_data(10, 2, 0.05, 0.05, 21);
  d.wx[4] = 0.0;
  const GlsResult r = fit(d);
  EXPECT_EQ(r.olstat, 0);
  EXPECT_EQ(r.istat[0], 44);
  EXPECT_EQ(r.istat[1], 77);
  EXPECT_EQ(r.istat[2], 88);
  for (double v : r.param) EXPECT_EQ(v, kSentinel);
  EXPECT_EQ(r.sres, kSentinel);
}

// Every x weight is tested, the first and the last included: 44, not the
// driver's 25.
TEST(GlsStatus, XWeightTestReadsEveryWeight) {
  for (int at : {0, 5, 9}) {
    for (double bad : {0.0, -1.0}) {
      EivData d = make_eiv_data(10, 2, 0.05, 0.05, 21);
      d.wx[at] = bad;
      const GlsResult r = fit(d);
      EXPECT_EQ(r.olstat, 0);
      EXPECT_EQ(r.istat[0], 44) << "WX(" << at + 1 << ") = " << bad;
    }
  }
}

TEST(GlsStatus, OrdinaryFitFailurePassesThrough) {
  for (bool badwx : {false, true}) {
    EivData d = make_eiv_data(10, 2, 0.05, 0.05, 22);
    d.xmin = d.xmax;  // the ordinary fit's interval check
    if (badwx) d.wx[0] = -1.0;
    const GlsResult r = fit(d);
    EXPECT_EQ(r.olstat, 5);
    EXPECT_EQ(r.istat[0], badwx ? 44 : 0);
    EXPECT_EQ(r.istat[1], 77);
    EXPECT_EQ(r.istat[2], 88);
    // Both checks failed: every output is cleared; otherwise nothing is written.
    const double expect = badwx ? 0.0 : kSentinel;
    for (const auto* v : {&r.param, &r.cov, &r.yfit, &r.res, &r.wres, &r.r11, &r.r12, &r.r22})
      for (double e : *v) EXPECT_EQ(e, expect);
    EXPECT_EQ(r.sres, expect);
    EXPECT_EQ(r.wresmax, expect);
    EXPECT_EQ(r.rinfo[0], kSentinel);
  }
}

struct DriverCase {
  const char* what;
  int npts, ncoef;
  std::vector<double> wxs, wys;
  std::array<double, 2> tol;
  int maxit;
  int code;
};

class GlsDriverStatus : public ::testing::TestWithParam<DriverCase> {};

TEST_P(GlsDriverStatus, RejectsWithItsCodeAndClearedOutputs) {
  const DriverCase c = GetParam();
  const std::size_t n = c.npts, m = c.ncoef;
  std::vector<double> x(n), y(n, 1.0), param(n + m, 0.5), yfit(n, kSentinel), wres(2 * n, kSentinel);
  std::vector<double> r11(n, kSentinel), r12(n * m, kSentinel), r22(quorvex::packed_size(m), kSentinel);
  std::vector<double> rinfo(4, kSentinel);
  for (std::size_t i = 0; i < n; ++i) x[i] = 1.0 + i;
  double fnorm = kSentinel;
  int istat[3] = {-7, -7, -7};
  quorvex::GLSDRV({c.npts, x.data(), y.data(), c.wxs.data(), c.wys.data()},
                  {c.ncoef, 0.0, 10.0, quorvex::CURVEVAL}, {c.tol.data(), c.maxit, 0.1},
                  param.data(), yfit.data(), wres.data(), fnorm,
                  {r11.data(), r12.data(), r22.data()}, rinfo.data(), istat);
  if (c.code == 0) {
    EXPECT_GE(istat[0], 0);
    EXPECT_LE(istat[0], 5);
    return;
  }
  EXPECT_EQ(istat[0], c.code);
  EXPECT_EQ(istat[1], 0);
  EXPECT_EQ(istat[2], 0);
  EXPECT_EQ(fnorm, 0.0);
  for (const auto* v : {&wres, &r11, &r12, &r22})
    for (double e : *v) EXPECT_EQ(e, 0.0);
  for (double e : param) EXPECT_EQ(e, 0.5);
  for (double e : yfit) EXPECT_EQ(e, kSentinel);
  for (double e : rinfo) EXPECT_EQ(e, kSentinel);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, GlsDriverStatus,
    ::testing::Values(
        DriverCase{"fewer_points_than_coefficients", 3, 4, {1, 1, 1}, {1, 1, 1}, {1e-8, 1e-8}, 50, 21},
        DriverCase{"zero_x_weight", 4, 2, {1, 0, 1, 1}, {1, 1, 1, 1}, {1e-8, 1e-8}, 50, 25},
        DriverCase{"negative_y_weight", 4, 2, {1, 1, 1, 1}, {1, -1, 1, 1}, {1e-8, 1e-8}, 50, 26},
        DriverCase{"too_few_positive_y_weights", 4, 3, {1, 1, 1, 1}, {1, 0, 0, 1}, {1e-8, 1e-8}, 50, 26},
        DriverCase{"zero_tolerance", 4, 2, {1, 1, 1, 1}, {1, 1, 1, 1}, {1e-8, 0.0}, 50, 35},
        DriverCase{"no_iterations", 4, 2, {1, 1, 1, 1}, {1, 1, 1, 1}, {1e-8, 1e-8}, 0, 36},
        DriverCase{"some_zero_y_weights_suffice", 4, 2, {1, 1, 1, 1}, {1, 0, 1, 1}, {1e-8, 1e-8}, 50, 0}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(GlsStatus, AnAdjustedAbscissaLeavingTheIntervalEndsTheFit) {
  // y = x with the first point well below the line: the fit moves its
  // abscissa to the left, out of an interval that ends at the data.
  EivData d;
  d.npts = 10;
  d.ncoef = 2;
  for (int i = 0; i < 10; ++i) {
    d.x.push_back(i);
    d.y.push_back(i == 0 ? -0.5 : i);
    d.wx.push_back(1.0);
    d.wy.push_back(1.0);
  }
  d.xmin = 0.0;
  d.xmax = 9.0;
  const GlsResult r = fit(d);
  EXPECT_EQ(r.olstat, 0);
  EXPECT_EQ(r.istat[0], -101);
  EXPECT_EQ(r.cov[0], kSentinel);  // a failed fit is not post-processed
  d.xmin = -1.0;
  d.xmax = 10.0;
  const GlsResult wide = fit(d);
  EXPECT_GE(wide.istat[0], 0);
  EXPECT_LE(wide.istat[0], 3);
  EXPECT_GT(wide.param[0], 0.0);
}

TEST(GlsStatus, UnderflowingScaledXWeight) {
  EivData d = make_eiv_data(10, 2, 0.05, 0.05, 23);
  d.wx[3] = std::numeric_limits<double>::denorm_min();
  const GlsResult r = fit(d);
  EXPECT_EQ(r.olstat, 0);
  EXPECT_EQ(r.istat[0], 25);
}

TEST(GlsStatus, SingularCoefficientFactorGivesNaNCovariance) {
  // L = [[2, 0], [1, 0]]: the second diagonal element is exactly zero.
  const double singular[3] = {2.0, 1.0, 0.0};
  double cov[4] = {1, 2, 3, 4};
  quorvex::GLSCOV(2, singular, cov);
  for (double v : cov) EXPECT_TRUE(std::isnan(v));
  // A regular one: COV (L L') = I.
  const double l[3] = {2.0, 1.0, 3.0};
  quorvex::GLSCOV(2, l, cov);
  const double llt[4] = {4.0, 2.0, 2.0, 10.0};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      const double s = cov[i] * llt[2 * j] + cov[i + 2] * llt[1 + 2 * j];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-15);
    }
}

// ---------------------------------------------------------------------------
// The objective against a dense assembly of its Jacobian.

struct ObjectiveFixture {
  EivData d = make_eiv_data(12, 3, 0.05, 0.05, 31);
  quorvex::GLSWRK w;
  std::vector<double> x;
  // Where the objective leaves its curve values and factor.
  std::vector<double> yf, r11, r12, r22;
  ObjectiveFixture()
      : yf(d.npts), r11(d.npts), r12(d.npts * d.ncoef), r22(quorvex::packed_size(d.ncoef)) {
    for (int i = 0; i < d.npts; ++i) d.x[i] = 1.0 + 0.5 * i;  // exact binary fractions
    w.setup({d.npts, d.x.data(), d.y.data(), d.wx.data(), d.wy.data()},
            {d.ncoef, d.xmin, d.xmax, quorvex::CURVEVAL}, yf.data(),
            {r11.data(), r12.data(), r22.data()});
    x.assign(d.npts + d.ncoef, 0.0);
    for (int i = 0; i < d.npts; ++i) x[i] = 0.01 * ((i % 5) - 2);
    for (int k = 0; k < d.ncoef; ++k) x[d.npts + k] = d.coef[k];
  }
};

TEST(GlsObjective, GradientAndStepAgreeWithTheDenseJacobian) {
  ObjectiveFixture o;
  const int n = o.d.npts, m = o.d.ncoef, nres = 2 * n, npar = n + m;
  std::vector<double> f(nres), g(npar), p(npar);
  int iflag = 3;
  quorvex::GLSOBJ(iflag, nres, npar, o.x.data(), f.data(), g.data(), p.data(), &o.w);
  ASSERT_EQ(iflag, 3);
  EXPECT_EQ(o.w.evmode, 2);
  // Dense J from the block description.
  std::vector<double> j(nres * npar, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int r = 0; r < 2; ++r) {
      j[(2 * i + r) + i * nres] = o.w.jd[2 * i + r];
      // Coefficient columns: zero in the correction rows, the rest held in
      // place of the basis rows.
      for (int k = 0; k < m; ++k)
        j[(2 * i + r) + (n + k) * nres] = r == 0 ? 0.0 : o.w.basis[i + k * n];
    }
  }
  // Against the model: the derivative of f(2i) in d_i is wy p'(xi).
  for (int i = 0; i < n; ++i) EXPECT_EQ(o.w.jd[2 * i], o.d.wx[i]);
  double jnorm = 0.0;
  for (double v : j) jnorm = std::max(jnorm, std::fabs(v));
  for (int c = 0; c < npar; ++c) {
    long double gc = 0.0L, orth = 0.0L;
    for (int r = 0; r < nres; ++r) {
      long double jp = 0.0L;
      for (int k = 0; k < npar; ++k) jp += (long double)j[r + k * nres] * p[k];
      gc += 2.0L * j[r + c * nres] * f[r];
      orth += j[r + c * nres] * (jp + f[r]);
    }
    EXPECT_NEAR(g[c], (double)gc, 1e-13 * (1 + std::fabs((double)gc)));
    EXPECT_NEAR((double)orth, 0.0, 1e-12 * jnorm * jnorm);
  }
  // Residuals interleaved: correction first, response second.
  for (int i = 0; i < n; ++i) EXPECT_EQ(f[2 * i], o.d.wx[i] * o.x[i]);
}

TEST(GlsObjective, RefusedAbscissaAndSizeMismatch) {
  ObjectiveFixture o;
  const int n = o.d.npts, m = o.d.ncoef, nres = 2 * n, npar = n + m;
  std::vector<double> f(nres, kSentinel), g(npar), p(npar);

  // xi_0 = XMAX exactly is accepted.
  o.x[0] = o.d.x[0] - o.d.xmax;
  int iflag = 1;
  quorvex::GLSOBJ(iflag, nres, npar, o.x.data(), f.data(), g.data(), p.data(), &o.w);
  EXPECT_EQ(iflag, 1);

  // xi_0 = XMAX + 1 is refused and nothing is written.
  std::fill(f.begin(), f.end(), kSentinel);
  o.x[0] = o.d.x[0] - (o.d.xmax + 1.0);
  iflag = 2;
  quorvex::GLSOBJ(iflag, nres, npar, o.x.data(), f.data(), g.data(), p.data(), &o.w);
  EXPECT_EQ(iflag, -101);
  EXPECT_EQ(o.w.evmode, -1);
  for (double v : f) EXPECT_EQ(v, kSentinel);

  iflag = 3;
  quorvex::GLSOBJ(iflag, nres, npar + 1, o.x.data(), f.data(), g.data(), p.data(), &o.w);
  EXPECT_EQ(iflag, -1);
  iflag = 3;
  quorvex::GLSOBJ(iflag, nres - 1, npar, o.x.data(), f.data(), g.data(), p.data(), &o.w);
  EXPECT_EQ(iflag, -1);
}

// A refusal sticks: after it every evaluation is refused with -101 (the curve
// values still computed when the abscissae are inside) until a request with
// gradient starts afresh; residual-only requests refuse like the others.
TEST(GlsObjective, RefusalSticksUntilAGradientRequest) {
  ObjectiveFixture o;
  const int n = o.d.npts, m = o.d.ncoef, nres = 2 * n, npar = n + m;
  std::vector<double> f(nres), g(npar), p(npar);
  const std::vector<double> inside = o.x;
  std::vector<double> outside = o.x;
  outside[1] = o.d.x[1] - (o.d.xmin - 0.5);  // xi_1 below XMIN
  struct Step {
    int iflag;
    bool in;
    int expect_iflag, expect_mode;
  };
  const Step steps[] = {{3, true, 3, 2},     {1, true, 1, 2},      {1, false, -101, -1},
                        {1, true, -101, -1}, {1, true, -101, -1},  {2, true, 2, 2},
                        {1, true, 1, 2},     {2, false, -101, -1}, {3, true, 3, 2}};
  std::vector<double> yf_expect(n);
  for (const Step& st : steps) {
    std::fill(o.yf.begin(), o.yf.end(), kSentinel);
    int iflag = st.iflag;
    quorvex::GLSOBJ(iflag, nres, npar, st.in ? inside.data() : outside.data(), f.data(), g.data(),
                    p.data(), &o.w);
    EXPECT_EQ(iflag, st.expect_iflag) << st.iflag << " " << st.in;
    EXPECT_EQ(o.w.evmode, st.expect_mode) << st.iflag << " " << st.in;
    if (st.in) {
      // Values at the adjusted abscissae, accepted or refused.
      std::vector<double> xi(n);
      for (int i = 0; i < n; ++i) xi[i] = o.d.x[i] - inside[i];
      int istat = 0;
      quorvex::POLYEVAL(m, inside.data() + n, n, xi.data(), o.d.xmin, o.d.xmax, yf_expect.data(),
                        istat);
      ASSERT_EQ(istat, 0);
      EXPECT_EQ(o.yf, yf_expect);
    } else {
      EXPECT_EQ(o.yf, std::vector<double>(n, kSentinel));
    }
  }
}

// The thread keeps its fit workspace between fits: fits of other shapes in
// between, and a refused fit, leave every output of a repeated fit the same.
TEST(GlsWorkspace, ConsecutiveFitsOnOneThreadRepeatExactly) {
  std::vector<EivData> data = {make_eiv_data(2000, 6, 0.02, 0.05, 41),
                               make_eiv_data(40, 3, 0.05, 0.05, 42),
                               make_eiv_data(300, 10, 0.02, 0.05, 43)};
  EivData refused = make_eiv_data(30, 3, 0.05, 0.05, 44);
  refused.x[29] = refused.xmax;  // far above the curve, with a loose x: its
  refused.y[29] += 5.0;          // correction pushes the abscissa out
  refused.wx[29] = 0.1;
  auto same = [](const GlsResult& a, const GlsResult& b) {
    return a.param == b.param && a.cov == b.cov && a.yfit == b.yfit && a.res == b.res &&
           a.wres == b.wres && a.r11 == b.r11 && a.r12 == b.r12 && a.r22 == b.r22 &&
           a.rinfo == b.rinfo && a.sres == b.sres && a.wresmax == b.wresmax &&
           a.olstat == b.olstat && std::equal(a.istat, a.istat + 3, b.istat);
  };
  std::vector<GlsResult> first;
  for (const EivData& d : data) first.push_back(fit(d));
  const GlsResult r0 = fit(refused);
  for (int round = 0; round < 2; ++round) {
    for (std::size_t k = data.size(); k-- > 0;) {
      EXPECT_TRUE(same(fit(data[k]), first[k])) << k;
      EXPECT_TRUE(same(fit(refused), r0));
    }
  }
  for (const GlsResult& r : first) {
    EXPECT_GE(r.istat[0], 0);
    EXPECT_LE(r.istat[0], 3);
  }
  EXPECT_EQ(r0.istat[0], -101);
}

// Releasing a workspace forgets the caller's arrays and frees the memory only
// above the limit; a released workspace serves the next fit.
TEST(GlsWorkspace, ReleaseAboveTheLimit) {
  const EivData d = make_eiv_data(50, 3, 0.05, 0.05, 45);
  GlsResult r = sized(d);
  std::vector<double> wxs = d.wx, wys = d.wy;
  quorvex::GLSWRK w;
  w.setup({d.npts, d.x.data(), d.y.data(), wxs.data(), wys.data()},
          {d.ncoef, d.xmin, d.xmax, quorvex::CURVEVAL}, r.yfit.data(),
          {r.r11.data(), r.r12.data(), r.r22.data()});
  EXPECT_EQ(r.yfit, std::vector<double>(d.npts, 0.0));
  w.release(std::size_t{1} << 30);
  EXPECT_EQ(w.xd, nullptr);
  EXPECT_EQ(w.r12d, nullptr);
  EXPECT_EQ(w.basis.size(), static_cast<std::size_t>(d.npts * d.ncoef));
  w.release(0);
  EXPECT_EQ(w.basis.capacity(), 0u);
  EXPECT_EQ(w.idx.capacity(), 0u);
  w.setup({d.npts, d.x.data(), d.y.data(), wxs.data(), wys.data()},
          {d.ncoef, d.xmin, d.xmax, quorvex::CURVEVAL}, r.yfit.data(),
          {r.r11.data(), r.r12.data(), r.r22.data()});
  EXPECT_EQ(w.idx[d.npts + 1], 2);
  EXPECT_EQ(w.xd, d.x.data());
}

}  // namespace

// ---------------------------------------------------------------------------
// Kept memory: a repeated fit of the same or a smaller size finds every array
// it needs in the thread's kept workspace (the starting ordinary fit's design
// and right-hand side in the memory of the objective's basis and v) and
// allocates nothing at all.

namespace {

struct AllocLog {
  long count = 0;
  std::size_t bytes = 0;
};

AllocLog logged_fit(const EivData& d, GlsResult& r) {
  const std::array<double, 2> tol = {1e-10, 1e-10};
  quorvex_test::alloc_count() = 0;
  quorvex::GLSPFIT(quorvex::GlsData{d.npts, d.x.data(), d.y.data(), d.wx.data(), d.wy.data()},
                   d.ncoef, d.xmin, d.xmax, quorvex::GlsControl{tol.data(), 50, 0.1},
                   quorvex::GlsResults{r.param.data(), r.cov.data(), r.sres, r.yfit.data(),
                                       r.res.data(), r.wres.data(), r.wresmax,
                                       {r.r11.data(), r.r12.data(), r.r22.data()},
                                       r.rinfo.data(), r.olstat, r.istat});
  AllocLog log;
  log.count = quorvex_test::alloc_count();
  const long logged = std::min(log.count, quorvex_test::kAllocLogSize);
  for (long i = 0; i < logged; ++i) log.bytes += quorvex_test::alloc_sizes()[i];
  return log;
}

}  // namespace

TEST(GlsKeptMemory, RepeatedFitsAllocateNothing) {
  for (const int ncoef : {3, 6}) {
    const EivData big = make_eiv_data(4000, ncoef, 0.05, 0.05, 91);
    const EivData small = make_eiv_data(1500, ncoef, 0.05, 0.05, 92);
    // A new thread: the first fit sizes its workspace; the next find it.
    quorvex_test::on_fresh_thread([&] {
      GlsResult first = sized(big);
      const AllocLog sizing = logged_fit(big, first);
      ASSERT_EQ(first.istat[0], 0);
      EXPECT_GT(sizing.bytes, std::size_t{4000} * (ncoef + 1) * sizeof(double));

      for (const EivData* d : {&big, &small, &small, &big}) {
        GlsResult r = sized(*d);
        const AllocLog log = logged_fit(*d, r);
        SCOPED_TRACE(testing::Message() << "ncoef " << ncoef << " npts " << d->npts);
        ASSERT_EQ(r.istat[0], 0);
        EXPECT_EQ(log.count, 0) << log.bytes << " bytes";
        if (d == &big) {
          // The kept workspace changes no result.
          EXPECT_EQ(r.param, first.param);
          EXPECT_EQ(r.wres, first.wres);
          EXPECT_EQ(r.r22, first.r22);
          EXPECT_EQ(r.cov, first.cov);
          EXPECT_EQ(std::vector<int>(r.istat, r.istat + 3),
                    std::vector<int>(first.istat, first.istat + 3));
        }
      }
    });
  }
}
