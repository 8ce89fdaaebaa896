// Correlated standards through the built libQUORVEXlab1, as a host calls it:
// ISO/TS 28037's table 25 to every printed digit, 50-digit references of the
// same objective for each way of stating the correlations, today's
// errors-in-variables fit reproduced without correlation, the gain's
// identity, the inverse prediction against QVXL_JOINT_COV and against
// refits by finite differences, and the statuses (naming the standard).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "lab_library.h"
#include "quorvex_lab.h"

namespace {

using Vec = std::vector<double>;

struct Ggm {
  int istat = -1, ndof = -1, maxit = 0;
  int info[3] = {-1, -1, -1};
  double interval[2] = {0.0, 0.0}, tol = 0.0, chi2 = 0.0;
  Vec coef, cov, xadj, fitted, gain;
};

Ggm ggm(const Vec& x, const Vec& y, const Vec& v, int nc, int defaults = 0, double lo = 0.0,
        double hi = 0.0, int maxit = 100) {
  Ggm f;
  const int n = static_cast<int>(x.size());
  f.coef.assign(nc, NAN);
  f.cov.assign(nc * nc, NAN);
  f.xadj.assign(n, NAN);
  f.fitted.assign(n, NAN);
  f.gain.assign(nc * 2 * n, NAN);
  f.interval[0] = lo;
  f.interval[1] = hi;
  f.maxit = maxit;
  LAB(QVXL_GGM_FIT)(&n, x.data(), y.data(), v.data(), &nc, &defaults, f.interval, &f.tol,
                    &f.maxit, f.coef.data(), f.cov.data(), &f.chi2, &f.ndof, f.xadj.data(),
                    f.fitted.data(), f.gain.data(), f.info, &f.istat);
  return f;
}

// V from independent parts and sources, through the exported builder.
Vec components(const Vec& uxind, const Vec& uyind, const Vec& uxsrc, const Vec& uysrc,
               Vec v = {}) {
  const int n = static_cast<int>(uxind.size());
  const int ns = static_cast<int>(uxsrc.size()) / n;
  const int add = v.empty() ? 0 : 1;
  if (v.empty()) v.assign(4 * n * n, NAN);
  int st = -1;
  LAB(QVXL_GGM_COMPONENTS)(&n, &ns, uxind.data(), uyind.data(), uxsrc.data(), uysrc.data(),
                           &add, v.data(), &st);
  EXPECT_EQ(st, 0);
  return v;
}

// Rounds v to `digits` decimals as the standard prints it.
double printed(double v, int digits) {
  const double s = std::pow(10.0, digits);
  return std::round(v * s) / s;
}

// ---- ISO/TS 28037, clause 10, table 25 --------------------------------------

TEST(LabCorrelated, Iso28037Table25EveryPrintedDigit) {
  const Vec x{50.4, 99.0, 149.9, 200.4, 248.5, 299.7, 349.1};
  const Vec y{52.3, 97.8, 149.7, 200.1, 250.4, 300.9, 349.2};
  const double ux[7][7] = {{0.50, 0.00, 0.25, 0.00, 0.25, 0.00, 0.25},
                           {0.00, 1.25, 1.00, 0.00, 0.00, 1.00, 1.00},
                           {0.25, 1.00, 1.50, 0.00, 0.25, 1.00, 1.25},
                           {0.00, 0.00, 0.00, 1.25, 1.00, 1.00, 1.00},
                           {0.25, 0.00, 0.25, 1.00, 1.50, 1.00, 1.25},
                           {0.00, 1.00, 1.00, 1.00, 1.00, 2.25, 2.00},
                           {0.25, 1.00, 1.25, 1.00, 1.25, 2.00, 2.50}};
  const int n = 7;
  Vec v(4 * n * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      v[j * 2 * n + i] = ux[i][j];
      v[(n + j) * 2 * n + n + i] = i == j ? 5.0 : 1.0;
    }
  const Ggm f = ggm(x, y, v, 2);
  ASSERT_EQ(f.istat, 0);
  EXPECT_EQ(f.ndof, 5);
  // The straight line in powers of x, through the exported conversion.
  double a[2], ca[4];
  int st = -1;
  const int nc = 2;
  LAB(QVXL_POWER)(&nc, f.coef.data(), f.cov.data(), &f.interval[0], &f.interval[1], a, ca, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(printed(a[0], 4), 0.3424);
  EXPECT_EQ(printed(a[1], 4), 1.0012);
  EXPECT_EQ(printed(std::sqrt(ca[0]), 4), 2.0569);
  EXPECT_EQ(printed(std::sqrt(ca[3]), 4), 0.0090);
  EXPECT_EQ(printed(ca[1], 4), -0.0129);
  EXPECT_EQ(printed(f.chi2, 3), 1.772);
  // The gain reproduces the covariance: K V K' = cov.
  for (int p = 0; p < nc; ++p)
    for (int q = 0; q < nc; ++q) {
      double s = 0.0;
      for (int i = 0; i < 2 * n; ++i)
        for (int j = 0; j < 2 * n; ++j)
          s += f.gain[i * nc + p] * v[j * 2 * n + i] * f.gain[j * nc + q];
      EXPECT_NEAR(s, f.cov[q * nc + p], 1e-12 * std::sqrt(f.cov[0] * f.cov[3]));
    }
}

// ---- 50-digit references (tests/reference/ggm_mpmath.py) ---------------------

struct Ref {
  const char* way;
  int nc;
  Vec y;
  double lo, hi;
  Vec coef, cov;
  double chi2;
};
const std::vector<Ref>& refs() {
  static const std::vector<Ref> r = {
#include "reference/ggm_mpmath.inc"
  };
  return r;
}

const Vec kX8{0.5, 1.5, 2.0, 3.5, 4.0, 5.5, 6.5, 8.0};
const Vec kXD{100.0, 50.0, 25.0, 12.5, 6.25, 3.125, 40.0};
const std::vector<int> kParent{0, 1, 2, 3, 4, 5, 0};
const Vec kRel{0.002, 0.003, 0.003, 0.004, 0.004, 0.005, 0.0025};
const Vec kUyDil{0.05, 0.04, 0.03, 0.03, 0.02, 0.02, 0.04};

Vec matrix_v(int n) {
  Vec v(4 * n * n, 0.0);
  auto at = [&](int i, int j) -> double& { return v[j * 2 * n + i]; };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      at(i, j) = 0.0004 * std::pow(0.5, std::abs(i - j));
      at(n + i, n + j) = (i == j ? 0.0009 : 0.0) + 0.0001;
      at(i, n + j) = at(n + j, i) = 0.0001 * std::pow(0.3, std::abs(i - j));
    }
  return v;
}

Vec components_v(const Vec& x) {
  const int n = static_cast<int>(x.size());
  Vec uxind(n, 0.01), uyind(n), uxsrc(3 * n, 0.0), uysrc(3 * n, 0.0);
  for (int i = 0; i < n; ++i) {
    uyind[i] = 0.02 + 0.002 * i;
    uxsrc[i] = 0.005 * x[i];             // stock
    uysrc[n + i] = 0.003 * (i + 1);      // drift
    uxsrc[2 * n + i] = 0.004;            // balance, on x ...
    uysrc[2 * n + i] = -0.006;           // ... and on y, the other way
  }
  return components(uxind, uyind, uxsrc, uysrc);
}

Vec dilution_v(const Vec& x) {
  const int n = static_cast<int>(x.size());
  Vec v(4 * n * n, NAN);
  const int add = 0;
  const double rstock = 0.001;
  int bad = -1, st = -1;
  LAB(QVXL_GGM_DILUTION)(&n, x.data(), kParent.data(), kRel.data(), &rstock, &add, v.data(),
                         &bad, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(bad, 0);
  return components(Vec(n, 0.0), kUyDil, {}, {}, v);
}

TEST(LabCorrelated, FiftyDigitReferencesEachWayOfStatingCorrelations) {
  int checked = 0;
  for (const Ref& r : refs()) {
    SCOPED_TRACE(std::string(r.way) + " ncoef " + std::to_string(r.nc));
    const std::string way = r.way;
    const Vec& x = way == "dilution" ? kXD : kX8;
    const Vec v = way == "matrix"       ? matrix_v(static_cast<int>(x.size()))
                  : way == "components" ? components_v(x)
                                        : dilution_v(x);
    const Ggm f = ggm(x, r.y, v, r.nc, QVXL_GGM_OPT_INTERVAL, r.lo, r.hi);
    ASSERT_EQ(f.istat, 0);
    for (int k = 0; k < r.nc; ++k) EXPECT_NEAR(f.coef[k], r.coef[k], 1e-10 * std::fabs(r.coef[k]));
    for (int a = 0; a < r.nc; ++a)
      for (int b = 0; b < r.nc; ++b)
        EXPECT_NEAR(f.cov[b * r.nc + a], r.cov[b * r.nc + a],
                    1e-10 * std::sqrt(r.cov[a * r.nc + a] * r.cov[b * r.nc + b]));
    EXPECT_NEAR(f.chi2, r.chi2, 1e-10 * r.chi2);
    ++checked;
  }
  EXPECT_EQ(checked, 9);
}

// ---- no correlation: today's errors-in-variables fit ------------------------

TEST(LabCorrelated, WithoutCorrelationTheErrorsInVariablesFit) {
  for (int nc : {2, 3, 4}) {
    SCOPED_TRACE(nc);
    const int n = 9;
    Vec x(n), y(n), ux(n), uy(n);
    for (int i = 0; i < n; ++i) {
      x[i] = 1.0 + 1.1 * i;
      y[i] = 0.3 + 2.0 * x[i] - 0.04 * x[i] * x[i] + 0.002 * x[i] * x[i] * x[i] +
             0.05 * std::sin(3.0 * i);
      ux[i] = 0.02 + 0.003 * i;
      uy[i] = 0.04 + 0.002 * (n - i);
    }
    // QVXL_FIT with u(x) and u(y): GLSPFIT, tight tolerances, the same interval.
    double interval[2] = {0.0, 11.0}, tol[2] = {1e-12, 1e-14}, sigma = 0.1;
    int maxit = 200, covkind = 0, given = 3, weighting = 0, defaults = 1 + 2 + 4, st = -1;
    int ndof = 0, info[5];
    std::vector<int> keep(n, 1);
    Vec coef(nc), cov(nc * nc), covsc(nc * nc), per(n * 9), rinfo(4);
    double sres, chi2;
    double* p = per.data();
    LAB(QVXL_FIT)(&n, x.data(), y.data(), uy.data(), ux.data(), &given, &weighting, keep.data(),
                  &nc, &defaults, interval, tol, &maxit, &sigma, &covkind, coef.data(), cov.data(),
                  covsc.data(), &sres, &ndof, &chi2, p, p + n, p + 2 * n, p + 3 * n, p + 4 * n,
                  p + 5 * n, p + 6 * n, p + 7 * n, rinfo.data(), info, &st);
    ASSERT_EQ(st, 0);
    Vec v(4 * n * n, 0.0);
    for (int i = 0; i < n; ++i) {
      v[i * 2 * n + i] = ux[i] * ux[i];
      v[(n + i) * 2 * n + n + i] = uy[i] * uy[i];
    }
    const Ggm f = ggm(x, y, v, nc, QVXL_GGM_OPT_INTERVAL, 0.0, 11.0);
    ASSERT_EQ(f.istat, 0);
    for (int k = 0; k < nc; ++k)
      EXPECT_NEAR(f.coef[k], coef[k], 1e-7 * std::sqrt(cov[k * nc + k]));
    for (int k = 0; k < nc * nc; ++k) EXPECT_NEAR(f.cov[k], cov[k], 1e-6 * std::fabs(cov[0]));
    EXPECT_NEAR(f.chi2, chi2, 1e-8 * chi2);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(f.xadj[i], p[3 * n + i], 1e-7 * ux[i]);
  }
}

// ---- the ways of stating correlations --------------------------------------

TEST(LabCorrelated, DilutionChainAgainstItsPropagation) {
  // 40 -> 20 -> 10 serially, 30 straight from the stock.
  const Vec x{40.0, 20.0, 10.0, 30.0};
  const std::vector<int> parent{0, 1, 2, 0};
  const Vec rel{0.01, 0.02, 0.03, 0.04};
  const double rs = 0.005;
  const int n = 4, add = 0;
  Vec v(4 * n * n, 7.0);
  int bad = -1, st = -1;
  LAB(QVXL_GGM_DILUTION)(&n, x.data(), parent.data(), rel.data(), &rs, &add, v.data(), &bad,
                         &st);
  ASSERT_EQ(st, 0);
  auto ux = [&](int i, int j) { return v[j * 2 * n + i]; };
  const double s0 = rs * rs, s1 = s0 + 1e-4, s2 = s1 + 4e-4, s3 = s2 + 9e-4;
  EXPECT_DOUBLE_EQ(ux(0, 0), 1600.0 * s1);
  EXPECT_DOUBLE_EQ(ux(1, 1), 400.0 * s2);
  EXPECT_DOUBLE_EQ(ux(2, 2), 100.0 * s3);
  EXPECT_DOUBLE_EQ(ux(2, 0), 400.0 * s1);
  EXPECT_DOUBLE_EQ(ux(1, 2), 200.0 * s2);
  EXPECT_DOUBLE_EQ(ux(3, 2), 300.0 * s0);
  EXPECT_DOUBLE_EQ(ux(3, 3), 900.0 * (s0 + 16e-4));
  for (int i = 0; i < 2 * n; ++i)
    for (int j = 0; j < 2 * n; ++j)
      if (i >= n || j >= n) {
        EXPECT_EQ(v[j * 2 * n + i], 0.0);
      }
  // A loop and a parent out of range name the first standard that cannot
  // reach the stock, and leave V as it was.
  for (const auto& bad_parent : {std::vector<int>{0, 3, 2, 0}, std::vector<int>{0, 1, 5, 0}}) {
    Vec w(4 * n * n, 7.0);
    LAB(QVXL_GGM_DILUTION)(&n, x.data(), bad_parent.data(), rel.data(), &rs, &add, w.data(),
                           &bad, &st);
    EXPECT_EQ(st, QVXL_GGM_BAD_CHAIN);
    EXPECT_EQ(bad, bad_parent[2] == 2 ? 2 : 3);
    EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](double e) { return e == 7.0; }));
  }
}

