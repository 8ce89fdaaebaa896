// Goodness of fit.
//
// Stated uncertainties: chi2 = sum (W_i e_i)^2 follows chi-squared with
// n - ncoef degrees of freedom when the model and the uncertainties are
// right (ISO/TS 28037 7.2.4): p = P(chi2_dof >= chi2).
//
// Lack of fit (Draper and Smith, Applied Regression Analysis, 2.1): with
// replicate standards the weighted residual sum of squares splits into pure
// error, the scatter of the replicates about their weighted level means,
//   SS_pure = sum_i W_i^2 (y_i - ybar_g(i))^2   on n - g degrees of freedom,
// and lack of fit SS_lack = chi2 - SS_pure on g - ncoef;
//   F = (SS_lack / (g - ncoef)) / (SS_pure / (n - g)),  p = P(F >= f).
//
// Without replicates the shape is tested by the next-higher term: the curve
// of one more coefficient is fitted to the same standards with the same
// weights, and the drop in chi2 is tested (selection/added_term.cpp, the
// test the degree selection runs): Mandel's F test of ISO 8466-1 / 8466-2
// and DIN 38402-51 where the scatter sets the scale, Delta chi2 against
// chi2(1) where stated uncertainties do.
#include "verdicts/goodness.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "selection/added_term.h"
#include "selection/candidate_fit.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMaxCoef = 10;  // the engine fits degree 9 at most
}  // namespace

double chi2_p_value(const FitRecord& f) {
  if (!f.stated || f.ndof == 0) return kNaN;
  return upper_tail(Dist::ChiSquared, f.chi2, f.ndof);
}

LackOfFit lack_of_fit(const FitRecord& f) {
  LackOfFit r;
  if (!f.ordinary()) return r;
  const std::size_t n = f.n();
  // Levels: the distinct x values, each standard's level by a sort.
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Ties keep the standards' order (a sort on (x, index) needs no work buffer).
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return f.x[a] < f.x[b] || (f.x[a] == f.x[b] && a < b);
  });
  std::vector<std::size_t> group(n);
  int g = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (k > 0 && f.x[order[k]] != f.x[order[k - 1]]) ++g;
    group[order[k]] = static_cast<std::size_t>(g);
  }
  g += 1;
  const int dof_pure = f.npts - g, dof_lack = g - f.ncoef;
  if (dof_pure <= 0 || dof_lack <= 0) return r;
  // Weighted level means, sums in the standards' order.
  std::vector<double> sw(static_cast<std::size_t>(g), 0.0), swy(sw);
  for (std::size_t i = 0; i < n; ++i) {
    const double w2 = f.w[i] * f.w[i];
    swy[group[i]] += w2 * f.y[i];
    sw[group[i]] += w2;
  }
  double ss_pure = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w2 = f.w[i] * f.w[i];
    const double d = f.y[i] - swy[group[i]] / sw[group[i]];
    ss_pure += w2 * (d * d);
  }
  const double ss_lack = std::max(f.chi2 - ss_pure, 0.0);
  r.applies = true;
  r.ss_lack = ss_lack;
  r.ss_pure = ss_pure;
  r.dof_lack = dof_lack;
  r.dof_pure = dof_pure;
  r.groups = g;
  if (ss_pure == 0.0) {
    r.f = ss_lack > 0.0 ? kInf : kNaN;
    r.p = ss_lack > 0.0 ? 0.0 : kNaN;
  } else {
    r.f = (ss_lack / dof_lack) / (ss_pure / dof_pure);
    r.p = upper_tail(Dist::F, r.f, dof_lack, dof_pure);
  }
  return r;
}

ShapeTest shape_test(const FitRecord& f, const LackOfFit& lof) {
  ShapeTest t;
  t.statistic = t.p = kNaN;
  if (!f.ordinary()) {
    t.kind = kShapeNoneErrorsInVariables;
  } else if (lof.applies) {
    t.kind = kShapeLackOfFit;
    t.statistic = lof.f;
    t.p = lof.p;
  } else if (f.ncoef < kMaxCoef && f.ndof > 1) {
    // The next-higher curve on the same standards, weights and interval.
    double chi2_higher = kNaN;
    const bool stated = f.stated && f.covkind == 0;
    if (candidate_fit(f.npts, f.x, f.y, f.w, f.ncoef + 1, f.xmin, f.xmax, chi2_higher) == 0) {
      const AddedTerm a = added_term_test(f.chi2, chi2_higher, 1, f.ndof - 1, stated);
      if (!std::isnan(a.p)) {
        t.kind = stated ? kShapeAddedChi2 : kShapeMandel;
        t.statistic = a.statistic;
        t.p = a.p;
      }
    }
  }
  return t;
}

Result test_verdict(double p, double alpha, bool* small) {
  if (small) *small = false;
  if (p < alpha) return Result::Fail;
  if (p < std::max(kAlphaDoubt, alpha)) return Result::Doubtful;
  if (small) *small = 1.0 - p < kAlphaSmall;
  return Result::Pass;
}

}  // namespace quorvex::lab
