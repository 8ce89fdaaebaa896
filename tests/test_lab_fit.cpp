// Fit rules and curve statistics of the laboratory layer, called through the
// built libQUORVEXlab1 as a host calls them: the fit equals the engine's
// OLSPFIT/GLSPFIT to the bit, an exclusion equals the fit without the row,
// the power form evaluates to the curve, bands use the t or normal quantile,
// the scaled covariance and its refusal, the joint covariance against an
// independent reading, and the statuses of bad input with nothing written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "curve/polyeval.h"
#include "gls/glspfit.h"
#include "numeric/trpack.h"
#include "ols/olspfit.h"
#include "lab_library.h"
#include "quorvex_lab.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kGuard = -12345.0;
using V = std::vector<double>;

bool same_bits(const double* a, const double* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(double)) == 0;
}

// QVXL_FIT's outputs, each array with a guard element after it.
struct Fit {
  int n = 0, nc = 0, istat = -1, dof = -1, covkind = -1, maxit = 0;
  V coef, cov, covsc, fitted, res, wres, xadj, resx, wresx, wy, wx, rinfo;
  double sres = kGuard, chi2 = kGuard, sigma = 0.0;
  double interval[2] = {0.0, 0.0}, tol[2] = {0.0, 0.0};
  int info[5] = {0, 0, 0, 0, 0};
  bool guards_intact() const {
    for (const V* v : {&coef, &cov, &covsc, &fitted, &res, &wres, &xadj, &resx, &wresx, &wy,
                       &wx, &rinfo})
      if (v->back() != kGuard) return false;
    return true;
  }
  bool untouched() const {
    for (const V* v : {&coef, &cov, &covsc, &fitted, &wy})
      for (double e : *v)
        if (e != kGuard) return false;
    return sres == kGuard;
  }
};

struct FitArgs {
  V x, y, uy, ux;
  int given = 0, weighting = 0, nc = 2, defaults = 0;
  std::vector<int> keep;
  double interval[2] = {0.0, 0.0};
  double tol[2] = {0.0, 0.0};
  int maxit = 0;
  double sigma = 0.0;
  int covkind = -1;
};

Fit run_fit(const FitArgs& a) {
  Fit f;
  f.n = (int)a.x.size();
  f.nc = a.nc;
  const std::size_t n = a.x.size(), nc = (std::size_t)std::max(a.nc, 1);
  for (V* v : {&f.coef}) v->assign(nc + 1, kGuard);
  for (V* v : {&f.cov, &f.covsc}) v->assign(nc * nc + 1, kGuard);
  for (V* v : {&f.fitted, &f.res, &f.wres, &f.xadj, &f.resx, &f.wresx, &f.wy, &f.wx})
    v->assign(n + 1, kGuard);
  f.rinfo.assign(5, kGuard);
  std::vector<int> keep = a.keep.empty() ? std::vector<int>(n, 1) : a.keep;
  V uy = a.uy.empty() ? V{1.0} : a.uy, ux = a.ux.empty() ? V{1.0} : a.ux;
  f.interval[0] = a.interval[0];
  f.interval[1] = a.interval[1];
  f.tol[0] = a.tol[0];
  f.tol[1] = a.tol[1];
  f.maxit = a.maxit;
  f.sigma = a.sigma;
  f.covkind = a.covkind;
  LAB(QVXL_FIT)(&f.n, a.x.data(), a.y.data(), uy.data(), ux.data(), &a.given, &a.weighting,
                keep.data(), &a.nc, &a.defaults, f.interval, f.tol, &f.maxit, &f.sigma,
                &f.covkind, f.coef.data(), f.cov.data(), f.covsc.data(), &f.sres, &f.dof,
                &f.chi2, f.fitted.data(), f.res.data(), f.wres.data(), f.xadj.data(),
                f.resx.data(), f.wresx.data(), f.wy.data(), f.wx.data(), f.rinfo.data(), f.info,
                &f.istat);
  EXPECT_TRUE(f.guards_intact());
  return f;
}

// A curved response with a little deterministic scatter.
FitArgs standards(int n, int nc, double lo = 1.0, double hi = 10.0) {
  FitArgs a;
  a.nc = nc;
  for (int i = 0; i < n; ++i) {
    const double x = lo + (hi - lo) * i / (n - 1);
    a.x.push_back(x);
    a.y.push_back(0.3 + 1.7 * x - 0.02 * x * x + 0.05 * std::sin(7.0 * i));
  }
  return a;
}

// ---------------------------------------------------------------------------
// The fit is the engine's, to the bit.

struct OlsCase {
  const char* name;
  int nc, weighting;
  bool stated;
};