TEST(LabCorrelated, ComponentsAreOuterProductsOfTheirSources) {
  const Vec uxind{0.1, 0.2}, uyind{0.3, 0.4}, uxsrc{1.0, 2.0}, uysrc{-3.0, 0.5};
  const Vec v = components(uxind, uyind, uxsrc, uysrc);
  const Vec u{1.0, 2.0, -3.0, 0.5}, d{0.01, 0.04, 0.09, 0.16};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_DOUBLE_EQ(v[j * 4 + i], u[i] * u[j] + (i == j ? d[i] : 0.0));
  // Adding to a given V; bad values refused with V unchanged.
  const Vec twice = components(uxind, uyind, uxsrc, uysrc, v);
  for (int k = 0; k < 16; ++k) EXPECT_DOUBLE_EQ(twice[k], 2.0 * v[k]);
  const int n = 2, ns = 1, add = 0;
  Vec w(16, 7.0);
  const Vec neg{0.1, -0.2};
  int st = -1;
  LAB(QVXL_GGM_COMPONENTS)(&n, &ns, neg.data(), uyind.data(), uxsrc.data(), uysrc.data(), &add,
                           w.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  EXPECT_EQ(w[0], 7.0);
}

// ---- inverse prediction ------------------------------------------------------

struct Inv {
  int istat = -1;
  Vec x, covx, ux;
};
Inv inverse(const Ggm& f, int nstd, const Vec& ys, const Vec& vs, const Vec* czs) {
  Inv r;
  const int m = static_cast<int>(ys.size()), nc = static_cast<int>(f.coef.size());
  const int shared = czs ? 1 : 0;
  r.x.assign(m, 0.0);
  r.covx.assign(m * m, 0.0);
  r.ux.assign(m, 0.0);
  const Vec none{0.0};
  LAB(QVXL_GGM_INVERSE)(&nc, f.coef.data(), f.cov.data(), &f.interval[0], &f.interval[1], &nstd,
                        f.gain.data(), &m, ys.data(), vs.data(), &shared,
                        czs ? czs->data() : none.data(), r.x.data(), r.covx.data(), r.ux.data(),
                        &r.istat);
  return r;
}

TEST(LabCorrelated, InverseWithoutSharedPartsIsTheJointCovariance) {
  const Vec v = components_v(kX8);
  const Ref& r = refs()[4];  // components, quadratic
  const Ggm f = ggm(kX8, r.y, v, r.nc, QVXL_GGM_OPT_INTERVAL, r.lo, r.hi);
  ASSERT_EQ(f.istat, 0);
  const Vec ys{2.0, 5.0, 9.0};
  const Vec uy{0.03, 0.02, 0.05};
  Vec vs(9, 0.0);
  for (int s = 0; s < 3; ++s) vs[s * 3 + s] = uy[s] * uy[s];
  const Inv a = inverse(f, 8, ys, vs, nullptr);
  ASSERT_EQ(a.istat, 0);
  // Round trip: the curve at each result gives its response back.
  const int nc = r.nc, three = 3, what = 1, extend = 0;
  Vec yb(3), dy(3), u(3);
  int st = -1;
  LAB(QVXL_CURVE)(&nc, f.coef.data(), f.cov.data(), &f.interval[0], &f.interval[1], &what, &extend,
                  &three, a.x.data(), yb.data(), dy.data(), u.data(), &st);
  ASSERT_EQ(st, 0);
  for (int s = 0; s < 3; ++s) EXPECT_NEAR(yb[s], ys[s], 1e-12 * std::fabs(ys[s]));
  // The covariance equals QVXL_JOINT_COV's of the same readings.
  const int mode = 1, nw = 1;
  Vec S(3 * nc), D(3), out(9), value(1), w(3);
  LAB(QVXL_JOINT_COV)(&nc, f.coef.data(), f.cov.data(), &f.interval[0], &f.interval[1], &three,
                      a.x.data(), uy.data(), &mode, &nw, w.data(), S.data(), D.data(), out.data(),
                      value.data(), &st);
  ASSERT_EQ(st, 0);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(a.covx[k], out[k], 1e-13 * out[0]);
  for (int s = 0; s < 3; ++s) EXPECT_DOUBLE_EQ(a.ux[s], std::sqrt(a.covx[s * 3 + s]));
}

TEST(LabCorrelated, SharedDriftAgainstRefitsByFiniteDifferences) {
  // Standards with an independent part and a drift shared by every y; one
  // sample read on the same instrument shares that drift.
  const int n = 6, nc = 3;
  const Vec x{1.0, 2.0, 3.5, 5.0, 6.0, 8.0};
  Vec y(n);
  // On the curve, so that the fit's residuals vanish and its first-order
  // sensitivities are the exact derivatives the refits measure.
  for (int i = 0; i < n; ++i) y[i] = 0.4 + 1.3 * x[i] - 0.03 * x[i] * x[i];
  const double ud = 0.05;
  const Vec uxind(n, 0.02), uyind(n, 0.03), uxsrc(n, 0.0), uysrc(n, ud);
  const Vec v = components(uxind, uyind, uxsrc, uysrc);
  const Ggm f = ggm(x, y, v, nc, QVXL_GGM_OPT_INTERVAL, 0.0, 9.0);
  ASSERT_EQ(f.istat, 0);
  const double ys0 = 6.0, us = 0.04;
  Vec czs(2 * n, 0.0);
  for (int i = 0; i < n; ++i) czs[n + i] = ud * ud;
  const Vec vs{us * us + ud * ud};
  // The same from the named source through QVXL_GGM_SHARED.
  {
    const int m = 1, ns = 1;
    Vec ustd(2 * n, 0.0), vs2(1, NAN), czs2(2 * n, NAN);
    for (int i = 0; i < n; ++i) ustd[n + i] = ud;
    const Vec usmp{ud}, uyind{us};
    int st = -1;
    LAB(QVXL_GGM_SHARED)(&n, &m, &ns, ustd.data(), usmp.data(), uyind.data(), vs2.data(),
                         czs2.data(), &st);
    ASSERT_EQ(st, 0);
    EXPECT_DOUBLE_EQ(vs2[0], vs[0]);
    for (int i = 0; i < 2 * n; ++i) EXPECT_DOUBLE_EQ(czs2[i], czs[i]);
  }
  const Inv a = inverse(f, n, {ys0}, vs, &czs);
  ASSERT_EQ(a.istat, 0);
  // Independent: x_s as a function of (z, y_s), differentiated by refitting.
  auto xs = [&](const Vec& xx, const Vec& yy, double ysv) {
    const Ggm g = ggm(xx, yy, v, nc, QVXL_GGM_OPT_INTERVAL, 0.0, 9.0);
    const Vec one{0.0};
    return inverse(g, n, {ysv}, one, nullptr).x[0];
  };
  Vec grad(2 * n + 1);
  for (int k = 0; k < 2 * n + 1; ++k) {
    const double h = 1e-4;
    Vec xp = x, xm = x, yp = y, ym = y;
    double sp = ys0, sm = ys0;
    if (k < n) {
      xp[k] += h;
      xm[k] -= h;
    } else if (k < 2 * n) {
      yp[k - n] += h;
      ym[k - n] -= h;
    } else {
      sp += h;
      sm -= h;
    }
    grad[k] = (xs(xp, yp, sp) - xs(xm, ym, sm)) / (2 * h);
  }
  // The joint covariance of (z, y_s) and the propagated variance.
  const int m = 2 * n + 1;
  auto sig = [&](int i, int j) {
    if (i < 2 * n && j < 2 * n) return v[j * 2 * n + i];
    if (i == 2 * n && j == 2 * n) return vs[0];
    const int k = i < 2 * n ? i : j;
    return czs[k];
  };
  double var = 0.0;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) var += grad[i] * sig(i, j) * grad[j];
  EXPECT_NEAR(a.ux[0], std::sqrt(var), 1e-6 * a.ux[0]);
  // Ignoring the shared drift changes the answer (here: it overstates u(x)).
  const Inv b = inverse(f, n, {ys0}, vs, nullptr);
  EXPECT_GT(b.ux[0], a.ux[0] * 1.05);
}

