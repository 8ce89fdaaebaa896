// Draws of Monte Carlo inverse prediction (GUM Supplement 1, 6.4.8-6.4.9;
// GUM Supplement 2, 6.5, for the coefficients' joint distribution).
//
// A curve is c = coef + s L z with z ~ N(0, I) and L L' = C: the
// multivariate normal N(coef, C) for a stated covariance.  With a covariance
// scaled by SRES^2 on nu degrees of freedom the scale of the scatter is an
// estimate too: each draw takes sigma^2 = SRES^2 nu / chi2_nu, so
// s = sigma / SRES = sqrt(nu / chi2_nu), and c follows the scaled and
// shifted multivariate t with nu degrees of freedom (JCGM 102:2011, GUM
// Supplement 2, 6.5; GUM-S1 6.4.9 gives its one-dimensional case).  A
// response whose u(y) came from the same scatter is drawn with the same
// s; a stated u(y) is not.
//
// Random numbers come from Boost.Random: the 64-bit Mersenne twister and
// Boost's own normal (ziggurat) and chi-squared (gamma) algorithms, whose
// output is defined by Boost's code rather than by a standard library, so
// that every platform and host gets the same draws from the same seed.
#include "montecarlo/draws.h"

#include <cmath>
#include <cstddef>

namespace quorvex::lab {

namespace {

// SplitMix64's output function: a bijection of 64-bit words that spreads
// every input bit over the whole word.
std::uint64_t splitmix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace

std::uint64_t stream_seed(std::uint64_t seed, std::uint64_t index) {
  return splitmix(splitmix(seed) ^ splitmix(~index));
}

DrawStream::DrawStream(std::uint64_t seed, std::uint64_t index, int ncoef, const double* coef,
                       const double* l, int dof)
    : engine_(stream_seed(seed, index)),
      normal_(0.0, 1.0),
      chi2_(dof > 0 ? static_cast<double>(dof) : 1.0),
      ncoef_(ncoef),
      dof_(dof),
      coef_(coef),
      l_(l),
      z_(static_cast<std::size_t>(ncoef)) {}

double DrawStream::next(double y, double uy, bool scaled_response, double* curve) {
  const std::size_t n = static_cast<std::size_t>(ncoef_);
  for (std::size_t j = 0; j < n; ++j) z_[j] = normal_(engine_);
  double s = 1.0;
  if (dof_ > 0) s = std::sqrt(static_cast<double>(dof_) / chi2_(engine_));
  const double e = normal_(engine_);
  for (std::size_t i = 0; i < n; ++i) {
    double d = 0.0;
    for (std::size_t j = 0; j < n; ++j) d += l_[j * n + i] * z_[j];
    curve[i] = coef_[i] + s * d;
  }
  return y + (scaled_response ? s : 1.0) * uy * e;
}

}  // namespace quorvex::lab
