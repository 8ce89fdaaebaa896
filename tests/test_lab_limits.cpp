// Detection limits and degree selection of the laboratory layer: closed
// forms of a straight line computed here from plain sums, 40-digit values of
// the non-central t's delta, the worked example of DIN 32645, the reach of
// the curve extended to a blank, the blank's scatter and its source, the
// selection's choices, and every status; also through the shared library's
// exported names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "limits/detection_limits.h"
#include "limits/extended_roots.h"
#include "limits/noncentral_delta.h"
#include "ols/olspfit.h"
#include "quorvex_lab.h"
#include "selection/degree_selection.h"
#include "verdicts/goodness.h"
#include "stats/distributions.h"

namespace {

using namespace quorvex::lab;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A fitted calibration with the covariance in use.
struct Fit {
  std::vector<double> x, y, w, uy, coef, cov;
  double xmin, xmax, sres = 0.0;
  int covkind = 1, weighting = 0;
  LimitsCurve curve() const {
    LimitsCurve c;
    c.ncoef = static_cast<int>(coef.size());
    c.coef = coef.data();
    c.cov = cov.data();
    c.xmin = xmin;
    c.xmax = xmax;
    c.covkind = covkind;
    c.ndof = static_cast<int>(x.size() - coef.size());
    c.sres = sres;
    c.weighting = weighting;
    c.nstd = static_cast<int>(x.size());
    c.x = x.data();
    c.w = w.data();
    c.stated = !uy.empty();
    c.uy = uy.empty() ? nullptr : uy.data();
    return c;
  }
};

Fit fit(std::vector<double> x, std::vector<double> y, int ncoef, std::vector<double> w = {},
        int covkind = 1, std::vector<double> uy = {}) {
  Fit f;
  const int n = static_cast<int>(x.size());
  if (w.empty()) w.assign(x.size(), 1.0);
  f.x = x;
  f.y = y;
  f.w = w;
  f.uy = uy;
  f.xmin = *std::min_element(x.begin(), x.end());
  f.xmax = *std::max_element(x.begin(), x.end());
  f.coef.resize(ncoef);
  f.cov.resize(static_cast<std::size_t>(ncoef * ncoef));
  std::vector<double> yf(x.size()), r(x.size()), wr(x.size());
  double wmax = 0.0;
  int st = 0;
  quorvex::OLSPFIT(n, x.data(), y.data(), w.data(), ncoef, f.xmin, f.xmax, f.coef.data(),
                   f.cov.data(), f.sres, yf.data(), r.data(), wr.data(), wmax, st);
  EXPECT_EQ(st, 0);
  f.covkind = covkind;
  if (covkind == 1)
    for (double& c : f.cov) c *= f.sres * f.sres;
  return f;
}

// The straight line by plain sums: intercept a, slope b, s, mean x, Sxx.
struct Line {
  double a, b, s, xbar, sxx;
  int n;
};
Line line(const std::vector<double>& x, const std::vector<double>& y) {
  const int n = static_cast<int>(x.size());
  double sx = 0, sy = 0;
  for (int i = 0; i < n; ++i) sx += x[i], sy += y[i];
  const double xb = sx / n, yb = sy / n;
  double sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) sxx += (x[i] - xb) * (x[i] - xb), sxy += (x[i] - xb) * (y[i] - yb);
  const double b = sxy / sxx, a = yb - b * xb;
  double ss = 0;
  for (int i = 0; i < n; ++i) ss += (y[i] - a - b * x[i]) * (y[i] - a - b * x[i]);
  return {a, b, std::sqrt(ss / (n - 2)), xb, sxx, n};
}

const std::vector<double> kDinX = {0.05, 0.10, 0.15, 0.20, 0.25, 0.30, 0.35, 0.40, 0.45, 0.50};
const std::vector<double> kDinY = {3060, 3522, 3707, 4280, 5058, 5510, 5703, 6205, 7156, 7178};

LimitsResult limits(const Fit& f, LimitsRequest r = {}, int want = 0) {
  LimitsResult o{};
  EXPECT_EQ(LIMITS(f.curve(), r, o), want);
  return o;
}

// t quantiles and the delta of P(t'(nu, delta) <= t) = beta, to 25 digits
// (mpmath at 40 digits: the t from the incomplete beta, the non-central t's
// distribution function by quadrature over the chi-squared density).
struct DeltaCase {
  double nu, alpha, beta, t, delta;
};
const DeltaCase kDelta[] = {
    {1, 0.05, 0.05, 6.313751514675042742663543, 12.528978086996381696499},
    {3, 0.05, 0.05, 2.353363434801823816501991, 4.456360861206981131041047},
    {8, 0.05, 0.05, 1.859548037530898353861515, 3.617126558904402142418659},
    {20, 0.01, 0.05, 2.5279770027415734720544, 4.268917552850607589763656},
    {100, 0.05, 0.01, 1.660234326085339528008086, 3.998455931095408870451975},
    {12, 0.01, 0.01, 2.680997993120914883606243, 5.290298591758746761062682},
};

TEST(LabLimits, NoncentralDeltaMatchesFortyDigitValues) {
  for (const auto& c : kDelta) {
    EXPECT_NEAR(noncentral_delta(c.nu, c.t, c.beta), c.delta, 1e-12 * c.delta) << c.nu;
    // The limits' own factor and delta for a fit with nu degrees of freedom.
  }
  // Infinite degrees of freedom: the normal, delta = t + z_beta.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_NEAR(noncentral_delta(inf, 1.6448536269514722, 0.05), 2 * 1.6448536269514722, 1e-14);
  EXPECT_THROW(noncentral_delta(8, 1.86, 0.97), std::domain_error);  // beta above 1 - alpha
}

