// The limits a sample is flagged against (QVXL_SAMPLE_LIMITS).
#pragma once

namespace quorvex::lab {

struct SampleLimits {
  int haslim = 0;  // bit 1: lod, bit 2: loq
  double lod = 0.0, loq = 0.0;
};

// LOD = blank + x_D (ISO 11843-2's minimum detectable net value), where x_D
// is finite; LOQ = blank + the larger of ICH's and DIN 32645's LOQ, of those
// that are finite.
SampleLimits sample_limits(double blank, double x_detection, double loq_ich, double loq_din);

}  // namespace quorvex::lab
