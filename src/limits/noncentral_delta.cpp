// The non-centrality of ISO 11843-2's minimum detectable value.
//
// With the curve's scatter estimated on nu degrees of freedom, a net
// response delta s0 above the blank's is detected (read above the critical
// value t_alpha s0) with probability 1 - beta when
//     P(t'(nu, delta) <= t_alpha) = beta,
// t'(nu, delta) the non-central t.  The left side falls from
// P(t(nu) <= t_alpha) = 1 - alpha at delta = 0 towards 0 as delta grows:
// one root, found by TOMS 748 on a bracket [0, hi] (hi = 2 t_alpha + 10,
// doubled while the bracket does not hold it), the distribution from
// Boost.Math through stats/distributions.h.
#include "limits/noncentral_delta.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include <boost/math/tools/roots.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include "stats/distributions.h"

namespace quorvex::lab {

double noncentral_delta(double nu, double t_alpha, double beta) {
  if (!(nu > 0.0) || !(t_alpha > 0.0) || !std::isfinite(t_alpha) || !(beta > 0.0 && beta < 1.0))
    throw std::domain_error("noncentral_delta: argument out of range");
  auto f = [&](double d) {
    if (std::isinf(nu)) return lower_tail(Dist::Normal, t_alpha - d) - beta;
    return lower_tail(Dist::NoncentralT, t_alpha, nu, d) - beta;
  };
  const double f0 = f(0.0);
  if (!(f0 > 0.0)) throw std::domain_error("noncentral_delta: beta is not below 1 - alpha");
  double hi = 2.0 * t_alpha + 10.0;
  double fhi = f(hi);
  for (int i = 0; fhi > 0.0; ++i) {
    if (i == 60) throw std::domain_error("noncentral_delta: no bracket");
    hi *= 2.0;
    fhi = f(hi);
  }
  if (fhi == 0.0) return hi;
  std::uintmax_t iters = 200;
  const auto r = boost::math::tools::toms748_solve(
      f, 0.0, hi, f0, fhi, boost::math::tools::eps_tolerance<double>(52), iters);
  return 0.5 * (r.first + r.second);
}

}  // namespace quorvex::lab