TEST(LabLimits, LineMatchesTheClosedForms) {
  // For a line, x_C = t s0 / b, x_D = delta s0 / b with
  // s0 = s sqrt(1/K + 1/n + (x0 - xbar)^2 / Sxx) (ISO 11843-2), and the
  // ICH limits 3.3 s / b and 10 s / b; checked for a rising and a falling
  // line, blank inside and extended to, with replicates.
  struct Case {
    double sign, blank, alpha, beta;
    int k;
  };
  const Case cases[] = {{+1, 0.0, 0.05, 0.05, 1}, {-1, 0.0, 0.05, 0.05, 1},
                        {+1, 0.05, 0.01, 0.05, 3}, {-1, 0.2, 0.05, 0.01, 2}};
  for (const auto& c : cases) {
    std::vector<double> y(kDinY);
    for (double& v : y) v *= c.sign;
    const Fit f = fit(kDinX, y, 2);
    const Line l = line(kDinX, y);
    LimitsRequest r;
    r.alpha = c.alpha;
    r.beta = c.beta;
    r.blank = c.blank;
    r.replicates = c.k;
    const LimitsResult o = limits(f, r);
    const double s0 = l.s * std::sqrt(1.0 / c.k + 1.0 / l.n +
                                      (c.blank - l.xbar) * (c.blank - l.xbar) / l.sxx);
    const double t = o.k_alpha;
    // t(8) at 0.95 and 0.99, 40-digit values.
    EXPECT_NEAR(t, c.alpha == 0.05 ? 1.859548037530898353861515 : 2.896459447709622320315703,
                1e-14);
    EXPECT_NEAR(o.sigma, l.s, 1e-12 * l.s);
    EXPECT_NEAR(o.slope, std::abs(l.b), 1e-12 * std::abs(l.b));
    EXPECT_NEAR(o.lod, 3.3 * l.s / std::abs(l.b), 1e-11);
    EXPECT_NEAR(o.loq, 10 * l.s / std::abs(l.b), 1e-11);
    EXPECT_NEAR(o.s_blank, s0, 1e-11 * s0);
    EXPECT_NEAR(o.y_critical, l.a + l.b * c.blank + c.sign * t * s0, 1e-9 * std::abs(l.a));
    EXPECT_NEAR(o.x_critical, t * s0 / std::abs(l.b), 1e-11);
    EXPECT_NEAR(o.x_detection, o.delta * s0 / std::abs(l.b), 1e-11);
    EXPECT_GT(o.x_critical, 0.0);
    EXPECT_EQ(o.extrapolated, c.blank < 0.05 ? 1 : 0);
    EXPECT_EQ(o.source, c.blank == 0.05 || c.blank == 0.2 ? kBlankStandards : kBlankResidual);
    // delta's defining property: P(t'(8, delta) <= t) = beta.
    EXPECT_NEAR(lower_tail(Dist::NoncentralT, t, 8, o.delta), c.beta, 1e-13);
    for (const auto& d : kDelta) {
      if (d.nu == 8 && d.alpha == c.alpha && d.beta == c.beta) {
        EXPECT_NEAR(t, d.t, 1e-14 * d.t);
        EXPECT_NEAR(o.delta, d.delta, 1e-12 * d.delta);
      }
    }
    // DIN 32645's LOQ for a line: x = KLOQ t2 s/b sqrt(1/K + 1/n + (x0 + x - xbar)^2/Sxx),
    // a quadratic in x.
    const double t2 = coverage_factor(1.0 - c.alpha, 8);
    const double q = std::pow(3.0 * t2 * l.s / l.b, 2);
    const double d0 = c.blank - l.xbar;
    const double qa = 1 - q / l.sxx, qb = -2 * q * d0 / l.sxx,
                 qc = -q * (1.0 / c.k + 1.0 / l.n + d0 * d0 / l.sxx);
    const double xq = (-qb + std::sqrt(qb * qb - 4 * qa * qc)) / (2 * qa);
    EXPECT_NEAR(o.loq_din, xq, 1e-11 * xq);
  }
}

TEST(LabLimits, DinWorkedExample) {
  // DIN 32645's worked example of the calibration method (alpha = beta = 0.01,
  // one reading per sample): decision limit 0.07, detection limit 0.14 (the
  // standard's 2 x_NG), limit of quantification 0.21 (k = 3).
  const Fit f = fit(kDinX, kDinY, 2);
  LimitsRequest r;
  r.alpha = r.beta = 0.01;
  const LimitsResult o = limits(f, r);
  EXPECT_NEAR(o.x_critical, 0.07, 0.005);
  EXPECT_NEAR(2 * o.x_critical, 0.14, 0.005);
  EXPECT_NEAR(o.x_detection, 0.14, 0.005);
  EXPECT_NEAR(o.loq_din, 0.21, 0.005);
  EXPECT_EQ(o.extrapolated, 1);
}

