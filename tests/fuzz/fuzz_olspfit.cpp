// Fuzz target: OLSPFIT through its exported name.  Checks, beyond the
// sanitizers' reports: inputs unchanged, a listed status, every output 0 on
// failure (COEF and COV untouched for NCOEF > 10), RES = Y - YFIT on success.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "quorvex.h"

using namespace quorvex_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int npts = in.count(-2, 48);
  const int ncoef = in.count(-1, 14, true);
  double xmin = 0.0, xmax = 0.0;
  Array<double> x(npts), y(npts), wx(npts), w(npts);
  decode_points(in, npts, xmin, xmax, x.data(), y.data(), wx.data(), w.data());
  const Array<double> x0 = x.copy(), y0 = y.copy(), w0 = w.copy();

  // NCOEF-sized arrays: exactly that size for a count a caller can have;
  // beyond, none at all (the library must not touch them).
  const long long mc = ncoef <= 16 && ncoef > 0 ? ncoef : 0;
  constexpr double kFill = -7.25;
  Array<double> coef(mc, kFill), cov(mc * mc, kFill), yfit(npts, kFill), res(npts, kFill),
      wres(npts, kFill);
  double sres = kFill, wresmax = kFill;
  int istat = -1;
  OLSPFIT(&npts, x.data(), y.data(), w.data(), &ncoef, &xmin, &xmax, coef.data(), cov.data(),
          &sres, yfit.data(), res.data(), wres.data(), &wresmax, &istat);

  check(x.same_bits(x0) && y.same_bits(y0) && w.same_bits(w0), "OLSPFIT changed an input");
  static const int kStatuses[] = {0, 1, 2, 3, 4, 5, 6, 7, 21, 22, 23, 24, 999};
  check(one_of(istat, kStatuses), "OLSPFIT: status not in its list");
  if (istat != 0) {
    const double keep = ncoef > 10 ? kFill : 0.0;
    for (std::size_t k = 0; k < coef.size(); ++k) check(coef[k] == keep, "OLSPFIT: COEF on failure");
    for (std::size_t k = 0; k < cov.size(); ++k) check(cov[k] == keep, "OLSPFIT: COV on failure");
    for (const Array<double>* a : {&yfit, &res, &wres})
      for (std::size_t k = 0; k < a->size(); ++k)
        check((*a)[k] == 0.0, "OLSPFIT: an output not cleared on failure");
    check(sres == 0.0 && wresmax == 0.0, "OLSPFIT: SRES or WRESMAX not cleared on failure");
  } else {
    for (std::size_t i = 0; i < res.size(); ++i) {
      const double r = y[i] - yfit[i];
      check(std::memcmp(&r, &res[i], sizeof r) == 0, "OLSPFIT: RES is not Y - YFIT");
    }
  }
  return 0;
}
