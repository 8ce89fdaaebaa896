// Placeholder until the ordinary fit is built: reports that working storage
// is unavailable and computes nothing.
#include "ols/olspfit.h"

namespace quorvex {

void OLSPFIT(int, const double*, const double*, const double*, int, double, double, double*,
             double*, double&, double*, double*, double*, double&, int& istat) {
  istat = 999;
}

}  // namespace quorvex
