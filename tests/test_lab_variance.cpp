// Variance models of the laboratory layer, through the exported names: each
// model's fit against closed forms or the likelihood's own stationarity
// computed here, the Satterthwaite degrees of freedom, the choice on data whose
// replicate variances follow one model exactly, reading back with a model
// against QVXL_READBACK with the same u(y), the blank's scatter, and the
// statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "lab_library.h"
#include "quorvex_lab.h"
#include "stats/distributions.h"

namespace {

using quorvex::lab::Dist;
using quorvex::lab::quantile;
using quorvex::lab::upper_tail;

struct VFit {
  int st = -1, chosen = -9;
  double par[2], pcov[4], loglik[4], test[2];
  int ndof[2];
  std::vector<double> sd, mu;
};

VFit vfit(const std::vector<double>& x, const std::vector<double>& y, int model,
          double alpha = 0.05) {
  VFit f;
  const int n = static_cast<int>(x.size());
  f.sd.assign(x.size(), -1.0);
  f.mu.assign(x.size(), -1.0);
  LAB(QVXL_VARIANCE_FIT)(&n, x.data(), y.data(), &model, &alpha, &f.chosen, f.par, f.pcov,
                         f.loglik, f.test, f.ndof, f.sd.data(), f.mu.data(), &f.st);
  return f;
}

// Three readings mu - d, mu, mu + d at each level: s^2 = d^2 exactly.
void triples(const std::vector<double>& lv, const std::vector<double>& mu,
             const std::vector<double>& sd, std::vector<double>& x, std::vector<double>& y) {
  x.clear();
  y.clear();
  for (std::size_t i = 0; i < lv.size(); ++i)
    for (int k = -1; k <= 1; ++k) {
      x.push_back(lv[i]);
      y.push_back(mu[i] + k * sd[i]);
    }
}

// The log-likelihood of the groups' scatter, computed here.
double loglik(const std::vector<double>& s2, const std::vector<double>& v, double nu) {
  double l = 0.0;
  for (std::size_t g = 0; g < s2.size(); ++g) l -= 0.5 * nu * (std::log(v[g]) + s2[g] / v[g]);
  return l;
}

const std::vector<double> kLv = {1, 6, 36, 216, 1296, 7776};

TEST(LabVariance, ConstantAndProportionalAreClosedForms) {
  std::vector<double> x, y;
  const std::vector<double> d = {0.04, 0.05, 0.06, 0.05, 0.07, 0.03};
  triples(kLv, kLv, d, x, y);
  double pooled = 0.0, prop = 0.0;
  for (std::size_t g = 0; g < d.size(); ++g) {
    pooled += d[g] * d[g] / 6.0;  // ISO 5725-2: sum nu s^2 / sum nu, nu = 2 each (the readings near 7776
  // carry the variances to about 1e-11)
    prop += d[g] * d[g] / (kLv[g] * kLv[g]) / 6.0;
  }
  const VFit c = vfit(x, y, 0);
  ASSERT_EQ(c.st, 0);
  EXPECT_EQ(c.chosen, 0);
  EXPECT_NEAR(c.par[0] * c.par[0], pooled, 1e-10 * pooled);
  EXPECT_EQ(c.par[1], 0.0);
  // Var(s^2) = 2 sigma^4 / nu
  EXPECT_NEAR(c.pcov[0], 2.0 * c.par[0] * c.par[0] * c.par[0] * c.par[0] / 12.0, 1e-15 * c.pcov[0]);
  EXPECT_EQ(c.ndof[0], 12);
  EXPECT_EQ(c.ndof[1], 6);
  EXPECT_TRUE(std::isnan(c.test[0]) && std::isnan(c.loglik[2]));
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(c.sd[i], c.par[0]);
    EXPECT_NEAR(c.mu[i], x[i], 1e-12 * x[i]);
  }
  std::vector<double> s2, v;
  for (double e : d) s2.push_back(e * e), v.push_back(pooled);
  EXPECT_NEAR(c.loglik[0], loglik(s2, v, 2.0), 1e-9);