TEST(LabFit, OrdinaryFitIsOlspfitToTheBit) {
  for (const OlsCase& c : {OlsCase{"constant", 1, 0, false}, OlsCase{"line", 2, 0, false},
                           OlsCase{"quadratic stated", 3, 0, true},
                           OlsCase{"1/x", 2, 1, false}, OlsCase{"1/x2", 4, 2, false}}) {
    SCOPED_TRACE(c.name);
    FitArgs a = standards(9, c.nc);
    a.weighting = c.weighting;
    V w(a.x.size(), 1.0);
    if (c.stated) {
      for (std::size_t i = 0; i < a.x.size(); ++i) a.uy.push_back(0.01 * (1.0 + i % 3));
      a.given = QVXL_GIVEN_UY;
      for (std::size_t i = 0; i < w.size(); ++i) w[i] = 1.0 / a.uy[i];
    }
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (c.weighting == 1) w[i] = 1.0 / std::sqrt(a.x[i]);
      if (c.weighting == 2) w[i] = 1.0 / a.x[i];
    }
    const Fit f = run_fit(a);
    ASSERT_EQ(f.istat, 0);
    const std::size_t n = a.x.size(), nc = (std::size_t)c.nc;
    V coef(nc), cov(nc * nc), yfit(n), res(n), wres(n);
    double sres = 0.0, wresmax = 0.0;
    int st = -1;
    quorvex::OLSPFIT((int)n, a.x.data(), a.y.data(), w.data(), c.nc, 1.0, 10.0, coef.data(),
                     cov.data(), sres, yfit.data(), res.data(), wres.data(), wresmax, st);
    ASSERT_EQ(st, 0);
    EXPECT_TRUE(same_bits(f.coef.data(), coef.data(), nc));
    EXPECT_TRUE(same_bits(f.cov.data(), cov.data(), nc * nc));
    EXPECT_TRUE(same_bits(f.fitted.data(), yfit.data(), n));
    EXPECT_TRUE(same_bits(f.wres.data(), wres.data(), n));
    EXPECT_TRUE(same_bits(f.wy.data(), w.data(), n));
    EXPECT_EQ(f.sres, sres);
    EXPECT_EQ(f.dof, (int)(n - nc));
    EXPECT_EQ(f.covkind, c.stated ? 0 : 1);
    FitArgs other = a;
    other.covkind = c.stated ? 1 : 0;  // asked for, the other one
    EXPECT_EQ(run_fit(other).covkind, other.covkind);
    EXPECT_EQ(f.interval[0], 1.0);
    EXPECT_EQ(f.interval[1], 10.0);
    const double chi2 = std::inner_product(wres.begin(), wres.end(), wres.begin(), 0.0);
    EXPECT_NEAR(f.chi2, chi2, 1e-14 * chi2);
    for (std::size_t k = 0; k < nc * nc; ++k) EXPECT_EQ(f.covsc[k], cov[k] * (sres * sres));
    EXPECT_TRUE(std::isnan(f.resx[0]) && std::isnan(f.wx[0]) && std::isnan(f.rinfo[0]));
  }
}

TEST(LabFit, ErrorsInVariablesFitIsGlspfitToTheBit) {
  FitArgs a = standards(8, 3);
  for (std::size_t i = 0; i < a.x.size(); ++i) {
    a.uy.push_back(0.02);
    a.ux.push_back(0.01 * (1 + i % 2));
  }
  a.given = QVXL_GIVEN_UY | QVXL_GIVEN_UX;
  const Fit f = run_fit(a);
  ASSERT_EQ(f.istat, 0);
  // The default interval: padded by max(10 max u(x), 5 % of the range) = 0.45.
  EXPECT_EQ(f.interval[0], 1.0 - 0.45);
  EXPECT_EQ(f.interval[1], 10.0 + 0.45);
  EXPECT_EQ(f.maxit, 100);
  EXPECT_EQ(f.sigma, 0.1);
  EXPECT_GT(f.tol[0], 0.0);
  EXPECT_GT(f.tol[1], 0.0);
  // The engine with the tolerances the fit reports.
  const int n = (int)a.x.size(), nc = 3;
  V wx(n), wy(n);
  for (int i = 0; i < n; ++i) {
    wx[i] = 1.0 / a.ux[i];
    wy[i] = 1.0 / a.uy[i];
  }
  V param(n + nc), cov(nc * nc), yfit(n), res(2 * n), wres(2 * n), r11(n), r12(n * nc),
      r22(quorvex::packed_size(nc)), rinfo(4);
  double sres = 0.0, wresmax = 0.0;
  int olstat = -1, istat[3] = {-1, -1, -1};
  quorvex::GLSPFIT(quorvex::GlsData{n, a.x.data(), a.y.data(), wx.data(), wy.data()}, nc,
                   f.interval[0], f.interval[1], quorvex::GlsControl{f.tol, 100, 0.1},
                   quorvex::GlsResults{param.data(), cov.data(), sres, yfit.data(), res.data(),
                                       wres.data(), wresmax,
                                       quorvex::BlockFactor{r11.data(), r12.data(), r22.data()},
                                       rinfo.data(), olstat, istat});
  ASSERT_EQ(olstat, 0);
  EXPECT_EQ(f.info[1], istat[0]);
  EXPECT_EQ(f.info[2], istat[1]);
  EXPECT_TRUE(same_bits(f.coef.data(), param.data() + n, nc));
  EXPECT_TRUE(same_bits(f.cov.data(), cov.data(), nc * nc));
  EXPECT_TRUE(same_bits(f.rinfo.data(), rinfo.data(), 4));
  // Residuals at the adjusted abscissae, chi2 of both and SRES from it.
  double chi2 = 0.0;
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(f.resx[i], param[i]);
    EXPECT_EQ(f.xadj[i], a.x[i] - param[i]);
    EXPECT_EQ(f.res[i], a.y[i] - f.fitted[i]);
    double p = 0.0;
    int pst = -1;
    quorvex::POLYEVAL(nc, f.coef.data(), 1, &f.xadj[i], f.interval[0], f.interval[1], &p, pst);
    EXPECT_EQ(f.fitted[i], p);
    EXPECT_EQ(f.wresx[i], param[i] * wx[i]);
    EXPECT_EQ(f.wres[i], f.res[i] * wy[i]);
    chi2 += f.wres[i] * f.wres[i] + f.wresx[i] * f.wresx[i];
  }
  EXPECT_NEAR(f.chi2, chi2, 1e-14 * chi2);
  EXPECT_NEAR(f.sres, std::sqrt(chi2 / (n - nc)), 1e-14 * f.sres);
  EXPECT_EQ(f.covkind, 0);  // stated with u(y)
}

