// Weights from the responses, and weights given per standard.
//
// "1/y" and "1/y2" are the weighted sums of squares sum_i w_i r_i^2 with
// w_i = 1/|y_i| and 1/y_i^2 (the variance of a response growing like the
// response, or its standard deviation; Gu et al., Anal. Chem. 86 (2014) 8959
// for LC-MS/MS); a weight column gives w_i itself.  The fit minimises
// sum_i (r_i / u_i)^2, so each is handed over as a relative uncertainty
// u_i = 1/sqrt(w_i): sqrt(|y_i|), |y_i|, 1/sqrt(w_i).  Such weights fix only
// the relative size of the scatter; its scale comes from the residuals (the
// scaled covariance).
#include "variance/response_weights.h"

#include <cmath>
#include <vector>

#include "quorvex_lab.h"

namespace quorvex::lab {

int response_weights(int kind, std::size_t n, const double* v, double* urel) {
  if (kind < 1 || kind > 3) return QVXL_BAD_CODE;
  std::vector<double> u(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) return QVXL_BAD_VALUE;
    if (kind == 3 && !(v[i] > 0.0)) return QVXL_VAR_BAD_WEIGHT;
    const double a = std::abs(v[i]);
    u[i] = kind == 1 ? std::sqrt(a) : kind == 2 ? a : 1.0 / std::sqrt(a);
    if (!(u[i] > 0.0) || std::isinf(u[i])) return QVXL_VAR_BAD_WEIGHT;
  }
  for (std::size_t i = 0; i < n; ++i) urel[i] = u[i];
  return QVXL_OK;
}

}  // namespace quorvex::lab
