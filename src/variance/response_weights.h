// Weights from the responses ("1/y", "1/y2") or given per standard, as the
// relative uncertainties a scaled fit takes (QVXL_RESPONSE_WEIGHTS).
#pragma once

#include <cstddef>

namespace quorvex::lab {

// kind 1 "1/y", 2 "1/y2", 3 weights w_i = v[i].  Returns the status; urel is
// written only on 0.
int response_weights(int kind, std::size_t n, const double* v, double* urel);

}  // namespace quorvex::lab