TEST(LabLimits, BlankIsReachedUpToAQuarterOfTheWidthBeyondTheInterval) {
  // Standards on [1, 5]: the curve may be extended to 0 and to 6, not beyond.
  const std::vector<double> x = {1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5};
  std::vector<double> y;
  for (double v : x) y.push_back(0.3 + 0.8 * v - 0.05 * v * v + 0.01 * std::sin(7 * v));
  const Fit f = fit(x, y, 3);
  struct Case {
    double blank;
    int status;
  };
  const Case cases[] = {{0.0, 0},
                        {std::nextafter(0.0, -1.0), QVXL_LIM_BLANK_FAR},
                        {6.0, 0},
                        {std::nextafter(6.0, 7.0), QVXL_LIM_BLANK_FAR},
                        {1.0, 0},
                        {5.0, 0}};
  for (const auto& c : cases) {
    LimitsRequest r;
    r.blank = c.blank;
    LimitsResult o{};
    o.x_critical = -1.0;
    EXPECT_EQ(LIMITS(f.curve(), r, o), c.status) << c.blank;
    if (c.status != 0) {
      EXPECT_EQ(o.x_critical, -1.0);  // untouched
      continue;
    }
    EXPECT_EQ(o.extrapolated, c.blank < 1.0 || c.blank > 5.0 ? 1 : 0);
  }
  // The root on the curve extended is the quadratic's own, to the last bits.
  PointEval at(CurveRef{3, f.coef.data(), f.cov.data(), f.xmin, f.xmax});
  for (double yt : {at.value(0.05), at.value(0.1), at.value(0.75), at.value(5.9)}) {
    // p(x) in powers of x from three points of the curve (exact for a quadratic).
    const double x1 = -1, x2 = 2, x3 = 6;
    const double p1 = at.value(x1), p2 = at.value(x2), p3 = at.value(x3);
    const double c2 = ((p3 - p2) / (x3 - x2) - (p2 - p1) / (x2 - x1)) / (x3 - x1);
    const double c1 = (p2 - p1) / (x2 - x1) - c2 * (x1 + x2);
    const double c0 = p1 - c1 * x1 - c2 * x1 * x1 - yt;
    const double disc = std::sqrt(c1 * c1 - 4 * c2 * c0);
    const double r1 = (-c1 + disc) / (2 * c2), r2 = (-c1 - disc) / (2 * c2);
    const double near = std::abs(r1 - 0.0) < std::abs(r2 - 0.0) ? r1 : r2;
    EXPECT_NEAR(root_near_extended(at, yt, 0.0), near, 1e-11 * std::max(1.0, std::abs(near)));
  }
  // Two roots in reach: the one nearer x0.  p(x) = (x - 2)(x - 4) + 1 on [1, 5].
  {
    std::vector<double> xs, ys;
    for (int i = 0; i <= 8; ++i) {
      xs.push_back(1 + 0.5 * i);
      ys.push_back((xs.back() - 2) * (xs.back() - 4) + 1);
    }
    const Fit p = fit(xs, ys, 3);
    PointEval pa(CurveRef{3, p.coef.data(), p.cov.data(), p.xmin, p.xmax});
    EXPECT_NEAR(root_near_extended(pa, 1.0, 1.0), 2.0, 1e-12);
    EXPECT_NEAR(root_near_extended(pa, 1.0, 5.5), 4.0, 1e-12);
    EXPECT_NEAR(root_near_extended(pa, 4.0, 0.1), 3 - std::sqrt(4.0), 1e-12);  // at 1
    EXPECT_NEAR(root_near(pa.curve(), 1.0, 3.1), 4.0, 1e-12);
    EXPECT_NEAR(root_near(pa.curve(), 1.0, 2.9), 2.0, 1e-12);
    // A response met exactly at the far end of the reach.
    EXPECT_EQ(root_near_extended(pa, pa.value(0.0), -0.5), 0.0);
  }
  // Beyond the reach there is no root.
  EXPECT_TRUE(std::isnan(root_near_extended(at, at.value(-1.5), 0.0)));
}

