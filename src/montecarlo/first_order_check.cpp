// The first-order result checked against Monte Carlo (GUM Supplement 1,
// 8.2): first order holds when each end of its interval x -+ U lies within a
// tolerance of the Monte Carlo end, U = k u(x) with the first-order
// coverage factor k (Student's t with the effective degrees of freedom
// where a scale was estimated, the normal otherwise), and almost no draw
// lacks a root or has several.  The tolerance of an end is the larger of a
// tenth of u(x) (the numerical tolerance GUM-S1 8.2 asks for at about two
// significant digits of u(x)) and four standard errors of the Monte Carlo
// end, so that the check does not fail through sampling error alone.
#include "montecarlo/first_order_check.h"

#include <algorithm>
#include <cmath>

#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

constexpr double kEndRtol = 0.1;
constexpr double kEndSe = 4.0;
constexpr double kShareTol = 1e-3;

}  // namespace

int first_order_check(const McSummary& s, double x, double ux, double U) {
  int bits = 0;
  if (std::isnan(x)) bits |= QVXL_MC_CHECK_NO_ROOT;
  if (s.no_root >= kShareTol) bits |= QVXL_MC_CHECK_NO_ROOT_DRAWS;
  if (s.several >= kShareTol) bits |= QVXL_MC_CHECK_SEVERAL_DRAWS;
  if (std::isnan(s.low)) {
    bits |= QVXL_MC_CHECK_NO_DRAW;
  } else if (!std::isnan(x)) {
    const double tol_lo = std::max(kEndRtol * ux, kEndSe * s.se_low);
    const double tol_hi = std::max(kEndRtol * ux, kEndSe * s.se_high);
    const bool ok = std::abs(x - U - s.low) <= tol_lo && std::abs(x + U - s.high) <= tol_hi;
    if (!ok) bits |= QVXL_MC_CHECK_INTERVAL;
  }
  return bits;
}

}  // namespace quorvex::lab
