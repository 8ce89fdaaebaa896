// Throughput of the weighted polynomial fit: points per second for
// NPTS = 1e3, 1e5, 1e6 and NCOEF = 2, 4, 10.  Each family also fits the cost
// against NPTS (BigO line of the report): it should be linear.
//
//   build/bench/quorvex_bench --benchmark_filter=Olspfit
// Olspfit/new_thread runs each fit on a new thread, which holds no kept
// design: against the same size on one thread it shows what keeping it saves.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "ols/olspfit.h"

namespace {

template <int NCOEF, bool NewThread = false>
void BM_Olspfit(benchmark::State& state) {
  const int npts = static_cast<int>(state.range(0));
  const double xmin = 20.0, xmax = 80.0;
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> u(xmin, xmax);
  std::normal_distribution<double> g;
  std::vector<double> x(npts), y(npts), w(npts);
  for (int i = 0; i < npts; ++i) {
    x[i] = u(rng);
    const double uy = 0.01 * (1.0 + 0.02 * x[i]);
    y[i] = 0.5 + 0.03 * x[i] - 1e-4 * x[i] * x[i] + uy * g(rng);
    w[i] = 1.0 / uy;
  }
  std::vector<double> coef(NCOEF), cov(NCOEF * NCOEF), yfit(npts), res(npts), wres(npts);
  double sres = 0.0, wresmax = 0.0;
  int istat = 0;
  auto fit = [&] {
    quorvex::OLSPFIT(npts, x.data(), y.data(), w.data(), NCOEF, xmin, xmax, coef.data(),
                     cov.data(), sres, yfit.data(), res.data(), wres.data(), wresmax, istat);
  };
  for (auto _ : state) {
    if constexpr (NewThread) {
      std::thread(fit).join();
    } else {
      fit();
    }
    benchmark::DoNotOptimize(coef.data());
    benchmark::ClobberMemory();
  }
  if (istat != 0) state.SkipWithError("OLSPFIT failed");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(npts));
  state.SetComplexityN(npts);
}

#define QUORVEX_OLSPFIT_BENCH(n)                                                   \
  BENCHMARK_TEMPLATE(BM_Olspfit, n)                                                \
      ->Name("Olspfit/ncoef:" #n)                                                  \
      ->ArgName("npts")                                                            \
      ->Arg(1000)                                                                  \
      ->Arg(100000)                                                                \
      ->Arg(1000000)                                                               \
      ->Unit(benchmark::kMillisecond)                                              \
      ->Complexity(benchmark::oN)

QUORVEX_OLSPFIT_BENCH(2);
QUORVEX_OLSPFIT_BENCH(4);
QUORVEX_OLSPFIT_BENCH(10);

BENCHMARK_TEMPLATE(BM_Olspfit, 10, true)
    ->Name("Olspfit/new_thread/ncoef:10")
    ->ArgName("npts")
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
