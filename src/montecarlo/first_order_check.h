// Whether the first-order result of a response is confirmed by its Monte
// Carlo draws.
#pragma once

#include "montecarlo/mc_summary.h"

namespace quorvex::lab {

// The QVXL_MC_CHECK_* bits that fail for a response (0: confirmed).
// x: the first-order x, ux its standard uncertainty and U = k ux its
// expanded uncertainty with the first-order coverage factor k.
int first_order_check(const McSummary& s, double x, double ux, double U);

}  // namespace quorvex::lab
