// Summary of a response's Monte Carlo draws (GUM Supplement 1, 7.5-7.7).
//
// Over the m draws with a root: the mean, the standard deviation with
// divisor m - 1, and the probabilistically symmetric coverage interval, the
// (1 - level)/2 and (1 + level)/2 quantiles, with the median.  The draws are
// summed in the order drawn.  A quantile of
// the sorted values s_0 <= ... <= s_{m-1} at p is the linear interpolation at
// position p (m - 1).
//
// The sampling error of an interval end at probability p: its rank in the
// sample is binomial with standard deviation sqrt(m p (1 - p)), so the
// standard error is taken as half the spread of the quantiles at
// p -+ d, d = sqrt(p (1 - p) / m) (the distribution-free order-statistic
// interval of a quantile, e.g. ISO 16269-7, at one standard deviation).
#include "montecarlo/mc_summary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace quorvex::lab {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double sorted_quantile(const std::vector<double>& s, double p) {
  const std::size_t m = s.size();
  if (m == 0) return kNaN;
  const double pos = std::max(p * static_cast<double>(m - 1), 0.0);
  const std::size_t lo = std::min(static_cast<std::size_t>(std::floor(pos)), m - 1);
  const std::size_t hi = std::min(lo + 1, m - 1);
  const double frac = pos - static_cast<double>(lo);
  return s[lo] + frac * (s[hi] - s[lo]);
}

McSummary summarise(std::vector<double>& xs, long long ndraw, long long no_root,
                    long long several, double level) {
  McSummary r{};
  const std::size_t m = xs.size();
  const double dm = static_cast<double>(m);
  r.mean = r.sd = kNaN;
  if (m > 0) {
    // Summed as deviations from the first draw: no rounding where the draws
    // agree, and less where they spread little about a large value.
    const double x0 = xs[0];
    double sum = 0.0;
    for (const double x : xs) sum += x - x0;
    r.mean = x0 + sum / dm;
  }
  if (m > 1) {
    double ss = 0.0;
    for (const double x : xs) ss += (x - r.mean) * (x - r.mean);
    r.sd = std::sqrt(ss / (dm - 1.0));
  }
  std::sort(xs.begin(), xs.end());
  const double pl = (1.0 - level) / 2.0, ph = (1.0 + level) / 2.0;
  r.low = sorted_quantile(xs, pl);
  r.high = sorted_quantile(xs, ph);
  r.median = sorted_quantile(xs, 0.5);
  auto se = [&](double p) {
    if (m == 0) return kNaN;
    const double d = std::sqrt(p * (1.0 - p) / dm);
    return 0.5 * (sorted_quantile(xs, std::min(p + d, 1.0)) -
                  sorted_quantile(xs, std::max(p - d, 0.0)));
  };
  r.se_low = se(pl);
  r.se_high = se(ph);
  const double nd = static_cast<double>(ndraw);
  r.no_root = static_cast<double>(no_root) / nd;
  r.several = static_cast<double>(several) / nd;
  return r;
}

}  // namespace quorvex::lab