// ---- statuses -------------------------------------------------------------

TEST(LabCorrelated, StatusesNameTheStandard) {
  const int n = 5;
  const Vec x{1.0, 2.0, 3.0, 4.0, 5.0}, y{1.1, 1.9, 3.2, 3.9, 5.1};
  Vec v(4 * n * n, 0.0);
  for (int i = 0; i < 2 * n; ++i) v[i * 2 * n + i] = 0.01;
  {  // the y of standard 4 duplicates that of standard 3: singular there
    Vec w = v;
    w[(n + 3) * 2 * n + n + 2] = w[(n + 2) * 2 * n + n + 3] = 0.01;
    const Ggm f = ggm(x, y, w, 2);
    EXPECT_EQ(f.istat, QVXL_GGM_NOT_POSITIVE);
    EXPECT_EQ(f.info[1], 4);
    EXPECT_EQ(f.info[2], 2);
    EXPECT_TRUE(std::isnan(f.coef[0]));
  }
  {  // a negative variance of standard 2's x
    Vec w = v;
    w[1 * 2 * n + 1] = -0.01;
    const Ggm f = ggm(x, y, w, 2);
    EXPECT_EQ(f.istat, QVXL_GGM_NOT_POSITIVE);
    EXPECT_EQ(f.info[1], 2);
    EXPECT_EQ(f.info[2], 1);
  }
  {  // not symmetric between standard 3's x and standard 5's y
    Vec w = v;
    w[(n + 4) * 2 * n + 2] = 0.001;
    const Ggm f = ggm(x, y, w, 2);
    EXPECT_EQ(f.istat, QVXL_GGM_NOT_SYMMETRIC);
    EXPECT_EQ(f.info[1], 3);
    EXPECT_EQ(f.info[2], 1);
  }
  struct Case {
    Vec x, y, v;
    int nc, defaults;
    double lo, hi;
    int maxit, status;
  };
  Vec vnan = v;
  vnan[7] = NAN;
  const Vec same(n, 2.0);
  Vec vy = v;  // exact x: the default interval of one x stays empty
  for (int i = 0; i < n; ++i) vy[i * 2 * n + i] = 0.0;
  const std::vector<Case> cases = {
      {x, y, v, 11, 0, 0, 0, 100, QVXL_BAD_NCOEF},
      {x, y, v, 0, 0, 0, 0, 100, QVXL_BAD_NCOEF},
      {{1.0}, {1.0}, {0.01, 0.0, 0.0, 0.01}, 2, 0, 0, 0, 100, QVXL_BAD_COUNT},
      {x, y, v, 2, 16, 0, 0, 100, QVXL_BAD_CODE},
      {x, y, vnan, 2, 0, 0, 0, 100, QVXL_BAD_VALUE},
      {x, y, v, 2, QVXL_GGM_OPT_INTERVAL, 3.0, 3.0, 100, QVXL_BAD_INTERVAL},
      {x, y, v, 2, QVXL_GGM_OPT_MAXIT, 0, 0, 0, QVXL_BAD_VALUE},
      {same, y, vy, 2, 0, 0, 0, 100, QVXL_GGM_NO_SPREAD},
      {same, y, v, 2, 0, 0, 0, 100, QVXL_GGM_DEGENERATE},
      {same, y, v, 2, QVXL_GGM_OPT_INTERVAL, 0.0, 4.0, 100, QVXL_GGM_DEGENERATE},
  };
  for (const Case& c : cases) {
    const Ggm f = ggm(c.x, c.y, c.v, c.nc, c.defaults, c.lo, c.hi, c.maxit);
    EXPECT_EQ(f.istat, c.status);
    if (!f.coef.empty()) {
      EXPECT_TRUE(std::isnan(f.coef[0]));
    }
  }
  // One iteration of a curved fit does not converge: every output written.
  const Vec yc{1.0, 4.2, 8.8, 16.1, 25.3};
  const Ggm f = ggm(x, yc, v, 3, QVXL_GGM_OPT_MAXIT, 0, 0, 1);
  EXPECT_EQ(f.istat, QVXL_GGM_NO_CONVERGENCE);
  EXPECT_EQ(f.info[0], 1);
  EXPECT_TRUE(std::isfinite(f.coef[2]) && std::isfinite(f.cov[8]) && std::isfinite(f.chi2));
  // Every status of the family has a text.
  for (int code = QVXL_GGM_NOT_POSITIVE; code <= QVXL_GGM_INCONSISTENT; ++code) {
    char buf[256];
    const int kind = 1, len = static_cast<int>(sizeof buf);
    int needed = 0, st = -1;
    LAB(QVXL_TEXT)(&kind, &code, buf, &len, &needed, &st);
    EXPECT_EQ(st, 0) << code;
    EXPECT_GT(needed, 20) << code;
  }
}

