// A curve at single points, also beyond its interval: the basis row
// g(x) = (1/2, T1(t), ..., T_{n-1}(t)), the slope row dg/dx, the value
// p(x) = g' c, its slope and its variance u(p(x))^2 = g' C g.  Inside the
// interval the value and slope are the curve evaluator's (POLYEVAL's bits);
// beyond it they come from the basis rows, as the curve extended.
#pragma once

#include <cstddef>
#include <vector>

#include "numeric/colmajor.h"

namespace quorvex::lab {

struct CurveRef {
  int ncoef;
  const double* coef;
  const double* cov;  // may be null where no variance is asked for
  double xmin, xmax;
};

// t = ((x - xmin) - (xmax - x)) / (xmax - xmin): the scaled abscissa.
double scaled(double x, double xmin, double xmax);

// g(x) into g[0..ncoef): T_k(t) by the three-term recurrence, g[0] = 1/2.
void basis_row(int ncoef, double xmin, double xmax, double x, double* g);

// dg/dx into d[0..ncoef): (2 / (xmax - xmin)) k U_{k-1}(t).
void slope_row(int ncoef, double xmin, double xmax, double x, double* d);

// g' C g with C column-major n x n: the engine's one formula.
using quorvex::quad_form;

// Evaluation at single points with its own work rows.
class PointEval {
 public:
  explicit PointEval(const CurveRef& c);
  double value(double x);     // p(x), extended beyond the interval
  double slope(double x);     // p'(x), extended
  double variance(double x);  // g(x)' C g(x), extended
  const CurveRef& curve() const { return c_; }

 private:
  CurveRef c_;
  std::vector<double> g_;
};

}  // namespace quorvex::lab