  const VFit p = vfit(x, y, 1);
  ASSERT_EQ(p.st, 0);
  EXPECT_NEAR(p.par[1] * p.par[1], prop, 1e-10 * prop);
  EXPECT_NEAR(p.pcov[3], 2.0 * prop * prop / 12.0, 1e-12 * prop * prop);
  EXPECT_EQ(p.par[0], 0.0);
  EXPECT_EQ(p.pcov[0], 0.0);

  // The constant model's sigma has the replicate degrees of freedom exactly.
  const int model = 0, npts = 2;
  const double xs[2] = {1.0, 500.0}, mus[2] = {0, 0};
  double sd[2], dof[2];
  int st = -1;
  LAB(QVXL_VARIANCE_AT)(&model, c.par, c.pcov, &npts, xs, mus, sd, dof, &st);
  ASSERT_EQ(st, 0);
  EXPECT_NEAR(dof[0], 12.0, 1e-9);
  EXPECT_NEAR(dof[1], 12.0, 1e-9);
  EXPECT_EQ(sd[0], c.par[0]);
}

// The floor and power fits: the score (d l / d theta) vanishes at the
// estimate, the log-likelihood is the one computed here, and the covariance is
// the inverse of the Fisher information formed here.
TEST(LabVariance, TwoParameterFitsMaximizeTheLikelihood) {
  std::vector<double> x, y;
  const std::vector<double> d = {0.9, 1.3, 0.8, 2.9, 14.0, 70.0};
  triples(kLv, kLv, d, x, y);
  for (int model : {2, 3}) {
    const VFit f = vfit(x, y, model);
    ASSERT_EQ(f.st, 0) << model;
    std::vector<double> s2, v, z1, z2;
    for (std::size_t g = 0; g < d.size(); ++g) {
      s2.push_back(d[g] * d[g]);
      const double lx = std::log(kLv[g]);
      if (model == 2) {
        v.push_back(f.par[0] * f.par[0] + f.par[1] * f.par[1] * kLv[g] * kLv[g]);
        z1.push_back(1.0);
        z2.push_back(kLv[g] * kLv[g]);
      } else {
        v.push_back(f.par[0] * f.par[0] * std::exp(2.0 * f.par[1] * lx));
        z1.push_back(2.0 * v.back());
        z2.push_back(2.0 * v.back() * lx);
      }
    }
    EXPECT_NEAR(f.loglik[model], loglik(s2, v, 2.0), 1e-9) << model;
    double sc1 = 0, sc2 = 0, i11 = 0, i12 = 0, i22 = 0;
    for (std::size_t g = 0; g < d.size(); ++g) {
      const double w = 1.0 / (v[g] * v[g]);
      sc1 += (s2[g] - v[g]) * w * z1[g];
      sc2 += (s2[g] - v[g]) * w * z2[g];
      i11 += w * z1[g] * z1[g];
      i12 += w * z1[g] * z2[g];
      i22 += w * z2[g] * z2[g];
    }
    // Relative to the information's scale, the score is nought.
    EXPECT_LT(std::abs(sc1) / std::sqrt(i11), 1e-5) << model;
    EXPECT_LT(std::abs(sc2) / std::sqrt(i22), 1e-5) << model;
    // The floor's covariance is the information's inverse taken N / (N - 1),
    // N = 12 replicate degrees of freedom; the power model's is the inverse.
    const double det = (i11 * i22 - i12 * i12) / (model == 2 ? 12.0 / 11.0 : 1.0);  // nu / 2 = 1
    EXPECT_NEAR(f.pcov[0], i22 / det, 1e-6 * i22 / det) << model;
    EXPECT_NEAR(f.pcov[3], i11 / det, 1e-6 * i11 / det) << model;
    EXPECT_NEAR(f.pcov[1], -i12 / det, 1e-6 * std::abs(i12 / det)) << model;
    // The scatter given at the standards: the floor's is the model's; the
    // power model's carries exp(2/N - Var d / 2), d = ln sigma^2's error,
    // Var d = 4 g' Cov g with g = (1, ln mu), N = 12 counted here (the fit
    // reads 1/N off the covariance).
    for (std::size_t i = 0; i < x.size(); ++i) {
      const std::size_t g = i / 3;
      double want = v[g];
      if (model == 3) {
        const double lx = std::log(kLv[g]);
        const double vd = 4.0 * (i22 - 2.0 * i12 * lx + i11 * lx * lx) / det;
        want *= std::exp(2.0 / 12.0 - 0.5 * vd);
      }
      EXPECT_NEAR(f.sd[i], std::sqrt(want), 1e-6 * std::sqrt(want)) << model << " " << i;
    }
    // The one-parameter models never exceed the two-parameter ones nesting them.
    EXPECT_GE(f.loglik[2] + 1e-9, f.loglik[0]);
    EXPECT_GE(f.loglik[2] + 1e-9, f.loglik[1]);
    EXPECT_GE(f.loglik[3] + 1e-9, f.loglik[0]);
  }
}