TEST(LabFit, AnExclusionEqualsTheFitWithoutTheRow) {
  for (int drop : {0, 4, 8})
   for (int given : {0, QVXL_GIVEN_UY, QVXL_GIVEN_UY | QVXL_GIVEN_UX}) {
    SCOPED_TRACE(drop * 10 + given);
    FitArgs a = standards(9, 3);
    a.given = given;
    for (int i = 0; i < 9 && given; ++i) {
      a.uy.push_back(0.01 * (1 + i));
      if (given & QVXL_GIVEN_UX) a.ux.push_back(0.002 * (9 - i));
    }
    a.y[drop] += 5.0;  // an outlier, left out
    a.keep.assign(9, 1);
    a.keep[drop] = 0;
    const Fit f = run_fit(a);
    FitArgs b = a;
    b.keep.clear();
    b.x.erase(b.x.begin() + drop);
    b.y.erase(b.y.begin() + drop);
    if (!b.uy.empty()) b.uy.erase(b.uy.begin() + drop);
    if (!b.ux.empty()) b.ux.erase(b.ux.begin() + drop);
    const Fit g = run_fit(b);
    ASSERT_EQ(f.istat, 0);
    ASSERT_EQ(g.istat, 0);
    EXPECT_TRUE(same_bits(f.coef.data(), g.coef.data(), 3));
    EXPECT_TRUE(same_bits(f.cov.data(), g.cov.data(), 9));
    EXPECT_EQ(f.sres, g.sres);
    EXPECT_EQ(f.dof, 8 - 3);
    EXPECT_EQ(f.interval[0], g.interval[0]);
    EXPECT_EQ(f.interval[1], g.interval[1]);
    for (int i = 0, j = 0; i < 9; ++i) {
      if (i == drop) continue;
      EXPECT_EQ(f.fitted[i], g.fitted[j]);
      ++j;
    }
    // The standard left out: the curve's value at its x where the curve is defined.
    const double x = a.x[drop];
    if (x >= g.interval[0] && x <= g.interval[1]) {
      double y = 0.0;
      int st = -1;
      quorvex::POLYEVAL(3, g.coef.data(), 1, &x, g.interval[0], g.interval[1], &y, st);
      EXPECT_EQ(f.fitted[drop], y);
      EXPECT_EQ(f.res[drop], a.y[drop] - y);
    } else {
      EXPECT_TRUE(std::isnan(f.fitted[drop]));
    }
    EXPECT_TRUE(std::isnan(f.wy[drop]));
  }
}

// ---------------------------------------------------------------------------
// Statuses: a clear code, nothing written.

