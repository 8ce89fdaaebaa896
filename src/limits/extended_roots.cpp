// Roots of p(x) = y near a point, within the curve's interval or on the
// curve extended beyond it.
//
// Within the interval: IPVAL's own root search (a grid of 100 cells, Brent's
// zero finder in each cell whose ends differ in sign), the root nearest x0.
// Extended: the same idea on [xmin - w/4, xmax + w/4] with the curve's
// Chebyshev series evaluated beyond [-1, 1] (curvestats/curve_point.h): a
// grid of kCells cells, a zero at a grid point taken as it is, each sign
// change refined by TOMS 748 to the last bit.  A root where p only touches y
// (even multiplicity) shows no sign change and is not reported.
#include "limits/extended_roots.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <boost/math/tools/roots.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include "inverse/ipval.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kCells = 600;

// Keeps the candidate nearest x0 (the first of equally near ones).
struct Nearest {
  double x0, best = kNaN, dist = std::numeric_limits<double>::infinity();
  void offer(double x) {
    const double d = std::abs(x - x0);
    if (d < dist) {
      dist = d;
      best = x;
    }
  }
};
}  // namespace

double root_near(const CurveRef& c, double y, double x0) {
  constexpr int kGrid = 100;
  int nroot = 0;
  std::vector<double> roots(static_cast<std::size_t>(c.ncoef - 1), kNaN);
  IPVAL_ROOTS(c.ncoef, c.coef, 1, &y, c.xmin, c.xmax, kGrid, 0.0, &nroot, roots.data());
  Nearest n{x0};
  for (int j = 0; j < nroot; ++j) n.offer(roots[static_cast<std::size_t>(j)]);
  return n.best;
}

double root_near_extended(PointEval& at, double y, double x0) {
  const CurveRef& c = at.curve();
  const double w = c.xmax - c.xmin;
  const double lo = c.xmin - kBlankExtend * w, hi = c.xmax + kBlankExtend * w;
  auto f = [&](double x) { return at.value(x) - y; };
  Nearest n{x0};
  double xa = lo, fa = f(lo);
  if (fa == 0.0) n.offer(xa);
  for (int i = 1; i <= kCells; ++i) {
    const double xb = i == kCells ? hi : lo + (hi - lo) * (static_cast<double>(i) / kCells);
    const double fb = f(xb);
    if (fb == 0.0) {
      n.offer(xb);
    } else if (fa != 0.0 && std::signbit(fa) != std::signbit(fb) && !std::isnan(fa) &&
               !std::isnan(fb)) {
      std::uintmax_t iters = 200;
      const auto r = boost::math::tools::toms748_solve(
          f, xa, xb, fa, fb, boost::math::tools::eps_tolerance<double>(53), iters);
      // The end of the final bracket whose residual is smaller.
      n.offer(std::abs(f(r.first)) <= std::abs(f(r.second)) ? r.first : r.second);
    }
    xa = xb;
    fa = fb;
  }
  return n.best;
}

}  // namespace quorvex::lab
