#include "limits/sample_limits.h"

#include <algorithm>
#include <cmath>

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

}  // namespace quorvex::lab
