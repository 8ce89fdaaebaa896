// The limits a sample is flagged against and the reportable range
// (QVXL_SAMPLE_LIMITS, QVXL_LIMIT_CHOICE).
#pragma once

namespace quorvex::lab {

struct SampleLimits {
  int haslim = 0;  // bit 1: lod, bit 2: loq
  double lod = 0.0, loq = 0.0;
};

// Which definition each limit takes (codes of QVXL_LIMIT_CHOICE).
enum LimitDefinition {
  kLodIsoCritical = 1,   // ISO 11843-2 x_C
  kLodIsoDetection = 2,  // ISO 11843-2 x_D
  kLodIch = 3,           // ICH 3.3 sigma / S
  kLoqIch = 11,          // ICH 10 sigma / S
  kLoqDin = 12,          // DIN 32645 LOQ
  kLoqLarger = 13,       // the larger of ICH's and DIN 32645's
};
inline constexpr int kDefaultLod = kLodIsoDetection;
inline constexpr int kDefaultLoq = kLoqLarger;

// LOD = blank + x_D (ISO 11843-2's minimum detectable net value), where x_D
// is finite; LOQ = blank + the larger of ICH's and DIN 32645's LOQ, of those
// that are finite.
SampleLimits sample_limits(double blank, double x_detection, double loq_ich, double loq_din);

// The limits by the laboratory's definitions, from QVXL_LIMITS's LIM(12)
// (net of the blank), and the reportable range [max(LOQ, lowest), highest].
// Returns the status.
int limit_choice(const double* lim, double blank, int loddef, int loqdef, double lowest,
                 double highest, SampleLimits& out, double* range);

}  // namespace quorvex::lab