TEST(LabLimits, BlankScatterComesFromTheStatedSource) {
  const std::vector<double> x = {0, 0, 1, 2, 5, 10, 20};
  const std::vector<double> y = {0.011, 0.007, 0.16, 0.31, 0.76, 1.46, 2.77};
  const std::vector<double> xw = {0.5, 1, 2, 5, 10, 20, 50};
  const std::vector<double> yw = {0.052, 0.101, 0.198, 0.507, 0.995, 2.03, 4.96};
  std::vector<double> ww;
  for (double v : xw) ww.push_back(1.0 / v);  // weighting 1/x2: W = 1/x
  const Fit plain = fit(x, y, 2);
  Fit weighted = fit(xw, yw, 2, ww);
  weighted.weighting = 2;
  const Fit stated = fit(xw, yw, 2, std::vector<double>(7, 1 / 0.01), 0,
                         std::vector<double>(7, 0.01));
  std::vector<double> uyd = {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.02};
  std::vector<double> wd;
  for (double u : uyd) wd.push_back(1.0 / u);
  const Fit differ = fit(xw, yw, 2, wd, 0, uyd);

  LimitsRequest given;
  given.has_u_blank = true;
  given.u_blank = 0.004;
  EXPECT_EQ(limits(plain, given).source, kBlankGiven);
  EXPECT_EQ(limits(plain, given).sigma_blank, 0.004);
  EXPECT_EQ(limits(plain).source, kBlankStandards);
  EXPECT_DOUBLE_EQ(limits(plain).sigma_blank, plain.sres);  // both unit weights
  // Under a weighting nothing tells the blank's scatter: the limits at the
  // blank are not computed (not borrowed from the lowest standard); ICH's are.
  const LimitsResult lw = limits(weighted);
  EXPECT_EQ(lw.source, kBlankNone);
  EXPECT_TRUE(std::isnan(lw.sigma_blank) && std::isnan(lw.s_blank) &&
              std::isnan(lw.y_critical) && std::isnan(lw.x_critical) &&
              std::isnan(lw.x_detection));
  EXPECT_TRUE(std::isfinite(lw.lod) && std::isfinite(lw.loq) && std::isfinite(lw.k_alpha));
  EXPECT_EQ(lw.extrapolated, 1);
  // Blank readings (or a variance model's floor) with their degrees of freedom:
  // k is Student's t with Welch-Satterthwaite's nu of s0, formed here.
  for (int kind : {2, 3}) {
    LimitsRequest rd;
    rd.has_u_blank = true;
    rd.u_blank = 0.006;
    rd.u_blank_kind = kind;
    rd.u_blank_dof = 4.0;
    const LimitsResult lr = limits(weighted, rd);
    EXPECT_EQ(lr.source, kind == 2 ? kBlankReadings : kBlankModel);
    const double uc2 = lr.s_blank * lr.s_blank - 0.006 * 0.006;
    const double v0 = 0.006 * 0.006;
    const double nu = (uc2 + v0) * (uc2 + v0) / (uc2 * uc2 / (xw.size() - 2.0) + v0 * v0 / 4.0);
    EXPECT_NEAR(lr.k_alpha, quantile(Dist::StudentT, 0.95, nu), 1e-12);
    EXPECT_GT(lr.k_alpha, limits(weighted, given).k_alpha);
  }
  // A standard at the blank comes first, under a weighting too: SRES x there.
  LimitsRequest at_one;
  at_one.blank = 1.0;
  const LimitsResult l1 = limits(weighted, at_one);
  EXPECT_EQ(l1.source, kBlankStandards);
  EXPECT_NEAR(l1.sigma_blank, weighted.sres * 1.0, 1e-15);
  const LimitsResult ls = limits(stated);
  EXPECT_EQ(ls.source, kBlankStatedUy);
  EXPECT_EQ(ls.sigma_blank, 0.01);
  EXPECT_NEAR(ls.delta, 2 * 1.6448536269514722, 1e-14);  // normal factors
  LimitsRequest ab;
  ab.alpha = 0.01;
  const LimitsResult lab = limits(stated, ab);  // z_0.99 + z_0.95, 40-digit values
  EXPECT_NEAR(lab.k_alpha, 2.326347874040841093075096, 1e-14);
  EXPECT_NEAR(lab.delta, 2.326347874040841093075096 + 1.644853626951472687952128, 1e-14);
  EXPECT_EQ(limits(differ, {}, QVXL_LIM_BLANK_UNKNOWN).source, 0);
  EXPECT_EQ(limits(differ, given).source, kBlankGiven);
  // The residual scatter where no standard is at the blank: a scaled fit's SRES.
  LimitsRequest inside;
  inside.blank = 3.0;
  EXPECT_EQ(limits(plain, inside).source, kBlankResidual);
  EXPECT_EQ(limits(plain, inside).sigma_blank, plain.sres);
}

TEST(LabLimits, DinLoqSolvesItsDefiningEquation) {
  // x_Q = KLOQ k_(1-alpha/2) u(x0 + x_Q), u^2 = (g'Cg + sigma_r^2 / K) / p'^2, with
  // sigma_r the blank's scatter where u_blank is given or the stated u(y) differ,
  // else the fit's model at x0 + x_Q.
  const std::vector<double> x = {0, 0, 1, 2, 5, 10, 20};
  const std::vector<double> y = {0.011, 0.007, 0.16, 0.31, 0.76, 1.46, 2.77};
  const std::vector<double> uy = {0.003, 0.005, 0.005, 0.006, 0.01, 0.02, 0.04};
  std::vector<double> w;
  for (double u : uy) w.push_back(1.0 / u);
  const Fit differ = fit(x, y, 2, w, 0, uy);        // stated, u(y) differ
  const Fit equal = fit(x, y, 3, std::vector<double>(7, 100.0), 0,
                        std::vector<double>(7, 0.01));  // stated, all 0.01
  const std::vector<double> xw = {0.5, 1, 2, 5, 10, 20, 50};
  const std::vector<double> yw = {0.052, 0.101, 0.198, 0.507, 0.995, 2.03, 4.96};
  std::vector<double> ww;
  for (double v : xw) ww.push_back(1.0 / std::sqrt(v));
  Fit weighted = fit(xw, yw, 2, ww);  // 1/x: scatter SRES sqrt(x)
  weighted.weighting = 1;
  struct Case {
    const Fit* f;
    bool given;
    int k;
    double sr_at;  // < 0: the blank's scatter; else SRES sqrt(x) (1/x) or 0.01
  };
  const Case cases[] = {{&differ, false, 1, -1}, {&differ, true, 2, -1},
                        {&equal, false, 3, 0.01}, {&weighted, false, 1, 1.0}};
  for (const auto& c : cases) {
    LimitsRequest r;
    r.replicates = c.k;
    r.has_u_blank = c.given;
    r.u_blank = 0.003;
    const LimitsResult o = limits(*c.f, r);
    PointEval at(CurveRef{static_cast<int>(c.f->coef.size()), c.f->coef.data(),
                          c.f->cov.data(), c.f->xmin, c.f->xmax});
    const double xa = r.blank + o.loq_din;
    double sr = o.sigma_blank;
    if (c.sr_at == 0.01) sr = 0.01;
    if (c.sr_at == 1.0) sr = c.f->sres * std::sqrt(xa);
    const double u = std::sqrt(at.variance(xa) + sr * sr / c.k) / std::abs(at.slope(xa));
    const double k2 = coverage_factor(0.95, c.f->covkind == 0 ? INFINITY : 5.0);
    ASSERT_TRUE(std::isfinite(o.loq_din));
    EXPECT_NEAR(o.loq_din, 3.0 * k2 * u, 1e-10 * o.loq_din);
  }
  // Under 1/x a reading's scatter is not defined below x = 0: from a blank at -5
  // no level qualifies before x = 0.
  LimitsRequest below;
  below.blank = -5.0;
  const LimitsResult lb = limits(weighted, below);
  EXPECT_EQ(lb.extrapolated, 1);
  EXPECT_GE(below.blank + lb.loq_din, 0.0);
}

