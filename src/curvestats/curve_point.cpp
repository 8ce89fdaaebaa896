#include "curvestats/curve_point.h"

#include "curve/curveval.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"

namespace quorvex::lab {

double scaled(double x, double xmin, double xmax) {
  return ((x - xmin) - (xmax - x)) / (xmax - xmin);
}

void basis_row(int ncoef, double xmin, double xmax, double x, double* g) {
  const double t = scaled(x, xmin, xmax);
  g[0] = 1.0;
  if (ncoef > 1) g[1] = t;
  for (int k = 2; k < ncoef; ++k) g[k] = 2.0 * t * g[k - 1] - g[k - 2];
  g[0] = 0.5;
}

void slope_row(int ncoef, double xmin, double xmax, double x, double* d) {
  // dT_k/dt = k U_{k-1}(t), U by its own recurrence.
  const double t = scaled(x, xmin, xmax);
  const double a = 2.0 / (xmax - xmin);
  double u0 = 1.0, u1 = 2.0 * t;  // U_0, U_1
  d[0] = 0.0;
  if (ncoef > 1) d[1] = a;
  for (int k = 2; k < ncoef; ++k) {
    d[k] = a * k * u1;
    const double u2 = 2.0 * t * u1 - u0;
    u0 = u1;
    u1 = u2;
  }
}

PointEval::PointEval(const CurveRef& c) : c_(c), g_(static_cast<std::size_t>(c.ncoef)) {}

double PointEval::value(double x) {
  if (x >= c_.xmin && x <= c_.xmax) {
    int mode = kModeValues;
    double y = 0.0;
    CURVEVAL(mode, Curve{c_.ncoef, c_.coef, c_.xmin, c_.xmax}, 1, &x, &y, nullptr, nullptr,
             nullptr);
    return y;
  }
  basis_row(c_.ncoef, c_.xmin, c_.xmax, x, g_.data());
  double y = 0.0;
  for (int k = 0; k < c_.ncoef; ++k) y += g_[static_cast<std::size_t>(k)] * c_.coef[k];
  return y;
}

double PointEval::slope(double x) {
  slope_row(c_.ncoef, c_.xmin, c_.xmax, x, g_.data());
  double s = 0.0;
  for (int k = 0; k < c_.ncoef; ++k) s += g_[static_cast<std::size_t>(k)] * c_.coef[k];
  return s;
}

double PointEval::variance(double x) {
  basis_row(c_.ncoef, c_.xmin, c_.xmax, x, g_.data());
  return quad_form(g_.size(), c_.cov, g_.data());
}

}  // namespace quorvex::lab
