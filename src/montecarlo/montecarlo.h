// Monte Carlo inverse prediction of responses (see QVXL_MONTECARLO in
// quorvex_lab.h).
#pragma once

#include <cstdint>

#include "reading/readback.h"

namespace quorvex::lab {

struct McRequest {
  int npts = 0;
  const double* y = nullptr;
  int uymode = 0;  // as READBACK's: 0 stated, 1 from the scatter, 2 curve only
  const double* uy = nullptr;
  const double* repl = nullptr;
  int first = 0;     // stream index of y[0]: responses before it in the whole set
  int ndraw = 0;     // draws per response (>= 2)
  double level = 0.95;
  int ngrid = 100;
  std::uint64_t seed = 0;
  int chunk = 1024;  // draws made at a time (changes memory, not results)
};

struct McResults {
  double* mean;
  double* sd;
  double* median;
  double* low;
  double* high;
  double* se_low;
  double* se_high;
  double* no_root;
  double* several;
  int* check;
};

// Returns the status (0 or a QVXL_* code); on a nonzero status nothing is
// written.  Memory: one response's contributed roots (ndraw doubles) and one
// chunk of drawn curves at a time, besides the per-response outputs.
int MONTECARLO(const FittedCurve& c, const McRequest& r, const McResults& out);

}  // namespace quorvex::lab