TEST(LabCorrelated, InverseStatuses) {
  const Vec coef{2.0, 1.0}, cov{0.01, 0.0, 0.0, 0.01}, gain(2 * 2 * 3, 0.0);
  const double lo = 0.0, hi = 4.0, nan = NAN;
  const int nc = 2, nstd = 3, m = 1;
  auto run = [&](int ncv, double xmax, int mm, double ys, double vs, int shared, double czs) {
    Vec x(1, 0.0), c(1, 0.0), u(1, 0.0);
    Vec z(6, czs);
    int st = -1;
    LAB(QVXL_GGM_INVERSE)(&ncv, coef.data(), cov.data(), &lo, &xmax, &nstd, gain.data(), &mm,
                          &ys, &vs, &shared, z.data(), x.data(), c.data(), u.data(), &st);
    return st;
  };
  EXPECT_EQ(run(nc, hi, m, 1.0, 0.01, 0, 0.0), 0);
  EXPECT_EQ(run(1, hi, m, 1.0, 0.01, 0, 0.0), QVXL_BAD_NCOEF);
  EXPECT_EQ(run(nc, lo, m, 1.0, 0.01, 0, 0.0), QVXL_BAD_INTERVAL);
  EXPECT_EQ(run(nc, hi, 0, 1.0, 0.01, 0, 0.0), QVXL_BAD_COUNT);
  EXPECT_EQ(run(nc, hi, m, 1.0, 0.01, 3, 0.0), QVXL_BAD_CODE);
  EXPECT_EQ(run(nc, hi, m, nan, 0.01, 0, 0.0), QVXL_BAD_VALUE);
  EXPECT_EQ(run(nc, hi, m, 1.0, -0.01, 0, 0.0), QVXL_BAD_VALUE);
  EXPECT_EQ(run(nc, hi, m, 1.0, 0.01, 1, nan), QVXL_BAD_VALUE);
}

