// Weighting presets of analytical chemistry (ICH Q2, ISO 8466-2 practice).
//
// A preset names the weights w_i of the weighted sum of squares
// sum_i w_i r_i^2: "1/x" is w_i = 1/x_i (the variance of y grows like x),
// "1/x2" is w_i = 1/x_i^2 (its standard deviation grows like x).  The fit
// minimises sum_i (W_i r_i)^2, so it takes W_i = sqrt(w_i): 1/sqrt(x_i) and
// 1/x_i, the reciprocal of the response scale 1/W(x) that reading back uses
// (response_scale).  Such weights fix only the relative size of the scatter;
// its scale comes from the residuals.
#include "fitrules/weighting.h"

#include "reading/readback.h"

namespace quorvex::lab {

std::size_t preset_weights(int weighting, std::size_t n, const double* x, double* w) {
  if (weighting != 0) {
    for (std::size_t i = 0; i < n; ++i)
      if (!(x[i] > 0.0)) return i;
  }
  for (std::size_t i = 0; i < n; ++i) w[i] = 1.0 / response_scale(weighting, x[i]);
  return n;
}

}  // namespace quorvex::lab
