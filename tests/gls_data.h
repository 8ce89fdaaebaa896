// Test data for the generalized fit: points on a known curve, both
// coordinates perturbed by Gaussian errors of known standard uncertainty.
#pragma once

#include <random>
#include <vector>

#include "curve/polyeval.h"

namespace quorvex_test {

struct EivData {
  int npts = 0, ncoef = 0;
  double xmin = 0.0, xmax = 10.0;
  std::vector<double> x, y, wx, wy, coef;
};

// npts points with true abscissae spread over the middle of [xmin, xmax], so
// that the adjusted abscissae stay inside the interval.
inline EivData make_eiv_data(int npts, int ncoef, double ux, double uy, unsigned seed,
                             double xmin = 0.0, double xmax = 10.0) {
  EivData d;
  d.npts = npts;
  d.ncoef = ncoef;
  d.xmin = xmin;
  d.xmax = xmax;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g(0.0, 1.0);
  d.coef.resize(ncoef);
  for (int k = 0; k < ncoef; ++k) d.coef[k] = (k == 0 ? 4.0 : (k == 1 ? 3.0 : 0.3 / k)) * (1 + 0.1 * u(rng));
  std::vector<double> xt(npts), yt(npts);
  const double w = xmax - xmin;
  for (int i = 0; i < npts; ++i) xt[i] = xmin + w * (0.1 + 0.8 * (i + u(rng)) / npts);
  int istat = 0;
  quorvex::POLYEVAL(ncoef, d.coef.data(), npts, xt.data(), xmin, xmax, yt.data(), istat);
  d.x.resize(npts);
  d.y.resize(npts);
  d.wx.resize(npts);
  d.wy.resize(npts);
  for (int i = 0; i < npts; ++i) {
    const double sx = ux * (0.5 + u(rng)), sy = uy * (0.5 + u(rng));
    d.x[i] = xt[i] + sx * g(rng);
    d.y[i] = yt[i] + sy * g(rng);
    d.wx[i] = 1.0 / sx;
    d.wy[i] = 1.0 / sy;
  }
  return d;
}

}  // namespace quorvex_test
