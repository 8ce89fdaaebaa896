// Fuzz target: IPVAL through its exported name.  Checks, beyond the
// sanitizers' reports: inputs unchanged, a listed status, outputs 0 on
// failure, NROOT(i) within 0 .. NCOEF-1 and the roots found inside
// [XMIN, XMAX] in increasing order (or NaN where one cannot be refined).
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "quorvex.h"

using namespace quorvex_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int ncoef = in.count(-1, 12);
  const int npts = in.count(-2, 12);
  // Every grid cell costs an evaluation per response: a grid in the millions
  // is valid but only slow.
  const int ngrid = in.count(-2, 400);
  double xmin = in.real(), xmax = in.real(), tol = in.real();
  if (in.byte() < 200) {
    xmin = in.count(-10, 10);
    xmax = xmin + 0.01 + 30.0 * in.unit();
    tol = in.byte() < 128 ? 0.0 : 1e-9 * in.unit();
  }
  const long long nc = ncoef > 0 ? ncoef : 0, n = npts > 0 ? npts : 0;
  Array<double> coef(nc), cov(nc * nc), y(n), covy(n * n);
  const bool raw = in.byte() < 32;
  for (std::size_t k = 0; k < coef.size(); ++k) coef[k] = raw ? in.real() : in.count(-8, 8) / 4.0;
  for (std::size_t k = 0; k < cov.size(); ++k) cov[k] = raw ? in.real() : 1e-4 * in.unit();
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = raw ? in.real() : in.count(-16, 16) / 4.0;
  for (long long i = 0; i < n; ++i) covy[i * n + i] = raw ? in.real() : 1e-4 * in.unit();
  const Array<double> coef0 = coef.copy(), cov0 = cov.copy(), y0 = y.copy(), covy0 = covy.copy();

  const long long rows = ncoef > 1 ? ncoef - 1 : 0;
  Array<int> nroot(n, -3);
  Array<double> xroot(rows * n, -7.25), uxroot(rows * n, -7.25);
  int istat = -1;
  IPVAL(&ncoef, coef.data(), cov.data(), &npts, y.data(), covy.data(), &xmin, &xmax, &ngrid, &tol,
        nroot.data(), xroot.data(), uxroot.data(), &istat);

  check(coef.same_bits(coef0) && cov.same_bits(cov0) && y.same_bits(y0) && covy.same_bits(covy0),
        "IPVAL changed an input");
  static const int kStatuses[] = {0, 1, 2, 3, 999};
  check(one_of(istat, kStatuses), "IPVAL: status not in its list");
  if (istat != 0 && istat != 999) {
    for (std::size_t i = 0; i < nroot.size(); ++i) check(nroot[i] == 0, "IPVAL: NROOT not cleared");
    for (std::size_t k = 0; k < xroot.size(); ++k)
      check(xroot[k] == 0.0 && uxroot[k] == 0.0, "IPVAL: roots not cleared");
  }
  if (istat == 0) {
    for (long long i = 0; i < n; ++i) {
      check(nroot[i] >= 0 && nroot[i] <= rows, "IPVAL: NROOT out of range");
      double last = -INFINITY;
      for (long long j = 0; j < nroot[i]; ++j) {
        const double r = xroot[i * rows + j];
        if (std::isnan(r)) continue;
        check(r >= xmin && r <= xmax, "IPVAL: a root outside [XMIN, XMAX]");
        check(r >= last, "IPVAL: roots not in increasing order");
        last = r;
      }
    }
  }
  return 0;
}