TEST(LabCorrelated, IgnoringCorrelationsIsTheFitOfTheDiagonal) {
  const Vec v = components_v(kX8);
  Vec d(v.size(), 0.0);
  for (int i = 0; i < 16; ++i) d[i * 16 + i] = v[i * 16 + i];
  const Ref& r = refs()[5];
  const Ggm a = ggm(kX8, r.y, v, r.nc, QVXL_GGM_OPT_INTERVAL | QVXL_GGM_IGNORE, r.lo, r.hi);
  const Ggm b = ggm(kX8, r.y, d, r.nc, QVXL_GGM_OPT_INTERVAL, r.lo, r.hi);
  ASSERT_EQ(a.istat, 0);
  EXPECT_EQ(a.coef, b.coef);
  EXPECT_EQ(a.cov, b.cov);
  EXPECT_EQ(a.chi2, b.chi2);
  // ... and differs from the fit with the correlations.
  EXPECT_GT(std::fabs(a.coef[0] - r.coef[0]), 1e-6);
  // Inverse prediction ignoring correlations: VS's diagonal, nothing shared.
  const Vec ys{3.0, 7.0};
  const Vec vs{0.0009, 0.0004, 0.0004, 0.0016}, vd{0.0009, 0.0, 0.0, 0.0016};
  const Vec czs(2 * 8 * 2, 0.0001);
  Inv i2 = inverse(a, 8, ys, vs, &czs);
  const int m = 2, nc = r.nc, nstd = 8, two = 2;
  Inv j;
  j.x.assign(2, 0.0);
  j.covx.assign(4, 0.0);
  j.ux.assign(2, 0.0);
  LAB(QVXL_GGM_INVERSE)(&nc, a.coef.data(), a.cov.data(), &a.interval[0], &a.interval[1], &nstd,
                        a.gain.data(), &m, ys.data(), vs.data(), &two, czs.data(), j.x.data(),
                        j.covx.data(), j.ux.data(), &j.istat);
  const Inv k = inverse(a, 8, ys, vd, nullptr);
  ASSERT_EQ(j.istat, 0);
  EXPECT_EQ(j.covx, k.covx);
  EXPECT_NE(i2.covx, k.covx);
}

