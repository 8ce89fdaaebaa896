// One whole generalized fit (start, minimization, covariance) on
// errors-in-variables data with realistic x and y uncertainties.
//   build/bench/quorvex_bench --benchmark_filter=GLSPFIT
// Time per point should stay flat as the number of points grows.
// BM_GLSPFIT_NewThread runs each fit on a new thread, which holds no kept
// workspace: against BM_GLSPFIT (every fit on the same thread) it shows what
// keeping the workspace saves (allocation and first touch of every page).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "curve/polyeval.h"
#include "gls/glspfit.h"
#include "numeric/trpack.h"

namespace {

template <bool NewThread>
void glspfit_bench(benchmark::State& state) {
  const int npts = static_cast<int>(state.range(0));
  const int ncoef = static_cast<int>(state.range(1));
  const double xmin = 0.0, xmax = 10.0;
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g(0.0, 1.0);
  std::vector<double> coef(ncoef);
  for (int k = 0; k < ncoef; ++k) coef[k] = k == 0 ? 4.0 : (k == 1 ? 3.0 : 0.3 / k);
  std::vector<double> xt(npts), yt(npts), x(npts), y(npts), wx(npts), wy(npts);
  for (int i = 0; i < npts; ++i) xt[i] = xmin + (xmax - xmin) * (0.1 + 0.8 * (i + u(rng)) / npts);
  int istat = 0;
  quorvex::POLYEVAL(ncoef, coef.data(), npts, xt.data(), xmin, xmax, yt.data(), istat);
  for (int i = 0; i < npts; ++i) {
    const double sx = 0.02 * (0.5 + u(rng)), sy = 0.05 * (0.5 + u(rng));
    x[i] = xt[i] + sx * g(rng);
    y[i] = yt[i] + sy * g(rng);
    wx[i] = 1.0 / sx;
    wy[i] = 1.0 / sy;
  }
  const std::size_t n = npts, m = ncoef;
  std::vector<double> param(n + m), cov(m * m), yfit(n), res(2 * n), wres(2 * n), r11(n),
      r12(n * m), r22(quorvex::packed_size(m)), rinfo(4);
  const double tol[2] = {1e-10, 1e-10};
  double sres = 0, wresmax = 0;
  int olstat = 0, st[3] = {0, 0, 0};
  auto fit = [&] {
    quorvex::GLSPFIT({npts, x.data(), y.data(), wx.data(), wy.data()}, ncoef, xmin, xmax,
                     {tol, 100, 0.1},
                     {param.data(), cov.data(), sres, yfit.data(), res.data(), wres.data(),
                      wresmax, {r11.data(), r12.data(), r22.data()}, rinfo.data(), olstat, st});
  };
  for (auto _ : state) {
    if constexpr (NewThread) {
      std::thread(fit).join();
    } else {
      fit();
    }
    benchmark::DoNotOptimize(param.data());
  }
  state.counters["status"] = st[0];
  state.counters["iterations"] = st[1];
  state.counters["evaluations"] = st[2];
  // Seconds per point of one whole fit.
  state.counters["time_per_point"] = benchmark::Counter(
      static_cast<double>(npts),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(state.iterations() * npts);
}

void BM_GLSPFIT(benchmark::State& state) { glspfit_bench<false>(state); }
void BM_GLSPFIT_NewThread(benchmark::State& state) { glspfit_bench<true>(state); }

BENCHMARK(BM_GLSPFIT)
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {3, 6}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_GLSPFIT_NewThread)
    ->ArgsProduct({{100000, 1000000}, {3}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
