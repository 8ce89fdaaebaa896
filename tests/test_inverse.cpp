// Inverse prediction: roots of curves built from known roots, uncertainties
// against finite differences and a long double propagation, agreement of the
// two entry points on a straight line, statuses, the root cap, termination on
// hostile input, and nothing written outside the output arrays.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "curve/polyeval.h"
#include "host_library.h"
#include "inverse/ipval.h"
#include "inverse/ipval_degree1.h"
#include "inverse/zeroin.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kGuard = -12345.0;

struct Result {
  std::vector<int> nroot;
  std::vector<double> xroot, uxroot;  // one guard element before and after
  int istat = -1;
  double x(int j, int i) const { return xroot[1 + (std::size_t)i * rows + j]; }
  double u(int j, int i) const { return uxroot[1 + (std::size_t)i * rows + j]; }
  std::size_t rows = 0;
};

// IPVAL with guard values around every output array, which must survive.
Result ipval(const std::vector<double>& c, const std::vector<double>& cov,
             const std::vector<double>& y, const std::vector<double>& covy, double xmin,
             double xmax, int ngrid, double tol, std::optional<int> nc = std::nullopt) {
  const int ncoef = nc.value_or((int)c.size());
  const int npts = (int)y.size();
  Result r;
  r.rows = ncoef > 1 ? ncoef - 1 : 0;
  const std::size_t nout = r.rows * y.size();
  r.nroot.assign(y.size() + 2, kGuard);
  r.xroot.assign(nout + 2, kGuard);
  r.uxroot.assign(nout + 2, kGuard);
  quorvex::IPVAL(ncoef, c.data(), cov.data(), npts, y.data(), covy.data(), xmin, xmax, ngrid, tol,
                 r.nroot.data() + 1, r.xroot.data() + 1, r.uxroot.data() + 1, r.istat);
  for (const auto* v : {&r.xroot, &r.uxroot}) {
    EXPECT_EQ(v->front(), kGuard);
    EXPECT_EQ(v->back(), kGuard);
  }
  EXPECT_EQ(r.nroot.front(), (int)kGuard);
  EXPECT_EQ(r.nroot.back(), (int)kGuard);
  return r;
}

// Scaled coefficients of p(x) = y0 + k prod (x - r_j) on [xmin, xmax],
// multiplied out in the Chebyshev basis in long double.
std::vector<double> from_roots(const std::vector<double>& roots, double k, double y0,
                               double xmin, double xmax) {
  std::vector<long double> b = {k};  // p = sum b_m T_m(t)
  for (double r : roots) {
    const long double tr = ((r - (long double)xmin) - (xmax - (long double)r)) / (xmax - xmin);
    const long double h = 0.5L * ((long double)xmax - xmin);  // x - r = h (t - tr)
    std::vector<long double> nb(b.size() + 1, 0.0L);
    for (std::size_t m = 0; m < b.size(); ++m) {  // t T_0 = T_1, t T_m = (T_m+1 + T_m-1)/2
      if (m == 0) {
        nb[1] += h * b[0];
      } else {
        nb[m + 1] += 0.5L * h * b[m];
        nb[m - 1] += 0.5L * h * b[m];
      }
      nb[m] -= h * tr * b[m];
    }
    b = nb;
  }
  b[0] += y0;
  std::vector<double> c(b.size());
  for (std::size_t m = 0; m < b.size(); ++m) c[m] = (double)(m == 0 ? 2 * b[0] : b[m]);
  return c;
}

// A positive definite covariance A A' / n with entries of size s^2.
std::vector<double> covariance(int n, double s, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-s, s);
  std::vector<double> a(n * n), c(n * n, 0.0);
  for (double& v : a) v = u(rng);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) c[i + n * j] += a[i + n * k] * a[j + n * k] / n;
  return c;
}

std::vector<double> diagonal(const std::vector<double>& d) {
  std::vector<double> m(d.size() * d.size(), 0.0);
  for (std::size_t i = 0; i < d.size(); ++i) m[i * (d.size() + 1)] = d[i];
  return m;
}