TEST(LabCorrelated, ExactXIsTheWeightedLeastSquaresFit) {
  // Ux and Uxy zero: the x values are exact and the fit is generalized least
  // squares in y; with Uy diagonal that is OLSPFIT's weighted fit.
  for (int nc : {1, 2, 4}) {
    SCOPED_TRACE(nc);
    const int n = 7;
    Vec x(n), y(n), uy(n);
    for (int i = 0; i < n; ++i) {
      x[i] = 0.5 + 1.3 * i;
      y[i] = 1.0 + 0.7 * x[i] - 0.02 * x[i] * x[i] + 0.03 * std::sin(2.0 * i);
      uy[i] = 0.02 + 0.004 * i;
    }
    double interval[2] = {0.0, 9.0}, tol[2] = {0, 0}, sigma = 0, sres, chi2;
    int maxit = 0, covkind = 0, given = 1, weighting = 0, defaults = 1, st = -1, ndof, info[5];
    std::vector<int> keep(n, 1);
    Vec coef(nc), cov(nc * nc), covsc(nc * nc), per(8 * n), rinfo(4);
    double* p = per.data();
    LAB(QVXL_FIT)(&n, x.data(), y.data(), uy.data(), uy.data(), &given, &weighting, keep.data(),
                  &nc, &defaults, interval, tol, &maxit, &sigma, &covkind, coef.data(), cov.data(),
                  covsc.data(), &sres, &ndof, &chi2, p, p + n, p + 2 * n, p + 3 * n, p + 4 * n,
                  p + 5 * n, p + 6 * n, p + 7 * n, rinfo.data(), info, &st);
    ASSERT_EQ(st, 0);
    Vec v(4 * n * n, 0.0);
    for (int i = 0; i < n; ++i) v[(n + i) * 2 * n + n + i] = uy[i] * uy[i];
    const Ggm f = ggm(x, y, v, nc, QVXL_GGM_OPT_INTERVAL, 0.0, 9.0);
    ASSERT_EQ(f.istat, 0);
    for (int k = 0; k < nc; ++k) EXPECT_NEAR(f.coef[k], coef[k], 1e-12 * std::fabs(coef[0]));
    for (int k = 0; k < nc * nc; ++k) EXPECT_NEAR(f.cov[k], cov[k], 1e-12 * std::fabs(cov[0]));
    EXPECT_NEAR(f.chi2, chi2, 1e-10 * chi2);
    EXPECT_EQ(f.xadj, x);
    for (int k = 0; k < nc * n; ++k) EXPECT_EQ(f.gain[k], 0.0);  // no sensitivity to exact x
  }
}

}  // namespace