TEST(LabLimits, StatusesLeaveTheOutputsAlone) {
  const Fit f = fit(kDinX, kDinY, 2);
  struct Case {
    const char* what;
    void (*change)(LimitsCurve&, LimitsRequest&);
    int status;
  };
  const Case cases[] = {
      {"ncoef 1", [](LimitsCurve& c, LimitsRequest&) { c.ncoef = 1; }, QVXL_BAD_NCOEF},
      {"ncoef 11", [](LimitsCurve& c, LimitsRequest&) { c.ncoef = 11; }, QVXL_BAD_NCOEF},
      {"empty interval", [](LimitsCurve& c, LimitsRequest&) { c.xmax = c.xmin; },
       QVXL_BAD_INTERVAL},
      {"no standards", [](LimitsCurve& c, LimitsRequest&) { c.nstd = 0; }, QVXL_BAD_COUNT},
      {"replicates 0", [](LimitsCurve&, LimitsRequest& r) { r.replicates = 0; }, QVXL_BAD_COUNT},
      {"covkind 2", [](LimitsCurve& c, LimitsRequest&) { c.covkind = 2; }, QVXL_BAD_CODE},
      {"weighting 3", [](LimitsCurve& c, LimitsRequest&) { c.weighting = 3; }, QVXL_BAD_CODE},
      {"alpha 0.5", [](LimitsCurve&, LimitsRequest& r) { r.alpha = 0.5; }, QVXL_BAD_VALUE},
      {"beta 0", [](LimitsCurve&, LimitsRequest& r) { r.beta = 0.0; }, QVXL_BAD_VALUE},
      {"beta NaN", [](LimitsCurve&, LimitsRequest& r) { r.beta = kNaN; }, QVXL_BAD_VALUE},
      {"k_loq 0", [](LimitsCurve&, LimitsRequest& r) { r.k_loq = 0.0; }, QVXL_BAD_VALUE},
      {"u_blank < 0",
       [](LimitsCurve&, LimitsRequest& r) {
         r.has_u_blank = true;
         r.u_blank = -1e-3;
       },
       QVXL_BAD_VALUE},
      {"blank NaN", [](LimitsCurve&, LimitsRequest& r) { r.blank = kNaN; }, QVXL_BAD_VALUE},
      {"blank far", [](LimitsCurve&, LimitsRequest& r) { r.blank = -0.2; }, QVXL_LIM_BLANK_FAR},
      {"no dof", [](LimitsCurve& c, LimitsRequest&) { c.ndof = 0; }, QVXL_LIM_NO_DOF},
      {"stated, no dof",
       [](LimitsCurve& c, LimitsRequest&) {
         c.ndof = 0;
         c.covkind = 0;
       },
       QVXL_OK},
  };
  for (const auto& c : cases) {
    LimitsCurve cv = f.curve();
    LimitsRequest r;
    c.change(cv, r);
    LimitsResult o{};
    o.sigma = -7.0;
    EXPECT_EQ(LIMITS(cv, r, o), c.status) << c.what;
    if (c.status != QVXL_OK) {
      EXPECT_EQ(o.sigma, -7.0) << c.what;
    }
  }
}

// Degree selection ------------------------------------------------------------

// chi2 of the least-squares polynomial of k coefficients by the normal
// equations in powers of (x - 5) (small, well-conditioned cases only).
double chi2_poly(const std::vector<double>& x, const std::vector<double>& y, int k) {
  std::vector<double> a(static_cast<std::size_t>(k * (k + 1)), 0.0);
  auto A = [&](int i, int j) -> double& { return a[static_cast<std::size_t>(i * (k + 1) + j)]; };
  for (std::size_t p = 0; p < x.size(); ++p) {
    std::vector<double> g(k);
    for (int i = 0; i < k; ++i) g[i] = std::pow(x[p] - 5.0, i);
    for (int i = 0; i < k; ++i) {
      for (int j = 0; j < k; ++j) A(i, j) += g[i] * g[j];
      A(i, k) += g[i] * y[p];
    }
  }
  for (int i = 0; i < k; ++i)  // Gauss-Jordan
    for (int r = 0; r < k; ++r) {
      if (r == i) continue;
      const double m = A(r, i) / A(i, i);
      for (int j = i; j <= k; ++j) A(r, j) -= m * A(i, j);
    }
  double s = 0.0;
  for (std::size_t p = 0; p < x.size(); ++p) {
    double v = 0.0;
    for (int i = 0; i < k; ++i) v += A(i, k) / A(i, i) * std::pow(x[p] - 5.0, i);
    s += (y[p] - v) * (y[p] - v);
  }
  return s;
}

struct Selected {
  std::vector<double> chi2, gofp, termstat, termp, aic;
  std::vector<int> fitstat, dof, goftest;
  int best = -1, reason = -1, status = -1;
};