TEST(LabFit, BadInputHasItsStatusAndWritesNothing) {
  struct Case {
    const char* name;
    void (*edit)(FitArgs&);
    int status;
  };
  const Case cases[] = {
      {"NaN y", [](FitArgs& a) { a.y[2] = kNaN; }, QVXL_BAD_VALUE},
      {"infinite x", [](FitArgs& a) { a.x[0] = INFINITY; }, QVXL_BAD_VALUE},
      {"n < ncoef", [](FitArgs& a) { a.nc = 7; a.x.resize(5); a.y.resize(5); }, QVXL_BAD_COUNT},
      {"kept < ncoef", [](FitArgs& a) { a.nc = 6; a.keep = {1, 1, 1, 1, 1, 0, 0, 0}; },
       QVXL_BAD_COUNT},
      {"no points", [](FitArgs& a) { a.x.clear(); a.y.clear(); }, QVXL_BAD_COUNT},
      {"ncoef 0", [](FitArgs& a) { a.nc = 0; }, QVXL_BAD_NCOEF},
      {"ncoef 11", [](FitArgs& a) { a.nc = 11; }, QVXL_BAD_NCOEF},
      {"weighting 3", [](FitArgs& a) { a.weighting = 3; }, QVXL_BAD_CODE},
      {"covkind 2", [](FitArgs& a) { a.covkind = 2; }, QVXL_BAD_CODE},
      {"given 4", [](FitArgs& a) { a.given = 4; }, QVXL_BAD_CODE},
      {"x <= 0 under 1/x", [](FitArgs& a) { a.weighting = 1; a.x[3] = 0.0; },
       QVXL_FIT_X_NOT_POSITIVE},
      {"x < 0 under 1/x2", [](FitArgs& a) { a.weighting = 2; a.x[0] = -1.0; },
       QVXL_FIT_X_NOT_POSITIVE},
      {"u(y) = 0", [](FitArgs& a) { a.given = 1; a.uy.assign(8, 0.1); a.uy[1] = 0.0; },
       QVXL_BAD_VALUE},
      {"u(x) without u(y)", [](FitArgs& a) { a.given = 2; a.ux.assign(8, 0.1); },
       QVXL_FIT_UX_WITHOUT_UY},
      {"preset with u(y)", [](FitArgs& a) { a.given = 1; a.uy.assign(8, 0.1); a.weighting = 2; },
       QVXL_FIT_PRESET_WITH_U},
      {"one x", [](FitArgs& a) { a.x.assign(8, 3.0); }, QVXL_FIT_NO_SPREAD},
      {"outside the interval",
       [](FitArgs& a) { a.defaults = 1; a.interval[0] = 2.0; a.interval[1] = 10.0; },
       QVXL_FIT_OUTSIDE},
      {"above the interval",
       [](FitArgs& a) { a.defaults = 1; a.interval[0] = 1.0; a.interval[1] = 9.0; },
       QVXL_FIT_OUTSIDE},
      {"u(x) = 0", [](FitArgs& a) {
         a.given = 3; a.uy.assign(8, 0.1); a.ux.assign(8, 0.1); a.ux[7] = 0.0; },
       QVXL_BAD_VALUE},
      {"empty interval",
       [](FitArgs& a) { a.defaults = 1; a.interval[0] = 10.0; a.interval[1] = 1.0; },
       QVXL_BAD_INTERVAL},
      {"weight overflows", [](FitArgs& a) { a.given = 1; a.uy.assign(8, 0.1); a.uy[4] = 1e-320; },
       QVXL_FIT_WEIGHT_OVERFLOW},
      {"tol 0", [](FitArgs& a) {
         a.given = 3; a.uy.assign(8, 0.1); a.ux.assign(8, 0.1); a.defaults = 2; },
       QVXL_BAD_VALUE},
      {"maxit 0", [](FitArgs& a) {
         a.given = 3; a.uy.assign(8, 0.1); a.ux.assign(8, 0.1); a.defaults = 4; },
       QVXL_BAD_VALUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FitArgs a = standards(8, 2);
    c.edit(a);
    const Fit f = run_fit(a);
    EXPECT_EQ(f.istat, c.status);
    EXPECT_TRUE(f.untouched());
  }
}

TEST(LabFit, AnExcludedRowIsWeightedAsItsStandard) {
  for (int weighting : {0, 2}) {
    FitArgs a = standards(8, 2);
    a.weighting = weighting;
    if (weighting == 0) {
      a.given = QVXL_GIVEN_UY;
      for (int i = 0; i < 8; ++i) a.uy.push_back(0.01 * (i + 1));
    }
    a.keep.assign(8, 1);
    a.keep[3] = 0;
    const Fit f = run_fit(a);
    ASSERT_EQ(f.istat, 0);
    const double w = weighting == 0 ? 1.0 / a.uy[3] : 1.0 / a.x[3];
    EXPECT_EQ(f.wres[3], f.res[3] * w);
  }
}

TEST(LabFit, AnIterationLimitIsReportedWithEveryOutput) {
  FitArgs a = standards(10, 4);
  for (std::size_t i = 0; i < a.x.size(); ++i) {
    a.uy.push_back(0.001);
    a.ux.push_back(0.3);
  }
  a.given = QVXL_GIVEN_UY | QVXL_GIVEN_UX;
  a.defaults = QVXL_OPT_MAXIT;
  a.maxit = 1;
  const Fit f = run_fit(a);
  ASSERT_EQ(f.info[1], 4);  // the iteration limit with neither test met
  EXPECT_EQ(f.istat, QVXL_FIT_UNCONVERGED);
  EXPECT_EQ(f.maxit, 1);
  EXPECT_TRUE(std::isfinite(f.coef[0]) && std::isfinite(f.sres));
}

TEST(LabFit, AnExcludedRowMayHoldAnything) {
  FitArgs a = standards(8, 2);
  a.y[5] = kNaN;
  a.keep.assign(8, 1);
  a.keep[5] = 0;
  const Fit f = run_fit(a);
  EXPECT_EQ(f.istat, 0);
  EXPECT_EQ(f.dof, 7 - 2);
}

TEST(LabFit, EngineRefusalIsReportedWithItsStatus) {
  FitArgs a = standards(6, 3);
  a.x = {1, 1, 1, 5, 5, 5};  // two distinct x for three coefficients
  const Fit f = run_fit(a);
  EXPECT_EQ(f.istat, QVXL_FIT_OLS_FAILED);
  EXPECT_NE(f.info[0], 0);
  EXPECT_TRUE(f.untouched());
  EXPECT_EQ(f.interval[0], 1.0);  // the interval it tried
  EXPECT_EQ(f.interval[1], 5.0);
}

// ---------------------------------------------------------------------------
// Covariance scaling, defaults and weights.

TEST(LabFit, ScaledCovarianceIsCovTimesSresSquaredAndNaNWithoutDof) {
  const V cov = {4.0, -1.0, -1.0, 2.0};
  V out(5, kGuard);
  int nc = 2, st = -1;
  struct Case {
    double sres;
    int dof, status;
  };
  for (const Case& c : {Case{0.5, 3, 0}, Case{3.0, 0, 0}, Case{1e200, 3, QVXL_FIT_SCALE_OVERFLOW},
                        Case{kNaN, 3, QVXL_FIT_SCALE_OVERFLOW}, Case{-1.0, 3, QVXL_BAD_VALUE},
                        Case{0.5, -1, QVXL_BAD_VALUE}}) {
    out.assign(5, kGuard);
    LAB(QVXL_SCALED_COV)(&nc, cov.data(), &c.sres, &c.dof, out.data(), &st);
    EXPECT_EQ(st, c.status);
    EXPECT_EQ(out[4], kGuard);
    for (int k = 0; k < 4 && st == 0; ++k) {
      if (c.dof == 0)
        EXPECT_TRUE(std::isnan(out[k]));
      else
        EXPECT_EQ(out[k], cov[k] * (c.sres * c.sres));
    }
    if (st == QVXL_FIT_SCALE_OVERFLOW) {
      for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isnan(out[k]));
    }
  }
  // A finite covariance that overflows on scaling by a finite SRES^2.
  const V big = {1e300, 0.0, 0.0, 1.0};
  const double s10 = 1e10;
  const int three = 3;
  out.assign(5, kGuard);
  LAB(QVXL_SCALED_COV)(&nc, big.data(), &s10, &three, out.data(), &st);
  EXPECT_EQ(st, QVXL_FIT_SCALE_OVERFLOW);
  EXPECT_TRUE(std::isnan(out[3]));
  // Through the fit: a line through two points has no degrees of freedom, also with u(x).
  for (int given : {0, QVXL_GIVEN_UY | QVXL_GIVEN_UX}) {
    FitArgs a = standards(2, 2);
    a.given = given;
    if (given) {
      a.uy = {0.1, 0.1};
      a.ux = {0.05, 0.05};
    }
    const Fit f = run_fit(a);
    ASSERT_EQ(f.istat, 0);
    EXPECT_EQ(f.dof, 0);
    EXPECT_EQ(f.sres, given ? 0.0 : f.sres);
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isnan(f.covsc[k]));
  }
}

