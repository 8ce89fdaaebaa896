// The lack-of-fit F test (Draper and Smith 2.1; ISO 8466-1 for
// calibration).  The weighted residual sum of squares chi2 splits into pure
// error, the scatter of the replicates about their weighted group means,
//     SS_pure = sum_i W_i^2 (y_i - ybar_g)^2   on n - groups dof,
// and lack of fit, SS_lack = max(chi2 - SS_pure, 0) on groups - ncoef dof;
// F = (SS_lack / dof_lack) / (SS_pure / dof_pure), p = P(F' >= F).  Without
// pure error F is +inf (p = 0) where there is lack of fit, else NaN.
#include "selection/lack_of_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numeric/colmajor.h"
#include "stats/distributions.h"

namespace quorvex::lab {

LackOfFitTest lack_of_fit(int npts, const double* x, const double* y, const double* w, int ncoef,
                          double chi2) {
  LackOfFitTest t;
  const std::size_t n = count(npts);
  std::vector<double> levels(x, x + n);
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  const int g = static_cast<int>(levels.size());
  t.groups = g;
  t.dof_pure = npts - g;
  t.dof_lack = g - ncoef;
  if (t.dof_pure <= 0 || t.dof_lack <= 0) return t;
  t.applies = true;
  std::vector<std::size_t> group(n);
  std::vector<double> sw(levels.size(), 0.0), swy(levels.size(), 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    group[i] = static_cast<std::size_t>(std::lower_bound(levels.begin(), levels.end(), x[i]) -
                                        levels.begin());
    const double w2 = w[i] * w[i];
    swy[group[i]] += w2 * y[i];
    sw[group[i]] += w2;
  }
  double ss = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = y[i] - swy[group[i]] / sw[group[i]];
    ss += w[i] * w[i] * (d * d);
  }
  t.ss_pure = ss;
  t.ss_lack = std::max(chi2 - ss, 0.0);
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  if (ss == 0.0) {
    t.f = t.ss_lack > 0.0 ? std::numeric_limits<double>::infinity() : kNaN;
    t.p = t.ss_lack > 0.0 ? 0.0 : kNaN;
  } else {
    t.f = (t.ss_lack / t.dof_lack) / (ss / t.dof_pure);
    t.p = upper_tail(Dist::F, t.f, t.dof_lack, t.dof_pure);
  }
  return t;
}

}  // namespace quorvex::lab
