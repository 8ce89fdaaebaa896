// The diagnostics of a fit assembled in one pass (residuals, leverages,
// Cook's distances, the outlier test, the chi-squared and lack-of-fit tests,
// back-calculated standards, r and r^2), and the verdict over them.  The
// rules themselves live in the files of this folder.
#include "verdicts/diagnose.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

#include "quorvex_lab.h"
#include "verdicts/back_calculation.h"
#include "verdicts/correlation.h"
#include "verdicts/goodness.h"
#include "verdicts/residuals.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool finite_all(const double* a, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isfinite(a[i])) return false;
  return true;
}
}  // namespace

int check_fit(const FitRecord& f) {
  if (f.ncoef < 1 || f.ncoef > 10) return QVXL_BAD_NCOEF;
  if (!(f.xmin < f.xmax) || !std::isfinite(f.xmin) || !std::isfinite(f.xmax))
    return QVXL_BAD_INTERVAL;
  if (f.npts < 1 || f.npts < f.ncoef) return QVXL_BAD_COUNT;
  if (f.kind < 0 || f.kind > 1 || f.covkind < 0 || f.covkind > 1) return QVXL_BAD_CODE;
  if (f.ndof != f.npts - f.ncoef) return QVXL_VERDICT_DOF_MISMATCH;
  const std::size_t n = f.n(), nc = static_cast<std::size_t>(f.ncoef);
  for (std::size_t i = 0; i < n; ++i)
    if (!(f.w[i] > 0.0) || std::isinf(f.w[i])) return QVXL_VERDICT_BAD_WEIGHT;
  if (!finite_all(f.coef, nc) || !finite_all(f.cov, nc * nc) || !finite_all(f.x, n) ||
      !finite_all(f.y, n) || !finite_all(f.wres, n) || (!f.ordinary() && !finite_all(f.wresx, n)))
    return QVXL_BAD_VALUE;
  if (!(f.sres >= 0.0) || std::isinf(f.sres) || !(f.chi2 >= 0.0) || std::isinf(f.chi2))
    return QVXL_BAD_VALUE;
  return QVXL_OK;
}

namespace {

// The diagnosis with the findings the verdict needs.
int diagnose(const FitRecord& f, const Criteria& c, const Diagnosis& d, Findings& x,
             Levels& lv) {
  if (const int st = check_fit(f); st != QVXL_OK) return st;
  if (const int st = check_criteria(c); st != QVXL_OK) return st;
  const std::size_t n = f.n();

  x.lof = lack_of_fit(f);
  x.shape = shape_test(f, x.lof);
  lv = test_levels(f, c, x.shape.applies());
  x.p_chi2 = chi2_p_value(f);

  leverages(f, d.leverage);
  studentized(f, d.leverage, false, d.stud_int);
  studentized(f, d.leverage, true, d.stud_ext);
  if (f.ordinary()) {
    cooks_distance(f, d.leverage, d.stud_int, d.cook);
  } else {
    for (std::size_t i = 0; i < n; ++i) d.cook[i] = kNaN;
  }
  const Statistic kind = residual_statistic(f, d.leverage, d.stud_ext, d.stat, d.statx);

  Threshold t{c.threshold, ThresholdFrom::None, kNaN};
  const bool given = !std::isnan(c.threshold);
  if (!given) {
    // The test's level; where it takes no share, its own level if given, else
    // the family level.
    const double a = lv.applies[kOutliers]          ? lv.alpha[kOutliers]
                     : !std::isnan(c.alpha_outliers) ? c.alpha_outliers
                                                     : kFamilyAlpha;
    t = outlier_threshold(f, a);
  }
  outlier_flags(f, d.leverage, d.cook, d.stat, d.statx, t.value, c.cook, d.flags);
  double largest = kNaN;
  int at = 0, outliers = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (d.flags[i] & (kOutlierY | kOutlierX)) ++outliers;
    for (double s : {d.stat[i], d.statx[i]}) {
      if (std::abs(s) > largest || (std::isnan(largest) && !std::isnan(s))) {
        largest = std::abs(s);
        at = static_cast<int>(i) + 1;
      }
    }
  }
  x.outliers = outliers;
  x.largest = largest;
  x.threshold = t.value;
  d.outl[0] = t.value;
  d.outl[1] = static_cast<double>(kind);
  d.outl[2] = given ? 3.0 : static_cast<double>(t.from);
  d.outl[3] = t.dof;
  d.outl[4] = largest;
  d.outl[5] = at;

  x.has_back = f.ncoef >= 2;
  if (x.has_back) {
    x.back = back_calculate(f, c.tolerance, c.tolerance_lowest, c.fraction, d.xback, d.percent,
                            d.limit, d.passed);
  } else {
    x.back = BackSummary{};
    for (std::size_t i = 0; i < n; ++i) {
      d.xback[i] = d.percent[i] = d.limit[i] = kNaN;
      d.passed[i] = 0;
    }
  }
  d.back[0] = x.back.tested;
  d.back[1] = x.back.passed;
  d.back[2] = x.has_back ? (x.back.overall ? 1.0 : 0.0) : kNaN;

  *d.p_chi2 = x.p_chi2;
  if (x.lof.applies) {
    const double v[7] = {x.lof.ss_lack, x.lof.ss_pure, x.lof.f, x.lof.p,
                         static_cast<double>(x.lof.dof_lack),
                         static_cast<double>(x.lof.dof_pure), static_cast<double>(x.lof.groups)};
    for (int k = 0; k < 7; ++k) d.lof[k] = v[k];
  } else {
    for (int k = 0; k < 7; ++k) d.lof[k] = kNaN;
  }
  const Correlation r = correlation(f);
  d.corr[0] = r.r;
  d.corr[1] = r.r2;
  for (int k = 0; k < 3; ++k) d.levels[k] = lv.alpha[k];
  return QVXL_OK;
}

}  // namespace

int DIAGNOSE(const FitRecord& f, const Criteria& c, const Diagnosis& out) {
  Findings x{};
  Levels lv;
  return diagnose(f, c, out, x, lv);
}

int VERDICT(const FitRecord& f, const Criteria& c, const VerdictOut& out) {
  if (const int st = check_fit(f); st != QVXL_OK) return st;
  const std::size_t n = f.n();
  std::vector<double> r(n * 9);
  std::vector<int> flags(n), passed(n);
  double p = 0.0, lof[7], outl[6], back[3], corr[2], levels[3];
  const Diagnosis d{r.data(),         r.data() + n,     r.data() + 2 * n, r.data() + 3 * n,
                    r.data() + 4 * n, r.data() + 5 * n, flags.data(),     r.data() + 6 * n,
                    r.data() + 7 * n, r.data() + 8 * n, passed.data(),    &p,
                    lof,              outl,             back,             corr,
                    levels};
  Findings x{};
  Levels lv;
  if (const int st = diagnose(f, c, d, x, lv); st != QVXL_OK) return st;
  const Verdict v = verdict_rule(f, c, lv, x);
  for (int k = 0; k < kCriteria; ++k) {
    const VerdictRow& row = v.row[k];
    out.applies[k] = row.applies ? 1 : 0;
    out.statistic[k] = row.statistic;
    out.limit[k] = row.limit;
    out.alpha[k] = row.alpha;
    out.result[k] = static_cast<int>(row.result);
    out.detail[k] = row.detail;
  }
  *out.overall = v.overall;
  *out.reasons = v.reasons;
  return QVXL_OK;
}

}  // namespace quorvex::lab
