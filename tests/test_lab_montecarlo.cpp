// Monte Carlo inverse prediction of the laboratory layer: the same bits from
// the same seed however the draws and the responses are split, agreement
// with first order and with exact distributions where they are known, the
// drawn scale of a scaled covariance, the rules' pieces on their own, and
// the statuses.  The exported function is called through the built library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "montecarlo/cov_factor.h"
#include "montecarlo/first_order_check.h"
#include "montecarlo/mc_summary.h"
#include "montecarlo/montecarlo.h"
#include "montecarlo/root_pick.h"
#include "quorvex_lab.h"
#include "stats/distributions.h"

namespace {

using namespace quorvex::lab;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kNaNValue = kNaN;

// A curve with everything the routine reads, owning its arrays.
struct Case {
  std::vector<double> coef, cov;
  double xmin = 0.0, xmax = 10.0;
  int covkind = 0, ndof = 10;
  double sres = 0.0;
  bool stated = true;
  FittedCurve curve() const {
    return FittedCurve{static_cast<int>(coef.size()), coef.data(), cov.data(), xmin, xmax,
                       covkind, ndof, sres, 0, stated};
  }
};

// p(x) = a + b t on [0, 10], t = (x - 5)/5: Chebyshev coefficients (2a, b).
Case line(double ua, double ub) {
  return Case{{2.0 * 1.0, 2.0}, {4.0 * ua * ua, 0.0, 0.0, ub * ub}};
}

struct Out {
  explicit Out(std::size_t n)
      : mean(n), sd(n), median(n), low(n), high(n), selow(n), sehigh(n), noroot(n),
        several(n), check(n, -1) {}
  McResults res() {
    return McResults{mean.data(), sd.data(),     median.data(),  low.data(),     high.data(),
                     selow.data(), sehigh.data(), noroot.data(), several.data(), check.data()};
  }
  std::vector<double> mean, sd, median, low, high, selow, sehigh, noroot, several;
  std::vector<int> check;
};

McRequest request(const std::vector<double>& y, const std::vector<double>& uy, int ndraw,
                  std::uint64_t seed) {
  McRequest r;
  r.npts = static_cast<int>(y.size());
  r.y = y.data();
  r.uymode = 0;
  r.uy = uy.data();
  r.ndraw = ndraw;
  r.seed = seed;
  return r;
}

// Bit patterns, so that NaN equals NaN.
std::vector<std::uint64_t> bits(const std::vector<double>& v) {
  std::vector<std::uint64_t> b(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) std::memcpy(&b[i], &v[i], 8);
  return b;
}

void expect_same(const Out& a, const Out& b) {
  EXPECT_EQ(bits(a.mean), bits(b.mean));
  EXPECT_EQ(bits(a.sd), bits(b.sd));
  EXPECT_EQ(bits(a.median), bits(b.median));
  EXPECT_EQ(bits(a.low), bits(b.low));
  EXPECT_EQ(bits(a.high), bits(b.high));
  EXPECT_EQ(bits(a.selow), bits(b.selow));
  EXPECT_EQ(bits(a.noroot), bits(b.noroot));
  EXPECT_EQ(bits(a.several), bits(b.several));
  EXPECT_EQ(a.check, b.check);
}

using McFn = decltype(&QVXL_MONTECARLO);

TEST(LabMonteCarlo, SameSeedSameBitsHoweverSplit) {
  // A quadratic whose responses include one near a turning point and one
  // without a root, so that every output takes part.
  Case c{{3.0, 2.0, 0.5}, {0.01, 0.002, 0.0, 0.002, 0.004, 0.001, 0.0, 0.001, 0.003}};
  c.xmin = 0.0;
  c.xmax = 2.0;
  const std::vector<double> y{0.02, 1.0, 2.5, 3.9, 5.0};
  const std::vector<double> uy{0.01, 0.02, 0.0, 0.05, 0.01};
  McRequest r = request(y, uy, 700, 0x0123456789abcdefULL);
  Out one(5), chunked(5), split(5);
  ASSERT_EQ(MONTECARLO(c.curve(), r, one.res()), 0);
  for (int chunk : {1, 7, 699}) {
    r.chunk = chunk;
    ASSERT_EQ(MONTECARLO(c.curve(), r, chunked.res()), 0);
    expect_same(one, chunked);
  }
  // Responses 0-1 and 2-4 in two calls, as two workers would take them.
  r.chunk = 1024;
  McRequest a = r, b = r;
  a.npts = 2;
  b.npts = 3;
  b.y += 2;
  b.uy += 2;
  b.first = 2;
  McResults ra = split.res(), rb = split.res();
  for (double** p : {&rb.mean, &rb.sd, &rb.median, &rb.low, &rb.high, &rb.se_low, &rb.se_high,
                     &rb.no_root, &rb.several})
    *p += 2;
  rb.check += 2;
  ASSERT_EQ(MONTECARLO(c.curve(), a, ra), 0);
  ASSERT_EQ(MONTECARLO(c.curve(), b, rb), 0);
  expect_same(one, split);
  // Another seed, other draws; the same response at another index, too.
  r.seed ^= 1;
  ASSERT_EQ(MONTECARLO(c.curve(), r, chunked.res()), 0);
  EXPECT_NE(one.mean[1], chunked.mean[1]);
  r.seed ^= 1;
  const std::vector<double> twice{1.0, 1.0}, uy2{0.02, 0.02};
  McRequest same = request(twice, uy2, 100, r.seed);
  Out o2(2);
  ASSERT_EQ(MONTECARLO(c.curve(), same, o2.res()), 0);
  EXPECT_NE(o2.mean[0], o2.mean[1]);

  // The exported function, as hosts call it, gives the same bits; the seed
  // travels as two 32-bit words.
  void* lib = dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto fn = reinterpret_cast<McFn>(dlsym(lib, "QVXL_MONTECARLO"));
  ASSERT_NE(fn, nullptr);
  const int nc = 3, covkind = 0, ndof = 10, weighting = 0, stated = 1, npts = 5, uymode = 0,
            first = 0, ndraw = 700, ngrid = 100;
  const int seed[2] = {static_cast<int>(0x89abcdefu), 0x01234567};
  const double sres = 0.0, level = 0.95, repl = 1.0;
  Out host(5);
  int st = -1;
  fn(&nc, c.coef.data(), c.cov.data(), &c.xmin, &c.xmax, &covkind, &ndof, &sres, &weighting,
     &stated, &npts, y.data(), &uymode, uy.data(), &repl, &first, &ndraw, &level, &ngrid, seed,
     host.mean.data(), host.sd.data(), host.median.data(), host.low.data(), host.high.data(),
     host.selow.data(), host.sehigh.data(), host.noroot.data(), host.several.data(),
     host.check.data(), &st);
  EXPECT_EQ(st, 0);
  expect_same(one, host);
  dlclose(lib);
}

TEST(LabMonteCarlo, StraightLineAgreesWithFirstOrder) {
  // Small uncertainties: x is nearly linear in the draws, so its mean and
  // standard deviation are first order's x and u(x) within sampling error.
  // Intercept and slope correlated (rho = -0.9), as the coefficients of a
  // fit over standards off centre are.
  Case c = line(0.004, 0.003);
  c.cov[1] = c.cov[2] = -0.9 * 2.0 * 0.004 * 0.003;
  const std::vector<double> y{-0.5, 1.0, 2.5};
  const std::vector<double> uy{0.01, 0.01, 0.0};
  const int n = 20000;
  Out o(3);
  ASSERT_EQ(MONTECARLO(c.curve(), request(y, uy, n, 42), o.res()), 0);
  for (std::size_t i = 0; i < 3; ++i) {
    // First order by hand: x = 5 + 5 (y - a)/b,
    // u(x)^2 = 25 (ua^2 + 2 rho ua ub t + t^2 ub^2 + uy^2)/b^2.
    const double t = (y[i] - 1.0) / 2.0, x = 5.0 + 5.0 * t;
    const double ux = 2.5 * std::sqrt(0.004 * 0.004 - 2.0 * 0.9 * 0.004 * 0.003 * t +
                                      t * t * 0.003 * 0.003 + uy[i] * uy[i]);
    EXPECT_NEAR(o.mean[i], x, 4.0 * ux / std::sqrt(n)) << i;
    EXPECT_NEAR(o.sd[i] / ux, 1.0, 4.0 / std::sqrt(2.0 * n)) << i;
    EXPECT_NEAR(o.median[i], x, 5.0 * 1.25 * ux / std::sqrt(n)) << i;
    EXPECT_NEAR(o.low[i], x - 1.959964 * ux, 4.0 * o.selow[i]) << i;
    EXPECT_NEAR(o.high[i], x + 1.959964 * ux, 4.0 * o.sehigh[i]) << i;
    EXPECT_GT(o.selow[i], 0.0);
    EXPECT_EQ(o.check[i], 0) << i;
    EXPECT_EQ(o.noroot[i], 0.0);
    EXPECT_EQ(o.several[i], 0.0);
  }
}

// The drawn scale of a scaled covariance: with u(y) from the same scatter,
// (x - x0)/u(x) follows Student's t with the fit's degrees of freedom
// (GUM-S1 6.4.9), so the interval's half-width is t_nu u(x), not 1.96 u(x),
// and the standard deviation sqrt(nu / (nu - 2)) u(x).  The first-order
// check compares with k = t_nu.
TEST(LabMonteCarlo, ScaledCovarianceDrawsTheScale) {
  struct Row {
    int ndof;
    double sd_factor;  // sqrt(nu / (nu - 2)), 1 for the stated covariance
  };
  const int n = 40000;
  for (const Row row : {Row{3, std::sqrt(3.0)}, Row{8, std::sqrt(8.0 / 6.0)}, Row{0, 1.0}}) {
    Case c = line(0.002, 0.001);
    c.sres = 0.004;
    const std::vector<double> y{1.0}, uy{0.004}, repl{1.0};
    McRequest r = request(y, uy, n, 5);
    if (row.ndof > 0) {  // scaled, u(y) from the scatter; else stated u(y) = SRES
      c.covkind = 1;
      c.ndof = row.ndof;
      c.stated = false;
      r.uymode = 1;
      r.repl = repl.data();
    }
    Out o(1);
    ASSERT_EQ(MONTECARLO(c.curve(), r, o.res()), 0) << row.ndof;
    const double ux = 2.5 * std::hypot(std::hypot(0.002, 0.0), 0.004);
    const double k =
        row.ndof > 0 ? coverage_factor(0.95, row.ndof) : coverage_factor(0.95, INFINITY);
    EXPECT_NEAR(o.high[0] - 5.0, k * ux, 4.0 * o.sehigh[0]) << row.ndof;
    EXPECT_NEAR(5.0 - o.low[0], k * ux, 4.0 * o.selow[0]) << row.ndof;
    if (row.ndof == 3) {
      EXPECT_GT(o.high[0] - o.low[0], 1.5 * 2.0 * 1.96 * ux);
    } else {
      EXPECT_NEAR(o.sd[0] / ux, row.sd_factor, 0.03) << row.ndof;
    }
    EXPECT_EQ(o.check[0], 0) << row.ndof;
  }
  // A stated u(y) is not drawn with the scale: with the curve's part
  // u_c = 0.005 on 3 degrees of freedom and a stated reading part
  // u_r = 0.01, x - x0 = u_c t_3 + u_r z, whose 97.5 % point is 2.241 u(x)
  // (numpy, 1e7 draws), where drawing both with the scale gives t_3's 3.18.
  Case c = line(0.002, 0.001);
  c.covkind = 1;
  c.ndof = 3;
  const std::vector<double> y{1.0}, uy{0.004};
  Out o(1);
  ASSERT_EQ(MONTECARLO(c.curve(), request(y, uy, n, 6), o.res()), 0);
  const double ux = 2.5 * std::hypot(0.002, 0.004);
  EXPECT_NEAR(o.high[0] - 5.0, 2.241 * ux, 4.0 * o.sehigh[0] + 0.005 * ux);
  EXPECT_NEAR(5.0 - o.low[0], 2.241 * ux, 4.0 * o.selow[0] + 0.005 * ux);
}

// x = sqrt(Y) on p(x) = x^2 over [0, 2] with only the constant term and the
// response uncertain: Y ~ N(y, s^2), s^2 = u^2 + s_c^2, no root when Y < 0.
TEST(LabMonteCarlo, RootOfAQuadraticFollowsItsExactDistribution) {
  const double y0 = 0.01, u = 0.006, sc = 0.008, s = std::hypot(u, sc);
  Case c{{3.0, 2.0, 0.5}, std::vector<double>(9, 0.0)};
  c.cov[0] = 4.0 * sc * sc;
  c.xmin = 0.0;
  c.xmax = 2.0;
  const std::vector<double> y{y0}, uy{u};
  const int n = 40000;
  Out o(1);
  ASSERT_EQ(MONTECARLO(c.curve(), request(y, uy, n, 7), o.res()), 0);
  const double p0 = lower_tail(Dist::Normal, -y0 / s);
  EXPECT_NEAR(o.noroot[0], p0, 4.0 * std::sqrt(p0 * (1.0 - p0) / n));
  const double m = n * (1.0 - p0);
  for (const double q : {0.025, 0.5, 0.975}) {
    const double exact = std::sqrt(y0 + s * quantile(Dist::Normal, p0 + q * (1.0 - p0)));
    const double density = 2.0 * exact * std::exp(-0.5 * std::pow((exact * exact - y0) / s, 2)) /
                           (s * std::sqrt(2.0 * M_PI) * (1.0 - p0));
    const double got = q == 0.025 ? o.low[0] : q == 0.5 ? o.median[0] : o.high[0];
    EXPECT_NEAR(got, exact, 5.0 * std::sqrt(q * (1.0 - q) / m) / density) << q;
  }
  EXPECT_NE(o.check[0] & QVXL_MC_CHECK_NO_ROOT_DRAWS, 0);
}

TEST(LabMonteCarlo, CovarianceFactor) {
  // L L' = C for a full, a singular and a zero covariance; a clearly
  // indefinite or non-finite one is refused.
  const std::vector<std::vector<double>> good{
      {4.0, 1.0, 0.5, 1.0, 3.0, -0.2, 0.5, -0.2, 2.0},
      {1.0, 2.0, 0.0, 2.0, 4.0, 0.0, 0.0, 0.0, 1e-30},  // rank 1 (+ a tiny one)
      std::vector<double>(9, 0.0)};
  for (const auto& cov : good) {
    std::vector<double> l;
    ASSERT_EQ(cov_factor(3, cov.data(), l), 0);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double v = 0.0;
        for (int k = 0; k < 3; ++k) v += l[k * 3 + i] * l[k * 3 + j];
        EXPECT_NEAR(v, cov[j * 3 + i], 1e-14 * 5.0);
      }
  }
  std::vector<double> l;
  const std::vector<double> indefinite{1.0, 2.0, 2.0, 1.0};
  EXPECT_EQ(cov_factor(2, indefinite.data(), l), QVXL_MC_COV_INDEFINITE);
  const std::vector<double> rounding{1.0, 1.0, 1.0, 1.0 - 1e-15};
  EXPECT_EQ(cov_factor(2, rounding.data(), l), 0);
  const std::vector<double> inf{1.0, 0.0, 0.0, INFINITY};
  EXPECT_EQ(cov_factor(2, inf.data(), l), QVXL_MC_COV_NOT_FINITE);
}

