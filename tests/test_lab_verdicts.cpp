// Diagnostics and verdicts of the laboratory layer against independent
// computations: leverages as the fitted values' response to their own
// response, studentized residuals and Cook's distances from leave-one-out
// refits, lack of fit from the group means, p-values and thresholds against
// 40-digit values, back-calculation on lines read back exactly, the alpha
// split and the verdict rule by tables, and the exported entry points with
// their statuses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "curvestats/curve_point.h"
#include "fitrules/fit.h"
#include "quorvex_lab.h"
#include "verdicts/back_calculation.h"
#include "verdicts/criteria.h"
#include "verdicts/diagnose.h"
#include "verdicts/goodness.h"
#include "verdicts/residuals.h"

namespace {

using namespace quorvex::lab;
using Vec = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A weighted least-squares fit by the normal equations in long double, the
// Chebyshev basis of the curve on [xmin, xmax].
struct DenseFit {
  int ncoef;
  double xmin, xmax;
  Vec x, y, w, coef, cov, wres;
  double chi2 = 0.0, sres = 0.0;

  double value(double xv) const {
    Vec g(static_cast<std::size_t>(ncoef));
    basis_row(ncoef, xmin, xmax, xv, g.data());
    double s = 0.0;
    for (int k = 0; k < ncoef; ++k) s += g[k] * coef[k];
    return s;
  }
};

DenseFit dense_fit(const Vec& x, const Vec& y, const Vec& w, int nc, double xmin, double xmax,
                   std::size_t skip = SIZE_MAX) {
  DenseFit f{nc, xmin, xmax, x, y, w, {}, {}, {}};
  const std::size_t p = static_cast<std::size_t>(nc);
  std::vector<long double> n(p * 2 * p, 0.0L), b(p, 0.0L);
  Vec g(p);
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (i == skip) continue;
    basis_row(nc, xmin, xmax, x[i], g.data());
    for (std::size_t j = 0; j < p; ++j) {
      b[j] += static_cast<long double>(w[i]) * w[i] * g[j] * y[i];
      for (std::size_t k = 0; k < p; ++k)
        n[j * 2 * p + k] += static_cast<long double>(w[i]) * w[i] * g[j] * g[k];
    }
  }
  // Gauss-Jordan on [N | I].
  for (std::size_t j = 0; j < p; ++j) n[j * 2 * p + p + j] = 1.0L;
  for (std::size_t c = 0; c < p; ++c) {
    const long double piv = n[c * 2 * p + c];
    for (std::size_t k = 0; k < 2 * p; ++k) n[c * 2 * p + k] /= piv;
    for (std::size_t r = 0; r < p; ++r) {
      if (r == c) continue;
      const long double m = n[r * 2 * p + c];
      for (std::size_t k = 0; k < 2 * p; ++k) n[r * 2 * p + k] -= m * n[c * 2 * p + k];
    }
  }
  f.cov.resize(p * p);
  f.coef.assign(p, 0.0);
  for (std::size_t j = 0; j < p; ++j) {
    long double s = 0.0L;
    for (std::size_t k = 0; k < p; ++k) {
      f.cov[j + k * p] = static_cast<double>(n[j * 2 * p + p + k]);
      s += n[j * 2 * p + p + k] * b[k];
    }
    f.coef[j] = static_cast<double>(s);
  }
  std::size_t used = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    f.wres.push_back(w[i] * (y[i] - f.value(x[i])));
    if (i != skip) {
      f.chi2 += f.wres[i] * f.wres[i];
      ++used;
    }
  }
  const int dof = static_cast<int>(used) - nc;
  f.sres = dof > 0 ? std::sqrt(f.chi2 / dof) : 0.0;
  return f;
}

FitRecord record(const DenseFit& f, int covkind = 1, bool stated = false) {
  FitRecord r;
  r.ncoef = f.ncoef;
  r.coef = f.coef.data();
  r.cov = f.cov.data();
  r.xmin = f.xmin;
  r.xmax = f.xmax;
  r.kind = 0;
  r.covkind = covkind;
  r.npts = static_cast<int>(f.x.size());
  r.ndof = r.npts - f.ncoef;
  r.sres = f.sres;
  r.chi2 = f.chi2;
  r.stated = stated;
  r.x = f.x.data();
  r.y = f.y.data();
  r.w = f.w.data();
  r.wres = f.wres.data();
  r.wresx = f.wres.data();
  return r;
}

// The outputs of DIAGNOSE, owned.
struct Diag {
  explicit Diag(std::size_t n)
      : lev(n), si(n), se(n), cook(n), stat(n), statx(n), xback(n), pct(n), lim(n), flags(n),
        passed(n) {}
  Vec lev, si, se, cook, stat, statx, xback, pct, lim;
  std::vector<int> flags, passed;
  double p = 0.0, lof[7], outl[6], back[3], corr[2], levels[3];
  Diagnosis out() {
    return {lev.data(),   si.data(),  se.data(),    cook.data(), stat.data(), statx.data(),
            flags.data(), xback.data(), pct.data(), lim.data(),  passed.data(), &p,
            lof,          outl,         back,       corr,        levels};
  }
};

Diag diagnose(const FitRecord& f, const Criteria& c = Criteria{}) {
  Diag d(f.n());
  EXPECT_EQ(DIAGNOSE(f, c, d.out()), QVXL_OK);
  return d;
}

struct Design {
  const char* name;
  Vec x, y, w;
  int ncoef;
};

