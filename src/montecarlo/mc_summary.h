// The statistics of one response's Monte Carlo draws.
#pragma once

#include <vector>

namespace quorvex::lab {

struct McSummary {
  double mean, sd, median, low, high;  // over the draws with a root
  double se_low, se_high;              // standard errors of low and high
  double no_root, several;             // shares of all draws
};

// Linear-interpolation quantile of the sorted values s at probability p:
// position p (n - 1), NaN for no values.
double sorted_quantile(const std::vector<double>& s, double p);

// xs: the roots the draws contributed, in draw order (sorted on return);
// ndraw draws in all, of which no_root had none and several more than one.
McSummary summarise(std::vector<double>& xs, long long ndraw, long long no_root,
                    long long several, double level);

}  // namespace quorvex::lab
