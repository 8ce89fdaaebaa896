// Fuzz target: LINEAR_CONV through its exported name.  Checks, beyond the
// sanitizers' reports: inputs unchanged, a listed status, LCOEF and LCOV not
// written on failure.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "quorvex.h"

using namespace quorvex_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  Array<double> coef(2), cov(4);
  for (std::size_t k = 0; k < 2; ++k) coef[k] = in.real();
  for (std::size_t k = 0; k < 4; ++k) cov[k] = in.real();
  const double xmin = in.real(), xmax = in.real();
  const Array<double> coef0 = coef.copy(), cov0 = cov.copy();
  Array<double> lcoef(2, -7.25), lcov(4, -7.25);
  int istat = -1;
  LINEAR_CONV(coef.data(), cov.data(), &xmin, &xmax, lcoef.data(), lcov.data(), &istat);

  check(coef.same_bits(coef0) && cov.same_bits(cov0), "LINEAR_CONV changed an input");
  check(istat == 0 || istat == 1, "LINEAR_CONV: status not in its list");
  if (istat != 0)
    for (std::size_t k = 0; k < 4; ++k)
      check((k >= 2 || lcoef[k] == -7.25) && lcov[k] == -7.25, "LINEAR_CONV: wrote on failure");
  return 0;
}
