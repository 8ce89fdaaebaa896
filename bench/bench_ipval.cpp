// IPVAL throughput: responses spread over the curve's range, so that each
// one has a root to refine, on curves of 3 and 8 coefficients scanned on 100
// and 1000 grid cells.  The cost grows as NPTS * NGRID (the scan) plus one
// refinement per root.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "inverse/ipval.h"

namespace {

void BM_Ipval(benchmark::State& state) {
  const int npts = static_cast<int>(state.range(0));
  const int ncoef = static_cast<int>(state.range(1));
  const int ngrid = static_cast<int>(state.range(2));
  const double xmin = 0.0, xmax = 10.0;

  // A monotone curve with small higher terms: p = 5 + 4 t + sum_k 0.2/k^2 T_k.
  std::vector<double> coef(ncoef, 0.0), cov(ncoef * ncoef, 0.0);
  coef[0] = 10.0;
  coef[1] = 4.0;
  for (int k = 2; k < ncoef; ++k) coef[k] = 0.2 / (k * k);
  for (int k = 0; k < ncoef; ++k) cov[k * (ncoef + 1)] = 1e-6;

  // COVY is NPTS x NPTS (800 MB at 10^4) but only its diagonal is read:
  // calloc maps it lazily, and only the diagonal's pages are touched.
  const std::size_t n = static_cast<std::size_t>(npts);
  std::unique_ptr<double, decltype(&std::free)> covy_mem(
      static_cast<double*>(std::calloc(n * n, sizeof(double))), &std::free);
  if (!covy_mem) {
    state.SkipWithError("cannot allocate COVY");
    return;
  }
  double* covy = covy_mem.get();
  std::vector<double> y(npts);
  for (int i = 0; i < npts; ++i) {
    y[i] = 2.0 + 6.0 * (i + 0.5) / npts;
    covy[static_cast<std::size_t>(i) * (npts + 1)] = 1e-4;
  }

  std::vector<int> nroot(npts);
  std::vector<double> xroot(static_cast<std::size_t>(ncoef - 1) * npts);
  std::vector<double> uxroot(xroot.size());
  int istat = 0;
  for (auto _ : state) {
    quorvex::IPVAL(ncoef, coef.data(), cov.data(), npts, y.data(), covy, xmin, xmax, ngrid,
                   1e-12, nroot.data(), xroot.data(), uxroot.data(), istat);
    benchmark::DoNotOptimize(xroot.data());
  }
  if (istat != 0 || nroot[0] != 1) state.SkipWithError("unexpected result");
  state.counters["ns/(npts*ngrid)"] = benchmark::Counter(
      static_cast<double>(npts) * ngrid,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Ipval)
    ->ArgNames({"npts", "ncoef", "ngrid"})
    ->ArgsProduct({{1000, 10000}, {3, 8}, {100, 1000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
