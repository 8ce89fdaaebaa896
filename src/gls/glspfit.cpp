// Placeholder until the generalized fit is built.
#include "gls/glspfit.h"

namespace quorvex {

void GLSPFIT(int, const double*, const double*, const double*, const double*, int, double, double,
             const double*, int, double, double*, double*, double&, double*, double*, double*,
             double&, double*, double*, double*, double*, int& olstat, int* istat) {
  olstat = 999;
  istat[0] = 999;
}

}  // namespace quorvex
