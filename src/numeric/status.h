// Status codes inside the library: the public header's QVX_* names, and the
// codes that pass between internal routines only.
#pragma once

#ifndef QUORVEX_BUILDING
#define QUORVEX_BUILDING 1
#endif
#include "quorvex.h"

namespace quorvex {

// Request and answer codes of a model routine (CURVEVAL): none made yet;
// values only; values, slopes and basis rows (asked for by either of two
// codes); and the answer for a point outside the curve's interval, which
// replaces the request.  Any other code asks for values only.
inline constexpr int kModeNone = 0;
inline constexpr int kModeValues = 1;
inline constexpr int kModeRows = 2;
inline constexpr int kModeRowsToo = 3;
inline constexpr int kModeRefused = -1;
inline constexpr bool wants_rows(int mode) { return mode == kModeRows || mode == kModeRowsToo; }

// The generalized fit's objective reports a model refusal as the refusal code
// less this offset, which the minimizer hands on as the fit's status.
inline constexpr int kRefusalOffset = 100;
static_assert(kModeRefused - kRefusalOffset == QVX_GLS_OUTSIDE_INTERVAL);

// Requests of the minimizer to its objective (iflag): residuals only (1, also
// 2), residuals and gradient (2), residuals, gradient and step (3).
inline constexpr int kWantResiduals = 1;
inline constexpr int kWantGradient = 2;
inline constexpr int kWantStep = 3;

}  // namespace quorvex
