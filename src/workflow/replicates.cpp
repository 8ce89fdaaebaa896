// Replicate readings of one sample combined into one result, and the check
// that they agree.
//
// The m readings y_1..y_m of a sample become their mean ybar with the sample
// standard deviation s (divisor m - 1).  Read back off a curve, the mean's
// response uncertainty is sigma(x) / sqrt(m) (GUM 4.2.3: the experimental
// standard deviation of the mean), sigma(x) the scatter of one reading.
//
// Agreement of the readings:
//  - against the calibration's scatter sigma(x) = SRES / W(x) (divided by
//    sqrt(r) where each reading is itself the mean of r measurements),
//    estimated with the fit's nu degrees of freedom: F = s^2 / sigma(x)^2 is F(m - 1, nu)
//    distributed where the readings scatter as the standards did (ISO 5725-2
//    7.3.3 compares variances the same way); p = P(F(m - 1, nu) >= F);
//  - against a stated scatter sigma of one reading (the laboratory's
//    repeatability standard deviation): (m - 1) s^2 / sigma^2 is chi-squared
//    with m - 1 degrees of freedom; p = P(chi2 >= that);
//  - against the laboratory's limit on the relative standard deviation of
//    replicate readings (as system-suitability rules for replicate injections
//    state it): RSD = 100 s / |ybar| above the limit.
// The readings disagree where p < alpha (or the RSD exceeds the limit).
#include "workflow/replicates.h"

#include <cmath>
#include <limits>
#include <vector>

#include "quorvex_lab.h"
#include "reading/readback.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

int REPLICATES(int nread, const double* y, const double* uy, const int* group, int ngroup,
               double* mean, double* umean, int* count, double* sd) {
  if (nread < 1 || ngroup < 1) return QVXL_BAD_COUNT;
  std::vector<int> m(static_cast<std::size_t>(ngroup), 0);
  for (int i = 0; i < nread; ++i) {
    if (group[i] < 1 || group[i] > ngroup) return QVXL_WF_BAD_GROUP;
    if (!std::isfinite(y[i])) return QVXL_BAD_VALUE;
    if (uy != nullptr && !(uy[i] >= 0.0 && std::isfinite(uy[i]))) return QVXL_BAD_VALUE;
    ++m[static_cast<std::size_t>(group[i] - 1)];
  }
  for (int g = 0; g < ngroup; ++g)
    if (m[static_cast<std::size_t>(g)] == 0) return QVXL_WF_BAD_GROUP;
  // Two passes: the mean, then the squared deviations from it (no
  // cancellation from the raw sum of squares).
  std::vector<double> sum(static_cast<std::size_t>(ngroup), 0.0),
      ss(static_cast<std::size_t>(ngroup), 0.0), su(static_cast<std::size_t>(ngroup), 0.0);
  for (int i = 0; i < nread; ++i) sum[static_cast<std::size_t>(group[i] - 1)] += y[i];
  for (int g = 0; g < ngroup; ++g) {
    const auto k = static_cast<std::size_t>(g);
    mean[g] = sum[k] / m[k];
  }
  for (int i = 0; i < nread; ++i) {
    const auto k = static_cast<std::size_t>(group[i] - 1);
    const double d = y[i] - mean[k];
    ss[k] += d * d;
    if (uy != nullptr) su[k] += uy[i] * uy[i];
  }
  for (int g = 0; g < ngroup; ++g) {
    const auto k = static_cast<std::size_t>(g);
    count[g] = m[k];
    sd[g] = m[k] > 1 ? std::sqrt(ss[k] / (m[k] - 1)) : kNaN;
    umean[g] = uy != nullptr ? std::sqrt(su[k]) / m[k] : kNaN;
  }
  return QVXL_OK;
}

int REPLICATE_CHECK(const ReplicateCheck& c, int ngroup, const int* count, const double* mean,
                    const double* sd, const double* x, double* stat, double* p, int* flags) {
  if (ngroup < 1) return QVXL_BAD_COUNT;
  if (c.mode < 1 || c.mode > 3 || c.weighting < 0 || c.weighting > 2) return QVXL_BAD_CODE;
  if (c.mode != 3 && !(c.alpha > 0.0 && c.alpha < 1.0)) return QVXL_BAD_VALUE;
  if (c.mode == 1) {
    if (c.covkind != 1 || c.ndof < 1) return QVXL_WF_NO_SCATTER;
    if (!(c.sres >= 0.0 && std::isfinite(c.sres))) return QVXL_BAD_VALUE;
    if (!(c.reads >= 1.0 && std::isfinite(c.reads))) return QVXL_BAD_VALUE;
  }
  if (c.mode == 2 && !(c.sigma > 0.0 && std::isfinite(c.sigma))) return QVXL_BAD_VALUE;
  if (c.mode == 3 && !(c.limit > 0.0 && std::isfinite(c.limit))) return QVXL_BAD_VALUE;
  for (int g = 0; g < ngroup; ++g)
    if (count[g] < 1) return QVXL_BAD_COUNT;
  for (int g = 0; g < ngroup; ++g) {
    stat[g] = kNaN;
    p[g] = kNaN;
    const int m = count[g];
    if (m < 2 || !std::isfinite(sd[g])) continue;
    bool disagree = false;
    if (c.mode == 3) {
      if (mean[g] == 0.0 || !std::isfinite(mean[g])) continue;
      stat[g] = 100.0 * sd[g] / std::fabs(mean[g]);
      disagree = stat[g] > c.limit;
    } else {
      double sigma = c.sigma;
      if (c.mode == 1) {
        // Under a weighting the scatter depends on x: without a reading there
        // is nothing to compare with.
        if (c.weighting != 0 && !std::isfinite(x[g])) continue;
        sigma = c.sres * response_scale(c.weighting, c.weighting != 0 ? x[g] : 0.0) /
                std::sqrt(c.reads);
        if (!(sigma > 0.0)) continue;
      }
      const double ratio = (sd[g] / sigma) * (sd[g] / sigma);
      if (c.mode == 1) {
        stat[g] = ratio;
        p[g] = upper_tail(Dist::F, ratio, m - 1, c.ndof);
      } else {
        stat[g] = (m - 1) * ratio;
        p[g] = upper_tail(Dist::ChiSquared, stat[g], m - 1);
      }
      disagree = p[g] < c.alpha;
    }
    if (disagree) flags[g] |= QVXL_FLAG_REPLICATES_DISAGREE;
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