// Replicate variances that follow one model exactly: the choice names it; the
// likelihood ratio and its p are those of the log-likelihoods returned.
TEST(LabVariance, ChoiceNamesTheModelTheScatterFollows) {
  struct Case {
    int model;
    double a, b;
  };
  for (const Case& k : {Case{0, 0.05, 0.0}, Case{1, 0.0, 0.02}, Case{2, 1.0, 0.01},
                        Case{3, 0.05, 0.5}}) {
    std::vector<double> sd, x, y;
    for (double v : kLv) {
      const double s2 = k.model == 0   ? k.a * k.a
                        : k.model == 1 ? k.b * k.b * v * v
                        : k.model == 2 ? k.a * k.a + k.b * k.b * v * v
                                       : k.a * k.a * std::pow(v, 2.0 * k.b);
      sd.push_back(std::sqrt(s2));
    }
    triples(kLv, kLv, sd, x, y);
    const VFit f = vfit(x, y, QVXL_VAR_AUTO);
    ASSERT_EQ(f.st, 0);
    EXPECT_EQ(f.chosen, k.model);
    const double base = std::max(f.loglik[0], f.loglik[1]);
    const double alt = std::max(f.loglik[2], f.loglik[3]);
    EXPECT_NEAR(f.test[0], std::max(0.0, 2.0 * (alt - base)), 1e-9 * (1 + f.test[0]));
    if (f.test[0] > 0 && f.test[0] < 700) {
      EXPECT_NEAR(f.test[1], upper_tail(Dist::ChiSquared, f.test[0], 1.0), 1e-12);
    }
    if (k.model >= 2) {
      EXPECT_NEAR(f.par[0], k.a, 1e-6 * k.a);
      EXPECT_NEAR(f.par[1], k.b, 1e-6 * k.b);
    }
    // A stricter level keeps the one-parameter model where the test's p lies above it.
    const VFit strict = vfit(x, y, QVXL_VAR_AUTO, f.test[1] > 0 ? f.test[1] * 0.5 : 1e-300);
    if (k.model >= 2 && f.test[1] > 0) {
      EXPECT_LT(strict.chosen, 2);
    }
  }
}