Selected select(const std::vector<double>& x, const std::vector<double>& y,
                const std::vector<double>& w, bool stated, std::vector<int> degrees,
                int fitmode = 0, std::vector<double> chi2 = {}, std::vector<int> fitstat = {}) {
  Selected s;
  const std::size_t m = degrees.size();
  s.chi2 = chi2.empty() ? std::vector<double>(m, kNaN) : chi2;
  s.fitstat = fitstat.empty() ? std::vector<int>(m, 0) : fitstat;
  s.gofp = s.termstat = s.termp = s.aic = std::vector<double>(m, kNaN);
  s.dof = s.goftest = std::vector<int>(m, -9);
  SelectionData d{static_cast<int>(x.size()), x.data(), y.data(), w.data(), stated,
                  0.0, 10.0, static_cast<int>(m), degrees.data(), fitmode};
  s.status = SELECT(d,
                    SelectionRows{s.chi2.data(), s.fitstat.data(), s.dof.data(), s.goftest.data(),
                                  s.gofp.data(), s.termstat.data(), s.termp.data(), s.aic.data()},
                    s.best, s.reason);
  return s;
}

// Deterministic standard normal deviates (Box-Muller on a fixed generator).
double noise(int i) {
  std::mt19937_64 g(20261208u + static_cast<unsigned>(i));
  const double u1 = (static_cast<double>(g() >> 11) + 0.5) / 9007199254740992.0;
  const double u2 = (static_cast<double>(g() >> 11) + 0.5) / 9007199254740992.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// Equal, NaN counting as equal to NaN.
void expect_same(const std::vector<double>& a, const std::vector<double>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    EXPECT_EQ(a[i], b[i]) << i;
  }
}

TEST(LabSelection, TheFTestPicksTheDegreeTheDataHave) {
  std::vector<double> x;
  for (int i = 0; i <= 20; ++i) x.push_back(0.5 * i);
  const std::vector<double> ones(x.size(), 1.0);
  struct Case {
    double quad;
    int best;
  };
  // A clear curvature: degree 2 (the 2nd's F significant, the 3rd's not);
  // a straight line: degree 1.
  for (const Case& c : {Case{0.05, 2}, Case{0.0, 1}}) {
    std::vector<double> y;
    for (std::size_t i = 0; i < x.size(); ++i)
      y.push_back(1.0 + 0.4 * x[i] + c.quad * x[i] * x[i] + 0.02 * noise(static_cast<int>(i)));
    const Selected s = select(x, y, ones, false, {1, 2, 3});
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(s.best, c.best);
    EXPECT_EQ(s.reason, kReasonNotImproved);
    const double n = static_cast<double>(x.size());
    for (int i = 0; i < 3; ++i) {
      const int k = i + 2;
      EXPECT_NEAR(s.chi2[i], chi2_poly(x, y, k), 1e-9 * s.chi2[i]);
      EXPECT_EQ(s.dof[i], 21 - k);
      EXPECT_EQ(s.goftest[i], QVXL_GOF_NONE);  // no replicates
      EXPECT_NEAR(s.aic[i], n * std::log(s.chi2[i] / n) + 2 * k, 1e-12 * std::abs(s.aic[i]));
      if (i == 0) {
        EXPECT_TRUE(std::isnan(s.termstat[i]));
        continue;
      }
      const double f = (s.chi2[i - 1] - s.chi2[i]) / (s.chi2[i] / s.dof[i]);
      EXPECT_NEAR(s.termstat[i], f, 1e-12 * f);
    }
    if (c.best == 2) {
      EXPECT_LT(s.termp[1], 1e-6);
    }
    EXPECT_GE(s.termp[c.best], 0.05);
    // Two terms added at once (degree 1 to 3): F per added term.
    const Selected two = select(x, y, ones, false, {1, 3});
    const double f2 = ((two.chi2[0] - two.chi2[1]) / 2) / (two.chi2[1] / two.dof[1]);
    EXPECT_NEAR(two.termstat[1], f2, 1e-12 * f2);
    EXPECT_NEAR(two.termp[1], upper_tail(Dist::F, f2, 2, two.dof[1]), 1e-15);
  }
}

