// Machine constants, the curve residual and the bracketing zero finder:
// constant bit patterns, residual statuses, evaluation budgets, the
// convergence guarantee, agreement with a step-by-step replay of Brent's
// method, and termination on residuals that are not finite.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "inverse/zeroin.h"
#include "numeric/d1mach.h"

namespace {

using quorvex::D1MACH;
using quorvex::POLY_RESIDUAL;
using quorvex::zeroin;

constexpr double kEps = std::numeric_limits<double>::epsilon();

double residual(double x, const std::vector<double>& c, double yt, double xmin, double xmax) {
  double f = std::nan("");
  int st = 0;
  POLY_RESIDUAL(1, &x, (int)c.size(), c.data(), yt, xmin, xmax, &f, st);
  return f;
}

TEST(D1mach, TableBitPatterns) {
  const std::uint64_t bits[5] = {0x0010000000000000, 0x7FEFFFFFFFFFFFFF, 0x3CA0000000000000,
                                 0x3CB0000000000000, 0x3FD34413509F79FF};
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(std::bit_cast<std::uint64_t>(D1MACH(i)), bits[i - 1]);
  EXPECT_EQ(D1MACH(4), 2 * D1MACH(3));
  EXPECT_EQ(1.0 + D1MACH(4), std::nextafter(1.0, 2.0));
  EXPECT_GT(D1MACH(1), std::numeric_limits<double>::denorm_min());
}

TEST(D1mach, OutOfRangePrintsAndReturnsNaN) {
  for (int i : {0, 6, -7}) {
    testing::internal::CaptureStdout();
    const double v = D1MACH(i);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::isnan(v));
    EXPECT_NE(out.find("D1MACH(I): I ="), std::string::npos) << out;
    EXPECT_NE(out.find(std::to_string(i) + " is out of bounds.\n"), std::string::npos) << out;
  }
}

struct ResidualCase {
  double xmin, xmax;
  std::vector<double> x;
  int istat;
};

class ResidualStatus : public ::testing::TestWithParam<ResidualCase> {};

