// Fuzz target: IPVAL_DEGREE1 through its exported name.  Checks, beyond the
// sanitizers' reports: inputs unchanged, a listed status, outputs 0 on
// failure.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "quorvex.h"

using namespace quorvex_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int npts = in.count(-2, 48);
  const long long n = npts > 0 ? npts : 0;
  Array<double> coef(2), cov(4), y(n), covy(n * n);
  for (std::size_t k = 0; k < 2; ++k) coef[k] = in.real();
  for (std::size_t k = 0; k < 4; ++k) cov[k] = in.real();
  const double xmin = in.real(), xmax = in.real();
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = in.real();
  for (long long i = 0; i < n; ++i) covy[i * n + i] = in.real();
  const Array<double> coef0 = coef.copy(), cov0 = cov.copy(), y0 = y.copy(), covy0 = covy.copy();
  Array<double> xpred(n, -7.25), uxpred(n, -7.25);
  int istat = -1;
  IPVAL_DEGREE1(coef.data(), cov.data(), &npts, y.data(), covy.data(), &xmin, &xmax, xpred.data(),
                uxpred.data(), &istat);

  check(coef.same_bits(coef0) && cov.same_bits(cov0) && y.same_bits(y0) && covy.same_bits(covy0),
        "IPVAL_DEGREE1 changed an input");
  check(istat == 0 || istat == 1 || istat == 999, "IPVAL_DEGREE1: status not in its list");
  if (istat == 1)
    for (std::size_t i = 0; i < xpred.size(); ++i)
      check(xpred[i] == 0.0 && uxpred[i] == 0.0, "IPVAL_DEGREE1: outputs not cleared");
  return 0;
}
