// The random draws of Monte Carlo inverse prediction, one stream per
// response: a curve from the coefficient covariance, the scale of the
// scatter where it is estimated, and the response.
#pragma once

#include <cstdint>
#include <vector>

#include <boost/random/chi_squared_distribution.hpp>
#include <boost/random/mersenne_twister.hpp>
#include <boost/random/normal_distribution.hpp>

namespace quorvex::lab {

// The seed of response `index`'s stream, mixed from the run's seed so that
// neighbouring indexes and seeds give unrelated streams.
std::uint64_t stream_seed(std::uint64_t seed, std::uint64_t index);

// One response's stream of draws.  Each draw takes, in this order, ncoef
// standard normals for the curve, one chi-squared for the scale (only where
// a scale is drawn) and one standard normal for the response, so that the
// draws do not depend on how many are taken at a time.
class DrawStream {
 public:
  // l: the covariance factor (cov_factor), ncoef x ncoef; dof > 0 draws the
  // scale sigma/SRES = sqrt(dof / chi2_dof) per draw, dof = 0 does not.
  DrawStream(std::uint64_t seed, std::uint64_t index, int ncoef, const double* coef,
             const double* l, int dof);
  // The next draw: the curve's coefficients into curve[0..ncoef), and the
  // response y + uy e, e ~ N(0, 1), times the drawn scale where
  // `scaled_response` (a u(y) from the scatter shares the curve's scale).
  double next(double y, double uy, bool scaled_response, double* curve);

 private:
  boost::random::mt19937_64 engine_;
  boost::random::normal_distribution<double> normal_;
  boost::random::chi_squared_distribution<double> chi2_;
  int ncoef_, dof_;
  const double* coef_;
  const double* l_;
  std::vector<double> z_;
};

}  // namespace quorvex::lab
