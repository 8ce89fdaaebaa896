// The limit of quantification by relative uncertainty.
#pragma once

#include "curvestats/curve_point.h"

namespace quorvex::lab {

// How a sample's reading scatter depends on x for the limit of quantification.
struct ReadingScatter {
  bool fixed = true;         // the blank's scatter at every x
  double sigma0 = 0.0;       // that scatter
  double base = 1.0;         // otherwise: base * scale(x) * sigma_hat
  int weighting = 0;         // 0 none, 1 1/x, 2 1/x2 (scale(x), readback's response_scale)
  double sigma_hat = 1.0;
  double at(double x) const;
};

// The smallest net x > 0 (from x0) with x = k_loq k2 u(x0 + x), u the
// first-order standard uncertainty of a sample of `replicates` readings;
// NaN where none is found up to the curve's upper end.
double loq_din(PointEval& at, double x0, const ReadingScatter& s, int replicates, double k2,
               double k_loq);

}  // namespace quorvex::lab
