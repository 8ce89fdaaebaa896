// The acceptance criteria and the verdict rule.
//
// The statistical tests (chi-squared test of stated uncertainties, the test
// of the curve's shape, outliers) share the overall false-rejection rate
// alpha equally among those that can run on the fit (Bonferroni): a
// correctly modelled run is then rejected with probability at most alpha.
// The shape is tested by lack of fit where standards are replicated, else by
// the next-higher term (Mandel's test, ISO 8466-1 / 8466-2).  A test that
// cannot run (no stated uncertainties, errors in variables, too few degrees
// of freedom) takes no share.  A run is fit for use when the curve has degree
// 1 or more and degrees of freedom left, and no criterion failed that
// rejects: goodness and shape not "fail", no outlier, enough standards read
// back within their tolerances.  Criteria marked warn-only report their failure as a
// warning.  Influence (Cook's distance) never rejects a run.
#include "verdicts/criteria.h"

#include <cmath>
#include <initializer_list>
#include <limits>

#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool in_unit(double a) { return a > 0.0 && a < 1.0; }
}  // namespace

int check_criteria(const Criteria& c) {
  if (!in_unit(c.alpha)) return QVXL_VERDICT_BAD_CRITERIA;
  for (double a : {c.alpha_goodness, c.alpha_lack_of_fit, c.alpha_outliers})
    if (!std::isnan(a) && !in_unit(a)) return QVXL_VERDICT_BAD_CRITERIA;
  if (!(c.tolerance >= 0.0) || !(c.tolerance_lowest >= 0.0) || !(c.fraction >= 0.0) ||
      !(c.fraction <= 1.0) || std::isnan(c.cook))
    return QVXL_VERDICT_BAD_CRITERIA;
  if (c.warn < 0 || c.warn > 15) return QVXL_BAD_CODE;
  return QVXL_OK;
}

Levels test_levels(const FitRecord& f, const Criteria& c, bool shape_applies) {
  Levels lv;
  lv.applies[kGoodness] = f.stated && f.ndof > 0;
  lv.applies[kLackOfFit] = shape_applies;
  lv.applies[kOutliers] = f.ndof > (f.covkind == 0 ? 0 : 1);
  int tests = 0;
  for (bool a : lv.applies) tests += a ? 1 : 0;
  const double share = c.alpha / (tests > 1 ? tests : 1);
  const double own[3] = {c.alpha_goodness, c.alpha_lack_of_fit, c.alpha_outliers};
  for (int t = 0; t < 3; ++t) {
    lv.alpha[t] = !lv.applies[t] ? kNaN : std::isnan(own[t]) ? share : own[t];
  }
  return lv;
}

Verdict verdict_rule(const FitRecord& f, const Criteria& c, const Levels& lv,
                     const Findings& x) {
  Verdict v;
  VerdictRow& g = v.row[kGoodness];
  g.applies = lv.applies[kGoodness];
  g.statistic = f.chi2;
  g.limit = x.p_chi2;
  g.alpha = lv.alpha[kGoodness];
  if (f.ndof == 0) {
    g.detail = kNoDof;
  } else if (!f.stated) {
    g.detail = kNotStated;
  } else {
    bool small = false;
    g.result = test_verdict(x.p_chi2, g.alpha, &small);
    if (small) g.detail = kSmallScatter;
  }

  VerdictRow& l = v.row[kLackOfFit];
  l.applies = x.shape.applies();
  l.alpha = lv.alpha[kLackOfFit];
  l.statistic = x.shape.statistic;
  l.limit = x.shape.p;
  l.detail = x.shape.kind;
  if (l.applies) l.result = test_verdict(x.shape.p, l.alpha);

  VerdictRow& o = v.row[kOutliers];
  o.applies = lv.applies[kOutliers];
  o.statistic = x.largest;
  o.limit = x.threshold;
  o.alpha = lv.alpha[kOutliers];
  o.detail = x.outliers;
  o.result = x.outliers > 0 ? Result::Fail : o.applies ? Result::Pass : Result::NotTested;

  VerdictRow& b = v.row[kBackCalculated];
  b.applies = x.has_back;
  b.alpha = kNaN;
  b.limit = c.fraction;
  if (x.has_back) {
    b.statistic = x.back.tested > 0 ? static_cast<double>(x.back.passed) / x.back.tested : kNaN;
    b.detail = x.back.passed;
    b.result = x.back.overall ? Result::Pass : Result::Fail;
  } else {
    b.statistic = kNaN;
  }

  bool warned = false;
  for (int k = 0; k < kCriteria; ++k) {
    if (v.row[k].result != Result::Fail) continue;
    if (c.warn & (1 << k)) {
      v.row[k].result = Result::Warn;
      warned = true;
    } else {
      v.reasons |= 1 << k;
    }
  }
  if (f.ndof == 0) v.reasons |= kReasonNoDof;
  if (f.ncoef < 2) v.reasons |= kReasonConstant;
  const bool fit = f.ndof > 0 && f.ncoef >= 2 && (v.reasons & 15) == 0;
  v.overall = !fit ? kNotFit : warned ? kFitWithWarnings : kFit;
  return v;
}

}  // namespace quorvex::lab