// Reading back with the constant model: u(y) = a / sqrt(m), every root and
// uncertainty those of QVXL_READBACK with that stated u(y), and the degrees of
// freedom the replicates' (every part of u(x) is proportional to a^2).
TEST(LabVariance, ReadbackWithTheConstantModelMatchesStatedReadback) {
  std::vector<double> x, y;
  const std::vector<double> d = {0.04, 0.05, 0.06, 0.05, 0.07, 0.03};
  const std::vector<double> lv = {1, 2, 3, 4, 5, 6}, mu = {1.1, 2.0, 3.2, 3.9, 5.1, 6.0};
  triples(lv, mu, d, x, y);
  const VFit c = vfit(x, y, 0);
  ASSERT_EQ(c.st, 0);
  // A line through the means with weights 1/a: here by plain sums (equal weights).
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) sx += x[i], sy += y[i];
  for (std::size_t i = 0; i < x.size(); ++i) {
    sxx += (x[i] - sx / n) * (x[i] - sx / n);
    sxy += (x[i] - sx / n) * (y[i] - sy / n);
  }
  const double b = sxy / sxx, a0 = sy / n - b * sx / n, s2 = c.par[0] * c.par[0];
  // Chebyshev form on [1, 6]: p = c0/2 + c1 t, t = (2x - 7)/5.
  const double coef[2] = {2.0 * (a0 + 3.5 * b), 2.5 * b};
  // Var(c0/2 + c1 t) from Var(a0 + b x): the line's covariance mapped.
  const double vb = s2 / sxx, va = s2 / n + (sx / n) * (sx / n) * vb, cab = -(sx / n) * vb;
  const double vmid = va + 2 * 3.5 * cab + 3.5 * 3.5 * vb;  // Var(a0 + 3.5 b)
  const double cov[4] = {4 * vmid, 2 * 2.5 * (cab + 3.5 * vb), 2 * 2.5 * (cab + 3.5 * vb),
                         6.25 * vb};
  const int ncoef = 2, nstd = static_cast<int>(x.size()), npts = 3, haslim = 0, ngrid = 100;
  const double xmin = 1, xmax = 6, level = 0.95, tol = 0, lim[2] = {0, 0}, xr[2] = {1, 6};
  const std::vector<double> ys = {2.5, 4.4, 9.0}, repl = {1, 3, 2};
  std::vector<double> roots(3), ur(3), uy(3), uc(3), dof(3), k(3), U(3), lo(3), hi(3), xe(3),
      ue(3);
  std::vector<int> nr(3), src(3), fl(3);
  int st = -1;
  const int model = 0;
  LAB(QVXL_VARIANCE_READBACK)(&ncoef, coef, cov, &xmin, &xmax, &model, c.par, c.pcov, &nstd,
                              x.data(), c.mu.data(), xr, &haslim, lim, &npts, ys.data(),
                              repl.data(), &level, &ngrid, &tol, nr.data(), roots.data(),
                              ur.data(), uy.data(), src.data(), uc.data(), dof.data(), k.data(),
                              U.data(), lo.data(), hi.data(), xe.data(), ue.data(), fl.data(),
                              &st);
  ASSERT_EQ(st, 0);
  // The same through QVXL_READBACK with u(y) stated.
  std::vector<double> uys = {c.par[0], c.par[0] / std::sqrt(3.0), c.par[0] / std::sqrt(2.0)};
  std::vector<double> roots2(3), ur2(3), uy2(3), uc2(3), dof2(3), k2(3), U2(3), lo2(3), hi2(3),
      xe2(3), ue2(3);
  std::vector<int> nr2(3), src2(3), fl2(3);
  const int covkind = 0, ndof = 10, weighting = 0, stated = 1, uymode = 0, extrap = 0;
  const double sres = 1.0;
  int st2 = -1;
  LAB(QVXL_READBACK)(&ncoef, coef, cov, &xmin, &xmax, &covkind, &ndof, &sres, &weighting,
                     &stated, xr, &haslim, lim, &npts, ys.data(), &uymode, uys.data(),
                     repl.data(), &level, &ngrid, &tol, &extrap, nr2.data(), roots2.data(),
                     ur2.data(), uy2.data(), src2.data(), uc2.data(), dof2.data(), k2.data(),
                     U2.data(), lo2.data(), hi2.data(), xe2.data(), ue2.data(), fl2.data(),
                     &st2);
  ASSERT_EQ(st2, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(nr[i], 1);
    EXPECT_EQ(roots[i], roots2[i]);
    EXPECT_NEAR(uy[i], uys[i], 1e-15);
    EXPECT_NEAR(ur[i], ur2[i], 1e-14);
    EXPECT_EQ(src[i], QVXL_UYSRC_MODEL);
    EXPECT_NEAR(dof[i], 12.0, 1e-9);
    EXPECT_NEAR(k[i], quantile(Dist::StudentT, 0.975, 12.0), 1e-12);
    EXPECT_NEAR(U[i], k[i] * ur[i], 1e-15);
    EXPECT_TRUE(lo[i] < roots[i] && roots[i] < hi[i]);
    EXPECT_LT(lo[i], lo2[i]);  // t beyond the normal: a wider interval
  }
  EXPECT_EQ(nr[2], 0);  // above the curve: no root, flagged as QVXL_READBACK flags it
  EXPECT_EQ(fl[2], fl2[2]);
  EXPECT_TRUE(std::isnan(U[2]));
}

