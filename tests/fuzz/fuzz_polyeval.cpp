// Fuzz target: POLYEVAL through its exported name.  Checks, beyond the
// sanitizers' reports: inputs unchanged, a listed status, Y all 0 on failure.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "quorvex.h"

using namespace quorvex_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int ncoef = in.count(-2, 40);
  const int npts = in.count(-2, 64);
  double xmin = in.real(), xmax = in.real();
  if (in.byte() < 200) {  // mostly a proper interval with the points inside
    xmin = in.count(-10, 10);
    xmax = xmin + 0.01 + 30.0 * in.unit();
  }
  Array<double> coef(ncoef), x(npts);
  for (std::size_t k = 0; k < coef.size(); ++k) coef[k] = in.real();
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = in.byte() < 32 ? in.real() : xmin + (xmax - xmin) * in.unit();
  const Array<double> coef0 = coef.copy(), x0 = x.copy();
  Array<double> y(npts, -7.25);
  int istat = -1;
  POLYEVAL(&ncoef, coef.data(), &npts, x.data(), &xmin, &xmax, y.data(), &istat);

  check(coef.same_bits(coef0) && x.same_bits(x0), "POLYEVAL changed an input");
  static const int kStatuses[] = {0, 1, 2, 3, 999};
  check(one_of(istat, kStatuses), "POLYEVAL: status not in its list");
  if (istat != 0)
    for (std::size_t i = 0; i < y.size(); ++i) check(y[i] == 0.0, "POLYEVAL: Y not cleared");
  return 0;
}
