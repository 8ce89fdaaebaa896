// Placeholder until straight-line inverse prediction is built.
#include "inverse/ipval_degree1.h"

namespace quorvex {

void IPVAL_DEGREE1(const double*, const double*, int, const double*, const double*, double, double,
                   double*, double*, int& istat) {
  istat = 999;
}

}  // namespace quorvex