TEST(LabFit, DefaultIntervalAndWeights) {
  const V x = {2.0, 4.0, 12.0}, ux = {0.1, 0.3, 0.2};
  int n = 3, no = 0, yes = 1, st = -1;
  double lo = 0.0, hi = 0.0;
  LAB(QVXL_DEFAULT_INTERVAL)(&n, x.data(), &no, ux.data(), &lo, &hi, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(lo, 2.0);
  EXPECT_EQ(hi, 12.0);
  LAB(QVXL_DEFAULT_INTERVAL)(&n, x.data(), &yes, ux.data(), &lo, &hi, &st);
  EXPECT_EQ(lo, 2.0 - 3.0);  // 10 max u(x) = 3 beats 5 % of 10
  EXPECT_EQ(hi, 12.0 + 3.0);
  const V tiny = {0.001, 0.001, 0.001};
  LAB(QVXL_DEFAULT_INTERVAL)(&n, x.data(), &yes, tiny.data(), &lo, &hi, &st);
  EXPECT_EQ(lo, 2.0 - 0.5);  // 5 % of the range
  const V same = {3.0, 3.0, 3.0};
  LAB(QVXL_DEFAULT_INTERVAL)(&n, same.data(), &no, ux.data(), &lo, &hi, &st);
  EXPECT_EQ(st, QVXL_FIT_NO_SPREAD);

  V w(4, kGuard);
  for (int weighting : {0, 1, 2}) {
    int what = 1;
    LAB(QVXL_WEIGHTS)(&weighting, &what, &n, x.data(), w.data(), &st);
    ASSERT_EQ(st, 0);
    V s(4, kGuard);
    what = 2;
    LAB(QVXL_WEIGHTS)(&weighting, &what, &n, x.data(), s.data(), &st);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(w[i], 1.0 / s[i]);  // weights and response scale are reciprocal
      EXPECT_EQ(w[i], weighting == 0 ? 1.0 : weighting == 1 ? 1.0 / std::sqrt(x[i]) : 1.0 / x[i]);
    }
    EXPECT_EQ(w[3], kGuard);
  }
  const V bad = {1.0, -2.0, 3.0};
  int weighting = 1, what = 1;
  w.assign(4, kGuard);
  LAB(QVXL_WEIGHTS)(&weighting, &what, &n, bad.data(), w.data(), &st);
  EXPECT_EQ(st, QVXL_FIT_X_NOT_POSITIVE);
  EXPECT_EQ(w[0], kGuard);
}

// The default tolerances on data worked by hand: a flat curve (slope 0), S = 2.
TEST(LabFit, DefaultTolerances) {
  const double eps = std::numeric_limits<double>::epsilon();
  struct Case {
    double y, tol1, tol2;
  };
  // TOL(1) = 1e-3 sqrt(2 (1/2)^2 + 0.01 + 0.04) / 4; TOL(2) = max(1e-7, 16 eps ||(y, y)||) / 8.
  const double tol1 = 1e-3 * std::sqrt(0.55) / 4.0;
  for (const Case& c : {Case{1.0, tol1, 1e-7 / 8.0},
                        Case{1e10, tol1, 16.0 * eps * std::sqrt(2.0) * 1e10 / 8.0}}) {
    const V x = {1.0, 3.0}, y = {c.y, c.y}, wx = {2.0, 2.0}, wy = {1.0, 1.0};
    const V coef = {2.0 * c.y, 0.0}, cov = {0.01, 0.0, 0.0, 0.04};
    int n = 2, nc = 2, st = -1;
    double lo = 0.0, hi = 4.0, tol[3] = {0.0, 0.0, kGuard};
    LAB(QVXL_DEFAULT_TOLERANCES)(&n, x.data(), y.data(), wx.data(), wy.data(), &nc, coef.data(),
                                 cov.data(), &lo, &hi, tol, &st);
    ASSERT_EQ(st, 0);
    EXPECT_NEAR(tol[0], c.tol1, 1e-15 * c.tol1);
    EXPECT_NEAR(tol[1], c.tol2, 1e-14 * c.tol2);
    EXPECT_EQ(tol[2], kGuard);
  }
}

// ---------------------------------------------------------------------------
// The curve.

// p(x) from the power form by Horner's rule in long double.
long double horner(const V& a, double x) {
  long double s = 0.0L;
  for (std::size_t k = a.size(); k-- > 0;) s = s * x + a[k];
  return s;
}

