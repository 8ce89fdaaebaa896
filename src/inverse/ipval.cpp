// Placeholder until inverse prediction is built.
#include "inverse/ipval.h"

namespace quorvex {

void IPVAL(int, const double*, const double*, int, const double*, const double*, double, double,
           int, double, int*, double*, double*, int& istat) {
  istat = 999;
}

}  // namespace quorvex
