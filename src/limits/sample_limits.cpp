// The limits a sample is flagged against, each by a named definition, and the
// reportable range.
//
// Detection: ISO 11843-2's critical net value x_C (a decision: detected or
// not, false positives at alpha) or its minimum detectable net value x_D
// (detected with probability 1 - beta), or ICH Q2's 3.3 sigma / S.
// Quantification: ICH Q2's 10 sigma / S, DIN 32645's x_Q (the level whose
// relative uncertainty is 1/k), or the larger of both.  Each is net of the
// blank; a sample is compared with blank + limit.
//
// The reportable range (ICH Q2(R2) 3.2) runs from the larger of the LOQ and
// the lowest standard to the highest standard: below the lowest standard the
// curve is not verified, below the LOQ the result is not quantified.
#include "limits/sample_limits.h"

#include <algorithm>
#include <cmath>

#include "quorvex_lab.h"

namespace quorvex::lab {

SampleLimits sample_limits(double blank, double x_detection, double loq_ich, double loq_din) {
  SampleLimits s;
  if (std::isfinite(x_detection)) {
    s.haslim |= 1;
    s.lod = blank + x_detection;
  }
  const bool ich = std::isfinite(loq_ich), din = std::isfinite(loq_din);
  if (ich || din) {
    s.haslim |= 2;
    s.loq = blank + (ich && din ? std::max(loq_ich, loq_din) : ich ? loq_ich : loq_din);
  }
  return s;
}

int limit_choice(const double* lim, double blank, int loddef, int loqdef, double lowest,
                 double highest, SampleLimits& out, double* range) {
  if (loddef == 0) loddef = kDefaultLod;
  if (loqdef == 0) loqdef = kDefaultLoq;
  if (loddef < kLodIsoCritical || loddef > kLodIch || loqdef < kLoqIch || loqdef > kLoqLarger)
    return QVXL_BAD_CODE;
  if (!std::isfinite(blank) || !std::isfinite(lowest) || !std::isfinite(highest))
    return QVXL_BAD_VALUE;
  if (lowest > highest) return QVXL_WF_BAD_RANGE;
  // LIM(3) ICH LOD, LIM(4) ICH LOQ, LIM(8) x_C, LIM(9) x_D, LIM(12) DIN LOQ.
  const double lod = loddef == kLodIsoCritical ? lim[7] : loddef == kLodIsoDetection ? lim[8]
                                                                                     : lim[2];
  const double ich = lim[3], din = lim[11];
  SampleLimits s = sample_limits(blank, lod, loqdef == kLoqDin ? std::nan("") : ich,
                                 loqdef == kLoqIch ? std::nan("") : din);
  out = s;
  range[0] = (s.haslim & 2) != 0 ? std::max(s.loq, lowest) : lowest;
  range[1] = highest;
  return QVXL_OK;
}

}  // namespace quorvex::lab