TEST(LabCurve, PowerFormEvaluatesToTheCurve) {
  struct Case {
    int nc;
    double lo, hi;
  };
  for (const Case& c : {Case{1, 0.0, 1.0}, Case{2, -3.0, 5.0}, Case{4, 0.5, 2.0},
                        Case{6, -1.0, 1.0}, Case{10, -1.0, 1.0}}) {
    SCOPED_TRACE(c.nc);
    V coef(c.nc), cov(c.nc * c.nc, 0.0), a(c.nc + 1, kGuard), ca(c.nc * c.nc + 1, kGuard);
    for (int k = 0; k < c.nc; ++k) {
      coef[k] = 1.0 / (1.0 + k) * (k % 2 ? -1.0 : 1.0);
      for (int l = 0; l < c.nc; ++l) cov[l * c.nc + k] = (k == l ? 1.0 : 0.3) / (1 + k + l);
    }
    int st = -1;
    LAB(QVXL_POWER)(&c.nc, coef.data(), cov.data(), &c.lo, &c.hi, a.data(), ca.data(), &st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(a[c.nc], kGuard);
    EXPECT_EQ(ca[c.nc * c.nc], kGuard);
    for (int k = 0; k < c.nc; ++k)
      for (int l = 0; l < c.nc; ++l) EXPECT_EQ(ca[l * c.nc + k], ca[k * c.nc + l]);
    a.pop_back();
    for (int i = 0; i <= 20; ++i) {
      const double x = c.lo + (c.hi - c.lo) * i / 20.0;
      int one = 1, what = 5, ext = 0;
      double y = 0.0, dy = 0.0, u = 0.0;
      LAB(QVXL_CURVE)(&c.nc, coef.data(), cov.data(), &c.lo, &c.hi, &what, &ext, &one, &x, &y,
                      &dy, &u, &st);
      ASSERT_EQ(st, 0);
      EXPECT_NEAR((double)horner(a, x), y, 1e-12 * (1.0 + std::abs(y)));
      // u(p(x))^2 = q' Ca q with q = (1, x, x^2, ...): the covariance maps too.
      long double v = 0.0L, qk = 1.0L;
      for (int k = 0; k < c.nc; ++k, qk *= x) {
        long double ql = 1.0L;
        for (int l = 0; l < c.nc; ++l, ql *= x) v += qk * ca[l * c.nc + k] * ql;
      }
      EXPECT_NEAR((double)v, u * u, 1e-11 * (1.0 + u * u));
    }
  }
}

TEST(LabCurve, ValuesSlopesAndStatuses) {
  const V coef = {2.0, 3.0, 0.5};  // p = 1 + 3 t + 0.5 (2 t^2 - 1), t = (x - 2) / 2 on [0, 4]
  const V cov = {1e-4, 0, 0, 0, 1e-4, 0, 0, 0, 1e-4};
  int nc = 3, n = 3, st = -1, what = 7, ext = 0;
  double lo = 0.0, hi = 4.0;
  const V x = {0.0, 1.0, 4.0};
  V y(4, kGuard), dy(4, kGuard), u(4, kGuard);
  LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &n, x.data(), y.data(),
                  dy.data(), u.data(), &st);
  ASSERT_EQ(st, 0);
  for (int i = 0; i < 3; ++i) {
    const double t = (x[i] - 2.0) / 2.0;
    EXPECT_NEAR(y[i], 1.0 + 3.0 * t + 0.5 * (2 * t * t - 1), 1e-14);
    EXPECT_NEAR(dy[i], (3.0 + 2.0 * t) / 2.0, 1e-14);
    EXPECT_NEAR(u[i] * u[i], 1e-4 * (0.25 + t * t + std::pow(2 * t * t - 1, 2)), 1e-18);
  }
  EXPECT_EQ(y[3], kGuard);
  // Beyond the interval: refused, or the curve extended on request.
  const double out = 5.0;
  int one = 1;
  y.assign(4, kGuard);
  LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &one, &out, y.data(),
                  dy.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_CURVE_OUTSIDE);
  EXPECT_EQ(y[0], kGuard);
  ext = 1;
  LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &one, &out, y.data(),
                  dy.data(), u.data(), &st);
  EXPECT_EQ(st, 0);
  EXPECT_NEAR(y[0], 1.0 + 4.5 + 0.5 * 3.5, 1e-14);
  const double nan = kNaN;
  LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &one, &nan, y.data(),
                  dy.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  what = 8;
  LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &one, &out, y.data(),
                  dy.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_CODE);
}

