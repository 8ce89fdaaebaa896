// Back-calculated standards (ICH M10 / bioanalytical method validation):
// each standard's response y_i is read back to x_i' through the curve, the
// root of p(x) = y_i nearest the nominal x_i (IPVAL's root search); where
// the response lies beyond the curve's values there is no root and the
// tangent at the nearer-reaching end stands in:  x' = x_end + (y_i -
// p(x_end)) / p'(x_end).  Then
//   percent_i = 100 x_i' / x_i,  passed when |percent_i - 100| <= tolerance
// (15 %; 20 % at the lowest non-zero level, where a method is least
// precise); blanks (x = 0) are not tested.  The run passes when at least
// `fraction` (75 %) of the tested standards pass.
#include "verdicts/back_calculation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"
#include "inverse/ipval.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kGrid = 100;  // IPVAL's default grid
}  // namespace

bool back_fraction_met(int tested, int passed, double fraction) {
  return tested > 0 && passed >= fraction * tested;
}

BackSummary back_calculate(const FitRecord& f, double tolerance, double tolerance_lowest,
                           double fraction, double* xback, double* percent, double* limit,
                           int* passed) {
  const std::size_t n = f.n();
  const std::size_t rows = static_cast<std::size_t>(f.ncoef) - 1;
  std::vector<int> nroot(n);
  std::vector<double> roots(rows * n, kNaN);
  IPVAL_ROOTS(f.ncoef, f.coef, f.npts, f.y, f.xmin, f.xmax, kGrid, 0.0, nroot.data(),
              roots.data());

  PointEval at(CurveRef{f.ncoef, f.coef, nullptr, f.xmin, f.xmax});
  const double ends[2] = {f.xmin, f.xmax};
  const double pe[2] = {at.value(f.xmin), at.value(f.xmax)};
  const double se[2] = {at.slope(f.xmin), at.slope(f.xmax)};

  for (std::size_t i = 0; i < n; ++i) {
    const double near = f.x[i];
    double best = kNaN, bestd = kInf;
    if (nroot[i] > 0) {
      for (int j = 0; j < nroot[i]; ++j) {
        const double r = roots[rows * i + static_cast<std::size_t>(j)];
        if (std::abs(r - near) < bestd) {
          bestd = std::abs(r - near);
          best = r;
        }
      }
    } else {
      for (int e = 0; e < 2; ++e) {
        const double c = ends[e] + (f.y[i] - pe[e]) / se[e];
        if (std::isfinite(c) && std::abs(c - near) < bestd) {
          bestd = std::abs(c - near);
          best = c;
        }
      }
    }
    xback[i] = best;
  }

  double lowest = kInf;
  for (std::size_t i = 0; i < n; ++i)
    if (f.x[i] != 0.0) lowest = std::min(lowest, std::abs(f.x[i]));
  BackSummary s;
  for (std::size_t i = 0; i < n; ++i) {
    const bool blank = f.x[i] == 0.0;
    percent[i] = blank ? kNaN : 100.0 * xback[i] / f.x[i];
    limit[i] = !blank && std::abs(f.x[i]) == lowest ? tolerance_lowest : tolerance;
    const bool ok = blank || std::abs(percent[i] - 100.0) <= limit[i];
    passed[i] = ok ? 1 : 0;
    if (!blank) {
      ++s.tested;
      if (ok) ++s.passed;
    }
  }
  s.overall = back_fraction_met(s.tested, s.passed, fraction);
  return s;
}

}  // namespace quorvex::lab
