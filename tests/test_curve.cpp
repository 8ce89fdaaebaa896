// Series identities, Clenshaw branches, derivatives and the two curve entry
// points, checked against independent evaluations in long double.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>
#include <limits>
#include <random>
#include <vector>

#include "curve/chebyshev.h"
#include "curve/curveval.h"
#include "curve/linear_conv.h"
#include "curve/polyeval.h"
#include "host_library.h"

namespace {

using quorvex::CHEBBASIS;
using quorvex::CHEBDER;
using quorvex::CHEBSUM;
using quorvex::XSCALE;

constexpr double kEps = std::numeric_limits<double>::epsilon();

// p(t) and dp/dt by the three-term recurrences of T and U in long double.
long double series_ld(const std::vector<double>& a, long double t) {
  long double tkm1 = 1.0L, tk = t, s = 0.5L * a[0];
  for (std::size_t k = 1; k < a.size(); ++k) {
    s += a[k] * tk;
    const long double next = 2.0L * t * tk - tkm1;
    tkm1 = tk;
    tk = next;
  }
  return s;
}

long double x_of_t(long double t, double xmin, double xmax) {
  return xmin + (t + 1.0L) * 0.5L * ((long double)xmax - xmin);
}

double abs_sum(const std::vector<double>& a) {
  double s = 0.0;
  for (double v : a) s += std::fabs(v);
  return s;
}

struct Interval {
  int ncoef;
  double xmin, xmax;
};

class SeriesIdentity : public ::testing::TestWithParam<Interval> {};

TEST_P(SeriesIdentity, ChebyshevOfCosineIsCosineOfMultiple) {  // T_k(cos th) = cos(k th)
  const auto [ncoef, xmin, xmax] = GetParam();
  for (int k = 1; k < ncoef; ++k) {
    std::vector<double> a(ncoef, 0.0);
    a[k] = 1.0;
    for (int j = 0; j <= 64; ++j) {
      const double x = (double)x_of_t(std::cos(M_PI * j / 64.0L), xmin, xmax);
      const double t = XSCALE(xmin, xmax, x);
      const long double expect = std::cos(k * std::acos((long double)t));
      EXPECT_NEAR(CHEBSUM(ncoef, t, a.data(), 1), (double)expect, 8 * k * kEps)
          << "k=" << k << " t=" << t;
    }
  }
}

TEST_P(SeriesIdentity, SumAgreesWithLongDoubleAcrossAllBranches) {
  const auto [ncoef, xmin, xmax] = GetParam();
  std::mt19937_64 rng(ncoef * 7919 + 13);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> a(ncoef);
  for (int rep = 0; rep < 20; ++rep) {
    for (double& v : a) v = u(rng);
    std::vector<double> ts = {-1.0, 1.0, 0.5, -0.5, 0.0};
    for (double e : {0.5, -0.5}) {
      double lo = e, hi = e;
      for (int s = 0; s < 4; ++s) {
        lo = std::nextafter(lo, -2.0);
        hi = std::nextafter(hi, 2.0);
        ts.push_back(lo);
        ts.push_back(hi);
      }
    }
    for (int j = 0; j < 50; ++j) ts.push_back(u(rng));
    for (double t : ts) {
      const double got = CHEBSUM(ncoef, t, a.data(), 1);
      EXPECT_NEAR(got, (double)series_ld(a, t), 4 * ncoef * kEps * abs_sum(a)) << "t=" << t;
    }
  }
}

TEST_P(SeriesIdentity, BasisRowsReproduceTheSeries) {
  const auto [ncoef, xmin, xmax] = GetParam();
  std::mt19937_64 rng(ncoef);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int npts = 17;
  std::vector<double> x(npts), basis(npts * ncoef), a(ncoef);
  for (int i = 0; i < npts; ++i) x[i] = xmin + u(rng) * (xmax - xmin);
  x[0] = xmin;
  x[1] = xmax;
  for (double& v : a) v = u(rng) - 0.5;
  CHEBBASIS(ncoef, xmin, xmax, npts, x.data(), basis.data(), npts);
  for (int i = 0; i < npts; ++i) {
    long double s = 0;
    for (int k = 0; k < ncoef; ++k) s += (long double)basis[i + k * npts] * a[k];
    EXPECT_NEAR((double)s, (double)series_ld(a, XSCALE(xmin, xmax, x[i])),
                4 * ncoef * kEps * abs_sum(a));
  }
  // Ends: 0.5, 1, 1, ... at xmax and 0.5, -1, 1, -1, ... at xmin, exactly.
  EXPECT_EQ(XSCALE(xmin, xmax, xmin), -1.0);
  EXPECT_EQ(XSCALE(xmin, xmax, xmax), 1.0);
  for (int k = 0; k < ncoef; ++k) {
    EXPECT_EQ(basis[1 + k * npts], k == 0 ? 0.5 : 1.0);
    EXPECT_EQ(basis[0 + k * npts], k == 0 ? 0.5 : (k % 2 ? -1.0 : 1.0));
  }
}

TEST_P(SeriesIdentity, DerivativeAgreesWithLongDoubleDifferences) {
  const auto [ncoef, xmin, xmax] = GetParam();
  if (ncoef < 2) GTEST_SKIP() << "a constant has no derivative series";
  std::mt19937_64 rng(ncoef * 31);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> a(ncoef), d(ncoef), wk(ncoef);
  for (double& v : a) v = u(rng);
  int ifail = -7;
  quorvex::CHEBDERK(ncoef, xmin, xmax, a.data(), 1, d.data(), wk.data(), ncoef, ifail);
  ASSERT_EQ(ifail, 0);
  EXPECT_EQ(d[ncoef - 1], 0.0);
  const long double width = (long double)xmax - xmin;
  for (int j = 1; j < 40; ++j) {
    const long double t = -1.0L + 2.0L * j / 40.0L;
    const long double h = 1e-6L;
    // Central difference of p in x, in long double.
    const long double fd =
        (series_ld(a, t + h) - series_ld(a, t - h)) / (2.0L * h) * (2.0L / width);
    const double got = ncoef > 1 ? CHEBSUM(ncoef - 1, (double)t, d.data(), 1) : 0.0;
    const double scale = abs_sum(a) * ncoef * ncoef * 2.0 / (double)width;
    EXPECT_NEAR(got, (double)fd, 1e-9 * scale) << "t=" << (double)t;
  }
}

INSTANTIATE_TEST_SUITE_P(DegreesAndIntervals, SeriesIdentity,
                         ::testing::Values(Interval{1, -1, 1}, Interval{2, 0, 2},
                                           Interval{3, -1, 1}, Interval{5, 10, 11},
                                           Interval{8, 0, 10}, Interval{12, -3, 250},
                                           Interval{20, 1e3, 1e3 + 1e-3},
                                           Interval{40, -1e6, 2e6}),
                         [](const auto& info) {
                           std::string name = "n";
                           name += std::to_string(info.param.ncoef);
                           name += "_";
                           name += std::to_string(info.index);
                           return name;
                         });

TEST(Chebyshev, SmallClosedForms) {
  // d/dx of c1/2 + c2 t + c3 (2t^2 - 1) on [-1, 1] is (2 c2)/2 + 4 c3 t.
  const double a[3] = {3.0, 5.0, 7.0};
  double d[3] = {-1, -1, -1};
  CHEBDER(3, -1.0, 1.0, a, 1, d, 1);
  EXPECT_EQ(d[0], 10.0);
  EXPECT_EQ(d[1], 28.0);
  EXPECT_EQ(d[2], 0.0);

  double d1[1] = {-1};
  CHEBDER(1, 0.0, 1.0, a, 1, d1, 1);
  EXPECT_EQ(d1[0], 0.0);

  // n = 2 gives a1/2 + a2 t in every branch; n = 1 gives a1/2.
  const double b[2] = {4.0, 3.0};
  for (double t : {-1.0, -0.75, -0.5, 0.0, 0.5, 0.75, 1.0}) EXPECT_EQ(CHEBSUM(2, t, b, 1), 2.0 + 3.0 * t);
  EXPECT_EQ(CHEBSUM(1, 0.3, b, 1), 2.0);

  // Strided coefficients.
  const double s[6] = {4.0, 99.0, 3.0, 99.0, 2.0, 99.0};
  const double c[3] = {4.0, 3.0, 2.0};
  EXPECT_EQ(CHEBSUM(3, 0.3, s, 2), CHEBSUM(3, 0.3, c, 1));

  // A single column of 0.5 for NCOEF = 1.
  const double x[3] = {0.0, 0.4, 1.0};
  double basis[3] = {7, 7, 7};
  CHEBBASIS(1, 0.0, 1.0, 3, x, basis, 3);
  for (double v : basis) EXPECT_EQ(v, 0.5);
}

TEST(Chebyshev, CheckedFormsRefuseBadArguments) {
  const double a[3] = {1, 2, 3};
  const double x[2] = {0.0, 2.5};
  double s[2] = {-5, -5}, d[3], wk[3];
  int ifail = 0;
  quorvex::CHEBVAL(0, 0.0, 1.0, a, 2, x, s, ifail);
  EXPECT_EQ(ifail, 1);
  quorvex::CHEBVAL(3, 1.0, 1.0, a, 2, x, s, ifail);
  EXPECT_EQ(ifail, 1);
  quorvex::CHEBVAL(3, 0.0, 2.0, a, 2, x, s, ifail);
  EXPECT_EQ(ifail, 2);
  EXPECT_EQ(s[0], -5.0);
  for (auto [n, k, la] : {std::tuple{3, 3, 3}, {3, -1, 3}, {3, 1, 2}, {0, 0, 3}}) {
    quorvex::CHEBDERK(n, 0.0, 1.0, a, k, d, wk, la, ifail);
    EXPECT_EQ(ifail, 1) << n << " " << k << " " << la;
  }
  quorvex::CHEBDERK(3, 1.0, 0.0, a, 1, d, wk, 3, ifail);
  EXPECT_EQ(ifail, 1);
}

TEST(Curveval, ValuesSlopesBasisAndRefusal) {
  // (2, 0, 1) on [0, 2]: p(1) = 0, p(2) = 2, p'(1) = 0, p'(2) = 4.
  const double coef[3] = {2.0, 0.0, 1.0};
  const double x[2] = {1.0, 2.0};
  double y[2], dy[2], basis[6];
  const quorvex::Curve curve{3, coef, 0.0, 2.0};
  quorvex::CurveWork work;
  int mode = 2;
  quorvex::CURVEVAL(mode, curve, 2, x, y, dy, basis, &work);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(y[0], 0.0);
  EXPECT_EQ(y[1], 2.0);
  EXPECT_EQ(dy[0], 0.0);
  EXPECT_EQ(dy[1], 4.0);
  EXPECT_EQ(basis[1 + 2 * 2], 1.0);

  // A point outside: mode -1, nothing written.
  const double out[2] = {1.0, 2.0 + 1e-15};
  double y2[2] = {9, 9};
  mode = 2;
  quorvex::CURVEVAL(mode, curve, 2, out, y2, dy, basis, &work);
  EXPECT_EQ(mode, -1);
  EXPECT_EQ(y2[0], 9.0);

  // A constant: value c1/2 and slope 0.
  double dyc[2] = {123, 456};
  mode = 3;
  quorvex::CURVEVAL(mode, quorvex::Curve{1, coef, 0.0, 2.0}, 2, x, y, dyc, basis, &work);
  EXPECT_EQ(y[0], 1.0);
  EXPECT_EQ(dyc[0], 0.0);
  EXPECT_EQ(dyc[1], 0.0);
}

struct EvalCase {
  const char* what;
  std::vector<double> x;
  double xmin, xmax;
  int istat;
};

class PolyevalStatus : public ::testing::TestWithParam<EvalCase> {};

TEST_P(PolyevalStatus, StatusInOrderWithYCleared) {
  const EvalCase& c = GetParam();
  const double coef[3] = {2.0, 0.0, 1.0};
  std::vector<double> y(c.x.size(), 77.0);
  int istat = -5;
  quorvex::POLYEVAL(3, coef, (int)c.x.size(), c.x.data(), c.xmin, c.xmax, y.data(), istat);
  EXPECT_EQ(istat, c.istat);
  if (istat != 0) {
    for (double v : y) EXPECT_EQ(v, 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PolyevalStatus,
    ::testing::Values(EvalCase{"ends", {0.0, 2.0}, 0.0, 2.0, 0},
                      EvalCase{"empty", {}, 0.0, 2.0, 0},
                      EvalCase{"equal ends, empty", {}, 1.0, 1.0, 1},
                      EvalCase{"reversed", {1.0}, 2.0, 0.0, 1},
                      EvalCase{"below before above", {-1.0, 3.0}, 0.0, 2.0, 2},
                      EvalCase{"above", {1.0, 2.5}, 0.0, 2.0, 3},
                      EvalCase{"nan interval", {1.0}, NAN, 2.0, 0}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(Polyeval, ValuesAndConstants) {
  const double coef[3] = {2.0, 0.0, 1.0};
  const double x[3] = {0.0, 1.0, 2.0};
  double y[3];
  int istat = -1;
  quorvex::POLYEVAL(3, coef, 3, x, 0.0, 2.0, y, istat);
  EXPECT_EQ(istat, 0);
  EXPECT_EQ(y[0], 2.0);
  EXPECT_EQ(y[1], 0.0);
  EXPECT_EQ(y[2], 2.0);
  quorvex::POLYEVAL(1, coef, 3, x, 0.0, 2.0, y, istat);
  for (double v : y) EXPECT_EQ(v, 1.0);
  quorvex::POLYEVAL(0, coef, 3, x, 0.0, 2.0, y, istat);
  EXPECT_EQ(istat, 0);
  for (double v : y) EXPECT_EQ(v, 0.0);
}

// The plain recurrence runs up to |t| = 0.5 inclusive.  At the points that
// map to t = 0.5 and t = -0.5 the curve is, bit for bit, the plain recurrence
// replayed here; for some coefficient sets the recurrences near the ends
// give other last bits, so the branch taken is visible.
TEST(Polyeval, HalfwayPointsTakeThePlainRecurrence) {
  auto plain = [](const std::vector<double>& a, double t) {
    const double u = t + t;
    double b1 = 0.0, b2 = 0.0;
    for (std::size_t k = a.size() - 1; k >= 1; --k) {
      const double b0 = u * b1 + (a[k] - b2);
      b2 = b1;
      b1 = b0;
    }
    return (0.5 * a[0] - b2) + (0.5 * u) * b1;
  };
  auto near_end = [](const std::vector<double>& a, double t) {  // Reinsch's forms
    double d1 = 0.0, d2 = 0.0;
    if (t > 0) {
      const double u = 2.0 - (t + t);
      for (std::size_t k = a.size() - 1; k >= 1; --k) {
        d1 = (d1 + a[k]) - u * d2;
        d2 = d1 + d2;
      }
      return (0.5 * a[0] + d1) - (0.5 * u) * d2;
    }
    const double u = (t + t) + 2.0;
    for (std::size_t k = a.size() - 1; k >= 1; --k) {
      d1 = u * d2 + (a[k] - d1);
      d2 = d1 - d2;
    }
    return (0.5 * a[0] - d1) + (0.5 * u) * d2;
  };
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double x[2] = {3.0, 1.0}, ts[2] = {0.5, -0.5};  // on [0, 4]
  int differ[2] = {0, 0};
  for (int rep = 0; rep < 40; ++rep) {
    std::vector<double> a(8);
    for (double& v : a) v = u(rng);
    double y[2];
    int istat = -1;
    quorvex::POLYEVAL(8, a.data(), 2, x, 0.0, 4.0, y, istat);
    ASSERT_EQ(istat, 0);
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(XSCALE(0.0, 4.0, x[k]), ts[k]);
      EXPECT_EQ(y[k], plain(a, ts[k])) << "t=" << ts[k] << " set " << rep;
      differ[k] += plain(a, ts[k]) != near_end(a, ts[k]);
    }
  }
  EXPECT_GT(differ[0], 0);
  EXPECT_GT(differ[1], 0);
}

TEST(LinearConv, KnownMapsAndRefusal) {
  const double coef[2] = {3.0, 5.0};
  const double eye[4] = {1, 0, 0, 1};
  double lcoef[2], lcov[4];
  int istat = -1;
  quorvex::LINEAR_CONV(coef, eye, -1.0, 1.0, lcoef, lcov, istat);
  EXPECT_EQ(istat, 0);
  EXPECT_EQ(lcoef[0], 5.0);
  EXPECT_EQ(lcoef[1], 1.5);
  EXPECT_EQ(lcov[0], 1.0);
  EXPECT_EQ(lcov[1], 0.0);
  EXPECT_EQ(lcov[2], 0.0);
  EXPECT_EQ(lcov[3], 0.25);

  // A covariance that is not symmetric, COV = [[1, 2], [0, 3]], on [1, 3]:
  // T = [[0, 1], [1/2, -2]] and LCOV = T COV T', element by element.
  const double skew[4] = {1, 0, 2, 3};
  const double t[2][2] = {{0.0, 1.0}, {0.5, -2.0}};
  quorvex::LINEAR_CONV(coef, skew, 1.0, 3.0, lcoef, lcov, istat);
  EXPECT_EQ(istat, 0);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      double e = 0.0;  // exact: every product and sum is a small binary fraction
      for (int k = 0; k < 2; ++k)
        for (int l = 0; l < 2; ++l) e += t[i][k] * skew[k + 2 * l] * t[j][l];
      EXPECT_EQ(lcov[i + 2 * j], e) << i << "," << j;
    }
  EXPECT_NE(lcov[1], lcov[2]);

  const double line[2] = {2.0, 1.0};  // y = x on [0, 2]
  quorvex::LINEAR_CONV(line, eye, 0.0, 2.0, lcoef, lcov, istat);
  EXPECT_EQ(lcoef[0], 1.0);
  EXPECT_EQ(lcoef[1], 0.0);

  for (double xmax : {1.0, 0.5}) {
    double keep[2] = {42, 43}, keepcov[4] = {1, 2, 3, 4};
    quorvex::LINEAR_CONV(line, eye, 1.0, xmax, keep, keepcov, istat);
    EXPECT_EQ(istat, 1);
    EXPECT_EQ(keep[0], 42.0);
    EXPECT_EQ(keepcov[3], 4.0);
  }
}

TEST(LinearConv, RoundTripThroughTheExportedNames) {
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  auto* polyeval = QVX_HOST_FN(lib, POLYEVAL);
  auto* linear_conv = QVX_HOST_FN(lib, LINEAR_CONV);
  ASSERT_NE(polyeval, nullptr);
  ASSERT_NE(linear_conv, nullptr);

  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int rep = 0; rep < 50; ++rep) {
    const double xmin = u(rng), xmax = xmin + std::fabs(u(rng)) + 0.1;
    const double coef[2] = {u(rng), u(rng)};
    // Covariance of the line from a random 2x2 factor: A A'.
    const double f[4] = {u(rng), u(rng), 0.0, u(rng)};
    const double cov[4] = {f[0] * f[0], f[0] * f[1], f[0] * f[1], f[1] * f[1] + f[3] * f[3]};
    double lcoef[2], lcov[4];
    int istat = -1;
    linear_conv(coef, cov, &xmin, &xmax, lcoef, lcov, &istat);
    ASSERT_EQ(istat, 0);
    EXPECT_NEAR(lcov[1], lcov[2], 1e-14 * (std::fabs(lcov[0]) + std::fabs(lcov[3])));

    const int n = 9, two = 2;
    double x[n], y[n];
    for (int i = 0; i < n; ++i) x[i] = i == n - 1 ? xmax : xmin + (xmax - xmin) * i / (n - 1);
    polyeval(&two, coef, &n, x, &xmin, &xmax, y, &istat);
    ASSERT_EQ(istat, 0);
    for (int i = 0; i < n; ++i) {
      const double scale = std::fabs(coef[0]) + std::fabs(coef[1]) * (1 + std::fabs(xmax + xmin) / (xmax - xmin));
      EXPECT_NEAR(lcoef[0] * x[i] + lcoef[1], y[i], 16 * kEps * scale);
    }

    // The variance of p(x) agrees in both forms: phi' COV phi = (x, 1) LCOV (x, 1)'.
    const double xm = 0.5 * (xmin + xmax);
    const double t = XSCALE(xmin, xmax, xm);
    const double vs = 0.25 * cov[0] + t * cov[1] + t * t * cov[3];
    const double vl = xm * xm * lcov[0] + 2 * xm * lcov[1] + lcov[3];
    EXPECT_NEAR(vl, vs, 1e-9 * (std::fabs(vs) + 1));
  }
}

TEST(HostLibrary, AllSixEntryPointsResolve) {
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  EXPECT_NE(QVX_HOST_FN(lib, GLSPFIT), nullptr);
  EXPECT_NE(QVX_HOST_FN(lib, IPVAL), nullptr);
  EXPECT_NE(QVX_HOST_FN(lib, IPVAL_DEGREE1), nullptr);
  EXPECT_NE(QVX_HOST_FN(lib, LINEAR_CONV), nullptr);
  EXPECT_NE(QVX_HOST_FN(lib, OLSPFIT), nullptr);
  EXPECT_NE(QVX_HOST_FN(lib, POLYEVAL), nullptr);
  // Internal routines stay hidden.
  EXPECT_EQ(dlsym(dlopen(QUORVEX_SHARED_LIBRARY, RTLD_NOW | RTLD_NOLOAD), "_ZN7quorvex8CURVEVALERiRKNS_5CurveEiPKdPdS6_S6_PNS_9CurveWorkE"), nullptr);
}

// CURVEVAL in modes 1 to 3 gives, bit for bit, what its pieces give: CHEBVAL
// for the values, CHEBDERK then CHEBVAL for the slopes, CHEBBASIS for the
// basis rows; mode 1 leaves slopes and basis alone.
TEST(Curveval, AgreesBitForBitWithItsPieces) {
  std::mt19937 g(17);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double xmin = -3.0, xmax = 5.0;
  for (int ncoef = 1; ncoef <= 10; ++ncoef) {
    for (int npts : {1, 3, 4, 7, 33}) {
      std::vector<double> a(ncoef), x(npts);
      for (double& c : a) c = 4.0 * u(g);
      for (double& xi : x) xi = 1.0 + 4.0 * u(g);
      x[0] = xmin;
      x[npts - 1] = npts > 1 ? xmax : x[0];
      std::vector<double> y0(npts), dy0(npts, 0.0), b0(npts * ncoef), d(ncoef), wk(ncoef);
      int ifail = 0;
      quorvex::CHEBVAL(ncoef, xmin, xmax, a.data(), npts, x.data(), y0.data(), ifail);
      if (ncoef > 1) {
        quorvex::CHEBDERK(ncoef, xmin, xmax, a.data(), 1, d.data(), wk.data(), ncoef, ifail);
        quorvex::CHEBVAL(ncoef - 1, xmin, xmax, d.data(), npts, x.data(), dy0.data(), ifail);
      }
      CHEBBASIS(ncoef, xmin, xmax, npts, x.data(), b0.data(), npts);
      for (int mode : {1, 2, 3}) {
        std::vector<double> y(npts, 7.0), dy(npts, 7.0), b(npts * ncoef, 7.0);
        int md = mode;
        quorvex::CurveWork work;
        quorvex::CURVEVAL(md, quorvex::Curve{ncoef, a.data(), xmin, xmax}, npts, x.data(),
                          y.data(), dy.data(), b.data(), &work);
        EXPECT_EQ(md, mode);
        EXPECT_EQ(y, y0) << ncoef << " " << npts;
        EXPECT_EQ(dy, mode == 1 ? std::vector<double>(npts, 7.0) : dy0) << ncoef << " " << npts;
        EXPECT_EQ(b, mode == 1 ? std::vector<double>(npts * ncoef, 7.0) : b0);
      }
    }
  }
}

// One x outside the interval, wherever it sits, refuses the evaluation; the
// ends themselves and NaNs do not.
TEST(Curveval, RefusesAPointOutsideAtAnyPosition) {
  const double coef[2] = {2.0, 1.0};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int npts = 1; npts <= 9; ++npts) {
    for (int at = 0; at < npts; ++at) {
      for (double bad : {-1e-300, 1.0 + 1e-15, nan, 0.0, 1.0}) {
        std::vector<double> x(npts, 0.5), y(npts, 9.0);
        x[at] = bad;
        int mode = 1;
        quorvex::CURVEVAL(mode, quorvex::Curve{2, coef, 0.0, 1.0}, npts, x.data(), y.data(),
                          nullptr, nullptr, nullptr);
        const bool refused = bad < 0.0 || bad > 1.0;
        EXPECT_EQ(mode, refused ? -1 : 1) << npts << " " << at << " " << bad;
        EXPECT_EQ(y[0] == 9.0, refused) << npts << " " << at << " " << bad;
      }
    }
  }
}

}  // namespace