TEST(LabMonteCarlo, RootPicking) {
  struct Row {
    std::vector<double> roots;
    double ref, want;
  };
  const std::vector<Row> rows{
      {{1.0, 3.0}, 2.9, 3.0},   // the nearer, not the first
      {{1.0, 3.0}, 2.0, 1.0},   // equally near: the first
      {{1.0, 3.0}, kNaN, 1.0},  // no first-order root: the first
      {{-1.0, 0.5, 4.0}, 0.4, 0.5},
      {{2.0}, -10.0, 2.0},
  };
  for (const Row& r : rows)
    EXPECT_EQ(pick_root(r.roots.data(), static_cast<int>(r.roots.size()), r.ref), r.want);
  EXPECT_TRUE(std::isnan(pick_root(nullptr, 0, 1.0)));
}

TEST(LabMonteCarlo, SummaryAndCheck) {
  // Three roots and a draw without one: sd divides by m - 1; quantiles at
  // position p (m - 1) (numpy's default rule gives the same values).
  std::vector<double> xs{3.0, 1.0, 2.0};
  const McSummary s = summarise(xs, 4, 1, 0, 0.5);
  EXPECT_EQ(s.mean, 2.0);
  EXPECT_EQ(s.sd, 1.0);
  EXPECT_EQ(s.low, 1.5);  // p = 0.25 at position 0.5
  EXPECT_EQ(s.high, 2.5);
  EXPECT_EQ(s.median, 2.0);
  EXPECT_EQ(s.no_root, 0.25);
  const std::vector<double> sorted{1.0, 2.0, 3.0, 4.0, 10.0};
  EXPECT_DOUBLE_EQ(sorted_quantile(sorted, 0.3), 2.2);
  EXPECT_DOUBLE_EQ(sorted_quantile(sorted, 0.9), 7.6);
  std::vector<double> none;
  EXPECT_TRUE(std::isnan(summarise(none, 5, 5, 0, 0.95).low));

  // The check: x = 10, u(x) = 1, U = 2.5 (k = 2.5); ends within
  // max(u/10, 4 se) of the Monte Carlo ends.
  struct Row {
    double low, high, se, no_root, several, x;
    int want;
  };
  const std::vector<Row> rows{
      {7.5, 12.5, 0.01, 0.0, 0.0, 10.0, 0},
      {7.45, 12.58, 0.01, 0.0, 0.0, 10.0, 0},                       // within u/10
      {7.38, 12.5, 0.01, 0.0, 0.0, 10.0, QVXL_MC_CHECK_INTERVAL},   // beyond u/10
      {7.38, 12.5, 0.04, 0.0, 0.0, 10.0, 0},                        // within 4 se
      {8.0, 12.0, 0.01, 0.0, 0.0, 10.0, QVXL_MC_CHECK_INTERVAL},    // 2 u(x), not k u(x)
      {7.5, 12.5, 0.01, 0.001, 0.0, 10.0, QVXL_MC_CHECK_NO_ROOT_DRAWS},
      {7.5, 12.5, 0.01, 0.0009, 0.0009, 10.0, 0},
      {7.5, 12.5, 0.01, 0.0, 0.001, 10.0, QVXL_MC_CHECK_SEVERAL_DRAWS},
      {7.5, 12.5, 0.01, 0.0, 0.0, kNaN, QVXL_MC_CHECK_NO_ROOT},
      {kNaN, kNaN, kNaN, 1.0, 0.0, 10.0, QVXL_MC_CHECK_NO_ROOT_DRAWS | QVXL_MC_CHECK_NO_DRAW},
  };
  for (const Row& r : rows) {
    McSummary m{};
    m.low = r.low;
    m.high = r.high;
    m.se_low = m.se_high = r.se;
    m.no_root = r.no_root;
    m.several = r.several;
    EXPECT_EQ(first_order_check(m, r.x, 1.0, 2.5), r.want) << r.low << " " << r.high;
  }
}