// Standards with scatter: a line, a weighted quadratic, a cubic with replicates.
std::vector<Design> designs() {
  return {
      {"line", {1, 2, 3, 4, 5, 6, 7}, {2.1, 3.9, 6.2, 7.8, 10.3, 11.9, 14.2}, {1, 1, 1, 1, 1, 1, 1},
       2},
      {"weighted quadratic",
       {0.5, 1, 2, 4, 6, 8, 10},
       {0.61, 1.18, 2.5, 4.7, 7.4, 9.5, 12.6},
       {2, 1, 0.5, 0.25, 1.0 / 6, 0.125, 0.1},
       3},
      {"cubic with replicates",
       {0, 0, 1, 1, 2, 3, 3, 4, 5, 5},
       {0.02, -0.05, 1.1, 0.96, 2.3, 2.9, 3.15, 4.4, 4.7, 5.05},
       {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
       4},
  };
}

TEST(LabVerdicts, LeveragesAreEachFittedValuesResponseToItsOwnResponse) {
  for (const Design& c : designs()) {
    SCOPED_TRACE(c.name);
    const DenseFit f = dense_fit(c.x, c.y, c.w, c.ncoef, c.x.front(), c.x.back());
    const Diag d = diagnose(record(f));
    double trace = 0.0;
    for (std::size_t i = 0; i < c.x.size(); ++i) {
      Vec y = c.y;
      y[i] += 1.0;  // the fitted values are linear in y: the change is H's column
      const DenseFit g = dense_fit(c.x, y, c.w, c.ncoef, c.x.front(), c.x.back());
      EXPECT_NEAR(d.lev[i], g.value(c.x[i]) - f.value(c.x[i]), 1e-10) << i;
      EXPECT_GE(d.lev[i], 0.0);
      EXPECT_LE(d.lev[i], 1.0 + 1e-12);
      trace += d.lev[i];
    }
    EXPECT_NEAR(trace, c.ncoef, 1e-10);  // trace of the hat matrix
  }
}

TEST(LabVerdicts, StudentizedResidualsAndCookFromLeaveOneOutRefits) {
  for (const Design& c : designs()) {
    SCOPED_TRACE(c.name);
    const DenseFit f = dense_fit(c.x, c.y, c.w, c.ncoef, c.x.front(), c.x.back());
    const FitRecord r = record(f);
    const Diag d = diagnose(r);
    const double s2 = f.chi2 / r.ndof;
    for (std::size_t i = 0; i < c.x.size(); ++i) {
      const DenseFit loo = dense_fit(c.x, c.y, c.w, c.ncoef, c.x.front(), c.x.back(), i);
      const double one_h = 1.0 - d.lev[i];
      const double s2_i = loo.chi2 / (r.ndof - 1);
      EXPECT_NEAR(d.se[i], f.wres[i] / std::sqrt(s2_i * one_h), 1e-9 * (1 + std::abs(d.se[i])));
      EXPECT_NEAR(d.si[i], f.wres[i] / std::sqrt(s2 * one_h), 1e-12 * (1 + std::abs(d.si[i])));
      // Cook: the move of every fitted value when standard i is left out.
      double move = 0.0;
      for (std::size_t j = 0; j < c.x.size(); ++j) {
        const double dj = c.w[j] * (f.value(c.x[j]) - loo.value(c.x[j]));
        move += dj * dj;
      }
      EXPECT_NEAR(d.cook[i], move / (c.ncoef * s2), 1e-9 * (1 + d.cook[i]));
      // The scaled fit tests the externally studentized residual.
      EXPECT_EQ(d.stat[i], d.se[i]);
    }
    EXPECT_EQ(d.outl[1], 2.0);
  }
}

TEST(LabVerdicts, AStandardThatPinsTheCurveIsShownNotTested) {
  // A line through three replicates at x = 1 and one standard at x = 10: the
  // curve passes through the lone standard whatever its response (h = 1).
  const DenseFit f = dense_fit({1, 1, 1, 10}, {1.9, 2.1, 2.0, 25.0}, Vec(4, 1.0), 2, 1.0, 10.0);
  const Diag d = diagnose(record(f));
  EXPECT_NEAR(d.lev[3], 1.0, 1e-12);
  EXPECT_TRUE(std::isnan(d.se[3]));
  EXPECT_EQ(d.flags[3], QVXL_OFLAG_PINNED);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(d.flags[i] & QVXL_OFLAG_PINNED, 0);
}

TEST(LabVerdicts, LackOfFitFromTheLevelMeans) {
  // SS_lack = sum over levels of (sum W^2) (weighted mean - curve)^2, the
  // part of chi2 the replicates do not explain.
  struct Case {
    const char* name;
    Vec x, y, w;
    int ncoef;
  };
  const std::vector<Case> cases = {
      {"line, curved data", {1, 1, 2, 2, 3, 3, 4, 4, 5, 5},
       {1.1, 0.9, 2.5, 2.3, 3.9, 3.7, 4.6, 4.8, 5.2, 5.0}, Vec(10, 1.0), 2},
      {"weighted quadratic", {1, 1, 1, 2, 4, 4, 6, 8, 8},
       {1.0, 1.1, 0.95, 2.2, 4.1, 3.8, 6.6, 8.9, 8.2}, {1, 1, 1, 0.5, 0.25, 0.25, 0.2, 0.125, 0.125},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DenseFit f = dense_fit(c.x, c.y, c.w, c.ncoef, 1.0, c.x.back());
    const Diag d = diagnose(record(f));
    Vec lv = c.x;
    std::sort(lv.begin(), lv.end());
    lv.erase(std::unique(lv.begin(), lv.end()), lv.end());
    double ss_lack = 0.0, ss_pure = 0.0;
    for (double v : lv) {
      double sw = 0.0, swy = 0.0;
      for (std::size_t i = 0; i < c.x.size(); ++i)
        if (c.x[i] == v) sw += c.w[i] * c.w[i], swy += c.w[i] * c.w[i] * c.y[i];
      for (std::size_t i = 0; i < c.x.size(); ++i)
        if (c.x[i] == v) ss_pure += c.w[i] * c.w[i] * std::pow(c.y[i] - swy / sw, 2);
      ss_lack += sw * std::pow(swy / sw - f.value(v), 2);
    }
    const double dl = static_cast<double>(lv.size()) - c.ncoef;
    const double dp = static_cast<double>(c.x.size() - lv.size());
    EXPECT_NEAR(d.lof[0], ss_lack, 1e-10 * f.chi2);
    EXPECT_NEAR(d.lof[1], ss_pure, 1e-12 * f.chi2);
    EXPECT_NEAR(d.lof[2], (ss_lack / dl) / (ss_pure / dp), 1e-8 * d.lof[2]);
    EXPECT_EQ(d.lof[4], dl);
    EXPECT_EQ(d.lof[5], dp);
    EXPECT_EQ(d.lof[6], static_cast<double>(lv.size()));
  }
}

// A line through replicate levels 1..5 whose chi2 is set to give the
// lack-of-fit statistic f (SS_pure from the replicates' +-0.05).
struct LofCase {
  Vec x{1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
  Vec y{2.05, 1.95, 4.05, 3.95, 6.05, 5.95, 8.05, 7.95, 10.05, 9.95};
  Vec w = Vec(10, 1.0);
  DenseFit fit = dense_fit(x, y, w, 2, 1.0, 5.0);
  FitRecord with_f(double f) {
    FitRecord r = record(fit);
    const double ss_pure = 10 * 0.05 * 0.05;
    r.chi2 = ss_pure + f * 3 * ss_pure / 5;  // dof_lack 3, dof_pure 5
    r.sres = std::sqrt(r.chi2 / r.ndof);
    return r;
  }
};

TEST(LabVerdicts, PValuesAgainstFortyDigitValues) {
  struct Case {
    double chi2;
    double p;  // P(chi2_8 >= chi2), mpmath
  };
  const Case chi[] = {{12.5, 0.13025035472792635093}, {3.0, 0.93435754562154990866}};
  for (const Case& c : chi) {
    LofCase lc;
    FitRecord r = record(lc.fit, 0, true);
    r.chi2 = c.chi2;
    EXPECT_NEAR(chi2_p_value(r), c.p, 1e-14 * c.p);
  }
  LofCase lc;
  const Diag d = diagnose(lc.with_f(4.2));
  EXPECT_NEAR(d.lof[2], 4.2, 1e-12);
  EXPECT_NEAR(d.lof[3], 0.078184061876488812223, 1e-12);  // P(F_3,5 >= 4.2), mpmath
}

TEST(LabVerdicts, OutlierThresholdsAgainstFortyDigitValues) {
  struct Case {
    int kind, covkind;
    double expected;  // mpmath
  };
  // Ten standards, a line: alpha 0.05 over 10 (errors in variables too: one
  // combined residual per standard, externally studentized when scaled).
  const Case cases[] = {
      {0, 1, 4.0293371776424849739},  // t with dof - 1 = 7 at 0.05/20
      {0, 0, 2.8070337683438041172},  // normal at 0.05/20
      {1, 1, 4.0293371776424849739},  // t with dof - 1 = 7 at 0.05/20
      {1, 0, 2.8070337683438041172},  // normal at 0.05/20
  };
  LofCase lc;
  for (const Case& c : cases) {
    FitRecord r = record(lc.fit, c.covkind, c.covkind == 0);
    r.kind = c.kind;
    Criteria crit;
    crit.alpha_outliers = 0.05;
    const Diag d = diagnose(r, crit);
    EXPECT_NEAR(d.outl[0], c.expected, 1e-13 * c.expected) << c.kind << c.covkind;
  }
}

TEST(LabVerdicts, AlphaIsSharedByTheTestsThatApply) {
  struct Case {
    const char* name;
    bool replicates, stated;
    int covkind, npts;
    double alpha_goodness;
    double goodness, lack, outliers;  // NaN: does not apply
  };
  const double t3 = 0.05 / 3;
  const Case cases[] = {
      {"scatter, no replicates: Mandel's test", false, false, 1, 6, kNaN, kNaN, 0.025, 0.025},
      {"scatter, replicates", true, false, 1, 10, kNaN, kNaN, 0.025, 0.025},
      {"stated, no replicates: the added term's chi2", false, true, 0, 6, kNaN, t3, t3, t3},
      {"stated, replicates", true, true, 0, 10, kNaN, t3, t3, t3},
      {"stated, replicates, own level", true, true, 0, 10, 0.01, 0.01, t3, t3},
      {"scatter, one dof: nothing applies", false, false, 1, 3, kNaN, kNaN, kNaN, kNaN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Vec x, y;
    for (int i = 0; i < c.npts; ++i) {
      x.push_back(c.replicates ? 1 + i / 2 : 1 + i);
      y.push_back(2 * x.back() + (i % 3 == 0 ? 0.1 : -0.05));
    }
    const DenseFit f = dense_fit(x, y, Vec(x.size(), 1.0), 2, x.front(), x.back());
    Criteria crit;
    crit.alpha_goodness = c.alpha_goodness;
    const Diag d = diagnose(record(f, c.covkind, c.stated), crit);
    const double expect[3] = {c.goodness, c.lack, c.outliers};
    for (int k = 0; k < 3; ++k) {
      if (std::isnan(expect[k])) {
        EXPECT_TRUE(std::isnan(d.levels[k])) << k;
      } else {
        EXPECT_DOUBLE_EQ(d.levels[k], expect[k]) << k;
      }
    }
  }
}

TEST(LabVerdicts, LackOfFitIsJudgedAtItsShareOfAlpha) {
  // Two tests apply (lack of fit, outliers): each at 0.025.  p = 0.02 fails
  // at its share; at a fixed 0.01 it would only be doubtful.
  LofCase lc;
  const FitRecord r = lc.with_f(8.6701942127317505876);  // P(F_3,5 >= f) = 0.02
  struct Case {
    int warn;
    int result, overall;
  };
  const Case cases[] = {{0, QVXL_RESULT_FAIL, 0}, {2, QVXL_RESULT_WARN, 2}};
  for (const Case& c : cases) {
    int applies[4], result[4], detail[4], overall = -1, reasons = -1;
    double stat[4], plim[4], alpha[4];
    Criteria crit;
    crit.warn = c.warn;
    ASSERT_EQ(VERDICT(r, crit, {applies, stat, plim, alpha, result, detail, &overall, &reasons}),
              QVXL_OK);
    EXPECT_NEAR(plim[kLackOfFit], 0.02, 1e-12);
    EXPECT_DOUBLE_EQ(alpha[kLackOfFit], 0.025);
    EXPECT_EQ(result[kLackOfFit], c.result);
    EXPECT_EQ(result[kOutliers], QVXL_RESULT_PASS);
    EXPECT_EQ(result[kBackCalculated], QVXL_RESULT_PASS);
    EXPECT_EQ(overall, c.overall);
    EXPECT_EQ(reasons, c.warn ? 0 : 2);
  }
}

// Without replicates the shape is tested by the next-higher term: the drop
// of chi2 from a line to a parabola fitted independently (normal equations
// in long double), its p-value against scipy's F and chi2 tails.
TEST(LabVerdicts, ShapeWithoutReplicatesIsTheNextHigherTerm) {
  const Design line = designs()[0];
  struct Case {
    const char* name;
    double w;         // every weight
    int covkind;      // 0 stated, 1 scaled
    bool stated;
    int kind;         // ShapeKind expected
    double scale;     // Delta chi2 or F from the two chi2
    double p;         // scipy
  };
  const DenseFit lo0 = dense_fit(line.x, line.y, Vec(7, 1.0), 2, 1, 7);
  const DenseFit hi0 = dense_fit(line.x, line.y, Vec(7, 1.0), 3, 1, 7);
  const double drop = lo0.chi2 - hi0.chi2;
  const Case cases[] = {
      {"scatter: Mandel's F", 1.0, 1, false, kShapeMandel, drop / (hi0.chi2 / 4),
       0.7186729904481552},
      {"stated u(y) 0.1: Delta chi2", 10.0, 0, true, kShapeAddedChi2, drop * 100,
       0.38273308888526336},
      {"relative stated weights, scaled: Mandel's F", 10.0, 1, true, kShapeMandel,
       drop / (hi0.chi2 / 4), 0.7186729904481552},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DenseFit f = dense_fit(line.x, line.y, Vec(7, c.w), 2, 1, 7);
    const FitRecord r = record(f, c.covkind, c.stated);
    const ShapeTest t = shape_test(r, lack_of_fit(r));
    EXPECT_EQ(t.kind, c.kind);
    EXPECT_NEAR(t.statistic, c.scale, 1e-9 * c.scale);
    EXPECT_NEAR(t.p, c.p, 1e-10);
    int applies[4], result[4], detail[4], overall = -1, reasons = -1;
    double stat[4], plim[4], alpha[4];
    ASSERT_EQ(VERDICT(r, Criteria{}, {applies, stat, plim, alpha, result, detail, &overall,
                                      &reasons}),
              QVXL_OK);
    EXPECT_EQ(applies[kLackOfFit], 1);
    EXPECT_EQ(detail[kLackOfFit], c.kind);
    EXPECT_EQ(plim[kLackOfFit], t.p);
    EXPECT_EQ(result[kLackOfFit], QVXL_RESULT_PASS);
  }
  // Replicates: lack of fit, its own p.  Errors in variables, a degree-9
  // curve, or one degree of freedom: no shape test and no share of alpha.
  const Design cubic = designs()[2];
  const DenseFit fr = dense_fit(cubic.x, cubic.y, cubic.w, 4, 0, 5);
  const FitRecord rr = record(fr);
  const LackOfFit lof = lack_of_fit(rr);
  const ShapeTest tr = shape_test(rr, lof);
  EXPECT_EQ(tr.kind, kShapeLackOfFit);
  EXPECT_EQ(tr.p, lof.p);
  FitRecord eiv = record(lo0);
  eiv.kind = 1;
  EXPECT_EQ(shape_test(eiv, lack_of_fit(eiv)).kind, kShapeNoneErrorsInVariables);
  Vec x12, y12;
  for (int i = 0; i < 12; ++i) {
    x12.push_back(i);
    y12.push_back(std::sin(0.3 * i) + 0.01 * (i % 3));
  }
  const DenseFit f10 = dense_fit(x12, y12, Vec(12, 1.0), 10, 0, 11);
  const FitRecord r10 = record(f10);
  EXPECT_EQ(shape_test(r10, lack_of_fit(r10)).kind, kShapeNone);
  const DenseFit f3 = dense_fit({1, 2, 3}, {1.1, 1.9, 3.2}, Vec(3, 1.0), 2, 1, 3);
  const FitRecord r3 = record(f3);
  const ShapeTest t3 = shape_test(r3, lack_of_fit(r3));
  EXPECT_EQ(t3.kind, kShapeNone);
  EXPECT_FALSE(t3.applies());
  EXPECT_TRUE(std::isnan(t3.p));
}

// A straight line through eight single standards of a curve bent far beyond
// the scatter: the shape test rejects the run though every other criterion
// may pass; the parabola passes it.
TEST(LabVerdicts, AMissingCurvatureRejectsTheLine) {
  Vec x, y;
  const double noise[8] = {0.05, -0.08, 0.02, 0.11, -0.04, -0.1, 0.07, -0.03};
  for (int i = 0; i < 8; ++i) {
    x.push_back(1 + i);
    y.push_back(0.2 + x.back() + 0.06 * x.back() * x.back() + noise[i]);
  }
  for (int nc : {2, 3}) {
    SCOPED_TRACE(nc);
    const DenseFit f = dense_fit(x, y, Vec(8, 1.0), nc, 1, 8);
    int applies[4], result[4], detail[4], overall = -1, reasons = -1;
    double stat[4], plim[4], alpha[4];
    ASSERT_EQ(VERDICT(record(f), Criteria{}, {applies, stat, plim, alpha, result, detail,
                                              &overall, &reasons}),
              QVXL_OK);
    EXPECT_EQ(detail[kLackOfFit], kShapeMandel);
    EXPECT_DOUBLE_EQ(alpha[kLackOfFit], 0.025);
    if (nc == 2) {
      EXPECT_LT(plim[kLackOfFit], 1e-3);
      EXPECT_EQ(result[kLackOfFit], QVXL_RESULT_FAIL);
      EXPECT_EQ(overall, kNotFit);
      EXPECT_TRUE(reasons & 2);
    } else {
      EXPECT_GT(plim[kLackOfFit], 0.05);
      EXPECT_EQ(result[kLackOfFit], QVXL_RESULT_PASS);
    }
  }
}

// Errors in variables: each standard's combined normalized residual over
// sqrt(1 - h), h from the effective weight 1/sqrt(u(y)^2 + p'(xi)^2 u(x)^2)
// at the adjusted x -- computed here from u(x), u(y) and the fit's adjusted
// abscissae, where the diagnostics know neither u(x) nor xi.
TEST(LabVerdicts, ErrorsInVariablesResidualsAreStandardizedByTheirLeverage) {
  const Vec x = {1, 2, 3, 4, 5, 6, 7, 8};
  const Vec noise = {0.3, -1.1, 0.4, 0.9, -0.6, -0.2, 1.2, -0.7};
  const Vec ux = {0.05, 0.08, 0.05, 0.1, 0.06, 0.05, 0.12, 0.07};
  const Vec uy = {0.1, 0.1, 0.15, 0.1, 0.2, 0.1, 0.1, 0.25};
  for (int nc : {2, 3}) {
    for (int covkind : {0, 1}) {
      SCOPED_TRACE(nc * 10 + covkind);
      Vec y(8);
      for (int i = 0; i < 8; ++i)
        y[i] = 0.5 + 2 * x[i] + 0.03 * (nc - 2) * x[i] * x[i] + noise[i] * uy[i];
      // An 8 sigma outlier (in the combined scale) where u(y) is stated.
      if (covkind == 0) y[3] += 8 * std::hypot(uy[3], 2.2 * ux[3]);
      const std::size_t k = static_cast<std::size_t>(nc);
      Vec coef(k), cov(k * k), covs(k * k), fitted(8), res(8), wres(8), xadj(8), resx(8),
          wresx(8), wy(8), wx(8), rinfo(4);
      double sres = 0, chi2 = 0;
      int dof = 0, info[5];
      FitOptions opt;
      opt.covkind = covkind;
      ASSERT_EQ(FIT(FitInput{8, x.data(), y.data(), uy.data(), ux.data(), 0, nullptr, nc}, opt,
                    FitOutput{coef.data(), cov.data(), covs.data(), &sres, &dof, &chi2,
                              fitted.data(), res.data(), wres.data(), xadj.data(), resx.data(),
                              wresx.data(), wy.data(), wx.data(), rinfo.data(), info}),
                QVXL_OK);
      FitRecord r;
      r.ncoef = nc;
      r.coef = coef.data();
      r.cov = cov.data();
      r.xmin = opt.xmin;
      r.xmax = opt.xmax;
      r.kind = 1;
      r.covkind = covkind;
      r.ndof = dof;
      r.sres = sres;
      r.chi2 = chi2;
      r.stated = true;
      r.npts = 8;
      r.x = x.data();
      r.y = y.data();
      r.w = wy.data();
      r.wres = wres.data();
      r.wresx = wresx.data();
      const Diag d = diagnose(r);
      PointEval p(CurveRef{nc, coef.data(), nullptr, opt.xmin, opt.xmax});
      Vec g(k);
      double sum_h = 0.0;
      for (std::size_t i = 0; i < 8; ++i) {
        const double s = p.slope(xadj[i]);
        const double weff2 = 1 / (uy[i] * uy[i] + s * s * ux[i] * ux[i]);
        basis_row(nc, opt.xmin, opt.xmax, xadj[i], g.data());
        const double h = weff2 * quad_form(k, cov.data(), g.data());
        EXPECT_NEAR(d.lev[i], h, 1e-6 * h) << i;
        sum_h += d.lev[i];
        const double ri = std::copysign(std::hypot(wres[i], wresx[i]), wres[i]);
        EXPECT_NEAR(combined_residual(r, i), ri, 1e-15 * std::abs(ri) + 1e-300);
        if (covkind == 0) {
          EXPECT_NEAR(d.stat[i], ri / std::sqrt(1 - h), 1e-6 * std::abs(ri) + 1e-12);
        }
        EXPECT_TRUE(std::isnan(d.statx[i]));
      }
      EXPECT_NEAR(sum_h, nc, 1e-6);
      EXPECT_EQ(d.outl[1], covkind == 0 ? 3.0 : 4.0);
      // The threshold: the two-sided Bonferroni level over the 8 standards.
      EXPECT_EQ(d.outl[0], outlier_threshold(r, 0.025).value);
      if (covkind == 0) {
        EXPECT_EQ(d.flags[3] & QVXL_OFLAG_OUTLIER, QVXL_OFLAG_OUTLIER);
        EXPECT_EQ(d.outl[5], 4.0);
      }
      for (int f : d.flags) EXPECT_EQ(f & QVXL_OFLAG_OUTLIER_X, 0);
    }
  }
}

TEST(LabVerdicts, OneTestsVerdictByTable) {
  struct Case {
    double p, alpha;
    Result result;
    bool small;
  };
  const Case cases[] = {
      {0.02, 0.025, Result::Fail, false},    {0.025, 0.025, Result::Doubtful, false},
      {0.049, 0.025, Result::Doubtful, false}, {0.05, 0.025, Result::Pass, false},
      {0.004, 0.001, Result::Doubtful, false}, {0.08, 0.1, Result::Fail, false},
      {0.995, 0.05, Result::Pass, true},     {0.98, 0.05, Result::Pass, false},
      {kNaN, 0.05, Result::Pass, false},
  };
  for (const Case& c : cases) {
    bool small = true;
    EXPECT_EQ(test_verdict(c.p, c.alpha, &small), c.result) << c.p << " " << c.alpha;
    EXPECT_EQ(small, c.small) << c.p;
  }
}

// A line p(x) = 1 + 2x on [xmin, xmax] in the Chebyshev form, its standards'
// responses those of x (1 + d).
struct LineStandards {
  Vec x, d, y, w, wres, coef{0, 0}, cov{1e-4, 0, 0, 1e-4};
  double xmin, xmax;
  LineStandards(Vec xs, Vec ds, double lo, double hi) : x(xs), d(ds), xmin(lo), xmax(hi) {
    coef = {2 * (1 + (xmin + xmax)), (xmax - xmin)};
    for (std::size_t i = 0; i < x.size(); ++i) y.push_back(1 + 2 * x[i] * (1 + d[i]));
    w.assign(x.size(), 1.0);
    wres.assign(x.size(), 0.0);
  }
  FitRecord rec() const {
    FitRecord r;
    r.ncoef = 2;
    r.coef = coef.data();
    r.cov = cov.data();
    r.xmin = xmin;
    r.xmax = xmax;
    r.covkind = 1;
    r.npts = static_cast<int>(x.size());
    r.ndof = r.npts - 2;
    r.x = x.data();
    r.y = y.data();
    r.w = w.data();
    r.wres = wres.data();
    r.wresx = wres.data();
    return r;
  }
};

TEST(LabVerdicts, BackCalculatedStandardsByTable) {
  struct Case {
    const char* name;
    Vec x, d;
    std::vector<int> passed;
    bool overall;
  };
  const std::vector<Case> cases = {
      {"lowest level within 20 %, three of four pass (exactly 75 %)",
       {1, 2, 4, 8}, {0.18, 0.14, -0.16, 0.0}, {1, 1, 0, 1}, true},
      {"lowest level below by 19 %", {1, 2, 4, 8}, {-0.19, 0, 0, 0}, {1, 1, 1, 1}, true},
      {"lowest level beyond 20 %", {1, 2, 4, 8}, {0.22, 0, 0, 0}, {0, 1, 1, 1}, true},
      {"two of four: 50 %", {1, 2, 4, 8}, {0.0, 0.16, -0.2, 0}, {1, 0, 0, 1}, false},
      {"a blank is not tested; the lowest non-zero level gets 20 %",
       {0, 1, 2, 4, 8}, {0, 0.17, 0.17, 0, 0}, {1, 1, 0, 1, 1}, true},
      {"beyond the curve's end: read by the tangent", {1, 2, 4, 8}, {0, 0, 0, 0.1},
       {1, 1, 1, 1}, true},
      {"below the curve's start: read by the tangent", {1, 2, 4, 8}, {-0.12, 0, 0, 0},
       {1, 1, 1, 1}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LineStandards s(c.x, c.d, c.x.front() == 0 ? 0.0 : 1.0, 8.0);
    const Diag dg = diagnose(s.rec());
    int tested = 0, passed = 0;
    for (std::size_t i = 0; i < c.x.size(); ++i) {
      EXPECT_EQ(dg.passed[i], c.passed[i]) << i;
      if (c.x[i] == 0.0) {
        EXPECT_TRUE(std::isnan(dg.pct[i]));
        continue;
      }
      EXPECT_NEAR(dg.xback[i], c.x[i] * (1 + c.d[i]), 1e-12 * c.x[i]);
      EXPECT_NEAR(dg.pct[i], 100 * (1 + c.d[i]), 1e-10);
      ++tested;
      passed += c.passed[i];
    }
    EXPECT_EQ(dg.back[0], tested);
    EXPECT_EQ(dg.back[1], passed);
    EXPECT_EQ(dg.back[2], c.overall ? 1.0 : 0.0);
  }
}

TEST(LabVerdicts, TheShareOfStandardsIsReachedAtItsBoundary) {
  struct Case {
    int tested, passed;
    double fraction;
    bool met;
  };
  const Case cases[] = {{4, 3, 0.75, true},  {8, 6, 0.75, true},  {8, 5, 0.75, false},
                        {3, 2, 0.75, false}, {5, 5, 1.0, true},   {0, 0, 0.0, false},
                        {20, 15, 0.75, true}, {6, 4, 2.0 / 3, true}};
  for (const Case& c : cases)
    EXPECT_EQ(back_fraction_met(c.tested, c.passed, c.fraction), c.met) << c.tested << c.passed;
}

TEST(LabVerdicts, CorrelationKeepsTheSignOfAFallingLine) {
  const Vec x{1, 2, 3, 4, 5, 6};
  const Vec up{2.1, 3.9, 6.2, 7.8, 10.3, 11.9};
  for (double sign : {1.0, -1.0}) {
    Vec y;
    for (double v : up) y.push_back(sign * v);
    const DenseFit f = dense_fit(x, y, Vec(6, 1.0), 2, 1.0, 6.0);
    const Diag d = diagnose(record(f));
    // Pearson's r of x and y.
    const double mx = 3.5, my = std::accumulate(y.begin(), y.end(), 0.0) / 6;
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < 6; ++i) {
      sxy += (x[i] - mx) * (y[i] - my);
      sxx += (x[i] - mx) * (x[i] - mx);
      syy += (y[i] - my) * (y[i] - my);
    }
    const double r = sxy / std::sqrt(sxx * syy);
    EXPECT_NEAR(d.corr[0], r, 1e-12);
    EXPECT_NEAR(d.corr[1], r * r, 1e-12);
  }
}

TEST(LabVerdicts, VerdictRuleByTable) {
  struct Case {
    const char* name;
    int ndof, ncoef, warn;
    double p_chi2, lof_p;  // lof_p NaN: no lack-of-fit test
    int outliers;
    bool back_ok;
    int overall, reasons;
  };
  const Case cases[] = {
      {"all pass", 5, 2, 0, 0.5, 0.5, 0, true, kFit, 0},
      {"doubtful goodness does not reject", 5, 2, 0, 0.03, kNaN, 0, true, kFit, 0},
      {"goodness fails", 5, 2, 0, 0.001, kNaN, 0, true, kNotFit, 1},
      {"an outlier", 5, 2, 0, 0.5, kNaN, 1, true, kNotFit, 4},
      {"an outlier, warn only", 5, 2, 4, 0.5, kNaN, 2, true, kFitWithWarnings, 0},
      {"back-calculation fails", 5, 2, 0, 0.5, kNaN, 0, false, kNotFit, 8},
      {"back-calculation fails, warn only", 5, 2, 8, 0.5, kNaN, 0, false, kFitWithWarnings, 0},
      {"two fail, one warns", 5, 2, 1, 0.001, 0.001, 1, true, kNotFit, 6},
      {"no degrees of freedom", 0, 2, 0, kNaN, kNaN, 0, true, kNotFit, kReasonNoDof},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FitRecord f;
    f.ncoef = c.ncoef;
    f.ndof = c.ndof;
    f.stated = true;
    f.chi2 = 1.0;
    Criteria crit;
    crit.warn = c.warn;
    const Levels lv = test_levels(f, crit, !std::isnan(c.lof_p));
    Findings x{};
    x.p_chi2 = c.p_chi2;
    x.shape.kind = std::isnan(c.lof_p) ? kShapeNone : kShapeLackOfFit;
    x.shape.p = c.lof_p;
    x.outliers = c.outliers;
    x.has_back = true;
    x.back = {4, c.back_ok ? 4 : 2, c.back_ok};
    const Verdict v = verdict_rule(f, crit, lv, x);
    EXPECT_EQ(v.overall, c.overall);
    EXPECT_EQ(v.reasons, c.reasons);
  }
}

// The exported names, loaded as a host loads them.
class Exported : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    diagnose_ = reinterpret_cast<decltype(&QVXL_DIAGNOSE)>(dlsym(handle_, "QVXL_DIAGNOSE"));
    verdict_ = reinterpret_cast<decltype(&QVXL_VERDICT)>(dlsym(handle_, "QVXL_VERDICT"));
    test_ = reinterpret_cast<decltype(&QVXL_TEST_VERDICT)>(dlsym(handle_, "QVXL_TEST_VERDICT"));
    ASSERT_TRUE(diagnose_ && verdict_ && test_);
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  // Calls QVXL_DIAGNOSE on r with criteria crit; outputs into d.
  int call(const FitRecord& r, const Vec& crit, Diag& d) {
    int st = -1;
    const int kind = r.kind, covkind = r.covkind, ndof = r.ndof, stated = r.stated, n = r.npts;
    diagnose_(&r.ncoef, r.coef, r.cov, &r.xmin, &r.xmax, &kind, &covkind, &ndof, &r.sres,
              &r.chi2, &stated, &n, r.x, r.y, r.w, r.wres, r.wresx, crit.data(), d.lev.data(),
              d.si.data(), d.se.data(), d.cook.data(), d.stat.data(), d.statx.data(),
              d.flags.data(), d.xback.data(), d.pct.data(), d.lim.data(), d.passed.data(), &d.p,
              d.lof, d.outl, d.back, d.corr, d.levels, &st);
    return st;
  }
  void* handle_ = nullptr;
  decltype(&QVXL_DIAGNOSE) diagnose_ = nullptr;
  decltype(&QVXL_VERDICT) verdict_ = nullptr;
  decltype(&QVXL_TEST_VERDICT) test_ = nullptr;
};

const Vec kDefaultCrit{0.05, kNaN, kNaN, kNaN, 15, 20, 0.75, 1, kNaN, 0};

TEST_F(Exported, DiagnoseGivesTheInternalRoutinesBits) {
  const Design c = designs()[2];
  const DenseFit f = dense_fit(c.x, c.y, c.w, c.ncoef, c.x.front(), c.x.back());
  const FitRecord r = record(f);
  Diag host(c.x.size());
  ASSERT_EQ(call(r, kDefaultCrit, host), QVXL_OK);
  const Diag own = diagnose(r);
  for (std::size_t i = 0; i < c.x.size(); ++i) {
    EXPECT_EQ(std::memcmp(&host.lev[i], &own.lev[i], sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(&host.se[i], &own.se[i], sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(&host.xback[i], &own.xback[i], sizeof(double)), 0);
    EXPECT_EQ(host.flags[i], own.flags[i]);
  }
  EXPECT_EQ(std::memcmp(host.lof, own.lof, sizeof host.lof), 0);
  EXPECT_EQ(std::memcmp(host.outl, own.outl, sizeof host.outl), 0);
  EXPECT_EQ(std::memcmp(host.corr, own.corr, sizeof host.corr), 0);

  int applies[4], result[4], detail[4], overall = -1, reasons = -1, st = -1, warn = 0;
  double stat[4], plim[4], alpha[4];
  const int kind = 0, covkind = 1, stated = 0, n = r.npts;
  verdict_(&r.ncoef, r.coef, r.cov, &r.xmin, &r.xmax, &kind, &covkind, &r.ndof, &r.sres, &r.chi2,
           &stated, &n, r.x, r.y, r.w, r.wres, r.wresx, kDefaultCrit.data(), &warn, applies,
           stat, plim, alpha, result, detail, &overall, &reasons, &st);
  ASSERT_EQ(st, QVXL_OK);
  EXPECT_EQ(plim[kLackOfFit], own.lof[3]);
  EXPECT_EQ(plim[kOutliers], own.outl[0]);
  EXPECT_EQ(alpha[kOutliers], own.levels[2]);
  EXPECT_EQ(overall == kNotFit, reasons != 0);

  int res = -1, det = -1;
  const double p = 0.995, a = 0.05;
  test_(&p, &a, &res, &det, &st);
  EXPECT_EQ(st, QVXL_OK);
  EXPECT_EQ(res, QVXL_RESULT_PASS);
  EXPECT_EQ(det, kSmallScatter);
  const double bad = 1.0;
  test_(&p, &bad, &res, &det, &st);
  EXPECT_EQ(st, QVXL_VERDICT_BAD_CRITERIA);
}

TEST_F(Exported, StatusesLeaveTheOutputsAlone) {
  const Design c = designs()[0];
  const DenseFit f = dense_fit(c.x, c.y, c.w, c.ncoef, c.x.front(), c.x.back());
  Vec zero_w = c.w, nan_y = c.y;
  zero_w[3] = 0.0;
  nan_y[2] = kNaN;
  struct Case {
    const char* name;
    void (*edit)(FitRecord&, Vec&, const Vec&, const Vec&);
    int status;
  };
  const Case cases[] = {
      {"ncoef 11", [](FitRecord& r, Vec&, const Vec&, const Vec&) { r.ncoef = 11; },
       QVXL_BAD_NCOEF},
      {"empty interval", [](FitRecord& r, Vec&, const Vec&, const Vec&) { r.xmax = r.xmin; },
       QVXL_BAD_INTERVAL},
      {"fewer standards than coefficients",
       [](FitRecord& r, Vec&, const Vec&, const Vec&) { r.npts = 1, r.ndof = -1; },
       QVXL_BAD_COUNT},
      {"unknown kind", [](FitRecord& r, Vec&, const Vec&, const Vec&) { r.kind = 2; },
       QVXL_BAD_CODE},
      {"dof not n - ncoef", [](FitRecord& r, Vec&, const Vec&, const Vec&) { r.ndof = 4; },
       QVXL_VERDICT_DOF_MISMATCH},
      {"a zero weight", [](FitRecord& r, Vec&, const Vec& w, const Vec&) { r.w = w.data(); },
       QVXL_VERDICT_BAD_WEIGHT},
      {"a NaN response", [](FitRecord& r, Vec&, const Vec&, const Vec& y) { r.y = y.data(); },
       QVXL_BAD_VALUE},
      {"alpha 1.5", [](FitRecord&, Vec& k, const Vec&, const Vec&) { k[0] = 1.5; },
       QVXL_VERDICT_BAD_CRITERIA},
      {"own level 0", [](FitRecord&, Vec& k, const Vec&, const Vec&) { k[2] = 0.0; },
       QVXL_VERDICT_BAD_CRITERIA},
      {"share above 1", [](FitRecord&, Vec& k, const Vec&, const Vec&) { k[6] = 1.2; },
       QVXL_VERDICT_BAD_CRITERIA},
      {"negative tolerance", [](FitRecord&, Vec& k, const Vec&, const Vec&) { k[4] = -1; },
       QVXL_VERDICT_BAD_CRITERIA},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    FitRecord r = record(f);
    Vec crit = kDefaultCrit;
    k.edit(r, crit, zero_w, nan_y);
    Diag d(c.x.size());
    std::fill(d.lev.begin(), d.lev.end(), -7.0);
    std::fill(d.flags.begin(), d.flags.end(), -7);
    d.p = -7.0;
    d.outl[0] = -7.0;
    EXPECT_EQ(call(r, crit, d), k.status);
    EXPECT_EQ(d.lev[0], -7.0);
    EXPECT_EQ(d.flags[0], -7);
    EXPECT_EQ(d.p, -7.0);
    EXPECT_EQ(d.outl[0], -7.0);
  }
  // An unknown warn-only mask.
  const FitRecord r = record(f);
  int applies[4], result[4], detail[4], overall = -1, reasons = -1, st = -1, warn = 16;
  double stat[4], plim[4], alpha[4];
  const int kind = 0, covkind = 1, stated = 0, n = r.npts;
  verdict_(&r.ncoef, r.coef, r.cov, &r.xmin, &r.xmax, &kind, &covkind, &r.ndof, &r.sres, &r.chi2,
           &stated, &n, r.x, r.y, r.w, r.wres, r.wresx, kDefaultCrit.data(), &warn, applies,
           stat, plim, alpha, result, detail, &overall, &reasons, &st);
  EXPECT_EQ(st, QVXL_BAD_CODE);
  EXPECT_EQ(overall, -1);
}

}  // namespace