// Quantiles from 40-digit computations (mpmath).
TEST(LabCurve, BandUsesTheTOrNormalQuantile) {
  struct Case {
    int covkind, dof;
    double level;
    int sided;
    double k;
  };
  const Case cases[] = {
      {0, 5, 0.95, 2, 1.9599639845400543},  {1, 5, 0.95, 2, 2.5705818356363155},
      {1, 3, 0.99, 2, 5.840909309733357},   {1, 1, 0.95, 2, 12.706204736174705},
      {0, 0, 0.95, 1, 1.6448536269514726},  {1, 10, 0.95, 1, 1.8124611228116765},
  };
  for (const Case& c : cases) {
    double k = 0.0;
    int st = -1;
    LAB(QVXL_COVERAGE)(&c.covkind, &c.dof, &c.level, &c.sided, &k, &st);
    ASSERT_EQ(st, 0);
    EXPECT_NEAR(k, c.k, 4e-15 * c.k);
    if (c.sided != 2) continue;
    // The band: y -+ k u, u from the curve (confidence) or with the response's sd.
    const V coef = {2.0, 1.0}, cov = {0.01, 0.002, 0.002, 0.04};
    const V x = {1.0, 2.5, 3.0}, rsd = {0.1, 0.2, 0.0};
    int nc = 2, n = 3;
    double lo = 1.0, hi = 3.0, kb = 0.0;
    for (int kind : {0, 1}) {
      V y(3), u(3), low(3), up(3), yc(3), dy(3), uc(3);
      LAB(QVXL_BAND)(&nc, coef.data(), cov.data(), &lo, &hi, &c.covkind, &c.dof, &c.level, &kind,
                     &n, x.data(), rsd.data(), y.data(), u.data(), low.data(), up.data(), &kb,
                     &st);
      ASSERT_EQ(st, 0);
      EXPECT_EQ(kb, k);
      int what = 5, ext = 0;
      LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &n, x.data(),
                      yc.data(), dy.data(), uc.data(), &st);
      for (int i = 0; i < 3; ++i) {
        const double ui = kind == 0 ? uc[i] : std::sqrt(uc[i] * uc[i] + rsd[i] * rsd[i]);
        EXPECT_EQ(y[i], yc[i]);
        EXPECT_EQ(u[i], ui);
        EXPECT_EQ(low[i], y[i] - k * ui);
        EXPECT_EQ(up[i], y[i] + k * ui);
      }
    }
  }
  {
    const V coef = {2.0, 1.0}, cov = {0.01, 0.0, 0.0, 0.04}, x = {1.5}, rsd = {-0.1};
    V y(1), u(1), low(1), up(1);
    int nc = 2, n = 1, covkind = 0, dof = 3, kind = 1, st = -1;
    double lo = 1.0, hi = 3.0, level = 0.95, k = 0.0;
    LAB(QVXL_BAND)(&nc, coef.data(), cov.data(), &lo, &hi, &covkind, &dof, &level, &kind, &n,
                   x.data(), rsd.data(), y.data(), u.data(), low.data(), up.data(), &k, &st);
    EXPECT_EQ(st, QVXL_BAD_VALUE);
  }
  // The scaled covariance needs degrees of freedom; bad codes and levels.
  struct Bad {
    int covkind, dof;
    double level;
    int sided, status;
  };
  for (const Bad& b : {Bad{1, 0, 0.95, 2, QVXL_CURVE_NO_DOF}, Bad{2, 5, 0.95, 2, QVXL_BAD_CODE},
                       Bad{0, 5, 0.95, 3, QVXL_BAD_CODE}, Bad{0, 5, 1.0, 2, QVXL_BAD_VALUE},
                       Bad{0, 5, kNaN, 2, QVXL_BAD_VALUE}}) {
    double k = kGuard;
    int st = -1;
    LAB(QVXL_COVERAGE)(&b.covkind, &b.dof, &b.level, &b.sided, &k, &st);
    EXPECT_EQ(st, b.status);
    EXPECT_EQ(k, kGuard);
  }
}

TEST(LabCurve, ResponseScatter) {
  const V x = {1.0, 4.0, -1.0, 0.0};
  V sd(5, kGuard);
  int n = 4, st = -1;
  struct Case {
    int weighting, nstd, covkind;
    V ustd;
    double sres;
    V want;
    int status;
  };
  const Case cases[] = {
      {0, 0, 1, {0.0}, 0.5, {0.5, 0.5, 0.5, 0.5}, 0},
      {1, 0, 1, {0.0}, 0.5, {0.5, 1.0, kNaN, 0.0}, 0},  // "1/x": no scatter stated below 0
      {2, 0, 1, {0.0}, 0.5, {0.5, 2.0, 0.5, 0.0}, 0},
      {0, 2, 0, {0.3, 0.3}, 0.5, {0.3, 0.3, 0.3, 0.3}, 0},
      {0, 2, 1, {0.3, 0.3}, 2.0, {0.6, 0.6, 0.6, 0.6}, 0},
      {0, 2, 0, {0.3, 0.4}, 0.5, {}, QVXL_CURVE_UY_DIFFER},
  };
  for (const Case& c : cases) {
    sd.assign(5, kGuard);
    LAB(QVXL_RESPONSE_SD)(&n, x.data(), &c.weighting, &c.nstd, c.ustd.data(), &c.covkind,
                          &c.sres, sd.data(), &st);
    EXPECT_EQ(st, c.status);
    EXPECT_EQ(sd[4], kGuard);
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      if (std::isnan(c.want[i]))
        EXPECT_TRUE(std::isnan(sd[i]));
      else
        EXPECT_DOUBLE_EQ(sd[i], c.want[i]);
    }
  }
}

