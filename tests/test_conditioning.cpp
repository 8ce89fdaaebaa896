// Singular and well-posed designs of the ordinary fit, through the exported
// entry points as a host calls them: too few distinct abscissae is status 24
// (also as the generalized fit's OLSTAT), while every full-rank design whose
// condition number leaves its results some digits is fitted, the NIST
// reference sets included.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "curve/chebyshev.h"
#include "host_library.h"
#include "nist_sets.h"

extern "C" void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n,
                        double* a, const int* lda, double* s, double* u, const int* ldu,
                        double* vt, const int* ldvt, double* work, const int* lwork, int* info,
                        std::size_t, std::size_t);

namespace {

constexpr double kSentinel = -4321.0;

const quorvex_test::HostLibrary& library() {
  static const quorvex_test::HostLibrary lib;
  return lib;
}

struct Ols {
  std::vector<double> coef, cov, yfit, res, wres;
  double sres = kSentinel, wresmax = kSentinel;
  int istat = -55;
};

Ols ols(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& w,
        int ncoef, double xmin, double xmax) {
  const int npts = static_cast<int>(x.size());
  Ols r;
  r.coef.assign(ncoef, kSentinel);
  r.cov.assign(ncoef * ncoef, kSentinel);
  r.yfit.assign(npts, kSentinel);
  r.res.assign(npts, kSentinel);
  r.wres.assign(npts, kSentinel);
  auto* fn = QVX_HOST_FN(library(), OLSPFIT);
  EXPECT_NE(fn, nullptr);
  if (fn != nullptr)
    fn(&npts, x.data(), y.data(), w.data(), &ncoef, &xmin, &xmax, r.coef.data(), r.cov.data(),
       &r.sres, r.yfit.data(), r.res.data(), r.wres.data(), &r.wresmax, &r.istat);
  return r;
}

void expect_all_zero(const Ols& r) {
  for (const auto* v : {&r.coef, &r.cov, &r.yfit, &r.res, &r.wres})
    for (double e : *v) EXPECT_EQ(e, 0.0);
  EXPECT_EQ(r.sres, 0.0);
  EXPECT_EQ(r.wresmax, 0.0);
}

// The 2-norm condition number of the fit's weighted design.
double condition(const std::vector<double>& x, const std::vector<double>& w, int ncoef,
                 double xmin, double xmax) {
  const int m = static_cast<int>(x.size());
  std::vector<double> a(x.size() * ncoef);
  quorvex::CHEBBASIS(ncoef, xmin, xmax, m, x.data(), a.data(), m);
  const double wmax = *std::max_element(w.begin(), w.end());
  for (int j = 0; j < ncoef; ++j)
    for (int i = 0; i < m; ++i) a[j * m + i] *= w[i] / wmax;
  std::vector<double> s(ncoef), work(5 * (m + ncoef));
  const int one = 1, lwork = static_cast<int>(work.size());
  int info = 0;
  dgesvd_("N", "N", &m, &ncoef, a.data(), &m, s.data(), nullptr, &one, nullptr, &one,
          work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0);
  return s[0] / s[ncoef - 1];
}

TEST(SingularDesign, TheReportedCallsAreRefused) {
  // Two points at one abscissa cannot fix a straight line.
  const Ols line = ols({0.3, 0.3}, {1.0, 2.0}, {1.0, 1.0}, 2, 0.0, 10.0);
  EXPECT_EQ(line.istat, 24);
  expect_all_zero(line);
  // Nor two abscissae a quadratic.
  const Ols quad = ols({0.0, 3.0, 0.0}, {1.0, 2.0, 3.0}, {1.0, 1.0, 1.0}, 3, 0.0, 10.0);
  EXPECT_EQ(quad.istat, 24);
  expect_all_zero(quad);
  // Abscissae that differ but map to one scaled abscissa are one row.
  const double x0 = 0.3, x1 = std::nextafter(0.3, 1.0);
  ASSERT_EQ(quorvex::XSCALE(0.0, 1e10, x0), quorvex::XSCALE(0.0, 1e10, x1));
  EXPECT_EQ(ols({x0, x1, x0}, {1.0, 2.0, 3.0}, {1.0, 1.0, 1.0}, 2, 0.0, 1e10).istat, 24);
  // A point whose weight is nothing beside the largest one's is no row.
  EXPECT_EQ(ols({1.0, 2.0, 1.0}, {1.0, 2.0, 3.0}, {1e300, 5e-324, 1.0}, 2, 0.0, 10.0).istat,
            24);
}

// Random designs with fewer distinct abscissae than coefficients, every
// count from 2 to 10, with equal weights and with weights spanning 1e6.
TEST(SingularDesign, NoneOfTwoThousandRandomOnesIsAccepted) {
  std::mt19937_64 rng(30);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int accepted = 0, tried = 0;
  for (int k = 0; k < 2016; ++k) {
    const int ncoef = 2 + k % 9;
    const bool spread = (k / 9) % 2 == 1;
    const int distinct = 1 + static_cast<int>(u(rng) * (ncoef - 1));
    const int npts = ncoef + static_cast<int>(u(rng) * 30);
    const double xmin = k % 3 == 0 ? 0.0 : 200.0 * u(rng) - 100.0;
    const double xmax = xmin + (k % 3 == 0 ? 10.0 : std::pow(10.0, 4.0 * u(rng) - 1.0));
    std::vector<double> levels(distinct), x(npts), y(npts), w(npts, 1.0);
    for (double& v : levels) v = xmin + (xmax - xmin) * u(rng);
    for (int i = 0; i < npts; ++i) {
      x[i] = levels[i < distinct ? i : static_cast<int>(u(rng) * distinct)];
      y[i] = 10.0 * u(rng);
      if (spread) w[i] = std::pow(10.0, 6.0 * u(rng) - 3.0);
    }
    if (spread) w[0] = 1e3, w[npts - 1] = 1e-3;
    const Ols r = ols(x, y, w, ncoef, xmin, xmax);
    ++tried;
    if (r.istat != 24) {
      ++accepted;
      ADD_FAILURE() << "design " << k << ": NCOEF " << ncoef << ", " << distinct
                    << " distinct abscissae, status " << r.istat;
    }
  }
  EXPECT_EQ(tried, 2016);
  EXPECT_EQ(accepted, 0);
}

// Full-rank designs up to condition 1e12: spread, clustered, replicated
// levels; equal weights and weights spanning 1e6.  All are fitted, and the
// fitted values solve the normal equations.
TEST(WellPosedDesign, UpToConditionTenToTheTwelveIsFitted) {
  std::mt19937_64 rng(1212);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int fitted = 0, above1e9 = 0;
  for (int k = 0; k < 3000; ++k) {
    const int ncoef = 2 + k % 9;
    const int npts = ncoef + static_cast<int>(u(rng) * 40);
    const double xmin = 0.0, xmax = 10.0;
    std::vector<double> x(npts), y(npts), w(npts, 1.0);
    const double lo = u(rng), width = (1.0 - lo) * std::pow(10.0, -2.0 * u(rng));
    const int levels = ncoef + (k % 3);
    for (int i = 0; i < npts; ++i) {
      const double f = k % 2 ? u(rng) : static_cast<double>(i % levels) / (levels - 1);
      x[i] = xmin + (xmax - xmin) * (lo + width * f);
      y[i] = std::sin(x[i]) + 0.01 * u(rng);
      if (k % 4 >= 2) w[i] = std::pow(10.0, 6.0 * u(rng) - 3.0);
    }
    const double kappa = condition(x, w, ncoef, xmin, xmax);
    if (!(kappa <= 1e12)) continue;
    if (kappa > 1e9) ++above1e9;
    const Ols r = ols(x, y, w, ncoef, xmin, xmax);
    ASSERT_EQ(r.istat, 0) << "design " << k << ", condition " << kappa;
    ++fitted;
  }
  // The sample reaches the top of the range.
  EXPECT_GT(fitted, 1000);
  EXPECT_GT(above1e9, 50);
}

// The condition number decides, on both sides: clustered abscissae give
// designs of condition from 1e2 to past 1/eps.  Every design with
// kappa NPTS eps < 1 is fitted, every one with kappa NPTS eps >= NCOEF is
// refused (with a factor 4 of margin each way for the computed kappa).
TEST(NearlySingularDesign, RefusedExactlyWhenItsResultsKeepNoDigit) {
  std::mt19937_64 rng(2424);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  constexpr double eps = std::numeric_limits<double>::epsilon();
  int fitted = 0, refused = 0, between = 0;
  for (int k = 0; k < 4000; ++k) {
    const int ncoef = 2 + k % 9;
    const int npts = ncoef + static_cast<int>(u(rng) * 30);
    const double xmin = 0.0, xmax = 10.0;
    const double c = u(rng), width = std::pow(10.0, -12.0 * u(rng));
    std::vector<double> x(npts), y(npts), w(npts, 1.0);
    for (int i = 0; i < npts; ++i) {
      x[i] = xmin + (xmax - xmin) * std::clamp(c + width * (u(rng) - 0.5), 0.0, 1.0);
      y[i] = 1.0 + x[i] + 0.01 * u(rng);
      if (k % 2) w[i] = std::pow(10.0, 6.0 * u(rng) - 3.0);
    }
    std::vector<double> sorted = x;
    std::sort(sorted.begin(), sorted.end());
    if (std::unique(sorted.begin(), sorted.end()) - sorted.begin() < ncoef) continue;
    const double q = condition(x, w, ncoef, xmin, xmax) * npts * eps;
    const Ols r = ols(x, y, w, ncoef, xmin, xmax);
    if (q < 0.25) {
      EXPECT_EQ(r.istat, 0) << "design " << k << ", kappa NPTS eps " << q;
      ++fitted;
    } else if (q >= 4.0 * ncoef) {
      EXPECT_EQ(r.istat, 24) << "design " << k << ", kappa NPTS eps " << q;
      ++refused;
    } else {
      ++between;
    }
  }
  EXPECT_GT(fitted, 1000);
  EXPECT_GT(refused, 1000);
}

// The reference sets at every count their points allow: fitted, and at the
// certified degree the fitted values are those of the certified polynomial.
TEST(WellPosedDesign, NistReferenceSetsAreFitted) {
  for (const quorvex_test::NistSet& s : quorvex_test::nist_sets()) {
    const auto [lo, hi] = std::minmax_element(s.x.begin(), s.x.end());
    const std::vector<double> w(s.x.size(), 1.0);
    for (int ncoef = 1; ncoef <= 10; ++ncoef) {
      const Ols r = ols(s.x, s.y, w, ncoef, *lo, *hi);
      ASSERT_EQ(r.istat, 0) << s.name << " NCOEF " << ncoef;
      if (ncoef != s.degree + 1) continue;
      double ymax = 0.0;
      for (double v : s.y) ymax = std::max(ymax, std::fabs(v));
      for (std::size_t i = 0; i < s.x.size(); ++i) {
        long double p = 0.0L;
        for (int k = s.degree; k >= 0; --k) p = p * s.x[i] + s.certified[k];
        EXPECT_NEAR(r.yfit[i], static_cast<double>(p), 1e-9 * ymax) << s.name << " point " << i;
      }
    }
  }
}

// The generalized fit starts from the ordinary one: its singular design is
// OLSTAT 24, and nothing is minimized.
TEST(SingularDesign, GeneralizedFitReportsItAsOlstat) {
  const int npts = 2, ncoef = 2;
  const std::vector<double> x{0.3, 0.3}, y{1.0, 2.0}, wx(2, 10.0), wy(2, 1.0);
  const double xmin = 0.0, xmax = 10.0, sigma = 0.1;
  const std::array<double, 2> tol{1e-10, 1e-10};
  const int maxit = 20;
  std::vector<double> param(npts + ncoef, kSentinel), cov(4), yfit(2), res(4), wres(4), r11(2),
      r12(4), r22(3), rinfo(4);
  double sres = 0.0, wresmax = 0.0;
  int olstat = -55, istat[3] = {-55, -55, -55};
  auto* fn = QVX_HOST_FN(library(), GLSPFIT);
  ASSERT_NE(fn, nullptr);
  fn(&npts, x.data(), y.data(), wx.data(), wy.data(), &ncoef, &xmin, &xmax, tol.data(), &maxit,
     &sigma, param.data(), cov.data(), &sres, yfit.data(), res.data(), wres.data(), &wresmax,
     r11.data(), r12.data(), r22.data(), rinfo.data(), &olstat, istat);
  EXPECT_EQ(olstat, 24);
  EXPECT_EQ(istat[0], 0);
  EXPECT_EQ(istat[1], -55);  // the minimizer did not run
  for (double v : param) EXPECT_EQ(v, kSentinel);
}

}  // namespace
