// Weighting presets of the ordinary fit: the weights W_i the fit takes.
#pragma once

#include <cstddef>

namespace quorvex::lab {

// W_i for preset `weighting` (1: 1/sqrt(x_i), 2: 1/x_i, 0: 1).  Returns the
// index of the first x that is not > 0 under a preset (its weight would be
// infinite or undefined), or n when every weight was written.
std::size_t preset_weights(int weighting, std::size_t n, const double* x, double* w);

}  // namespace quorvex::lab
