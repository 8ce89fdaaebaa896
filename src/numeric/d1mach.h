#pragma once

namespace quorvex {

// Constants of IEEE binary64 by index 1..5: tiny, huge, 2^-53, 2^-52, log10(2).
// An index outside 1..5 prints a diagnostic line and returns a quiet NaN.
double D1MACH(int i);

}  // namespace quorvex