TEST(LabVariance, Statuses) {
  std::vector<double> x, y;
  triples(kLv, kLv, {0.04, 0.05, 0.06, 0.05, 0.07, 0.03}, x, y);
  // Single readings: no replicates; two groups only: too few for two parameters.
  EXPECT_EQ(vfit(kLv, kLv, 0).st, QVXL_VAR_FEW_REPLICATES);
  const std::vector<double> x2(x.begin(), x.begin() + 6), y2(y.begin(), y.begin() + 6);
  EXPECT_EQ(vfit(x2, y2, 2).st, QVXL_VAR_FEW_REPLICATES);
  EXPECT_EQ(vfit(x2, y2, -1).st, QVXL_VAR_FEW_REPLICATES);
  EXPECT_EQ(vfit(x2, y2, 0).st, 0);
  // Equal readings: nothing to model.
  EXPECT_EQ(vfit(x, x, 0).st, QVXL_VAR_NO_SCATTER);
  // A blank group that scatters: not proportional; a single blank standard: an
  // infinite weight under the proportional model, a finite one with a floor.
  std::vector<double> xb = x, yb = y;
  xb.insert(xb.end(), {0.0, 0.0});
  yb.insert(yb.end(), {0.01, -0.01});
  EXPECT_EQ(vfit(xb, yb, 1).st, QVXL_VAR_IMPOSSIBLE);
  EXPECT_EQ(vfit(xb, yb, -1).chosen != 1, true);
  xb.pop_back();
  yb.pop_back();
  const VFit p = vfit(xb, yb, 1);
  EXPECT_EQ(p.st, QVXL_VAR_ZERO_AT_STANDARD);
  EXPECT_EQ(p.sd.back(), 0.0);
  const VFit fl = vfit(xb, yb, 2);
  EXPECT_EQ(fl.st, 0);
  EXPECT_GT(fl.sd.back(), 0.0);
  // Codes and values.
  EXPECT_EQ(vfit(x, y, 4).st, QVXL_BAD_CODE);
  EXPECT_EQ(vfit(x, y, -1, 1.0).st, QVXL_BAD_VALUE);
  std::vector<double> yn = y;
  yn[3] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(vfit(x, yn, 0).st, QVXL_BAD_VALUE);
  EXPECT_EQ(vfit({1.0}, {1.0}, 0).st, QVXL_BAD_COUNT);
  // A status writes nothing.
  const VFit none = vfit(kLv, kLv, 0);
  EXPECT_EQ(none.chosen, -9);
  EXPECT_EQ(none.sd[0], -1.0);

  double par[2] = {-1.0, 0.0}, pcov[4] = {0, 0, 0, 0}, sd, dof;
  const int one = 1, m0 = 0, m9 = 9, m3 = 3;
  const double x0 = 0.0;
  int st = -1;
  LAB(QVXL_VARIANCE_AT)(&m0, par, pcov, &one, &x0, &x0, &sd, &dof, &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  LAB(QVXL_VARIANCE_AT)(&m9, par, pcov, &one, &x0, &x0, &sd, &dof, &st);
  EXPECT_EQ(st, QVXL_BAD_CODE);
  par[0] = 0.1;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  LAB(QVXL_VARIANCE_AT)(&m3, par, pcov, &one, &x0, &nan, &sd, &dof, &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  LAB(QVXL_VARIANCE_AT)(&m0, par, pcov, &one, &x0, &nan, &sd, &dof, &st);
  EXPECT_EQ(st, 0);  // mu is not read by the constant model
  EXPECT_EQ(sd, 0.1);
  EXPECT_TRUE(std::isinf(dof));  // a model given without uncertainty
}

TEST(LabVariance, BlankScatterIsTheSampleStandardDeviation) {
  const std::vector<double> yb = {0.012, -0.004, 0.007, 0.001, -0.009};
  double m = 0, ss = 0;
  for (double v : yb) m += v / 5.0;
  for (double v : yb) ss += (v - m) * (v - m);
  const int n = 5, one = 1;
  double sd = -1, dof = -1;
  int st = -1;
  LAB(QVXL_BLANK_SCATTER)(&n, yb.data(), &sd, &dof, &st);
  ASSERT_EQ(st, 0);
  EXPECT_NEAR(sd, std::sqrt(ss / 4.0), 1e-17);
  EXPECT_EQ(dof, 4.0);
  LAB(QVXL_BLANK_SCATTER)(&one, yb.data(), &sd, &dof, &st);
  EXPECT_EQ(st, QVXL_BAD_COUNT);
}

// QVXL_LIMITS through its exported name: HASUB 2 and 3 name their sources, an
// unknown HASUB is refused.
TEST(LabVariance, LimitsTakeTheBlankFromReadingsOrAModel) {
  const int ncoef = 2, covkind = 0, ndof = 4, weighting = 0, nstd = 6, stated = 1, repl = 1;
  const double coef[2] = {2.0, 1.0}, cov[4] = {1e-4, 0, 0, 1e-4}, xmin = 0, xmax = 5, sres = 1;
  const double xs[6] = {0, 1, 2, 3, 4, 5}, ws[6] = {10, 10, 10, 10, 10, 10};
  const double uys[6] = {0.1, 0.1, 0.1, 0.1, 0.1, 0.1};
  const double alpha = 0.05, beta = 0.05, blank = 0, kloq = 3;
  const double ub[2] = {0.05, 3.0};
  double lim[12];
  int source = -1, extrap = -1, st = -1;
  for (int hasub : {1, 2, 3, 4}) {
    LAB(QVXL_LIMITS)(&ncoef, coef, cov, &xmin, &xmax, &covkind, &ndof, &sres, &weighting, &nstd,
                     xs, ws, &stated, uys, &alpha, &beta, &blank, &repl, &hasub, ub, &kloq, lim,
                     &source, &extrap, &st);
    if (hasub == 4) {
      EXPECT_EQ(st, QVXL_BAD_CODE);
      continue;
    }
    ASSERT_EQ(st, 0);
    EXPECT_EQ(source, hasub == 1 ? QVXL_BLANK_GIVEN : hasub == 2 ? QVXL_BLANK_READINGS
                                                                 : QVXL_BLANK_MODEL);
    EXPECT_EQ(lim[4], 0.05);
    // The curve's part is stated (+inf): nu = 3 (s0^2 / (sigma0^2))^2.
    const double u02 = cov[0] / 4.0 * 1.0 + 0.0;  // g = (1/2, -1) at x = 0
    const double uc2 = 0.25 * cov[0] + cov[3], v0 = 0.05 * 0.05;
    (void)u02;
    const double nu = hasub == 1 ? std::numeric_limits<double>::infinity()
                                 : 3.0 * (uc2 + v0) * (uc2 + v0) / (v0 * v0);
    EXPECT_NEAR(lim[5], std::sqrt(uc2 + v0), 1e-15);
    EXPECT_NEAR(lim[9], quantile(Dist::StudentT, 0.95, nu), 1e-12) << hasub;
  }
}

}  // namespace

namespace {

// Weights from the responses and per standard: the relative u(y) of each, and
// the refusals of an infinite or undefined weight.
TEST(LabVariance, ResponseWeightsAreRelativeUncertainties) {
  const std::vector<double> v = {0.25, -4.0, 9.0};
  std::vector<double> u(3, -1.0);
  const int n = 3;
  int st = -1;
  for (int kind : {1, 2, 3}) {
    const std::vector<double> in = kind == 3 ? std::vector<double>{4.0, 0.25, 100.0} : v;
    LAB(QVXL_RESPONSE_WEIGHTS)(&kind, &n, in.data(), u.data(), &st);
    ASSERT_EQ(st, 0);
    for (int i = 0; i < 3; ++i) {
      // The weight w the fit gives each standard is 1/u^2.
      const double w = 1.0 / (u[i] * u[i]);
      const double want = kind == 1 ? 1.0 / std::abs(in[i])
                          : kind == 2 ? 1.0 / (in[i] * in[i])
                                      : in[i];
      EXPECT_NEAR(w, want, 1e-15 * want) << kind << " " << i;
    }
  }
  const std::vector<double> zero = {1.0, 0.0}, neg = {1.0, -2.0}, inf = {1.0, HUGE_VAL};
  const int two = 2, one = 1, three = 3, five = 5;
  u.assign(3, -1.0);
  LAB(QVXL_RESPONSE_WEIGHTS)(&one, &two, zero.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_VAR_BAD_WEIGHT);
  EXPECT_EQ(u[0], -1.0);  // nothing written
  LAB(QVXL_RESPONSE_WEIGHTS)(&three, &two, neg.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_VAR_BAD_WEIGHT);
  LAB(QVXL_RESPONSE_WEIGHTS)(&one, &two, inf.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  LAB(QVXL_RESPONSE_WEIGHTS)(&five, &two, v.data(), u.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_CODE);
  // A subnormal weight or response still gives a finite, positive u.
  const double tiny[1] = {1e-320};
  for (int kind : {1, 2, 3}) {
    LAB(QVXL_RESPONSE_WEIGHTS)(&kind, &one, tiny, u.data(), &st);
    EXPECT_EQ(st, 0);
    EXPECT_TRUE(u[0] > 0.0 && std::isfinite(u[0]));
  }
}

}  // namespace

namespace {

// Without replicates, the residuals: under the constant model the weights stay
// equal, so a^2 is the mean of r_i^2 / (1 - h_i) of the unweighted line (by
// plain sums here), with the line's n - 2 degrees of freedom.
TEST(LabVariance, ResidualFitOfTheConstantModelIsTheLeverageCorrectedMean) {
  const std::vector<double> x = {1, 2, 4, 7, 11, 16, 22, 29};
  const std::vector<double> y = {1.31, 2.02, 4.55, 6.81, 11.42, 15.73, 22.36, 28.85};
  const int n = 8, ncoef = 2, model = 0;
  double sx = 0, sy = 0;
  for (int i = 0; i < n; ++i) sx += x[i], sy += y[i];
  const double xb = sx / n, yb = sy / n;
  double sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) sxx += (x[i] - xb) * (x[i] - xb), sxy += (x[i] - xb) * (y[i] - yb);
  const double b = sxy / sxx, a0 = yb - b * xb;
  double s = 0;
  for (int i = 0; i < n; ++i) {
    const double r = y[i] - a0 - b * x[i], h = 1.0 / n + (x[i] - xb) * (x[i] - xb) / sxx;
    s += r * r / (1.0 - h) / n;
  }
  const double alpha = 0.05;
  int chosen = -9, st = -1, ndof[2];
  double par[2], pcov[4], ll[4], test[2];
  std::vector<double> sd(8), mu(8);
  LAB(QVXL_VARIANCE_FIT_RESIDUALS)(&n, x.data(), y.data(), &ncoef, &model, &alpha, &chosen, par,
                                   pcov, ll, test, ndof, sd.data(), mu.data(), &st);
  ASSERT_EQ(st, 0);
  EXPECT_NEAR(par[0] * par[0], s, 1e-13 * s);
  EXPECT_EQ(ndof[0], 6);
  EXPECT_EQ(ndof[1], 8);
  EXPECT_NEAR(pcov[0], 2.0 * s * s / 6.0, 1e-12 * pcov[0]);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(mu[i], a0 + b * x[i], 1e-12 * (1 + std::abs(mu[i])));
  // Statuses: too few standards for a variance beside the curve, a bad NCOEF.
  const int four = 4, eleven = 11;
  chosen = -9;
  LAB(QVXL_VARIANCE_FIT_RESIDUALS)(&four, x.data(), y.data(), &four, &model, &alpha, &chosen,
                                   par, pcov, ll, test, ndof, sd.data(), mu.data(), &st);
  EXPECT_EQ(st, QVXL_VAR_FEW_REPLICATES);
  EXPECT_EQ(chosen, -9);
  LAB(QVXL_VARIANCE_FIT_RESIDUALS)(&n, x.data(), y.data(), &eleven, &model, &alpha, &chosen,
                                   par, pcov, ll, test, ndof, sd.data(), mu.data(), &st);
  EXPECT_EQ(st, QVXL_BAD_NCOEF);
}

}  // namespace
