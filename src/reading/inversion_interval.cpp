// The inversion interval of a response y0 with root x0 is the connected set
// of x around x0 with
//   (p(x) - y0)^2 <= k^2 (g(x)' C g(x) + u(y)^2),
// the prediction band inverted (Fieller's construction; for a straight line
// with u(y) from the scatter the classical calibration interval of
// ISO 11843-2 and DIN 32645).  It holds for any degree and needs no
// linearisation, so it stays honest where the curve is flat or u(x) large.
// Each end is located on a grid of kCells cells of the curve's interval, then
// refined by bisection to full precision; where the band holds up to an end
// of the interval, that end bounds it.
#include "reading/inversion_interval.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <boost/math/tools/toms748_solve.hpp>

namespace quorvex::lab {

InversionInterval::InversionInterval(const CurveRef& c)
    : c_(c),
      grid_(kCells + 1),
      pg_(kCells + 1),
      vg_(kCells + 1),
      g_(static_cast<std::size_t>(c.ncoef)) {
  const double step = (c.xmax - c.xmin) / kCells;
  for (int i = 0; i <= kCells; ++i) grid_[i] = i * step + c.xmin;
  grid_[kCells] = c.xmax;
  const std::size_t n = g_.size();
  for (int i = 0; i <= kCells; ++i) {
    basis_row(c.ncoef, c.xmin, c.xmax, grid_[i], g_.data());
    double p = 0.0;
    for (std::size_t j = 0; j < n; ++j) p += g_[j] * c.coef[j];
    pg_[i] = p;
    vg_[i] = quad_form(n, c.cov, g_.data());
  }
}

double InversionInterval::excess(double x, double y0, double k2, double u2) {
  basis_row(c_.ncoef, c_.xmin, c_.xmax, x, g_.data());
  const std::size_t n = g_.size();
  double p = 0.0;
  for (std::size_t j = 0; j < n; ++j) p += g_[j] * c_.coef[j];
  const double r = p - y0;
  return r * r - k2 * (quad_form(n, c_.cov, g_.data()) + u2);
}

// a outside the band, c inside: the crossing between them, by Alefeld, Potra
// and Shi's bracketing method (TOMS 748, Boost.Math) to full precision.
double InversionInterval::bisect(double a, double c, double y0, double k2, double u2) {
  auto f = [&](double x) { return excess(x, y0, k2, u2); };
  const double fa = f(a), fc = f(c);
  if (!(fa > 0.0) || !(fc <= 0.0)) return 0.5 * (a + c);
  if (fc == 0.0) return c;
  std::uintmax_t iters = 100;
  const auto tol = [](double u, double v) {
    return std::abs(u - v) <= 4e-16 * std::max(std::abs(u), std::abs(v));
  };
  const auto r = a < c ? boost::math::tools::toms748_solve(f, a, c, fa, fc, tol, iters)
                       : boost::math::tools::toms748_solve(f, c, a, fc, fa, tol, iters);
  return 0.5 * (r.first + r.second);
}

void InversionInterval::operator()(double y0, double x0, double k, double u2, double& low,
                                   double& high) {
  const double k2 = k * k;
  auto out = [&](int i) {
    const double r = pg_[i] - y0;
    return r * r - k2 * (vg_[i] + u2) > 0.0;
  };
  // The grid point nearest the root from below and from above (x >= x0)
  // where the band no longer holds the response: a walk outwards from the
  // root's cell finds them without scanning the whole grid.
  int first_above = static_cast<int>(std::lower_bound(grid_.begin(), grid_.end(), x0) -
                                     grid_.begin());  // first grid point >= x0
  int left = -1, right = kCells + 1;
  for (int i = first_above - 1; i >= 0; --i) {
    if (out(i)) {
      left = i;
      break;
    }
  }
  for (int i = first_above; i <= kCells; ++i) {
    if (out(i)) {
      right = i;
      break;
    }
  }
  low = c_.xmin;
  if (left >= 0) {
    const double next = grid_[std::min(left + 1, kCells)];
    low = bisect(grid_[left], std::min(next, x0), y0, k2, u2);
  }
  high = c_.xmax;
  if (right <= kCells) {
    const double next = grid_[std::max(right - 1, 0)];
    high = bisect(grid_[right], std::max(next, x0), y0, k2, u2);
  }
}

}  // namespace quorvex::lab