// The joint covariance against an independent reading: its diagonal is the
// u(x)^2 that reading back gives, and combinations follow from it.
TEST(LabCurve, JointCovarianceOfReadings) {
  const V coef = {3.0, 2.0, 0.2};
  const V cov = {4e-4, 1e-4, -5e-5, 1e-4, 3e-4, 2e-5, -5e-5, 2e-5, 2e-4};
  int nc = 3, n = 4, st = -1;
  double lo = 0.0, hi = 10.0;
  const V y = {0.5, 1.0, 2.5, 3.0}, uy = {0.02, 0.0, 0.05, 0.03};
  // Read back with stated u(y).
  int covkind = 0, ndof = 5, weighting = 0, stated = 1, haslim = 0, uymode = 0, ngrid = 100,
      extrap = 0;
  const V xstd = {0.0, 10.0}, lim = {0.0, 0.0}, repl = {1.0};
  const double sres = 1.0, level = 0.95, tol = 0.0;
  std::vector<int> nroot(n), uysrc(n), flags(n);
  V roots(2 * n), uroots(2 * n), uyu(n), ucur(n), dof(n), k(n), U(n), low(n), high(n), xe(n),
      uxe(n);
  LAB(QVXL_READBACK)(&nc, coef.data(), cov.data(), &lo, &hi, &covkind, &ndof, &sres, &weighting,
                     &stated, xstd.data(), &haslim, lim.data(), &n, y.data(), &uymode, uy.data(),
                     repl.data(), &level, &ngrid, &tol, &extrap, nroot.data(), roots.data(),
                     uroots.data(), uyu.data(), uysrc.data(), ucur.data(), dof.data(), k.data(),
                     U.data(), low.data(), high.data(), xe.data(), uxe.data(), flags.data(), &st);
  ASSERT_EQ(st, 0);
  V x(n);
  for (int i = 0; i < n; ++i) x[i] = roots[2 * i];
  V s(n * nc), d(n), c(n * n + 1, kGuard), value(1);
  int mode = 1, nw = 0;
  const V w0 = {0.0};
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, x.data(), uy.data(), &mode, &nw,
                      w0.data(), s.data(), d.data(), c.data(), value.data(), &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(c[n * n], kGuard);
  for (int i = 0; i < n; ++i) {
    ASSERT_FALSE(std::isnan(x[i]));
    EXPECT_NEAR(c[i * n + i], uroots[2 * i] * uroots[2 * i], 1e-12 * c[i * n + i]);
    for (int j = 0; j < n; ++j) EXPECT_NEAR(c[i * n + j], c[j * n + i], 1e-14 * c[i * n + i]);
  }
  // S_i . c = -g_i' c / p'(x_i) = -p(x_i) / p'(x_i), and d_i = u(y_i)^2 / p'(x_i)^2.
  for (int i = 0; i < n; ++i) {
    int one = 1, what = 3, ext = 0;
    double p = 0.0, dp = 0.0, uu = 0.0;
    LAB(QVXL_CURVE)(&nc, coef.data(), cov.data(), &lo, &hi, &what, &ext, &one, &x[i], &p, &dp,
                    &uu, &st);
    double sc = 0.0;
    for (int k2 = 0; k2 < nc; ++k2) sc += s[k2 * n + i] * coef[k2];
    EXPECT_NEAR(sc, -p / dp, 1e-13 * std::abs(p / dp));
    EXPECT_NEAR(d[i], uy[i] * uy[i] / (dp * dp), 1e-15 + 1e-13 * d[i]);
  }
  // Combinations: an average of 0 and 2, and the difference 1 - 3.
  mode = 2;
  nw = 2;
  const V w = {0.5, 0.0, 0.0, 1.0, 0.5, 0.0, 0.0, -1.0};  // 2 x 4, column-major
  V out(5, kGuard), val(3, kGuard);
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, x.data(), uy.data(), &mode, &nw,
                      w.data(), s.data(), d.data(), out.data(), val.data(), &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(out[4], kGuard);
  EXPECT_EQ(val[2], kGuard);
  auto C = [&](int i, int j) { return c[j * n + i]; };
  EXPECT_NEAR(val[0], 0.5 * (x[0] + x[2]), 1e-15);
  EXPECT_NEAR(val[1], x[1] - x[3], 1e-15);
  EXPECT_NEAR(out[0], 0.25 * (C(0, 0) + C(2, 2) + 2 * C(0, 2)), 1e-12 * out[0]);
  EXPECT_NEAR(out[3], C(1, 1) + C(3, 3) - 2 * C(1, 3), 1e-12 * out[3]);
  EXPECT_NEAR(out[1], 0.5 * (C(0, 1) + C(2, 1) - C(0, 3) - C(2, 3)), 1e-12 * std::abs(out[1]));
  // Sums that share readings: their covariance is W C W' of the full matrix.
  const V ws = {0.5, 1.0, 0.25, 0.0, 0.5, -1.0, 0.0, 2.0};  // 2 x 4, column-major
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, x.data(), uy.data(), &mode, &nw,
                      ws.data(), s.data(), d.data(), out.data(), val.data(), &st);
  ASSERT_EQ(st, 0);
  for (int p = 0; p < 2; ++p)
    for (int q = 0; q < 2; ++q) {
      double want = 0.0;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) want += ws[i * 2 + p] * C(i, j) * ws[j * 2 + q];
      EXPECT_NEAR(out[q * 2 + p], want, 1e-12 * std::abs(want));
    }
  // A reading without a root: its rows are NaN, and a sum that leaves it out is unaffected.
  V xn = x;
  xn[3] = kNaN;
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, xn.data(), uy.data(), &mode,
                      &nw, w.data(), s.data(), d.data(), out.data(), val.data(), &st);
  EXPECT_TRUE(std::isnan(d[3]) && std::isnan(s[3]));
  EXPECT_TRUE(std::isnan(out[3]));
  const V wa = {0.5, 0.0, 0.5, 0.0};
  nw = 1;
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, xn.data(), uy.data(), &mode,
                      &nw, wa.data(), s.data(), d.data(), out.data(), val.data(), &st);
  EXPECT_NEAR(out[0], 0.25 * (C(0, 0) + C(2, 2) + 2 * C(0, 2)), 1e-12 * out[0]);
  EXPECT_NEAR(val[0], 0.5 * (x[0] + x[2]), 1e-15);
  // Statuses.
  const V neg = {0.1, -0.1, 0.1, 0.1};
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, x.data(), neg.data(), &mode,
                      &nw, wa.data(), s.data(), d.data(), out.data(), val.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  mode = 3;
  LAB(QVXL_JOINT_COV)(&nc, coef.data(), cov.data(), &lo, &hi, &n, x.data(), uy.data(), &mode,
                      &nw, wa.data(), s.data(), d.data(), out.data(), val.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_CODE);
  int one = 1;
  LAB(QVXL_JOINT_COV)(&one, coef.data(), cov.data(), &lo, &hi, &n, x.data(), uy.data(), &mode,
                      &nw, wa.data(), s.data(), d.data(), out.data(), val.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_NCOEF);
}

}  // namespace
