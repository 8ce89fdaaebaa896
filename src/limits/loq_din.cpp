// DIN 32645's limit of quantification: the net level x_Q whose two-sided
// (1 - alpha) interval half-width is 1/k of itself,
//     x_Q = k k_(1-alpha/2) u(x0 + x_Q),
//     u(x)^2 = (g(x)' C g(x) + sigma_r(x)^2 / K) / p'(x)^2,
// g the basis row, C the covariance in use, sigma_r the scatter of one
// reading at x and K the readings averaged per sample (GUM 5.1.2 for u).
// The excess x - k k2 u(x0 + x) is scanned on 400 equal steps of (0, xmax -
// x0]; the first step where it is >= 0 is bisected to 1e-13 of the result.
// Levels where u is not defined (NaN) do not qualify.
#include "limits/loq_din.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "reading/readback.h"

namespace quorvex::lab {

double ReadingScatter::at(double x) const {
  if (fixed) return sigma0;
  // Under 1/x the scatter of a reading at x < 0 is not defined: no such level
  // qualifies (NaN fails the test below).
  if (weighting == 1 && x < 0.0) return std::numeric_limits<double>::quiet_NaN();
  return base * response_scale(weighting, x) * sigma_hat;
}

double loq_din(PointEval& at, double x0, const ReadingScatter& s, int replicates, double k2,
               double k_loq) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr int kSteps = 400;
  const double hi = at.curve().xmax - x0;
  if (!(hi > 0.0)) return kNaN;
  auto excess = [&](double x) {
    const double xa = x0 + x;
    const double b = at.slope(xa);
    const double sr = s.at(xa);
    const double u = std::sqrt(at.variance(xa) + sr * sr / replicates) / std::abs(b);
    return x - k_loq * k2 * u;
  };
  const double step = hi / kSteps;
  double a = 0.0, b = kNaN;
  for (int i = 1; i <= kSteps; ++i) {
    const double x = i == kSteps ? hi : i * step;
    if (excess(x) >= 0.0) {
      a = i == 1 ? 0.0 : (i - 1) * step;
      b = x;
      break;
    }
  }
  if (std::isnan(b)) return kNaN;
  for (int it = 0; it < 100; ++it) {
    const double m = 0.5 * (a + b);
    if (excess(m) >= 0.0) {
      b = m;
    } else {
      a = m;
    }
    if (b - a <= 1e-13 * std::max(std::abs(b), 1e-300)) break;
  }
  return 0.5 * (a + b);
}

}  // namespace quorvex::lab