// ---- the factorization of V, where LAPACK works in blocks -------------------
// Eighty standards with exact x and responses sharing one common error
// (V = s2 I + c 1 1'): V^-1 = (I - c/(s2 + n c) 1 1') / s2 in closed form,
// so the straight line of generalized least squares follows from 2 x 2
// normal equations in long double, apart from the library's factorization.
TEST(LabCorrelated, SharedErrorOfManyStandardsAgainstTheClosedFormInverse) {
  const int n = 80;
  const double s2 = 0.04, c = 0.09;
  Vec x(n), y(n), v(4 * n * n, 0.0);
  for (int i = 0; i < n; ++i) {
    x[i] = 0.5 + 0.25 * i;
    y[i] = 2.0 + 1.5 * x[i] + 0.3 * std::sin(1.7 * i);
    for (int j = 0; j < n; ++j) v[(n + j) * 2 * n + n + i] = c + (i == j ? s2 : 0.0);
  }
  // G' V^-1 G and G' V^-1 y with G = [1, x].
  long double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += static_cast<long double>(x[i]) * x[i];
    sxy += static_cast<long double>(x[i]) * y[i];
  }
  const long double k = c / (s2 + n * c);
  const long double a11 = (n - k * n * n) / s2, a12 = (sx - k * n * sx) / s2,
                    a22 = (sxx - k * sx * sx) / s2;
  const long double b1 = (sy - k * n * sy) / s2, b2 = (sxy - k * sx * sy) / s2;
  const long double det = a11 * a22 - a12 * a12;
  const long double i0 = (a22 * b1 - a12 * b2) / det, i1 = (a11 * b2 - a12 * b1) / det;
  const long double var1 = a11 / det;  // u^2 of the slope
  const Ggm f = ggm(x, y, v, 2);
  ASSERT_EQ(f.istat, 0);
  double chi2 = 0.0;  // r' V^-1 r from the closed form
  long double sr = 0, srr = 0;
  for (int i = 0; i < n; ++i) {
    const long double want = i0 + i1 * x[i];
    EXPECT_NEAR(f.fitted[i], static_cast<double>(want), 1e-12 * std::fabs(static_cast<double>(want)))
        << i;
    const long double r = y[i] - want;
    sr += r;
    srr += r * r;
  }
  chi2 = static_cast<double>((srr - k * sr * sr) / s2);
  EXPECT_NEAR(f.chi2, chi2, 1e-9 * chi2);
  // The slope from the fitted line's ends.
  const double slope = (f.fitted[n - 1] - f.fitted[0]) / (x[n - 1] - x[0]);
  EXPECT_NEAR(slope, static_cast<double>(i1), 1e-12);
  // The coefficients are scaled: c1 = slope (xmax - xmin) / 2, so
  // u^2(c1) = u^2(slope) ((xmax - xmin) / 2)^2.
  const double half = (f.interval[1] - f.interval[0]) / 2.0;
  EXPECT_NEAR(f.cov[3], static_cast<double>(var1) * half * half, 1e-10 * f.cov[3]);
}