TEST(LabSelection, StatedUncertaintiesAndLackOfFit) {
  // Replicate x: the lack-of-fit test, its F from the group means here.
  std::vector<double> x, y;
  for (int i = 0; i < 8; ++i)
    for (int r = 0; r < 2; ++r) {
      const double v = 10.0 * i / 7.0;
      x.push_back(v);
      y.push_back(1 + 0.5 * v - 0.04 * v * v + 0.01 * noise(2 * i + r));
    }
  // Weights equal within a level (W = 1/(0.5 + 0.1 x)): the pure error of a pair
  // is W^2 (y1 - y2)^2 / 2.
  std::vector<double> ones;
  for (double v : x) ones.push_back(1.0 / (0.5 + 0.1 * v));
  const Selected s = select(x, y, ones, false, {1, 2, 3});
  ASSERT_EQ(s.status, 0);
  EXPECT_EQ(s.best, 2);
  double pure = 0.0;
  for (std::size_t i = 0; i < x.size(); i += 2)
    pure += 0.5 * ones[i] * ones[i] * std::pow(y[i] - y[i + 1], 2);
  for (int i = 0; i < 3; ++i) {
    const int k = i + 2;
    EXPECT_EQ(s.goftest[i], QVXL_GOF_LACK_OF_FIT);
    const double f = ((s.chi2[i] - pure) / (8 - k)) / (pure / 8);
    const double p = upper_tail(Dist::F, f, 8 - k, 8);
    EXPECT_NEAR(s.gofp[i], p, 1e-10 * p + 1e-300);
  }
  EXPECT_LT(s.gofp[0], 0.05);  // the line does not fit

  // Stated u(y): the chi2 test; with one added term P(chi2_1 >= d) = erfc(sqrt(d/2)).
  const std::vector<double> w(x.size(), 1.0 / 0.01);
  const Selected t = select(x, y, w, true, {1, 2, 3, 4});
  ASSERT_EQ(t.status, 0);
  EXPECT_EQ(t.best, 2);
  for (int i = 0; i < 4; ++i) {
    // An even dof 2m: P(chi2 >= c) = exp(-c/2) sum_{j<m} (c/2)^j / j!.
    if (t.dof[i] % 2 != 0) continue;
    double term = 1.0, sum = 0.0;
    for (int j = 0; j < t.dof[i] / 2; ++j) {
      sum += term;
      term *= (t.chi2[i] / 2) / (j + 1);
    }
    const double p = std::exp(-t.chi2[i] / 2) * sum;
    EXPECT_NEAR(t.gofp[i], p, 1e-12 * p) << i;
  }
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(t.goftest[i], QVXL_GOF_CHI2);
    EXPECT_NEAR(t.termstat[i], t.chi2[i - 1] - t.chi2[i], 1e-12 * t.termstat[i]);
    EXPECT_NEAR(t.termp[i], std::erfc(std::sqrt(t.termstat[i] / 2)), 1e-12);
    EXPECT_NEAR(t.aic[i], t.chi2[i] + 2 * (i + 2), 1e-12 * t.aic[i]);
  }
  // The caller's chi2 (FITMODE 1) gives the same table.
  const Selected g = select(x, y, w, true, {1, 2, 3, 4}, 1, t.chi2, std::vector<int>(4, 0));
  EXPECT_EQ(g.best, t.best);
  expect_same(g.termp, t.termp);
  expect_same(g.gofp, t.gofp);
  expect_same(g.aic, t.aic);
}