TEST_P(ResidualStatus, LaterTestOverwritesEarlierAndFxOnlyOnSuccess) {
  const auto& [xmin, xmax, x, expect] = GetParam();
  const std::vector<double> c = {2.0, 0.0, 1.0};  // 1 + T2(t)
  std::vector<double> fx(x.size() + 1, 7.0);
  int st = -1;
  POLY_RESIDUAL((int)x.size(), x.data(), 3, c.data(), 0.5, xmin, xmax, fx.data(), st);
  EXPECT_EQ(st, expect);
  EXPECT_EQ(fx.back(), 7.0);
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (expect != 0) {
      EXPECT_EQ(fx[k], 7.0);
    } else {
      const long double t = ((x[k] - (long double)xmin) - (xmax - (long double)x[k])) / (xmax - xmin);
      EXPECT_NEAR(fx[k], (double)(2 * t * t - 0.5L), 4 * kEps);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Order, ResidualStatus,
    ::testing::Values(ResidualCase{0, 2, {0, 0.5, 2}, 0}, ResidualCase{0, 2, {}, 0},
                      ResidualCase{2, 2, {}, 1}, ResidualCase{2, 2, {2}, 1},
                      ResidualCase{0, 2, {-1, 1}, 2}, ResidualCase{0, 2, {3, 1}, 3},
                      ResidualCase{3, 2, {1}, 2},             // 1 then 2
                      ResidualCase{0, 2, {-1, 3}, 3},         // 2 then 3
                      ResidualCase{3, 2, {2.5}, 3}));         // 1, 2, then 3

TEST(Zeroin, SecantLandsOnTheZeroInThreeEvaluations) {
  const std::vector<double> c = {0.0, 1.0};  // p(x) = x on [-1, 1]
  int nfev = -1;
  EXPECT_EQ(zeroin(0.0, 1.0, 2, c.data(), 0.25, -1.0, 1.0, 0.0, &nfev), 0.25);
  EXPECT_EQ(nfev, 3);
}

struct EndCase {
  double ax, bx, yt, tol, expect;
};

class ZeroinAtOnce : public ::testing::TestWithParam<EndCase> {};

// Zeros at an end, and brackets no wider than 2 tol1, return an end after
// the two initial evaluations.
TEST_P(ZeroinAtOnce, ReturnsAnEndWithoutIterating) {
  const auto [ax, bx, yt, tol, expect] = GetParam();
  const std::vector<double> c = {0.0, 1.0};
  int nfev = -1;
  EXPECT_EQ(zeroin(ax, bx, 2, c.data(), yt, -1.0, 1.0, tol, &nfev), expect);
  EXPECT_EQ(nfev, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ZeroinAtOnce,
    ::testing::Values(EndCase{0.5, 0.75, 0.5, 0.0, 0.5},      // zero at ax
                      EndCase{0.25, 0.5, 0.5, 0.0, 0.5},      // zero at bx
                      EndCase{0.5, 0.5, 0.5, 0.0, 0.5},       // both: bx
                      EndCase{0.3, 0.3005, 0.3002, 1e-3, 0.3},  // narrow: smaller |f|
                      EndCase{0.3, 0.3005, 0.3004, 1e-3, 0.3005},
                      EndCase{0.25, 0.75, 0.5, 1.0, 0.75}));  // tie: bx

// Brent's zeroin step by step as published in Fortran (labels 20 to 90), on
// the same residual: the zero it returns, its evaluations and how many of its
// steps were bisections.
struct Replay {
  double z;
  int nfev, bisections;
};

Replay brent(double ax, double bx, const std::vector<double>& cf, double yt, double xmin,
             double xmax, double tol) {
  int nfev = 0, bisections = 0;
  auto f = [&](double x) {
    ++nfev;
    return residual(x, cf, yt, xmin, xmax);
  };
  double a = ax, b = bx, fa = f(a), fb = f(b), c = 0, fc = 0, d = 0, e = 0;
  bool label20 = true;
  while (nfev < quorvex::kZeroinMaxEvaluations) {
    if (label20) {
      c = a;
      fc = fa;
      d = b - a;
      e = d;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double tol1 = 2.0 * kEps * std::fabs(b) + 0.5 * tol;
    const double xm = 0.5 * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0.0) return {b, nfev, bisections};
    bool bisect = true;
    if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      const double s = fb / fa;
      double p, q;
      if (a == c) {
        p = 2.0 * xm * s;
        q = 1.0 - s;
      } else {
        q = fa / fc;
        const double r = fb / fc;
        p = s * (2.0 * xm * q * (q - r) - (b - a) * (r - 1.0));
        q = (q - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (p > 0.0) q = -q;
      p = std::fabs(p);
      if (2.0 * p < 3.0 * xm * q - std::fabs(tol1 * q) && p < std::fabs(0.5 * e * q)) {
        e = d;
        d = p / q;
        bisect = false;
      }
    }
    if (bisect) {
      d = xm;
      e = d;
      ++bisections;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tol1 ? d : (xm > 0.0 ? tol1 : -tol1);
    fb = f(b);
    label20 = fb * (fc / std::fabs(fc)) > 0.0;
  }
  return {std::nan(""), nfev, bisections};
}

struct Curve {
  std::vector<double> coef;
  double xmin, xmax, yt, ax, bx;
  int budget;  // residual evaluations with TOL = 0; a larger TOL needs no more
};

class ZeroinConverges : public ::testing::TestWithParam<Curve> {};

// With tolerance TOL the result lies within 2 tol1 of a sign change of the
// computed residual, and every evaluation stays inside [ax, bx] (the curve's
// interval is the bracket itself, so a point outside would be refused).  The
// result and the evaluation count are those of the published method.
TEST_P(ZeroinConverges, WithinTwoTol1OfASignChangeAndOnBudget) {
  const auto& [c, xmin, xmax, yt, ax, bx, budget] = GetParam();
  for (double tol : {0.0, 1e-9 * (xmax - xmin), 1e-3 * (xmax - xmin), 1e-2 * (xmax - xmin)}) {
    int nfev = -1;
    const double z = zeroin(ax, bx, (int)c.size(), c.data(), yt, xmin, xmax, tol, &nfev);
    ASSERT_TRUE(z >= ax && z <= bx) << z;
    const double tol1 = 2 * kEps * std::fabs(z) + 0.5 * tol;
    const double lo = std::max(ax, z - 2 * tol1), hi = std::min(bx, z + 2 * tol1);
    EXPECT_LE(residual(lo, c, yt, xmin, xmax) * residual(hi, c, yt, xmin, xmax), 0.0)
        << "tol " << tol << " z " << z;
    EXPECT_LE(nfev, budget) << "tol " << tol;
    // Step by step the published method: the same zero after as many evaluations.
    const Replay rp = brent(ax, bx, c, yt, xmin, xmax, tol);
    EXPECT_EQ(z, rp.z) << "tol " << tol;
    EXPECT_EQ(nfev, rp.nfev) << "tol " << tol;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Curves, ZeroinConverges,
    ::testing::Values(Curve{{0.0, 1.0}, 0, 1, 0.1, 0, 1, 4},
                      Curve{{1.0, 0.0, 0.5}, -1, 1, 0.3, 0, 1, 11},      // t^2
                      Curve{{0.0, 0.0, 0.0, 1.0}, -2, 6, 0.0, -2, 0.5, 10},  // T3
                      Curve{{0.3, -1.2, 0.7, 0.2, -0.05, 0.01}, 10, 20, 0.1, 10, 20, 11},
                      Curve{{0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}, -1, 1, 0.5, 0.45, 0.55, 7},
                      // Root 1e-15 beside a double root at 0: bisection down to 1e-31.
                      Curve{{1.0, 0.0, 0.5}, -1, 1, 1e-30, 0, 1, 148},
                      Curve{{0.0, 1.0, 0.0, 1.0}, -1e-200, 3e-200, 0.2, -1e-200, 3e-200, 13},
                      // Cubics.
                      Curve{{0.2, 1.0, -0.4, 0.3}, 0, 1, 0.05, 0, 1, 12},
                      Curve{{-1.0, 0.5, 2.0, 1.5}, -2, 3, 0.7, -2, 3, 12},
                      Curve{{0.24, -1.8, 1.03, -1.48}, 0, 1, 0.97, 0, 1, 12},
                      Curve{{-1.39, -1.09, -0.24, -0.96}, 0, 1, 0.03, 0, 1, 14},
                      // t^3 just above its flat zero: bisection-heavy.
                      Curve{{0.0, 0.75, 0.0, 0.25}, 0, 1, 1e-9, 0.25, 1, 47}));

struct Hostile {
  std::vector<double> coef;
  double yt, tol;
};

class ZeroinTerminates : public ::testing::TestWithParam<Hostile> {};

TEST_P(ZeroinTerminates, ReturnsNaNWithinTheLimit) {
  const auto& [c, yt, tol] = GetParam();
  int nfev = -1;
  const double z = zeroin(0.0, 1.0, (int)c.size(), c.data(), yt, -1.0, 1.0, tol, &nfev);
  EXPECT_TRUE(std::isnan(z)) << z;
  EXPECT_LE(nfev, quorvex::kZeroinMaxEvaluations);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Inputs, ZeroinTerminates,
    ::testing::Values(Hostile{{0.0, 1.0}, 2.0, 0.0},             // no sign change
                      Hostile{{kNaN, 1.0}, 0.5, 0.0},            // NaN residuals
                      Hostile{{0.0, 1.0}, kNaN, 0.0},
                      Hostile{{kInf, -kInf, 1.0}, 0.3, 0.0},     // inf - inf inside
                      Hostile{{0.0, 1.0}, 0.5, kNaN},            // tolerance not a number
                      Hostile{{1.0, 0.0, 0.5}, 0.3, -1.0}));     // negative tolerance: never met

// The first residual that is not a number ends the search: a NaN tolerance
// makes the first step land on NaN, the third evaluation.
TEST(Zeroin, StopsAtTheFirstNaNResidual) {
  const std::vector<double> c = {0.0, 1.0};
  int nfev = -1;
  const double z = zeroin(0.0, 1.0, 2, c.data(), 0.5, -1.0, 1.0, kNaN, &nfev);
  EXPECT_TRUE(std::isnan(z)) << z;
  EXPECT_EQ(nfev, 3);
}

TEST(Zeroin, BracketOutsideTheCurveIntervalIsInvalid) {
  const std::vector<double> c = {0.0, 1.0};
  EXPECT_TRUE(std::isnan(zeroin(-2.0, 0.5, 2, c.data(), 0.0, -1.0, 1.0, 0.0)));
}

}  // namespace