TEST(LabMonteCarlo, Statuses) {
  struct Row {
    const char* what;
    int want;
    void (*edit)(Case&, McRequest&);
  };
  const std::vector<Row> rows{
      {"ok", 0, [](Case&, McRequest&) {}},
      {"constant", QVXL_BAD_NCOEF, [](Case& c, McRequest&) { c.coef.resize(1); }},
      {"interval", QVXL_BAD_INTERVAL, [](Case& c, McRequest&) { c.xmax = c.xmin; }},
      {"no responses", QVXL_BAD_COUNT, [](Case&, McRequest& r) { r.npts = 0; }},
      {"one draw", QVXL_BAD_COUNT, [](Case&, McRequest& r) { r.ndraw = 1; }},
      {"grid", QVXL_BAD_COUNT, [](Case&, McRequest& r) { r.ngrid = 0; }},
      {"mode", QVXL_BAD_CODE, [](Case&, McRequest& r) { r.uymode = 3; }},
      {"level", QVXL_BAD_VALUE, [](Case&, McRequest& r) { r.level = 1.0; }},
      {"first", QVXL_BAD_VALUE, [](Case&, McRequest& r) { r.first = -1; }},
      {"y", QVXL_BAD_VALUE, [](Case&, McRequest& r) { r.y = &kNaNValue; }},
      {"cov NaN", QVXL_MC_COV_NOT_FINITE, [](Case& c, McRequest&) { c.cov[3] = NAN; }},
      {"cov indefinite", QVXL_MC_COV_INDEFINITE, [](Case& c, McRequest&) { c.cov[0] = -1.0; }},
      {"scatter of stated standards", QVXL_UY_STATED_STANDARDS,
       [](Case&, McRequest& r) { r.uymode = 1; }},
      {"scatter without dof", QVXL_UY_NO_DOF, [](Case& c, McRequest& r) {
         c.stated = false;
         c.ndof = 0;
         r.uymode = 1;
       }},
  };
  for (const Row& row : rows) {
    Case c = line(0.01, 0.01);
    const std::vector<double> y{1.0}, uy{0.01}, repl{1.0};
    McRequest r = request(y, uy, 10, 1);
    r.repl = repl.data();
    row.edit(c, r);
    Out o(1);
    EXPECT_EQ(MONTECARLO(c.curve(), r, o.res()), row.want) << row.what;
    if (row.want != 0) {
      EXPECT_EQ(o.check[0], -1) << row.what << ": an output was written";
    }
  }
}

}  // namespace
