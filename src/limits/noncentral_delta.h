// The non-centrality of the detection limit: the delta with
// P(t'(nu, delta) <= t_alpha) = beta.
#pragma once

namespace quorvex::lab {

// delta for nu > 0 degrees of freedom, the one-sided factor t_alpha > 0 and
// beta in (0, 1 - P(t(nu) <= t_alpha)); throws std::domain_error where no
// such delta exists.
double noncentral_delta(double nu, double t_alpha, double beta);

}  // namespace quorvex::lab