// Statuses deep in V (past LAPACK's block size): a negative variance, and
// pairs of fully correlated responses whose Schur pivot is zero in exact
// arithmetic but may round to a tiny positive number; each names the later
// standard of the pair.
TEST(LabCorrelated, StatusesNameTheStandardDeepInALargeMatrix) {
  const int n = 80;
  Vec x(n), y(n), v(4 * n * n, 0.0);
  for (int i = 0; i < n; ++i) {
    x[i] = 1.0 + i;
    y[i] = 0.5 + 2.0 * x[i];
    v[i * 2 * n + i] = 1e-4;
    v[(n + i) * 2 * n + n + i] = 0.01;
  }
  {
    Vec w = v;
    w[69 * 2 * n + 69] = -1e-4;  // standard 70's x
    const Ggm f = ggm(x, y, w, 2);
    EXPECT_EQ(f.istat, QVXL_GGM_NOT_POSITIVE);
    EXPECT_EQ(f.info[1], 70);
    EXPECT_EQ(f.info[2], 1);
  }
  struct Pair {
    int first;  // 0-based; the pair is (first, first + 1)
    double u1, u2;
    bool in_x;
  };
  const std::vector<Pair> pairs = {{40, 0.1, 0.3, false}, {66, 0.07, 0.11, false},
                                   {71, 0.013, 0.029, true}, {3, 0.3, 0.7, false},
                                   {77, 0.17, 0.19, true},  {58, 1.1, 0.9, false}};
  for (const Pair& p : pairs) {
    Vec w = v;
    const int o = p.in_x ? 0 : n, a = o + p.first, b = a + 1;
    w[a * 2 * n + a] = p.u1 * p.u1;
    w[b * 2 * n + b] = p.u2 * p.u2;
    w[a * 2 * n + b] = w[b * 2 * n + a] = p.u1 * p.u2;
    const Ggm f = ggm(x, y, w, 2);
    EXPECT_EQ(f.istat, QVXL_GGM_NOT_POSITIVE) << p.first;
    EXPECT_EQ(f.info[1], p.first + 2) << p.first;
    EXPECT_EQ(f.info[2], p.in_x ? 1 : 2) << p.first;
  }
}
