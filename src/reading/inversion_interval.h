// The inversion (Fieller) interval of a response: the x around its root
// where the prediction band holds the response.
#pragma once

#include <vector>

#include "curvestats/curve_point.h"

namespace quorvex::lab {

// The interval's ends for responses on one curve.  The curve and its
// variance on a grid of kCells cells are formed once per curve.
class InversionInterval {
 public:
  static constexpr int kCells = 512;
  explicit InversionInterval(const CurveRef& c);
  // [low, high] around the root x0 of y0, for coverage factor k and response
  // variance u2; the curve's interval bounds it where the band does not.
  void operator()(double y0, double x0, double k, double u2, double& low, double& high);

 private:
  double excess(double x, double y0, double k2, double u2);
  double bisect(double a, double c, double y0, double k2, double u2);
  CurveRef c_;
  std::vector<double> grid_, pg_, vg_, g_;
};

}  // namespace quorvex::lab