double value(const std::vector<double>& c, double x, double xmin, double xmax) {
  double y = 0.0;
  int st = 0;
  const int one = 1;
  quorvex::POLYEVAL((int)c.size(), c.data(), one, &x, xmin, xmax, &y, st);
  return y;
}

struct RootsCase {
  std::vector<double> roots;
  double k, y0, xmin, xmax;
  int ngrid;
};

class KnownRoots : public ::testing::TestWithParam<RootsCase> {};

TEST_P(KnownRoots, FoundInOrderWithFirstOrderUncertainty) {
  // Plain variables, not a structured binding: clang 14 cannot capture one.
  const RootsCase& param = GetParam();
  const std::vector<double>& roots = param.roots;
  const double k = param.k, y0 = param.y0, xmin = param.xmin, xmax = param.xmax;
  const int ngrid = param.ngrid;
  const std::vector<double> c = from_roots(roots, k, y0, xmin, xmax);
  const int nc = (int)c.size();
  double cmax = 0.0;
  for (double v : c) cmax = std::max(cmax, std::fabs(v));
  const std::vector<double> cov = covariance(nc, 1e-3 * cmax, nc);
  const double w = xmax - xmin;
  // Responses: the known roots' level, one beyond the curve's range on each
  // side, and the computed end values.
  double top = 0.0;
  for (double v : c) top += std::fabs(v);
  const double ylo = value(c, xmin, xmin, xmax), yhi = value(c, xmax, xmin, xmax);
  const std::vector<double> y = {y0, 2 * top, -2 * top, ylo, yhi};
  const std::vector<double> covy = diagonal({4e-6, 1e-6, 1e-6, 0.0, 9e-6});

  for (double tol : {0.0, 1e-9 * w}) {
    const Result r = ipval(c, cov, y, covy, xmin, xmax, ngrid, tol);
    ASSERT_EQ(r.istat, 0);
    ASSERT_EQ(r.nroot[1], (int)roots.size());
    for (std::size_t j = 0; j < roots.size(); ++j)
      EXPECT_NEAR(r.x(j, 0), roots[j], 1e-11 * w + tol) << "root " << j;
    for (int i : {1, 2}) {
      EXPECT_EQ(r.nroot[1 + i], 0);
      for (std::size_t j = 0; j < r.rows; ++j) EXPECT_EQ(r.x(j, i) + r.u(j, i), 0.0);
    }
    EXPECT_EQ(r.x(0, 3), xmin);
    EXPECT_EQ(r.x(r.nroot[5] - 1, 4), xmax);
    for (int i = 0; i < 5; ++i)
      for (int j = 1; j < r.nroot[1 + i]; ++j) EXPECT_LT(r.x(j - 1, i), r.x(j, i));
  }

  // Uncertainty of each root of y0 by central differences of the roots
  // themselves: u^2 = J COV J' + u(y)^2 (dx/dy)^2.
  const Result r = ipval(c, cov, {y0}, {4e-6}, xmin, xmax, ngrid, 0.0);
  for (std::size_t j = 0; j < roots.size(); ++j) {
    auto root_with = [&](int m, double h) {
      std::vector<double> cp = c;
      double yp = y0;
      if (m < nc) cp[m] += h; else yp += h;
      return ipval(cp, cov, {yp}, {0.0}, xmin, xmax, ngrid, 0.0).x(j, 0);
    };
    std::vector<double> jac(nc + 1);
    for (int m = 0; m <= nc; ++m) {
      const double h = 1e-7 * cmax;
      jac[m] = (root_with(m, h) - root_with(m, -h)) / (2 * h);
    }
    double var = 4e-6 * jac[nc] * jac[nc];
    for (int a = 0; a < nc; ++a)
      for (int b = 0; b < nc; ++b) var += jac[a] * cov[a + nc * b] * jac[b];
    EXPECT_NEAR(r.u(j, 0), std::sqrt(var), 1e-6 * std::sqrt(var)) << "root " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Curves, KnownRoots,
    ::testing::Values(RootsCase{{0.3}, 2.0, 0.0, 0.0, 1.0, 10},
                      RootsCase{{-1.7, 3.2}, -0.5, 1.0, -3.0, 5.0, 16},
                      RootsCase{{112.5, 141.0, 187.25}, 1e-4, 3.0, 100.0, 200.0, 40},
                      RootsCase{{-0.61e-3, -0.2e-3, 0.33e-3, 1.41e-3}, -3e12, 0.0, -1e-3, 2e-3, 50},
                      RootsCase{{0.05, 0.21, 0.37, 0.52, 0.71, 0.93}, 100.0, -7.0, 0.0, 1.0, 100},
                      // 904 (xmax - xmin) / 904 + xmin rounds above xmax here.
                      RootsCase{{-1.0, 0.5}, 1.0, 0.0, -3.9326297813416478, 1.9435886994878038, 904}));

// The uncertainty formula itself in long double: basis row and slope from
// the three-term recurrences at the root IPVAL returned.
TEST(Ipval, UncertaintyAgreesWithLongDoublePropagation) {
  const double xmin = 2.0, xmax = 9.0;
  const std::vector<double> c = from_roots({2.9, 4.4, 7.1, 8.3}, 0.2, 1.5, xmin, xmax);
  const int nc = (int)c.size();
  const std::vector<double> cov = covariance(nc, 0.01, 3);
  const Result r = ipval(c, cov, {1.5, 2.0}, diagonal({1e-4, 4e-4}), xmin, xmax, 64, 0.0);
  ASSERT_EQ(r.istat, 0);
  for (int i = 0; i < 2; ++i) {
    ASSERT_GT(r.nroot[1 + i], 0);
    for (int j = 0; j < r.nroot[1 + i]; ++j) {
      const long double x = r.x(j, i);
      const long double t = ((x - xmin) - (xmax - x)) / (xmax - xmin);
      std::vector<long double> g(nc), tk(nc), uk(nc);  // T_m(t), U_m(t)
      tk[0] = 1; tk[1] = t; uk[0] = 1; uk[1] = 2 * t;
      for (int m = 2; m < nc; ++m) {
        tk[m] = 2 * t * tk[m - 1] - tk[m - 2];
        uk[m] = 2 * t * uk[m - 1] - uk[m - 2];
      }
      long double dp = 0;  // dT_m/dt = m U_{m-1}
      for (int m = 0; m < nc; ++m) {
        g[m] = m == 0 ? 0.5L : tk[m];
        if (m > 0) dp += c[m] * m * uk[m - 1];
      }
      dp *= 2.0L / (xmax - xmin);
      long double v = 0;
      for (int a = 0; a < nc; ++a)
        for (int b = 0; b < nc; ++b) v += g[a] * cov[a + nc * b] * g[b];
      const long double u = std::sqrt((v + (i == 0 ? 1e-4L : 4e-4L)) / (dp * dp));
      EXPECT_NEAR(r.u(j, i), (double)u, 1e-13 * (double)u);
    }
  }
}

// Every root event of the grid scan, uncapped, as the procedure reads: one
// residual evaluation of the grid per response, then zeroin per sign change.
std::vector<double> reference_roots(const std::vector<double>& c, double y, double xmin,
                                    double xmax, int ngrid, double tol) {
  const int nc = (int)c.size();
  std::vector<double> xg(ngrid + 1), f(ngrid + 1), roots;
  for (int k = 0; k < ngrid; ++k) xg[k] = k * (xmax - xmin) / ngrid + xmin;
  xg[ngrid] = xmax;
  int st = 0;
  quorvex::POLY_RESIDUAL(ngrid + 1, xg.data(), nc, c.data(), y, xmin, xmax, f.data(), st);
  EXPECT_EQ(st, 0);
  for (int k = 0; k < ngrid; ++k) {
    if (f[k] * f[k + 1] < 0)
      roots.push_back(quorvex::zeroin(xg[k], xg[k + 1], nc, c.data(), y, xmin, xmax, tol));
    else if (f[k] == 0)
      roots.push_back(xg[k]);
  }
  if (f[ngrid] == 0) roots.push_back(xmax);
  return roots;
}

// IPVAL evaluates the curve on the grid once for all responses and must give
// the same bits as the per-response evaluation.
TEST(Ipval, SameBitsAsOneResidualEvaluationPerResponse) {
  const double xmin = -1.0, xmax = 3.0;
  const int ngrid = 37;
  const std::vector<double> c = {0.4, -1.1, 0.8, 0.35, -0.2};
  std::vector<double> y;
  for (int i = 0; i < 40; ++i) y.push_back(-1.5 + 0.07 * i);
  const Result r = ipval(c, covariance(5, 0.01, 9), y, diagonal(std::vector<double>(40, 1e-4)),
                         xmin, xmax, ngrid, 1e-10);
  for (int i = 0; i < 40; ++i) {
    const std::vector<double> ref = reference_roots(c, y[i], xmin, xmax, ngrid, 1e-10);
    ASSERT_EQ(r.nroot[1 + i], (int)ref.size());
    for (std::size_t j = 0; j < ref.size(); ++j) EXPECT_EQ(r.x(j, i), ref[j]);
  }
}

// A grid of more than 2^20 + 1 points is evaluated in pieces; roots in the
// cell across the seam and on its first point are found as in one piece.
TEST(Ipval, LongGridAcrossPieces) {
  const int ngrid = (1 << 20) + 2;
  const std::vector<double> c = {1.0, 0.5};  // p(x) = x on [0, 1]
  const double seam = double(1 << 20) * 1.0 / ngrid;
  const std::vector<double> y = {seam - 0.5 / ngrid, seam};
  const Result r = ipval(c, {0, 0, 0, 0}, y, {0, 0, 0, 0}, 0.0, 1.0, ngrid, 0.0);
  for (int i = 0; i < 2; ++i) {
    const std::vector<double> ref = reference_roots(c, y[i], 0.0, 1.0, ngrid, 0.0);
    ASSERT_EQ(ref.size(), 1u);
    ASSERT_EQ(r.nroot[1 + i], 1);
    EXPECT_EQ(r.x(0, i), ref[0]);
  }
  EXPECT_EQ(r.x(0, 1), seam);
}

TEST(Ipval, StraightLineAgreesWithClosedForm) {
  const double xmin = 1.0, xmax = 11.0;
  const std::vector<double> c = {7.0, 2.5}, cov = {4e-4, -1e-4, -1e-4, 9e-4};
  const std::vector<double> y = {1.2, 2.0, 3.3, 4.9, 5.5, 5.9};
  const std::vector<double> covy = diagonal({1e-4, 2e-4, 0.0, 1e-3, 3e-4, 5e-5});
  std::vector<double> xp(y.size()), up(y.size());
  int st = -1;
  quorvex::IPVAL_DEGREE1(c.data(), cov.data(), (int)y.size(), y.data(), covy.data(), xmin, xmax,
                         xp.data(), up.data(), st);
  ASSERT_EQ(st, 0);
  // One grid cell, the whole interval, is a grid too.
  for (int ngrid : {7, 1}) {
    const Result r = ipval(c, cov, y, covy, xmin, xmax, ngrid, 0.0);
    ASSERT_EQ(r.istat, 0) << ngrid;
    for (std::size_t i = 0; i < y.size(); ++i) {
      ASSERT_EQ(r.nroot[1 + i], 1) << ngrid;
      EXPECT_NEAR(r.x(0, i), xp[i], 4e-15 * xmax);
      EXPECT_NEAR(r.u(0, i), up[i], 1e-12 * up[i]);
    }
  }
}

TEST(IpvalDegree1, LineCases) {
  const std::vector<double> c = {2.0, 1.0}, zero(4, 0.0), cov = {1e-2, 2e-3, 2e-3, 4e-3};
  std::vector<double> xp(3), up(3);
  int st = -1;
  // y = x on [0, 2]: answered also outside the interval; COV = 0 leaves u(y)/|S|.
  const std::vector<double> y = {0.5, 3.0, -1.0};
  quorvex::IPVAL_DEGREE1(c.data(), zero.data(), 3, y.data(), diagonal({0.04, 0.09, 0.0}).data(),
                         0.0, 2.0, xp.data(), up.data(), st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(xp, (std::vector<double>{0.5, 3.0, -1.0}));
  EXPECT_EQ(up, (std::vector<double>{0.2, 0.3, 0.0}));
  // A response at the intercept with COVY = 0 leaves sqrt(var(A))/|S|:
  // slope 1, intercept 0.5 c1 - c2 = 0, var(A) = 0.25 var(c1) - cov + var(c2).
  const double y0 = 0.0;
  quorvex::IPVAL_DEGREE1(c.data(), cov.data(), 1, &y0, &zero[0], 0.0, 2.0, xp.data(), up.data(), st);
  EXPECT_NEAR(up[0], std::sqrt(0.25 * 1e-2 - 2 * 0.5 * 2e-3 + 4e-3), 1e-16);
  // A covariance that is not symmetric, COV = [[4, 3], [-1, 9]] 1e-3: the
  // slope-intercept term is LCOV(1, 2) of LCOV = T COV T', formed here in
  // long double with T the map of the coefficients to (slope, intercept).
  {
    const double xmin = 1.0, xmax = 5.0, line[2] = {3.0, 2.0};
    const double ncov[4] = {4e-3, -1e-3, 3e-3, 9e-3};
    const long double w = (long double)xmax - xmin;
    const long double t[2][2] = {{0.0L, 2.0L / w}, {0.5L, -(xmax + (long double)xmin) / w}};
    long double lc[2][2] = {};
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k)
          for (int l = 0; l < 2; ++l) lc[i][j] += t[i][k] * ncov[k + 2 * l] * t[j][l];
    const long double sl = t[0][1] * line[1], ic = t[1][0] * line[0] + t[1][1] * line[1];
    const std::vector<double> yr = {-20.0, 0.5, 30.0};
    const std::vector<double> vy = {1e-4, 0.0, 4e-4};
    std::vector<double> xr(3), ur(3);
    quorvex::IPVAL_DEGREE1(line, ncov, 3, yr.data(), diagonal(vy).data(), xmin, xmax, xr.data(),
                           ur.data(), st);
    ASSERT_EQ(st, 0);
    for (int i = 0; i < 3; ++i) {
      const long double r = yr[i] - ic;
      const long double var = r * r / (sl * sl * sl * sl) * lc[0][0] + lc[1][1] / (sl * sl) +
                              2.0L * r / (sl * sl * sl) * lc[0][1] + vy[i] / (sl * sl);
      EXPECT_NEAR(xr[i], (double)(r / sl), 1e-14 * std::fabs(xr[i])) << i;
      EXPECT_NEAR(ur[i], (double)std::sqrt(var), 1e-13 * ur[i]) << i;
    }
  }
  // Invalid interval: cleared outputs, guards intact.
  std::vector<double> g = {kGuard, 5, 5, kGuard};
  quorvex::IPVAL_DEGREE1(c.data(), cov.data(), 2, y.data(), zero.data(), 2.0, 2.0, g.data() + 1,
                         up.data(), st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(g, (std::vector<double>{kGuard, 0, 0, kGuard}));
}

struct StatusCase {
  int ncoef;
  double xmin, xmax;
  int ngrid, istat;
};

class IpvalStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(IpvalStatus, CheckedInOrderWithOutputsCleared) {
  const auto [ncoef, xmin, xmax, ngrid, istat] = GetParam();
  const std::vector<double> c = {1.0, 2.0, 3.0, 4.0}, cov(16, 0.0), y = {0.5, 1.0, 1.5};
  const Result r = ipval(c, cov, y, diagonal({0, 0, 0}), xmin, xmax, ngrid, 0.0, ncoef);
  EXPECT_EQ(r.istat, istat);
  if (istat == 0) return;
  for (std::size_t i = 1; i + 1 < r.nroot.size(); ++i) EXPECT_EQ(r.nroot[i], 0);
  for (std::size_t i = 1; i + 1 < r.xroot.size(); ++i) EXPECT_EQ(r.xroot[i] + r.uxroot[i], 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Order, IpvalStatus,
    ::testing::Values(StatusCase{4, 1.0, 1.0, 0, 1}, StatusCase{1, 2.0, 1.0, 10, 1},
                      StatusCase{1, 0.0, 1.0, 0, 2}, StatusCase{0, 0.0, 1.0, 10, 2},
                      StatusCase{-5, 0.0, 1.0, 10, 2}, StatusCase{4, 0.0, 1.0, 0, 3},
                      StatusCase{2, 0.0, 1.0, -7, 3}, StatusCase{4, 0.0, 1.0, 10, 0}));

TEST(Ipval, AtMostNcoefMinusOneRootsPerColumn) {
  // p = 1 everywhere: every grid point is a zero of p - 1.
  const Result flat = ipval({2.0, 0.0, 0.0}, std::vector<double>(9, 0.0), {1.0, 1.0}, {0, 0, 0, 0},
                            0.0, 1.0, 10, 0.0);
  EXPECT_EQ(flat.istat, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(flat.nroot[1 + i], 2);
    EXPECT_EQ(flat.x(0, i), 0.0);
    EXPECT_EQ(flat.x(1, i), 0.1);
  }
  // Rounding noise around a root of multiplicity 5 of (x - 0.8)^5 changes
  // sign many times on a fine grid; the first 5 events are kept.
  const std::vector<double> c = from_roots(std::vector<double>(5, 0.8), 1.0, 0.0, -1.0, 1.0);
  const std::vector<double> all = reference_roots(c, 0.0, -1.0, 1.0, 20000, 0.0);
  ASSERT_GT(all.size(), 5u);
  const Result noisy = ipval(c, std::vector<double>(36, 0.0), {0.0}, {0.0}, -1.0, 1.0, 20000, 0.0);
  ASSERT_EQ(noisy.nroot[1], 5);
  for (int j = 0; j < 5; ++j) EXPECT_EQ(noisy.x(j, 0), all[j]);
}

TEST(Ipval, TerminatesOnHostileInput) {
  const std::vector<double> z(16, 0.0);
  struct Hostile {
    std::vector<double> c;
    double y, xmin, xmax, tol;
    int ngrid;
  };
  for (const Hostile& h :
       {Hostile{{0.0, kInf, 0.0}, 0.5, -1, 1, 0.0, 7}, Hostile{{kInf, -kInf, kInf}, 0.0, -1, 1, 0.0, 9},
        Hostile{{kNaN, 1.0}, 0.0, -1, 1, 0.0, 4}, Hostile{{0.0, 1.0, 1e308, -1e308}, 0.1, -1, 1, 0.0, 50},
        Hostile{{0.0, 1.0}, 0.3, -1, 1, -1.0, 3}, Hostile{{0.0, 1.0}, 0.3, kNaN, 1, 0.0, 3},
        Hostile{{0.0, 1.0}, 0.3, -kInf, kInf, 0.0, 3}, Hostile{{0.0, 1.0}, 0.3, -1e308, 1e308, 0.0, 3},
        Hostile{{0.0, 1.0}, kNaN, -1, 1, kNaN, 3}, Hostile{{0.0, 1.0}, 0.5, 1, 1 + 4e-16, 0.0, 1000}}) {
    const Result r = ipval(h.c, z, {h.y, -h.y}, {0, 0, 0, 0}, h.xmin, h.xmax, h.ngrid, h.tol);
    EXPECT_EQ(r.istat, 0);
    for (int i = 0; i < 2; ++i) EXPECT_LE(r.nroot[1 + i], (int)h.c.size() - 1);
  }
}

// A tolerance below 0 or not a number asks for full precision, as 0 does:
// the same roots and uncertainties, bit for bit.
TEST(Ipval, NegativeOrNaNToleranceIsFullPrecision) {
  const std::vector<double> c = from_roots({1.5, 8.9}, -0.7, 2.0, 0.0, 10.0);
  const std::vector<double> cov{1e-4, 1e-6, 0.0, 1e-6, 1e-4, 0.0, 0.0, 0.0, 1e-4};
  const std::vector<double> y{2.0, 1.0, 0.0};
  const std::vector<double> covy{1e-4, 0, 0, 0, 1e-4, 0, 0, 0, 1e-4};
  const Result full = ipval(c, cov, y, covy, 0.0, 10.0, 100, 0.0);
  ASSERT_EQ(full.istat, 0);
  ASSERT_EQ(full.nroot[1], 2);
  EXPECT_NEAR(full.x(1, 0), 8.9, 1e-12);
  for (double tol : {-1e-6, -1.0, -kInf, kNaN, -kNaN}) {
    const Result r = ipval(c, cov, y, covy, 0.0, 10.0, 100, tol);
    EXPECT_EQ(r.istat, 0) << tol;
    EXPECT_EQ(r.nroot, full.nroot) << tol;
    EXPECT_EQ(r.xroot, full.xroot) << tol;
    EXPECT_EQ(r.uxroot, full.uxroot) << tol;
  }
}

TEST(HostLibrary, InversePredictionThroughExportedNames) {
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  auto* ipval_fn = QVX_HOST_FN(lib, IPVAL);
  auto* ipval1_fn = QVX_HOST_FN(lib, IPVAL_DEGREE1);
  ASSERT_NE(ipval_fn, nullptr);
  ASSERT_NE(ipval1_fn, nullptr);

  const int ncoef = 3, npts = 2, ngrid = 20;
  const double xmin = 0.0, xmax = 4.0, tol = 0.0;
  const std::vector<double> c = from_roots({0.7, 3.1}, 1.0, 0.0, xmin, xmax);
  const std::vector<double> cov = covariance(3, 0.01, 5), y = {0.0, -1.0}, covy = {1e-4, 0, 0, 4e-4};
  int nroot[2], istat = -1;
  double xroot[4], uxroot[4];
  ipval_fn(&ncoef, c.data(), cov.data(), &npts, y.data(), covy.data(), &xmin, &xmax, &ngrid, &tol,
           nroot, xroot, uxroot, &istat);
  const Result r = ipval(c, cov, y, covy, xmin, xmax, ngrid, tol);
  EXPECT_EQ(istat, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(nroot[i], r.nroot[1 + i]);
    for (int j = 0; j < 2; ++j) {
      EXPECT_EQ(xroot[2 * i + j], r.x(j, i));
      EXPECT_EQ(uxroot[2 * i + j], r.u(j, i));
    }
  }
  EXPECT_NEAR(xroot[0], 0.7, 1e-14);
  EXPECT_NEAR(xroot[1], 3.1, 1e-14);
  const int bad = 1;
  ipval_fn(&bad, c.data(), cov.data(), &npts, y.data(), covy.data(), &xmin, &xmax, &ngrid, &tol,
           nroot, xroot, uxroot, &istat);
  EXPECT_EQ(istat, QVX_IPVAL_NCOEF_LT2);

  const double line[2] = {4.0, 1.0}, lcov[4] = {1e-4, 0, 0, 1e-4};
  double xp[2], up[2];
  ipval1_fn(line, lcov, &npts, y.data(), covy.data(), &xmin, &xmax, xp, up, &istat);
  EXPECT_EQ(istat, 0);
  EXPECT_EQ(xp[0], -2.0);  // p = 2 + t on [0, 4] is y = x/2 + 1
  EXPECT_EQ(xp[1], -4.0);
}

// AddressSanitizer reserves terabytes of address space: it cannot run in a
// process whose address space is limited.
#if defined(__SANITIZE_ADDRESS__)
#define QVX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVX_TEST_ASAN 1
#endif
#endif

// Storage that cannot be obtained is status 999 through the exported name,
// never 0: a grid of 2^31 - 1 cells asks for 16 GiB per grid array, in a
// child process whose address space is limited to 2 GiB.
TEST(HostLibrary, StorageFailureInsideAnEntryPointIsStatus999) {
#ifdef QVX_TEST_ASAN
  GTEST_SKIP() << "an address-space limit cannot hold under AddressSanitizer";
#else
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  auto* ipval_fn = QVX_HOST_FN(lib, IPVAL);
  ASSERT_NE(ipval_fn, nullptr);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    int istat = -2;  // the limit could not be set
    const rlim_t limit = rlim_t{2} << 30;
    const rlimit lim{limit, limit};
    if (setrlimit(RLIMIT_AS, &lim) == 0) {
      const int ncoef = 2, npts = 1, ngrid = INT_MAX;
      const double c[2] = {1.0, 0.5}, cov[4] = {0, 0, 0, 0}, y = 0.5, covy = 0.0;
      const double xmin = 0.0, xmax = 1.0, tol = 0.0;
      int nroot = -1;
      double xroot = -1.0, uxroot = -1.0;
      istat = -1;
      ipval_fn(&ncoef, c, cov, &npts, &y, &covy, &xmin, &xmax, &ngrid, &tol, &nroot, &xroot,
               &uxroot, &istat);
    }
    const bool sent = write(fds[1], &istat, sizeof istat) == (ssize_t)sizeof istat;
    _exit(sent ? 0 : 1);
  }
  close(fds[1]);
  int istat = -3;  // nothing reported
  const ssize_t got = read(fds[0], &istat, sizeof istat);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(got, (ssize_t)sizeof istat);
  EXPECT_EQ(istat, QVX_NO_STORAGE);
#endif
}

// COVY(i, i) lies (i - 1)(NPTS + 1) elements in: past 2^31 for NPTS > 46341.
// COVY is an anonymous mapping of NPTS^2 doubles of which only the pages of
// the diagonal become resident.
TEST(Ipval, DiagonalOfAHugeCovyIsAddressedIn64Bits) {
  const int npts = 46342;
  const std::size_t n = npts, bytes = n * n * sizeof(double);
  void* mem = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
  if (mem == MAP_FAILED) GTEST_SKIP() << "cannot map " << bytes << " bytes";
  double* covy = static_cast<double*>(mem);
  std::vector<double> y(n);
  for (std::size_t i = 0; i < n; ++i) {
    covy[i * (n + 1)] = 1e-6 * (double)(i + 1);
    y[i] = 0.25 + 0.5 * (double)i / (double)n;
  }
  // y = x on [0, 1] (slope 1), exact coefficients: u(x) = sqrt(COVY(i, i)).
  const double c[2] = {1.0, 0.5}, cov[4] = {0, 0, 0, 0};
  std::vector<int> nroot(n);
  std::vector<double> xr(n), ur(n), xp(n), up(n);
  int st = -1, st1 = -1;
  quorvex::IPVAL(2, c, cov, npts, y.data(), covy, 0.0, 1.0, 2, 0.0, nroot.data(), xr.data(), ur.data(), st);
  quorvex::IPVAL_DEGREE1(c, cov, npts, y.data(), covy, 0.0, 1.0, xp.data(), up.data(), st1);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(st1, 0);
  for (std::size_t i : {std::size_t{0}, n / 2, n - 2, n - 1}) {
    const double u = std::sqrt(1e-6 * (double)(i + 1));
    ASSERT_EQ(nroot[i], 1);
    EXPECT_NEAR(ur[i], u, 1e-15);
    EXPECT_NEAR(up[i], u, 1e-15);
  }
  munmap(mem, bytes);
}

}  // namespace