TEST(LabSelection, FallbacksAndStatuses) {
  // Five points, degrees 1..6: 5 and 6 cannot be fitted; nothing adequate at a
  // tiny stated u(y): the smallest AIC among degrees with freedom.
  const std::vector<double> x = {0, 2.5, 5, 7.5, 10};
  std::vector<double> y;
  for (int i = 0; i < 5; ++i) y.push_back(2 + 0.5 * x[i] + 0.04 * x[i] * x[i] + 0.05 * noise(i));
  const std::vector<double> w(5, 1e3);
  const Selected s = select(x, y, w, true, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(s.status, 0);
  EXPECT_NE(s.fitstat[4], 0);
  EXPECT_NE(s.fitstat[5], 0);
  EXPECT_EQ(s.goftest[5], -1);
  EXPECT_EQ(s.reason, kReasonAic);
  int pick = 0;
  for (int i = 1; i < 3; ++i)
    if (s.aic[i] < s.aic[pick]) pick = i;
  EXPECT_EQ(s.best, pick + 1);
  // The highest fitted candidate, adequate, before one that cannot be fitted.
  const Selected hi = select(x, y, std::vector<double>(5, 1.0), true, {2, 5});
  EXPECT_EQ(hi.best, 2);
  EXPECT_EQ(hi.reason, kReasonHighest);
  // Only degree 4 (no freedom left): the lowest fitted.
  const Selected z = select(x, y, w, true, {4, 7});
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(z.best, 4);
  EXPECT_EQ(z.reason, kReasonNoDof);

  struct Case {
    std::vector<int> degrees;
    int fitmode, status;
  };
  const Case cases[] = {{{5, 6}, 0, QVXL_SEL_NONE_FITTED}, {{2, 1}, 0, QVXL_BAD_VALUE},
                        {{1, 1}, 0, QVXL_BAD_VALUE},        {{1, 10}, 0, QVXL_BAD_NCOEF},
                        {{-1}, 0, QVXL_BAD_NCOEF},          {{}, 0, QVXL_BAD_COUNT},
                        {{1}, 2, QVXL_BAD_CODE},            {{1}, 1, QVXL_BAD_VALUE}};
  for (const auto& c : cases) {
    const Selected e = select(x, y, w, true, c.degrees, c.fitmode);
    EXPECT_EQ(e.status, c.status);
    if (c.status != QVXL_SEL_NONE_FITTED) {
      EXPECT_EQ(e.best, -1);
    }
  }
}

TEST(LabSelection, TheRuleAtItsThresholds) {
  // Given chi2 (FITMODE 1, stated), ten standards: the tests' p-values are set by
  // chi2 quantiles, so that each case sits on one side of a 5 % threshold.
  const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, y(10, 1.0), w(10, 1.0);
  auto q = [](double p, double nu) { return quantile(Dist::ChiSquared, 1.0 - p, nu); };
  struct Case {
    const char* what;
    std::vector<double> chi2;
    int best, reason;
  };
  const Case cases[] = {
      // degree 1 rejected at p = 0.03 (not at 0.01); degree 2 rejected too: AIC
      {"p 0.03 rejects", {q(0.03, 8), q(0.03, 8) - 0.5}, 1, kReasonAic},
      // degree 1 adequate (p 0.06), the added term not significant (p 0.06)
      {"p 0.06 keeps", {q(0.06, 8), q(0.06, 8) - q(0.06, 1)}, 1, kReasonNotImproved},
      // degree 1 adequate, the added term significant at p 0.04: degree 2
      {"term p 0.04", {q(0.5, 8), q(0.5, 8) - q(0.04, 1)}, 2, kReasonHighest},
  };
  // A given chi2 that grows with the degree (an iterative fit's): no improvement.
  const Selected up = select(x, y, w, true, {1, 2}, 1, {q(0.5, 8), q(0.5, 8) + 1.0}, {0, 0});
  EXPECT_EQ(up.termstat[1], 0.0);
  EXPECT_EQ(up.termp[1], 1.0);
  EXPECT_EQ(up.best, 1);
  for (const auto& c : cases) {
    const Selected s = select(x, y, w, true, {1, 2}, 1, c.chi2, {0, 0});
    ASSERT_EQ(s.status, 0) << c.what;
    EXPECT_EQ(s.best, c.best) << c.what;
    EXPECT_EQ(s.reason, c.reason) << c.what;
  }
}

TEST(LabSelection, LackOfFitWeighsEachReplicate) {
  // Two readings per level with their own weights: the weighted mean's pure error
  // is w1^2 w2^2 / (w1^2 + w2^2) (y1 - y2)^2 per pair.
  const std::vector<double> x = {1, 1, 2, 2, 3, 3, 4, 4};
  const std::vector<double> y = {1.1, 0.9, 2.2, 1.9, 2.8, 3.3, 4.1, 3.95};
  const std::vector<double> w = {1, 2, 3, 1, 0.5, 1.5, 2, 2};
  double pure = 0.0;
  for (std::size_t i = 0; i < x.size(); i += 2) {
    const double a = w[i] * w[i], b = w[i + 1] * w[i + 1];
    pure += a * b / (a + b) * std::pow(y[i] - y[i + 1], 2);
  }
  FitRecord fit;
  fit.ncoef = 2;
  fit.chi2 = pure + 0.7;
  fit.npts = 8;
  fit.x = x.data();
  fit.y = y.data();
  fit.w = w.data();
  const LackOfFit t = lack_of_fit(fit);
  ASSERT_TRUE(t.applies);
  EXPECT_NEAR(t.ss_pure, pure, 1e-14);
  EXPECT_NEAR(t.ss_lack, 0.7, 1e-14);
  EXPECT_EQ(t.groups, 4);
  EXPECT_NEAR(t.f, (0.7 / 2) / (pure / 4), 1e-12);
  fit.ncoef = 4;  // no degrees of freedom left for lack of fit
  EXPECT_FALSE(lack_of_fit(fit).applies);
}

// Through the exported names ---------------------------------------------------

TEST(LabLimits, ExportedEntryPointsGiveTheSameBits) {
  void* h = dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr);
  auto* lim = reinterpret_cast<decltype(&QVXL_LIMITS)>(dlsym(h, "QVXL_LIMITS"));
  auto* sel = reinterpret_cast<decltype(&QVXL_SELECT)>(dlsym(h, "QVXL_SELECT"));
  ASSERT_NE(lim, nullptr);
  ASSERT_NE(sel, nullptr);

  const Fit f = fit(kDinX, kDinY, 2);
  LimitsRequest r;
  r.alpha = 0.01;
  r.replicates = 2;
  const LimitsResult want = limits(f, r);
  const LimitsCurve c = f.curve();
  double out[12];
  int source = -1, extrap = -1, st = -1, hasub = 0, stated = 0;
  const double one = 1.0;
  lim(&c.ncoef, c.coef, c.cov, &c.xmin, &c.xmax, &c.covkind, &c.ndof, &c.sres, &c.weighting,
      &c.nstd, c.x, c.w, &stated, &one, &r.alpha, &r.beta, &r.blank, &r.replicates, &hasub,
      &r.u_blank, &r.k_loq, out, &source, &extrap, &st);
  ASSERT_EQ(st, 0);
  const double w[12] = {want.sigma,       want.slope,      want.lod,         want.loq,
                        want.sigma_blank, want.s_blank,    want.y_critical,  want.x_critical,
                        want.x_detection, want.k_alpha,    want.delta,       want.loq_din};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], w[i]) << i;
  EXPECT_EQ(source, want.source);
  EXPECT_EQ(extrap, 1);
  const double far = -1.0;
  out[0] = -3.0;
  lim(&c.ncoef, c.coef, c.cov, &c.xmin, &c.xmax, &c.covkind, &c.ndof, &c.sres, &c.weighting,
      &c.nstd, c.x, c.w, &stated, &one, &r.alpha, &r.beta, &far, &r.replicates, &hasub,
      &r.u_blank, &r.k_loq, out, &source, &extrap, &st);
  EXPECT_EQ(st, QVXL_LIM_BLANK_FAR);
  EXPECT_EQ(out[0], -3.0);

  const std::vector<double> ones(kDinX.size(), 1.0);
  const Selected want_s = select(kDinX, kDinY, ones, false, {1, 2, 3});
  std::vector<int> deg = {1, 2, 3}, fs(3), dof(3), gt(3);
  std::vector<double> c2(3), gp(3), ts(3), tp(3), aic(3);
  const int n = 10, m = 3, mode = 0;
  const double xmin = 0.0, xmax = 10.0;
  int best = -1, reason = -1;
  sel(&n, kDinX.data(), kDinY.data(), ones.data(), &stated, &xmin, &xmax, &m, deg.data(), &mode,
      c2.data(), fs.data(), dof.data(), gt.data(), gp.data(), ts.data(), tp.data(), aic.data(),
      &best, &reason, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(best, want_s.best);
  EXPECT_EQ(reason, want_s.reason);
  EXPECT_EQ(c2, want_s.chi2);
  EXPECT_EQ(tp[2], want_s.termp[2]);
  dlclose(h);
}

}  // namespace
